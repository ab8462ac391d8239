// zeva-sim as a real peer on its pseudo-terminal: replies byte for byte, writes, faults and the log.
#include "Frames.h"
#include "RxBuffer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/ioctl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zeva;
using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

using V = std::vector<uint8_t>;

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> extra)
    {
        m_dir = fs::temp_directory_path() / ("zeva-sim-test-" + std::to_string(getpid()) + "-" +
                                             std::to_string(s_count++));
        fs::create_directories(m_dir);
        m_link = (m_dir / "bus").string();
        m_log = (m_dir / "sim.log").string();
        m_control = (m_dir / "control").string();
        std::vector<std::string> args{ZEVA_SIM_PATH, "--link", m_link, "--log", m_log, "--control", m_control};
        args.insert(args.end(), extra.begin(), extra.end());
        m_pid = zeva::test::Spawn(args, m_dir.string(), (m_dir / "sim.out").string());
        auto deadline = steady_clock::now() + seconds(10);
        while (!fs::exists(m_link) && steady_clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(5));
    }
    ~SimProcess()
    {
        if (m_fd >= 0)
            close(m_fd);
        Stop();
        fs::remove_all(m_dir);
    }
    int Stop()
    {
        if (m_pid <= 0)
            return m_status;
        m_status = zeva::test::Terminate(m_pid);
        m_pid = -1;
        return m_status;
    }
    const std::string& link() const { return m_link; }
    std::string LogText() const { return zeva::test::ReadText(m_log); }
    void Control(const std::string& line) { ASSERT_TRUE(zeva::test::SimControl(m_control, m_log, line)) << line; }
    const std::string& logPath() const { return m_log; }

    int Open()
    {
        m_fd = open(m_link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        cfsetspeed(&t, B9600); // the instruments' speed: at another one they hear noise
        tcsetattr(m_fd, TCSANOW, &t);
        return m_fd;
    }
    void SetSpeed(speed_t speed)
    {
        termios t{};
        tcgetattr(m_fd, &t);
        cfsetspeed(&t, speed);
        tcsetattr(m_fd, TCSANOW, &t);
    }
    void Close()
    {
        close(m_fd);
        m_fd = -1;
    }
    int fd() const { return m_fd; }
    void Send(const TFrame& f) { ASSERT_EQ(write(m_fd, f.data(), f.size), ssize_t(f.size)); }
    void Send(const V& v) { ASSERT_EQ(write(m_fd, v.data(), v.size()), ssize_t(v.size())); }

    // The bytes that arrive until `gapMs` pass without one, or the deadline; each burst one chunk.
    std::vector<V> Receive(int gapMs, int deadlineMs = 2000, bool firstOnly = false)
    {
        std::vector<V> chunks;
        auto deadline = steady_clock::now() + milliseconds(deadlineMs);
        V current;
        while (steady_clock::now() < deadline) {
            int wait = current.empty() ? int(duration_cast<milliseconds>(deadline - steady_clock::now()).count())
                                       : gapMs;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, std::max(wait, 0)) <= 0) {
                if (current.empty())
                    break;
                chunks.push_back(current);
                current.clear();
                if (firstOnly)
                    break;
                continue;
            }
            uint8_t buf[256];
            ssize_t n = read(m_fd, buf, sizeof buf);
            if (n > 0)
                current.insert(current.end(), buf, buf + n);
        }
        if (!current.empty())
            chunks.push_back(current);
        return chunks;
    }
    V Ask(const TFrame& request)
    {
        Send(request);
        // Replies go out in one write; 120 ms of quiet ends one, half a second of silence means none.
        auto chunks = Receive(120, 500, true);
        return chunks.empty() ? V{} : chunks.front();
    }

private:
    static inline int s_count = 0;
    fs::path m_dir;
    std::string m_link, m_log, m_control;
    int m_pid = -1;
    int m_fd = -1;
    int m_status = 0;
};

V bytes(const TFrame& f)
{
    return {f.data(), f.data() + f.size};
}

} // namespace

TEST(SimPeer, MonitoringRepliesOfEachInstrument)
{
    SimProcess sim({"--instrument", "1:2:45", "--instrument", "7:9:60"});
    ASSERT_GE(sim.Open(), 0);

    V model = sim.Ask(BuildRequest(7, Cmd::Model));
    EXPECT_EQ(model, bytes(BuildModelReply(7, 9)));

    V live = sim.Ask(BuildRequest(1, Cmd::Live));
    ASSERT_EQ(live.size(), FrameLen::Live);
    ASSERT_TRUE(IsReply(live.data(), Cmd::Live));
    TLiveReading r = DecodeLive(live.data());
    EXPECT_EQ(r.address, 1);
    EXPECT_NEAR(r.temps[0], 45, 3);
    EXPECT_EQ(r.OutputStatus & OutputBit::FanAuto, OutputBit::FanAuto);

    V hot = sim.Ask(BuildRequest(7, Cmd::Live));
    ASSERT_TRUE(IsReply(hot.data(), Cmd::Live));
    EXPECT_EQ(DecodeLive(hot.data()).OutputStatus & OutputBit::Fan, OutputBit::Fan) << "60 reaches T2";

    V bb = sim.Ask(BuildRequest(1, Cmd::BlackBox));
    ASSERT_EQ(bb.size(), FrameLen::BlackBox);
    ASSERT_TRUE(IsReply(bb.data(), Cmd::BlackBox));
    TBlackBoxReading b = DecodeBlackBox(bb.data());
    EXPECT_GE(b.highest[0], r.temps[0]);

    EXPECT_TRUE(sim.Ask(BuildRequest(3, Cmd::Live)).empty()) << "no instrument at address 3";
}

TEST(SimPeer, WritesChangeTheParameterStore)
{
    SimProcess sim({"--instrument", "1"});
    ASSERT_GE(sim.Open(), 0);

    EXPECT_EQ(sim.Ask(BuildRequest(1, Cmd::ReadThresholds)),
              bytes(BuildThresholdFrame(1, Cmd::ReadThresholds, {50, 60, 80, 100, 0, 0, 0})));
    sim.Send(BuildThresholdWrite(1, {45, 55, 80, 100, 0, 0, 0}));
    EXPECT_EQ(sim.Ask(BuildRequest(1, Cmd::ReadThresholds)),
              V({0x01, 0x3F, 0x11, 0x01, 0xC2, 0x02, 0x26, 0x03, 0x20, 0x03, 0xE8, 0, 0, 0, 0, 0, 0, 0xB6}));

    sim.Send(BuildCompensationWrite(1, {1.5, 0, 0, 2}));
    EXPECT_EQ(sim.Ask(BuildRequest(1, Cmd::ReadCompensation)),
              bytes(BuildCompensationFrame(1, Cmd::ReadCompensation, {1.5, 0, 0, 2})));
    sim.Send(BuildFanTimingWrite(1, 10, 30));
    EXPECT_EQ(sim.Ask(BuildRequest(1, Cmd::ReadFanTiming)), V({0x01, 0x3F, 0x13, 0x0A, 0x1E, 0x85}));

    sim.Send(BuildForceOutput(1, 2, 0x00));
    V live = sim.Ask(BuildRequest(1, Cmd::Live));
    ASSERT_TRUE(IsReply(live.data(), Cmd::Live));
    EXPECT_EQ(DecodeLive(live.data()).OutputStatus & OutputBit::Trip, OutputBit::Trip) << "forced trip relay";
    sim.Send(BuildForceOutput(1, 2, 0xFF));
    live = sim.Ask(BuildRequest(1, Cmd::Live));
    EXPECT_EQ(DecodeLive(live.data()).OutputStatus & OutputBit::Trip, 0) << "released back to the thresholds";

    sim.Send(BuildBlackBoxClear(1));
    V bb = sim.Ask(BuildRequest(1, Cmd::BlackBox));
    ASSERT_TRUE(IsReply(bb.data(), Cmd::BlackBox));
    EXPECT_EQ(DecodeBlackBox(bb.data()).blackBox, (TPhaseTemps{0, 0, 0, 0}));

    sim.Send(BuildLinkWrite(1, 2, 4800));
    EXPECT_TRUE(sim.Ask(BuildRequest(2, Cmd::ReadLink)).empty()) << "moved to 4800: a PC at 9600 is noise to it";
    sim.SetSpeed(B4800);
    EXPECT_TRUE(sim.Ask(BuildRequest(1, Cmd::ReadLink)).empty()) << "moved away from address 1";
    EXPECT_EQ(sim.Ask(BuildRequest(2, Cmd::ReadLink)), bytes(BuildLinkFrame(2, Cmd::ReadLink, 2, 4)));
}

TEST(SimPeer, DropCorruptAndDelay)
{
    {
        SimProcess sim({"--instrument", "1", "--drop", "1"});
        ASSERT_GE(sim.Open(), 0);
        EXPECT_TRUE(sim.Ask(BuildRequest(1, Cmd::Model)).empty());
        EXPECT_NE(sim.LogText().find(" RX 01 3F 01 BF\n"), std::string::npos) << "heard";
        EXPECT_EQ(sim.LogText().find(" TX "), std::string::npos) << "and dropped";
    }
    {
        SimProcess sim({"--instrument", "1", "--corrupt", "1"});
        ASSERT_GE(sim.Open(), 0);
        V reply = sim.Ask(BuildRequest(1, Cmd::Model));
        ASSERT_EQ(reply.size(), FrameLen::Model);
        EXPECT_FALSE(IsReply(reply.data(), Cmd::Model));
        EXPECT_EQ(reply[3], 2);
    }
    {
        SimProcess sim({"--instrument", "1", "--delay", "400"});
        ASSERT_GE(sim.Open(), 0);
        auto start = steady_clock::now();
        sim.Send(BuildRequest(1, Cmd::Model));
        auto chunks = sim.Receive(50, 3000);
        auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
        ASSERT_EQ(chunks.size(), 1u);
        EXPECT_GE(took, 400);
    }
}

TEST(SimPeer, SplitAndNoiseArriveAsSeparateBursts)
{
    {
        SimProcess sim({"--instrument", "1", "--split", "1"});
        ASSERT_GE(sim.Open(), 0);
        sim.Send(BuildRequest(1, Cmd::Live));
        auto chunks = sim.Receive(100, 1500);
        ASSERT_EQ(chunks.size(), 2u) << "a pause over 100 ms between the parts";
        V whole = chunks[0];
        whole.insert(whole.end(), chunks[1].begin(), chunks[1].end());
        ASSERT_EQ(whole.size(), FrameLen::Live);
        EXPECT_TRUE(IsReply(whole.data(), Cmd::Live));
    }
    {
        SimProcess sim({"--instrument", "1", "--noise", "1"});
        ASSERT_GE(sim.Open(), 0);
        sim.Send(BuildRequest(1, Cmd::Model));
        auto chunks = sim.Receive(250, 1500);
        ASSERT_EQ(chunks.size(), 1u) << "noise follows within 200 ms";
        V reply = bytes(BuildModelReply(1, 2));
        ASSERT_GE(chunks[0].size(), reply.size() + 1);
        EXPECT_LE(chunks[0].size(), reply.size() + 8);
        EXPECT_EQ(V(chunks[0].begin(), chunks[0].begin() + std::ptrdiff_t(reply.size())), reply);
    }
}

TEST(SimPeer, LogHasOneLinePerFrameAndSignalRemovesLink)
{
    SimProcess sim({"--instrument", "1"});
    ASSERT_GE(sim.Open(), 0);
    sim.Ask(BuildRequest(1, Cmd::Model));
    sim.Send(V{0x00, 0x11});
    auto lineCount = [&] {
        std::ifstream in(sim.logPath());
        return std::count(std::istreambuf_iterator<char>(in), {}, '\n');
    };
    // The partial bytes are dropped once they are stale.
    auto deadline = steady_clock::now() + seconds(3);
    while (lineCount() < 3 && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    std::string link = sim.link();
    int status = sim.Stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::is_symlink(link));

    std::ifstream in(sim.logPath());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    auto rest = [](const std::string& l) { return l.substr(l.find(' ') + 1); };
    EXPECT_EQ(rest(lines[0]), "RX 01 3F 01 BF");
    EXPECT_EQ(rest(lines[1]), "TX 01 3F 01 02 BD");
    EXPECT_EQ(rest(lines[2]), "RXJUNK 00 11");
    long long t0 = std::stoll(lines[0]), t1 = std::stoll(lines[1]);
    EXPECT_LE(t0, t1);
}

TEST(SimPeer, ControlChannelSetsTemperaturesDoorFaultAndPresence)
{
    SimProcess sim({"--instrument", "19:2:40", "--instrument", "17:2:40"});
    ASSERT_GE(sim.Open(), 0);
    sim.Control("temp 19 27.5 1.7 0 437.1");
    V live = sim.Ask(BuildRequest(19, Cmd::Live));
    ASSERT_TRUE(IsReply(live.data(), Cmd::Live));
    EXPECT_EQ(V(live.begin() + 3, live.begin() + 11), (V{0x01, 0x13, 0x00, 0x11, 0x00, 0x00, 0x11, 0x13}))
        << "27.5, 1.7, 0 and 437.1 as the wire carries them";
    EXPECT_EQ(DecodeLive(sim.Ask(BuildRequest(19, Cmd::Live)).data()).temps, (TPhaseTemps{27.5, 1.7, 0, 437.1}))
        << "pinned: no wander";

    sim.Control("door 19 open");
    EXPECT_EQ(DecodeLive(sim.Ask(BuildRequest(19, Cmd::Live)).data()).PhaseStatus & PhaseBit::Door, PhaseBit::Door);
    sim.Control("fault 19 on B");
    TLiveReading faulty = DecodeLive(sim.Ask(BuildRequest(19, Cmd::Live)).data());
    EXPECT_EQ(faulty.OutputStatus & OutputBit::Fault, OutputBit::Fault);
    EXPECT_EQ(faulty.temps[1], 6553.5) << "an open sensor";
    sim.Control("fault 19 off");
    sim.Control("door 19 closed");
    TLiveReading healthy = DecodeLive(sim.Ask(BuildRequest(19, Cmd::Live)).data());
    EXPECT_EQ(healthy.OutputStatus & OutputBit::Fault, 0);
    EXPECT_EQ(healthy.PhaseStatus & PhaseBit::Door, 0);
    EXPECT_EQ(healthy.temps[1], 1.7);

    sim.Control("present 17 off");
    EXPECT_TRUE(sim.Ask(BuildRequest(17, Cmd::Model)).empty()) << "cut from the bus";
    sim.Control("present 17 on");
    EXPECT_EQ(sim.Ask(BuildRequest(17, Cmd::Model)), bytes(BuildModelReply(17, 2)));

    sim.Control("send 11 3F 01 05 AC");
    EXPECT_EQ(sim.Receive(120, 1000).front(), (V{0x11, 0x3F, 0x01, 0x05, 0xAC}));
    auto start = steady_clock::now();
    sim.Control("burst 3072");
    std::size_t total = 0;
    for (const V& c : sim.Receive(200, 6000))
        total += c.size();
    auto took = duration_cast<milliseconds>(steady_clock::now() - start).count() - 200;
    EXPECT_EQ(total, 3072u);
    EXPECT_GE(took, 3000) << "3072 bytes of 10 bits at 9600 baud take 3.2 s on the line";
    EXPECT_NE(sim.LogText().find("CTL temp 19 27.5 1.7 0 437.1"), std::string::npos);
}

TEST(SimPeer, RepliesTakeTheirTimeOnTheWireAtTheInstrumentsSpeed)
{
    SimProcess sim({"--instrument", "1:2:40:1200", "--instrument", "2:2:40"});
    ASSERT_GE(sim.Open(), 0);
    EXPECT_TRUE(sim.Ask(BuildRequest(1, Cmd::BlackBox)).empty()) << "a PC at 9600 is noise to an instrument at 1200";
    ASSERT_FALSE(sim.Ask(BuildRequest(2, Cmd::Model)).empty());
    sim.SetSpeed(B1200);
    EXPECT_TRUE(sim.Ask(BuildRequest(2, Cmd::Model)).empty()) << "and the other way round";
    auto start = steady_clock::now();
    sim.Send(BuildRequest(1, Cmd::BlackBox));
    auto chunks = sim.Receive(80, 2000, true);
    auto took = duration_cast<milliseconds>(steady_clock::now() - start).count() - 80;
    ASSERT_EQ(chunks.size(), 1u) << "bytes 8 ms apart: one chunk";
    EXPECT_EQ(chunks[0].size(), FrameLen::BlackBox);
    // 4 request bytes and 20 reply bytes of 10 bits at 1200 baud: 200 ms.
    EXPECT_GE(took, 190);
    EXPECT_LE(took, 1500);
}

TEST(SimPeer, SlowLinesHandBytesOnOneByOneAndNoiseFollowsTheWholeReply)
{
    // Below 2400 baud the UART hands on every byte (a group of eight would take 133 ms at 600,
    // over the PC's 100 ms read interval): a reply still arrives as one chunk.
    for (auto [rate, speed] : {std::pair{"600", B600}, {"300", B300}}) {
        SimProcess sim({"--instrument", std::string("1:2:40:") + rate});
        ASSERT_GE(sim.Open(), 0);
        sim.SetSpeed(speed);
        sim.Send(BuildRequest(1, Cmd::Live));
        auto chunks = sim.Receive(100, 3000, true);
        ASSERT_EQ(chunks.size(), 1u) << rate;
        ASSERT_EQ(chunks[0].size(), FrameLen::Live) << rate << ": the whole reply in one chunk";
        EXPECT_TRUE(IsReply(chunks[0].data(), Cmd::Live)) << rate;
    }
    // Noise never lands inside a reply. At 2400 the last short group of a reply is handed on four
    // character times (17 ms) after its last byte; noise drawn within that time must still follow it.
    SimProcess sim({"--instrument", "1:2:40:2400", "--noise", "1"});
    ASSERT_GE(sim.Open(), 0);
    sim.SetSpeed(B2400);
    for (int i = 0; i < 30; ++i) { // about one in twelve draws falls inside those 17 ms
        sim.Send(BuildRequest(1, Cmd::Live));
        auto chunks = sim.Receive(220, 1500, true); // the reply and its noise, all of it
        ASSERT_GE(chunks.size(), 1u);
        ASSERT_GE(chunks[0].size(), FrameLen::Live);
        EXPECT_TRUE(IsReply(chunks[0].data(), Cmd::Live)) << "the reply first, whole, then the noise: " << i;
    }
}

TEST(SimPeer, UnplugHangsTheClientUpAndPlugBringsTheLineBack)
{
    SimProcess sim({"--instrument", "1"});
    ASSERT_GE(sim.Open(), 0);
    ASSERT_FALSE(sim.Ask(BuildRequest(1, Cmd::Model)).empty());
    sim.Control("unplug");
    pollfd p{sim.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0) << "the adapter is gone";
    uint8_t b;
    EXPECT_LE(read(sim.fd(), &b, 1), 0) << "a hung-up line reads nothing";
    EXPECT_FALSE(fs::exists(sim.link()));
    sim.Close();
    sim.Control("plug");
    ASSERT_TRUE(fs::exists(sim.link())) << "back at the same path";
    ASSERT_GE(sim.Open(), 0);
    EXPECT_EQ(sim.Ask(BuildRequest(1, Cmd::Model)), bytes(BuildModelReply(1, 2)));
}

TEST(SimPeer, AClientKilledWithTheLineExclusiveLeavesItFree)
{
    // As the user the bus runs under: root would pass TIOCEXCL and prove nothing.
    const bool root = geteuid() == 0;
    const uid_t user = root ? 65534 : geteuid();
    fs::path dir = fs::temp_directory_path() / ("zeva-sim-excl-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all);
    std::string link = (dir / "bus").string();
    auto asUser = [&](const std::function<int()>& body) {
        pid_t pid = fork();
        if (pid == 0) {
            if (root && (setgid(user) != 0 || setuid(user) != 0))
                _exit(125);
            _exit(body());
        }
        return pid;
    };
    pid_t simPid = asUser([&] {
        execl(ZEVA_SIM_PATH, ZEVA_SIM_PATH, "--link", link.c_str(), "--instrument", "1", (char*)nullptr);
        return 127;
    });
    auto deadline = steady_clock::now() + seconds(5);
    while (!fs::is_symlink(link) && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    ASSERT_TRUE(fs::is_symlink(link));

    // The program's own open: exclusive; then it dies without closing.
    pid_t crashed = asUser([&] {
        int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || ioctl(fd, TIOCEXCL) != 0)
            return 3;
        raise(SIGKILL);
        return 4;
    });
    int status = 0;
    waitpid(crashed, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the client opened the line and was killed";
    pid_t next = asUser([&] {
        for (int i = 0; i < 200; ++i) {
            int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (fd >= 0)
                return 0;
            usleep(10000);
        }
        return 1;
    });
    waitpid(next, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the next start opens the port";
    kill(simPid, SIGTERM);
    waitpid(simPid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    fs::remove_all(dir);
}
