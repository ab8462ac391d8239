// TRecordWriter: stores recorded readings on a thread of its own, so that a locked database or a
// full disk never stalls the user-interface thread. Rows wait in memory, in order, until the
// database takes them.
#pragma once

#include "Database.h"
#include "Frames.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

#include <sys/stat.h>

namespace zeva {

struct TRecordRow {
    QDateTime when;  // the time of storing, taken when the row was due
    int address = 0; // looked up as the ID of the enabled instrument when written
    TPhaseTemps live{};
    TPhaseTemps blackBox{};
};

// A line of the event journal: an alarm raised or cleared, or an event.
struct TJournalEntry {
    enum class What { Raise, Clear, Event };
    What what = What::Event;
    QDateTime when;
    int address = -1; // -1: the whole bus
    QString kind;
    QString text;
    int priority = -1;           // an alarm's (0 紧急 .. 3 低); -1 for an event
    std::optional<double> value; // what raised the alarm
    bool chatter = false;
};

class TRecordWriter {
public:
    // What the owner hears of, on the writer's thread.
    struct TEvent {
        enum class Kind {
            Failing,   // rows have waited Patience for the database; text: the explained error
            Dropped,   // the waiting rows reached Capacity: the oldest go (once per outage)
            Recovered, // the database took the waiting rows again; count: rows written
            Journaled, // journal entries are committed; count: how many
            Stored,    // a transaction is committed; count: rows and entries in it
        };
        Kind kind;
        QString text;
        std::size_t count = 0;
    };
    using TReport = std::function<void(const TEvent&)>;

    struct TOptions {
        // At least 24 hours at the fastest pace: three replies a second, each at most one row.
        std::size_t capacity = 24 * 3600 * 3;
        // A lock shorter than this is no failure, as the old busy wait was none.
        std::chrono::milliseconds patience{5000};
        std::chrono::milliseconds retryLocked{250};
        std::chrono::milliseconds retryOther{1000};
        int busyTimeoutMs = 200;
        std::size_t batch = 500; // rows per transaction when catching up
        // Kept free for Data.db.pending, for a stop while the disk is full (about 9,000 readings).
        qint64 pendingReserve = 1 << 20;
    };

    TRecordWriter(QString dataPath, TReport report, TOptions options);
    TRecordWriter(QString dataPath, TReport report) : TRecordWriter(std::move(dataPath), std::move(report), {}) {}
    ~TRecordWriter();
    TRecordWriter(const TRecordWriter&) = delete;
    TRecordWriter& operator=(const TRecordWriter&) = delete;

    // Takes back what Data.db.pending holds: written through `db` at once when it can (the caller's
    // connection, before it reads the open alarms), otherwise first in the queue.
    void Start(TDatabase* db = nullptr);
    // Queues a row; takes the queue's lock only for the push.
    void Post(TRecordRow row);
    // Queues a journal entry, in order with the rows; never dropped for capacity.
    void Post(TJournalEntry entry);
    // Writes what waits until `limit` has passed, then ends the thread; what still waits goes to
    // Data.db.pending. Returns the rows and entries left unwritten (said on the standard error
    // output, as is what could not even be kept: Lost()).
    std::size_t Stop(std::chrono::milliseconds limit);
    // Readings and entries neither written nor kept at the stop.
    std::size_t Lost() const { return m_lost; }

    std::size_t Pending() const;
    uint64_t Written() const { return m_written.load(); }
    uint64_t Dropped() const { return m_dropped.load(); }
    bool Failing() const { return m_failing.load(); }

private:
    struct TQueued {
        uint64_t seq;
        std::chrono::steady_clock::time_point posted;
        std::variant<TRecordRow, TJournalEntry> item;
    };
    // The writer thread's connection and the file it was opened on.
    struct TConnection {
        TDatabase db;
        struct stat opened;
    };
    void push(std::variant<TRecordRow, TJournalEntry> item);
    void run();
    // The next rows to write, in order; false once the thread is to end.
    bool nextBatch(std::vector<TQueued>& batch);
    void openFile(TConnection& c);
    // One transaction; throws the database's error after a rollback.
    void writeBatch(TConnection& c, const std::vector<TQueued>& batch);
    void written(const std::vector<TQueued>& batch);
    void takeBackPending(TDatabase* db);
    void keepPending();
    void failed(const std::vector<TQueued>& batch, const QString& error, const QString& lastError);
    // Until the retry is due or the stop's deadline comes.
    void pause(std::chrono::milliseconds pause);

    QString m_dataPath;
    TReport m_report;
    TOptions m_options;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<TQueued> m_queue;
    uint64_t m_nextSeq = 0;
    bool m_stopping = false;
    std::chrono::steady_clock::time_point m_deadline{};
    bool m_droppedSaid = false;

    QString m_pendingFile;
    std::optional<uint64_t> m_pendingUpTo; // the last item taken back from the file, until written
    std::size_t m_lost = 0;

    std::atomic<uint64_t> m_written{0};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<bool> m_failing{false};
    std::thread m_thread;
};

} // namespace zeva
