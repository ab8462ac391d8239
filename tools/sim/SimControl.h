// The simulator's control channel: one command per line, written to a FIFO by a test or a person.
//
//   temp ADDR A B C D     pin the phase temperatures (no more wander)
//   wander ADDR           let them wander again
//   door ADDR open|closed
//   fault ADDR on|off [A|B|C|D]   sensor fault: fault output on; with a phase, it reads 6553.5
//   present ADDR on|off   an instrument cut from the bus answers nothing
//   baud ADDR RATE        the instrument's own line speed
//   drop|corrupt|split|noise P     share 0..1 of replies
//   delay MS              before each reply
//   burst N               N random bytes on the line at once
//   send HEX...           these bytes on the line (for example a reply of an unknown instrument)
//   send after ADDR HEX...  the same, 150 ms after the next reply by ADDR (one per reply): a read
//                         of its own that never overlaps a request, whatever the machine's load
//   unplug | plug         the adapter pulled (the pty goes away) and put back (same path)
#pragma once

#include "Frames.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zeva::sim {

struct TControlCommand {
    enum class Kind { Temp, Wander, Door, Fault, Present, Baud, Share, Delay, Burst, Send, Unplug, Plug };
    Kind kind{};
    int address = -1;
    TPhaseTemps temps{};
    bool on = false;
    int phase = -1;
    uint32_t baud = 0;
    std::string share; // drop, corrupt, split or noise
    double value = 0;
    std::vector<uint8_t> bytes;
    int after = -1; // send: after the next reply by this address
};

// The command of one line, or the reason it is refused.
struct TParsedControl {
    std::optional<TControlCommand> command;
    std::string error;
};
TParsedControl ParseControlLine(const std::string& line);

} // namespace zeva::sim
