// The reader runs ahead while its batches are full (more rows wait) and the queue has room; a short
// batch is the end for now, and the next request starts it again.
#include "RecordPrefetch.h"

#include "Database.h"

namespace zeva {

TRecordPrefetch::TRecordPrefetch(QString dataPath, int batch, int depth)
    : m_dataPath(std::move(dataPath)), m_batch(batch), m_depth(std::size_t(std::max(1, depth)))
{
    m_thread = std::thread([this] { run(); });
}

TRecordPrefetch::~TRecordPrefetch()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

TRecordBatch TRecordPrefetch::Next(const TCursor& cursor)
{
    std::unique_lock lock(m_mutex);
    if (m_ready.empty() || !(m_ready.front().first == cursor)) {
        // Not what was read ahead (the first batch, or the position moved otherwise): from here.
        m_ready.clear();
        m_failed = nullptr;
        m_cursor = cursor;
        m_changed.notify_all();
    }
    m_changed.wait(lock, [&] { return !m_ready.empty() || m_failed; });
    if (m_ready.empty()) {
        const std::exception_ptr failed = m_failed;
        m_failed = nullptr;
        m_cursor = {};
        std::rethrow_exception(failed);
    }
    TRecordBatch batch = std::move(m_ready.front().second);
    m_ready.pop_front();
    m_changed.notify_all(); // room for one more
    return batch;
}

void TRecordPrefetch::run()
{
    const QString name = QStringLiteral("prefetch-") + QString::number(reinterpret_cast<quintptr>(this), 16);
    TDatabase local(name, 200);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stop || (m_cursor.after >= 0 && m_ready.size() < m_depth && !m_failed); });
        if (m_stop)
            break;
        const TCursor cursor = m_cursor;
        lock.unlock();
        TRecordBatch batch;
        std::exception_ptr failed;
        try {
            if (!local.IsOpen() && !local.Open(m_dataPath))
                throw EDatabaseError(local.OpenError().toStdString());
            batch = SelectRecordCopyAfter(local, cursor.after, m_batch, cursor.fromUtc, cursor.station);
        } catch (...) {
            failed = std::current_exception();
            local.Close();
        }
        lock.lock();
        if (!(m_cursor == cursor))
            continue; // asked for another place meanwhile
        if (failed) {
            m_failed = failed;
        } else {
            const bool full = batch.read >= m_batch;
            const qint64 last = batch.last;
            m_ready.emplace_back(cursor, std::move(batch));
            // A full batch: more rows wait, read on. A short one is the end for now.
            m_cursor = full ? TCursor{last, cursor.fromUtc, cursor.station} : TCursor{};
        }
        m_changed.notify_all();
    }
}

} // namespace zeva
