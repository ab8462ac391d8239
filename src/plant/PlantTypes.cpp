// The lamps and texts the plant's systems share with the main window.
#include "PlantTypes.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

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
    return t <= 255 && t >= -30;
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

} // namespace zeva
