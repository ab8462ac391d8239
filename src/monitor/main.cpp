// zeva-monitor: the program entry. Creates the main window, runs the event loop, and ends with the
// window; SIGTERM and SIGINT close the window the same way, so the port is closed first.
#include "Application.h"
#include "FrmMain.h"
#include "FrmDataBase.h"
#include "FrmSetParm.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    char c = 1;
    [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &c, 1);
}

} // namespace

int main(int argc, char** argv)
{
    zeva::TApplication app(argc, argv);
    zeva::RegisterConfigurationWindow();
    zeva::RegisterHistoryWindows();
    zeva::TFrmMain window;

    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe);
    QSocketNotifier stop(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &window, [&] { window.close(); });
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    // Maximised; without a window manager (Xvfb) only an explicit geometry fills the screen.
    window.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    window.showMaximized();
    return app.exec();
}
