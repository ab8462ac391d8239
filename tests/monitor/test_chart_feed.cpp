// The live chart: series set-up, the feed of replies, axis moves and the point cap.
#include "ChartFeed.h"
#include "ChartMath.h"
#include "DecimatedGraph.h"
#include "AxisRange.h"
#include "SharedTexts.h"

#include <gtest/gtest.h>

#include <qcustomplot.h>

#include <algorithm>
#include <climits>
#include <numeric>
#include <random>
#include <deque>

using namespace zeva;

namespace {

struct ChartFixture : ::testing::Test {
    QCustomPlot chart;
    void SetUp() override
    {
        SetupLiveChart(&chart);
        SetAxisRange(chart.xAxis, 0, 1800);
        SetAxisRange(chart.yAxis, -30, 250);
    }
    QCPRange time() const { return chart.xAxis->range(); }
    int points(int series) { return chart.graph(series)->dataCount(); }
};

} // namespace

TEST_F(ChartFixture, EightSeriesInOrder)
{
    ASSERT_EQ(chart.graphCount(), 8);
    const QColor colours[8] = {QColor(255, 255, 0), QColor(0, 255, 0), QColor(255, 0, 0), QColor(0x80, 0, 0x40),
                               QColor(0, 0, 0),     QColor(255, 255, 0), QColor(0x40, 0, 0x40), QColor(0, 0x80, 0x80)};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(chart.graph(i)->name(), CurveNames[std::size_t(i)]);
        EXPECT_EQ(chart.graph(i)->pen().color(), colours[i]) << i;
        EXPECT_EQ(chart.graph(i)->visible(), i < 3);
    }
    EXPECT_EQ(chart.legend->itemCount(), 3);
    EXPECT_EQ(chart.xAxis->label(), "时间 / 秒（单位）");
    EXPECT_EQ(chart.yAxis->label(), "温度范围");
    EXPECT_EQ(chart.axisRect()->backgroundBrush().color(), QColor(Qt::black));
}

TEST_F(ChartFixture, FeedsMoveCountersAndTheTimeAxis)
{
    TChartFeed feed(&chart);
    feed.FeedLive({25.3, 25, 25.8, 0}, 3);
    EXPECT_EQ(points(0), 1);
    EXPECT_EQ(chart.graph(0)->data()->at(0)->key, 0);
    EXPECT_EQ(chart.graph(0)->data()->at(0)->value, 25.3);
    EXPECT_EQ(points(3), 0) << "D live is fed nothing";
    EXPECT_EQ(feed.LiveX, 3);
    EXPECT_EQ(time(), QCPRange(1.5, 1801.5));
    feed.FeedBlackBox({81, 82, 83, 84}, 3);
    EXPECT_EQ(feed.BlackBoxX, 3);
    EXPECT_EQ(points(7), 1) << "switched off, still fed";
    EXPECT_EQ(time(), QCPRange(3, 1803)) << "one pass moves the axis by one interval";
    feed.FeedLive({1, 2, 3, 4}, 1);
    EXPECT_EQ(feed.LiveX, 4) << "the step is the interval at the moment of the feed";

    ScrollBottomAxis(&chart, -1.5);
    EXPECT_EQ(time(), QCPRange(2, 1802));
    SetAxisRange(chart.yAxis, 150, 0);
    EXPECT_EQ(chart.yAxis->range(), QCPRange(0, 150)) << "the smaller bound is the minimum";
    SetAxisRange(chart.yAxis, 40, 40);
    EXPECT_EQ(chart.yAxis->range(), QCPRange(40, 41)) << "equal bounds: the chart refuses an empty range";
}

TEST_F(ChartFixture, LargestPositionStartsAgainAndClearsThatKind)
{
    TChartFeed feed(&chart);
    feed.FeedBlackBox({1, 1, 1, 1}, 3);
    feed.FeedLive({1, 2, 3, 4}, 3);
    feed.FeedLive({1, 2, 3, 4}, 3);
    chart.graph(3)->addData(0, 1); // D live is fed nothing, but the reset empties it too
    feed.LiveX = INT32_MAX;
    QCPRange before = time();
    feed.FeedLive({5, 6, 7, 8}, 3);
    EXPECT_EQ(feed.LiveX, 0);
    for (int series = 0; series < 4; ++series)
        EXPECT_EQ(points(series), 0) << series;
    EXPECT_EQ(points(4), 1) << "black-box series untouched";
    EXPECT_EQ(time(), before) << "the axis does not move this time";

    feed.LiveX = INT32_MAX - 1;
    feed.FeedLive({5, 6, 7, 8}, 3);
    EXPECT_EQ(feed.LiveX, 0) << "an advance past the largest position starts again too";
}

TEST_F(ChartFixture, EachSeriesKeepsItsNewestPointsUpToTheCap)
{
    TChartFeed feed(&chart, 100);
    for (int i = 0; i < 250; ++i)
        feed.FeedLive({double(i), 0, 0, 0}, 1);
    EXPECT_EQ(points(0), 100);
    EXPECT_EQ(chart.graph(0)->data()->constBegin()->key, 150) << "the oldest are dropped";
    EXPECT_EQ((chart.graph(0)->data()->constEnd() - 1)->value, 249);
}

TEST_F(ChartFixture, TheCapDropsTheOldestWhateverTheKeysDo)
{
    auto values = [&](int series) {
        std::vector<double> v;
        for (auto it = chart.graph(series)->data()->constBegin(); it != chart.graph(series)->data()->constEnd(); ++it)
            v.push_back(it->value);
        std::sort(v.begin(), v.end());
        return v;
    };
    std::vector<double> newest(100);
    std::iota(newest.begin(), newest.end(), 150.0);

    // An interval of 0 (set so in the configuration window): every point at one key.
    TChartFeed still(&chart, 100);
    for (int i = 0; i < 250; ++i)
        still.FeedLive({double(i), double(i), double(i), 0}, 0);
    EXPECT_EQ(points(0), 100);
    EXPECT_EQ(values(0), newest) << "the newest 100 stay";
    EXPECT_EQ(values(2), newest);

    // A negative interval: each point lands before the others.
    for (int s = 0; s < 8; ++s)
        chart.graph(s)->data()->clear();
    TChartFeed backwards(&chart, 100);
    for (int i = 0; i < 250; ++i)
        backwards.FeedBlackBox({double(i), 0, 0, double(i)}, -1);
    EXPECT_EQ(points(4), 100);
    EXPECT_EQ(values(4), newest);
    EXPECT_EQ(values(7), newest);

    // A step that changes sign half way: keys come back over the old ones.
    for (int s = 0; s < 8; ++s)
        chart.graph(s)->data()->clear();
    TChartFeed turning(&chart, 100);
    for (int i = 0; i < 250; ++i)
        turning.FeedLive({double(i), 0, 0, 0}, i < 120 ? 3 : -2);
    EXPECT_EQ(points(0), 100);
    EXPECT_EQ(values(0), newest);
}

TEST_F(ChartFixture, FollowingShowsTheFirstMinuteFromItsStartThenKeepsTheNewestPointAtTheRightEdge)
{
    TChartFeed feed(&chart);
    feed.Follow = true;
    SetAxisRange(chart.xAxis, 100, 130);
    feed.LiveX = 50;
    // Replies of the selected instrument with one black-box reply lost: the counters part.
    for (int i = 0; i < 40; ++i) {
        feed.FeedLive({20, 21, 22, 23}, 1);
        if (i != 2)
            feed.FeedBlackBox({30, 31, 32, 33}, 1);
        // Less data than the width: shown from the first point; then the newest at the right edge.
        EXPECT_DOUBLE_EQ(chart.xAxis->range().lower, std::max(50, feed.LiveX - 31)) << i;
        EXPECT_DOUBLE_EQ(chart.xAxis->range().size(), 30) << i;
    }
    EXPECT_NE(feed.LiveX, feed.BlackBoxX);
}

TEST(ChartMath, BlockExtremesAgreeWithEveryPointWhileTheSeriesGrowsAndLosesItsFront)
{
    TMinMaxIndex index;
    std::deque<double> points;
    std::mt19937 rng(7);
    for (int step = 0; step < 20000; ++step) {
        if (rng() % 3 == 0 && !points.empty()) {
            points.pop_front();
            index.DropFront();
        } else {
            const double v = rng() % 50 == 0 ? std::numeric_limits<double>::quiet_NaN() : double(rng() % 1000);
            points.push_back(v);
            index.Append(v);
        }
        const std::size_t from = points.empty() ? 0 : rng() % points.size();
        const std::size_t to = from + (points.empty() ? 0 : rng() % (points.size() - from + 1));
        const auto e = index.Range(from, to, [&](std::size_t i) { return points[i]; });
        double lo = NAN, hi = NAN;
        bool breaks = false;
        for (std::size_t i = from; i < to; ++i) {
            breaks = breaks || std::isnan(points[i]);
            lo = std::fmin(lo, points[i]);
            hi = std::fmax(hi, points[i]);
        }
        ASSERT_TRUE((std::isnan(lo) && e.Empty()) || (lo == e.min && hi == e.max)) << step;
        ASSERT_EQ(e.breaks, breaks) << step;
    }
    EXPECT_EQ(GapBreaks({0, 60, 120, 300, 360, 541, 600}), (std::vector<std::size_t>{5})) << "3 x 60 s is no gap";
    std::vector<double> paceChanged;
    for (int i = 0; i < 40; ++i)
        paceChanged.push_back(i < 10 ? i * 60 : 540 + (i - 9) * 6);
    paceChanged.push_back(paceChanged.back() + 7200);
    EXPECT_EQ(GapBreaks(paceChanged), (std::vector<std::size_t>{40})) << "a slower pace is no gap";
}

TEST_F(ChartFixture, OneSpikeAmongAMillionReadingsIsDrawnWithTheWholeRunInView)
{
    chart.resize(1680, 900);
    auto* a = static_cast<TDecimatedGraph*>(chart.graph(0));
    for (int i = 0; i < 1'000'000; ++i)
        a->Add(i, i == 612'345 ? 112 : 50);
    SetAxisRange(chart.xAxis, 0, 1'000'000);
    chart.replot();
    const QImage image = chart.toPixmap().toImage();
    const int x = int(chart.xAxis->coordToPixel(612'345)), top = int(chart.yAxis->coordToPixel(112));
    auto yellowNear = [&](int y) {
        for (int dx = -2; dx <= 2; ++dx)
            for (int dy = -2; dy <= 2; ++dy)
                if (QColor c = image.pixelColor(x + dx, y + dy); c.red() > 150 && c.green() > 150 && c.blue() < 60)
                    return true; // yellow, however smoothed
        return false;
    };
    EXPECT_TRUE(yellowNear(top)) << "the spike's top";
    EXPECT_TRUE(yellowNear(int(chart.yAxis->coordToPixel(80)))) << "its flank";
    // Two instruments' readings either side of a break in a column of hundreds: no bar joins them.
    auto* b = static_cast<TDecimatedGraph*>(chart.graph(2));
    for (int i = 0; i < 1'000'000; ++i)
        b->Add(i, i == 400'321 ? NAN : i < 400'321 ? 0 : 200);
    chart.replot();
    const QImage broken = chart.toPixmap().toImage();
    const int bx = int(chart.xAxis->coordToPixel(400'321));
    for (int y = int(chart.yAxis->coordToPixel(180)); y < int(chart.yAxis->coordToPixel(20)); ++y)
        ASSERT_NE(broken.pixelColor(bx, y).red() > 150 && broken.pixelColor(bx, y).green() < 60, true) << y;
}
