// TLcdDisplay as a widget: values, rendered pixels, animation steps and timing.
#include "LcdDisplay.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

using namespace zeva;
using namespace zeva::lcd;

namespace {

// The main window's displays: 79 x 28, black, red when lit.
std::unique_ptr<TLcdDisplay> mainWindowDisplay()
{
    auto d = std::make_unique<TLcdDisplay>();
    d->resize(79, 28);
    d->SetColor(clBlack);
    d->SetOnColor(clRed);
    d->SetValue("0000");
    d->Paint();
    return d;
}

const int CellX[] = {6, 24, 42, 60};

// A pixel inside segment `seg` of cell 1..4 at the main window's size.
QPoint inside(int cell, int seg)
{
    int x = CellX[cell - 1];
    switch (seg) {
    case 1: return {x + 6, 1};
    case 7: return {x + 6, 26};
    case 4: return {x + 6, 13};
    case 2: return {x + 1, 6};
    case 3: return {x + 11, 6};
    case 5: return {x + 1, 19};
    default: return {x + 11, 19};
    }
}

QColor at(const TLcdDisplay& d, QPoint p)
{
    return d.Picture().pixelColor(p);
}

// The segments of `cell` found lit in the picture, as a string of their numbers.
std::string litSegments(const TLcdDisplay& d, int cell, const QColor& on)
{
    std::string s;
    for (int seg = 1; seg <= 7; ++seg)
        if (at(d, inside(cell, seg)) == on)
            s += char('0' + seg);
    return s;
}

} // namespace

TEST(LcdDisplay, DefaultsAndValueAssignment)
{
    TLcdDisplay d;
    EXPECT_EQ(d.width(), 92);
    EXPECT_EQ(d.height(), 34);
    EXPECT_EQ(d.DigitNum(), 4);
    EXPECT_EQ(d.DigitSpacing(), 5);
    EXPECT_EQ(d.SegmentSize(), 2);
    EXPECT_EQ(d.OnColor(), clLime);
    EXPECT_EQ(d.OffColor(), clBlack);
    EXPECT_EQ(d.Color(), clBlack);
    EXPECT_TRUE(d.DoubleBuffer());
    EXPECT_EQ(d.Animation(), anNone);
    EXPECT_TRUE(d.testAttribute(Qt::WA_OpaquePaintEvent));

    int changes = 0;
    QString lastNew;
    d.OnChange = [&](QObject* sender, const QString&, const QString& now) {
        EXPECT_EQ(sender, &d);
        ++changes;
        lastNew = now;
    };
    d.SetValue("abc");
    EXPECT_EQ(d.Value(), "ABC");
    d.SetValue("1,5");
    EXPECT_EQ(d.Value(), "");
    d.SetValue("12.");
    EXPECT_EQ(d.Value(), "12");
    EXPECT_EQ(changes, 3);
    d.SetValue("ERR");
    d.SetValue("ERR");
    EXPECT_EQ(changes, 4) << "the same text again raises nothing";
    d.SetValue("err");
    EXPECT_EQ(changes, 5) << "differs before normalisation";
    EXPECT_EQ(lastNew, "ERR");
}

TEST(LcdDisplay, RenderedSegmentsOf85_5AndERR)
{
    auto d = mainWindowDisplay();
    const QColor red(255, 0, 0), black(0, 0, 0);
    d->SetOffColor(0x303030); // unlit segments drawn visibly, to tell them from the background
    d->SetValue("85.5");
    d->Paint();
    EXPECT_EQ(litSegments(*d, 1, red), "");
    EXPECT_EQ(litSegments(*d, 2, red), "1234567");
    EXPECT_EQ(litSegments(*d, 3, red), "12467");
    EXPECT_EQ(litSegments(*d, 4, red), "12467");
    EXPECT_EQ(at(*d, inside(3, 3)), QColor(0x30, 0x30, 0x30)) << "unlit in OffColor";
    // The point of 85.5 in the gap before the last cell, 2 x 2 at x 56..57, y 25..26.
    for (QPoint p : {QPoint(56, 25), QPoint(57, 26)})
        EXPECT_EQ(at(*d, p), red);
    for (QPoint p : {QPoint(38, 25), QPoint(20, 25), QPoint(2, 25)})
        EXPECT_EQ(at(*d, p), QColor(0x30, 0x30, 0x30));
    EXPECT_EQ(at(*d, QPoint(58, 25)), black) << "nothing outside the point";
    EXPECT_EQ(at(*d, QPoint(0, 0)), black) << "background in Color";

    d->SetValue("ERR");
    d->Paint();
    EXPECT_EQ(litSegments(*d, 2, red), "12457");
    EXPECT_EQ(litSegments(*d, 3, red), "45") << "R is segments 4 and 5";
    EXPECT_EQ(litSegments(*d, 4, red), "45");
    EXPECT_NE(at(*d, QPoint(56, 25)), red) << "the old point is gone";

    d->SetValue("-12.3");
    d->Paint();
    EXPECT_EQ(litSegments(*d, 1, red), "4");
    EXPECT_EQ(litSegments(*d, 4, red), "13467");
    EXPECT_EQ(at(*d, QPoint(56, 25)), red);

    d->SetValue("12345");
    d->Paint();
    EXPECT_EQ(litSegments(*d, 1, red), "36");
    EXPECT_EQ(litSegments(*d, 4, red), "2346") << "the leftmost four: 1 2 3 4";

    d->SetValue("1,5");
    d->Paint();
    for (int c = 1; c <= 4; ++c)
        EXPECT_EQ(litSegments(*d, c, red), "");
}

TEST(LcdDisplay, RepaintWithoutChangeRedrawsTheSamePicture)
{
    auto d = mainWindowDisplay();
    d->SetValue("85.5");
    d->Paint();
    QImage before = d->Picture();
    d->SetOnColor(clRed); // unchanged: no effect
    d->Paint();
    EXPECT_EQ(d->Picture(), before);
    d->SetOnColor(clYellow);
    d->Paint();
    EXPECT_EQ(at(*d, inside(2, 1)), QColor(255, 255, 0)) << "a colour change redraws";
}

TEST(LcdDisplay, AnimatedChangeDrawsBottomFirstTakesTheDelayAndHandlesEvents)
{
    auto d = mainWindowDisplay();
    d->SetValue("1111");
    d->Paint();
    d->SetAnimation(anUp);
    d->SetAnimationDelay(700);
    d->SetValue("1188");

    std::vector<int> segments;
    std::vector<std::vector<int>> cells;
    std::vector<std::pair<bool, bool>> bottomTop; // cell 3's bottom and top bar lit after each step
    const QColor red(255, 0, 0);
    d->PaintStepObserver = [&](int, int segment, const std::vector<int>& drawn, const QImage& surface) {
        if (drawn.empty())
            return; // the redraw of the old picture draws every cell; only the change is recorded
        segments.push_back(segment);
        cells.push_back(drawn);
        bottomTop.emplace_back(surface.pixelColor(inside(3, 7)) == red, surface.pixelColor(inside(3, 1)) == red);
    };
    bool nestedPaintRefused = false, eventHandled = false;
    QTimer::singleShot(150, [&] {
        eventHandled = true;
        nestedPaintRefused = d->IsPainting();
        d->Paint(); // must return at once
    });
    QElapsedTimer clock;
    clock.start();
    d->Paint();
    qint64 took = clock.elapsed();

    ASSERT_EQ(segments.size(), 16u) << "the old picture's eight steps, then the change's eight";
    std::vector<int> change(segments.begin() + 8, segments.end());
    EXPECT_EQ(change, (std::vector<int>{7, 6, 5, 8, 4, 3, 2, 1}));
    for (std::size_t i = 8; i < cells.size(); ++i)
        EXPECT_EQ(cells[i], (std::vector<int>{3, 4})) << "unchanged cells are not drawn again";
    EXPECT_EQ(bottomTop[8], (std::pair{true, false})) << "bottom bar first";
    EXPECT_EQ(bottomTop[15], (std::pair{true, true})) << "top bar last";
    EXPECT_GE(took, 600);
    EXPECT_LE(took, 3000);
    EXPECT_GE(d->PaintDuration(), 600u);
    EXPECT_TRUE(eventHandled) << "pending events are handled between steps";
    EXPECT_TRUE(nestedPaintRefused);
    EXPECT_FALSE(d->IsPainting());

    // Any later repaint draws without animation.
    clock.restart();
    d->Paint();
    EXPECT_LT(clock.elapsed(), 400) << "no animation (600 ms and more)";
}
