// zeva-sim as a real peer on its pseudo-terminal: replies byte for byte, writes, faults and the log.
#include "Frames.h"
#include "RxBuffer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
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
        std::vector<std::string> args{ZEVA_SIM_PATH, "--link", m_link, "--log", m_log};
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
    const std::string& logPath() const { return m_log; }

    int Open()
    {
        m_fd = open(m_link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        tcsetattr(m_fd, TCSANOW, &t);
        return m_fd;
    }
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
    std::string m_link, m_log;
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
    EXPECT_TRUE(sim.Ask(BuildRequest(1, Cmd::ReadLink)).empty()) << "moved away from address 1";
    EXPECT_EQ(sim.Ask(BuildRequest(2, Cmd::ReadLink)), bytes(BuildLinkFrame(2, Cmd::ReadLink, 2, 4)));
}

TEST(SimPeer, DropCorruptAndDelay)
{
    {
        SimProcess sim({"--instrument", "1", "--drop", "1"});
        ASSERT_GE(sim.Open(), 0);
        EXPECT_TRUE(sim.Ask(BuildRequest(1, Cmd::Model)).empty());
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
        auto chunks = sim.Receive(100, 1500);
        ASSERT_EQ(chunks.size(), 2u);
        EXPECT_EQ(chunks[0], bytes(BuildModelReply(1, 2)));
        EXPECT_GE(chunks[1].size(), 1u);
        EXPECT_LE(chunks[1].size(), 8u);
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
    EXPECT_EQ(WEXITSTATUS(sim.Stop()), 0);
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
