// The start-up read-and-repair of Data.ini.
#include "Settings.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zeva {

QString SettingsKey::HistoryLineKey(int index)
{
    return QStringLiteral("HistoryLine%1").arg(index);
}

namespace {

void writeRepair(TIniFile& ini, const QString& key, const QString& value, QStringList& errors)
{
    try {
        ini.WriteString(SettingsKey::Info, key, value);
    } catch (const EIniFileError& e) {
        QString text = QString::fromUtf8(e.what());
        if (!errors.contains(text))
            errors << text;
    }
}

QString repairedText(TIniFile& ini, const QString& key, const QString& replacement, QStringList& errors)
{
    QString value = ini.ReadString(SettingsKey::Info, key, QString());
    if (value.trimmed().isEmpty()) {
        writeRepair(ini, key, replacement, errors);
        return replacement;
    }
    return value;
}

template <typename Usable>
int repairedInteger(TIniFile& ini, const QString& key, int missing, int replacement, QStringList& errors,
                    Usable usable)
{
    int value = ini.ReadInteger(SettingsKey::Info, key, missing);
    if (value == missing || !usable(value)) {
        writeRepair(ini, key, QString::number(replacement), errors);
        return replacement;
    }
    return value;
}

bool any(int)
{
    return true;
}

} // namespace

TStartupSettings ReadStartupSettings(TIniFile& ini, const QString& startDir)
{
    TStartupSettings s;
    QStringList& e = s.WriteErrors;
    s.DataPath = repairedText(ini, SettingsKey::Path, startDir, e);
    s.BaudSetting = repairedInteger(ini, SettingsKey::Bate, 0, 9600, e, any);
    s.PollInterval = repairedInteger(ini, SettingsKey::Interval_S, 0, 3, e,
                                     [](int v) { return v >= MinPollInterval && v <= MaxPollInterval; });
    s.RecordCycle = repairedInteger(ini, SettingsKey::RunTimer, 0, 60, e, [](int v) { return v >= 1; });
    s.PortName = repairedText(ini, SettingsKey::Port, QStringLiteral("COM1"), e);
    return s;
}

int ReadSelectedAddress(TIniFile& ini, QStringList& writeErrors)
{
    return repairedInteger(ini, SettingsKey::ApparatusAddress, 255, 0, writeErrors, any);
}

QString UnreadableSettings(const QString& file)
{
    const QFileInfo info(file);
    if (!info.exists() && !info.isSymLink())
        return {};
    if (!info.isFile())
        return QStringLiteral("不是文件");
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return {};
}

} // namespace zeva
