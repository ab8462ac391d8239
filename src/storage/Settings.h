// The keys of Data.ini and the start-up read-and-repair of section "Info".
#pragma once

#include "IniFile.h"

#include <QString>
#include <QStringList>

namespace zeva {

namespace SettingsKey {
inline const QString Info = QStringLiteral("Info");
inline const QString Path = QStringLiteral("Path");
inline const QString Bate = QStringLiteral("Bate");
inline const QString Interval_S = QStringLiteral("Interval_S");
inline const QString RunTimer = QStringLiteral("RunTimer");
inline const QString Port = QStringLiteral("Port");
inline const QString ApparatusAddress = QStringLiteral("ApparatusAddress");
inline const QString HistoryLine = QStringLiteral("HistoryLine");
inline constexpr int HistoryLineCount = 8;
// The live chart follows its newest point (1) or not (0, missing).
inline const QString Chart = QStringLiteral("Chart");
inline const QString Follow = QStringLiteral("Follow");
// [Chart] and [HistoryLine]: the temperature axis fits the data (1) or keeps its ranges (0, missing).
inline const QString AutoScale = QStringLiteral("AutoScale");
// [HistoryLine]: readings drawn over their date and time (1) or their row number (0, missing).
inline const QString TimeAxis = QStringLiteral("TimeAxis");
// The analysis window: its series ("3:AAct,7:ABlack"), its range (a preset's name or two times
// "yyyy-MM-dd HH:mm:ss,yyyy-MM-dd HH:mm:ss") and AutoScale (1, missing, or 0).
inline const QString Trend = QStringLiteral("Trend");
inline const QString TrendSeries = QStringLiteral("Series");
inline const QString TrendRange = QStringLiteral("Range");
// A new alarm beeps (1, missing) or not (0).
inline const QString Alarm = QStringLiteral("Alarm");
inline const QString Beep = QStringLiteral("Beep");
// [Alarm]: seconds a condition holds before it is raised, and is gone before it is cleared (0,
// missing); Priority.<kind code>=紧急|高|中|低 overrides that kind's priority.
inline const QString OnDelay = QStringLiteral("OnDelay");
inline const QString OffDelay = QStringLiteral("OffDelay");
inline const QString PriorityPrefix = QStringLiteral("Priority.");
// Only members of this group may change instruments and the registry, once it exists on the machine
// (missing: zeva-engineer).
inline const QString Security = QStringLiteral("Security");
inline const QString WriteGroup = QStringLiteral("WriteGroup");
// Where readings, parameter writes and alarms are forwarded to (no section, or no Host: nowhere).
inline const QString Central = QStringLiteral("Central");
inline const QString CentralHost = QStringLiteral("Host");
inline const QString CentralPort = QStringLiteral("Port");
inline const QString CentralDatabase = QStringLiteral("Database");
inline const QString CentralUser = QStringLiteral("User");
inline const QString CentralStation = QStringLiteral("Station");
inline const QString CentralSslMode = QStringLiteral("SslMode");
inline const QString CentralRetention = QStringLiteral("Retention"); // months; 0 or missing: kept for ever
// The MQTT broker the station publishes to (no Host: none) and the Modbus TCP server it runs
// (no Listen: none).
inline const QString Mqtt = QStringLiteral("Mqtt");
inline const QString MqttHost = QStringLiteral("Host");
inline const QString MqttPort = QStringLiteral("Port");
inline const QString MqttTopic = QStringLiteral("Topic");
inline const QString MqttClientId = QStringLiteral("ClientId");
inline const QString MqttUser = QStringLiteral("User");
inline const QString MqttPasswordFile = QStringLiteral("PasswordFile");
inline const QString MqttCaFile = QStringLiteral("CaFile");
inline const QString Modbus = QStringLiteral("Modbus");
inline const QString ModbusListen = QStringLiteral("Listen");
inline const QString ModbusMaxClients = QStringLiteral("MaxClients");
// The read-only web view (no Listen: none); away from the loopback only with a token and TLS.
inline const QString Web = QStringLiteral("Web");
inline const QString WebListen = QStringLiteral("Listen");
inline const QString WebTokenFile = QStringLiteral("TokenFile");
inline const QString WebCertFile = QStringLiteral("CertFile");
inline const QString WebKeyFile = QStringLiteral("KeyFile");
inline const QString WebMaxClients = QStringLiteral("MaxClients");
// HistoryLine0 .. HistoryLine7
QString HistoryLineKey(int index);
} // namespace SettingsKey

inline const QString SettingsFileName = QStringLiteral("Data.ini");

// Polling intervals a start accepts; outside them the timer would never tick.
inline constexpr int MinPollInterval = 1;
inline constexpr int MaxPollInterval = 86400;

struct TStartupSettings {
    QString DataPath;
    int BaudSetting = 0;
    int PollInterval = 0;
    int RecordCycle = 0;
    QString PortName;
    // The texts of repairs that could not be written; the values in memory are used all the same.
    QStringList WriteErrors;
};

// Path, Bate, Interval_S, RunTimer and Port in that order, each missing or unusable value
// replaced by its default in the file and in the result (an Interval_S outside 1..86400 and a
// RunTimer below 1 are unusable). A repair that cannot be written is noted, not thrown: the
// monitoring must not stop for the settings file. The caller opens the port before the address.
TStartupSettings ReadStartupSettings(TIniFile& ini, const QString& startDir);
// ApparatusAddress; 255 counts as missing and is replaced by 0. A failed write is added to
// `writeErrors`.
int ReadSelectedAddress(TIniFile& ini, QStringList& writeErrors);

// Why a Data.ini that is there cannot be read; empty when it is missing (the defaults hold then) or
// readable. Defaults in place of a file that exists would poll the wrong port.
QString UnreadableSettings(const QString& file);

} // namespace zeva
