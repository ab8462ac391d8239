// POSIX serial device access.
#include "PosixPort.h"

#include "LinuxSpeed.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zeva::posix {

TIoOutcome Classify(int err)
{
    switch (err) {
    case EAGAIN: return TIoOutcome::Again;
    case EINTR: return TIoOutcome::Interrupted;
    case EBADF: return TIoOutcome::InvalidHandle;
    default: return TIoOutcome::Hangup; // EIO, ENXIO, ENODEV and anything unexpected
    }
}

TOpenResult OpenDevice(const char* name, int& fd, int& error)
{
    error = 0;
    fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return TOpenResult::OpenFailed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        ::close(fd);
        fd = -1;
        return TOpenResult::OpenFailed;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd)) {
        error = ENOTTY;
        ::close(fd);
        fd = -1;
        return TOpenResult::NotCommHandle;
    }
    ::ioctl(fd, TIOCEXCL); // keeps other programs out; root passes it, hence the flock
    return TOpenResult::Ok;
}

void CloseDevice(int fd)
{
    if (fd < 0)
        return;
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

bool GetTermios(int fd, termios& t)
{
    return ::tcgetattr(fd, &t) == 0;
}

std::optional<speed_t> SpeedOf(uint32_t baud)
{
    struct Row {
        uint32_t baud;
        speed_t speed;
    };
    static constexpr Row rows[] = {
        {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
        {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
        {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
        {576000, B576000}, {921600, B921600}, {1000000, B1000000},
    };
    for (const Row& r : rows)
        if (r.baud == baud)
            return r.speed;
    return std::nullopt;
}

bool DcbToTermios(const TDcb& d, termios& t)
{
    // Raw whatever the speed: a line left cooked echoes onto the bus, rewrites bytes and stops
    // its output on 0x13.
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (d.ByteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
    }
    switch (d.Parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (d.StopBits != 0) // one and a half has no termios form: two
        t.c_cflag |= CSTOPB;
    if ((d.Flags & DcbFlag::OutxCtsFlow) || d.RtsControl() == 2)
        t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~tcflag_t(INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY);
    // A checked byte with a parity error reads as a zero byte (ErrorChar 0, the component's
    // default); termios cannot substitute another character.
    if (d.Flags & DcbFlag::Parity)
        t.c_iflag |= INPCK;
    if (d.Flags & DcbFlag::OutX)
        t.c_iflag |= IXON;
    if (d.Flags & DcbFlag::InX)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = cc_t(d.XonChar);
    t.c_cc[VSTOP] = cc_t(d.XoffChar);
    // The reader times its own reads.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    auto speed = SpeedOf(d.BaudRate);
    if (speed)
        ::cfsetspeed(&t, *speed);
    return speed.has_value();
}

bool ApplyDcb(int fd, const TDcb& d)
{
    termios t{};
    if (!GetTermios(fd, t))
        return false;
    bool standard = DcbToTermios(d, t);
    bool ok = ::tcsetattr(fd, TCSANOW, &t) == 0;
    // Baud 0 would mean "hang up" to the driver: refused, the device keeps its speed.
    if (!standard)
        ok = d.BaudRate != 0 && SetArbitrarySpeed(fd, d.BaudRate) && ok;
    // Modem lines: a pseudo-terminal refuses these, which is fine.
    int dtr = TIOCM_DTR, rts = TIOCM_RTS;
    ::ioctl(fd, d.DtrControl() == 0 ? TIOCMBIC : TIOCMBIS, &dtr);
    if (d.RtsControl() != 2)
        ::ioctl(fd, d.RtsControl() == 0 ? TIOCMBIC : TIOCMBIS, &rts);
    return ok;
}

void Purge(int fd, int which)
{
    int queue = which == PurgeBoth ? TCIOFLUSH : which == PurgeInput ? TCIFLUSH : TCOFLUSH;
    ::tcflush(fd, queue);
}

std::optional<TLineCounters> ReadLineCounters(int fd)
{
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) != 0)
        return std::nullopt;
    return TLineCounters{ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
}

uint32_t ErrorFlags(const TLineCounters& b, const TLineCounters& a)
{
    uint32_t flags = 0;
    if (a.bufOverrun != b.bufOverrun)
        flags |= CommError::RxOver;
    if (a.overrun != b.overrun)
        flags |= CommError::Overrun;
    if (a.parity != b.parity)
        flags |= CommError::RxParity;
    if (a.frame != b.frame)
        flags |= CommError::Frame;
    if (a.brk != b.brk)
        flags |= CommError::Break;
    return flags;
}

TStopEvent::~TStopEvent()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool TStopEvent::Create()
{
    m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return m_fd >= 0;
}

void TStopEvent::Set()
{
    // Never read back, so it stays readable: a manual-reset event.
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_fd, &one, sizeof one);
}

bool TStopEvent::IsSet() const
{
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

int64_t MonotonicMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace zeva::posix
