// What one received chunk changes: the shared readings, and what a window would show. No window here.
#pragma once

#include "MainState.h"
#include "PollCycle.h"
#include "RxBuffer.h"

#include <QMetaType>
#include <QString>

#include <array>

namespace zeva {

// A phase temperature as the displays show it: "ERR" above 255 or below -30.
QString PhaseText(double value);
// The same beyond the displays (the overview): one decimal always.
QString PhaseOneDecimal(double value);
QString TempText(double value);

struct TChunkOutcome {
    TMonitorReply kind = TMonitorReply::Ignored;
    uint8_t address = 0;
    QString typeName;               // model reply
    std::array<QString, 3> phaseTexts; // live reply: phases A, B, C
    uint8_t phaseStatus = 0, outputStatus = 0; // live reply
    bool feedsChart = false;        // from the selected instrument
    bool unasked = false;           // a live or black-box reply no outstanding request asked for
};

// Copies the chunk into the receive buffer, accepts it and updates the shared readings. A live or
// black-box reply counts only as the answer to an outstanding request: otherwise nothing changes.
TChunkOutcome HandleChunk(TMainState& state, TRxBuffer& rx, TOutstanding& outstanding, const uint8_t* chunk,
                          std::size_t length);

} // namespace zeva

// The core reports it by signal, also to listeners on other threads.
Q_DECLARE_METATYPE(zeva::TChunkOutcome)
