// One recording program per database: flock() on the database file itself, so that every name of
// it (a symlink, another folder's Path, a bind mount) meets the same lock, held for the life of the
// recording (the kernel lets it go at any end, a crash too). SQLite's own locks are POSIX locks,
// which flock() does not touch; readers take none. Data.db.lock beside it holds the PID, for the
// refusal's message only.
#pragma once

#include <QString>

namespace zeva {

class TRecordingLock {
public:
    TRecordingLock() = default;
    ~TRecordingLock();
    TRecordingLock(const TRecordingLock&) = delete;
    TRecordingLock& operator=(const TRecordingLock&) = delete;

    // False when another process records into the database of `dataPath`; `holder` is then its
    // PID (0 when it cannot be read). A database that cannot be opened is no refusal (its own
    // opening says what is wrong); one that cannot be locked is said.
    bool Take(const QString& dataPath, qint64* holder);
    // The program records no more (its close step): another may.
    void Release();

private:
    int m_fd = -1;
};

} // namespace zeva
