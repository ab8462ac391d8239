// The polling table: every enabled instrument asked for its live and then its black-box reading.
#pragma once

#include "Frames.h"

#include <cstdint>
#include <vector>

namespace zeva {

class TPollTable {
public:
    // Addresses in the order of the enabled rows (ascending address); each keeps its low 8 bits.
    // Every enabled instrument is polled, however many there are.
    void Fill(const std::vector<int64_t>& addresses);
    int PollCount() const { return int(m_slots.size()); }
    int32_t PollTick = 0;

    // One tick: the request to send now, and the counter moved on. An empty table asks slot 0,
    // which holds address 0.
    TFrame Tick();
    // The next tick asks the first slot afresh: a new polling pass begins.
    bool NextStartsPass() const { return PollTick == 0 || int64_t(PollTick) >= 2 * int64_t(PollCount()); }

    // Timer period for a polling interval in seconds: a third of it, in whole milliseconds.
    static int TimerIntervalMs(int pollIntervalSeconds);

private:
    std::vector<uint8_t> m_slots;
};

} // namespace zeva
