// The stop on a signal: the handler only writes a byte; the application's loop does the rest.
#include "StopSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace zeva {

namespace {

int g_signalSocket[2] = {-1, -1};
std::function<void()> g_onStop;

void onSignal(int)
{
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalSocket[1], &c, 1);
}

} // namespace

void CatchStopSignals()
{
    // A reader of the standard error output that went away must not end the program.
    ::signal(SIGPIPE, SIG_IGN);
    if (g_signalSocket[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSocket) != 0)
        return;
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr); // the terminal it was started from closed
}

void InstallStopSignals(std::function<void()> onStop)
{
    CatchStopSignals();
    g_onStop = std::move(onStop);
    static bool listening = false;
    if (listening || g_signalSocket[0] < 0)
        return;
    listening = true;
    auto* notifier = new QSocketNotifier(g_signalSocket[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        // Drained, or the notifier fires for ever.
        char buffer[64];
        while (::read(g_signalSocket[0], buffer, sizeof buffer) > 0) {
        }
        if (g_onStop)
            g_onStop();
    });
}

} // namespace zeva
