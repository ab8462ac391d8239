// The forwarder's thread: the station's SQLite read in WAL mode (never holding the program's writer
// up for more than the few milliseconds of a position write), the central PostgreSQL written.
#include "Forwarder.h"

#include "ErrorLog.h"
#include "Statements.h"

#include <QSqlDatabase>
#include <QSqlError>

#include <algorithm>

namespace zeva {

namespace {

// The position's names, per table.
const QString RecordTable = QStringLiteral("ApparatusRecord");
const QString HistoryTable = QStringLiteral("ApparatusHistory");
const QString JournalTable = QStringLiteral("EventJournal");

// A failure of the central side (unreachable, refused), told from one of the station's database.
struct ECentral : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// `body` in one central transaction; any failure in it is the central side's.
template <typename F> void inCentralTransaction(QSqlDatabase& central, F body)
{
    try {
        if (!central.transaction())
            throw EDatabaseError(central.lastError().text().toStdString());
        body();
        if (!central.commit())
            throw EDatabaseError(central.lastError().text().toStdString());
    } catch (const std::exception& e) {
        if (central.isOpen()) // a connection the server ended has nothing to roll back
            central.rollback();
        throw ECentral(e.what());
    }
}

TQueryResult rowsOf(const TQueryResult& like, std::vector<QVariantList> rows)
{
    return TQueryResult(like.columns(), std::move(rows));
}

} // namespace

TForwarder::TForwarder(QString dataPath, TCentralConfig config, TReport report, TOptions options)
    : m_dataPath(std::move(dataPath)), m_config(std::move(config)), m_report(std::move(report)), m_options(options)
{
}

TForwarder::~TForwarder()
{
    Stop(std::chrono::hours(24)); // the thread uses this object: it must end first
}

void TForwarder::Start()
{
    m_thread = std::thread([this] { run(); });
}

bool TForwarder::Stop(std::chrono::milliseconds patience)
{
    if (!m_thread.joinable())
        return true;
    {
        std::unique_lock lock(m_mutex);
        m_stop = true;
        m_wake.notify_all();
        if (!m_wake.wait_for(lock, patience, [this] { return m_ended; })) {
            m_report = nullptr; // nobody listens any more
            m_thread.detach();
            return false;
        }
    }
    m_thread.join();
    return true;
}

void TForwarder::Wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wake.notify_all();
}

TForwarder::TStatus TForwarder::Status() const
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

QString TForwarder::StatusText(const TStatus& status)
{
    switch (status.state) {
    case TState::Synced: return QStringLiteral("中心库：已同步");
    case TState::Backlog: return QStringLiteral("中心库：积压 %1 行").arg(status.backlog);
    case TState::Unreachable: return QStringLiteral("中心库：不可达");
    }
    return {};
}

void TForwarder::setStatus(TState state, qint64 backlog, const QString& error)
{
    TReport report;
    TStatus now;
    {
        std::lock_guard lock(m_mutex);
        if (m_status.state != state)
            report = m_report;
        m_status = {state, backlog, error};
        now = m_status;
    }
    if (report)
        report(now);
}

void TForwarder::wait(std::chrono::milliseconds time)
{
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, time, [this] { return m_stop || m_woken; });
    m_woken = false;
}

void TForwarder::run()
{
    const QString suffix = QString::number(reinterpret_cast<quintptr>(this), 16);
    const QString centralName = QStringLiteral("central-") + suffix;
    {
        // Its own connection to the station's database; a short busy wait, retried in the loop.
        TDatabase local(QStringLiteral("forwarder-") + suffix, 200);
        QSqlDatabase central;
        bool localReady = false;
        QString localTrouble; // said once, not at every retry
        qint64 databaseKey = 0;
        auto backoff = m_options.backoffFirst;
        for (;;) {
            {
                std::lock_guard lock(m_mutex);
                if (m_stop)
                    break;
            }
            try {
                if (!localReady) {
                    databaseKey = openLocal(local);
                    localReady = true;
                }
                if (!central.isOpen())
                    central = connectCentral(centralName, databaseKey);
                // Nothing committed by the program since all was sent: no pass (it would only read).
                const qint64 version = DataVersion(local);
                if (version == m_syncedAt && m_maintainedOn == QDateTime::currentDateTimeUtc().date()) {
                    wait(m_options.idle);
                    continue;
                }
                const bool sent = forwardOnce(local, central);
                backoff = m_options.backoffFirst;
                localTrouble.clear();
                m_syncedAt = Status().state == TState::Synced ? version : -1;
                if (!sent)
                    wait(m_options.idle);
            } catch (const ECentral& e) {
                if (central.isOpen())
                    central.close();
                qint64 waiting = 0;
                try {
                    waiting = backlog(local);
                } catch (const EDatabaseError&) {
                }
                setStatus(TState::Unreachable, waiting, QString::fromUtf8(e.what()));
                wait(backoff);
                backoff = std::min(backoff * 2, m_options.backoffLast);
            } catch (const std::exception& e) {
                // The station's own database is busy or away for now: the next pass tries again.
                const QString trouble = QString::fromUtf8(e.what());
                if (trouble != localTrouble)
                    LogError(QStringLiteral("中心库转发：本站数据库：") + trouble);
                localTrouble = trouble;
                wait(m_options.backoffFirst);
            }
        }
        if (central.isOpen())
            central.close();
        central = QSqlDatabase();
    }
    QSqlDatabase::removeDatabase(centralName);
    std::lock_guard lock(m_mutex);
    m_ended = true;
    m_wake.notify_all();
}

qint64 TForwarder::openLocal(TDatabase& local)
{
    if (!local.Open(m_dataPath))
        throw EDatabaseError(local.OpenError().toStdString());
    EnsureForwardPosition(local);
    EnsureEventJournal(local); // an older database may not have it yet
    // A position lost in a power cut sends a batch again, which the central key ignores.
    UseLazyCommits(local);
    return ForwardDatabaseKey(local);
}

QSqlDatabase TForwarder::connectCentral(const QString& name, qint64 databaseKey)
{
    QSqlDatabase central;
    try {
        central = OpenCentral(name, m_config);
        EnsureCentralSchema(central);
        UpsertStation(central, m_config.station, databaseKey);
    } catch (const std::exception& e) {
        if (central.isOpen())
            central.close();
        throw ECentral(e.what());
    }
    // Nothing is known of a server met anew.
    m_partitions.clear();
    m_maintainedOn = {};
    m_registryKnown = m_openKnown = false;
    m_registry.clear();
    m_openJournal.clear();
    m_watchedSent = false;
    m_syncedAt = -1;
    LogError(QStringLiteral("中心库：已连接 %1（站点 %2）").arg(m_config.host, m_config.station));
    return central;
}

qint64 TForwarder::backlog(TDatabase& local)
{
    const TLastIds last = LastIds(local);
    return std::max<qint64>(0, last.records - ReadForwardPosition(local, RecordTable)) +
           std::max<qint64>(0, last.history - ReadForwardPosition(local, HistoryTable)) +
           std::max<qint64>(0, last.journal - ReadForwardPosition(local, JournalTable));
}

bool TForwarder::forwardOnce(TDatabase& local, QSqlDatabase& central)
{
    maintain(central);
    // The registry first: a reading's or an entry's instrument is there before it.
    forwardRegistry(local, central);
    const int sent[] = {forwardRecords(local, central), forwardHistory(local, central), forwardJournal(local, central)};
    // Rows stored while this pass ran are no backlog: only a full batch says more was waiting.
    const bool more = std::any_of(std::begin(sent), std::end(sent), [this](int n) { return n >= m_options.batch; });
    setStatus(more ? TState::Backlog : TState::Synced, backlog(local), {});
    return std::any_of(std::begin(sent), std::end(sent), [](int n) { return n > 0; });
}

void TForwarder::maintain(QSqlDatabase& central)
{
    const QDate today = QDateTime::currentDateTimeUtc().date();
    if (m_maintainedOn == today)
        return;
    try {
        // Made ahead: the first reading of a month does not wait for its partition.
        for (const QDate month : {today, today.addMonths(1)})
            m_partitions.insert(EnsureMonthPartition(central, month));
        if (m_config.retentionMonths > 0) {
            const QDate from = today.addMonths(-m_config.retentionMonths);
            m_retainedFrom = QDate(from.year(), from.month(), 1);
            for (const QString& name : DropPartitionsBefore(central, m_retainedFrom)) {
                m_partitions.erase(name);
                LogError(QStringLiteral("中心库：保留 %1 个月，已删除分区 %2").arg(m_config.retentionMonths).arg(name));
            }
        }
    } catch (const std::exception& e) {
        throw ECentral(e.what());
    }
    m_maintainedOn = today;
}

void TForwarder::forwardRegistry(TDatabase& local, QSqlDatabase& central)
{
    const TQueryResult all = SelectApparatus(local);
    const int idAt = int(all.columns().indexOf(Column::ID));
    std::map<qint64, QVariantList> now;
    std::vector<QVariantList> changed;
    for (const QVariantList& row : all.rows()) {
        const qint64 id = row.value(idAt).toLongLong();
        auto known = m_registry.find(id);
        if (known == m_registry.end() || known->second != row)
            changed.push_back(row);
        now.emplace(id, row);
    }
    bool removed = !m_registryKnown;
    for (const auto& entry : m_registry)
        removed = removed || !now.count(entry.first);
    if (changed.empty() && !removed)
        return;
    inCentralTransaction(central, [&] {
        UpsertApparatus(central, m_config.station, rowsOf(all, std::move(changed)));
        if (removed) {
            std::vector<qint64> present;
            for (const auto& entry : now)
                present.push_back(entry.first);
            MarkRemovedApparatus(central, m_config.station, present);
        }
    });
    m_registry = std::move(now);
    m_registryKnown = true;
}

int TForwarder::forwardRecords(TDatabase& local, QSqlDatabase& central)
{
    // Readings older than the retention are not sent: their partitions are gone for good.
    const TRecordBatch batch = SelectRecordBatchAfter(local, ReadForwardPosition(local, RecordTable), m_options.batch,
                                                      m_retainedFrom.isValid() ? m_retainedFrom.toString(Qt::ISODate) : QString());
    if (batch.read == 0)
        return 0;
    try {
        // Each month the batch touches has its partition first (outside the batch's transaction).
        for (const QString& month : batch.months) {
            const QDate first = QDate::fromString(month + QStringLiteral("-01"), Qt::ISODate);
            if (first.isValid() && !m_partitions.count(MonthPartitionName(first)))
                m_partitions.insert(EnsureMonthPartition(central, first));
        }
    } catch (const std::exception& e) {
        throw ECentral(e.what());
    }
    if (batch.kept > 0)
        inCentralTransaction(central, [&] { InsertRecords(central, m_config.station, batch); });
    // Only now: a kill before this line sends the batch again, and the central key ignores it.
    WriteForwardPosition(local, RecordTable, batch.last);
    m_forwarded += uint64_t(batch.read);
    return batch.read;
}

int TForwarder::forwardHistory(TDatabase& local, QSqlDatabase& central)
{
    qint64 position = ReadForwardPosition(local, HistoryTable);
    // The history window can delete the newest writes, and SQLite then gives their IDs again: when
    // the row at the position is no longer the one sent, everything is sent again (the central rows
    // are brought up to date, the unchanged ones untouched).
    if (position > 0) {
        const TQueryResult atPosition = SelectHistoryAfter(local, position - 1, 1);
        const QVariantList tip = atPosition.rows().empty() || atPosition.rows().front().value(0).toLongLong() != position
                                     ? QVariantList{}
                                     : atPosition.rows().front();
        if (m_historyTip.first != position)
            m_historyTip = {position, tip}; // not sent by this run: taken as it is
        else if (m_historyTip.second != tip) {
            LogError(QStringLiteral("中心库：参数历史的最新记录已删除或替换，重新发送全部参数历史"));
            position = 0;
            WriteForwardPosition(local, HistoryTable, 0);
            m_historyTip = {0, {}}; // said once, even when nothing is left to send
        }
    }
    const TQueryResult rows = SelectHistoryAfter(local, position, m_options.batch);
    if (rows.rows().empty())
        return 0;
    inCentralTransaction(central, [&] { InsertHistoryRows(central, m_config.station, rows); });
    WriteForwardPosition(local, HistoryTable, rows.rows().back().value(0).toLongLong());
    m_historyTip = {rows.rows().back().value(0).toLongLong(), rows.rows().back()};
    return int(rows.rows().size());
}

int TForwarder::forwardJournal(TDatabase& local, QSqlDatabase& central)
{
    // An alarm's row changes after it is sent (cleared, acknowledged). The central database says
    // which of the station's alarms it holds open, once per connection; those are watched from then.
    const qint64 position = ReadForwardPosition(local, JournalTable);
    if (!m_openKnown) {
        try {
            for (qint64 id : SelectOpenJournal(central, m_config.station))
                if (id <= position)
                    m_openJournal.emplace(id, QVariantList{});
        } catch (const std::exception& e) {
            throw ECentral(e.what());
        }
        m_openKnown = true;
    }
    std::vector<QVariantList> send;
    // The watched rows are read again only when some alarm up to the same position was cleared or
    // acknowledged since (counted before they are read: a change after the count shows next time).
    const std::pair<qint64, qint64> changeable = CountChangeableAlarms(local, position);
    if (!m_openJournal.empty() && (changeable != m_changeable || position != m_changeableAt || !m_watchedSent)) {
        std::vector<qint64> ids;
        ids.reserve(m_openJournal.size());
        for (const auto& entry : m_openJournal)
            ids.push_back(entry.first);
        const TQueryResult open = SelectJournalRows(local, ids);
        std::map<qint64, QVariantList> watched;
        for (const QVariantList& row : open.rows()) {
            auto& sentAs = watched[row.value(0).toLongLong()] = std::move(m_openJournal[row.value(0).toLongLong()]);
            if (sentAs != row)
                send.push_back(row);
        }
        m_openJournal = std::move(watched); // a row the station no longer has is not watched
    }
    const TQueryResult fresh = SelectJournalAfter(local, position, m_options.batch);
    send.insert(send.end(), fresh.rows().begin(), fresh.rows().end());
    if (!send.empty())
        inCentralTransaction(central, [&] { UpsertJournal(central, m_config.station, rowsOf(fresh, send)); });
    m_changeable = changeable;
    m_changeableAt = position;
    m_watchedSent = true;
    if (!fresh.rows().empty())
        WriteForwardPosition(local, JournalTable, fresh.rows().back().value(0).toLongLong());
    // Watched from now on: the alarms still to be cleared or acknowledged, as they were sent.
    for (const QVariantList& row : send) {
        const bool open = row.value(3).toString().startsWith(QLatin1String("alarm.")) &&
                          (row.value(6).isNull() || row.value(7).isNull());
        if (open)
            m_openJournal[row.value(0).toLongLong()] = row;
        else
            m_openJournal.erase(row.value(0).toLongLong());
    }
    return int(fresh.rows().size());
}

} // namespace zeva
