// The recording step.
#include "Recording.h"

namespace zeva {

void TRecorder::Step(TMonitorReply kind, uint8_t address, int pollCount, int recordCycle, const TMainState& state,
                     const TStoreFn& store)
{
    const int64_t n = pollCount, counter = RecordCounter, cycle = recordCycle;
    if (n + counter >= cycle && counter < cycle) {
        bool accepted = kind == TMonitorReply::Model || kind == TMonitorReply::Live || kind == TMonitorReply::BlackBox;
        if ((RecordToggle & 1) && accepted) {
            const TAddressReadings& r = state.ByAddress[address];
            TRow row;
            row.address = address;
            row.live = r.live.value_or(TPhaseTemps{});
            row.blackBox = r.blackBox.value_or(TPhaseTemps{});
            store(row); // may throw: nothing below runs then
        }
        ++RecordToggle;
    }
    if (counter > cycle)
        RecordCounter = 0;
    else
        ++RecordCounter;
}

} // namespace zeva
