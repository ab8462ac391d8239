// Which replies raise, clear or note what in the journal.
#include "Alarms.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace zeva;

namespace {

using W = TJournalOp::What;
constexpr uint8_t Healthy = OutputBit::Alarm | OutputBit::FanAuto; // every lamp green, fan automatic

std::vector<std::string> names(const std::vector<TJournalOp>& ops)
{
    std::vector<std::string> v;
    for (const TJournalOp& op : ops) {
        const char* what = op.what == W::Raise ? "+" : op.what == W::Clear ? "-" : "*";
        v.push_back(what + op.kind.toStdString() + "@" + std::to_string(op.address));
    }
    return v;
}

} // namespace

TEST(Alarms, EveryRedLampAndEveryErrIsAnAlarmFollowingTheWindowsColours)
{
    // The alarm lamp is red when its bit is 0, the others when theirs is 1.
    EXPECT_EQ(TAlarmTracker::LiveConditions({25, 25, 25, 25}, 0, Healthy).count(), 0u);
    EXPECT_EQ(TAlarmTracker::LiveConditions({25, 25, 25, 25}, 0, 0).to_ulong(), 1ul << 5) << "alarm bit 0: red";
    auto all = TAlarmTracker::LiveConditions({255.1, 25, 6553.5, 255}, 0x1F, OutputBit::Trip | OutputBit::Fault);
    EXPECT_EQ(all.to_string(), "0010111111111") << "ERR for A and C, not for exactly 255";
}

TEST(Alarms, AlarmsRaiseOnceAndClearOnceAndOutputsAreEvents)
{
    TAlarmTracker t;
    // Found in alarm at its first reply after start: raised then; of the outputs only the fan's
    // state, marked as at the start.
    const auto first = t.Live(3, {85, 25, 25, 25}, PhaseBit::A, OutputBit::Fan | OutputBit::FanAuto);
    EXPECT_EQ(names(first), (std::vector<std::string>{"+alarm.phaseA@3", "+alarm.overtemp@3", "*event.fan@3"}));
    EXPECT_EQ(first.back().text.toStdString(), "风机控制输出：动作（启动时）");
    EXPECT_TRUE(t.Active(3, JournalKind::OverTemp));
    // The same condition again: nothing.
    EXPECT_TRUE(t.Live(3, {86, 25, 25, 25}, PhaseBit::A, OutputBit::Fan | OutputBit::FanAuto).empty());
    // Back to normal, the fan stops: two clears and one event.
    EXPECT_EQ(names(t.Live(3, {40, 25, 25, 25}, 0, Healthy)),
              (std::vector<std::string>{"-alarm.phaseA@3", "-alarm.overtemp@3", "*event.fan@3"}));
    // A flapping door across two replies: one raise, one clear.
    EXPECT_EQ(names(t.Live(3, {40, 25, 25, 25}, PhaseBit::Door, Healthy)), (std::vector<std::string>{"+alarm.door@3"}));
    EXPECT_EQ(names(t.Live(3, {40, 25, 25, 25}, 0, Healthy)), (std::vector<std::string>{"-alarm.door@3"}));
    // Mode and buzzer are events; other instruments are tracked apart.
    EXPECT_EQ(names(t.Live(3, {40, 25, 25, 25}, 0, OutputBit::Alarm | OutputBit::BuzzerMute)),
              (std::vector<std::string>{"*event.fanmode@3", "*event.buzzer@3"}));
    EXPECT_EQ(names(t.Live(4, {40, 25, 25, 25}, 0, Healthy)), (std::vector<std::string>{"*event.fan@4"}));

    EXPECT_EQ(names(t.Interrupted(4, true)), (std::vector<std::string>{"+alarm.interrupted@4"}));
    EXPECT_TRUE(t.Interrupted(4, true).empty());
    EXPECT_EQ(names(t.Interrupted(4, false)), (std::vector<std::string>{"-alarm.interrupted@4"}));
    EXPECT_EQ(names(t.LinkDown(true)), (std::vector<std::string>{"+alarm.linkdown@-1"}));
    EXPECT_TRUE(t.LinkDown(true).empty());
    EXPECT_EQ(names(t.LinkDown(false)), (std::vector<std::string>{"-alarm.linkdown@-1"}));
    EXPECT_TRUE(IsAlarmKind("alarm.door"));
    EXPECT_FALSE(IsAlarmKind("event.fan"));
}

TEST(Alarms, DelaysHoldOffAChatteringContactAndRepeatedRaisesAreMarkedChattering)
{
    TAlarmTracker t;
    TAlarmPolicy p;
    p.onDelayMs = 3000;
    p.offDelayMs = 2000;
    t.SetPolicy(p);
    t.Live(3, {40, 25, 25, 25}, 0, Healthy, 0);
    // A contact that opens and closes every second never holds 3 s: nothing.
    for (qint64 ms = 1000; ms < 10000; ms += 1000)
        EXPECT_TRUE(t.Live(3, {40, 25, 25, 25}, (ms / 1000) % 2 ? 0 : PhaseBit::Door, Healthy, ms).empty()) << ms;
    // Held open: raised once it has held 3 s, then a closing shorter than the off-delay changes nothing.
    EXPECT_TRUE(t.Live(3, {40, 25, 25, 25}, PhaseBit::Door, Healthy, 10000).empty());
    EXPECT_TRUE(t.Live(3, {40, 25, 25, 25}, PhaseBit::Door, Healthy, 12999).empty());
    EXPECT_EQ(names(t.Live(3, {40, 25, 25, 25}, PhaseBit::Door, Healthy, 13000)), (std::vector<std::string>{"+alarm.door@3"}));
    EXPECT_TRUE(t.Live(3, {40, 25, 25, 25}, 0, Healthy, 14000).empty());
    EXPECT_TRUE(t.Live(3, {40, 25, 25, 25}, PhaseBit::Door, Healthy, 15000).empty());
    EXPECT_TRUE(t.Live(3, {40, 25, 25, 25}, 0, Healthy, 16000).empty());
    EXPECT_EQ(names(t.Live(3, {40, 25, 25, 25}, 0, Healthy, 18000)), (std::vector<std::string>{"-alarm.door@3"}));

    // Without delays: the third raise within 60 s is chattering, one after a quiet minute is not.
    TAlarmTracker n;
    std::vector<bool> marks;
    for (qint64 ms : {0, 20000, 59000, 130000}) {
        for (const TJournalOp& op : n.Live(4, {40, 25, 25, 25}, PhaseBit::Door, Healthy, ms))
            if (op.what == W::Raise)
                marks.push_back(op.chatter);
        n.Live(4, {40, 25, 25, 25}, 0, Healthy, ms + 500);
    }
    EXPECT_EQ(marks, (std::vector<bool>{false, false, true, false}));
}

TEST(Alarms, PrioritiesByKindWithOverridesAndTheTripThresholdAlarmWithItsValue)
{
    TAlarmPolicy p;
    EXPECT_EQ(p.PriorityOf("alarm.trip"), TAlarmPriority::Urgent);
    EXPECT_EQ(p.PriorityOf("alarm.overT4"), TAlarmPriority::Urgent);
    EXPECT_EQ(p.PriorityOf("alarm.linkdown"), TAlarmPriority::High);
    EXPECT_EQ(p.PriorityOf("alarm.errC"), TAlarmPriority::Medium);
    p.overrides["alarm.door"] = *PriorityFromText("紧急");
    EXPECT_EQ(p.PriorityOf("alarm.door"), TAlarmPriority::Urgent);
    EXPECT_FALSE(PriorityFromText("最高"));

    // At or above T4 (not ERR), only where T4 > 0; the value is the hottest phase at or above it.
    EXPECT_FALSE(TAlarmTracker::LiveConditions({149.9, 25, 25, 25}, 0, Healthy, 150.0)[12]);
    EXPECT_FALSE(TAlarmTracker::LiveConditions({150, 25, 25, 25}, 0, Healthy, 0.0)[12]);
    EXPECT_FALSE(TAlarmTracker::LiveConditions({6553.5, 25, 25, 25}, 0, Healthy, 150.0)[12]);
    TAlarmTracker t;
    const auto ops = t.Live(5, {150, 151.5, 25, 6553.5}, 0, Healthy, 0, 150.0);
    const auto t4 = std::find_if(ops.begin(), ops.end(), [](const TJournalOp& op) { return op.kind == "alarm.overT4"; });
    ASSERT_NE(t4, ops.end());
    EXPECT_EQ(t4->value, 151.5);
    EXPECT_EQ(t4->text.toStdString(), "温度达到跳闸值 T4：150.0 ℃");
    const auto phaseB = t.Live(6, {25, 91, 25, 25}, PhaseBit::B, Healthy, 0);
    ASSERT_EQ(names(phaseB), (std::vector<std::string>{"+alarm.phaseB@6", "*event.fan@6"}));
    EXPECT_EQ(phaseB[0].value, 91) << "a phase alarm carries that phase's temperature";
}
