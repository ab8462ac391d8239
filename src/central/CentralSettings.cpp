// The central database's settings, kept as libpq keywords and values.
#include "CentralSettings.h"

#include "ErrorLog.h"
#include "Settings.h"

#include <QSysInfo>

#include <libpq-fe.h>

#include <memory>
#include <stdexcept>

namespace zeva {

void TPgParams::Set(const std::string& key, const std::string& value)
{
    for (auto& entry : m_entries)
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    m_entries.emplace_back(key, value);
}

std::string TPgParams::Value(const std::string& key) const
{
    for (const auto& entry : m_entries)
        if (entry.first == key)
            return entry.second;
    return {};
}

QString TCentralConfig::Describe() const
{
    const std::string port = params.Value("port");
    return QString::fromStdString(params.Value("host")) + QLatin1Char(':') +
           QString::fromStdString(port.empty() ? std::string("5432") : port) + QLatin1Char('/') +
           QString::fromStdString(params.Value("dbname"));
}

TCentralConfig ReadCentralConfig(TIniFile& ini)
{
    using namespace SettingsKey;
    TCentralConfig c;
    // A value cut by the profile rules would be another server, database or name: said.
    const auto read = [&](const QString& key, const QString& fallback) {
        bool cut = false;
        const QString value = ini.ReadString(Central, key, fallback, &cut).trimmed();
        if (cut)
            LogError(QStringLiteral("中心库：Data.ini [Central] %1 超过 %2 字节，只用了前 %2 字节")
                         .arg(key)
                         .arg(TIniFile::MaxValueBytes));
        return value;
    };
    const QString host = read(CentralHost, QString());
    c.enabled = !host.isEmpty();
    c.params.Set("host", host.toStdString());
    c.params.Set("port", std::to_string(ini.ReadInteger(Central, CentralPort, 5432)));
    for (const auto& [key, pg] : {std::pair{CentralDatabase, "dbname"}, std::pair{CentralUser, "user"}}) {
        const QString value = read(key, QString());
        if (!value.isEmpty())
            c.params.Set(pg, value.toStdString());
    }
    c.params.Set("sslmode", read(CentralSslMode, QStringLiteral("prefer")).toStdString());
    c.station = read(CentralStation, QString());
    if (c.station.isEmpty())
        c.station = QSysInfo::machineHostName();
    c.retentionMonths = std::max(0, ini.ReadInteger(Central, CentralRetention, 0));
    return c;
}

TCentralConfig ParseConnInfo(const QString& conninfo)
{
    char* error = nullptr;
    const std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption*)> options(
        PQconninfoParse(conninfo.toUtf8().constData(), &error), PQconninfoFree);
    if (!options) {
        const std::string why = error ? QString::fromUtf8(error).trimmed().toStdString() : "out of memory";
        PQfreemem(error);
        throw std::invalid_argument("the connection string: " + why);
    }
    TCentralConfig c;
    c.enabled = true;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val)
            continue;
        if (std::string(o->keyword) == "password")
            throw std::invalid_argument("the connection string holds a password: put it in ~/.pgpass (PGPASSFILE)"
                                        " or use peer authentication");
        c.params.Set(o->keyword, o->val);
    }
    c.station = QSysInfo::machineHostName();
    return c;
}

} // namespace zeva
