// zeva-sim: a bus of simulated temperature controllers behind a pseudo-terminal.
#include "ProgramInfo.h"
#include "SimServer.h"
#include "UPublic.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace zeva::sim;

namespace {

volatile int g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

// The models by number as the instruments report them; a number beyond the table is a model
// the program does not know.
std::string modelLines()
{
    std::string lines;
    for (int m = 0; m < zeva::ModelCount; ++m) {
        const zeva::TTypeAndCapition t = zeva::GetTypeAndCapition(m);
        char line[160];
        std::snprintf(line, sizeof line, "    %2d  %-11s %s\n", m, t.TypeName.c_str(), t.Capition.c_str());
        lines += line;
    }
    return lines;
}

const zeva::TProgramInfo Program{
    "zeva-sim",
    "usage: zeva-sim --link PATH --instrument ADDR[:MODEL[:TEMP[:BAUD]]] ... [--log FILE]\n"
    "                [--control FIFO] [--drop P] [--corrupt P] [--split P] [--noise P]\n"
    "                [--delay MS] [--seed N]\n"
    "       zeva-sim -h | --help | --version\n",
    "  Simulates a bus of ZEVA temperature controllers behind a pseudo-terminal; PATH becomes a\n"
    "  link to its device, the port to give the program (Data.ini Port=PATH).\n"
    "  ADDR 0-255, MODEL 0-255 (default 2), TEMP the base temperature (default 55),\n"
    "  BAUD the instrument's line speed (default 9600): it answers only a PC at that speed.\n"
    "  Example: --instrument 1 --instrument 2:6:70 --instrument 3:10:40:4800\n"
    "  MODEL, the number the instrument reports (any other is a model the program does not know):\n" +
        modelLines() +
        "  P is a share 0..1 of replies: dropped, sent with a wrong checksum, split in two\n"
        "  by a 150 ms pause, or followed within 200 ms by noise bytes\n"
        "  FIFO: a control channel, one command per line, e.g. echo 'temp 1 90 40 40 0' > FIFO\n"
        "    temp ADDR A B C D        pin the phase temperatures     temp 1 90.5 40 40 0\n"
        "    wander ADDR              let them wander again          wander 1\n"
        "    door ADDR open|closed    the cabinet door               door 2 open\n"
        "    fault ADDR on|off [PH]   sensor fault; a phase PH (A-D) reads 6553.5   fault 1 on B\n"
        "    present ADDR on|off      cut from the bus or back       present 3 off\n"
        "    baud ADDR RATE           the instrument's own speed     baud 1 4800\n"
        "    drop|corrupt|split|noise P   share of replies           drop 0.2\n"
        "    delay MS                 before each reply              delay 300\n"
        "    burst N                  N random bytes on the line     burst 40\n"
        "    send HEX...              these bytes on the line        send 01 3F AA 16\n"
        "    send after ADDR HEX...   the same, 150 ms after ADDR's next reply   send after 1 05 3F 01\n"
        "    unplug | plug            the adapter pulled and put back             unplug\n"};

[[noreturn]] void usage(const std::string& why)
{
    std::exit(zeva::UsageError(Program, why));
}

double shareArg(const char* text, const char* name)
{
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end || v < 0 || v > 1)
        usage(std::string(name) + " wants a share from 0 to 1");
    return v;
}

long intArg(const char* text, long lo, long hi, const char* name)
{
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end || v < lo || v > hi)
        usage(std::string(name) + " out of range");
    return v;
}

TSimOptions parse(int argc, char** argv)
{
    TSimOptions o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc)
                usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "--link")
            o.link = next();
        else if (a == "--log")
            o.log = next();
        else if (a == "--control")
            o.control = next();
        else if (a == "--instrument") {
            std::string text = next();
            TSimOptions::Instrument in{0, 2, 55.0, 9600};
            std::size_t c1 = text.find(':');
            in.address = int(intArg(text.substr(0, c1).c_str(), 0, 255, "address"));
            if (c1 != std::string::npos) {
                std::size_t c2 = text.find(':', c1 + 1);
                in.model = int(intArg(text.substr(c1 + 1, c2 - c1 - 1).c_str(), 0, 255, "model"));
                if (c2 != std::string::npos) {
                    std::size_t c3 = text.find(':', c2 + 1);
                    char* end = nullptr;
                    std::string t = text.substr(c2 + 1, c3 == std::string::npos ? std::string::npos : c3 - c2 - 1);
                    in.temp = std::strtod(t.c_str(), &end);
                    if (end == t.c_str() || *end || in.temp < 0 || in.temp > 6000)
                        usage("bad temperature");
                    if (c3 != std::string::npos)
                        in.baud = uint32_t(intArg(text.substr(c3 + 1).c_str(), 1, 4000000, "baud"));
                }
            }
            o.instruments.push_back(in);
        } else if (a == "--drop")
            o.drop = shareArg(next(), "--drop");
        else if (a == "--corrupt")
            o.corrupt = shareArg(next(), "--corrupt");
        else if (a == "--split")
            o.split = shareArg(next(), "--split");
        else if (a == "--noise")
            o.noise = shareArg(next(), "--noise");
        else if (a == "--delay")
            o.delayMs = int(intArg(next(), 0, 60000, "--delay"));
        else if (a == "--seed")
            o.seed = uint32_t(intArg(next(), 0, 0x7FFFFFFF, "--seed"));
        else
            usage("unknown option " + a);
    }
    if (o.link.empty())
        usage("--link is required");
    if (o.instruments.empty())
        usage("at least one --instrument is required");
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    if (zeva::AnswerInfoOption(argc, argv, Program))
        return zeva::ExitOk;
    TSimOptions opt = parse(argc, argv);
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    TSimServer server(std::move(opt));
    return server.Run(g_stop);
}
