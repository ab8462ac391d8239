// TRecordPrefetch: reads the readings' next batches ahead, on a thread of its own with its own
// connection to the station's database, so that SQLite makes the next lines while the central
// server takes the last ones (on two cores the drain then runs at the server's pace).
#pragma once

#include "Statements.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace zeva {

class TRecordPrefetch {
public:
    // What a batch is read for: after which ID, the retention bound and the station's field.
    struct TCursor {
        qint64 after = -1;
        QString fromUtc;
        QString station;
        bool operator==(const TCursor& other) const = default;
    };

    TRecordPrefetch(QString dataPath, int batch, int depth = 2);
    ~TRecordPrefetch();
    TRecordPrefetch(const TRecordPrefetch&) = delete;
    TRecordPrefetch& operator=(const TRecordPrefetch&) = delete;

    // The batch after `cursor.after`: what was read ahead when it follows on, read now otherwise.
    // Throws the station database's error.
    TRecordBatch Next(const TCursor& cursor);

private:
    void run();

    QString m_dataPath;
    int m_batch;
    std::size_t m_depth;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    TCursor m_cursor;                   // where reading goes on
    std::deque<std::pair<TCursor, TRecordBatch>> m_ready; // in order, each with the cursor it was read for
    std::exception_ptr m_failed;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace zeva
