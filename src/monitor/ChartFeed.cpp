// The live trend chart.
#include "ChartFeed.h"

#include "Colors.h"
#include "SharedTexts.h"

#include <qcustomplot.h>

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

void SetAxisRange(QCPAxis* axis, double a, double b)
{
    axis->setRange(std::min(a, b), std::max(a, b));
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

void TChartFeed::append(int series, double x, double y)
{
    QCPGraph* g = m_chart->graph(series);
    g->addData(x, y);
    auto data = g->data();
    if (data->size() > m_cap)
        data->removeBefore((data->constBegin() + (data->size() - m_cap))->key);
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

void TChartFeed::FeedLive(const TPhaseTemps& t, int pollInterval)
{
    for (int i = 0; i < 3; ++i)
        append(i, LiveX, t[std::size_t(i)]);
    if (advance(LiveX, pollInterval)) {
        ScrollBottomAxis(m_chart, pollInterval / 2.0);
    } else {
        for (int i = 0; i < 4; ++i)
            m_chart->graph(i)->data()->clear();
    }
    m_chart->replot(QCustomPlot::rpQueuedReplot);
}

void TChartFeed::FeedBlackBox(const TPhaseTemps& t, int pollInterval)
{
    for (int i = 0; i < 4; ++i)
        append(4 + i, BlackBoxX, t[std::size_t(i)]);
    if (advance(BlackBoxX, pollInterval)) {
        ScrollBottomAxis(m_chart, pollInterval / 2.0);
    } else {
        for (int i = 4; i < 8; ++i)
            m_chart->graph(i)->data()->clear();
    }
    m_chart->replot(QCustomPlot::rpQueuedReplot);
}

} // namespace zeva
