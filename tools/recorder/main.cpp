// zeva-recorder: the monitoring core without a window, for unattended stations. Reads Data.ini as
// the main window does, polls and records, reopens the port after a hang-up, keeps the journal,
// and says every start, stop, change of state and alarm on the standard error output.
#include "ErrorLog.h"
#include "Faults.h"
#include "MonitorCore.h"
#include "Settings.h"
#include "StopSignals.h"

#include "ProgramInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cerrno>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <unistd.h>

using namespace zeva;

namespace {

const TProgramInfo Program{
    "zeva-recorder",
    "usage: zeva-recorder [--dir DIR]\n"
    "       zeva-recorder -h | --help | --version\n",
    "  Polls the ZEVA5000/5001/5002 temperature controllers on one serial bus and records their\n"
    "  readings and alarms, without a window. Reads DIR/Data.ini (default: the working folder) as\n"
    "  zeva-monitor does; the database is Path/DataBase/Data.db (zeva-initdb).\n"
    "  Logs to the standard error output. SIGTERM, SIGINT or SIGHUP stop it cleanly.\n"};

void logAll(const QStringList& lines)
{
    for (const QString& line : lines)
        LogError(line);
}

// What the recorder says between the core's start-up steps.
class TRecorderStart : public TStartupSteps {
public:
    TRecorderStart(TMonitorCore& core, const QString& dir) : m_core(core), m_dir(dir) {}
    int databaseExit = ExitDatabaseFailed;

    void SettingsRead() override
    {
        const TMainState& s = m_core.State();
        LogError(QStringLiteral("启动 %1：文件夹 %2，串口 %3，波特率 %4，间隔 %5 秒，记录周期 %6")
                     .arg(QString::fromLatin1(ProgramVersion), m_dir, s.PortName)
                     .arg(s.BaudSetting)
                     .arg(s.PollInterval)
                     .arg(s.RecordCycle));
        // Before the port: a repair that could not be written explains what follows.
        logAll(m_core.TakeWriteErrors());
    }
    void PortFailed(const std::exception& e) override
    {
        LogError(QStringLiteral("串口 %1 无法打开：").arg(m_core.State().PortName) + PortCauseText(e));
    }
    bool WaitForMissingPort(const std::exception& e) override
    {
        // An adapter plugged in after the boot: the recorder records nothing meanwhile, but it
        // forwards, serves and publishes, and polls once the device is there.
        LogError(QStringLiteral("串口 %1 暂不可用：").arg(m_core.State().PortName) + PortCauseText(e) +
                 QStringLiteral("每 2 秒重试，设备出现后开始轮询"));
        return true;
    }
    void SelectionRead() override { logAll(m_core.TakeWriteErrors()); }
    void DatabaseFailed() override
    {
        const QString path = m_core.State().DataPath;
        const QString file = TDatabase::FileFor(path);
        if (!QFileInfo::exists(file)) {
            LogError(QStringLiteral("数据库不在 ") + path + QStringLiteral("/DataBase 目录下：") + file +
                     QStringLiteral("：") + m_core.OpenError());
            databaseExit = ExitDatabaseFailed;
            return;
        }
        // There, but not to be had now: systemd tries again.
        LogError(QStringLiteral("数据库 %1 无法打开：").arg(file) + m_core.OpenError());
        databaseExit = ExitTryLater;
    }
    void DatabaseInUse(const QString& text) override { LogError(text); }
    void PollingStarted() override
    {
        QStringList polled;
        for (uint8_t a : m_core.Health().Polled())
            polled << m_core.Health().InstrumentText(a);
        LogError(polled.isEmpty() ? QStringLiteral("没有启用的仪表：不轮询")
                                  : QStringLiteral("轮询 %1 台仪表：").arg(polled.size()) + polled.join(QStringLiteral("，")));
    }

private:
    TMonitorCore& m_core;
    QString m_dir;
};

} // namespace

int main(int argc, char** argv)
{
    if (AnswerInfoOption(argc, argv, Program))
        return ExitOk;
    QString dir = QDir::currentPath();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc)
            dir = QString::fromLocal8Bit(argv[++i]);
        else if (std::strncmp(argv[i], "--dir=", 6) == 0)
            dir = QString::fromLocal8Bit(argv[i] + 6);
        else
            return UsageError(Program, std::string("unknown argument: ") + argv[i]);
    }
    CatchStopSignals(); // a stop during the start is a clean stop too
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zeva-recorder"));
    if (!QFileInfo(dir).isDir())
        return UsageError(Program, "no such folder: " + dir.toStdString());
    dir = QFileInfo(dir).absoluteFilePath();
    // Relative names in Data.ini mean what they mean to the window started in that folder.
    QDir::setCurrent(dir);
    const QString settings = dir + QLatin1Char('/') + SettingsFileName;
    if (const QString why = UnreadableSettings(settings); !why.isEmpty()) {
        LogError(QStringLiteral("%1 无法读取：%2").arg(settings, why));
        return ExitConfig;
    }

    TMonitorCore core;
    core.SetProgram(QStringLiteral("recorder"));
    TRecorderStart steps(core, dir);
    try {
        switch (core.Start(dir, steps)) {
        case TMonitorCore::TStartResult::PortFailed: return ExitPortFailed;
        case TMonitorCore::TStartResult::DatabaseFailed: return steps.databaseExit;
        case TMonitorCore::TStartResult::DatabaseInUse: return ExitDatabaseInUse;
        case TMonitorCore::TStartResult::Started: break;
        }
    } catch (const EDatabaseError& e) {
        // A file that opens but holds no registry is no database of ours: the operator's to mend.
        LogError(QStringLiteral("数据库 %1 无法使用：").arg(TDatabase::FileFor(core.State().DataPath)) +
                 QString::fromUtf8(e.what()));
        return ExitDatabaseFailed;
    }

    InstallStopSignals([] { QCoreApplication::exit(0); });
    const int rc = QCoreApplication::exec();
    core.Stop();
    const TRecordWriter* writer = core.RecordWriter();
    LogError(QStringLiteral("停止：本次写入 %1 条记录").arg(writer ? writer->Written() : 0));
    return core.LostAtStop() > 0 ? ExitReadingsLost : rc;
}
