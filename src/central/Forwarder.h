// TForwarder: copies what is new in the station's SQLite database to the central PostgreSQL, on a
// thread of its own with its own connections. Rows go in ID order, in batches; the position per
// table is kept in the station's database only after the central commit, and the central insert
// ignores a row it already has, so that a kill at any moment loses nothing and doubles nothing.
#pragma once

#include "CentralSchema.h"

#include <QMetaType>
#include <QSqlDatabase>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
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
        int batch = 5000;
        std::chrono::milliseconds idle{1000};       // the wait for new rows when all is forwarded
        std::chrono::milliseconds backoffFirst{1000}; // after a failure, doubling up to:
        std::chrono::milliseconds backoffLast{60000};
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
    // Ends the thread, waiting at most `patience`; a batch in flight is rolled back by the server and
    // sent again next time. False when the thread is still held by the server (a statement that
    // does not return): it then reports nothing more, and the object must not be destroyed.
    bool Stop(std::chrono::milliseconds patience = std::chrono::seconds(5));
    // New rows were stored: no need to wait for the idle time.
    void Wake();
    TStatus Status() const;
    uint64_t Forwarded() const { return m_forwarded.load(); }

    // "中心库：已同步", "中心库：积压 12 行", "中心库：不可达"
    static QString StatusText(const TStatus& status);

private:
    void run();
    // One batch of every table; true when something was sent.
    bool forwardOnce(TDatabase& local, QSqlDatabase& central);
    // This month's and next month's partitions, and the retention, once a (UTC) day.
    void maintain(QSqlDatabase& central);
    void forwardRegistry(TDatabase& local, QSqlDatabase& central);
    // Each sends one batch of its table; how many rows it held.
    int forwardRecords(TDatabase& local, QSqlDatabase& central);
    int forwardHistory(TDatabase& local, QSqlDatabase& central);
    int forwardJournal(TDatabase& local, QSqlDatabase& central);
    qint64 backlog(TDatabase& local);
    // The station's database made ready for forwarding; its key.
    qint64 openLocal(TDatabase& local);
    // A connection to the central database with its schema and this station's row (ECentral when
    // it cannot be had); what was known of an earlier server is forgotten.
    QSqlDatabase connectCentral(const QString& name, qint64 databaseKey);
    void setStatus(TState state, qint64 backlog, const QString& error);
    void wait(std::chrono::milliseconds time);

    QString m_dataPath;
    TCentralConfig m_config;
    TReport m_report;
    TOptions m_options;
    // What the central database is known to hold, valid for one connection.
    std::set<QString> m_partitions; // months whose partition exists
    QDate m_maintainedOn;           // the UTC day of the last maintain()
    QDate m_retainedFrom;           // readings before this day are not sent (none: all are)
    bool m_registryKnown = false;
    std::map<qint64, QVariantList> m_registry;    // the registry rows as last written
    bool m_openKnown = false;
    std::map<qint64, QVariantList> m_openJournal; // alarms sent open, as sent (empty: not known)
    std::pair<qint64, qint64> m_changeable{-1, -1}; // CountChangeableAlarms when they were last read,
    qint64 m_changeableAt = -1;                     // up to this position
    bool m_watchedSent = false;                     // every watched alarm sent as it is
    qint64 m_syncedAt = -1;
    std::pair<qint64, QVariantList> m_historyTip{-1, {}}; // the newest parameter write sent, as sent // the station database's data version when all had been sent

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_woken = false;
    bool m_ended = false;
    TStatus m_status;
    std::atomic<uint64_t> m_forwarded{0};
    std::thread m_thread;
};

} // namespace zeva

// Reported by signal, also to listeners on other threads.
Q_DECLARE_METATYPE(zeva::TForwarder::TStatus)
