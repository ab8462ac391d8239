// The report's figures: one pass over each instrument's readings, the journal's periods as sets of
// intervals.
#include "ReportFigures.h"

#include "Alarms.h"
#include "AlarmStatistics.h"
#include "PlantTypes.h"

#include <QDateTime>
#include <QHash>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <tuple>

namespace zeva {

namespace {

constexpr qint64 DaySeconds = 86400;
constexpr qint64 EpochJulianDay = 2440588; // 1970-01-01

// Half-open [first, second) stretches, sorted and apart.
using TSpans = std::vector<std::pair<qint64, qint64>>;

TSpans merged(TSpans s)
{
    std::sort(s.begin(), s.end());
    TSpans out;
    for (const auto& [a, b] : s) {
        if (b <= a)
            continue;
        if (!out.empty() && a <= out.back().second)
            out.back().second = std::max(out.back().second, b);
        else
            out.emplace_back(a, b);
    }
    return out;
}

TSpans clipped(const TSpans& s, qint64 from, qint64 to)
{
    TSpans out;
    for (const auto& [a, b] : s)
        if (std::max(a, from) < std::min(b, to))
            out.emplace_back(std::max(a, from), std::min(b, to));
    return out;
}

// What of `a` lies outside `b` (both merged).
TSpans without(const TSpans& a, const TSpans& b)
{
    TSpans out;
    std::size_t j = 0;
    for (auto [x, y] : a) {
        while (j < b.size() && b[j].second <= x)
            ++j;
        for (std::size_t k = j; k < b.size() && b[k].first < y; ++k) {
            if (b[k].first > x)
                out.emplace_back(x, b[k].first);
            x = std::max(x, b[k].second);
        }
        if (x < y)
            out.emplace_back(x, y);
    }
    return out;
}

qint64 length(const TSpans& s)
{
    qint64 n = 0;
    for (const auto& [a, b] : s)
        n += b - a;
    return n;
}

// The middle of the values; the mean of the two middle ones for an even count.
double median(std::vector<double> v)
{
    const std::size_t m = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(m), v.end());
    if (v.size() % 2)
        return v[m];
    const double upper = v[m];
    return (upper + *std::max_element(v.begin(), v.begin() + std::ptrdiff_t(m))) / 2;
}

bool isFan(const TReportJournalRow& r)
{
    return r.kind == QLatin1String(JournalKind::Fan.code);
}

QString kindTextOf(const QString& text)
{
    const qsizetype colon = text.indexOf(QChar(0xFF1A));
    return colon < 0 ? text : text.left(colon);
}

} // namespace

qint64 WallSecondsOf(const QDateTime& local)
{
    return (local.date().toJulianDay() - EpochJulianDay) * DaySeconds + local.time().msecsSinceStartOfDay() / 1000;
}

QString WallText(qint64 wall)
{
    const qint64 day = wall >= 0 ? wall / DaySeconds : (wall - DaySeconds + 1) / DaySeconds;
    return QDate::fromJulianDay(day + EpochJulianDay).toString(QStringLiteral("yyyy-MM-dd ")) +
           QTime(0, 0).addSecs(int(wall - day * DaySeconds)).toString(QStringLiteral("HH:mm:ss"));
}

qint64 TReportPeriod::From() const
{
    return (first.toJulianDay() - EpochJulianDay) * DaySeconds;
}

qint64 TReportPeriod::To() const
{
    return (End().toJulianDay() - EpochJulianDay) * DaySeconds;
}

QString TReportPeriod::Label() const
{
    return first.toString(month ? QStringLiteral("yyyy-MM") : QStringLiteral("yyyy-MM-dd"));
}

std::optional<TReportPeriod> TReportPeriod::Day(const QString& text)
{
    const QDate d = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (!d.isValid() || text.size() != 10)
        return std::nullopt;
    return TReportPeriod{d, false};
}

std::optional<TReportPeriod> TReportPeriod::Month(const QString& text)
{
    const QDate d = QDate::fromString(text + QStringLiteral("-01"), QStringLiteral("yyyy-MM-dd"));
    if (!d.isValid() || text.size() != 7)
        return std::nullopt;
    return TReportPeriod{d, true};
}

QStringList ReportRules()
{
    return {
        QStringLiteral("期间为本地日历日或月；报表在期间结束前生成时，统计到生成时刻为止。"),
        QStringLiteral("最小、最大、平均取期间内各相实时温度的读数（ERR 不计，无读数的相不列出）；平均为读数的算术平均；最大时刻为最大值首次出现的时刻。"),
        QStringLiteral("T2、T3 以上（分钟）：高于阈值的读数保持到下一条读数，至多保持该仪表期间读数中位间隔的三倍（更长的间隔其余部分计为无数据），截于期间两端；"
                       "阈值取报表生成时仪表登记中的 T2、T3，阈值为 0 时不计。"),
        QStringLiteral("报警：次数为期间内发生的报警；总时长为报警持续时间与期间的重叠（未消除的计到生成时刻），程序未运行的时间不计；确认时间为发生到确认，只计期间内发生且已确认的报警。"),
        QStringLiteral("可用率：正常为有读数覆盖的时间（保持规则同上）；中断为该仪表“通讯中断”与“串口断开”报警期间无读数的时间；无数据为其余时间（程序未运行、无记录）。"),
        QStringLiteral("程序未运行的时间：从“程序启动”记录之前的最后一条读数或记录，到该启动为止（期间之后的第一次启动也算）。"),
        QStringLiteral("只有一条读数（或读数间隔全为 0）的仪表不计保持时间；夏令时切换日按 24 小时计。"),
        QStringLiteral("风机运行（小时）：按记录中的“风机控制输出：动作/复归”（含每次启动时的状态）累计，程序未运行的时间不计。"),
        QStringLiteral("参数写入：取自报警记录中的“参数写入”。"),
    };
}

TWriteFigures ParseWriteText(const QString& text)
{
    TWriteFigures w;
    QString body = text;
    const QString prefix = QString::fromUtf8(JournalKind::ParameterWrite.text) + QStringLiteral("：");
    if (body.startsWith(prefix))
        body = body.mid(prefix.size());
    const QString userMark = QStringLiteral("；操作员：");
    if (const qsizetype u = body.lastIndexOf(userMark); u >= 0) {
        w.user = body.mid(u + userMark.size());
        body = body.left(u);
    }
    if (const qsizetype g = body.indexOf(QChar(0xFF1A)); g >= 0) {
        w.group = body.left(g);
        body = body.mid(g + 1);
    }
    QStringList before, after;
    for (const QString& part : body.split(QStringLiteral("，"), Qt::SkipEmptyParts)) {
        const qsizetype arrow = part.indexOf(QChar(0x2192));
        const qsizetype space = part.lastIndexOf(QLatin1Char(' '), arrow < 0 ? -1 : arrow);
        const QString name = space < 0 ? QString() : part.left(space);
        if (arrow < 0) {
            after << part;
            continue;
        }
        const QString was = part.mid(space + 1, arrow - space - 1);
        before << (name.isEmpty() ? was : name + QLatin1Char(' ') + was);
        after << (name.isEmpty() ? part.mid(arrow + 1) : name + QLatin1Char(' ') + part.mid(arrow + 1));
    }
    w.before = before.join(QStringLiteral("，"));
    w.after = after.join(QStringLiteral("，"));
    return w;
}

TReport MakeReport(TReportSource& source, const TReportPeriod& period, const QString& station, qint64 madeAt)
{
    TReport r;
    r.period = period;
    r.station = station;
    r.madeAt = madeAt;
    const qint64 from = period.From(), to = period.To();
    const qint64 end = std::clamp(madeAt, from, to);
    r.coveredTo = end;
    const std::vector<TReportJournalRow> journal = source.Journal(from, to);

    // Each run journals its start before it polls; no program ran from the last sign of life before
    // it. The first start after the period closes a stop within it.
    TSpans off;
    {
        for (const TReportJournalRow& e : journal)
            if (e.kind == QLatin1String(JournalKind::ProgramStart.code) && e.raised > from)
                off.emplace_back(source.LastActivityBefore(e.raised).value_or(from), e.raised);
        off = clipped(merged(off), from, end);
    }

    const std::vector<TReportInstrument> registry = source.Instruments();
    QHash<int, QString> names;
    for (const TReportInstrument& in : registry)
        if (!names.contains(in.address) || in.enabled)
            names[in.address] = in.name;
    const auto nameOf = [&](int address) {
        if (address < 0)
            return QStringLiteral("总线");
        return names.value(address, QStringLiteral("地址 %1").arg(address));
    };
    const auto spanOf = [&](const TReportJournalRow& e) {
        return std::pair<qint64, qint64>(e.raised, e.cleared.value_or(end));
    };

    const double total = double(end - from);
    const double bucketWidth = double(to - from) / TInstrumentFigures::Buckets;
    std::vector<qint64> times;
    std::array<std::vector<double>, 4> values;
    for (const TReportInstrument& in : registry) {
        times.clear();
        for (auto& v : values)
            v.clear();
        bool ordered = true;
        source.Readings(in.id, from, to, [&](const TReportReading& reading) {
            // Rows come in the order of their stored text; a time written otherwise may fall
            // outside the period or out of order.
            if (reading.t < from || reading.t >= to)
                return;
            ordered = ordered && (times.empty() || reading.t >= times.back());
            times.push_back(reading.t);
            for (int p = 0; p < 4; ++p)
                values[std::size_t(p)].push_back(reading.live[std::size_t(p)]);
        });
        if (!ordered) {
            std::vector<std::size_t> order(times.size());
            for (std::size_t i = 0; i < order.size(); ++i)
                order[i] = i;
            std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return times[a] < times[b]; });
            const auto reorder = [&](auto& v) {
                auto copy = v;
                for (std::size_t i = 0; i < order.size(); ++i)
                    v[i] = copy[order[i]];
            };
            reorder(times);
            for (auto& v : values)
                reorder(v);
        }
        if (!in.enabled && times.empty())
            continue;
        TInstrumentFigures f;
        f.instrument = in;
        const std::size_t n = times.size();

        // Of the spacings above zero: readings stored twice in one second do not make it 0.
        std::vector<double> spacings;
        for (std::size_t i = 1; i < n; ++i)
            if (times[i] > times[i - 1])
                spacings.push_back(double(times[i] - times[i - 1]));
        if (!spacings.empty())
            f.medianSpacing = median(std::move(spacings));
        const qint64 hold = qint64(std::llround(3 * f.medianSpacing));
        std::vector<qint64> heldTo(n);
        TSpans covered;
        for (std::size_t i = 0; i < n; ++i) {
            heldTo[i] = std::min({i + 1 < n ? times[i + 1] : std::numeric_limits<qint64>::max(), times[i] + hold, to});
            if (!covered.empty() && times[i] <= covered.back().second)
                covered.back().second = std::max(covered.back().second, heldTo[i]);
            else if (heldTo[i] > times[i])
                covered.emplace_back(times[i], heldTo[i]);
        }

        for (int p = 0; p < 4; ++p) {
            const std::vector<double>& v = values[std::size_t(p)];
            TPhaseFigures ph;
            ph.phase = p;
            double sum = 0;
            qint64 aboveT2 = 0, aboveT3 = 0;
            std::vector<double> chart(TInstrumentFigures::Buckets, std::numeric_limits<double>::quiet_NaN());
            for (std::size_t i = 0; i < n; ++i) {
                const double t = v[i];
                if (std::isnan(t) || !Shown(t))
                    continue;
                if (ph.readings == 0 || t > ph.max) {
                    ph.max = t;
                    ph.maxAt = times[i];
                }
                if (ph.readings == 0 || t < ph.min)
                    ph.min = t;
                ++ph.readings;
                sum += t;
                if (in.t2 && t > *in.t2)
                    aboveT2 += heldTo[i] - times[i];
                if (in.t3 && t > *in.t3)
                    aboveT3 += heldTo[i] - times[i];
                const int b = std::clamp(int(double(times[i] - from) / bucketWidth), 0, TInstrumentFigures::Buckets - 1);
                if (std::isnan(chart[std::size_t(b)]) || t > chart[std::size_t(b)])
                    chart[std::size_t(b)] = t;
            }
            f.bucketMax[std::size_t(p)] = std::move(chart);
            if (ph.readings == 0)
                continue;
            ph.mean = sum / ph.readings;
            if (in.t2)
                ph.aboveT2Minutes = aboveT2 / 60.0;
            if (in.t3)
                ph.aboveT3Minutes = aboveT3 / 60.0;
            f.phases.push_back(ph);
        }

        // Availability: readings first, then the journal's interruptions, the rest without data.
        TSpans interrupted, fanOn;
        std::optional<qint64> fanSince;
        for (const TReportJournalRow& e : journal) {
            const bool own = in.address >= 0 && e.address == in.address; // a deleted one has no entries
            if ((e.kind == QLatin1String(JournalKind::Interrupted.code) && own) ||
                e.kind == QLatin1String(JournalKind::LinkDown.code))
                interrupted.push_back(spanOf(e));
            if (isFan(e) && own) {
                const bool on = e.text.contains(QStringLiteral("动作"));
                if (on && !fanSince)
                    fanSince = e.raised;
                else if (!on && fanSince) {
                    fanOn.emplace_back(*fanSince, e.raised);
                    fanSince.reset();
                }
            }
        }
        if (fanSince)
            fanOn.emplace_back(*fanSince, end);
        const TSpans normal = clipped(covered, from, end);
        interrupted = without(without(clipped(merged(interrupted), from, end), normal), off);
        if (total > 0) {
            f.normalPercent = 100.0 * double(length(normal)) / total;
            f.interruptedPercent = 100.0 * double(length(interrupted)) / total;
            f.noDataPercent = std::max(0.0, 100.0 - f.normalPercent - f.interruptedPercent);
        }
        f.fanHours = double(length(without(clipped(merged(fanOn), from, end), off))) / 3600.0;
        r.instruments.push_back(std::move(f));
    }

    // Alarms by kind and instrument.
    const TAlarmPolicy defaults;
    struct TGroup {
        TAlarmFigures figures;
        TSpans spans;
        std::vector<double> acks;
        std::optional<int> stored; // the most urgent priority the rows hold
    };
    std::map<std::pair<QString, int>, TGroup> groups;
    for (const TReportJournalRow& e : journal) {
        if (!IsAlarmKind(e.kind))
            continue;
        TGroup& g = groups[{e.kind, e.address}];
        TAlarmFigures& a = g.figures;
        if (a.kind.isEmpty()) {
            a.kind = e.kind;
            a.kindText = kindTextOf(e.text);
            a.address = e.address;
            a.instrument = nameOf(e.address);
        }
        if (e.priority)
            g.stored = std::min(g.stored.value_or(*e.priority), *e.priority);
        g.spans.push_back(spanOf(e));
        if (e.raised >= from && e.raised < to) {
            ++a.count;
            if (e.acked)
                g.acks.push_back(double(*e.acked - e.raised) / 60.0);
        }
    }
    for (auto& [key, g] : groups) {
        TAlarmFigures& a = g.figures;
        const TSpans& spans = g.spans;
        std::vector<double>& acks = g.acks;
        // Rows from before priorities were stored have the kind's own.
        a.priority = g.stored.value_or(int(defaults.PriorityOf(a.kind)));
        a.standingMinutes = double(length(without(clipped(merged(spans), from, end), off))) / 60.0;
        if (!acks.empty()) {
            a.ackWorstMinutes = *std::max_element(acks.begin(), acks.end());
            a.ackMedianMinutes = median(acks);
        }
        if (a.count > 0 || a.standingMinutes > 0)
            r.alarms.push_back(a);
    }
    std::stable_sort(r.alarms.begin(), r.alarms.end(), [](const TAlarmFigures& x, const TAlarmFigures& y) {
        return std::tie(x.priority, x.address, x.kind) < std::tie(y.priority, y.address, y.kind);
    });

    for (const TReportJournalRow& e : journal)
        if (e.kind == QLatin1String(JournalKind::ParameterWrite.code) && e.raised >= from && e.raised < to) {
            TWriteFigures w = ParseWriteText(e.text);
            w.time = e.raised;
            w.address = e.address;
            w.instrument = nameOf(e.address);
            r.writes.push_back(std::move(w));
        }
    return r;
}

} // namespace zeva
