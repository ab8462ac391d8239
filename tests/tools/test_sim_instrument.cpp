// The simulated instrument's relay logic, black box and parameter store.
#include "SimBus.h"

#include <gtest/gtest.h>

using namespace zeva;
using namespace zeva::sim;

TEST(SimInstrument, RelaysFollowThresholdsWithFanHysteresis)
{
    TSimInstrument in(1, 2, 30, 7); // T1 50 off, T2 60 on, T3 80 alarm, T4 100 trip
    in.SetMeasured({40, 40, 40, 40});
    EXPECT_EQ(in.OutputStatus() & OutputBit::Fan, 0);
    in.SetMeasured({60, 40, 40, 40});
    EXPECT_NE(in.OutputStatus() & OutputBit::Fan, 0);
    in.SetMeasured({55, 40, 40, 40});
    EXPECT_NE(in.OutputStatus() & OutputBit::Fan, 0) << "stays on between T1 and T2";
    in.SetMeasured({50, 40, 40, 40});
    EXPECT_EQ(in.OutputStatus() & OutputBit::Fan, 0);
    EXPECT_NE(in.OutputStatus() & OutputBit::FanAuto, 0);

    in.SetMeasured({40, 81, 40, 40});
    EXPECT_EQ(in.OutputStatus() & (OutputBit::Alarm | OutputBit::Trip), OutputBit::Alarm);
    EXPECT_EQ(in.PhaseStatus(), PhaseBit::B);
    EXPECT_EQ(in.blackBox(), (TPhaseTemps{40, 81, 40, 40})) << "caught when the alarm came on";
    in.SetMeasured({40, 90, 40, 40});
    EXPECT_EQ(in.blackBox(), (TPhaseTemps{40, 81, 40, 40})) << "not while it stays on";
    in.SetMeasured({40, 40, 101, 40});
    EXPECT_EQ(in.OutputStatus() & OutputBit::Trip, OutputBit::Trip);
    EXPECT_EQ(in.blackBox(), (TPhaseTemps{40, 40, 101, 40}));
    EXPECT_EQ(in.highest(), (TPhaseTemps{60, 90, 101, 40}));
}

TEST(SimBus, FramesAcrossReadsJunkAndAddressMove)
{
    TSimBus bus;
    bus.AddInstrument(1, 2, 40, 1);
    bus.AddInstrument(7, 5, 40, 2);
    TFrame req = BuildRequest(7, Cmd::Model);
    auto events = bus.Receive(req.data(), 2, 0);
    EXPECT_TRUE(events.empty()) << "half a frame waits";
    events = bus.Receive(req.data() + 2, 2, 10);
    ASSERT_EQ(events.size(), 1u);
    ASSERT_TRUE(events[0].reply);
    EXPECT_EQ(DecodeModel(events[0].reply->data()).modelNumber, 5);

    const uint8_t noisy[] = {0x55, 0x3F, 0xAA, 0x01, 0x3F, 0xAA, 0x16};
    events = bus.Receive(noisy, sizeof noisy, 20);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(events[0].junk);
    EXPECT_EQ(events[0].bytes.size(), 3u);
    EXPECT_TRUE(events[1].reply);

    events = bus.Receive(noisy, 2, 30);
    EXPECT_TRUE(bus.Expire(30 + TSimBus::FrameGapMs).empty());
    EXPECT_EQ(bus.Expire(31 + TSimBus::FrameGapMs).size(), 1u) << "a stale partial frame is dropped";

    TFrame move = BuildLinkWrite(1, 9, 4800);
    events = bus.Receive(move.data(), move.size, 200);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].reply);
    EXPECT_EQ(bus.Find(1), nullptr);
    ASSERT_NE(bus.Find(9), nullptr);
    EXPECT_EQ(bus.Find(9)->parameters().baudCode, 4);
}
