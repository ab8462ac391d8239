// zeva-recorder: the monitoring core without a window, for unattended stations. Reads Data.ini as
// the main window does, polls and records, reopens the port after a hang-up, keeps the journal,
// and says every start, stop, change of state and alarm on the standard error output.
#include "ErrorLog.h"
#include "Faults.h"
#include "MonitorCore.h"
#include "StopSignals.h"

#include "ProgramInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

using namespace zeva;

namespace {

const char* const Help =
    "usage: zeva-recorder [--dir DIR] [--help | --version]\n"
    "  Polls the ZEVA5000/5001/5002 temperature controllers on one serial bus and records their\n"
    "  readings and alarms, without a window. Reads DIR/Data.ini (default: the working folder) as\n"
    "  zeva-monitor does; the database is Path/DataBase/Data.db (zeva-initdb).\n"
    "  Logs to the standard error output. SIGTERM or SIGINT stop it cleanly.\n"
    "  Exit codes: 0 stopped, 2 the port cannot be opened, 3 no database, 64 wrong arguments.\n";

constexpr int ExitUsage = 64;

int usage(const char* problem)
{
    std::fprintf(stderr, "zeva-recorder: %s\n%s", problem, Help);
    return ExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    if (AnswerInfoOption(argc, argv, "zeva-recorder", Help))
        return 0;
    QString dir = QDir::currentPath();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc)
            dir = QString::fromLocal8Bit(argv[++i]);
        else if (std::strncmp(argv[i], "--dir=", 6) == 0)
            dir = QString::fromLocal8Bit(argv[i] + 6);
        else
            return usage((std::string("unknown argument: ") + argv[i]).c_str());
    }
    CatchStopSignals(); // a stop during the start is a clean stop too
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zeva-recorder"));
    if (!QFileInfo(dir).isDir())
        return usage(("no such folder: " + dir.toStdString()).c_str());
    dir = QFileInfo(dir).absoluteFilePath();

    TMonitorCore core;
    core.ReadSettings(dir);
    const TMainState& s = core.State();
    LogError(QStringLiteral("启动 %1：文件夹 %2，串口 %3，波特率 %4，间隔 %5 秒，记录周期 %6")
                 .arg(QString::fromLatin1(ProgramVersion), dir, s.PortName)
                 .arg(s.BaudSetting)
                 .arg(s.PollInterval)
                 .arg(s.RecordCycle));
    try {
        core.OpenPort();
    } catch (const std::exception& e) {
        LogError(QStringLiteral("串口 %1 无法打开：").arg(s.PortName) + PortCauseText(e));
        return ExitPortFailed;
    }
    core.ReadSelection();
    if (!core.OpenDatabase()) {
        LogError(QStringLiteral("数据库不在 ") + s.DataPath + QStringLiteral("/DataBase 目录下：") +
                 TDatabase::FileFor(s.DataPath) + QStringLiteral("：") + core.OpenError());
        return ExitDatabaseFailed;
    }
    // Repairs of Data.ini that could not be written: the values in memory serve.
    for (const QString& error : core.TakeWriteErrors())
        LogError(error);
    core.StartPolling();
    QStringList polled;
    for (uint8_t a : core.Health().Polled())
        polled << core.Health().InstrumentText(a);
    LogError(polled.isEmpty() ? QStringLiteral("没有启用的仪表：不轮询")
                              : QStringLiteral("轮询 %1 台仪表：").arg(polled.size()) + polled.join(QStringLiteral("，")));

    InstallStopSignals([] { QCoreApplication::exit(0); });
    const int rc = QCoreApplication::exec();
    core.Stop();
    const TRecordWriter* writer = core.RecordWriter();
    LogError(QStringLiteral("停止：本次写入 %1 条记录").arg(writer ? writer->Written() : 0));
    return rc;
}
