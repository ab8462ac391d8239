// The forwarder's thread: the station's SQLite read in WAL mode (never holding the program's writer
// up for more than the few milliseconds of a position write), the central PostgreSQL written.
#include "Forwarder.h"

#include "CentralSchema.h"
#include "ErrorLog.h"

#include <QDateTime>

#include <algorithm>

namespace zeva {

namespace {

// The station's copy of the positions, per table (its names).
const QString RecordTable = QStringLiteral("ApparatusRecord");
const QString HistoryTable = QStringLiteral("ApparatusHistory");
const QString JournalTable = QStringLiteral("EventJournal");

const QString& localName(const std::string& central)
{
    return central == CentralTable::Records ? RecordTable : central == CentralTable::History ? HistoryTable : JournalTable;
}

TQueryResult rowsOf(const TQueryResult& like, std::vector<QVariantList> rows)
{
    return TQueryResult(like.columns(), std::move(rows));
}

} // namespace

TForwarder::TForwarder(QString dataPath, TCentralConfig config, TReport report, TOptions options)
    : m_dataPath(std::move(dataPath)), m_config(std::move(config)), m_report(std::move(report)), m_options(std::move(options))
{
    if (m_config.station.contains(QChar(0))) {
        m_notes.Note(QStringLiteral("Data.ini [Central] Station"), 0, m_config.station,
                     QStringLiteral("含 NUL 字符，PostgreSQL 的文本不能存放：已删去"));
        m_config.station.remove(QChar(0));
    }
    m_copyStation = CopyField(m_config.station);
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

void TForwarder::step(std::string_view name) const
{
    if (m_options.onStep)
        m_options.onStep(name);
}

void TForwarder::wait(std::chrono::milliseconds time, bool wakeable)
{
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, time, [&] { return m_stop || (wakeable && m_woken); });
    m_woken = false;
}

void TForwarder::run()
{
    const QString suffix = QString::number(reinterpret_cast<quintptr>(this), 16);
    {
        // Its own connection to the station's database; a short busy wait, retried in the loop.
        TDatabase local(QStringLiteral("forwarder-") + suffix, 200);
        m_prefetch = std::make_unique<TRecordPrefetch>(m_dataPath, m_options.batch);
        bool localReady = false;
        QString localTrouble, centralTrouble; // each said once, not at every retry
        qint64 databaseKey = 0;
        auto backoff = m_options.backoffFirst;
        while (!m_stop) {
            try {
                if (!localReady) {
                    databaseKey = openLocal(local);
                    localReady = true;
                }
                if (!m_central || !m_central->Usable())
                    connectCentral(local, databaseKey);
                // Nothing committed by the program since all was sent: no pass (it would only read).
                const qint64 version = DataVersion(local);
                if (version == m_syncedAt && m_maintainedOn == QDateTime::currentDateTimeUtc().date()) {
                    fillHourSums();
                    wait(m_options.idle);
                    continue;
                }
                // Never 已同步 while rows wait, even while a server takes its time over them (an
                // unreachable state stays until a pass gets through).
                if (const qint64 waiting = backlog(local); waiting > 0 && Status().state == TState::Synced)
                    setStatus(TState::Backlog, waiting, {});
                const bool sentSome = forwardOnce(local);
                const qint64 waiting = backlog(local);
                setStatus(waiting > 0 ? TState::Backlog : TState::Synced, waiting, {});
                m_syncedAt = waiting > 0 ? -1 : version;
                backoff = m_options.backoffFirst;
                localTrouble.clear();
                centralTrouble.clear();
                m_connectedSaid = false; // the next connection is news again
                if (!sentSome || waiting == 0) {
                    fillHourSums();
                    wait(m_options.idle);
                }
            } catch (const EPgStopped&) {
                break;
            } catch (const EPgError& e) {
                if (!m_central)
                    m_connectedSaid = false; // no connection: the one that follows is news
                m_central.reset();
                const QString why = e.TimedOut() ? QStringLiteral("服务器无应答") : QString::fromUtf8(e.what());
                // Said once while it stays the same (its details may name another row each time).
                if (QString::fromUtf8(e.Primary().c_str()) != centralTrouble)
                    LogError(QStringLiteral("中心库：") + QString::fromUtf8(e.what()) +
                             (e.TimedOut() ? QStringLiteral("，连接已放弃，稍后重连") : QString()));
                centralTrouble = QString::fromUtf8(e.Primary().c_str());
                qint64 waiting = 0;
                try {
                    waiting = localReady ? backlog(local) : 0;
                } catch (const EDatabaseError&) {
                }
                setStatus(TState::Unreachable, waiting, why);
                wait(backoff, false); // new rows do not cut the back-off short
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
        m_central.reset();
        m_prefetch.reset();
    }
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
    EnsureHistoryOperator(local);
    // The station's positions are a copy: one lost in a power cut is read again centrally.
    UseLazyCommits(local);
    return ForwardDatabaseKey(local);
}

void TForwarder::connectCentral(TDatabase& local, qint64 databaseKey)
{
    m_central.reset();
    // Its key's index takes at most about 2700 bytes a row: a longer name could never be stored.
    if (m_config.station.toUtf8().size() > MaxStationBytes)
        throw EPgError(QStringLiteral("站点名超过 %1 字节（UTF-8），中心库存不下：请在 Data.ini 的 [Central] 中另取短一些的 Station 名")
                           .arg(MaxStationBytes)
                           .toStdString(),
                       {}, false);
    TPgLimits limits;
    limits.connect = m_options.connectLimit;
    limits.statement = m_options.statementLimit;
    limits.stopAsked = [this] { return m_stop.load(); };
    auto central = std::make_unique<TPgConnection>(m_config.params, limits);
    const QString noHourSums = EnsureCentralSchema(*central);
    if (!noHourSums.isEmpty())
        LogError(QStringLiteral("中心库：不能建立小时汇总（%1）：中心网页按原始记录统计").arg(noHourSums));
    const bool newStation = UpsertStation(*central, m_config.station, databaseKey);
    // The central positions hold. A table they do not name goes on from the station's copy when
    // the station was known (an earlier version kept no central position; a row the server has
    // already is left as it is), and from the start when it is new here (a new or rebuilt central
    // database holds nothing of it).
    const std::map<std::string, qint64> central_ = ReadCentralPositions(*central, m_config.station);
    m_positions.clear();
    for (const std::string& table : {CentralTable::Records, CentralTable::History, CentralTable::Journal}) {
        const qint64 cached = ReadForwardPosition(local, localName(table));
        const auto known = central_.find(table);
        m_positions[table] = known != central_.end() ? known->second : newStation ? 0 : cached;
        if (m_positions[table] != cached)
            WriteForwardPosition(local, localName(table), m_positions[table]);
    }
    if (newStation && central_.empty())
        LogError(QStringLiteral("中心库：站点 %1 在此数据库中是新的，本站的全部记录从头发送").arg(m_config.station));
    m_central = std::move(central);
    // Nothing else is known of a server met anew.
    m_partitions.clear();
    m_maintainedOn = {};
    m_hourSumsKept = noHourSums.isEmpty();
    m_hourSumsFilled = !m_hourSumsKept;
    m_registryKnown = m_openKnown = false;
    m_registry.clear();
    m_openJournal.clear();
    m_watchedSent = false;
    m_syncedAt = -1;
    m_historyTip = {-1, {}};
    // Once, and again after a loss of the server: not at every retry of a failure that follows it.
    if (!m_connectedSaid)
        LogError(QStringLiteral("中心库：已连接 %1（站点 %2）").arg(m_config.Describe(), m_config.station));
    m_connectedSaid = true;
}

qint64 TForwarder::position(const std::string& table) const
{
    const auto known = m_positions.find(table);
    return known == m_positions.end() ? 0 : known->second;
}

void TForwarder::sent(TDatabase& local, const std::string& table, qint64 lastId)
{
    m_positions[table] = lastId;
    WriteForwardPosition(local, localName(table), lastId);
}

qint64 TForwarder::backlog(TDatabase& local)
{
    // Without a connection the station's copy is what is known.
    const auto at = [&](const std::string& table) {
        return m_central ? position(table) : ReadForwardPosition(local, localName(table));
    };
    const TLastIds last = LastIds(local);
    return std::max<qint64>(0, last.records - at(CentralTable::Records)) +
           std::max<qint64>(0, last.history - at(CentralTable::History)) +
           std::max<qint64>(0, last.journal - at(CentralTable::Journal));
}

void TForwarder::followLostRows(TDatabase& local)
{
    // The station's database lost its newest rows (restored from a backup, deleted by hand): SQLite
    // gives their IDs again, to rows that may be there already below the position. Which ones is
    // not known: everything goes again, and a row the central database has is left as it is (the
    // parameter writes and the journal are brought up to date).
    const TLastIds last = LastIds(local);
    for (const auto& [table, lastId] : {std::pair{CentralTable::Records, last.records},
                                        std::pair{CentralTable::History, last.history},
                                        std::pair{CentralTable::Journal, last.journal}}) {
        if (lastId >= position(table))
            continue;
        LogError(QStringLiteral("中心库：%1 已发送到第 %2 行，本站只剩到第 %3 行（数据库曾恢复或删除了最新的记录）：全部重新发送，中心库已有的行不变")
                     .arg(localName(table))
                     .arg(position(table))
                     .arg(lastId));
        WriteCentralPosition(*m_central, m_config.station, table, 0);
        sent(local, table, 0);
    }
}

bool TForwarder::forwardOnce(TDatabase& local)
{
    maintain();
    followLostRows(local);
    // The registry first: a reading's or an entry's instrument is there before it.
    forwardRegistry(local);
    // Readings while full batches come (a backlog), for a while; then the other tables have their turn.
    int records = 0;
    for (int n = m_options.batch; n >= m_options.batch && records < 20 * m_options.batch && !m_stop;)
        records += n = forwardRecords(local);
    const int sentRows[] = {records, forwardHistory(local), forwardJournal(local)};
    return std::any_of(std::begin(sentRows), std::end(sentRows), [](int n) { return n > 0; });
}

void TForwarder::maintain()
{
    const QDate today = QDateTime::currentDateTimeUtc().date();
    if (m_maintainedOn == today)
        return;
    // Made ahead: the first reading of a month does not wait for its partition.
    for (const QDate month : {today, today.addMonths(1)})
        m_partitions.insert(EnsureMonthPartition(*m_central, month));
    if (m_config.retentionMonths > 0) {
        const QDate from = today.addMonths(-m_config.retentionMonths);
        m_retainedFrom = QDate(from.year(), from.month(), 1);
        for (const QString& name : DropPartitionsBefore(*m_central, m_retainedFrom)) {
            m_partitions.erase(name);
            LogError(QStringLiteral("中心库：保留 %1 个月，已删除分区 %2").arg(m_config.retentionMonths).arg(name));
        }
    }
    m_maintainedOn = today;
    // A month made by a station of an older version, if any, is filled in the days that follow.
    m_hourSumsFilled = !m_hourSumsKept;
}

void TForwarder::fillHourSums()
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!m_hourSumsFilled && !m_stop && std::chrono::steady_clock::now() < until) {
        QString why;
        const THourFill step = FillHourSums(*m_central, m_fillChunk, &why);
        if (step == THourFill::Busy)
            break; // asked again the next time there is nothing to send
        m_hourSumsFilled = step != THourFill::Filled;
        // The central web view reads those months' rows meanwhile.
        if (step == THourFill::Failed)
            LogError(QStringLiteral("中心库：不能补算较早月份的小时汇总，本次连接不再补算：") + why);
    }
}

void TForwarder::forwardRegistry(TDatabase& local)
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
    InCentralTransaction(*m_central, [&] {
        UpsertApparatus(*m_central, m_config.station, rowsOf(all, std::move(changed)), m_notes);
        if (removed) {
            std::vector<qint64> present;
            for (const auto& entry : now)
                present.push_back(entry.first);
            MarkRemovedApparatus(*m_central, m_config.station, present);
        }
        return 0;
    });
    m_registry = std::move(now);
    m_registryKnown = true;
}

int TForwarder::forwardRecords(TDatabase& local)
{
    // Readings older than the retention are not sent: their partitions are gone for good.
    TRecordBatch batch = m_prefetch->Next({position(CentralTable::Records),
                                           m_retainedFrom.isValid() ? m_retainedFrom.toString(Qt::ISODate) : QString(),
                                           m_copyStation});
    if (batch.read == 0)
        return 0;
    if (batch.leftOut > 0)
        m_notes.Note(QStringLiteral("ApparatusRecord"), batch.firstLeftOut, QStringLiteral("InDateTime/ApparatusID"),
                     QStringLiteral("没有可用的时间（0001 至 9999 年）或仪表：此行未发送"));
    if (batch.nulled > 0)
        m_notes.Note(QStringLiteral("ApparatusRecord"), batch.firstNulled, QStringLiteral("温度"),
                     QStringLiteral("不是有限数值：以空值发送"));
    if (batch.changed > 0)
        m_notes.Note(QStringLiteral("ApparatusRecord"), batch.firstChanged, QStringLiteral("ApparatusID/InDateTime"),
                     QStringLiteral("不是整数仪表号或规范的时间（如 2026-02-30、儒略日数）：按 SQLite 的换算发送"));
    // Each month the batch touches has its partition first (outside the batch's transaction).
    for (const QString& month : batch.months) {
        const QDate first = QDate::fromString(month + QStringLiteral("-01"), Qt::ISODate);
        if (first.isValid() && !m_partitions.count(MonthPartitionName(first)))
            m_partitions.insert(EnsureMonthPartition(*m_central, first));
    }
    if (batch.kept > 0) {
        CopyRecords(*m_central, m_config.station, batch.lines, batch.last, {}, [this](const char* name) { step(name); });
    } else {
        WriteCentralPosition(*m_central, m_config.station, CentralTable::Records, batch.last);
    }
    step("committed");
    sent(local, CentralTable::Records, batch.last);
    step("cached");
    m_forwarded += uint64_t(batch.read);
    return batch.read;
}

int TForwarder::forwardHistory(TDatabase& local)
{
    qint64 at = position(CentralTable::History);
    // The history window can delete the newest writes, and SQLite then gives their IDs again: when
    // the row at the position is no longer the one sent, everything is sent again (the central rows
    // are brought up to date, the unchanged ones untouched).
    if (at > 0) {
        const TQueryResult atPosition = SelectHistoryAfter(local, at - 1, 1);
        const QVariantList tip = atPosition.rows().empty() || atPosition.rows().front().value(0).toLongLong() != at
                                     ? QVariantList{}
                                     : atPosition.rows().front();
        if (m_historyTip.first != at)
            m_historyTip = {at, tip}; // not sent by this connection: taken as it is
        else if (m_historyTip.second != tip) {
            LogError(QStringLiteral("中心库：参数历史的最新记录已删除或替换，重新发送全部参数历史"));
            at = 0;
            WriteCentralPosition(*m_central, m_config.station, CentralTable::History, 0);
            sent(local, CentralTable::History, 0);
            m_historyTip = {0, {}}; // said once, even when nothing is left to send
        }
    }
    const TQueryResult rows = SelectHistoryAfter(local, at, m_options.batch);
    if (rows.rows().empty())
        return 0;
    const qint64 last = rows.rows().back().value(0).toLongLong();
    InCentralTransaction(*m_central, [&] {
        InsertHistoryRows(*m_central, m_config.station, rows, m_notes);
        WriteCentralPosition(*m_central, m_config.station, CentralTable::History, last);
        return 0;
    });
    sent(local, CentralTable::History, last);
    m_historyTip = {last, rows.rows().back()};
    return int(rows.rows().size());
}

int TForwarder::forwardJournal(TDatabase& local)
{
    // An alarm's row changes after it is sent (cleared, acknowledged). The central database says
    // which of the station's alarms it holds open, once per connection; those are watched from then.
    const qint64 at = position(CentralTable::Journal);
    if (!m_openKnown) {
        for (qint64 id : SelectOpenJournal(*m_central, m_config.station))
            if (id <= at)
                m_openJournal.emplace(id, QVariantList{});
        m_openKnown = true;
    }
    std::vector<QVariantList> send;
    // The watched rows are read again only when some alarm up to the same position was cleared or
    // acknowledged since (counted before they are read: a change after the count shows next time).
    const std::pair<qint64, qint64> changeable = CountChangeableAlarms(local, at);
    if (!m_openJournal.empty() && (changeable != m_changeable || at != m_changeableAt || !m_watchedSent)) {
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
    const TQueryResult fresh = SelectJournalAfter(local, at, m_options.batch);
    send.insert(send.end(), fresh.rows().begin(), fresh.rows().end());
    const qint64 last = fresh.rows().empty() ? at : fresh.rows().back().value(0).toLongLong();
    if (!send.empty())
        InCentralTransaction(*m_central, [&] {
            UpsertJournal(*m_central, m_config.station, rowsOf(fresh, send), m_notes);
            if (last != at)
                WriteCentralPosition(*m_central, m_config.station, CentralTable::Journal, last);
            return 0;
        });
    m_changeable = changeable;
    m_changeableAt = at;
    m_watchedSent = true;
    if (last != at)
        sent(local, CentralTable::Journal, last);
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
