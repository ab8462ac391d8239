// The start-up read-and-repair of Data.ini.
#include "Settings.h"

namespace zeva {

QString SettingsKey::HistoryLineKey(int index)
{
    return QStringLiteral("HistoryLine%1").arg(index);
}

namespace {

QString repairedText(TIniFile& ini, const QString& key, const QString& replacement)
{
    QString value = ini.ReadString(SettingsKey::Info, key, QString());
    if (value.trimmed().isEmpty()) {
        ini.WriteString(SettingsKey::Info, key, replacement);
        return replacement;
    }
    return value;
}

int repairedInteger(TIniFile& ini, const QString& key, int missing, int replacement)
{
    int value = ini.ReadInteger(SettingsKey::Info, key, missing);
    if (value == missing) {
        ini.WriteInteger(SettingsKey::Info, key, replacement);
        return replacement;
    }
    return value;
}

} // namespace

TStartupSettings ReadStartupSettings(TIniFile& ini, const QString& startDir)
{
    TStartupSettings s;
    s.DataPath = repairedText(ini, SettingsKey::Path, startDir);
    s.BaudSetting = repairedInteger(ini, SettingsKey::Bate, 0, 9600);
    s.PollInterval = repairedInteger(ini, SettingsKey::Interval_S, 0, 3);
    s.RecordCycle = repairedInteger(ini, SettingsKey::RunTimer, 0, 60);
    s.PortName = repairedText(ini, SettingsKey::Port, QStringLiteral("COM1"));
    return s;
}

int ReadSelectedAddress(TIniFile& ini)
{
    return repairedInteger(ini, SettingsKey::ApparatusAddress, 255, 0);
}

} // namespace zeva
