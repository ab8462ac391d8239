// Reply handling of the main window, without the window.
#include "ReplyHandling.h"

#include "UPublic.h"

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

QString TempText(double value)
{
    return QString::fromStdString(TempToText(value));
}

std::vector<TColor> StatusMarks(uint8_t ps, uint8_t os)
{
    TStatusView v = StatusView(ps, os);
    return {v.phase[0], v.phase[1], v.phase[2],
            v.phase[3], (ps & PhaseBit::Door) ? LampRed : LampGreen,
            v.fan,      v.alarm,    v.trip,     v.fault};
}

QString PhaseText(double value)
{
    if (value > 255 || value < -30)
        return QStringLiteral("ERR");
    return TempText(value);
}

TChunkOutcome HandleChunk(TMainState& state, TRxBuffer& rx, const uint8_t* chunk, std::size_t length)
{
    rx.Overlay(chunk, length);
    TChunkOutcome out;
    out.kind = AcceptMonitorReply(rx);
    out.address = rx[0];
    TAddressReadings& mine = state.ByAddress[rx[0]];
    switch (out.kind) {
    case TMonitorReply::Model: {
        TModelReading m = DecodeModel(rx.data());
        out.typeName = QString::fromStdString(m.model.TypeName);
        state.CurrentTypeName = out.typeName;
        state.CurrentCapition = QString::fromStdString(m.model.Capition);
        break;
    }
    case TMonitorReply::Live: {
        TLiveReading r = DecodeLive(rx.data());
        state.LiveTemps = r.temps;
        mine.live = r.temps;
        out.status = StatusView(r.PhaseStatus, r.OutputStatus);
        mine.status = {r.PhaseStatus, r.OutputStatus};
        for (std::size_t i = 0; i < 3; ++i)
            out.phaseTexts[i] = PhaseText(r.temps[i]);
        out.feedsChart = r.address == state.SelectedAddress;
        break;
    }
    case TMonitorReply::BlackBox: {
        TBlackBoxReading r = DecodeBlackBox(rx.data());
        state.BlackBoxTemps = r.blackBox;
        state.HighestTemps = r.highest;
        mine.blackBox = r.blackBox;
        mine.highest = r.highest;
        out.feedsChart = r.address == state.SelectedAddress;
        break;
    }
    default: break;
    }
    return out;
}

} // namespace zeva
