// The simulated instrument's relay logic, black box and parameter store.
#include "SimBus.h"
#include "SimControl.h"

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
    EXPECT_EQ(in.OutputStatus() & (OutputBit::Alarm | OutputBit::Trip), OutputBit::Alarm)
        << "healthy: the alarm bit reads 1 (shown green), the trip bit 0 (shown green)";

    in.SetMeasured({40, 81, 40, 40});
    EXPECT_EQ(in.OutputStatus() & (OutputBit::Alarm | OutputBit::Trip), 0) << "in alarm the alarm bit drops";
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
    EXPECT_TRUE(bus.Expire(80).empty());
    EXPECT_EQ(bus.Expire(81).size(), 1u) << "a partial frame stale for over 50 ms is dropped";

    TFrame move = BuildLinkWrite(1, 9, 4800);
    events = bus.Receive(move.data(), move.size, 200);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].reply);
    EXPECT_EQ(bus.Find(1), nullptr);
    ASSERT_NE(bus.Find(9), nullptr);
    EXPECT_EQ(bus.Find(9)->parameters().baudCode, 4);
}

TEST(SimBus, AnInstrumentAtAnotherSpeedOrCutOffHearsNothing)
{
    TSimBus bus;
    bus.AddInstrument(1, 2, 40, 1, 2400);
    bus.AddInstrument(2, 2, 40, 2);
    TFrame ask1 = BuildRequest(1, Cmd::Model), ask2 = BuildRequest(2, Cmd::Model);
    EXPECT_FALSE(bus.Receive(ask1.data(), ask1.size, 0, 9600).front().reply);
    EXPECT_TRUE(bus.Receive(ask2.data(), ask2.size, 0, 9600).front().reply);
    EXPECT_TRUE(bus.Receive(ask1.data(), ask1.size, 0, 2400).front().reply);

    // A link write heard at the wrong speed changes nothing; heard at the right one, the
    // instrument moves to its new address and rate.
    TFrame move = BuildLinkWrite(2, 5, 1200);
    bus.Receive(move.data(), move.size, 10, 4800);
    EXPECT_NE(bus.Find(2), nullptr);
    bus.Receive(move.data(), move.size, 10, 9600);
    ASSERT_NE(bus.Find(5), nullptr);
    EXPECT_EQ(bus.Find(5)->lineBaud(), 1200u);
    TFrame ask5 = BuildRequest(5, Cmd::ReadLink);
    EXPECT_FALSE(bus.Receive(ask5.data(), ask5.size, 20, 9600).front().reply);
    auto events = bus.Receive(ask5.data(), ask5.size, 20, 1200);
    ASSERT_TRUE(events.front().reply);
    EXPECT_EQ(DecodeLink(events.front().reply->data()).baud, 1200);

    bus.Find(5)->setPresent(false);
    EXPECT_FALSE(bus.Receive(ask5.data(), ask5.size, 30, 1200).front().reply);
}

TEST(SimInstrument, PinnedTemperaturesDoorAndSensorFault)
{
    TSimInstrument in(1, 2, 30, 7);
    in.Pin({27.5, 1.7, 0, 437.1});
    in.Advance(0);
    in.Advance(60000);
    EXPECT_EQ(in.temps(), (TPhaseTemps{27.5, 1.7, 0, 437.1})) << "a minute on, still where pinned";
    in.Release();
    in.Advance(120000);
    EXPECT_NE(in.temps(), (TPhaseTemps{27.5, 1.7, 0, 437.1})) << "released: wanders again";

    in.setDoorOpen(true);
    EXPECT_EQ(in.PhaseStatus() & PhaseBit::Door, PhaseBit::Door);
    in.setFault(true, 2);
    EXPECT_EQ(in.OutputStatus() & OutputBit::Fault, OutputBit::Fault);
    EXPECT_EQ(in.temps()[2], 6553.5);
    in.setFault(false);
    EXPECT_EQ(in.OutputStatus() & OutputBit::Fault, 0);
    EXPECT_LT(in.temps()[2], 6553.5);
}

TEST(SimControl, LinesAndTheirRefusals)
{
    using K = TControlCommand::Kind;
    auto ok = [](const char* line) {
        TParsedControl p = ParseControlLine(line);
        EXPECT_TRUE(p.command) << line << ": " << p.error;
        return p.command.value_or(TControlCommand{});
    };
    TControlCommand c = ok("temp 19 27.5 1.7 0 6553.5");
    EXPECT_EQ(c.kind, K::Temp);
    EXPECT_EQ(c.address, 19);
    EXPECT_EQ(c.temps, (TPhaseTemps{27.5, 1.7, 0, 6553.5}));
    c = ok("  door 3 open ");
    EXPECT_EQ(c.kind, K::Door);
    EXPECT_TRUE(c.on);
    c = ok("fault 255 on D");
    EXPECT_EQ(c.phase, 3);
    EXPECT_FALSE(ok("present 0 off").on);
    EXPECT_EQ(ok("baud 4 14400").baud, 14400u);
    c = ok("noise 0.25");
    EXPECT_EQ(c.share, "noise");
    EXPECT_EQ(c.value, 0.25);
    EXPECT_EQ(ok("send 00 ff 11 13").bytes, (std::vector<uint8_t>{0x00, 0xFF, 0x11, 0x13}));
    EXPECT_EQ(ok("burst 3072").value, 3072);
    EXPECT_EQ(ok("unplug").kind, K::Unplug);
    EXPECT_EQ(ok("plug").kind, K::Plug);

    for (const char* bad : {"", "temp 1 2 3 4", "temp 256 1 1 1 1", "temp 1 1 1 1 7000", "door 1 ajar",
                            "fault 1 on E", "present x on", "baud 1 0", "drop 1.5", "delay -1", "burst 0",
                            "send 100", "send zz", "unplug now", "reboot", "temp 1.5 1 1 1 1"})
        EXPECT_FALSE(ParseControlLine(bad).command) << bad;
}
