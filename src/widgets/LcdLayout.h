// The arithmetic of the seven-segment display: value normalisation, the character table, cell
// layout, segment shapes and dot rows, as numbers and point lists that painting only draws.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zeva::lcd {

enum TLCDAnimation { anNone = 0, anSpiral = 1, anUp = 2, anDown = 3, anLeft = 4, anRight = 5, anRandom = 6 };

struct TPt {
    int x = 0, y = 0;
    bool operator==(const TPt&) const = default;
};

// x, y, width, height; right and bottom edges excluded.
struct TBox {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const TBox&) const = default;
};

// Capitals for a..z; a text with any other character than digits, minus, space, full stop,
// A..Z and colon becomes empty; one trailing full stop is dropped.
std::string NormaliseValue(const std::string& text);

// Digit string and point string: a full stop marks a point in the gap before the next cell.
std::pair<std::string, std::string> SplitValue(const std::string& text);
// Both strings filled on the left with spaces to at least `digits` characters.
void AlignRight(std::string& s, int digits);

// Row of the 38-character table (8 for a space, drawn all unlit); -1 for a character outside it.
int CharRow(char c);
// Whether row `row` lights segment 1..8.
bool Lights(int row, int segment);
// Whether `c` lights `segment` (a space lights nothing).
bool CharLights(char c, int segment);

// The segment drawn at each of the eight steps; anNone and anRandom give the anDown order.
const std::array<int, 8>& AnimationOrder(TLCDAnimation kind);

struct TLcdParams {
    int Width = 92, Height = 34;
    int DigitNum = 4, DigitSpacing = 5, SegmentSize = 2, GapX = 2, GapY = 2, DotSpacing = 2;
    bool DotDisplay = false;
};

struct TLcdLayout {
    bool dots = false;
    int S = 0;      // gap between cells
    int P = 0;      // dot pitch (dot-matrix mode)
    int W = 0;      // cell width
    int H = 0;      // cell height
    int GX = 0, GY = 0;
    int T = 0;      // bar thickness, dot diameter
    int HL = 0, VL = 0;
    int Y5 = 0;     // top of the lower vertical bars

    int CellX(int cell) const { return (cell - 1) * (S + W) + S; } // cell 1..DigitNum
};

// Divisions drop the fraction; DigitNum below 1 and a dot pitch below 1 are taken as 1.
TLcdLayout ComputeLayout(const TLcdParams& p);

// The decimal point in the gap before `cell`: a square in bar mode, the box of a circle in dots.
TBox PointBox(const TLcdLayout& l, int cell);

enum class TShape { EndBar, MiddleBar, VerticalBar, Colon };

struct TPlacement {
    TShape shape = TShape::EndBar;
    bool horizontal = true;
    int x0 = 0, y0 = 0, length = 0, t = 0; // t: signed thickness
};
TPlacement PlaceSegment(const TLcdLayout& l, int cell, int segment);

// R(v): nearest integer, halves to the even neighbour.
int RoundHalfEven(double v);

// The hexagon of a bar (bar mode), corners in drawing order.
std::array<TPt, 6> BarHexagon(const TPlacement& s, int T);
// The colon's two ellipses.
std::array<TBox, 2> ColonBoxes(const TLcdLayout& l, int cell);
// Dot-matrix circles of a segment; `skipFirst`/`skipLast` leave out a corner a lit neighbour owns.
std::vector<TBox> SegmentDots(const TPlacement& s, int size, int pitch, bool skipFirst, bool skipLast);
// For an unlit segment of character `c`: which of its corner dots a lit neighbour owns.
std::pair<bool, bool> CornersOwnedByNeighbours(char c, int segment);

} // namespace zeva::lcd
