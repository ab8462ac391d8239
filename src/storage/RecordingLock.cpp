// flock() on a file of its own: the database file's own locks belong to SQLite.
#include "RecordingLock.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zeva {

TRecordingLock::~TRecordingLock()
{
    Release();
}

void TRecordingLock::Release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool TRecordingLock::Take(const QString& dataPath, qint64* holder)
{
    *holder = 0;
    const QByteArray file = QFile::encodeName(dataPath + QStringLiteral("/DataBase/Data.db.lock"));
    const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        char text[32] = {};
        if (held && ::pread(fd, text, sizeof text - 1, 0) > 0)
            *holder = std::atoll(text);
        ::close(fd);
        return !held;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    // The PID is for the refusal's message only: a write that fails takes nothing from the lock.
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    return true;
}

} // namespace zeva
