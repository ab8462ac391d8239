// One recording program per database: a lock on Data.db.lock beside the database, held for the
// life of the process (the kernel lets it go at any end, a crash too). Readers take none.
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
    // PID (0 when it cannot be read). A folder where no lock can be made (missing, read-only) is
    // no refusal: the database's own opening says what is wrong.
    bool Take(const QString& dataPath, qint64* holder);
    // The program records no more (its close step): another may.
    void Release();

private:
    int m_fd = -1;
};

} // namespace zeva
