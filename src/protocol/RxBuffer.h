// The 30-byte receive buffer both windows examine replies in, and the rules that accept a reply.
#pragma once

#include "Commands.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace zeva {

// Each chunk is copied to the start and overwrites only as many bytes as it holds; the rest keep what
// earlier chunks left. Never cleared. Bytes of a chunk beyond 30 are not examined.
class TRxBuffer {
public:
    // Returns how many bytes of the chunk were taken.
    std::size_t Overlay(const uint8_t* chunk, std::size_t length);

    const uint8_t* data() const { return m_bytes.data(); }
    uint8_t operator[](std::size_t i) const { return m_bytes[i]; }
    // The buffer holds a reply to `command` that the last chunk brought whole. Leftover bytes of
    // earlier chunks never complete a reply: the head of one instrument's split reply over the
    // tail of another's can pass the checksum and would yield readings nobody sent.
    bool Holds(uint8_t command) const;

private:
    std::array<uint8_t, FrameBufferSize> m_bytes{};
    std::size_t m_taken = 0;
};

// Marker at 1, `command` at 2 and the checksum over the reply's bytes before its last one.
bool IsReply(const uint8_t* buffer, uint8_t command);

// What the main window makes of a chunk.
enum class TMonitorReply {
    Ignored,      // wrong marker: nothing happens, not even the recording step
    Unrecognised, // marker right, but no reply accepted: only the recording step runs
    Model,
    Live,
    BlackBox,
};

TMonitorReply AcceptMonitorReply(const TRxBuffer& rx);

// The configuration window's tests, in the order it makes them.
inline constexpr std::array<uint8_t, 5> ConfigReplyOrder{Cmd::ReadThresholds, Cmd::ReadCompensation,
                                                         Cmd::ReadFanTiming, Cmd::ReadLink, Cmd::Model};

// The command whose reply the buffer holds, if any; byte 0 is not examined.
std::optional<uint8_t> AcceptConfigReply(const TRxBuffer& rx);

} // namespace zeva
