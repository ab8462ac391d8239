// TComm on real pseudo-terminals: opening, exclusivity, sending, the receive contract, hang-up.
#include "Comm.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <termios.h>
#include <unistd.h>

using namespace zeva;
using namespace zeva::test;

namespace {

using V = std::vector<uint8_t>;

// A component set up as both windows set theirs, recording every event.
struct Recorder {
    TComm comm;
    std::vector<V> chunks;
    std::vector<bool> zeroAfter;
    int empties = 0;
    int hangups = 0;
    int errors = 0;

    explicit Recorder(const std::string& port)
    {
        comm.SetCommName(port);
        comm.SetOutx_XonXoffFlow(false);
        comm.SetInx_XonXoffFlow(false);
        comm.OnReceiveData = [this](TComm* sender, const uint8_t* buffer, uint16_t length) {
            EXPECT_EQ(sender, &comm);
            EXPECT_GE(length, 1);
            EXPECT_LE(length, 2048);
            chunks.emplace_back(buffer, buffer + length);
            zeroAfter.push_back(buffer[length] == 0);
        };
        comm.OnSendDataEmpty = [this](TComm*) { ++empties; };
        comm.OnRequestHangup = [this](TComm*) { ++hangups; };
        comm.OnReceiveError = [this](TComm*, uint32_t) { ++errors; };
    }
    V joined() const
    {
        V all;
        for (const V& c : chunks)
            all.insert(all.end(), c.begin(), c.end());
        return all;
    }
};

std::string openMessage(TComm& c)
{
    try {
        c.OpenPort();
    } catch (const ECommsError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(CommOpen, FailureMessagesAndRecovery)
{
    TPty pty;
    TComm c;
    c.SetCommName("/dev/zeva-no-such-port");
    EXPECT_EQ(openMessage(c), "Error opening serial port");
    EXPECT_FALSE(c.IsOpen());

    auto file = std::filesystem::temp_directory_path() / ("zeva-regular-" + std::to_string(getpid()));
    std::ofstream(file) << "x";
    c.SetCommName(file.string());
    EXPECT_EQ(openMessage(c), "File handle is not a comm handle ");
    EXPECT_FALSE(c.IsOpen());
    std::filesystem::remove(file);

    c.SetCommName(pty.slaveName());
    EXPECT_EQ(openMessage(c), "") << "a failed open leaves the component able to open";
    EXPECT_TRUE(c.IsOpen());
    EXPECT_EQ(openMessage(c), "This serial port already opened");
    EXPECT_TRUE(c.IsOpen());
    const uint8_t ping[] = {0x01, 0x3F, 0xAA, 0x16};
    ASSERT_TRUE(c.SendData(ping, 4)) << "the open port is untouched";
    EXPECT_EQ(pty.Read(2000, 4), V(ping, ping + 4));
}

TEST(CommOpen, ExclusiveBetweenComponentsUntilClosed)
{
    TPty pty;
    TComm first, second;
    first.SetCommName(pty.slaveName());
    second.SetCommName(pty.slaveName());
    first.OpenPort();
    EXPECT_EQ(openMessage(second), "Error opening serial port") << "holds for root too (flock)";
    first.ClosePort();
    EXPECT_EQ(openMessage(second), "");
    EXPECT_TRUE(second.IsOpen());
}

TEST(CommOpen, CloseIsIdempotentAndReopenWorks)
{
    TPty pty;
    Recorder r(pty.slaveName());
    r.comm.ClosePort();
    r.comm.OpenPort();
    r.comm.ClosePort();
    r.comm.ClosePort();
    EXPECT_FALSE(r.comm.IsOpen());
    r.comm.OpenPort();
    pty.Write({1, 2, 3});
    EXPECT_TRUE(WaitUntil([&] { return r.joined() == V{1, 2, 3}; }));
}

TEST(CommSend, FalseWhenClosedOrEmpty)
{
    TPty pty;
    TComm c;
    const uint8_t b[] = {1};
    EXPECT_FALSE(c.SendData(b, 1));
    c.SetCommName(pty.slaveName());
    c.OpenPort();
    EXPECT_FALSE(c.SendData(b, 0));
    c.ClosePort();
    EXPECT_FALSE(c.SendData(b, 1));
    EXPECT_TRUE(pty.Read(200).empty());
}

TEST(CommSend, InOrderWithSendDataEmpty)
{
    TPty pty;
    Recorder r(pty.slaveName());
    r.comm.OpenPort();
    ASSERT_TRUE(WaitUntil([&] { return r.empties == 1; })) << "once at start, before anything is sent";
    Pump(50);
    EXPECT_EQ(r.empties, 1);

    V a{0x01, 0x3F, 0xAA, 0x16}, b{0x01, 0x3F, 0xEE, 0xD2, 9, 9}, c(18, 0x5A);
    ASSERT_TRUE(r.comm.SendData(a.data(), uint16_t(a.size())));
    ASSERT_TRUE(r.comm.SendData(b.data(), uint16_t(b.size())));
    ASSERT_TRUE(r.comm.SendData(c.data(), uint16_t(c.size())));
    V want = a;
    want.insert(want.end(), b.begin(), b.end());
    want.insert(want.end(), c.begin(), c.end());
    EXPECT_EQ(pty.Read(2000, want.size()), want);
    ASSERT_TRUE(WaitUntil([&] { return r.empties >= 2; }));
    Pump(50);
    EXPECT_LE(r.empties, 4) << "one per time the queue ran empty after a write";

    int before = r.empties;
    ASSERT_TRUE(r.comm.SendData(a.data(), 4));
    EXPECT_EQ(pty.Read(2000, 4), a);
    EXPECT_TRUE(WaitUntil([&] { return r.empties == before + 1; }));
}

TEST(CommSend, LargeWriteContinuesUntilAllWritten)
{
    TPty pty;
    Recorder r(pty.slaveName());
    r.comm.OpenPort();
    V big(20000);
    std::iota(big.begin(), big.end(), 0);
    ASSERT_TRUE(r.comm.SendData(big.data(), uint16_t(big.size())));
    // The pty buffer is smaller than this, so the writer must wait and continue.
    EXPECT_EQ(pty.Read(5000, big.size()), big);
}

TEST(CommReceive, PausesUnderTheIntervalJoinOverItSplit)
{
    TPty pty;
    Recorder r(pty.slaveName());
    r.comm.OpenPort();
    pty.Write({0x01, 0x3F});
    QThread::msleep(40);
    pty.Write({0xAA, 0x00});
    QThread::msleep(40);
    pty.Write({0xFD});
    ASSERT_TRUE(WaitUntil([&] { return r.chunks.size() == 1; }));
    EXPECT_EQ(r.chunks[0], (V{0x01, 0x3F, 0xAA, 0x00, 0xFD})) << "pauses under 100 ms: one event";
    EXPECT_TRUE(r.zeroAfter[0]);

    pty.Write({1, 2, 3});
    QThread::msleep(200);
    pty.Write({4, 5});
    ASSERT_TRUE(WaitUntil([&] { return r.chunks.size() == 3; }));
    EXPECT_EQ(r.chunks[1], (V{1, 2, 3}));
    EXPECT_EQ(r.chunks[2], (V{4, 5}));
}

TEST(CommReceive, BurstOverBufferArrivesInOrderedChunks)
{
    TPty pty;
    Recorder r(pty.slaveName());
    r.comm.OpenPort();
    V burst(5000);
    for (std::size_t i = 0; i < burst.size(); ++i)
        burst[i] = uint8_t(i * 7 + i / 256);
    pty.Write(burst);
    ASSERT_TRUE(WaitUntil([&] { return r.joined().size() >= burst.size(); }));
    EXPECT_EQ(r.joined(), burst);
    EXPECT_GE(r.chunks.size(), 3u);
    for (const V& c : r.chunks)
        EXPECT_LE(c.size(), 2048u);
    for (bool z : r.zeroAfter)
        EXPECT_TRUE(z);
}

TEST(CommReceive, NotificationAfterCloseIsStillDispatched)
{
    TPty pty;
    Recorder r(pty.slaveName());
    r.comm.OpenPort();
    pty.Write({7, 8, 9});
    // Without running the event loop: the read completes 100 ms after the last byte and is posted.
    QThread::msleep(400);
    r.comm.ClosePort();
    EXPECT_TRUE(r.chunks.empty());
    EXPECT_TRUE(WaitUntil([&] { return r.chunks.size() == 1; }));
    EXPECT_EQ(r.chunks[0], (V{7, 8, 9}));
}

TEST(CommReceive, CloseWithReadPendingEndsQuietly)
{
    TPty pty;
    Recorder r(pty.slaveName());
    r.comm.OpenPort();
    pty.Write({1});
    Pump(20); // a read is under way, its interval not yet run out
    r.comm.ClosePort();
    Pump(300);
    EXPECT_EQ(r.hangups, 0);
    EXPECT_EQ(r.errors, 0);
    EXPECT_TRUE(r.chunks.empty()) << "the purge drops the pending read";
}

TEST(CommLine, BaudAppliesAtOnceParityAtNextOpen)
{
    TPty pty;
    TComm c;
    c.SetCommName(pty.slaveName());
    c.SetOutx_XonXoffFlow(false);
    c.SetInx_XonXoffFlow(false);
    c.OpenPort();
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);

    c.SetBaudRate(2400);
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B2400));

    // The pty driver forces CS8 and clears PARENB, but keeps PARODD: odd parity shows there.
    c.SetParity(TParity::Odd);
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(t.c_cflag & PARODD, 0u) << "stored only while open";
    c.ClosePort();
    c.OpenPort();
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_NE(t.c_cflag & PARODD, 0u);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B2400));
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    c.SetStopBits(TStopBits::_2);
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "other line settings apply at once";

    c.SetBaudRate(12345); // no such speed: the device keeps what it had
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B2400));
    EXPECT_TRUE(c.IsOpen());
}

TEST(CommHangup, MasterClosedGivesOneHangupAndNoSpin)
{
    auto pty = std::make_unique<TPty>();
    Recorder r(pty->slaveName());
    r.comm.OpenPort();
    ASSERT_TRUE(WaitUntil([&] { return r.empties == 1; }));
    pty->CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return r.hangups == 1; }));
    const uint8_t b[] = {1, 2};
    EXPECT_TRUE(WaitUntil([&] { return !r.comm.SendData(b, 2); })) << "the writer has ended";
    double cpu = ProcessCpuMs();
    Pump(500);
    EXPECT_EQ(r.hangups, 1);
    EXPECT_LT(ProcessCpuMs() - cpu, 100.0) << "no thread spins on the dead device";
    EXPECT_TRUE(r.comm.IsOpen()) << "open until ClosePort";
    r.comm.ClosePort();
    EXPECT_FALSE(r.comm.IsOpen());
}

TEST(CommLifetime, DestroyingAnOpenComponentStopsItsThreads)
{
    TPty pty;
    {
        TComm c;
        c.SetCommName(pty.slaveName());
        c.OpenPort();
        const uint8_t b[] = {1, 2, 3};
        c.SendData(b, 3);
    }
    TComm again;
    again.SetCommName(pty.slaveName());
    EXPECT_EQ(openMessage(again), "") << "the port was released";
    Pump(100); // no event for the destroyed component may be dispatched
}
