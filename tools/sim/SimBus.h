// A bus of simulated instruments: splits the bytes the PC sends into frames and answers them.
#pragma once

#include "SimInstrument.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace zeva::sim {

struct TBusEvent {
    bool junk = false;           // bytes that formed no frame and were dropped
    std::vector<uint8_t> bytes;  // the frame or the dropped bytes
    std::optional<TFrame> reply; // the answer of the addressed instrument
};

class TSimBus {
public:
    // Bytes pending longer than this without a further byte are dropped: a real instrument
    // resynchronises on the gap between frames.
    static constexpr int64_t FrameGapMs = 50;

    TSimInstrument& AddInstrument(uint8_t address, uint8_t model, double baseTemp, uint32_t seed,
                                  uint32_t lineBaud = 9600);
    std::vector<TSimInstrument>& instruments() { return m_instruments; }
    TSimInstrument* Find(uint8_t address);

    void Advance(int64_t nowMs);
    // `lineBaud`: the speed the PC's port runs at (0: not known, every instrument hears it). An
    // instrument at another speed hears only noise: it neither answers nor acts on the frame.
    std::vector<TBusEvent> Receive(const uint8_t* bytes, std::size_t length, int64_t nowMs, uint32_t lineBaud = 0);
    // Drops a stale partial frame; call when idle.
    std::vector<TBusEvent> Expire(int64_t nowMs);

private:
    void scan(std::vector<TBusEvent>& events, uint32_t lineBaud);
    void flushJunk(std::vector<TBusEvent>& events);

    std::vector<TSimInstrument> m_instruments;
    std::vector<uint8_t> m_pending;
    std::vector<uint8_t> m_junk;
    int64_t m_lastByteMs = 0;
};

} // namespace zeva::sim
