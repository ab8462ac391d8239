// Reading [Mqtt] and [Modbus].
#include "PlantConfig.h"

#include "Settings.h"

#include <QFile>
#include <QSysInfo>

#include <stdexcept>

namespace zeva {

namespace {

// No wildcard or NUL in a topic to publish to (the broker would refuse every message); `keepSlash`
// for a whole prefix, whose levels are the installer's.
QString topicText(QString text, bool keepSlash)
{
    for (QChar& c : text)
        if ((!keepSlash && c == QLatin1Char('/')) || c == QLatin1Char('+') || c == QLatin1Char('#') ||
            (!keepSlash && c.isSpace()) || c.unicode() == 0)
            c = QLatin1Char('_');
    return text;
}

} // namespace

QString TopicStation(TIniFile& ini)
{
    QString station = ini.ReadString(SettingsKey::Central, SettingsKey::CentralStation, QString()).trimmed();
    if (station.isEmpty())
        station = QSysInfo::machineHostName();
    station = topicText(station, false);
    return station.isEmpty() ? QStringLiteral("station") : station;
}

TMqttConfig ReadMqttConfig(TIniFile& ini, const QString& program)
{
    using namespace SettingsKey;
    TMqttConfig c;
    c.host = ini.ReadString(Mqtt, MqttHost, QString()).trimmed();
    if (!c.Enabled())
        return c;
    c.port = ini.ReadInteger(Mqtt, MqttPort, 1883);
    const QString station = TopicStation(ini);
    c.prefix = ini.ReadString(Mqtt, MqttTopic, QString()).trimmed();
    if (c.prefix.isEmpty())
        c.prefix = QStringLiteral("zeva/") + station;
    c.prefix = topicText(c.prefix, true);
    while (c.prefix.endsWith(QLatin1Char('/')))
        c.prefix.chop(1);
    if (c.prefix.isEmpty())
        c.prefix = QStringLiteral("zeva/") + station;
    c.clientId = ini.ReadString(Mqtt, MqttClientId, QString()).trimmed();
    if (c.clientId.isEmpty())
        c.clientId = QStringLiteral("zeva-%1-%2").arg(station, program);
    c.user = ini.ReadString(Mqtt, MqttUser, QString()).trimmed();
    const QString passwordFile = ini.ReadString(Mqtt, MqttPasswordFile, QString()).trimmed();
    if (!passwordFile.isEmpty()) {
        QFile f(passwordFile);
        if (!f.open(QIODevice::ReadOnly))
            throw std::runtime_error(QStringLiteral("MQTT：密码文件 %1 无法读取：%2").arg(passwordFile, f.errorString()).toStdString());
        c.password = QString::fromUtf8(f.readAll()).section(QLatin1Char('\n'), 0, 0).trimmed();
    }
    c.caFile = ini.ReadString(Mqtt, MqttCaFile, QString()).trimmed();
    return c;
}

TModbusConfig ReadModbusConfig(TIniFile& ini)
{
    TModbusConfig c;
    c.listen = ini.ReadString(SettingsKey::Modbus, SettingsKey::ModbusListen, QString()).trimmed();
    c.maxClients = std::max(1, ini.ReadInteger(SettingsKey::Modbus, SettingsKey::ModbusMaxClients, 16));
    return c;
}

TWebConfig ReadWebConfig(TIniFile& ini)
{
    TWebConfig c;
    c.listen = ini.ReadString(SettingsKey::Web, SettingsKey::WebListen, QString()).trimmed();
    c.tokenFile = ini.ReadString(SettingsKey::Web, SettingsKey::WebTokenFile, QString()).trimmed();
    c.certFile = ini.ReadString(SettingsKey::Web, SettingsKey::WebCertFile, QString()).trimmed();
    c.keyFile = ini.ReadString(SettingsKey::Web, SettingsKey::WebKeyFile, QString()).trimmed();
    c.maxClients = std::max(1, ini.ReadInteger(SettingsKey::Web, SettingsKey::WebMaxClients, 256));
    return c;
}

std::string ReadWebToken(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("Web：TokenFile %1 无法读取：%2").arg(file, f.errorString()).toStdString());
    const QByteArray token = f.readLine(4096).trimmed();
    if (token.isEmpty())
        throw std::runtime_error(QStringLiteral("Web：TokenFile %1 中没有令牌").arg(file).toStdString());
    return token.toStdString();
}

} // namespace zeva
