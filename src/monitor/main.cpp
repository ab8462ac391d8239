// zeva-monitor: the program entry. Creates the main window, runs the event loop, and ends with the
// window. SIGTERM and SIGINT close every box and window first; the window's close step then closes
// the port and writes the readings still waiting.
#include "Application.h"
#include "FrmMain.h"
#include "FrmDataBase.h"
#include "FrmSetParm.h"

#include <QGuiApplication>
#include <QScreen>

int main(int argc, char** argv)
{
    zeva::CatchStopSignals(); // a stop in the first milliseconds is a clean stop too
    zeva::TApplication app(argc, argv);
    zeva::RegisterConfigurationWindow();
    zeva::RegisterHistoryWindows();
    zeva::InstallStopSignals();
    zeva::TFrmMain window;

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
