// The live trend chart.
#include "ChartFeed.h"

#include "Colors.h"
#include "SharedTexts.h"

#include <qcustomplot.h>

#include <algorithm>
#include <climits>
#include <exception>

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

// Adds a point behind every point of an equal key, so that among equal keys the order is the order
// of arrival and the cap's removal of a key's first point drops the oldest. Appending (the usual
// case) and prepending cost nothing; a key inside the range moves the later points once.
void addInArrivalOrder(QCPGraphDataContainer& d, double key, double value)
{
    if (d.isEmpty() || key >= (d.constEnd() - 1)->key || key < d.constBegin()->key) {
        d.add(QCPGraphData(key, value));
        return;
    }
    auto from = std::upper_bound(d.constBegin(), d.constEnd(), key,
                                 [](double k, const QCPGraphData& p) { return k < p.key; });
    QVector<QCPGraphData> later(from, d.constEnd());
    d.removeAfter(key);
    d.add(QCPGraphData(key, value));
    d.add(later, true);
}

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
        QCPGraph* g = chart->addGraph();
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

void TChartFeed::feed(int firstSeries, int seriesCount, int32_t& counter, TInsertionOrder& order, const TPhaseTemps& t,
                      int pollInterval)
{
    const double key = counter;
    for (int i = 0; i < seriesCount; ++i)
        addInArrivalOrder(*m_chart->graph(firstSeries + i)->data(), key, t[std::size_t(i)]);
    order.Add(key);
    // All series of one kind share their keys, so one count stands for them all.
    while (m_chart->graph(firstSeries)->data()->size() > m_cap && !order.Empty()) {
        double oldest = order.Oldest();
        for (int i = 0; i < seriesCount; ++i)
            m_chart->graph(firstSeries + i)->data()->remove(oldest);
        order.DropOldest();
    }
    if (advance(counter, pollInterval)) {
        if (Follow) {
            // The drawn live curve is followed; the black-box counter runs apart and its series
            // are not drawn.
            if (firstSeries == 0) {
                const double width = m_chart->xAxis->range().size();
                m_chart->xAxis->setRange(key - width, key);
            }
        } else {
            ScrollBottomAxis(m_chart, pollInterval / 2.0);
        }
    } else {
        // The live kind empties Series1..Series4, the black-box kind Series5..Series8.
        for (int i = firstSeries; i < firstSeries + 4; ++i)
            m_chart->graph(i)->data()->clear();
        order.Clear();
    }
    m_chart->replot(QCustomPlot::rpQueuedReplot);
}

void TChartFeed::FeedLive(const TPhaseTemps& t, int pollInterval)
{
    feed(0, 3, LiveX, m_liveOrder, t, pollInterval);
}

void TChartFeed::FeedBlackBox(const TPhaseTemps& t, int pollInterval)
{
    feed(4, 4, BlackBoxX, m_blackBoxOrder, t, pollInterval);
}

} // namespace zeva
