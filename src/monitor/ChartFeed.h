// The live trend chart: its eight series, the feed of replies and the axis operations.
#pragma once

#include "Frames.h"

#include <cstdint>
#include <deque>

class QCustomPlot;
class QCPAxis;
class QCPItemStraightLine;
class QCPItemText;

namespace zeva {

class TDecimatedGraph;

// Moves the time axis by `amount`; an error of the chart is swallowed and gives false.
bool ScrollBottomAxis(QCustomPlot* chart, double amount);

// Black background, title, axis titles, legend, and the eight series in their order and colours.
void SetupLiveChart(QCustomPlot* chart);

class TChartFeed {
public:
    // Each series keeps its newest points up to this many, so months of polling stay bounded; the
    // oldest go first, by the order they came in, not by their keys.
    static constexpr int SeriesCap = 1'000'000;

    explicit TChartFeed(QCustomPlot* chart, int cap = SeriesCap) : m_chart(chart), m_cap(cap) {}

    int32_t LiveX = 0;
    int32_t BlackBoxX = 0;
    // Each live feed puts the newest live point at the time axis's right edge, keeping its width
    // (instead of every feed moving the axis on by half an interval); while the live points span
    // less than the width, the axis starts at the first of them.
    bool Follow = false;
    // The operator has zoomed or panned: the feeds leave the time axis where it is.
    bool Hold = false;

    // Points for live A..C at LiveX (black box A..D at BlackBoxX), then the counter and the time
    // axis move on by the polling interval (the axis by half of it); at the largest 32-bit
    // position the counter starts again at 0 and the series of that kind are emptied. Readings of
    // another instrument than the last (`address`, -1: not known) start after a break in the
    // lines, and the live kind marks the place with the new address.
    void FeedLive(const TPhaseTemps& temps, int pollInterval, int address = -1);
    void FeedBlackBox(const TPhaseTemps& temps, int pollInterval, int address = -1);
    // Markers kept of the latest changes of instrument.
    static constexpr std::size_t MarksKept = 100;
    std::size_t Marks() const { return m_marks.size(); }

private:
    // The keys of one kind's points in the order they were added, as runs of evenly spaced keys:
    // the oldest point is found whatever the keys do (a step of 0 or below, a step that changes).
    class TInsertionOrder {
    public:
        void Add(double key);
        bool Empty() const { return m_runs.empty(); }
        double Oldest() const { return m_runs.front().first; }
        void DropOldest();
        void Clear() { m_runs.clear(); }

    private:
        struct Run {
            double first;
            double delta;
            int64_t count;
        };
        std::deque<Run> m_runs;
    };

    // One kind of points: the order its keys came in, the instrument they are of.
    struct TKind {
        TInsertionOrder order;
        int address = -1;
    };
    void feed(int firstSeries, int seriesCount, int32_t& counter, TKind& kind, const TPhaseTemps& temps,
              int pollInterval, int address);
    bool advance(int32_t& counter, int step);
    TDecimatedGraph* series(int index) const;
    void markInstrument(double key, int address);
    void clearMarks();

    QCustomPlot* m_chart;
    int m_cap;
    TKind m_live;
    TKind m_blackBox;
    std::deque<std::pair<QCPItemStraightLine*, QCPItemText*>> m_marks;
};

} // namespace zeva
