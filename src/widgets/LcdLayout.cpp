// The arithmetic of the seven-segment display.
#include "LcdLayout.h"

#include <algorithm>
#include <cmath>

namespace zeva::lcd {

namespace {

constexpr uint8_t bit(int s)
{
    return uint8_t(1u << (s - 1));
}

template <typename... S> constexpr uint8_t segs(S... s)
{
    return uint8_t((bit(s) | ... | 0));
}

// Lit segments of the 38 characters: 0-9, minus, colon, then A-Z.
constexpr std::array<uint8_t, 38> CharTable{
    segs(1, 2, 3, 5, 6, 7), segs(3, 6),          segs(1, 3, 4, 5, 7),    segs(1, 3, 4, 6, 7),
    segs(2, 3, 4, 6),       segs(1, 2, 4, 6, 7), segs(1, 2, 4, 5, 6, 7), segs(1, 3, 6),
    segs(1, 2, 3, 4, 5, 6, 7), segs(1, 2, 3, 4, 6, 7), segs(4),           segs(8),
    segs(1, 2, 3, 4, 5, 6), segs(2, 4, 5, 6, 7), segs(1, 2, 5, 7),       segs(3, 4, 5, 6, 7), // A B C D
    segs(1, 2, 4, 5, 7),    segs(1, 2, 4, 5),    segs(1, 2, 4, 5, 6, 7), segs(2, 4, 5, 6),    // E F G H
    segs(3, 6),             segs(3, 6, 7),       segs(2, 3, 4, 5, 6),    segs(2, 5, 7),       // I J K L
    segs(4, 5, 6),          segs(4, 5, 6),       segs(4, 5, 6, 7),       segs(1, 2, 3, 4, 5), // M N O P
    segs(1, 2, 3, 4, 6),    segs(4, 5),          segs(1, 2, 4, 6, 7),    segs(2, 4, 5),       // Q R S T
    segs(2, 3, 5, 6, 7),    segs(2, 3, 5, 6, 7), segs(2, 3, 5, 6, 7),    segs(2, 3, 4, 5, 6), // U V W X
    segs(2, 3, 4, 6),       segs(1, 3, 4, 5, 7),                                               // Y Z
};

constexpr std::array<int, 8> OrderSpiral{8, 4, 2, 1, 3, 6, 7, 5};
constexpr std::array<int, 8> OrderUp{7, 6, 5, 8, 4, 3, 2, 1};
constexpr std::array<int, 8> OrderDown{1, 2, 3, 8, 4, 5, 6, 7};
constexpr std::array<int, 8> OrderLeft{6, 3, 7, 8, 4, 1, 5, 2};
constexpr std::array<int, 8> OrderRight{2, 5, 1, 8, 4, 7, 3, 6};

bool accepted(char c)
{
    return (c >= '0' && c <= '9') || c == '-' || c == ' ' || c == '.' || (c >= 'A' && c <= 'Z') || c == ':';
}

} // namespace

std::string NormaliseValue(const std::string& text)
{
    std::string t = text;
    for (char& c : t)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    if (!std::all_of(t.begin(), t.end(), accepted))
        return {};
    if (!t.empty() && t.back() == '.')
        t.pop_back();
    return t;
}

std::pair<std::string, std::string> SplitValue(const std::string& text)
{
    std::string digits, points;
    bool pending = false;
    for (char c : text) {
        if (c == '.') {
            points += '.';
            if (pending)
                digits += ' ';
            else
                pending = true;
        } else {
            if (pending)
                pending = false;
            else
                points += ' ';
            digits += c;
        }
    }
    return {digits, points};
}

void AlignRight(std::string& s, int digits)
{
    if (int(s.size()) < digits)
        s.insert(0, std::size_t(digits) - s.size(), ' ');
}

int CharRow(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c == '-')
        return 10;
    if (c == ':')
        return 11;
    if (c >= 'A' && c <= 'Z')
        return c - 53;
    if (c == ' ')
        return 8;
    return -1;
}

bool Lights(int row, int segment)
{
    if (row < 0 || row >= int(CharTable.size()) || segment < 1 || segment > 8)
        return false;
    return (CharTable[std::size_t(row)] & bit(segment)) != 0;
}

bool CharLights(char c, int segment)
{
    return c != ' ' && Lights(CharRow(c), segment);
}

const std::array<int, 8>& AnimationOrder(TLCDAnimation kind)
{
    switch (kind) {
    case anSpiral: return OrderSpiral;
    case anUp: return OrderUp;
    case anLeft: return OrderLeft;
    case anRight: return OrderRight;
    default: return OrderDown;
    }
}

TLcdLayout ComputeLayout(const TLcdParams& p)
{
    TLcdLayout l;
    const int n = std::max(1, p.DigitNum);
    l.dots = p.DotDisplay;
    l.T = p.SegmentSize;
    if (!p.DotDisplay) {
        l.S = p.DigitSpacing + 1;
        l.W = (p.Width - 1 - l.S - n * l.S) / n;
        l.H = p.Height - 1;
        l.GX = p.GapX;
        l.GY = p.GapY;
    } else {
        l.S = p.DigitSpacing;
        l.P = std::max(1, p.SegmentSize + p.DotSpacing);
        l.W = (((p.Width - 1) / n - l.S + p.DotSpacing) / l.P) * l.P - p.DotSpacing;
        l.H = (((p.Height - 1 - p.SegmentSize) / 2) / l.P) * l.P * 2 + p.SegmentSize;
    }
    l.HL = l.W - 2 * l.GX;
    l.VL = l.H / 2 - 2 * l.GY;
    l.Y5 = p.DotDisplay ? l.H / 2 - l.T / 2 : l.H / 2 + l.GY;
    return l;
}

TBox PointBox(const TLcdLayout& l, int cell)
{
    int e = std::min(l.S - 2, l.T);
    int x = l.CellX(cell);
    return {x - (l.S + e) / 2, l.H - e, e, e};
}

TPlacement PlaceSegment(const TLcdLayout& l, int cell, int segment)
{
    const int x = l.CellX(cell);
    const int T = l.T;
    switch (segment) {
    case 1: return {TShape::EndBar, true, x + l.GX, 0, l.HL, T};
    case 7: return {TShape::EndBar, true, x + l.GX, l.H, l.HL, -T};
    case 4: return {TShape::MiddleBar, true, x + l.GX, l.H / 2 - T / 2, l.HL, T};
    case 2: return {TShape::VerticalBar, false, x, l.GY, l.VL, T};
    case 5: return {TShape::VerticalBar, false, x, l.Y5, l.VL, T};
    case 3: return {TShape::VerticalBar, false, x + l.W, l.GY, l.VL, -T};
    case 6: return {TShape::VerticalBar, false, x + l.W, l.Y5, l.VL, -T};
    default: return {TShape::Colon, true, x, 0, 0, 0};
    }
}

int RoundHalfEven(double v)
{
    return int(std::nearbyint(v)); // the default rounding mode takes halves to the even neighbour
}

std::array<TPt, 6> BarHexagon(const TPlacement& s, int T)
{
    const int x0 = s.x0, y0 = s.y0, L = s.length, t = s.t;
    switch (s.shape) {
    case TShape::EndBar: {
        int q = RoundHalfEven(t / 4.0);
        return {{{x0, y0 + q}, {x0 + T / 2, y0}, {x0 + L - T / 2, y0}, {x0 + L, y0 + q}, {x0 + L - T, y0 + t},
                 {x0 + T, y0 + t}}};
    }
    case TShape::MiddleBar: {
        int h = RoundHalfEven(t / 2.0);
        return {{{x0, y0 + h}, {x0 + T, y0}, {x0 + L - T, y0}, {x0 + L, y0 + h}, {x0 + L - T, y0 + t},
                 {x0 + T, y0 + t}}};
    }
    default: {
        int q = RoundHalfEven(t / 4.0);
        return {{{x0 + q, y0}, {x0, y0 + T / 2}, {x0, y0 + L - T / 2}, {x0 + q, y0 + L}, {x0 + t, y0 + L - T},
                 {x0 + t, y0 + T}}};
    }
    }
}

std::array<TBox, 2> ColonBoxes(const TLcdLayout& l, int cell)
{
    const int x = l.CellX(cell);
    const int w = l.HL / 3, h = l.VL / 3;
    const int left = x + (l.W - w) / 2;
    return {{{left, l.H / 2 - 2 * h, w, h}, {left, l.H / 2 + h, w, h}}};
}

std::vector<TBox> SegmentDots(const TPlacement& s, int size, int pitch, bool skipFirst, bool skipLast)
{
    std::vector<TBox> dots;
    if (pitch < 1)
        return dots;
    for (int pos = 0; pos < s.length; pos += pitch) {
        if (s.horizontal) {
            int px = s.x0 + pos;
            int top = s.t < 0 ? s.y0 - size : s.y0;
            dots.push_back({px, top, size, size});
        } else {
            int py = s.y0 + pos;
            int left = s.t < 0 ? s.x0 - size : s.x0;
            dots.push_back({left, py, size, size});
        }
    }
    if (skipLast && !dots.empty())
        dots.pop_back();
    if (skipFirst && !dots.empty())
        dots.erase(dots.begin());
    return dots;
}

std::pair<bool, bool> CornersOwnedByNeighbours(char c, int segment)
{
    auto lit = [c](int s) { return CharLights(c, s); };
    switch (segment) {
    case 1: return {lit(2), lit(3)};
    case 7: return {lit(5), lit(6)};
    case 4: return {lit(2) || lit(5), lit(3) || lit(6)};
    case 2: return {lit(1), lit(4) || lit(5)};
    case 3: return {lit(1), lit(4) || lit(6)};
    case 5: return {lit(2) || lit(4), lit(7)};
    case 6: return {lit(3) || lit(4), lit(7)};
    default: return {false, false};
    }
}

} // namespace zeva::lcd
