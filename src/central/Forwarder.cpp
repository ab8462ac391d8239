// The forwarder's thread: the station's SQLite read in WAL mode (never holding the program's writer
// up for more than the few milliseconds of a position write), the central PostgreSQL written.
#include "Forwarder.h"

#include "ErrorLog.h"
#include "Statements.h"

#include <QSqlDatabase>
#include <QSqlError>

namespace zeva {

namespace {

const QString RecordTable = QStringLiteral("ApparatusRecord");

// A failure of the central side (unreachable, refused), told from one of the station's database.
struct ECentral : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace

TForwarder::TForwarder(QString dataPath, TCentralConfig config, TReport report, TOptions options)
    : m_dataPath(std::move(dataPath)), m_config(std::move(config)), m_report(std::move(report)), m_options(options)
{
}

TForwarder::~TForwarder()
{
    Stop();
}

void TForwarder::Start()
{
    m_thread = std::thread([this] { run(); });
}

void TForwarder::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
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
    bool changed;
    TStatus now;
    {
        std::lock_guard lock(m_mutex);
        changed = m_status.state != state;
        m_status = {state, backlog, error};
        now = m_status;
    }
    if (changed && m_report)
        m_report(now);
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
        auto backoff = m_options.backoffFirst;
        for (;;) {
            {
                std::lock_guard lock(m_mutex);
                if (m_stop)
                    break;
            }
            try {
                if (!localReady) {
                    if (!local.Open(m_dataPath))
                        throw EDatabaseError(local.OpenError().toStdString());
                    EnsureForwardPosition(local);
                    localReady = true;
                }
                if (!central.isOpen()) {
                    try {
                        central = OpenCentral(centralName, m_config);
                        EnsureCentralSchema(central);
                        UpsertStation(central, m_config.station);
                    } catch (const std::exception& e) {
                        throw ECentral(e.what());
                    }
                    m_partitions.clear();
                    LogError(QStringLiteral("中心库：已连接 %1（站点 %2）").arg(m_config.host, m_config.station));
                }
                const bool sent = forwardOnce(local, central);
                backoff = m_options.backoffFirst;
                if (!sent)
                    wait(m_options.idle);
            } catch (const ECentral& e) {
                if (central.isOpen())
                    central.close();
                qint64 backlog = 0;
                try {
                    backlog = LastRecordId(local) - ReadForwardPosition(local, RecordTable);
                } catch (const EDatabaseError&) {
                }
                if (Status().state != TState::Unreachable)
                    LogError(QStringLiteral("中心库：不可达：") + QString::fromUtf8(e.what()));
                setStatus(TState::Unreachable, backlog, QString::fromUtf8(e.what()));
                wait(backoff);
                backoff = std::min(backoff * 2, m_options.backoffLast);
            } catch (const std::exception& e) {
                // The station's own database is busy or away for now: the next pass tries again.
                LogError(QStringLiteral("中心库转发：本站数据库：") + QString::fromUtf8(e.what()));
                wait(m_options.backoffFirst);
            }
        }
        if (central.isOpen())
            central.close();
        central = QSqlDatabase();
    }
    QSqlDatabase::removeDatabase(centralName);
}

bool TForwarder::forwardOnce(TDatabase& local, QSqlDatabase& central)
{
    const qint64 position = ReadForwardPosition(local, RecordTable);
    const TQueryResult rows = SelectRecordsAfter(local, position, m_options.batch);
    if (rows.rows().empty()) {
        setStatus(TState::Synced, 0, {});
        return false;
    }
    const qint64 last = rows.rows().back().value(0).toLongLong();
    try {
        // Each month the batch touches has its partition first (made ahead, outside the batch).
        for (const QVariantList& row : rows.rows()) {
            const QDate day = QDate::fromString(row.value(2).toString().left(10), Qt::ISODate);
            if (day.isValid() && m_partitions.insert(MonthPartitionName(day)).second)
                EnsureMonthPartition(central, day);
        }
        if (!central.transaction())
            throw EDatabaseError(central.lastError().text().toStdString());
        InsertRecords(central, m_config.station, rows);
        if (!central.commit())
            throw EDatabaseError(central.lastError().text().toStdString());
    } catch (const std::exception& e) {
        central.rollback();
        m_partitions.clear(); // a partition made in a transaction that failed may not be there
        throw ECentral(e.what());
    }
    // Only now: a kill before this line sends the batch again, and the central key ignores it.
    WriteForwardPosition(local, RecordTable, last);
    m_forwarded += uint64_t(rows.rows().size());
    const qint64 backlog = std::max<qint64>(0, LastRecordId(local) - last);
    setStatus(backlog > 0 ? TState::Backlog : TState::Synced, backlog, {});
    return true;
}

} // namespace zeva
