// TForwarder: copies what is new in the station's SQLite database to the central PostgreSQL, on a
// thread of its own with its own connections. Rows go in ID order, in batches; how far each table
// got is written in the central transaction of the rows it covers and read back from there after a
// reconnect, so that a kill at any moment loses nothing and doubles nothing. The station keeps a
// copy of the positions for the backlog it shows while the server is away.
#pragma once

#include "CentralSettings.h"
#include "CentralStatements.h"
#include "PgConnection.h"
#include "RecordPrefetch.h"
#include "Statements.h"

#include <QMetaType>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>

namespace zeva {

class TForwarder {
public:
    enum class TState { Synced, Backlog, Unreachable }; // 已同步, 积压 N 行, 不可达
    struct TStatus {
        TState state = TState::Backlog;
        qint64 backlog = 0; // rows not yet forwarded (readings, parameter writes, journal entries)
        QString error;      // why the server is unreachable
    };
    // Heard on the forwarder's thread at every change of state (the programs journal the server's
    // loss and return).
    using TReport = std::function<void(const TStatus&)>;
    struct TOptions {
        int batch = 10000;
        // The wait for new rows when all is forwarded and nobody wakes the forwarder (rows written
        // by another program, the registry changed).
        std::chrono::milliseconds idle{10000};
        std::chrono::milliseconds backoffFirst{1000}; // after a failure, doubling up to:
        std::chrono::milliseconds backoffLast{60000};
        std::chrono::milliseconds connectLimit{5000};    // a server that takes longer is 无应答
        std::chrono::milliseconds statementLimit{20000};
        // Hears the steps of sending readings ("began", "copied", "positioned", "committed",
        // "cached"): a test ends the process there.
        std::function<void(std::string_view)> onStep;
    };

    TForwarder(QString dataPath, TCentralConfig config, TReport report, TOptions options);
    TForwarder(QString dataPath, TCentralConfig config, TReport report)
        : TForwarder(std::move(dataPath), std::move(config), std::move(report), {})
    {
    }
    ~TForwarder();
    TForwarder(const TForwarder&) = delete;
    TForwarder& operator=(const TForwarder&) = delete;

    void Start();
    // Ends the thread, waiting at most `patience` (it hears the stop within a tenth of a second,
    // whatever the server does); a batch in flight is rolled back by the server and sent again next
    // time. False when the thread did not end in time: it then reports nothing more, and the object
    // must not be destroyed.
    bool Stop(std::chrono::milliseconds patience = std::chrono::seconds(5));
    // New rows were stored: no need to wait for the idle time.
    void Wake();
    TStatus Status() const;
    uint64_t Forwarded() const { return m_forwarded.load(); }

    // "中心库：已同步", "中心库：积压 12 行", "中心库：不可达"
    static QString StatusText(const TStatus& status);
    // The longest station name the central keys hold (UTF-8).
    static constexpr int MaxStationBytes = 1024;

private:
    void run();
    // One pass over every table; true when something was sent.
    bool forwardOnce(TDatabase& local);
    // This month's and next month's partitions, and the retention, once a (UTC) day.
    void maintain();
    void forwardRegistry(TDatabase& local);
    // While nothing waits: a second's worth of the older months' hour sums (see FillHourSums).
    void fillHourSums();
    // Each sends one batch of its table; how many rows it held.
    int forwardRecords(TDatabase& local);
    int forwardHistory(TDatabase& local);
    int forwardJournal(TDatabase& local);
    // A position sent with its rows: kept here and in the station's copy.
    void sent(TDatabase& local, const std::string& table, qint64 lastId);
    qint64 position(const std::string& table) const;
    qint64 backlog(TDatabase& local);
    // The station's database made ready for forwarding; its key.
    qint64 openLocal(TDatabase& local);
    // A connection to the central database with its schema, this station's row and its positions;
    // what was known of an earlier server is forgotten.
    void connectCentral(TDatabase& local, qint64 databaseKey);
    void setStatus(TState state, qint64 backlog, const QString& error);
    void step(std::string_view name) const;
    // Until `time` has passed or a stop is asked, or new rows came when `wakeable`.
    void wait(std::chrono::milliseconds time, bool wakeable = true);
    // Positions beyond the station's newest rows go back to them.
    void followLostRows(TDatabase& local);

    QString m_dataPath;
    TCentralConfig m_config;
    QString m_copyStation; // the station's name as COPY's first field
    TReport m_report;
    TOptions m_options;
    std::unique_ptr<TPgConnection> m_central;
    std::unique_ptr<TRecordPrefetch> m_prefetch; // the readings read ahead while the server takes them
    TValueNotes m_notes;
    // What the central database is known to hold, valid for one connection.
    std::map<std::string, qint64> m_positions; // per central table name
    std::set<QString> m_partitions;             // months whose partition exists
    QDate m_maintainedOn;                       // the UTC day of the last maintain()
    QDate m_retainedFrom;                       // readings before this day are not sent (none: all are)
    bool m_hourSumsKept = false;                // by this server
    bool m_hourSumsFilled = false;              // or filled by another
    std::chrono::seconds m_fillChunk{86400};
    bool m_registryKnown = false;
    std::map<qint64, QVariantList> m_registry;    // the registry rows as last written
    bool m_openKnown = false;
    std::map<qint64, QVariantList> m_openJournal; // alarms sent open, as sent (empty: not known)
    std::pair<qint64, qint64> m_changeable{-1, -1}; // CountChangeableAlarms when they were last read,
    qint64 m_changeableAt = -1;                     // up to this position
    bool m_watchedSent = false;                     // every watched alarm sent as it is
    std::pair<qint64, QVariantList> m_historyTip{-1, {}}; // the newest parameter write sent, as sent
    qint64 m_syncedAt = -1; // the station database's data version when all had been sent
    bool m_connectedSaid = false; // "已连接" said since the server was last lost

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_stop{false};
    bool m_woken = false;
    bool m_ended = false;
    TStatus m_status;
    std::atomic<uint64_t> m_forwarded{0};
    std::thread m_thread;
};

} // namespace zeva

// Reported by signal, also to listeners on other threads.
Q_DECLARE_METATYPE(zeva::TForwarder::TStatus)
