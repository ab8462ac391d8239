// zeva-monitor: the program entry. Creates the monitoring core and the main window over it, wires
// the other windows to the same core, runs the event loop, and ends with the window. SIGTERM and
// SIGINT close every box and window first; the window's close step then closes the port and
// writes the readings still waiting.
#include "Application.h"
#include "FrmMain.h"
#include "MonitorCore.h"
#include "StopSignals.h"
#include "Windows.h"

#include "ProgramInfo.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLocale>
#include <QScreen>

#include <string>

namespace {

const zeva::TProgramInfo Program{
    "zeva-monitor",
    "usage: zeva-monitor\n"
    "       zeva-monitor -h | --help | --version\n",
    "  Monitors the ZEVA5000/5001/5002 temperature controllers on one serial bus: polls, shows, records.\n"
    "  Its configuration is Data.ini in the folder it is started in (section Info: Path, Port, Bate,\n"
    "  Interval_S, RunTimer, ApparatusAddress); the database is Path/DataBase/Data.db (zeva-initdb).\n"
    "  SIGTERM, SIGINT or SIGHUP close every box and window and end it.\n"};

} // namespace

int main(int argc, char** argv)
{
    // Answered before a display is needed or Data.ini is read.
    if (zeva::AnswerInfoOption(argc, argv, Program))
        return zeva::ExitOk;
    // Everything else is Data.ini's (Qt's own settings come from its environment variables).
    if (argc > 1)
        return zeva::UsageError(Program, std::string("unknown argument: ") + argv[1]);
    zeva::CatchStopSignals(); // a stop in the first milliseconds is a clean stop too
    zeva::TApplication app(argc, argv);
    zeva::InstallQtChineseTexts(QLocale::system());
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon); // every window, boxes included (_NET_WM_ICON)
    zeva::InstallStopSignals([] { zeva::StopApplication(0); });
    zeva::TMonitorCore core;
    zeva::TFrmMain window(core);
    zeva::WireWindows(window);

    // Maximised; without a window manager (Xvfb) only an explicit geometry fills the screen.
    window.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    window.showMaximized();
    int rc = app.exec();
    // A stop by signal leaves the loops with the window still open: its close step runs now,
    // after every modal window's own close step has run.
    if (window.isVisible())
        window.close();
    return rc != 0 ? rc : window.ExitCode();
}
