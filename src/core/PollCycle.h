// The polling table: every enabled instrument asked for its live and then its black-box reading.
#pragma once

#include "Frames.h"

#include <array>
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

// The live and black-box requests that wait for their answer. One bus has one master: a reading
// nobody asked for is noise, an echo or another master's, and is not taken. A request stays
// outstanding until its answer comes or the next request with the same address and command goes
// out (on a slow line the answer may come after the next request to another instrument).
class TOutstanding {
public:
    // Other commands are not tracked.
    void Sent(uint8_t address, uint8_t command);
    // True, and the request answered, when `command` to `address` is outstanding.
    bool Answer(uint8_t address, uint8_t command);

private:
    static uint8_t bitOf(uint8_t command);
    std::array<uint8_t, 256> m_waiting{}; // per address: bit 0 live, bit 1 black box
};

} // namespace zeva
