// The keys of Data.ini and the start-up read-and-repair of section "Info".
#pragma once

#include "IniFile.h"

#include <QString>

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
// HistoryLine0 .. HistoryLine7
QString HistoryLineKey(int index);
} // namespace SettingsKey

inline const QString SettingsFileName = QStringLiteral("Data.ini");

struct TStartupSettings {
    QString DataPath;
    int BaudSetting = 0;
    int PollInterval = 0;
    int RecordCycle = 0;
    QString PortName;
};

// Path, Bate, Interval_S, RunTimer and Port in that order, each missing value replaced by its
// default in the file and in the result. The caller opens the port before the address is read.
TStartupSettings ReadStartupSettings(TIniFile& ini, const QString& startDir);
// ApparatusAddress; 255 counts as missing and is replaced by 0.
int ReadSelectedAddress(TIniFile& ini);

} // namespace zeva
