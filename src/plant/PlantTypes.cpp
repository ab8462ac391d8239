// The lamps and texts the plant's systems share with the main window.
#include "PlantTypes.h"

#include <QRegularExpression>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zeva {

uint16_t LampBits(uint8_t ps, uint8_t os)
{
    uint16_t bits = uint16_t(ps & 0x1F); // phases A..D and the open door
    if (os & OutputBit::Fan)
        bits |= 1u << 5;
    if (!(os & OutputBit::Alarm))
        bits |= 1u << 6;
    if (os & OutputBit::Trip)
        bits |= 1u << 7;
    if (os & OutputBit::Fault)
        bits |= 1u << 8;
    return bits;
}

bool Shown(double t)
{
    return t <= ShownHighest && t >= ShownLowest;
}

QString HealthText(int health)
{
    switch (health) {
    case 2: return QStringLiteral("超时");
    case 3: return QStringLiteral("中断");
    default: return QStringLiteral("正常");
    }
}

void YieldToPolling()
{
    const auto tid = id_t(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, tid, std::min(19, ::getpriority(PRIO_PROCESS, tid) + 5));
}

QString LinkText(int link)
{
    switch (link) {
    case 1: return QStringLiteral("无应答");
    case 2: return QStringLiteral("串口断开");
    default: return QStringLiteral("已连接");
    }
}

bool ParseHostPort(const QString& listen, QString& host, int& port, QString& error)
{
    const QString t = listen.trimmed();
    const qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    port = colon < 0 ? 0 : t.mid(colon + 1).toInt(&ok);
    if (colon < 0 || !ok || port < 0 || port > 65535) {
        error = QStringLiteral("Listen=%1 不是“地址:端口”").arg(listen);
        return false;
    }
    host = t.left(colon);
    return true;
}

bool IsLoopbackHost(const QString& host)
{
    // Numbers only: a name such as 127.0.example.com would be resolved elsewhere.
    static const QRegularExpression loopback(QStringLiteral("^127\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"));
    return host == QLatin1String("localhost") || loopback.match(host).hasMatch();
}

int ListenTcp(const QString& host, int port, const QString& what, int& boundPort)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const QByteArray name = host.toUtf8();
    const bool any = name.isEmpty() || name == "*";
    const int rc = ::getaddrinfo(any ? nullptr : name.constData(), QByteArray::number(port).constData(), &hints, &found);
    if (rc != 0)
        throw std::runtime_error((what + QStringLiteral("：地址 %1 无法解析：%2").arg(host, QString::fromLocal8Bit(::gai_strerror(rc))))
                                     .toStdString());
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool bound = fd >= 0 && ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 128) == 0;
    const int err = errno;
    ::freeaddrinfo(found);
    if (!bound) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error((what + QStringLiteral("：无法在 %1:%2 监听：%3")
                                             .arg(host)
                                             .arg(port)
                                             .arg(QString::fromLocal8Bit(std::strerror(err))))
                                     .toStdString());
    }
    sockaddr_in bound4{};
    socklen_t len = sizeof bound4;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound4), &len);
    boundPort = ntohs(bound4.sin_port);
    return fd;
}

} // namespace zeva
