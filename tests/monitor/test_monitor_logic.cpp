// The main window's logic without the window: polling table, reply handling, recording.
#include "Frames.h"
#include "PollCycle.h"
#include "Recording.h"
#include "ReplyHandling.h"
#include "StatusView.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

using namespace zeva;

namespace {

using V = std::vector<uint8_t>;

V bytes(const TFrame& f)
{
    return {f.data(), f.data() + f.size};
}

// Each reply as the answer to its request.
TChunkOutcome feed(TMainState& s, TRxBuffer& rx, const TFrame& f)
{
    TOutstanding asked;
    asked.Sent(f[0], f[2]);
    return HandleChunk(s, rx, asked, f.data(), f.size);
}

} // namespace

TEST(PollTable, OrderAddressesAndIntervals)
{
    TPollTable t;
    t.Fill({3, 7});
    EXPECT_EQ(bytes(t.Tick()), (V{0x03, 0x3F, 0xAA, 0x14}));
    EXPECT_EQ(bytes(t.Tick()), (V{0x03, 0x3F, 0xEE, 0xD0}));
    EXPECT_EQ(bytes(t.Tick()), (V{0x07, 0x3F, 0xAA, 0x10}));
    EXPECT_EQ(bytes(t.Tick()), (V{0x07, 0x3F, 0xEE, 0xCC}));
    EXPECT_EQ(bytes(t.Tick()), (V{0x03, 0x3F, 0xAA, 0x14})) << "and round again";

    TPollTable one;
    one.Fill({258});
    EXPECT_EQ(bytes(one.Tick())[0], 2) << "low 8 bits";
    EXPECT_EQ(bytes(one.Tick())[2], Cmd::BlackBox);
    EXPECT_EQ(bytes(one.Tick())[2], Cmd::Live);

    TPollTable empty;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(bytes(empty.Tick()), (V{0x00, 0x3F, 0xAA, 0x17}));
    EXPECT_EQ(empty.PollTick, 1);

    std::vector<int64_t> many;
    for (int a = 1; a <= 30; ++a)
        many.push_back(a);
    TPollTable big;
    big.Fill(many);
    EXPECT_EQ(big.PollCount(), 30) << "no 21-slot limit";
    for (int i = 0; i < 58; ++i)
        big.Tick();
    EXPECT_EQ(bytes(big.Tick())[0], 30);

    EXPECT_EQ(TPollTable::TimerIntervalMs(3), 1000);
    EXPECT_EQ(TPollTable::TimerIntervalMs(1), 333);
    EXPECT_EQ(TPollTable::TimerIntervalMs(2), 666);
}

TEST(ReplyHandling, StatusLampsAndTexts)
{
    TStatusView off = StatusView(0x00, 0x00);
    EXPECT_EQ(off.phase, (std::array<TColor, 4>{LampGreen, LampGreen, LampGreen, LampGreen}));
    EXPECT_EQ(off.door, "关");
    EXPECT_EQ(off.fan, LampGreen);
    EXPECT_EQ(off.alarm, LampRed) << "alarm lamp: the opposite sense";
    EXPECT_EQ(off.trip, LampGreen);
    EXPECT_EQ(off.fault, LampGreen);
    EXPECT_EQ(off.fanMode, "手动");
    EXPECT_EQ(off.buzzer, "不静音");
    TStatusView on = StatusView(0x1F, 0x3F);
    EXPECT_EQ(on.phase, (std::array<TColor, 4>{LampRed, LampRed, LampRed, LampRed}));
    EXPECT_EQ(on.door, "开");
    EXPECT_EQ(on.fan, LampRed);
    EXPECT_EQ(on.alarm, LampGreen);
    EXPECT_EQ(on.trip, LampRed);
    EXPECT_EQ(on.fault, LampRed);
    EXPECT_EQ(on.fanMode, "自动");
    EXPECT_EQ(on.buzzer, "静音");

    EXPECT_EQ(PhaseText(25.3), "25.3");
    EXPECT_EQ(PhaseText(255.0), "255");
    EXPECT_EQ(PhaseText(255.1), "ERR");
    EXPECT_EQ(PhaseText(300.0), "ERR");
    EXPECT_EQ(PhaseText(-30.1), "ERR");
    EXPECT_EQ(PhaseText(0), "0");
}

TEST(ReplyHandling, RepliesUpdateSharedAndPerAddressReadings)
{
    TMainState s;
    s.SelectedAddress = 1;
    TRxBuffer rx;
    TChunkOutcome live = feed(s, rx, BuildLiveReply(1, {25.3, 255.1, 300.0, 7}, 0x01, 0x28));
    EXPECT_EQ(live.kind, TMonitorReply::Live);
    EXPECT_EQ(live.phaseTexts, (std::array<QString, 3>{"25.3", "ERR", "ERR"}));
    EXPECT_TRUE(live.feedsChart);
    EXPECT_EQ(s.LiveTemps, (TPhaseTemps{25.3, 255.1, 300.0, 7}));
    ASSERT_TRUE(s.ByAddress[1].live);

    TChunkOutcome other = feed(s, rx, BuildLiveReply(2, {30, 31, 32, 33}, 0, 0));
    EXPECT_FALSE(other.feedsChart) << "shown, but not the selected instrument";
    EXPECT_EQ(s.LiveTemps[0], 30);
    EXPECT_EQ((*s.ByAddress[1].live)[0], 25.3) << "address 1 keeps its own";

    TChunkOutcome bb = feed(s, rx, BuildBlackBoxReply(2, {81, 82, 83, 84}, {90, 91, 92, 93}));
    EXPECT_EQ(bb.kind, TMonitorReply::BlackBox);
    EXPECT_EQ(s.HighestTemps, (TPhaseTemps{90, 91, 92, 93}));
    EXPECT_FALSE(s.ByAddress[1].blackBox);
    EXPECT_TRUE(s.ByAddress[2].highest);

    EXPECT_EQ(feed(s, rx, BuildModelReply(1, 5)).typeName, "ZEVA5001-R");
    EXPECT_EQ(s.CurrentCapition, "ZEVA5001带RS232通讯接口");
    EXPECT_EQ(feed(s, rx, BuildModelReply(1, 20)).typeName, "");

    TFrame bad = BuildLiveReply(1, {99, 99, 99, 99}, 0, 0);
    bad.bytes[13] ^= 1;
    EXPECT_EQ(feed(s, rx, bad).kind, TMonitorReply::Unrecognised);
    EXPECT_EQ(s.LiveTemps[0], 30) << "a bad checksum changes nothing";
}

namespace {

// Runs the recording step over a sequence of chunks, noting which store a row.
struct RecordRun {
    TMainState state;
    TRecorder rec;
    std::vector<int> storedAt; // chunk index
    std::vector<TRecorder::TRow> rows;
    int chunk = 0;

    void step(TMonitorReply kind, uint8_t address, int n, int cycle)
    {
        rec.Step(kind, address, n, cycle, state, [&](const TRecorder::TRow& r) {
            storedAt.push_back(chunk);
            rows.push_back(r);
        });
        ++chunk;
    }
};

} // namespace

TEST(Recording, TwoInstrumentsOneRowPerCycleOfBlackBoxReplies)
{
    RecordRun run;
    run.state.ByAddress[1].live = TPhaseTemps{25.3, 26, 24.8, 0};
    run.state.ByAddress[1].blackBox = TPhaseTemps{80.5, 81, 79.9, 0};
    run.state.ByAddress[2].live = TPhaseTemps{30, 30, 30, 30};
    // Polling order: 1 live, 1 black box, 2 live, 2 black box, ...
    for (int i = 0; i < 62 * 4; ++i) {
        uint8_t address = uint8_t((i / 2) % 2 + 1);
        run.step(i % 2 == 0 ? TMonitorReply::Live : TMonitorReply::BlackBox, address, 2, 60);
    }
    // The window is counter 58 and 59; the toggle makes counter 59 store, once per 62 chunks.
    EXPECT_EQ(run.storedAt, (std::vector<int>{59, 59 + 62, 59 + 124, 59 + 186}));
    EXPECT_EQ(run.rows[0].address, 2);
    EXPECT_EQ(run.rows[1].address, 1);
    EXPECT_EQ(run.rows[1].live, (TPhaseTemps{25.3, 26, 24.8, 0}));
    EXPECT_EQ(run.rows[1].blackBox, (TPhaseTemps{80.5, 81, 79.9, 0}));
    EXPECT_EQ(run.rows[0].blackBox, (TPhaseTemps{0, 0, 0, 0})) << "address 2 never sent one: 0, not 1's";
}

TEST(Recording, OneInstrumentEverySecondCycleAndOddCycles)
{
    RecordRun run;
    for (int i = 0; i < 62 * 4; ++i)
        run.step(TMonitorReply::Live, 1, 1, 60);
    EXPECT_EQ(run.storedAt, (std::vector<int>{59 + 62, 59 + 186})) << "the toggle spans windows";

    RecordRun zero;
    for (int i = 0; i < 10; ++i)
        zero.step(TMonitorReply::Live, 1, 3, 0);
    EXPECT_TRUE(zero.storedAt.empty());
    EXPECT_EQ(zero.rec.RecordCounter, 0) << "alternates 0, 1";
    zero.step(TMonitorReply::Live, 1, 3, 0);
    EXPECT_EQ(zero.rec.RecordCounter, 1);

    RecordRun negative;
    for (int i = 0; i < 10; ++i)
        negative.step(TMonitorReply::Live, 1, 3, -5);
    EXPECT_TRUE(negative.storedAt.empty());
    EXPECT_EQ(negative.rec.RecordCounter, 0);

    RecordRun small; // cycle 2 with 5 instruments: the window is counters 0 and 1
    for (int i = 0; i < 8; ++i)
        small.step(TMonitorReply::Live, 1, 5, 2);
    EXPECT_EQ(small.storedAt, (std::vector<int>{1, 5}));
}

TEST(Recording, OnlyAcceptedRepliesStoreAndAFailedStoreRetries)
{
    RecordRun run;
    for (int i = 0; i < 59; ++i)
        run.step(TMonitorReply::Live, 1, 2, 60);
    EXPECT_EQ(run.rec.RecordToggle, 1);
    run.step(TMonitorReply::Unrecognised, 1, 2, 60); // bad checksum at the storing place
    EXPECT_TRUE(run.storedAt.empty()) << "nothing stored for a chunk that is no reply";
    EXPECT_EQ(run.rec.RecordToggle, 2) << "the toggle still counts it";
    EXPECT_EQ(run.rec.RecordCounter, 60);

    TRecorder rec;
    TMainState state;
    rec.RecordCounter = 59;
    rec.RecordToggle = 1;
    auto failing = [](const TRecorder::TRow&) { throw std::runtime_error("database is locked"); };
    EXPECT_THROW(rec.Step(TMonitorReply::Live, 1, 2, 60, state, failing), std::runtime_error);
    EXPECT_EQ(rec.RecordCounter, 59) << "neither counter advances";
    EXPECT_EQ(rec.RecordToggle, 1);
    int stored = 0;
    rec.Step(TMonitorReply::Live, 1, 2, 60, state, [&](const TRecorder::TRow&) { ++stored; });
    EXPECT_EQ(stored, 1) << "the next chunk tries the same place again";
}
