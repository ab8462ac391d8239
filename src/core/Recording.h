// The recording step: which received chunks store a row of readings, counted across cycles.
#pragma once

#include "MainState.h"
#include "RxBuffer.h"

#include <cstdint>
#include <functional>

namespace zeva {

class TRecorder {
public:
    int32_t RecordCounter = 0;
    uint8_t RecordToggle = 0;

    // What a stored row carries: the answering instrument's own newest readings.
    struct TRow {
        uint8_t address = 0;
        TPhaseTemps live{};
        TPhaseTemps blackBox{};
    };
    using TStoreFn = std::function<void(const TRow&)>;

    // Runs for every chunk with the right marker. At an odd toggle inside the window a row is
    // stored, but only when the chunk was accepted as a reply; a store that throws leaves both
    // counters where they were, so the next chunk tries the same place again.
    void Step(TMonitorReply kind, uint8_t address, int pollCount, int recordCycle, const TMainState& state,
              const TStoreFn& store);
};

} // namespace zeva
