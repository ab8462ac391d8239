// Reply handling of the monitoring core.
#include "ReplyHandling.h"

#include "Convert.h"
#include "PlantTypes.h"
#include "UPublic.h"

namespace zeva {

QString TempText(double value)
{
    return QString::fromStdString(TempToText(value));
}

QString PhaseText(double value)
{
    return Shown(value) ? TempText(value) : QStringLiteral("ERR");
}

QString PhaseOneDecimal(double value)
{
    return Shown(value) ? OneDecimal(value) : QStringLiteral("ERR");
}

TChunkOutcome HandleChunk(TMainState& state, TRxBuffer& rx, TOutstanding& outstanding, const uint8_t* chunk,
                          std::size_t length)
{
    rx.Overlay(chunk, length);
    TChunkOutcome out;
    out.kind = AcceptMonitorReply(rx);
    out.address = rx[0];
    if ((out.kind == TMonitorReply::Live || out.kind == TMonitorReply::BlackBox) && !outstanding.Answer(rx[0], rx[2])) {
        out.unasked = true;
        return out;
    }
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
        mine.liveAt = std::chrono::steady_clock::now();
        out.phaseStatus = r.PhaseStatus;
        out.outputStatus = r.OutputStatus;
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
