// Data.ini's [Mqtt] and [Modbus]: where the station publishes and where it serves.
#pragma once

#include "IniFile.h"

#include <QString>

#include <string>

namespace zeva {

struct TMqttConfig {
    QString host; // empty: off
    int port = 1883;
    QString prefix;   // topics are <prefix>/status, /link, /instrument/<address>, /alarm
    QString clientId;
    QString user;
    QString password; // read from PasswordFile
    QString caFile;   // TLS when set
    bool Enabled() const { return !host.isEmpty(); }
};

struct TModbusConfig {
    QString listen; // "HOST:PORT"; empty: off
    int maxClients = 16;
    bool Enabled() const { return !listen.isEmpty(); }
};

struct TWebConfig {
    QString listen; // "HOST:PORT"; empty: off
    QString tokenFile, certFile, keyFile;
    int maxClients = 256;
    bool Enabled() const { return !listen.isEmpty(); }
};

// `program` is "monitor" or "recorder" (both may publish at once under their own client ids).
// A PasswordFile that cannot be read throws std::runtime_error naming it.
TMqttConfig ReadMqttConfig(TIniFile& ini, const QString& program);
TModbusConfig ReadModbusConfig(TIniFile& ini);
TWebConfig ReadWebConfig(TIniFile& ini);
// The access token: the first line of `file`, without blanks around it. Throws std::runtime_error
// when it cannot be read or holds none.
std::string ReadWebToken(const QString& file);
// The station's name as a topic level: [Central] Station or the host name, with / + # and blanks
// made _.
QString TopicStation(TIniFile& ini);

} // namespace zeva
