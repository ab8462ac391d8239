// The display's arithmetic: normalisation, split, character table, layout numbers and shapes.
#include "LcdLayout.h"

#include <gtest/gtest.h>

using namespace zeva::lcd;

TEST(LcdValue, NormaliseAndSplit)
{
    EXPECT_EQ(NormaliseValue("abc"), "ABC");
    EXPECT_EQ(NormaliseValue("1,5"), "");
    EXPECT_EQ(NormaliseValue("12."), "12");
    EXPECT_EQ(NormaliseValue("12.."), "12.");
    EXPECT_EQ(NormaliseValue("-12.3"), "-12.3");
    EXPECT_EQ(NormaliseValue("12:30"), "12:30");
    EXPECT_EQ(NormaliseValue("温度"), "");

    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(SplitValue("85.5"), (P{"855", "  ."}));
    EXPECT_EQ(SplitValue(".5"), (P{"5", "."}));
    EXPECT_EQ(SplitValue("1..2"), (P{"1 2", " .."}));
    EXPECT_EQ(SplitValue("-12.3"), (P{"-123", "   ."}));
    std::string d = "855";
    AlignRight(d, 4);
    EXPECT_EQ(d, " 855");
    std::string longer = "12345";
    AlignRight(longer, 4);
    EXPECT_EQ(longer, "12345") << "only filled, never cut: cells beyond DigitNum are not drawn";
}

TEST(LcdValue, CharacterTable)
{
    auto lit = [](char c) {
        std::string s;
        for (int seg = 1; seg <= 8; ++seg)
            if (CharLights(c, seg))
                s += char('0' + seg);
        return s;
    };
    EXPECT_EQ(lit('0'), "123567");
    EXPECT_EQ(lit('8'), "1234567");
    EXPECT_EQ(lit('-'), "4");
    EXPECT_EQ(lit(':'), "8");
    EXPECT_EQ(lit('E'), "12457");
    EXPECT_EQ(lit('R'), "45");
    EXPECT_EQ(lit('Z'), "13457");
    EXPECT_EQ(lit(' '), "");
    EXPECT_EQ(CharRow('A'), 12);
    EXPECT_EQ(CharRow('Z'), 37);
    EXPECT_EQ(CharRow(' '), 8);
    EXPECT_EQ(CharRow('?'), -1);
    EXPECT_EQ(AnimationOrder(anUp), (std::array<int, 8>{7, 6, 5, 8, 4, 3, 2, 1}));
    EXPECT_EQ(AnimationOrder(anDown), (std::array<int, 8>{1, 2, 3, 8, 4, 5, 6, 7}));
    EXPECT_EQ(AnimationOrder(anNone), (std::array<int, 8>{1, 2, 3, 8, 4, 5, 6, 7}));
    EXPECT_EQ(AnimationOrder(anLeft), (std::array<int, 8>{6, 3, 7, 8, 4, 1, 5, 2}));
    EXPECT_EQ(AnimationOrder(anRight), (std::array<int, 8>{2, 5, 1, 8, 4, 7, 3, 6}));
    EXPECT_EQ(AnimationOrder(anSpiral), (std::array<int, 8>{8, 4, 2, 1, 3, 6, 7, 5}));
}

TEST(LcdLayout, MainWindowSize)
{
    TLcdParams p;
    p.Width = 79;
    p.Height = 28;
    TLcdLayout l = ComputeLayout(p);
    EXPECT_EQ(l.S, 6);
    EXPECT_EQ(l.W, 12);
    EXPECT_EQ(l.H, 27);
    EXPECT_EQ(l.HL, 8);
    EXPECT_EQ(l.VL, 9);
    EXPECT_EQ(l.T, 2);
    const int xs[] = {6, 24, 42, 60}, pxs[] = {2, 20, 38, 56};
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(l.CellX(i), xs[i - 1]);
        EXPECT_EQ(PointBox(l, i), (TBox{pxs[i - 1], 25, 2, 2})) << "2 x 2, from y 25 to 27";
    }
    // Cell 1's bars, corner by corner.
    using H = std::array<TPt, 6>;
    EXPECT_EQ(BarHexagon(PlaceSegment(l, 1, 1), 2), (H{{{8, 0}, {9, 0}, {15, 0}, {16, 0}, {14, 2}, {10, 2}}}));
    EXPECT_EQ(BarHexagon(PlaceSegment(l, 1, 7), 2), (H{{{8, 27}, {9, 27}, {15, 27}, {16, 27}, {14, 25}, {10, 25}}}))
        << "R(-0.5) is 0";
    EXPECT_EQ(BarHexagon(PlaceSegment(l, 1, 4), 2), (H{{{8, 13}, {10, 12}, {14, 12}, {16, 13}, {14, 14}, {10, 14}}}));
    EXPECT_EQ(BarHexagon(PlaceSegment(l, 1, 2), 2), (H{{{6, 2}, {6, 3}, {6, 10}, {6, 11}, {8, 9}, {8, 4}}}));
    EXPECT_EQ(BarHexagon(PlaceSegment(l, 1, 5), 2), (H{{{6, 15}, {6, 16}, {6, 23}, {6, 24}, {8, 22}, {8, 17}}}));
    EXPECT_EQ(BarHexagon(PlaceSegment(l, 1, 6), 2), (H{{{18, 15}, {18, 16}, {18, 23}, {18, 24}, {16, 22}, {16, 17}}}));
    EXPECT_EQ(ColonBoxes(l, 1), (std::array<TBox, 2>{{{11, 7, 2, 3}, {11, 16, 2, 3}}}));
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
}

TEST(LcdLayout, DotMatrixWorkedByHand)
{
    // 79 x 28, 4 digits, dots of 2 with 2 between: P = 4,
    // W = (((78 / 4) - 5 + 2) / 4) * 4 - 2 = 14, H = (((27 - 2) / 2) / 4) * 4 * 2 + 2 = 26.
    TLcdParams p;
    p.Width = 79;
    p.Height = 28;
    p.DotDisplay = true;
    TLcdLayout l = ComputeLayout(p);
    EXPECT_EQ(l.S, 5);
    EXPECT_EQ(l.P, 4);
    EXPECT_EQ(l.W, 14);
    EXPECT_EQ(l.H, 26);
    EXPECT_EQ(l.HL, 14);
    EXPECT_EQ(l.VL, 13);
    EXPECT_EQ(l.CellX(2), 24);
    EXPECT_EQ(PointBox(l, 1), (TBox{2, 24, 2, 2}));

    // Top bar of cell 1: dots at x 5, 9, 13, 17 (21 is past 5 + 14).
    std::vector<TBox> top = SegmentDots(PlaceSegment(l, 1, 1), 2, 4, false, false);
    EXPECT_EQ(top, (std::vector<TBox>{{5, 0, 2, 2}, {9, 0, 2, 2}, {13, 0, 2, 2}, {17, 0, 2, 2}}));
    // Bottom bar lies above its line; the right bar left of its line; the lower bars start at H/2 - 1.
    EXPECT_EQ(SegmentDots(PlaceSegment(l, 1, 7), 2, 4, false, false).front(), (TBox{5, 24, 2, 2}));
    std::vector<TBox> right = SegmentDots(PlaceSegment(l, 1, 6), 2, 4, false, false);
    EXPECT_EQ(right, (std::vector<TBox>{{17, 12, 2, 2}, {17, 16, 2, 2}, {17, 20, 2, 2}, {17, 24, 2, 2}}));
    // Unlit top bar of a 4: the upper bars are lit, so both corner dots belong to them.
    EXPECT_EQ(CornersOwnedByNeighbours('4', 1), (std::pair{true, true}));
    EXPECT_EQ(SegmentDots(PlaceSegment(l, 1, 1), 2, 4, true, true).size(), 2u);
    EXPECT_EQ(CornersOwnedByNeighbours('1', 4), (std::pair{false, true}));
    EXPECT_EQ(CornersOwnedByNeighbours('7', 5), (std::pair{false, false}));
}
