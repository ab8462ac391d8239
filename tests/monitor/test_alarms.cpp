// Which replies raise, clear or note what in the journal.
#include "Alarms.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(all.to_string(), "010111111111") << "ERR for A and C, not for exactly 255";
}

TEST(Alarms, AlarmsRaiseOnceAndClearOnceAndOutputsAreEvents)
{
    TAlarmTracker t;
    // Found in alarm at its first reply after start: raised then; no event (nothing known before).
    EXPECT_EQ(names(t.Live(3, {85, 25, 25, 25}, PhaseBit::A, OutputBit::Fan | OutputBit::FanAuto)),
              (std::vector<std::string>{"+alarm.phaseA@3", "+alarm.overtemp@3"}));
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
    EXPECT_TRUE(t.Live(4, {40, 25, 25, 25}, 0, Healthy).empty());

    EXPECT_EQ(names(t.Interrupted(4, true)), (std::vector<std::string>{"+alarm.interrupted@4"}));
    EXPECT_TRUE(t.Interrupted(4, true).empty());
    EXPECT_EQ(names(t.Interrupted(4, false)), (std::vector<std::string>{"-alarm.interrupted@4"}));
    EXPECT_EQ(names(t.LinkDown(true)), (std::vector<std::string>{"+alarm.linkdown@-1"}));
    EXPECT_TRUE(t.LinkDown(true).empty());
    EXPECT_EQ(names(t.LinkDown(false)), (std::vector<std::string>{"-alarm.linkdown@-1"}));
    EXPECT_TRUE(IsAlarmKind("alarm.door"));
    EXPECT_FALSE(IsAlarmKind("event.fan"));
}
