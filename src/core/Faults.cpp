// Fault texts.
#include "Faults.h"

#include "CommTypes.h"

#include <algorithm>
#include <cstring>
#include <grp.h>
#include <unistd.h>
#include <vector>

namespace zeva {

bool InGroup(const char* name)
{
    const group* g = ::getgrnam(name);
    if (!g)
        return false;
    if (::getegid() == g->gr_gid)
        return true;
    std::vector<gid_t> groups(std::size_t(std::max(0, ::getgroups(0, nullptr))));
    const int n = ::getgroups(int(groups.size()), groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(0, n), g->gr_gid) != groups.begin() + std::max(0, n);
}

QString PortCauseText(const std::exception& error)
{
    const auto* comms = dynamic_cast<const ECommsError*>(&error);
    if (!comms || comms->Fault() == TPortFault::None)
        return QString::fromUtf8(error.what());
    const QString device = QString::fromStdString(comms->Device());
    switch (comms->Fault()) {
    case TPortFault::Missing: return QStringLiteral("设备 %1 不存在（未接上或名称有误）。").arg(device);
    case TPortFault::PermissionDenied:
        // Already in the group: the device itself keeps it out (a pseudo-terminal of another user).
        if (InGroup("dialout"))
            return QStringLiteral("没有打开 %1 的权限：当前用户已属于 dialout 组，"
                                  "但该设备不属于此组或不许组内读写（ls -l %1 可见其属主与权限）。")
                .arg(device);
        return QStringLiteral("没有打开 %1 的权限：当前用户须属于 dialout 组"
                              "（sudo usermod -aG dialout 用户名，重新登录后生效）。")
            .arg(device);
    case TPortFault::NotSerial: return QStringLiteral("%1 不是串口设备。").arg(device);
    case TPortFault::Busy: return QStringLiteral("%1 已被其他程序占用。").arg(device);
    case TPortFault::Other:
    case TPortFault::None: break;
    }
    return QStringLiteral("%1：%2").arg(device, QString::fromUtf8(std::strerror(comms->Error())));
}

QString RecordingFailingText(const QString& explainedError)
{
    return explainedError + QStringLiteral("\n温度记录暂存在内存中，数据库恢复后自动按顺序写入。");
}

QString RecordingDroppedText(std::size_t capacity)
{
    return QStringLiteral("暂存的温度记录已达 %1 条，最早的记录被丢弃。").arg(capacity);
}

} // namespace zeva
