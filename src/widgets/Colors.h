// Colours as the forms keep them: 24-bit values with red in the low byte (255 red, 65280 green).
#pragma once

#include <QColor>

#include <cstdint>

namespace zeva {

using TColor = uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clTeal = 0x808000;

inline QColor ToQColor(TColor c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

inline TColor FromQColor(const QColor& c)
{
    return TColor(c.red()) | TColor(c.green()) << 8 | TColor(c.blue()) << 16;
}

// An alarm priority's colour (0 紧急 .. 3 低) where it is shown: the banner, the journal, the
// overview; and the text colour that reads on it.
inline QColor PriorityColor(int priority)
{
    switch (priority) {
    case 0: return QColor(0xd0, 0x10, 0x10);
    case 1: return QColor(0xe8, 0x70, 0x00);
    case 2: return QColor(0xf0, 0xd0, 0x20);
    default: return QColor(0x50, 0x80, 0xc0);
    }
}
inline QColor PriorityTextColor(int priority)
{
    return priority == 2 ? QColor(Qt::black) : QColor(Qt::white);
}

} // namespace zeva
