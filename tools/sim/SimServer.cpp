// The simulator's process loop.
#include "SimServer.h"

#include "LinuxSpeed.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zeva::sim {

namespace {

int64_t nowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

constexpr int64_t SplitPauseUs = 150000;   // a pause inside a reply that splits it for the PC's reader
constexpr int64_t NoiseWithinUs = 200000;  // noise follows a reply by 0 to 200 ms: joined under 100 ms
constexpr int64_t ReleaseAfterUs = 100000; // the line is free again once nobody has held it this long
constexpr int64_t IdleCheckUs = 20000;     // how often a line nobody holds is looked at

} // namespace

TSimServer::TSimServer(TSimOptions options) : m_opt(std::move(options)), m_rng(m_opt.seed)
{
    uint32_t seed = m_opt.seed;
    for (const auto& in : m_opt.instruments)
        m_bus.AddInstrument(uint8_t(in.address), uint8_t(in.model), in.temp, seed++, in.baud);
}

TSimServer::~TSimServer()
{
    if (m_plugged) {
        ::unlink(m_opt.link.c_str());
        ::close(m_master);
    }
    if (m_control >= 0)
        ::close(m_control);
    if (m_controlKeep >= 0)
        ::close(m_controlKeep);
    if (m_createdFifo)
        ::unlink(m_opt.control.c_str());
    if (m_log)
        std::fclose(m_log);
}

bool TSimServer::plug()
{
    int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0 || ::grantpt(m) != 0 || ::unlockpt(m) != 0) {
        std::perror("zeva-sim: pseudo-terminal");
        if (m >= 0)
            ::close(m);
        return false;
    }
    ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
    // The line starts in the kernel's defaults, as a port another program left: the PC side sets
    // it up. Nobody holds the slave, so the master sees when the last client lets go.
    m_slaveName = ::ptsname(m);
    std::string tmp = m_opt.link + ".new";
    ::unlink(tmp.c_str());
    if (::symlink(m_slaveName.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), m_opt.link.c_str()) != 0) {
        std::fprintf(stderr, "zeva-sim: cannot link %s: %s\n", m_opt.link.c_str(), std::strerror(errno));
        ::close(m);
        return false;
    }
    m_master = m;
    m_plugged = true;
    m_inUse = false;
    m_hupSinceUs = -1;
    return true;
}

void TSimServer::unplug()
{
    if (!m_plugged)
        return;
    ::unlink(m_opt.link.c_str());
    ::close(m_master); // the client's port hangs up, as when a USB adapter is pulled
    m_master = -1;
    m_plugged = false;
    m_planned = {};
}

bool TSimServer::hungUp() const
{
    pollfd p{m_master, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

void TSimServer::releaseLine()
{
    // A real port forgets TIOCEXCL when its last descriptor closes; a pty keeps it while its
    // master lives. Clear it where we may; where we may not (a client without root rights set
    // it and died), the line is replaced by a new one at the same path.
    int fd = ::open(m_slaveName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return;
    }
    ::close(m_master);
    m_master = -1;
    m_plugged = false;
    plug();
}

void TSimServer::log(const char* kind, const uint8_t* bytes, std::size_t n)
{
    if (!m_log)
        return;
    std::fprintf(m_log, "%lld %s", (long long)(nowUs() / 1000), kind);
    for (std::size_t i = 0; i < n; ++i)
        std::fprintf(m_log, " %02X", bytes[i]);
    std::fputc('\n', m_log);
    std::fflush(m_log);
}

void TSimServer::logText(const char* kind, const std::string& text)
{
    if (!m_log)
        return;
    std::fprintf(m_log, "%lld %s %s\n", (long long)(nowUs() / 1000), kind, text.c_str());
    std::fflush(m_log);
}

bool TSimServer::happens(double share)
{
    return share > 0 && m_chance(m_rng) < share;
}

std::vector<uint8_t> TSimServer::randomBytes(std::size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes)
        b = uint8_t(m_rng());
    return bytes;
}

void TSimServer::plan(int64_t dueUs, std::vector<uint8_t> bytes, const char* logKind, std::vector<uint8_t> logBytes)
{
    m_planned.push({dueUs, m_order++, std::move(bytes), logKind, std::move(logBytes), dueUs});
}

int64_t TSimServer::transmit(const std::vector<uint8_t>& bytes, uint32_t baud, int64_t start, std::size_t cut,
                             const char* logKind)
{
    // Ten bit times per byte (start, eight data bits, stop); one sender waits for the one before
    // it to leave the line. The bytes reach the PC's port as a 16550 UART hands them on: in groups
    // of its receive FIFO's trigger level, each once its last byte is in, a short group after a
    // further four character times. Linux's 8250 driver sets the trigger to one byte below
    // 2400 baud. A pause of 150 ms at `cut` splits the bytes for the PC's reader.
    const int64_t byteUs = 10000000 / std::max<uint32_t>(baud, 1);
    const std::size_t fifo = baud >= 2400 ? 8 : 1;
    int64_t end = std::max(start, m_lineFreeAtUs), handedOn = end;
    for (std::size_t first = 0; first < bytes.size();) {
        std::size_t last = std::min(first + fifo, first < cut ? cut : bytes.size());
        if (first == cut)
            end += SplitPauseUs;
        end += int64_t(last - first) * byteUs;
        handedOn = end + (last - first < fifo ? 4 * byteUs : 0);
        plan(handedOn, std::vector<uint8_t>(bytes.begin() + std::ptrdiff_t(first), bytes.begin() + std::ptrdiff_t(last)),
             first == 0 ? logKind : nullptr, first == 0 ? bytes : std::vector<uint8_t>{});
        first = last;
    }
    m_lineFreeAtUs = end;
    return handedOn;
}

uint32_t TSimServer::lineBaud() const
{
    uint32_t baud = m_plugged ? posix::CurrentSpeed(m_master) : 0;
    return baud ? baud : 9600;
}

void TSimServer::planReply(const TFrame& reply, uint32_t baud, int64_t now, std::size_t requestBytes)
{
    // The instrument answers once the whole request has arrived.
    const int64_t byteUs = 10000000 / std::max<uint32_t>(baud, 1);
    int64_t start = now + int64_t(requestBytes) * byteUs + int64_t(m_opt.delayMs) * 1000;
    std::vector<uint8_t> bytes(reply.data(), reply.data() + reply.size);
    if (happens(m_opt.corrupt))
        bytes.back() ^= 0xFF;
    std::size_t cut = bytes.size();
    if (happens(m_opt.split) && bytes.size() > 1)
        cut = 1 + std::size_t(m_rng() % (bytes.size() - 1));
    int64_t handedOn = transmit(bytes, baud, start, cut, "TX");
    auto after = std::find_if(m_sendAfter.begin(), m_sendAfter.end(), [&](const auto& s) { return s.first == reply[0]; });
    if (after != m_sendAfter.end()) {
        handedOn = transmit(after->second, baud, handedOn + SplitPauseUs, after->second.size(), "TXSEND");
        m_sendAfter.erase(after);
    }
    if (happens(m_opt.noise)) {
        // Interference after the reply: never before its last bytes reach the PC.
        std::vector<uint8_t> junk = randomBytes(1 + m_rng() % 8);
        int64_t at = handedOn + int64_t(m_chance(m_rng) * double(NoiseWithinUs));
        plan(at, junk, "TXNOISE", junk);
    }
}

void TSimServer::writeDue(int64_t now)
{
    while (!m_planned.empty() && m_planned.top().dueUs <= now) {
        TPlannedWrite w = m_planned.top();
        m_planned.pop();
        if (!m_plugged)
            continue;
        ssize_t n = ::write(m_master, w.bytes.data(), w.bytes.size());
        std::size_t done = n > 0 ? std::size_t(n) : 0;
        if (done > 0 && w.logKind) {
            log(w.logKind, w.logBytes.data(), w.logBytes.size());
            w.logKind = nullptr;
        }
        // A full pty (nobody reading) takes the rest later; after a second of that it is dropped.
        if (done < w.bytes.size() && now - w.firstDueUs < 1000000) {
            w.bytes.erase(w.bytes.begin(), w.bytes.begin() + std::ptrdiff_t(done));
            w.dueUs = now + 1000;
            m_planned.push(std::move(w));
            break;
        }
    }
}

void TSimServer::receive(int64_t now)
{
    uint8_t buf[4096];
    ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n <= 0)
        return;
    int64_t nowMs = now / 1000;
    m_bus.Advance(nowMs);
    // The speed the PC set on its port: an instrument at another speed hears only noise.
    uint32_t lineBaud = posix::CurrentSpeed(m_master);
    for (auto& e : m_bus.Receive(buf, std::size_t(n), nowMs, lineBaud)) {
        log(e.junk ? "RXJUNK" : "RX", e.bytes.data(), e.bytes.size());
        if (!e.reply || happens(m_opt.drop))
            continue;
        planReply(*e.reply, lineBaud ? lineBaud : 9600, now, e.bytes.size());
    }
}

void TSimServer::apply(const TControlCommand& c)
{
    using K = TControlCommand::Kind;
    TSimInstrument* in = c.address >= 0 ? m_bus.Find(uint8_t(c.address)) : nullptr;
    if (c.address >= 0 && !in) {
        std::fprintf(stderr, "zeva-sim: control: no instrument at %d\n", c.address);
        return;
    }
    switch (c.kind) {
    case K::Temp: in->Pin(c.temps); break;
    case K::Wander: in->Release(); break;
    case K::Door: in->setDoorOpen(c.on); break;
    case K::Fault: in->setFault(c.on, c.phase); break;
    case K::Present: in->setPresent(c.on); break;
    case K::Baud: in->setLineBaud(c.baud); break;
    case K::Share: {
        double& share = c.share == "drop"      ? m_opt.drop
                        : c.share == "corrupt" ? m_opt.corrupt
                        : c.share == "split"   ? m_opt.split
                                               : m_opt.noise;
        share = c.value;
        break;
    }
    case K::Delay: m_opt.delayMs = int(c.value); break;
    case K::Burst: {
        // A babbling device on the line: its bytes take their time and hold the line meanwhile.
        std::vector<uint8_t> junk = randomBytes(std::size_t(c.value));
        transmit(junk, lineBaud(), nowUs(), junk.size(), "TXNOISE");
        break;
    }
    case K::Send:
        if (c.after >= 0 && !m_bus.Find(uint8_t(c.after)))
            std::fprintf(stderr, "zeva-sim: control: no instrument at %d\n", c.after);
        else if (c.after >= 0)
            m_sendAfter.emplace_back(uint8_t(c.after), c.bytes);
        else
            transmit(c.bytes, lineBaud(), nowUs(), c.bytes.size(), "TXSEND");
        break;
    case K::Unplug:
        unplug();
        std::printf("zeva-sim: unplugged %s\n", m_opt.link.c_str());
        std::fflush(stdout);
        break;
    case K::Plug:
        if (!m_plugged && plug()) {
            std::printf("zeva-sim: plugged %s (%s)\n", m_opt.link.c_str(), m_slaveName.c_str());
            std::fflush(stdout);
        }
        break;
    }
}

void TSimServer::readControl()
{
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(m_control, buf, sizeof buf);
        if (n <= 0)
            break;
        m_controlPending.append(buf, std::size_t(n));
    }
    for (std::size_t eol; (eol = m_controlPending.find('\n')) != std::string::npos;) {
        std::string line = m_controlPending.substr(0, eol);
        m_controlPending.erase(0, eol + 1);
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        TParsedControl parsed = ParseControlLine(line);
        if (parsed.command) {
            apply(*parsed.command);
            logText("CTL", line);
        } else
            std::fprintf(stderr, "zeva-sim: control: %s (%s)\n", parsed.error.c_str(), line.c_str());
    }
}

bool TSimServer::openFiles()
{
    if (!m_opt.log.empty()) {
        m_log = std::fopen(m_opt.log.c_str(), "a");
        if (!m_log) {
            std::fprintf(stderr, "zeva-sim: cannot open log %s: %s\n", m_opt.log.c_str(), std::strerror(errno));
            return false;
        }
    }
    if (m_opt.control.empty())
        return true;
    struct stat st{};
    if (::stat(m_opt.control.c_str(), &st) != 0) {
        if (::mkfifo(m_opt.control.c_str(), 0600) != 0) {
            std::fprintf(stderr, "zeva-sim: cannot make %s: %s\n", m_opt.control.c_str(), std::strerror(errno));
            return false;
        }
        m_createdFifo = true;
    }
    m_control = ::open(m_opt.control.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    // Our own writer keeps the FIFO from reading as ended between the writers that come and go.
    m_controlKeep = ::open(m_opt.control.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_control < 0 || m_controlKeep < 0) {
        std::fprintf(stderr, "zeva-sim: cannot open %s: %s\n", m_opt.control.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

TSimServer::TLineWatch TSimServer::watchLine(int64_t now, int64_t& waitUs)
{
    if (!hungUp()) {
        m_inUse = true;
        m_hupSinceUs = -1;
        return TLineWatch::Poll;
    }
    // Nobody holds the line: polled for its hang-up it would wake us at once, so it is looked at
    // now and then instead.
    if (m_inUse && m_hupSinceUs < 0)
        m_hupSinceUs = now;
    if (m_inUse && now - m_hupSinceUs >= ReleaseAfterUs) {
        m_inUse = false;
        m_hupSinceUs = -1;
        releaseLine();
        return TLineWatch::Released;
    }
    waitUs = std::min(waitUs, IdleCheckUs);
    return TLineWatch::Idle;
}

int TSimServer::Run(volatile int& stop)
{
    if (!openFiles())
        return 1;
    if (!plug())
        return 1;

    sigset_t blocked, unblocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &unblocked);
    sigdelset(&unblocked, SIGINT);
    sigdelset(&unblocked, SIGTERM);

    std::printf("zeva-sim: %zu instrument(s) on %s (%s)\n", m_opt.instruments.size(), m_opt.link.c_str(),
                m_slaveName.c_str());
    std::fflush(stdout);

    while (!stop) {
        int64_t now = nowUs();
        writeDue(now);
        for (const auto& e : m_bus.Expire(now / 1000))
            log("RXJUNK", e.bytes.data(), e.bytes.size());

        int64_t waitUs = 200000;
        if (!m_planned.empty())
            waitUs = std::min(waitUs, m_planned.top().dueUs - now);
        waitUs = std::min<int64_t>(waitUs, (TSimBus::FrameGapMs + 10) * 1000);
        pollfd fds[2];
        nfds_t count = 0;
        int masterAt = -1;
        if (m_control >= 0)
            fds[count++] = {m_control, POLLIN, 0};
        if (m_plugged) {
            const TLineWatch watch = watchLine(now, waitUs);
            if (watch == TLineWatch::Released)
                continue;
            if (watch == TLineWatch::Poll) {
                masterAt = int(count);
                fds[count++] = {m_master, POLLIN, 0};
            }
        }
        waitUs = std::max<int64_t>(waitUs, 0);
        timespec ts{time_t(waitUs / 1000000), long(waitUs % 1000000) * 1000};
        int r = ::ppoll(fds, count, &ts, &unblocked);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            std::perror("zeva-sim: poll");
            return 1;
        }
        if (r == 0)
            continue;
        if (m_control >= 0 && (fds[0].revents & POLLIN))
            readControl();
        if (masterAt >= 0 && m_plugged && (fds[masterAt].revents & POLLIN))
            receive(nowUs());
    }
    return 0;
}

} // namespace zeva::sim
