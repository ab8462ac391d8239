// The status panel's lamps and texts, and the overview's marks, for the two status bytes of a
// live reply.
#pragma once

#include "Colors.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace zeva {

inline constexpr TColor LampRed = 255;
inline constexpr TColor LampGreen = 65280;

// Lamps and texts of the status panel for the two status bytes of a live reply.
struct TStatusView {
    std::array<TColor, 4> phase{};  // AShape..DShape
    QString door;                   // GShape
    TColor fan = 0, alarm = 0, trip = 0, fault = 0; // D1Shape, D2Shape, D3Shape, D6Shape
    QString fanMode;                // D4Shape
    QString buzzer;                 // D5Shape
};
TStatusView StatusView(uint8_t phaseStatus, uint8_t outputStatus);
// The overview's marks of one instrument, in the lamps' order: phases A..D, door (red when open),
// fan, alarm, trip, fault; the colours are the lamps' own.
std::vector<TColor> StatusMarks(uint8_t phaseStatus, uint8_t outputStatus);
inline constexpr const char* StatusMarkNames = "A相 B相 C相 D相 柜门 风机 超温报警 超温跳闸 故障";

} // namespace zeva
