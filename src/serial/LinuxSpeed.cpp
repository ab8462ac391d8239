// termios2 speeds (Linux).
#include "LinuxSpeed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace zeva::posix {

bool SetArbitrarySpeed(int fd, uint32_t baud)
{
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return false;
    struct termios2 asked = t;
    asked.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    asked.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    asked.c_ispeed = baud;
    asked.c_ospeed = baud;
    if (::ioctl(fd, TCSETS2, &asked) != 0)
        return false;
    struct termios2 got {};
    if (::ioctl(fd, TCGETS2, &got) != 0)
        return false;
    // A UART rounds to the nearest divisor; anything within 2 % is the asked speed.
    uint64_t lo = uint64_t(baud) * 98 / 100, hi = uint64_t(baud) * 102 / 100;
    if (got.c_ospeed >= lo && got.c_ospeed <= hi)
        return true;
    ::ioctl(fd, TCSETS2, &t); // not what was asked: the device keeps its speed
    return false;
}

uint32_t CurrentSpeed(int fd)
{
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return 0;
    return t.c_ospeed;
}

} // namespace zeva::posix
