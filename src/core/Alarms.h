// What the journal records: alarms (acknowledged by the operator) and events, judged per instrument
// on each accepted live reply by the colours the main window shows (red is action or alarm), and
// for the instrument's and the link's health. No window and no database here.
#pragma once

#include "AlarmStatistics.h"
#include "Frames.h"

#include <QString>

#include <array>
#include <bitset>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace zeva {

// The journal's kinds: "alarm.*" need an acknowledgement, "event.*" do not. One fixed table.
struct TJournalKind {
    const char* code;
    const char* text;
};
namespace JournalKind {
inline constexpr TJournalKind PhaseA{"alarm.phaseA", "A相状态报警"}, PhaseB{"alarm.phaseB", "B相状态报警"},
    PhaseC{"alarm.phaseC", "C相状态报警"}, PhaseD{"alarm.phaseD", "D相状态报警"},
    Door{"alarm.door", "柜门打开"}, OverTemp{"alarm.overtemp", "超温报警输出"}, Trip{"alarm.trip", "超温跳闸输出"},
    Fault{"alarm.fault", "故障输出"}, ErrA{"alarm.errA", "A相读数 ERR"}, ErrB{"alarm.errB", "B相读数 ERR"},
    ErrC{"alarm.errC", "C相读数 ERR"}, ErrD{"alarm.errD", "D相读数 ERR"}, Interrupted{"alarm.interrupted", "通讯中断"},
    LinkDown{"alarm.linkdown", "串口断开"}, OverT4{"alarm.overT4", "温度达到跳闸值 T4"}, Fan{"event.fan", "风机控制输出"}, FanMode{"event.fanmode", "风机状态"},
    Buzzer{"event.buzzer", "蜂鸣器静音"}, BlackBoxClear{"event.blackbox", "清除黑匣子"},
    ForceOutput{"event.force", "强制输出"}, ParameterWrite{"event.write", "参数写入"},
    Central{"event.central", "中心库"}, Mqtt{"event.mqtt", "MQTT"}, Shelve{"event.shelve", "搁置"},
    Mute{"event.mute", "报警静音"}, Web{"event.web", "Web"},
    ProgramStart{"event.start", "程序启动"};
} // namespace JournalKind

bool IsAlarmKind(const QString& code);
// Ends the fan output's entry that a run makes at an instrument's first reply.
inline constexpr const char* FanAtStartMark = "（启动时）";

// How urgent an alarm is; a lower number is more urgent. Events have none.
enum class TAlarmPriority : int { Urgent = 0, High = 1, Medium = 2, Low = 3 };
// 紧急, 高, 中, 低; empty for anything else.
// (PriorityText, below the core, gives 紧急, 高, 中, 低.)
std::optional<TAlarmPriority> PriorityFromText(const QString& text);
// Every alarm kind's code.
std::vector<QString> AlarmKindCodes();

// The priorities of the alarm kinds, with Data.ini's overrides, and the delays against chattering.
struct TAlarmPolicy {
    std::map<QString, TAlarmPriority> overrides; // by kind code
    qint64 onDelayMs = 0;  // a condition holds this long before it is raised
    qint64 offDelayMs = 0; // and is gone this long before it is cleared
    // The kind's own priority unless overridden; a kind not in the table is 低.
    TAlarmPriority PriorityOf(const QString& code) const;
};

// Raised this many times within ChatterWindowMs, an alarm is chattering (the statistics count it so).
inline constexpr int ChatterRaises = TAlarmStatistics::ChatterRaises;
inline constexpr qint64 ChatterWindowMs = qint64(TAlarmStatistics::ChatterSeconds) * 1000;

struct TJournalOp {
    enum class What { Raise, Clear, Event };
    What what;
    int address; // -1 for the whole bus
    QString kind; // the code
    QString text;
    std::optional<double> value; // what raised it: the phase temperature, the hottest phase
    bool chatter = false;        // a raise that makes ChatterRaises within ChatterWindowMs
};

// An entry of that kind, its text the kind's own followed by "：detail" when there is one.
TJournalOp MakeJournalOp(TJournalOp::What what, int address, const TJournalKind& kind, const QString& detail = {});

class TAlarmTracker {
public:
    // The alarm conditions a live reply shows, as bits in the order of LiveAlarms below; `t4` the
    // instrument's trip threshold in the registry (none or <= 0: not judged).
    static std::bitset<13> LiveConditions(const TPhaseTemps& temps, uint8_t phaseStatus, uint8_t outputStatus,
                                          std::optional<double> t4 = {});

    // The delays (nothing else of the policy matters here).
    void SetPolicy(const TAlarmPolicy& policy) { m_policy = policy; }

    // One accepted live reply of `address` at `nowMs` (a steady clock): raises for conditions that
    // came and have held the on-delay, clears for those gone for the off-delay, events for the
    // outputs that switched. At an instrument's first reply every condition present is raised (after
    // its delay) and the fan output's state is journaled marked as at the start (a report counts the
    // fan's running hours from it); no other event is made (nothing was known before).
    std::vector<TJournalOp> Live(uint8_t address, const TPhaseTemps& temps, uint8_t phaseStatus, uint8_t outputStatus,
                                 qint64 nowMs = 0, std::optional<double> t4 = {});
    // The instrument went 中断 (true) or answers again (false).
    std::vector<TJournalOp> Interrupted(uint8_t address, bool interrupted, qint64 nowMs = 0);
    // The link went down (true) or is back (false).
    std::vector<TJournalOp> LinkDown(bool down, qint64 nowMs = 0);

    bool Active(uint8_t address, const TJournalKind& kind) const;
    // Whether a live reply of the instrument has come since the start.
    bool Known(uint8_t address) const { return m_states[address].known; }
    // An alarm the journal still holds open from an earlier run: it is not raised again while the
    // condition lasts, and is cleared when the first reply shows it gone. False for an unknown code.
    bool Restore(int address, const QString& code);

private:
    struct TState {
        bool known = false;
        std::bitset<13> live;
        std::array<std::optional<qint64>, 13> pendingSince{}; // when the replies began to differ from `live`
        uint8_t outputs = 0;
        bool interrupted = false;
    };
    // Marks a raise that chatters, and remembers it.
    TJournalOp raised(TJournalOp op, qint64 nowMs);

    TAlarmPolicy m_policy;
    std::array<TState, 256> m_states{};
    bool m_linkDown = false;
    std::map<std::pair<int, QString>, std::deque<qint64>> m_raises; // recent raises per address and kind
};

// The thirteen conditions of a live reply, in bit order.
inline constexpr std::array<TJournalKind, 13> LiveAlarms{
    JournalKind::PhaseA,   JournalKind::PhaseB, JournalKind::PhaseC, JournalKind::PhaseD,
    JournalKind::Door,     JournalKind::OverTemp, JournalKind::Trip, JournalKind::Fault,
    JournalKind::ErrA,     JournalKind::ErrB,   JournalKind::ErrC,   JournalKind::ErrD,
    JournalKind::OverT4,
};

} // namespace zeva
