// TComm on real pseudo-terminals: opening, exclusivity, sending, the receive contract, hang-up.
#include "Comm.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "LinuxSpeed.h"

using namespace zeva;
using namespace zeva::test;

namespace {

using V = std::vector<uint8_t>;

// A component set up as both windows set theirs, recording every event.
struct Recorder {
    TComm comm;
    std::vector<V> chunks;
    std::vector<bool> zeroAfter;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    int empties = 0;
    int hangups = 0;
    int errors = 0;

    explicit Recorder(const std::string& port)
    {
        comm.SetCommName(port);
        SetInstrumentBusProperties(comm);
        comm.OnReceiveData = [this](TComm* sender, const uint8_t* buffer, uint16_t length) {
            EXPECT_EQ(sender, &comm);
            EXPECT_GE(length, 1);
            EXPECT_LE(length, 2048);
            chunks.emplace_back(buffer, buffer + length);
            zeroAfter.push_back(buffer[length] == 0);
            arrivals.push_back(std::chrono::steady_clock::now());
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
}

TEST(CommSend, InOrderWithSendDataEmptyOnlyWhenTheQueueRunsEmpty)
{
    TPty pty;
    Recorder r(pty.slaveName());
    r.comm.OpenPort();
    ASSERT_TRUE(WaitUntil([&] { return r.empties == 1; })) << "once at start, before anything is sent";
    Pump(50);
    EXPECT_EQ(r.empties, 1);

    // A block larger than the pty's buffer holds the writer in its write while three requests
    // queue behind it: the queue is found empty once, after the last of them.
    V block(20000, 0x55), a{0x01, 0x3F, 0xAA, 0x16}, b{0x01, 0x3F, 0xEE, 0xD2, 9, 9}, c(18, 0x5A);
    ASSERT_TRUE(r.comm.SendData(block.data(), uint16_t(block.size())));
    ASSERT_TRUE(r.comm.SendData(a.data(), uint16_t(a.size())));
    ASSERT_TRUE(r.comm.SendData(b.data(), uint16_t(b.size())));
    ASSERT_TRUE(r.comm.SendData(c.data(), uint16_t(c.size())));
    V want = block;
    for (const V* part : {&a, &b, &c})
        want.insert(want.end(), part->begin(), part->end());
    EXPECT_EQ(pty.Read(5000, want.size()), want) << "in call order, each completely";
    ASSERT_TRUE(WaitUntil([&] { return r.empties >= 2; }));
    Pump(100);
    EXPECT_EQ(r.empties, 2) << "not one per write";

    ASSERT_TRUE(r.comm.SendData(a.data(), 4));
    EXPECT_EQ(pty.Read(2000, 4), a);
    EXPECT_TRUE(WaitUntil([&] { return r.empties == 3; }));
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

TEST(CommReceive, ReadEndsOneIntervalAfterItsLastByte)
{
    TPty pty;
    Recorder r(pty.slaveName());
    r.comm.OpenPort();
    // Eleven parts 25 ms apart: 250 ms from first byte to last, no pause of 100 ms even when a
    // loaded machine wakes this thread late.
    for (int i = 0; i < 11; ++i) {
        if (i > 0)
            QThread::msleep(25);
        pty.Write({uint8_t(0x10 + i)});
    }
    auto lastWrite = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return !r.chunks.empty(); }));
    Pump(300);
    ASSERT_EQ(r.chunks.size(), 1u) << "pauses under the interval join, however long the whole";
    EXPECT_EQ(r.chunks[0], (V{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A}));
    EXPECT_TRUE(r.zeroAfter[0]);
    auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(r.arrivals[0] - lastWrite).count();
    EXPECT_GE(delay, 95) << "not before the interval has run out after the last byte";
    EXPECT_LE(delay, 1000) << "delivered once the interval has run out (the figure: bench_serial)";
}

TEST(CommReceive, APauseLongerThanTheIntervalSplits)
{
    TPty pty;
    Recorder r(pty.slaveName());
    r.comm.OpenPort();
    pty.Write({1, 2, 3});
    QThread::msleep(125); // over 100 ms: the read has completed
    pty.Write({4, 5});
    ASSERT_TRUE(WaitUntil([&] { return r.chunks.size() == 2; }));
    EXPECT_EQ(r.chunks[0], (V{1, 2, 3}));
    EXPECT_EQ(r.chunks[1], (V{4, 5}));

    // The interval is a property: applied at once while open.
    r.comm.SetReadIntervalTimeout(300);
    pty.Write({6});
    QThread::msleep(200);
    pty.Write({7});
    ASSERT_TRUE(WaitUntil([&] { return r.chunks.size() == 3; }));
    EXPECT_EQ(r.chunks[2], (V{6, 7}));
}

TEST(CommReceive, EveryByteValuePassesBothWaysOnALineLeftCooked)
{
    // The pty starts in the kernel's defaults: ICANON, ECHO, ICRNL, OPOST/ONLCR, IXON, ISIG.
    TPty pty;
    termios cooked{};
    ASSERT_EQ(tcgetattr(pty.master(), &cooked), 0);
    ASSERT_NE(cooked.c_lflag & ICANON, 0u) << "the test needs a cooked line to start from";
    Recorder r(pty.slaveName());
    r.comm.OpenPort();

    V all(256);
    std::iota(all.begin(), all.end(), 0);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(r.comm.SendData(all.data(), uint16_t(all.size())));
        EXPECT_EQ(pty.Read(2000, 256), all) << "0x0A stays 0x0A, 0x13 stops nothing";
    }
    pty.Write(all);
    ASSERT_TRUE(WaitUntil([&] { return r.joined().size() >= 256; }));
    EXPECT_EQ(r.joined(), all) << "0x11 not swallowed, 0x0D not turned into 0x0A, 0x03 no signal";
    EXPECT_TRUE(pty.Read(300).empty()) << "nothing echoed back onto the bus";
    // An XOFF that arrived as data must not have stopped the output.
    V after{0x13, 0x3F, 0xAA, 0xE4};
    ASSERT_TRUE(r.comm.SendData(after.data(), 4));
    EXPECT_EQ(pty.Read(2000, 4), after);
}

TEST(CommReceive, AnotherReaderTakingTheBytesDoesNotEndReception)
{
    TPty pty;
    Recorder r(pty.slaveName());
    r.comm.OpenPort();
    // Root passes TIOCEXCL and flock is advisory: another program can read the same port.
    int thief = open(pty.slaveName().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (thief < 0)
        GTEST_SKIP() << "only root can open the port a second time";
    std::atomic<bool> stop{false};
    std::atomic<int> stolen{0};
    std::thread reader([&] {
        uint8_t buf[64];
        while (!stop) { // spins, so that it wins most races for the bytes
            ssize_t n = read(thief, buf, sizeof buf);
            if (n > 0)
                stolen += int(n);
        }
    });
    // Until the other reader has won a race for some bytes: on a loaded machine, or under the
    // sanitizers, the first few hundred may all go to the component.
    QElapsedTimer racing;
    racing.start();
    for (int i = 0; i < 300 || (stolen == 0 && racing.elapsed() < 30000); ++i) {
        pty.Write({uint8_t(i), 0x3F});
        QCoreApplication::processEvents();
        QThread::usleep(300);
    }
    stop = true;
    reader.join();
    close(thief);
    EXPECT_GT(stolen, 0) << "the other reader did take bytes";
    Pump(200);
    std::size_t before = r.joined().size();
    pty.Write({0x01, 0x3F, 0x01, 0x02, 0xBD});
    ASSERT_TRUE(WaitUntil([&] { return r.joined().size() >= before + 5; }));
    V all = r.joined();
    EXPECT_EQ(V(all.end() - 5, all.end()), (V{0x01, 0x3F, 0x01, 0x02, 0xBD}));
    EXPECT_EQ(r.hangups, 0) << "an empty read is no hang-up";
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
    ASSERT_GE(r.chunks.size(), 3u);
    EXPECT_EQ(r.chunks[0].size(), 2048u) << "a read completes when the buffer is full";
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
    SetInstrumentBusProperties(c);
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

    c.SetBaudRate(0); // "hang up" to a driver: refused, the device keeps its speed
    EXPECT_EQ(posix::CurrentSpeed(pty.master()), 2400u);
    EXPECT_TRUE(c.IsOpen());
}

TEST(CommLine, SpeedsOutsideTheTableStayRaw)
{
    for (uint32_t baud : {14400u, 1234u}) {
        TPty pty;
        Recorder r(pty.slaveName());
        r.comm.SetBaudRate(baud);
        r.comm.OpenPort();
        EXPECT_EQ(posix::CurrentSpeed(pty.master()), baud) << "the arbitrary-rate interface took it";
        termios t{};
        ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u) << baud;
        EXPECT_EQ(t.c_oflag & OPOST, 0u) << baud;
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u) << baud;

        const V request{0x0A, 0x3F, 0xAA, 0x0D};
        ASSERT_TRUE(r.comm.SendData(request.data(), 4));
        EXPECT_EQ(pty.Read(1000, 4), request) << "0x0A goes out alone, not as 0D 0A";
        const V reply{0x0A, 0x3F, 0xAA, 0x01, 0x13, 0x01, 0x11, 0x0D, 0x0A, 0x00, 0x00, 0x00, 0x20, 0x44};
        pty.Write(reply);
        ASSERT_TRUE(WaitUntil([&] { return !r.chunks.empty(); }));
        Pump(150);
        ASSERT_EQ(r.chunks.size(), 1u) << baud;
        EXPECT_EQ(r.chunks[0], reply) << "one chunk, every byte as sent";
        EXPECT_TRUE(pty.Read(200).empty()) << "nothing echoed";
    }
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
    EXPECT_LT(ProcessCpuMs() - cpu, 250.0) << "no thread spins on the dead device";
    EXPECT_TRUE(r.comm.IsOpen()) << "open until ClosePort";
    r.comm.ClosePort();
    EXPECT_FALSE(r.comm.IsOpen());
}

TEST(CommHangup, ClosingUnderAStreamIsNoHangup)
{
    TPty pty;
    Recorder r(pty.slaveName());
    std::atomic<bool> stop{false};
    std::atomic<long> echoed{0};
    // Once the line has been set up it is never cooked again, not between a close and the next
    // open (the two windows hand the port over so): nothing may come back onto the bus.
    r.comm.OpenPort();
    // Every byte value in turn, so that a line edited while cooked (0x7F erasing, 0x0D turned
    // into 0x0A, 0x11/0x13 swallowed) shows as a gap in the cycle.
    std::thread stream([&] {
        V bytes(64);
        uint8_t next = 0;
        while (!stop) {
            for (auto& b : bytes)
                b = next++;
            [[maybe_unused]] ssize_t n = write(pty.master(), bytes.data(), bytes.size());
            if (n > 0 && n < ssize_t(bytes.size()))
                next = uint8_t(next - (bytes.size() - std::size_t(n)));
            else if (n <= 0)
                next = uint8_t(next - bytes.size());
            pollfd p{pty.master(), POLLOUT, 0};
            poll(&p, 1, 1);
            V back(4096); // the component sends nothing: anything here is an echo
            ssize_t m = read(pty.master(), back.data(), back.size());
            if (m > 0)
                echoed += m;
        }
    });
    for (int i = 0; i < 3000; ++i) {
        if (i % 3 == 0)
            QThread::usleep(200);
        r.comm.ClosePort();
        r.comm.OpenPort();
        if (i % 100 == 0)
            QCoreApplication::processEvents();
    }
    stop = true;
    stream.join();
    r.comm.ClosePort();
    Pump(200);
    EXPECT_EQ(echoed, 0) << "nothing echoed onto the bus";
    EXPECT_EQ(r.hangups, 0) << "a read emptied by the purge is no hang-up";
    for (const V& c : r.chunks) {
        EXPECT_EQ(c.size(), 2048u) << "no cut chunk: a stopped read is dropped, not delivered";
        for (std::size_t i = 1; i < c.size(); ++i)
            ASSERT_EQ(c[i], uint8_t(c[i - 1] + 1)) << "every byte as sent, none edited, at " << i;
    }
}

TEST(CommLifetime, DestroyingAnOpenComponentStopsItsThreads)
{
    auto threads = [] {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task"))
            ++n;
        return n;
    };
    TPty pty;
    const std::size_t before = threads();
    // Opens, sends, receives and lets the read be posted without running the event loop; the
    // component is destroyed before the loop runs when `destroy` is set.
    auto run = [&](bool destroy) {
        bool dispatched = false;
        auto c = std::make_unique<TComm>();
        c->SetCommName(pty.slaveName());
        c->OnReceiveData = [&](TComm*, const uint8_t*, uint16_t) { dispatched = true; };
        c->OnSendDataEmpty = [&](TComm*) { dispatched = true; };
        c->OpenPort();
        EXPECT_EQ(threads(), before + 2);
        const uint8_t b[] = {1, 2, 3};
        c->SendData(b, 3);
        pty.Write({4, 5, 6});
        QThread::msleep(250); // the read's interval runs out and it is posted
        if (destroy)
            c.reset();
        Pump(100);
        return dispatched;
    };
    EXPECT_TRUE(run(false)) << "the same run with the component alive: its events were posted";
    EXPECT_FALSE(run(true)) << "nothing reaches a destroyed component";
    EXPECT_EQ(threads(), before) << "both threads have ended";
    pty.Read(100);
    TComm again;
    again.SetCommName(pty.slaveName());
    EXPECT_EQ(openMessage(again), "") << "the port was released";
}
