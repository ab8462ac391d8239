// zeva-sim: a bus of simulated temperature controllers behind a pseudo-terminal.
#include "SimBus.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <queue>
#include <random>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace zeva;
using namespace zeva::sim;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

int64_t nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

struct TOptions {
    std::string link;
    std::string log;
    struct Instrument {
        int address;
        int model;
        double temp;
    };
    std::vector<Instrument> instruments;
    double drop = 0, corrupt = 0, split = 0, noise = 0;
    int delayMs = 0;
    uint32_t seed = 1;
};

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
                 "zeva-sim: %s\n"
                 "usage: zeva-sim --link PATH --instrument ADDR[:MODEL[:TEMP]] ... [--log FILE]\n"
                 "                [--drop P] [--corrupt P] [--split P] [--noise P] [--delay MS] [--seed N]\n"
                 "  ADDR 0-255, MODEL 0-255 (default 2), TEMP the base temperature (default 55)\n"
                 "  P is a share 0..1 of replies: dropped, sent with a wrong checksum, split in two\n"
                 "  by a 150 ms pause, or followed 150 ms later by noise bytes\n",
                 why);
    std::exit(2);
}

double shareArg(const char* text, const char* name)
{
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end || v < 0 || v > 1)
        usage((std::string(name) + " wants a share from 0 to 1").c_str());
    return v;
}

long intArg(const char* text, long lo, long hi, const char* name)
{
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end || v < lo || v > hi)
        usage((std::string(name) + " out of range").c_str());
    return v;
}

TOptions parse(int argc, char** argv)
{
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc)
                usage((a + " needs a value").c_str());
            return argv[++i];
        };
        if (a == "--link")
            o.link = next();
        else if (a == "--log")
            o.log = next();
        else if (a == "--instrument") {
            std::string text = next();
            TOptions::Instrument in{0, 2, 55.0};
            std::size_t c1 = text.find(':');
            in.address = int(intArg(text.substr(0, c1).c_str(), 0, 255, "address"));
            if (c1 != std::string::npos) {
                std::size_t c2 = text.find(':', c1 + 1);
                in.model = int(intArg(text.substr(c1 + 1, c2 - c1 - 1).c_str(), 0, 255, "model"));
                if (c2 != std::string::npos) {
                    char* end = nullptr;
                    std::string t = text.substr(c2 + 1);
                    in.temp = std::strtod(t.c_str(), &end);
                    if (end == t.c_str() || *end || in.temp < 0 || in.temp > 6000)
                        usage("bad temperature");
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
        else if (a == "-h" || a == "--help")
            usage("help");
        else
            usage(("unknown option " + a).c_str());
    }
    if (o.link.empty())
        usage("--link is required");
    if (o.instruments.empty())
        usage("at least one --instrument is required");
    return o;
}

class TLog {
public:
    explicit TLog(const std::string& path)
    {
        if (path.empty())
            return;
        m_file = std::fopen(path.c_str(), "a");
        if (!m_file) {
            std::fprintf(stderr, "zeva-sim: cannot open log %s: %s\n", path.c_str(), std::strerror(errno));
            std::exit(1);
        }
    }
    ~TLog()
    {
        if (m_file)
            std::fclose(m_file);
    }
    void line(const char* direction, const uint8_t* bytes, std::size_t n)
    {
        if (!m_file)
            return;
        std::fprintf(m_file, "%lld %s", (long long)nowMs(), direction);
        for (std::size_t i = 0; i < n; ++i)
            std::fprintf(m_file, " %02X", bytes[i]);
        std::fputc('\n', m_file);
        std::fflush(m_file);
    }

private:
    std::FILE* m_file = nullptr;
};

struct TPlannedWrite {
    int64_t due;
    uint64_t order;
    std::vector<uint8_t> bytes;
    bool operator>(const TPlannedWrite& o) const { return due != o.due ? due > o.due : order > o.order; }
};

constexpr int64_t SplitPauseMs = 150;

} // namespace

int main(int argc, char** argv)
{
    TOptions opt = parse(argc, argv);
    TLog log(opt.log);

    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("zeva-sim: pseudo-terminal");
        return 1;
    }
    const char* slaveName = ptsname(master);
    // Holding the slave open keeps the master from seeing a hang-up between clients, and lets the
    // line start raw so nothing is echoed before a client sets it up.
    int slave = open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        std::perror("zeva-sim: open slave");
        return 1;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    unlink(opt.link.c_str());
    if (symlink(slaveName, opt.link.c_str()) != 0) {
        std::fprintf(stderr, "zeva-sim: cannot link %s: %s\n", opt.link.c_str(), std::strerror(errno));
        return 1;
    }

    sigset_t blocked, unblocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &unblocked);
    sigdelset(&unblocked, SIGINT);
    sigdelset(&unblocked, SIGTERM);
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    TSimBus bus;
    uint32_t seed = opt.seed;
    for (const auto& in : opt.instruments)
        bus.AddInstrument(uint8_t(in.address), uint8_t(in.model), in.temp, seed++);
    std::mt19937 rng(opt.seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    auto happens = [&](double share) { return share > 0 && chance(rng) < share; };

    std::priority_queue<TPlannedWrite, std::vector<TPlannedWrite>, std::greater<>> planned;
    uint64_t order = 0;
    auto plan = [&](int64_t due, std::vector<uint8_t> bytes) {
        planned.push({due, order++, std::move(bytes)});
    };

    std::printf("zeva-sim: %zu instrument(s) on %s (%s)\n", opt.instruments.size(), opt.link.c_str(), slaveName);
    std::fflush(stdout);

    std::vector<uint8_t> rx(4096);
    while (!g_stop) {
        int64_t now = nowMs();
        while (!planned.empty() && planned.top().due <= now) {
            const auto& w = planned.top();
            ssize_t n = write(master, w.bytes.data(), w.bytes.size());
            if (n > 0)
                log.line("TX", w.bytes.data(), std::size_t(n));
            planned.pop();
        }
        for (const auto& e : bus.Expire(now))
            log.line("RXJUNK", e.bytes.data(), e.bytes.size());

        // Wake for the next planned write, or to drop a stale partial frame.
        int64_t wait = 200;
        if (!planned.empty())
            wait = std::max<int64_t>(0, planned.top().due - now);
        wait = std::min<int64_t>(wait, TSimBus::FrameGapMs + 10);
        timespec ts{time_t(wait / 1000), long(wait % 1000) * 1000000};
        pollfd pfd{master, POLLIN, 0};
        int r = ppoll(&pfd, 1, &ts, &unblocked);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            std::perror("zeva-sim: poll");
            break;
        }
        if (r == 0 || !(pfd.revents & POLLIN))
            continue;
        ssize_t n = read(master, rx.data(), rx.size());
        if (n <= 0)
            continue;
        now = nowMs();
        bus.Advance(now);
        for (auto& e : bus.Receive(rx.data(), std::size_t(n), now)) {
            log.line(e.junk ? "RXJUNK" : "RX", e.bytes.data(), e.bytes.size());
            if (!e.reply || happens(opt.drop))
                continue;
            std::vector<uint8_t> reply(e.reply->data(), e.reply->data() + e.reply->size);
            if (happens(opt.corrupt))
                reply.back() ^= 0xFF;
            int64_t due = now + opt.delayMs;
            if (happens(opt.split) && reply.size() > 1) {
                std::size_t cut = 1 + std::size_t(rng() % (reply.size() - 1));
                plan(due, std::vector<uint8_t>(reply.begin(), reply.begin() + std::ptrdiff_t(cut)));
                plan(due + SplitPauseMs, std::vector<uint8_t>(reply.begin() + std::ptrdiff_t(cut), reply.end()));
            } else {
                plan(due, std::move(reply));
            }
            if (happens(opt.noise)) {
                std::vector<uint8_t> junk(1 + rng() % 8);
                for (auto& b : junk)
                    b = uint8_t(rng());
                plan(due + SplitPauseMs, std::move(junk));
            }
        }
    }
    unlink(opt.link.c_str());
    close(slave);
    close(master);
    return 0;
}
