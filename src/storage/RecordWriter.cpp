// The recorded readings' writer thread.
#include "RecordWriter.h"

#include "Database.h"
#include "ErrorLog.h"
#include "PendingSpill.h"
#include "Statements.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <sys/stat.h>
#include <vector>

namespace zeva {

using Clock = std::chrono::steady_clock;

namespace {

// Items in one transaction; the write lock is taken first, so the look-ups and inserts see one
// state. Throws the database's error after a rollback.
template <typename Items, typename ItemOf> void writeItems(TDatabase& db, const Items& items, ItemOf itemOf)
{
    db.Exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        for (const auto& element : items) {
            const TPendingItem& item = itemOf(element);
            if (const auto* r = std::get_if<TRecordRow>(&item)) {
                InsertRecord(db, LookupEnabledId(db, r->address), r->when, r->live, r->blackBox);
                continue;
            }
            const TJournalEntry& j = std::get<TJournalEntry>(item);
            if (j.what == TJournalEntry::What::Clear)
                ClearJournal(db, j.address, j.kind, j.when);
            else
                InsertJournal(db, j);
        }
        db.Exec(QStringLiteral("COMMIT"));
    } catch (const EDatabaseError&) {
        try {
            db.Exec(QStringLiteral("ROLLBACK"));
        } catch (const EDatabaseError&) {
            db.Close(); // a connection in an unknown state is opened afresh
        }
        throw;
    }
}

} // namespace

TRecordWriter::TRecordWriter(QString dataPath, TReport report, TOptions options)
    : m_dataPath(std::move(dataPath)), m_report(std::move(report)), m_options(options),
      m_pendingFile(PendingFileFor(m_dataPath))
{
}

TRecordWriter::~TRecordWriter()
{
    if (m_thread.joinable())
        Stop(std::chrono::milliseconds(1000));
}

void TRecordWriter::Start(TDatabase* db)
{
    if (m_thread.joinable())
        return;
    takeBackPending(db);
    m_thread = std::thread([this] { run(); });
}

void TRecordWriter::takeBackPending(TDatabase* db)
{
    QString error;
    const std::vector<TPendingItem> items = ReadPending(m_pendingFile, &error);
    if (!error.isEmpty()) {
        LogError(QStringLiteral("%1：%2").arg(m_pendingFile, error));
        // Kept aside, not overwritten at the next stop: what it holds is the operator's to judge.
        if (items.empty() && QFile::exists(m_pendingFile) && !QFileInfo(m_pendingFile).isDir()) {
            const QString aside = m_pendingFile + QStringLiteral(".unread-") +
                                  QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
            if (QFile::rename(m_pendingFile, aside))
                LogError(QStringLiteral("已改名为 %1").arg(aside));
        }
        error.clear();
    }
    if (!items.empty() && db) {
        // Written now, in one transaction, before the caller reads the open alarms and polls; the
        // file is emptied right after.
        try {
            writeItems(*db, items, [](const TPendingItem& item) -> const TPendingItem& { return item; });
            QString cleared;
            if (ClearPending(m_pendingFile, &cleared))
                LogError(QStringLiteral("上次结束时暂存的记录已写入数据库：%1 条").arg(items.size()));
            else
                LogError(QStringLiteral("无法清空 %1：%2（下次启动时其中的记录会再写一次）").arg(m_pendingFile, cleared));
            if (!ReservePending(m_pendingFile, m_options.pendingReserve, &error))
                LogError(QStringLiteral("无法为 %1 预留空间：%2").arg(m_pendingFile, error));
            return;
        } catch (const EDatabaseError& e) {
            LogError(QStringLiteral("上次结束时暂存的记录现在不能写入（%1）：排在新读数之前等待").arg(QString::fromUtf8(e.what())));
        }
    }
    if (items.empty()) {
        if (!ReservePending(m_pendingFile, m_options.pendingReserve, &error))
            LogError(QStringLiteral("无法为 %1 预留空间：%2（程序结束时若数据库不能写入，等待的读数将丢失）")
                         .arg(m_pendingFile, error));
        return;
    }
    // Before anything posted: they are older, and keep their own times.
    std::lock_guard lock(m_mutex);
    std::deque<TQueued> queue;
    for (const TPendingItem& item : items)
        queue.push_back(TQueued{0, Clock::now(), item});
    queue.insert(queue.end(), m_queue.begin(), m_queue.end());
    for (TQueued& q : queue)
        q.seq = m_nextSeq++;
    m_pendingUpTo = queue[items.size() - 1].seq;
    m_queue = std::move(queue);
    LogError(QStringLiteral("上次结束时暂存的 %1 条记录（%2）先于新读数写入数据库").arg(items.size()).arg(m_pendingFile));
}

void TRecordWriter::keepPending()
{
    std::vector<TPendingItem> items;
    std::size_t readings = 0;
    {
        std::lock_guard lock(m_mutex);
        for (const TQueued& q : m_queue) {
            items.push_back(q.item);
            readings += std::holds_alternative<TRecordRow>(q.item) ? 1 : 0;
        }
    }
    if (items.empty())
        return;
    QString error;
    const std::size_t kept = WritePending(m_pendingFile, items, &error);
    m_lost = items.size() - kept;
    if (kept == items.size())
        LogError(QStringLiteral("程序结束时 %1 条读数（及 %2 条报警记录）未能写入数据库，已暂存到 %3，下次启动时写入")
                     .arg(readings)
                     .arg(items.size() - readings)
                     .arg(m_pendingFile));
    else
        LogError(QStringLiteral("程序结束时 %1 条记录（读数及报警记录）未能写入数据库，%2 条已暂存到 %3，%4 条也未能暂存（%5）：已丢失")
                     .arg(items.size())
                     .arg(kept)
                     .arg(m_pendingFile)
                     .arg(m_lost)
                     .arg(error));
}

void TRecordWriter::Post(TRecordRow row)
{
    push(std::move(row));
}

void TRecordWriter::Post(TJournalEntry entry)
{
    push(std::move(entry));
}

void TRecordWriter::push(std::variant<TRecordRow, TJournalEntry> item)
{
    bool sayDropped = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= m_options.capacity) {
            // The oldest reading goes; journal entries stay (few, and an alarm must not be lost).
            auto oldest = std::find_if(m_queue.begin(), m_queue.end(),
                                       [](const TQueued& q) { return std::holds_alternative<TRecordRow>(q.item); });
            if (oldest != m_queue.end()) {
                m_queue.erase(oldest);
                ++m_dropped;
                sayDropped = !m_droppedSaid;
                m_droppedSaid = true;
            }
        }
        m_queue.push_back(TQueued{m_nextSeq++, Clock::now(), std::move(item)});
    }
    m_wake.notify_all();
    if (sayDropped && m_report)
        m_report({TEvent::Kind::Dropped, {}, m_options.capacity});
}

std::size_t TRecordWriter::Stop(std::chrono::milliseconds limit)
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_deadline = Clock::now() + limit;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
        keepPending();
    }
    return Pending();
}

std::size_t TRecordWriter::Pending() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

void TRecordWriter::run()
{
    static std::atomic<int> serial{0};
    // Its own connection: a connection belongs to the thread that opened it.
    TConnection c{TDatabase(QStringLiteral("RecordWriter%1").arg(++serial), m_options.busyTimeoutMs), {}};
    std::vector<TQueued> batch;
    QString lastError;
    while (nextBatch(batch)) {
        QString error;
        TDatabaseFault fault = TDatabaseFault::Other;
        try {
            writeBatch(c, batch);
        } catch (const EDatabaseError& e) {
            error = QString::fromUtf8(e.what());
            fault = e.Fault();
        }
        if (error.isEmpty()) {
            written(batch);
            lastError.clear();
            continue;
        }
        failed(batch, error, lastError);
        lastError = error;
        pause(fault == TDatabaseFault::Locked ? m_options.retryLocked : m_options.retryOther);
    }
    c.db.Close();
}

bool TRecordWriter::nextBatch(std::vector<TQueued>& batch)
{
    batch.clear();
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
    if (m_queue.empty() || (m_stopping && Clock::now() >= m_deadline))
        return false;
    std::size_t n = std::min(m_queue.size(), m_options.batch);
    batch.assign(m_queue.begin(), m_queue.begin() + std::ptrdiff_t(n));
    return true;
}

void TRecordWriter::openFile(TConnection& c)
{
    // A file deleted or moved away under the open connection would take the rows with it unseen;
    // one put in its place is opened afresh.
    const QString file = TDatabase::FileFor(m_dataPath);
    struct stat now{};
    if (::stat(file.toLocal8Bit().constData(), &now) != 0) {
        c.db.Close();
        throw EDatabaseError(QStringLiteral("数据库文件 %1 已不存在（被删除或移走）").arg(file).toStdString());
    }
    if (c.db.IsOpen() && (now.st_ino != c.opened.st_ino || now.st_dev != c.opened.st_dev))
        c.db.Close();
    if (!c.db.IsOpen()) {
        if (!c.db.Open(m_dataPath))
            throw EDatabaseError(QStringLiteral("无法打开数据库 %1：%2").arg(file, c.db.OpenError()).toStdString());
        c.opened = now;
    }
}


void TRecordWriter::writeBatch(TConnection& c, const std::vector<TQueued>& batch)
{
    openFile(c);
    writeItems(c.db, batch, [](const TQueued& q) -> const TPendingItem& { return q.item; });
}

void TRecordWriter::written(const std::vector<TQueued>& batch)
{
    const uint64_t last = batch.back().seq;
    std::size_t waiting = 0;
    {
        std::lock_guard lock(m_mutex);
        // Rows dropped meanwhile have left the front already; only the written ones go.
        while (!m_queue.empty() && m_queue.front().seq <= last)
            m_queue.pop_front();
        waiting = m_queue.size();
        m_droppedSaid = false;
    }
    const auto journaled = std::count_if(batch.begin(), batch.end(), [](const TQueued& q) {
        return std::holds_alternative<TJournalEntry>(q.item);
    });
    m_written += batch.size() - std::size_t(journaled);
    if (m_pendingUpTo && last >= *m_pendingUpTo) {
        // Taken back whole: the file is emptied, its space kept for the next stop.
        m_pendingUpTo.reset();
        QString error;
        if (ClearPending(m_pendingFile, &error)) {
            LogError(QStringLiteral("上次结束时暂存的记录已写入数据库"));
            if (!ReservePending(m_pendingFile, m_options.pendingReserve, &error))
                LogError(QStringLiteral("无法为 %1 预留空间：%2").arg(m_pendingFile, error));
        } else
            LogError(QStringLiteral("无法清空 %1：%2（下次启动时其中的记录会再写一次）").arg(m_pendingFile, error));
    }
    if (journaled > 0 && m_report)
        m_report({TEvent::Kind::Journaled, {}, std::size_t(journaled)});
    if (m_report)
        m_report({TEvent::Kind::Stored, {}, batch.size()});
    if (m_failing.exchange(false)) {
        LogError(QStringLiteral("数据库恢复写入，暂存的读数继续写入（尚余 %1 条）").arg(waiting));
        if (m_report)
            m_report({TEvent::Kind::Recovered, {}, batch.size() + waiting});
    }
}

void TRecordWriter::failed(const std::vector<TQueued>& batch, const QString& error, const QString& lastError)
{
    const bool patienceOver = Clock::now() - batch.front().posted >= m_options.patience;
    if (!m_failing && patienceOver) {
        m_failing = true;
        if (m_report)
            m_report({TEvent::Kind::Failing, error, Pending()}); // the owner says it
        else
            LogError(error);
    } else if (m_failing && error != lastError) {
        LogError(error);
    }
}

void TRecordWriter::pause(std::chrono::milliseconds pause)
{
    std::unique_lock lock(m_mutex);
    auto until = Clock::now() + pause;
    if (m_stopping)
        until = std::min(until, m_deadline);
    m_wake.wait_until(lock, until, [this, &until] { return m_stopping && m_deadline < until; });
}

} // namespace zeva
