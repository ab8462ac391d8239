// The live trend chart.
#include "ChartFeed.h"

#include "Colors.h"
#include "DecimatedGraph.h"
#include "SharedTexts.h"

#include <qcustomplot.h>

#include <algorithm>
#include <climits>
#include <exception>
#include <limits>

namespace zeva {

namespace {

struct SeriesRow {
    TColor color;
    bool on;
};

// Series1..Series8: colour and whether drawn; titles are the curve names.
constexpr SeriesRow Series[8] = {
    {clYellow, true}, {clLime, true}, {clRed, true},    {4194432, false},
    {clBlack, false}, {clYellow, false}, {4194368, false}, {clTeal, false},
};

} // namespace

bool ScrollBottomAxis(QCustomPlot* chart, double amount)
{
    try {
        QCPRange r = chart->xAxis->range();
        chart->xAxis->setRange(r.lower + amount, r.upper + amount);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void SetupLiveChart(QCustomPlot* chart)
{
    const QColor green = ToQColor(clLime), white(Qt::white);
    chart->setBackground(Qt::black);
    chart->axisRect()->setBackground(Qt::black);
    chart->plotLayout()->insertRow(0);
    auto* title = new QCPTextElement(chart, QStringLiteral("温度曲线显示"), QFont(chart->font().family(), 12, QFont::Bold));
    title->setTextColor(white);
    chart->plotLayout()->addElement(0, 0, title);
    chart->xAxis->setLabel(QStringLiteral("时间 / 秒（单位）"));
    chart->yAxis->setLabel(QStringLiteral("温度范围"));
    for (QCPAxis* axis : {chart->xAxis, chart->yAxis}) {
        axis->setBasePen(QPen(white));
        axis->setTickPen(QPen(white));
        axis->setSubTickPen(QPen(white));
        axis->setTickLabelColor(white);
        axis->setLabelColor(white);
        axis->grid()->setPen(QPen(QColor(60, 60, 60), 0, Qt::DotLine));
    }
    chart->legend->setVisible(true);
    chart->legend->setBrush(Qt::black);
    chart->legend->setTextColor(green);
    chart->legend->setBorderPen(QPen(green));
    chart->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    for (int i = 0; i < 8; ++i) {
        auto* g = new TDecimatedGraph(chart->xAxis, chart->yAxis);
        g->setName(CurveNames[std::size_t(i)]);
        g->setPen(QPen(ToQColor(Series[i].color), 1));
        g->setLineStyle(QCPGraph::lsLine);
        g->setScatterStyle(QCPScatterStyle::ssNone);
        g->setVisible(Series[i].on);
        if (!Series[i].on)
            g->removeFromLegend(); // a series nothing draws has no place in the legend
    }
}

void TChartFeed::TInsertionOrder::Add(double key)
{
    if (!m_runs.empty()) {
        Run& last = m_runs.back();
        if (last.count == 1) {
            last.delta = key - last.first;
            last.count = 2;
            return;
        }
        if (key == last.first + last.delta * double(last.count)) {
            ++last.count;
            return;
        }
    }
    m_runs.push_back({key, 0, 1});
}

void TChartFeed::TInsertionOrder::DropOldest()
{
    Run& front = m_runs.front();
    front.first += front.delta;
    if (--front.count == 0)
        m_runs.pop_front();
}

bool TChartFeed::advance(int32_t& counter, int step)
{
    int64_t next = int64_t(counter) + step;
    if (counter == INT32_MAX || next > INT32_MAX || next < INT32_MIN) {
        counter = 0; // reached, or would pass, the largest position
        return false;
    }
    counter = int32_t(next);
    return true;
}

TDecimatedGraph* TChartFeed::series(int index) const
{
    return static_cast<TDecimatedGraph*>(m_chart->graph(index));
}

void TChartFeed::feed(int firstSeries, int seriesCount, int32_t& counter, TKind& kind, const TPhaseTemps& t,
                      int pollInterval, int address)
{
    TInsertionOrder& order = kind.order;
    const double key = counter;
    // Another instrument's readings never continue the last one's line: a break first.
    const bool another = address >= 0 && kind.address >= 0 && address != kind.address;
    if (address >= 0)
        kind.address = address;
    if (another) {
        for (int i = 0; i < seriesCount; ++i)
            series(firstSeries + i)->Add(key, std::numeric_limits<double>::quiet_NaN());
        order.Add(key);
        if (firstSeries == 0)
            markInstrument(key, address);
    }
    for (int i = 0; i < seriesCount; ++i)
        series(firstSeries + i)->Add(key, t[std::size_t(i)]);
    order.Add(key);
    // All series of one kind share their keys, so one count stands for them all.
    while (m_chart->graph(firstSeries)->data()->size() > m_cap && !order.Empty()) {
        double oldest = order.Oldest();
        for (int i = 0; i < seriesCount; ++i)
            series(firstSeries + i)->RemoveFirstOf(oldest);
        order.DropOldest();
    }
    if (advance(counter, pollInterval)) {
        if (Hold) {
            // The view the operator chose stays put.
        } else if (Follow) {
            // The drawn live curve is followed; the black-box counter runs apart and its series
            // are not drawn.
            // While the data are narrower than the axis they are shown from their first point
            // (not squeezed against the right edge); then the newest point is the right edge.
            if (firstSeries == 0) {
                const double width = m_chart->xAxis->range().size();
                const double first = m_chart->graph(0)->data()->constBegin()->key;
                const double lower = std::max(first, key - width);
                m_chart->xAxis->setRange(lower, lower + width);
            }
        } else {
            ScrollBottomAxis(m_chart, pollInterval / 2.0);
        }
    } else {
        // The live kind empties Series1..Series4, the black-box kind Series5..Series8.
        for (int i = firstSeries; i < firstSeries + 4; ++i)
            series(i)->Clear();
        order.Clear();
        if (firstSeries == 0)
            clearMarks();
    }
    m_chart->replot(QCustomPlot::rpQueuedReplot);
}

void TChartFeed::FeedLive(const TPhaseTemps& t, int pollInterval, int address)
{
    feed(0, 3, LiveX, m_live, t, pollInterval, address);
}

void TChartFeed::FeedBlackBox(const TPhaseTemps& t, int pollInterval, int address)
{
    feed(4, 4, BlackBoxX, m_blackBox, t, pollInterval, address);
}

void TChartFeed::markInstrument(double key, int address)
{
    auto* line = new QCPItemStraightLine(m_chart);
    line->point1->setCoords(key, 0);
    line->point2->setCoords(key, 1);
    line->setPen(QPen(QColor(200, 200, 200), 1, Qt::DotLine));
    auto* label = new QCPItemText(m_chart);
    label->position->setTypeX(QCPItemPosition::ptPlotCoords);
    label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
    // Left of its line, where the newest one still has room; changes close together step down.
    label->position->setCoords(key, 0.06 * double(m_marks.size() % 4));
    label->setPositionAlignment(Qt::AlignTop | Qt::AlignRight);
    label->setPadding(QMargins(4, 2, 4, 2));
    label->setColor(QColor(220, 220, 220));
    label->setText(QStringLiteral("地址 %1").arg(address));
    for (QCPAbstractItem* item : std::initializer_list<QCPAbstractItem*>{line, label})
        item->setSelectable(false);
    m_marks.push_back({line, label});
    // Kept for the latest choices only: a marker per change for months would pile up.
    if (m_marks.size() > MarksKept) {
        m_chart->removeItem(m_marks.front().first);
        m_chart->removeItem(m_marks.front().second);
        m_marks.pop_front();
    }
}

void TChartFeed::clearMarks()
{
    for (auto& [line, label] : m_marks) {
        m_chart->removeItem(line);
        m_chart->removeItem(label);
    }
    m_marks.clear();
}

} // namespace zeva
