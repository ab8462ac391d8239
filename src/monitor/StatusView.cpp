// Status lamps and marks.
#include "StatusView.h"

#include "Frames.h"

namespace zeva {

TStatusView StatusView(uint8_t ps, uint8_t os)
{
    auto lamp = [](bool on) { return on ? LampRed : LampGreen; };
    TStatusView v;
    for (int i = 0; i < 4; ++i)
        v.phase[std::size_t(i)] = lamp(ps & (1 << i));
    v.door = (ps & PhaseBit::Door) ? QStringLiteral("开") : QStringLiteral("关");
    v.fan = lamp(os & OutputBit::Fan);
    v.alarm = (os & OutputBit::Alarm) ? LampGreen : LampRed; // the opposite sense from its neighbours
    v.trip = lamp(os & OutputBit::Trip);
    v.fanMode = (os & OutputBit::FanAuto) ? QStringLiteral("自动") : QStringLiteral("手动");
    v.buzzer = (os & OutputBit::BuzzerMute) ? QStringLiteral("静音") : QStringLiteral("不静音");
    v.fault = lamp(os & OutputBit::Fault);
    return v;
}

std::vector<TColor> StatusMarks(uint8_t ps, uint8_t os)
{
    TStatusView v = StatusView(ps, os);
    return {v.phase[0], v.phase[1], v.phase[2],
            v.phase[3], (ps & PhaseBit::Door) ? LampRed : LampGreen,
            v.fan,      v.alarm,    v.trip,     v.fault};
}

} // namespace zeva
