// The web view's reads of the station's database and the pages made of them.
#include "WebData.h"

#include "AlarmStatistics.h"
#include "Convert.h"
#include "Database.h"
#include "PlantTypes.h"
#include "Statements.h"
#include "Trend.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

#include <array>
#include <map>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

namespace zeva {

namespace {

const char* const PhaseColors[4] = {"#c89600", "#1e8c1e", "#d02020", "#205ad0"};
constexpr qint64 MaxBuckets = 100000, MaxRows = 100000;
constexpr qint64 MaxStep = 10LL * 366 * 86400;

// A stored local time as ISO 8601 with its offset; null for none.
QJsonValue isoOf(const QVariant& stored)
{
    const QDateTime t = QDateTime::fromString(stored.toString(), DateTimeFormat);
    if (!t.isValid())
        return QJsonValue::Null;
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

// A wall time (local read as UTC) as ISO 8601 with its offset, through the C library: thousands of
// buckets would spend their time in QDateTime's zone lookups.
std::string isoOfWall(qint64 wall)
{
    // The offset of the instant that wall time names; a second look settles a change of offset.
    time_t t = time_t(wall);
    tm local{};
    ::localtime_r(&t, &local);
    t = time_t(wall - local.tm_gmtoff);
    ::localtime_r(&t, &local);
    const long offset = local.tm_gmtoff;
    tm wallTm{};
    const time_t w = time_t(wall);
    ::gmtime_r(&w, &wallTm);
    char text[64];
    if (offset == 0)
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", wallTm.tm_year + 1900, wallTm.tm_mon + 1,
                      wallTm.tm_mday, wallTm.tm_hour, wallTm.tm_min, wallTm.tm_sec);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", wallTm.tm_year + 1900,
                      wallTm.tm_mon + 1, wallTm.tm_mday, wallTm.tm_hour, wallTm.tm_min, wallTm.tm_sec,
                      offset < 0 ? '-' : '+', std::labs(offset) / 3600, (std::labs(offset) % 3600) / 60);
    return text;
}

// A reading as JSON writes it: the shortest text that reads back the same.
void appendNumber(std::string& out, const std::optional<double>& v)
{
    if (!v) {
        out += "null";
        return;
    }
    out += QByteArray::number(*v, 'g', 15).toStdString(); // not printf: the C locale may be German
}

qint64 wallOf(const QDateTime& t)
{
    const QDateTime local = t.toLocalTime();
    return QDateTime(local.date(), local.time(), Qt::UTC).toSecsSinceEpoch();
}

std::string html(const QString& text)
{
    return text.toHtmlEscaped().toStdString();
}

const char* const PageHead = R"HTML(<!doctype html>
<html lang="zh-CN"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width,initial-scale=1">
<style>
body{font-family:"Noto Sans CJK SC","WenQuanYi Micro Hei",sans-serif;margin:0;background:#f0f0f0;color:#222}
header{padding:.6em 1em;background:#203040;color:#fff}header a{color:#cde}
main{padding:.8em}table{border-collapse:collapse;background:#fff;width:100%;font-size:.9em}
td,th{border:1px solid #ccc;padding:.2em .4em;text-align:left}th{background:#e8e8e8}
tr.p0{background:#fbe4e4}tr.p1{background:#fdeedd}tr.p2{background:#fdf8dc}
svg{background:#fff;width:100%;height:auto;max-width:1200px;min-width:640px}
.wide{overflow-x:auto}
</style>)HTML";

std::string journalTable(const TQueryResult& rows)
{
    std::string t = "<div class=\"wide\"><table><tr><th>发生</th><th>仪表</th><th>报警/事件</th><th>优先级</th><th>消除</th><th>确认</th>"
                    "<th>确认人</th></tr>";
    for (const QVariantList& r : rows.rows()) {
        const QString kind = r[3].toString();
        const bool alarm = kind.startsWith(QLatin1String("alarm."));
        const int priority = r[9].isNull() ? -1 : r[9].toInt();
        t += "<tr" + (alarm && priority >= 0 && priority < 3 ? " class=\"p" + std::to_string(priority) + "\"" : std::string()) +
             "><td>" + html(r[5].toString()) + "</td><td>" +
             html(r[2].isNull() ? QStringLiteral("总线") : QStringLiteral("%1 %2").arg(r[2].toString(), r[16].toString())) +
             "</td><td>" + html(r[4].toString()) + "</td><td>" + html(alarm ? PriorityText(priority) : QString()) + "</td><td>" +
             html(r[6].toString()) + "</td><td>" + html(r[7].toString()) + "</td><td>" + html(r[8].toString()) + "</td></tr>";
    }
    return t + "</table></div>";
}

} // namespace

std::string AlarmsJson(TDatabase& db, const QDateTime& from, const QDateTime& to)
{
    QJsonArray a;
    const TQueryResult rows = SelectJournal(db, -2, from, to);
    for (const QVariantList& r : rows.rows())
        a.append(QJsonObject{{"id", r[0].toLongLong()},
                             {"address", r[2].isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(r[2].toInt())},
                             {"name", r[16].toString()},
                             {"kind", r[3].toString()},
                             {"text", r[4].toString()},
                             {"raised", isoOf(r[5])},
                             {"cleared", isoOf(r[6])},
                             {"acked", isoOf(r[7])},
                             {"by", r[8].isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(r[8].toString())},
                             {"priority", r[9].isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(PriorityText(r[9].toInt()))}});
    return QJsonDocument(a).toJson(QJsonDocument::Compact).toStdString();
}

std::string ReadingsJson(TDatabase& db, int address, const QDateTime& from, const QDateTime& to, qint64 step,
                         int& status, QString& error)
{
    const qint64 id = address >= 0 && address <= 255 ? LookupEnabledId(db, address) : 0;
    if (id <= 0) {
        status = 404;
        error = QStringLiteral("没有启用的仪表 %1").arg(address);
        return {};
    }
    if (!from.isValid() || !to.isValid() || to <= from || step < 0 || step > MaxStep) {
        status = 400;
        error = QStringLiteral("需要 from、to（ISO 8601，from 早于 to）和 0..%1 的 step").arg(MaxStep);
        return {};
    }
    // Bounded, so that no request holds the server (or its memory) for long.
    if (step > 0 && (wallOf(to) - wallOf(from)) / step > MaxBuckets) {
        status = 400;
        error = QStringLiteral("超过 %1 个时段：请加大 step 或缩短范围").arg(MaxBuckets);
        return {};
    }
    struct TPhase {
        std::optional<double> min, max, first, last;
    };
    struct TBucket {
        qint64 start = 0;
        std::array<TPhase, 4> phases;
    };
    const auto value = [](const QVariant& v) -> std::optional<double> {
        bool ok = false;
        const double d = v.toDouble(&ok);
        return !v.isNull() && ok && Shown(d) ? std::optional<double>(d) : std::nullopt;
    };
    std::vector<TBucket> buckets;
    qint64 rows = 0;
    const qint64 fromWall = wallOf(from), toWall = wallOf(to);
    const TBindings range{{":id", id}, {":from", DateTimeText(from.toLocalTime())}, {":to", DateTimeText(to.toLocalTime())}};
    // Buckets of whole minutes come from the analysis window's sums (lowest and highest), the first
    // and last reading of each from the index: a year in hours without reading its million rows.
    const int level = step % 3600 == 0 ? 3600 : step % 600 == 0 ? 600 : step % 60 == 0 ? 60 : 0;
    if (step > 0 && level > 0) {
        std::map<qint64, TBucket> byStart;
        const TTrendLevel trend = level == 3600 ? TTrendLevel::Hour : level == 600 ? TTrendLevel::TenMinutes : TTrendLevel::Minute;
        for (int p = 0; p < 4; ++p) {
            const TTrendPoints points = ReadTrend(db, id, p, trend, double(fromWall), double(toWall) - 1);
            for (std::size_t i = 0; i < points.time.size(); ++i) {
                const qint64 t = qint64(points.time[i]);
                if (t < fromWall - level || t >= toWall)
                    continue;
                const qint64 start = t - ((t % step) + step) % step;
                TBucket& b = byStart[start];
                b.start = start;
                TPhase& ph = b.phases[std::size_t(p)];
                if (Shown(points.low[i]))
                    ph.min = std::min(ph.min.value_or(points.low[i]), points.low[i]);
                if (Shown(points.high[i]))
                    ph.max = std::max(ph.max.value_or(points.high[i]), points.high[i]);
            }
        }
        // Every bucket's first and last row in one statement: two index steps a bucket.
        const QString ends = QStringLiteral(
            "WITH RECURSIVE b(s) AS (SELECT :first UNION ALL SELECT s + :step FROM b WHERE s + :step < :to) "
            "SELECT b.s, f.AActTemperature, f.BActTemperature, f.CActTemperature, f.DActTemperature, l.AActTemperature, "
            "l.BActTemperature, l.CActTemperature, l.DActTemperature FROM b "
            "LEFT JOIN ApparatusRecord f ON f.RecordID = (SELECT RecordID FROM ApparatusRecord WHERE ApparatusID = :id "
            "AND InDateTime >= datetime(max(b.s, :from), 'unixepoch') AND InDateTime < datetime(min(b.s + :step, :to), "
            "'unixepoch') ORDER BY InDateTime, RecordID LIMIT 1) "
            "LEFT JOIN ApparatusRecord l ON l.RecordID = (SELECT RecordID FROM ApparatusRecord WHERE ApparatusID = :id "
            "AND InDateTime >= datetime(max(b.s, :from), 'unixepoch') AND InDateTime < datetime(min(b.s + :step, :to), "
            "'unixepoch') ORDER BY InDateTime DESC, RecordID DESC LIMIT 1)");
        const qint64 first = fromWall - ((fromWall % step) + step) % step;
        db.Each(ends, {{":first", first}, {":step", step}, {":to", toWall}, {":from", fromWall}, {":id", id}},
                [&](const QSqlQuery& q) {
                    const auto it = byStart.find(q.value(0).toLongLong());
                    if (it == byStart.end())
                        return;
                    for (int p = 0; p < 4; ++p) {
                        it->second.phases[std::size_t(p)].first = value(q.value(1 + p));
                        it->second.phases[std::size_t(p)].last = value(q.value(5 + p));
                    }
                });
        for (auto& [start, b] : byStart)
            buckets.push_back(b);
    } else {
        const QString sql = QStringLiteral(
            "SELECT CAST(round((julianday(InDateTime) - 2440587.5) * 86400) AS INTEGER), AActTemperature, BActTemperature, "
            "CActTemperature, DActTemperature FROM ApparatusRecord WHERE ApparatusID = :id AND InDateTime >= :from "
            "AND InDateTime < :to ORDER BY InDateTime, RecordID LIMIT :n");
        TBindings bounded = range;
        bounded.emplace_back(QStringLiteral(":n"), MaxRows + 1);
        db.Each(sql, bounded, [&](const QSqlQuery& q) {
            if (++rows > MaxRows || q.value(0).isNull())
                return;
            const qint64 t = q.value(0).toLongLong();
            const qint64 start = step > 0 ? t - ((t % step) + step) % step : t;
            const bool fresh = buckets.empty() || buckets.back().start != start || step == 0;
            if (fresh)
                buckets.push_back({start, {}});
            for (int p = 0; p < 4; ++p) {
                TPhase& ph = buckets.back().phases[std::size_t(p)];
                const std::optional<double> v = value(q.value(1 + p));
                if (fresh)
                    ph.first = v;
                ph.last = v;
                if (v) {
                    ph.min = std::min(ph.min.value_or(*v), *v);
                    ph.max = std::max(ph.max.value_or(*v), *v);
                }
            }
        });
    }
    if (rows > MaxRows) {
        status = 413;
        error = QStringLiteral("超过 %1 条读数：请用整分钟的 step 或缩短范围").arg(MaxRows);
        return {};
    }
    std::string out = "[";
    out.reserve(buckets.size() * 256);
    for (const TBucket& b : buckets) {
        if (out.size() > 1)
            out += ',';
        out += "{\"time\":\"" + isoOfWall(b.start) + "\"";
        for (int p = 0; p < 4; ++p) {
            const TPhase& ph = b.phases[std::size_t(p)];
            if (!ph.min)
                continue;
            out += std::string(",\"") + char('A' + p) + "\":{\"min\":";
            appendNumber(out, ph.min);
            out += ",\"max\":";
            appendNumber(out, ph.max);
            out += ",\"first\":";
            appendNumber(out, ph.first);
            out += ",\"last\":";
            appendNumber(out, ph.last);
            out += "}";
        }
        out += "}";
    }
    return out + "]";
}

std::string InstrumentPage(TDatabase& db, int address, const QDateTime& now, int& status)
{
    const qint64 id = address >= 0 && address <= 255 ? LookupEnabledId(db, address) : 0;
    if (id <= 0) {
        status = 404;
        return std::string(PageHead) + "<title>没有此仪表</title></head><body><main>没有启用的仪表 " +
               std::to_string(address) + "</main></body></html>";
    }
    TQueryResult a = SelectApparatusById(db, id);
    a.First();
    const QString name = a.FieldAsString(Column::ApparatusName);
    const double t3 = a.FieldAsFloat(QStringLiteral("T3")), t4 = a.FieldAsFloat(QStringLiteral("T4"));

    // The chart: 24 hours over 960 pixel columns, each phase's lowest and highest per column.
    constexpr double W = 960, H = 320, L = 48, R = 24, T = 18, B = 28;
    const double to = double(wallOf(now)), from = to - 86400;
    const TTrendLevel level = TrendLevelFor((to - from) / (W - L - R));
    std::array<TTrendPoints, 4> series;
    double lo = INFINITY, hi = -INFINITY;
    for (int p = 0; p < 4; ++p) {
        series[std::size_t(p)] = ReadTrend(db, id, p, level, from, to);
        for (std::size_t i = 0; i < series[std::size_t(p)].time.size(); ++i) {
            if (!Shown(series[std::size_t(p)].low[i]) || !Shown(series[std::size_t(p)].high[i]))
                continue;
            lo = std::min(lo, series[std::size_t(p)].low[i]);
            hi = std::max(hi, series[std::size_t(p)].high[i]);
        }
    }
    for (double t : {t3, t4})
        if (t > 0 && std::isfinite(lo)) {
            lo = std::min(lo, t);
            hi = std::max(hi, t);
        }
    if (!std::isfinite(lo)) {
        lo = 0;
        hi = 100;
    }
    const double step = hi - lo > 100 ? 50 : hi - lo > 40 ? 20 : hi - lo > 20 ? 10 : 5;
    lo = std::floor(lo / step) * step;
    hi = std::max(std::ceil(hi / step) * step, lo + step);
    const auto x = [&](double t) { return L + (t - from) / (to - from) * (W - L - R); };
    const auto y = [&](double v) { return T + (hi - v) / (hi - lo) * (H - T - B); };
    const auto n = [](double v) { return QString::number(v, 'f', 1).toStdString(); };
    std::string svg = "<svg viewBox=\"0 0 960 320\" role=\"img\" aria-label=\"24 小时温度\">";
    for (double v = lo; v <= hi + step / 2; v += step)
        svg += "<line x1=\"" + n(L) + "\" x2=\"" + n(W - R) + "\" y1=\"" + n(y(v)) + "\" y2=\"" + n(y(v)) +
               "\" stroke=\"#ddd\"/><text x=\"" + n(L - 4) + "\" y=\"" + n(y(v) + 4) +
               "\" font-size=\"11\" text-anchor=\"end\">" + n(v) + "</text>";
    for (int h = 0; h <= 24; h += 3) {
        const double t = from + h * 3600.0;
        svg += "<text x=\"" + n(x(t)) + "\" y=\"" + n(H - 8) + "\" font-size=\"11\" text-anchor=\"middle\">" +
               QDateTime::fromSecsSinceEpoch(qint64(t), Qt::UTC).toString(QStringLiteral("HH:mm")).toStdString() + "</text>";
    }
    for (const auto& [label, t] : {std::pair{"T3", t3}, std::pair{"T4", t4}})
        if (t > 0)
            svg += "<line x1=\"" + n(L) + "\" x2=\"" + n(W - R) + "\" y1=\"" + n(y(t)) + "\" y2=\"" + n(y(t)) +
                   "\" stroke=\"#e07000\" stroke-dasharray=\"6 4\"/><text x=\"" + n(L + 4) + "\" y=\"" + n(y(t) - 3) +
                   "\" font-size=\"11\" fill=\"#e07000\">" + label + " " + n(t) + "</text>";
    for (int p = 0; p < 4; ++p) {
        std::string high, low;
        const TTrendPoints& s = series[std::size_t(p)];
        for (std::size_t i = 0; i < s.time.size(); ++i)
            if (Shown(s.high[i]) && Shown(s.low[i])) {
                high += n(x(s.time[i])) + "," + n(y(s.high[i])) + " ";
                low += n(x(s.time[i])) + "," + n(y(s.low[i])) + " ";
            }
        if (high.empty())
            continue;
        svg += std::string("<polyline fill=\"none\" stroke=\"") + PhaseColors[p] + "\" stroke-width=\"1.5\" points=\"" + high +
               "\"><title>" + char('A' + p) + "相</title></polyline>";
        if (level != TTrendLevel::Rows)
            svg += std::string("<polyline fill=\"none\" stroke=\"") + PhaseColors[p] +
                   "\" stroke-width=\"0.8\" stroke-opacity=\"0.6\" points=\"" + low + "\"/>";
    }
    svg += "</svg>";
    std::string legend;
    for (int p = 0; p < 4; ++p)
        legend += std::string("<span style=\"color:") + PhaseColors[p] + "\">■</span> " + char('A' + p) + "相 ";
    const std::string title = html(QStringLiteral("%1（地址 %2）").arg(name).arg(address));
    return std::string(PageHead) + "<title>" + title + "</title></head><body><header><a href=\"../\">总览</a> · " + title +
           "</header><main><h2>最近 24 小时</h2><div class=\"wide\">" + svg + "</div>" + "<p>" + legend + "（每格最高与最低）</p><h2>报警记录</h2>" +
           journalTable(SelectJournal(db, address, now.addDays(-1), now)) + "</main></body></html>";
}

std::string AlarmsPage(TDatabase& db, const QDateTime& now)
{
    return std::string(PageHead) + "<title>报警记录</title></head><body><header><a href=\"./\">总览</a> · 报警记录（最近 7 天）"
                                   "</header><main>" +
           journalTable(SelectJournal(db, -2, now.addDays(-7), now)) + "</main></body></html>";
}

} // namespace zeva
