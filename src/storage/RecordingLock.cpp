// The descriptor of the database file is never closed before the process ends: closing any
// descriptor of a file drops the POSIX locks the process holds on it, SQLite's among them.
#include "RecordingLock.h"

#include "ErrorLog.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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
        ::flock(m_fd, LOCK_UN);
    m_fd = -1; // left open on purpose, see above
}

bool TRecordingLock::Take(const QString& dataPath, qint64* holder)
{
    *holder = 0;
    const QString base = dataPath + QStringLiteral("/DataBase/Data.db");
    const int fd = ::open(QFile::encodeName(base).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            LogError(QStringLiteral("无法锁定数据库 %1（%2）：不能确认没有另一个记录程序使用它")
                         .arg(base, QString::fromLocal8Bit(std::strerror(errno))));
            return true;
        }
        QFile pid(base + QStringLiteral(".lock"));
        if (pid.open(QIODevice::ReadOnly))
            *holder = pid.readAll().trimmed().toLongLong();
        return false; // fd stays open, see above
    }
    m_fd = fd;
    // The PID is for the refusal's message only: a file that cannot be written takes nothing from
    // the lock.
    QFile pid(base + QStringLiteral(".lock"));
    if (pid.open(QIODevice::WriteOnly | QIODevice::Truncate))
        pid.write(QByteArray::number(qint64(::getpid())) + '\n');
    return true;
}

} // namespace zeva
