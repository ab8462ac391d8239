// Charts under the mouse, and their export.
#include "ChartTools.h"

#include "Application.h"
#include "DecimatedGraph.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPrintDialog>
#include <QPrinter>
#include <QRubberBand>
#include <QSaveFile>
#include <QWheelEvent>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace zeva {

namespace {

// Pixels a press may wander and still be a click.
int dragThreshold()
{
    return std::max(6, QApplication::startDragDistance() / 2);
}
const char* const CursorLayer = "cursor";

// A legend entry with the series' value at the cursor after its title.
class TValueLegendItem : public QCPPlottableLegendItem {
public:
    TValueLegendItem(QCPLegend* legend, QCPAbstractPlottable* plottable) : QCPPlottableLegendItem(legend, plottable) {}
    void SetValue(const QString& text) { m_value = text; }

protected:
    void draw(QCPPainter* painter) override
    {
        QCPPlottableLegendItem::draw(painter);
        if (!mPlottable || m_value.isEmpty())
            return;
        painter->setFont(getFont());
        painter->setPen(QPen(getTextColor()));
        const QFontMetrics fm(getFont());
        const int x = mRect.x() + mParentLegend->iconSize().width() + mParentLegend->iconTextPadding() +
                      fm.horizontalAdvance(mPlottable->name()) + fm.horizontalAdvance(QLatin1Char(' '));
        const int h = std::max(fm.height(), mParentLegend->iconSize().height());
        painter->drawText(x, mRect.y(), valueWidth(fm), h, Qt::TextDontClip | Qt::AlignRight | Qt::AlignVCenter, m_value);
    }
    QSize minimumOuterSizeHint() const override
    {
        QSize s = QCPPlottableLegendItem::minimumOuterSizeHint();
        const QFontMetrics fm(getFont());
        return {s.width() + fm.horizontalAdvance(QLatin1Char(' ')) + valueWidth(fm), s.height()};
    }

private:
    // Room for the widest value, so that the legend does not jump while the cursor moves.
    static int valueWidth(const QFontMetrics& fm) { return fm.horizontalAdvance(QStringLiteral("-888.8 °C")); }
    QString m_value;
};

QString temperature(double v)
{
    return std::isnan(v) ? QStringLiteral("—") : QString::number(v, 'f', 1) + QStringLiteral(" °C");
}

QString duration(double seconds)
{
    const qint64 s = qint64(std::llround(std::abs(seconds)));
    return (seconds < 0 ? QStringLiteral("-") : QString()) +
           QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
}

bool darkBackground(QCustomPlot* chart)
{
    const QBrush b = chart->axisRect()->backgroundBrush();
    return b.style() != Qt::NoBrush && b.color().lightness() < 128;
}

// The reading of `graph` nearest to `key` (a break is no reading); none when it has none.
const QCPGraphData* nearestPoint(const QCPGraph* graph, double key)
{
    const QCPGraphDataContainer& d = *graph->data();
    auto after = std::lower_bound(d.constBegin(), d.constEnd(), key, [](const QCPGraphData& p, double k) { return p.key < k; });
    auto before = after;
    while (after != d.constEnd() && std::isnan(after->value))
        ++after;
    while (before != d.constBegin() && std::isnan((before - 1)->value))
        --before;
    const bool hasAfter = after != d.constEnd(), hasBefore = before != d.constBegin();
    if (hasBefore && (!hasAfter || key - (before - 1)->key <= after->key - key))
        return &*(before - 1);
    return hasAfter ? &*after : nullptr;
}

// A difference as the readout gives it: signed, and never "-0".
QString signedText(double v, int decimals)
{
    const double rounded = std::round(v * std::pow(10, decimals)) / std::pow(10, decimals);
    return (rounded > 0 ? QStringLiteral("+") : QString()) + QString::number(rounded == 0 ? 0.0 : rounded, 'f', decimals);
}

// The series drawn and holding points.
std::vector<QCPGraph*> shownGraphs(QCustomPlot* chart)
{
    std::vector<QCPGraph*> shown;
    for (int i = 0; i < chart->graphCount(); ++i)
        if (chart->graph(i)->visible() && !chart->graph(i)->data()->isEmpty())
            shown.push_back(chart->graph(i));
    return shown;
}

} // namespace

TChartTools::TChartTools(QCustomPlot* chart, TTimeScale scale) : QObject(chart), m_chart(chart), m_scale(std::move(scale))
{
    chart->setInteractions({});
    chart->setFocusPolicy(Qt::ClickFocus);
    chart->setMouseTracking(true);
    chart->installEventFilter(this);
    if (chart->window() != chart)
        chart->window()->installEventFilter(this);
    // The readout box follows its point when the ranges move under it.
    connect(chart, &QCustomPlot::beforeReplot, this, [this] { placeBox(); });

    // The cursor has a layer of its own above the curves. Not a buffered one: each buffer is a
    // picture of the chart's size more, and the whole run repaints within a frame anyway.
    chart->addLayer(QLatin1String(CursorLayer), chart->layer(QStringLiteral("main")), QCustomPlot::limAbove);
    const bool dark = darkBackground(chart);
    const QColor ink = dark ? QColor(230, 230, 230) : QColor(40, 40, 40);
    m_cursorLine = new QCPItemStraightLine(chart);
    m_pinLine = new QCPItemStraightLine(chart);
    m_cursorLine->setPen(QPen(ink, 1, Qt::DashLine));
    m_pinLine->setPen(QPen(QColor(0, 160, 255), 1, Qt::DashDotLine));
    m_box = new QCPItemText(chart);
    m_box->position->setType(QCPItemPosition::ptAbsolute);
    m_box->setPositionAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_box->setTextAlignment(Qt::AlignLeft);
    m_box->setPadding(QMargins(6, 4, 6, 4));
    m_box->setColor(ink);
    m_box->setBrush(dark ? QColor(30, 30, 30, 230) : QColor(255, 255, 255, 235));
    m_box->setPen(QPen(ink));
    m_box->setClipToAxisRect(false);
    for (QCPAbstractItem* item : std::initializer_list<QCPAbstractItem*>{m_cursorLine, m_pinLine, m_box}) {
        item->setLayer(QLatin1String(CursorLayer));
        item->setVisible(false);
        item->setSelectable(false);
    }

    // The legend below the plot, where it covers no curve, with the values at the cursor.
    QCPLegend* legend = chart->legend;
    if (QCPLayoutInset* inset = chart->axisRect()->insetLayout(); inset->elements(false).contains(legend))
        inset->take(legend);
    const int row = chart->plotLayout()->rowCount();
    chart->plotLayout()->addElement(row, 0, legend);
    chart->plotLayout()->setRowStretchFactor(row, 0.001);
    legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    legend->setWrap(4);
    legend->setMargins(QMargins(8, 2, 8, 4));
    for (int i = 0; i < chart->graphCount(); ++i) {
        QCPGraph* g = chart->graph(i);
        if (!legend->hasItemWithPlottable(g))
            continue;
        legend->removeItem(legend->itemWithPlottable(g));
        legend->addItem(new TValueLegendItem(legend, g));
    }
}

TChartTools::TZone TChartTools::zoneAt(const QPoint& pos) const
{
    const QRect plot = m_chart->axisRect()->rect();
    if (plot.contains(pos))
        return TZone::Plot;
    if (pos.x() >= plot.left() && pos.x() <= plot.right() && pos.y() > plot.bottom() &&
        pos.y() <= m_chart->axisRect()->outerRect().bottom())
        return TZone::KeyAxis;
    if (pos.y() >= plot.top() && pos.y() <= plot.bottom() && pos.x() < plot.left() &&
        pos.x() >= m_chart->axisRect()->outerRect().left())
        return TZone::ValueAxis;
    return TZone::None;
}

void TChartTools::keepHome()
{
    if (m_home)
        return;
    emit leavingHome();
    const QCPRange k = m_chart->xAxis->range(), v = m_chart->yAxis->range();
    m_home = THome{k.lower, k.upper, v.lower, v.upper};
}

void TChartTools::Home()
{
    if (!m_home)
        return;
    const THome h = *m_home;
    m_home.reset();
    m_chart->xAxis->setRange(h.keyLower, h.keyUpper);
    m_chart->yAxis->setRange(h.valueLower, h.valueUpper);
    emit homed();
    m_chart->replot(QCustomPlot::rpQueuedReplot);
}

void TChartTools::Reset()
{
    m_home.reset();
    m_press.reset();
    m_pin.reset();
    m_cursor.reset();
    refresh();
}

void TChartTools::zoom(const QPoint& pos, double factor, TZone zone)
{
    if (zone == TZone::None || !std::isfinite(factor) || factor <= 0)
        return;
    keepHome();
    if (zone != TZone::ValueAxis) {
        m_chart->xAxis->scaleRange(factor, m_chart->xAxis->pixelToCoord(pos.x()));
        emit keyRangeChanged();
    }
    if (zone != TZone::KeyAxis) {
        m_chart->yAxis->scaleRange(factor, m_chart->yAxis->pixelToCoord(pos.y()));
        emit valueRangeChanged();
    }
    m_chart->replot(QCustomPlot::rpQueuedReplot);
}

std::optional<double> TChartTools::nearestKey(double key) const
{
    std::optional<double> best;
    for (QCPGraph* g : shownGraphs(m_chart))
        if (const QCPGraphData* p = nearestPoint(g, key))
            if (!best || std::abs(p->key - key) < std::abs(*best - key))
                best = p->key;
    return best;
}

std::optional<double> TChartTools::keyUnder(const QPoint& pos) const
{
    // The point drawn nearest to the pointer within a few pixels, so that a spike narrower than a
    // pixel is read by pointing at it; else the nearest time.
    constexpr int Reach = 6;
    constexpr qsizetype MostScanned = 20000;
    const double from = m_chart->xAxis->pixelToCoord(pos.x() - Reach), to = m_chart->xAxis->pixelToCoord(pos.x() + Reach);
    std::optional<double> best;
    double bestDistance = double(Reach * Reach) * 2 + 1;
    for (QCPGraph* g : shownGraphs(m_chart)) {
        const QCPGraphDataContainer& d = *g->data();
        auto it = d.findBegin(std::min(from, to), false);
        for (qsizetype n = 0; it != d.constEnd() && it->key <= std::max(from, to) && n < MostScanned; ++it, ++n) {
            if (std::isnan(it->value))
                continue;
            const double dx = m_chart->xAxis->coordToPixel(it->key) - pos.x();
            const double dy = m_chart->yAxis->coordToPixel(it->value) - pos.y();
            if (dx * dx + dy * dy < bestDistance) {
                bestDistance = dx * dx + dy * dy;
                best = it->key;
            }
        }
    }
    return best ? best : nearestKey(m_chart->xAxis->pixelToCoord(pos.x()));
}

std::vector<double> TChartTools::valuesAt(double key) const
{
    std::vector<double> values;
    for (QCPGraph* g : shownGraphs(m_chart)) {
        const QCPGraphData* p = nearestPoint(g, key);
        values.push_back(p ? p->value : std::numeric_limits<double>::quiet_NaN());
    }
    return values;
}

void TChartTools::ShowCursorAt(std::optional<double> key)
{
    m_cursor = key ? nearestKey(*key) : std::nullopt;
    refresh();
}

void TChartTools::Pin(std::optional<double> key)
{
    m_pin = key ? nearestKey(*key) : std::nullopt;
    refresh();
}

void TChartTools::placeBox()
{
    if (!m_cursor)
        return;
    // Wholly beside the crosshair, so that it never covers a point read: on the side with room,
    // and clear of what lies over the chart (the main window's displays).
    const QRect plot = m_chart->axisRect()->rect();
    const QSize size = QFontMetrics(m_box->font()).size(0, m_box->text()) + QSize(14, 10);
    const int x = int(m_chart->xAxis->coordToPixel(*m_cursor));
    std::vector<QRect> covered;
    for (QWidget* child : m_chart->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (child->isVisible() && child != m_band)
            covered.push_back(child->geometry());
    const auto clear = [&](const QRect& r) {
        return std::none_of(covered.begin(), covered.end(), [&](const QRect& c) { return c.intersects(r); });
    };
    std::vector<QRect> places; // in the order they are preferred
    for (int top : {plot.top() + 6, plot.bottom() - size.height() - 6})
        for (int left : {x + 12, x - 12 - size.width()})
            if (QRect r(QPoint(left, top), size); plot.contains(r))
                places.push_back(r);
    auto it = std::find_if(places.begin(), places.end(), clear);
    const QRect best = it != places.end()   ? *it
                       : !places.empty()    ? places.front()
                                            : QRect(QPoint(plot.left(), plot.top() + 6), size);
    m_box->position->setCoords(best.left(), best.top());
}

QString TChartTools::ReadoutText() const
{
    if (!m_cursor)
        return {};
    const std::vector<QCPGraph*> shown = shownGraphs(m_chart);
    const std::vector<double> now = valuesAt(*m_cursor);
    QStringList lines{m_scale.text(*m_cursor)};
    std::vector<double> then;
    double minutes = 0;
    if (m_pin) {
        then = valuesAt(*m_pin);
        const double dt = m_scale.seconds(*m_cursor) - m_scale.seconds(*m_pin);
        minutes = dt / 60;
        lines << QStringLiteral("基准 %1    Δt %2").arg(m_scale.text(*m_pin), duration(dt));
    }
    for (std::size_t i = 0; i < shown.size(); ++i) {
        QString line = shown[i]->name() + QStringLiteral("  ") + temperature(now[i]);
        if (m_pin && !std::isnan(now[i]) && !std::isnan(then[i])) {
            const double dT = now[i] - then[i];
            line += QStringLiteral("    ΔT %1 °C").arg(signedText(dT, 1));
            if (minutes != 0)
                line += QStringLiteral("  %1 °C/min").arg(signedText(dT / minutes, 2));
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

void TChartTools::refresh()
{
    const bool on = m_cursor.has_value();
    m_cursorLine->setVisible(on);
    m_box->setVisible(on);
    m_pinLine->setVisible(m_pin.has_value());
    if (m_pin) {
        m_pinLine->point1->setCoords(*m_pin, 0);
        m_pinLine->point2->setCoords(*m_pin, 1);
    }
    QCPLegend* legend = m_chart->legend;
    const std::vector<QCPGraph*> shown = shownGraphs(m_chart);
    const std::vector<double> values = on ? valuesAt(*m_cursor) : std::vector<double>(shown.size(), 0);
    for (std::size_t i = 0; i < shown.size(); ++i)
        if (auto* item = dynamic_cast<TValueLegendItem*>(legend->itemWithPlottable(shown[i])))
            item->SetValue(on ? temperature(values[i]) : QString());
    if (on) {
        m_cursorLine->point1->setCoords(*m_cursor, 0);
        m_cursorLine->point2->setCoords(*m_cursor, 1);
        m_box->setText(ReadoutText());
        placeBox();
    }
    m_chart->replot(QCustomPlot::rpQueuedReplot);
}

bool TChartTools::eventFilter(QObject* watched, QEvent* event)
{
    // While a cursor is pinned, Esc anywhere in the window takes it away before it closes a dialog.
    if (watched == m_chart->window() && watched != m_chart) {
        if ((event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) && m_pin &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            event->accept();
            if (event->type() == QEvent::KeyPress)
                Pin(std::nullopt);
            return true;
        }
        return false;
    }
    if (watched != m_chart)
        return false;
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* e = static_cast<QWheelEvent*>(event);
        const QPoint pos = e->position().toPoint();
        if (e->angleDelta().y() == 0)
            return true; // a tilt or a sideways wheel zooms nothing
        m_chart->setFocus(Qt::MouseFocusReason); // so that Home is heard
        zoom(pos, std::pow(WheelZoom, e->angleDelta().y() / 120.0), zoneAt(pos));
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        const QPoint pos = e->position().toPoint();
        if (e->button() == Qt::RightButton) {
            Pin(std::nullopt);
            return true;
        }
        if (e->button() != Qt::LeftButton || zoneAt(pos) != TZone::Plot)
            return false;
        m_chart->setFocus(Qt::MouseFocusReason);
        const QCPRange k = m_chart->xAxis->range(), v = m_chart->yAxis->range();
        m_press = TPress{pos, k.lower, k.upper, v.lower, v.upper, bool(e->modifiers() & Qt::ControlModifier), false};
        return true;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        const QPoint pos = e->position().toPoint();
        if (m_press && !m_press->moved && (pos - m_press->at).manhattanLength() > dragThreshold()) {
            m_press->moved = true;
            keepHome();
        }
        if (m_press && m_press->moved && m_press->band) {
            if (!m_band)
                m_band = new QRubberBand(QRubberBand::Rectangle, m_chart);
            m_band->setGeometry(QRect(m_press->at, pos).normalized());
            m_band->show();
        } else if (m_press && m_press->moved) {
            const QRect plot = m_chart->axisRect()->rect();
            const double dk = double(m_press->at.x() - pos.x()) / std::max(1, plot.width()) *
                              (m_press->keyUpper - m_press->keyLower);
            const double dv = double(pos.y() - m_press->at.y()) / std::max(1, plot.height()) *
                              (m_press->valueUpper - m_press->valueLower);
            m_chart->xAxis->setRange(m_press->keyLower + dk, m_press->keyUpper + dk);
            m_chart->yAxis->setRange(m_press->valueLower + dv, m_press->valueUpper + dv);
            if (pos.x() != m_press->at.x())
                emit keyRangeChanged();
            if (pos.y() != m_press->at.y())
                emit valueRangeChanged();
            m_chart->replot(QCustomPlot::rpQueuedReplot);
        }
        m_cursor = zoneAt(pos) == TZone::Plot ? keyUnder(pos) : std::nullopt;
        refresh();
        return m_press.has_value();
    }
    case QEvent::MouseButtonRelease: {
        if (!m_press)
            return false;
        auto* e = static_cast<QMouseEvent*>(event);
        const QPoint pos = e->position().toPoint();
        const TPress press = *m_press;
        m_press.reset();
        if (m_band)
            m_band->hide();
        if (!press.moved) {
            m_pin = keyUnder(pos);
            refresh();
        } else if (press.band) {
            const QRect r = QRect(press.at, pos).normalized();
            if (r.width() > dragThreshold() && r.height() > dragThreshold()) {
                m_chart->xAxis->setRange(m_chart->xAxis->pixelToCoord(r.left()), m_chart->xAxis->pixelToCoord(r.right()));
                m_chart->yAxis->setRange(m_chart->yAxis->pixelToCoord(r.bottom()), m_chart->yAxis->pixelToCoord(r.top()));
                emit keyRangeChanged();
                emit valueRangeChanged();
                m_chart->replot(QCustomPlot::rpQueuedReplot);
            }
        }
        return true;
    }
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            return true;
        // The double click's first click pinned; it is taken back with the zoom.
        Pin(std::nullopt);
        Home();
        return true;
    case QEvent::KeyPress: {
        auto* e = static_cast<QKeyEvent*>(event);
        if (e->key() == Qt::Key_Home) {
            Home();
            return true;
        }
        if (e->key() == Qt::Key_Escape && m_pin) {
            Pin(std::nullopt);
            return true;
        }
        return false;
    }
    case QEvent::Leave:
        if (!m_press)
            ShowCursorAt(std::nullopt);
        return false;
    default: return false;
    }
}

TMinMaxIndex::TExtremes ShownExtremes(QCustomPlot* chart, double from, double to)
{
    TMinMaxIndex::TExtremes all;
    for (QCPGraph* g : shownGraphs(chart)) {
        TMinMaxIndex::TExtremes e;
        if (auto* d = dynamic_cast<TDecimatedGraph*>(g)) {
            e = d->ValueRange(from, to);
        } else {
            for (auto it = g->data()->findBegin(from, false); it != g->data()->constEnd() && it->key <= to; ++it)
                if (!std::isnan(it->value)) {
                    e.min = std::fmin(e.min, it->value);
                    e.max = std::fmax(e.max, it->value);
                }
        }
        all.min = std::fmin(all.min, e.min);
        all.max = std::fmax(all.max, e.max);
    }
    return all;
}

bool ExportChart(QCustomPlot* chart, const QString& fileName, const std::function<QString(double)>& keyText,
                 QString* error)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (suffix == QLatin1String("png"))
        return chart->savePng(fileName, chart->width(), chart->height()) ||
               fail(QStringLiteral("无法写入 %1").arg(fileName));
    if (suffix == QLatin1String("pdf"))
        return chart->savePdf(fileName, chart->width(), chart->height()) ||
               fail(QStringLiteral("无法写入 %1").arg(fileName));
    if (suffix != QLatin1String("csv"))
        return fail(QStringLiteral("不支持的文件类型：%1（可用 png、pdf、csv）").arg(fileName));

    // Every key of a shown series inside the visible range, with each series' value there.
    const QCPRange range = chart->xAxis->range();
    const std::vector<QCPGraph*> shown = shownGraphs(chart);
    std::vector<double> keys;
    for (QCPGraph* g : shown) {
        const QCPGraphDataContainer& d = *g->data();
        for (auto it = d.findBegin(range.lower, false); it != d.constEnd() && it->key <= range.upper; ++it)
            if (!std::isnan(it->value))
                keys.push_back(it->key);
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    QString text = QStringLiteral("\uFEFF时间");
    for (QCPGraph* g : shown)
        text += QLatin1Char(',') + g->name();
    text += QStringLiteral("\r\n");
    for (double key : keys) {
        text += keyText(key);
        for (QCPGraph* g : shown) {
            text += QLatin1Char(',');
            const QCPGraphDataContainer& d = *g->data();
            auto it = d.findBegin(key, false);
            if (it != d.constEnd() && it->key == key && !std::isnan(it->value))
                text += QString::number(it->value);
        }
        text += QStringLiteral("\r\n");
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        return fail(QStringLiteral("无法写入 %1：%2").arg(fileName, file.errorString()));
    return true;
}

void PrintChart(QCustomPlot* chart, QPrinter& printer)
{
    // At the screen's resolution the texts keep their size beside the curves; the page is scaled.
    printer.setResolution(chart->logicalDpiX());
    QCPPainter painter(&printer);
    const QRectF page = printer.pageRect(QPrinter::DevicePixel);
    const double scale = std::min(page.width() / chart->width(), page.height() / chart->height());
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    painter.scale(scale, scale);
    chart->toPainter(&painter, chart->width(), chart->height());
}

void ExportChartAsked(QCustomPlot* chart, const std::function<QString(double)>& keyText, QWidget* parent)
{
    const QStringList filters{QStringLiteral("PNG 图像 (*.png)"), QStringLiteral("PDF 文件 (*.pdf)"),
                              QStringLiteral("CSV 表格，可见范围 (*.csv)")};
    QString chosen = filters.front();
    QString fileName = QFileDialog::getSaveFileName(parent, QStringLiteral("导出曲线"), QString(),
                                                    filters.join(QStringLiteral(";;")), &chosen);
    if (fileName.isEmpty())
        return;
    // A name typed without its suffix takes the chosen kind's.
    if (QFileInfo(fileName).suffix().isEmpty())
        fileName += QStringLiteral(".") + QStringList{QStringLiteral("png"), QStringLiteral("pdf"), QStringLiteral("csv")}
                                              .value(std::max<qsizetype>(0, filters.indexOf(chosen)));
    QString error;
    if (!ExportChart(chart, fileName, keyText, &error))
        ShowErrorBox(error);
}

void PrintChartAsked(QCustomPlot* chart, QWidget* parent)
{
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() == QDialog::Accepted)
        PrintChart(chart, printer);
}

} // namespace zeva
