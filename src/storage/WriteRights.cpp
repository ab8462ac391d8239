// The write group read from the system's group database (so a member added with gpasswd counts at
// the next opening of a window, without a new login).
#include "WriteRights.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <QByteArray>

#include <algorithm>
#include <optional>
#include <vector>

namespace zeva {

QString OperatingSystemUser()
{
    if (const passwd* pw = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(::geteuid());
}

namespace {

std::optional<gid_t> groupId(const QString& name)
{
    if (name.isEmpty())
        return std::nullopt;
    const group* g = ::getgrnam(name.toLocal8Bit().constData());
    if (!g)
        return std::nullopt;
    return g->gr_gid;
}

bool isMember(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const passwd* pw = ::getpwuid(::geteuid());
    if (pw && pw->pw_gid == gid)
        return true;
    if (const group* g = ::getgrgid(gid)) {
        for (char** m = g->gr_mem; pw && m && *m; ++m)
            if (qstrcmp(*m, pw->pw_name) == 0)
                return true;
    }
    // The process's own supplementary groups (a login of a member since removed keeps them until
    // it ends, as for every other right the group gives).
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(std::size_t(std::max(n, 0)));
    if (n > 0 && ::getgroups(n, groups.data()) == n)
        for (gid_t g : groups)
            if (g == gid)
                return true;
    return false;
}

} // namespace

QString TWriteRights::Refusal() const
{
    return QStringLiteral("只有 %1 组的成员可以执行此操作（当前用户：%2）").arg(group, user);
}

QString TWriteRights::OpenToAll() const
{
    return QStringLiteral("任何用户均可写入参数：未设置 %1 组").arg(group);
}

TWriteRights WriteRightsFor(const QString& configured)
{
    TWriteRights r;
    r.user = OperatingSystemUser();
    r.group = configured.trimmed().isEmpty() ? DefaultWriteGroup : configured.trimmed();
    std::optional<gid_t> gid = groupId(r.group);
    if (!gid && r.group != DefaultWriteGroup) {
        if ((gid = groupId(DefaultWriteGroup)))
            r.group = DefaultWriteGroup;
    }
    r.groupExists = gid.has_value();
    r.allowed = !gid || isMember(*gid);
    return r;
}

} // namespace zeva
