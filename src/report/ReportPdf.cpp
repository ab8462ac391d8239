// The printed report, painted with QPainter so that a PDF file and a printer get the same pages.
#include "ReportPdf.h"

#include "Alarms.h"
#include "ReportXlsx.h"

#include <QBuffer>
#include <QFile>
#include <QSaveFile>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <cmath>

namespace zeva {

namespace {

const QColor PhaseColors[4] = {QColor(0xc8, 0x96, 0x00), QColor(0x1e, 0x8c, 0x1e), QColor(0xd0, 0x20, 0x20),
                               QColor(0x20, 0x5a, 0xd0)};

// A name or text as one printed cell holds it: no line breaks or control characters, at most 120
// characters.
QString printable(QString text)
{
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return text.size() > 120 ? text.left(119) + QChar(0x2026) : text;
}

QString figure(const std::optional<double>& v)
{
    return v ? OneDecimal(*v) : QStringLiteral("—");
}

// A time above a threshold beside the threshold itself.
QString aboveText(const std::optional<double>& minutes, const QString& name, const std::optional<double>& threshold)
{
    return minutes && threshold ? QStringLiteral("%1（%2 %3）").arg(OneDecimal(*minutes), name, OneDecimal(*threshold))
                                : QStringLiteral("—");
}

class TPages {
public:
    TPages(const TReport& r, QPagedPaintDevice& device, QPainter& painter)
        : m_r(r), m_device(device), m_p(painter), m_mm(device.logicalDpiY() / 25.4)
    {
        QFont font;
        font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
                          QStringLiteral("Droid Sans Fallback")});
        font.setPointSizeF(8);
        m_font = font;
        m_p.setFont(m_font);
        m_line = m_p.fontMetrics().height() * 1.35;
        m_body = QRectF(0, 12 * m_mm, device.width(), device.height() - 20 * m_mm);
        decorate();
    }

    void NewPage()
    {
        m_device.newPage();
        ++m_page;
        decorate();
    }
    bool Fits(double height) const { return m_y + height <= m_body.bottom(); }
    double Mm() const { return m_mm; }
    double Y() const { return m_y; }
    double LineHeight() const { return m_line; }
    void Skip(double height) { m_y += height; }

    void Heading(const QString& text, double size = 11)
    {
        if (!Fits(m_line * 3))
            NewPage();
        QFont f = m_font;
        f.setPointSizeF(size);
        f.setBold(true);
        m_p.setFont(f);
        const double h = m_p.fontMetrics().height() * 1.5;
        m_p.drawText(QRectF(0, m_y, m_body.width(), h), Qt::AlignLeft | Qt::AlignVCenter,
                     m_p.fontMetrics().elidedText(printable(text), Qt::ElideMiddle, int(m_body.width())));
        m_p.setFont(m_font);
        m_y += h;
    }

    void Paragraph(const QString& text)
    {
        const QRectF room(0, m_y, m_body.width(), m_body.bottom() - m_y);
        QRectF need = m_p.boundingRect(room, Qt::TextWordWrap, text);
        if (need.height() > room.height()) {
            NewPage();
            need = m_p.boundingRect(QRectF(0, m_y, m_body.width(), m_body.height()), Qt::TextWordWrap, text);
        }
        m_p.drawText(QRectF(0, m_y, m_body.width(), need.height()), Qt::TextWordWrap, text);
        m_y += need.height() + m_line * 0.2;
    }

    // A table over as many pages as it needs, its header on each; at most `rowsHere` rows when
    // it must stay on this page (the rest left out). Widths in millimetres, the last one stretched.
    int Table(const QStringList& header, std::vector<double> widths, const std::vector<QStringList>& rows,
              bool stayOnPage = false)
    {
        double sum = 0;
        for (double& w : widths)
            sum += (w *= m_mm);
        widths.back() += m_body.width() - sum;
        if (!Fits(heightOf(header, widths) + (rows.empty() ? 0 : heightOf(rows.front(), widths)))) {
            if (stayOnPage)
                return 0;
            NewPage();
        }
        row(header, widths, true);
        int drawn = 0;
        for (const QStringList& r : rows) {
            if (!Fits(heightOf(r, widths))) {
                if (stayOnPage)
                    break;
                NewPage();
                row(header, widths, true);
            }
            row(r, widths, false);
            ++drawn;
        }
        m_y += m_line * 0.6;
        return drawn;
    }

    void Chart(const TInstrumentFigures& f, double height)
    {
        const QRectF frame(0, m_y, m_body.width(), height);
        m_y += height + m_line * 0.5;
        const QRectF plot = frame.adjusted(12 * m_mm, m_line * 1.2, -2 * m_mm, -m_line * 1.3);
        double lo = INFINITY, hi = -INFINITY;
        std::vector<int> shownPhases;
        for (const TPhaseFigures& ph : f.phases) {
            lo = std::min(lo, ph.min);
            hi = std::max(hi, ph.max);
            shownPhases.push_back(ph.phase);
        }
        m_p.setPen(QPen(Qt::black, 0.2 * m_mm));
        m_p.drawRect(plot);
        m_p.drawText(QRectF(frame.left(), frame.top(), frame.width(), m_line), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("温度（°C），每格为期间的 1/%1 内的最高读数").arg(TInstrumentFigures::Buckets));
        if (shownPhases.empty()) {
            m_p.drawText(plot, Qt::AlignCenter, QStringLiteral("期间内无读数"));
            return;
        }
        for (const std::optional<double>& t : {f.instrument.t2, f.instrument.t3})
            if (t) {
                lo = std::min(lo, *t);
                hi = std::max(hi, *t);
            }
        const double span = std::max(hi - lo, 1.0);
        const double step = span > 100 ? 50 : span > 40 ? 20 : span > 20 ? 10 : span > 8 ? 5 : span > 4 ? 2 : 1;
        lo = std::floor(lo / step) * step;
        hi = std::ceil(hi / step) * step;
        if (hi <= lo)
            hi = lo + step;
        const auto yOf = [&](double v) { return plot.bottom() - (v - lo) / (hi - lo) * plot.height(); };
        const auto xOf = [&](double bucket) { return plot.left() + bucket / TInstrumentFigures::Buckets * plot.width(); };

        // The grid and its labels.
        m_p.setPen(QPen(QColor(0xd8, 0xd8, 0xd8), 0.15 * m_mm));
        for (double v = lo; v <= hi + step / 2; v += step) {
            m_p.drawLine(QPointF(plot.left(), yOf(v)), QPointF(plot.right(), yOf(v)));
            m_p.setPen(Qt::black);
            m_p.drawText(QRectF(frame.left(), yOf(v) - m_line / 2, 11 * m_mm, m_line), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(v));
            m_p.setPen(QPen(QColor(0xd8, 0xd8, 0xd8), 0.15 * m_mm));
        }
        const QDate first = m_r.period.first;
        const int days = int(first.daysTo(m_r.period.End()));
        const int ticks = m_r.period.month ? days : 8;
        for (int i = 0; i <= ticks; ++i) {
            const double x = xOf(double(i) / ticks * TInstrumentFigures::Buckets);
            m_p.setPen(QPen(QColor(0xd8, 0xd8, 0xd8), 0.15 * m_mm));
            m_p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            const bool label = !m_r.period.month || i % 5 == 0 || i == ticks;
            if (!label || (m_r.period.month && i == ticks))
                continue;
            m_p.setPen(Qt::black);
            const QString text = m_r.period.month ? first.addDays(i).toString(QStringLiteral("MM-dd"))
                                                  : QStringLiteral("%1:00").arg(i * 3, 2, 10, QLatin1Char('0'));
            m_p.drawText(QRectF(x - 8 * m_mm, plot.bottom() + 0.3 * m_line, 16 * m_mm, m_line), Qt::AlignCenter, text);
        }

        // The thresholds, dashed.
        const std::pair<const char*, std::optional<double>> thresholds[] = {{"T2", f.instrument.t2}, {"T3", f.instrument.t3}};
        for (const auto& [name, t] : thresholds) {
            if (!t)
                continue;
            m_p.setPen(QPen(QColor(0xe0, 0x70, 0x00), 0.25 * m_mm, Qt::DashLine));
            m_p.drawLine(QPointF(plot.left(), yOf(*t)), QPointF(plot.right(), yOf(*t)));
            m_p.drawText(QRectF(plot.left() + m_mm, yOf(*t) - m_line, 30 * m_mm, m_line), Qt::AlignLeft | Qt::AlignBottom,
                         QStringLiteral("%1 %2").arg(QLatin1String(name), OneDecimal(*t)));
        }

        m_p.save();
        m_p.setClipRect(plot);
        for (int p : shownPhases) {
            const std::vector<double>& v = f.bucketMax[std::size_t(p)];
            QPainterPath path;
            bool open = false;
            for (std::size_t b = 0; b < v.size(); ++b) {
                if (std::isnan(v[b])) {
                    open = false;
                    continue;
                }
                const QPointF at(xOf(double(b) + 0.5), yOf(v[b]));
                if (open)
                    path.lineTo(at);
                else
                    path.moveTo(at);
                open = true;
            }
            m_p.setPen(QPen(PhaseColors[p], 0.35 * m_mm));
            m_p.drawPath(path);
        }
        m_p.restore();

        // The legend.
        double x = frame.right() - 2 * m_mm;
        for (auto it = shownPhases.rbegin(); it != shownPhases.rend(); ++it) {
            const QString text = PhaseLetter(*it) + QStringLiteral("相");
            const double w = m_p.fontMetrics().horizontalAdvance(text) + 6 * m_mm;
            x -= w;
            m_p.fillRect(QRectF(x, frame.top() + m_line * 0.3, 3 * m_mm, m_line * 0.4), PhaseColors[*it]);
            m_p.setPen(Qt::black);
            m_p.drawText(QRectF(x + 4 * m_mm, frame.top(), w, m_line), Qt::AlignLeft | Qt::AlignVCenter, text);
        }
    }

private:
    void decorate()
    {
        m_p.setPen(Qt::black);
        m_p.setFont(m_font);
        const double w = m_device.width();
        const QString left = QStringLiteral("温控仪报表　站：%1　期间：%2").arg(m_r.station, m_r.period.Label());
        const QString right = QStringLiteral("生成于 %1").arg(WallText(m_r.madeAt));
        m_p.drawText(QRectF(0, 0, w, 8 * m_mm), Qt::AlignLeft | Qt::AlignVCenter, left);
        m_p.drawText(QRectF(0, 0, w, 8 * m_mm), Qt::AlignRight | Qt::AlignVCenter, right);
        m_p.setPen(QPen(Qt::black, 0.2 * m_mm));
        m_p.drawLine(QPointF(0, 9 * m_mm), QPointF(w, 9 * m_mm));
        m_p.drawText(QRectF(0, m_device.height() - 6 * m_mm, w, 6 * m_mm), Qt::AlignCenter,
                     QStringLiteral("第 %1 页").arg(m_page));
        m_y = m_body.top();
    }

    // A row as high as its longest cell needs, its texts wrapped.
    double heightOf(const QStringList& cells, const std::vector<double>& widths) const
    {
        double h = m_line;
        for (std::size_t c = 0; c < widths.size() && c < std::size_t(cells.size()); ++c)
            h = std::max(h, m_p.boundingRect(QRectF(0, 0, widths[c] - 1.6 * m_mm, 1e6), Qt::TextWordWrap, printable(cells[int(c)]))
                                    .height() + 0.35 * m_line);
        return h;
    }

    void row(const QStringList& cells, const std::vector<double>& widths, bool header)
    {
        const double h = heightOf(cells, widths);
        if (header)
            m_p.fillRect(QRectF(0, m_y, m_body.width(), h), QColor(0xe8, 0xe8, 0xe8));
        double x = 0;
        m_p.setPen(Qt::black);
        for (std::size_t c = 0; c < widths.size() && c < std::size_t(cells.size()); ++c) {
            m_p.drawText(QRectF(x + 0.8 * m_mm, m_y, widths[c] - 1.6 * m_mm, h),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, printable(cells[int(c)]));
            x += widths[c];
        }
        m_p.setPen(QPen(QColor(0xc0, 0xc0, 0xc0), 0.1 * m_mm));
        m_p.drawLine(QPointF(0, m_y + h), QPointF(m_body.width(), m_y + h));
        m_y += h;
    }

    const TReport& m_r;
    QPagedPaintDevice& m_device;
    QPainter& m_p;
    double m_mm;
    QFont m_font;
    double m_line = 0;
    QRectF m_body;
    double m_y = 0;
    int m_page = 1;
};

QString addressText(const TReportInstrument& in)
{
    return in.address >= 0 ? QString::number(in.address) : QStringLiteral("—");
}

QStringList summaryRow(const TInstrumentFigures& f, const TPhaseFigures& p, bool withInstrument)
{
    QStringList cells;
    if (withInstrument)
        cells << f.instrument.name << addressText(f.instrument);
    cells << PhaseLetter(p.phase) << OneDecimal(p.min) << OneDecimal(p.max) << WallText(p.maxAt) << OneDecimal(p.mean)
          << aboveText(p.aboveT2Minutes, QStringLiteral("T2"), f.instrument.t2)
          << aboveText(p.aboveT3Minutes, QStringLiteral("T3"), f.instrument.t3);
    return cells;
}

QStringList alarmRow(const TAlarmFigures& a)
{
    return {a.kindText, PriorityText(a.priority), a.instrument, QString::number(a.count), OneDecimal(a.standingMinutes),
            figure(a.ackMedianMinutes), figure(a.ackWorstMinutes)};
}

QStringList writeRow(const TWriteFigures& w)
{
    return {WallText(w.time), w.instrument, w.group, w.before, w.after, w.user};
}

QStringList availabilityRow(const TInstrumentFigures& f, bool withInstrument)
{
    QStringList cells;
    if (withInstrument)
        cells << f.instrument.name << addressText(f.instrument);
    return cells << OneDecimal(f.normalPercent) << OneDecimal(f.interruptedPercent) << OneDecimal(f.noDataPercent)
                 << OneDecimal(f.fanHours);
}

const std::vector<double> SummaryWidths{30, 10, 8, 14, 14, 34, 14, 28, 28};
const std::vector<double> AlarmWidths{34, 14, 34, 14, 26, 28, 28};
const std::vector<double> WriteWidths{32, 26, 26, 40, 40, 16};
const std::vector<double> AvailabilityWidths{40, 14, 28, 28, 28, 30};

} // namespace

bool PaintReport(const TReport& r, QPagedPaintDevice& device)
{
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    painter.setRenderHint(QPainter::Antialiasing);
    TPages pages(r, device, painter);

    pages.Heading(QStringLiteral("汇总　%1").arg(r.period.Label()), 13);
    std::vector<QStringList> rows;
    for (const TInstrumentFigures& f : r.instruments)
        for (const TPhaseFigures& p : f.phases)
            rows.push_back(summaryRow(f, p, true));
    pages.Table(ReportHeader::Summary(), SummaryWidths, rows);

    pages.Heading(QStringLiteral("可用率"));
    rows.clear();
    for (const TInstrumentFigures& f : r.instruments)
        rows.push_back(availabilityRow(f, true));
    pages.Table(ReportHeader::Availability(), AvailabilityWidths, rows);

    pages.Heading(QStringLiteral("报警"));
    rows.clear();
    for (const TAlarmFigures& a : r.alarms)
        rows.push_back(alarmRow(a));
    pages.Table(ReportHeader::Alarms(), AlarmWidths, rows);

    pages.Heading(QStringLiteral("参数写入"));
    rows.clear();
    for (const TWriteFigures& w : r.writes)
        rows.push_back(writeRow(w));
    pages.Table(ReportHeader::Writes(), WriteWidths, rows);

    pages.Heading(QStringLiteral("说明"));
    for (const QString& rule : ReportRules())
        pages.Paragraph(QStringLiteral("· ") + rule);

    // A page per instrument; what does not fit on it is on the summary.
    for (const TInstrumentFigures& f : r.instruments) {
        pages.NewPage();
        pages.Heading(QStringLiteral("%1（地址 %2）").arg(f.instrument.name, addressText(f.instrument)), 13);
        pages.Paragraph(QStringLiteral("T2 %1，T3 %2；读数中位间隔 %3 秒")
                            .arg(figure(f.instrument.t2), figure(f.instrument.t3), OneDecimal(f.medianSpacing)));
        pages.Chart(f, 80 * pages.Mm());
        rows.clear();
        for (const TPhaseFigures& p : f.phases)
            rows.push_back(summaryRow(f, p, false));
        pages.Table(ReportHeader::Summary().mid(2), {10, 18, 18, 38, 18, 34, 34}, rows, true);
        pages.Table(ReportHeader::Availability().mid(2), {36, 36, 36, 36}, {availabilityRow(f, false)}, true);
        std::vector<QStringList> alarms, writes;
        for (const TAlarmFigures& a : r.alarms)
            if (a.address == f.instrument.address && a.address >= 0)
                alarms.push_back(alarmRow(a));
        for (const TWriteFigures& w : r.writes)
            if (w.address == f.instrument.address && w.address >= 0)
                writes.push_back(writeRow(w));
        int left = 0;
        if (!alarms.empty())
            left += int(alarms.size()) - pages.Table(ReportHeader::Alarms(), AlarmWidths, alarms, true);
        if (!writes.empty())
            left += int(writes.size()) - pages.Table(ReportHeader::Writes(), WriteWidths, writes, true);
        if (left > 0 && pages.Fits(pages.LineHeight()))
            pages.Paragraph(QStringLiteral("另有 %1 行见汇总页。").arg(left));
    }
    return painter.end();
}

QString WriteReportPdf(const TReport& r, const QString& file)
{
    // Made in memory, then saved whole: the PDF writer does not tell a failed write (a full disk),
    // QSaveFile does, and keeps the file there was.
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    bool painted = false;
    {
        QPdfWriter writer(&pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("温控仪报表 %1 %2").arg(r.station, r.period.Label()));
        writer.setCreator(QStringLiteral("zeva-report"));
        painted = PaintReport(r, writer);
    }
    if (!painted)
        return QStringLiteral("无法生成 PDF");
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(pdf.data()) != pdf.size() || !out.commit())
        return out.errorString();
    return {};
}

} // namespace zeva
