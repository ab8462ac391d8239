// Timestamped error lines on the standard error output.
#include "ErrorLog.h"

#include <QCoreApplication>
#include <QDateTime>

#include <poll.h>
#include <unistd.h>

namespace zeva {

void LogError(const QString& text)
{
    QString name = QCoreApplication::applicationName();
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) +
                   (name.isEmpty() ? QString() : name + QStringLiteral(": ")) + text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QByteArray bytes = line.toUtf8() + '\n';
    // A reader of the standard error output that has stopped reading never blocks the program:
    // a line that does not fit now is dropped.
    pollfd ready{STDERR_FILENO, POLLOUT, 0};
    if (::poll(&ready, 1, 0) != 1 || !(ready.revents & POLLOUT))
        return;
    // One write per line, so that lines of several threads never interleave.
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, std::size_t(left));
        if (n <= 0)
            break;
        p += n;
        left -= n;
    }
}

} // namespace zeva
