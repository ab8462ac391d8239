// forward_until DATA CONNINFO STATION [STEP N]: forwards DATA's station database to the central one
// until all is sent (exit 0, or 1 after 60 s), or ends the process without a word at the Nth time
// the readings' path reaches STEP (exit 9), as a kill or a power cut would.
#include "CentralSettings.h"
#include "Forwarder.h"

#include <QCoreApplication>

#include <chrono>
#include <string>
#include <thread>

#include <unistd.h>

using namespace zeva;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4 && argc != 6)
        return 64;
    TCentralConfig config = ParseConnInfo(QString::fromUtf8(argv[2]));
    config.station = QString::fromUtf8(argv[3]);
    TForwarder::TOptions options;
    options.batch = 300;
    options.idle = std::chrono::milliseconds(50);
    const std::string target = argc == 6 ? argv[4] : "";
    int left = argc == 6 ? std::stoi(argv[5]) : 0;
    options.onStep = [&](std::string_view step) {
        if (step == target && --left == 0)
            ::_exit(9);
    };
    TForwarder forwarder(QString::fromUtf8(argv[1]), config, {}, options);
    forwarder.Start();
    for (int i = 0; i < 600; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (forwarder.Status().state == TForwarder::TState::Synced)
            return forwarder.Stop() ? 0 : 2;
    }
    return 1;
}
