// What the journal records: alarms (acknowledged by the operator) and events, judged per instrument
// on each accepted live reply by the colours the main window shows (red is action or alarm), and
// for the instrument's and the link's health. No window and no database here.
#pragma once

#include "Frames.h"

#include <QString>

#include <array>
#include <bitset>
#include <cstdint>
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
    LinkDown{"alarm.linkdown", "串口断开"}, Fan{"event.fan", "风机控制输出"}, FanMode{"event.fanmode", "风机状态"},
    Buzzer{"event.buzzer", "蜂鸣器静音"}, BlackBoxClear{"event.blackbox", "清除黑匣子"},
    ForceOutput{"event.force", "强制输出"}, ParameterWrite{"event.write", "参数写入"},
    Central{"event.central", "中心库"}, Mqtt{"event.mqtt", "MQTT"};
} // namespace JournalKind

bool IsAlarmKind(const QString& code);

struct TJournalOp {
    enum class What { Raise, Clear, Event };
    What what;
    int address; // -1 for the whole bus
    QString kind; // the code
    QString text;
};

// An entry of that kind, its text the kind's own followed by "：detail" when there is one.
TJournalOp MakeJournalOp(TJournalOp::What what, int address, const TJournalKind& kind, const QString& detail = {});

class TAlarmTracker {
public:
    // The alarm conditions a live reply shows, as bits in the order of LiveAlarms below.
    static std::bitset<12> LiveConditions(const TPhaseTemps& temps, uint8_t phaseStatus, uint8_t outputStatus);

    // One accepted live reply of `address`: raises for conditions that came, clears for those that
    // went, events for the outputs that switched. At an instrument's first reply every condition
    // present is raised and no event is made (nothing was known before).
    std::vector<TJournalOp> Live(uint8_t address, const TPhaseTemps& temps, uint8_t phaseStatus, uint8_t outputStatus);
    // The instrument went 中断 (true) or answers again (false).
    std::vector<TJournalOp> Interrupted(uint8_t address, bool interrupted);
    // The link went down (true) or is back (false).
    std::vector<TJournalOp> LinkDown(bool down);

    bool Active(uint8_t address, const TJournalKind& kind) const;
    // An alarm the journal still holds open from an earlier run: it is not raised again while the
    // condition lasts, and is cleared when the first reply shows it gone. False for an unknown code.
    bool Restore(int address, const QString& code);

private:
    struct TState {
        bool known = false;
        std::bitset<12> live;
        uint8_t outputs = 0;
        bool interrupted = false;
    };
    std::array<TState, 256> m_states{};
    bool m_linkDown = false;
};

// The twelve conditions of a live reply, in bit order.
inline constexpr std::array<TJournalKind, 12> LiveAlarms{
    JournalKind::PhaseA,   JournalKind::PhaseB, JournalKind::PhaseC, JournalKind::PhaseD,
    JournalKind::Door,     JournalKind::OverTemp, JournalKind::Trip, JournalKind::Fault,
    JournalKind::ErrA,     JournalKind::ErrB,   JournalKind::ErrC,   JournalKind::ErrD,
};

} // namespace zeva
