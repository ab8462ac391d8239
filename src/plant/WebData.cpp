// The web view's reads of the station's database and the pages made of them.
#include "WebData.h"

#include "AlarmStatistics.h"
#include "Convert.h"
#include "Database.h"
#include "PlantTypes.h"
#include "Statements.h"
#include "Trend.h"
#include "WebPages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

#include <array>
#include <functional>
#include <map>
#include <set>

namespace zeva {

namespace {

// A stored local time as ISO 8601 with its offset; null for none.
QJsonValue isoOf(const QVariant& stored)
{
    const QDateTime t = QDateTime::fromString(stored.toString(), DateTimeFormat);
    if (!t.isValid())
        return QJsonValue::Null;
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

std::vector<TJournalLine> journalLines(const TQueryResult& rows)
{
    std::vector<TJournalLine> lines;
    for (const QVariantList& r : rows.rows())
        lines.push_back({r[3].toString(), r[4].toString(), r[5].toString(), r[6].toString(), r[7].toString(),
                         r[8].toString(), r[2].isNull() ? std::nullopt : std::optional<int>(r[2].toInt()),
                         r[16].toString(), r[9].isNull() ? -1 : r[9].toInt()});
    return lines;
}

QString wallText(qint64 wall)
{
    return QDateTime::fromSecsSinceEpoch(wall, Qt::UTC).toString(DateTimeFormat);
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
    error = ReadingsRequestError(from, to, step, status);
    if (!error.isEmpty())
        return {};
    const auto value = [](const QVariant& v) -> std::optional<double> {
        bool ok = false;
        const double d = v.toDouble(&ok);
        return !v.isNull() && ok && Shown(d) ? std::optional<double>(d) : std::nullopt;
    };
    const auto startOf = [&](qint64 t) { return step > 0 ? t - ((t % step) + step) % step : t; };
    const qint64 fromWall = WallOf(from), toWall = WallOf(to);
    // The rows of [a, b) in time order, at most MaxReadingRows of them (false beyond).
    qint64 rows = 0;
    const auto eachRow = [&](qint64 a, qint64 b, const std::function<void(qint64, const QSqlQuery&)>& take) {
        const QString sql = QStringLiteral(
            "SELECT CAST(round((julianday(InDateTime) - 2440587.5) * 86400) AS INTEGER), AActTemperature, BActTemperature, "
            "CActTemperature, DActTemperature FROM ApparatusRecord WHERE ApparatusID = :id AND InDateTime >= :from "
            "AND InDateTime < :to ORDER BY InDateTime, RecordID LIMIT :n");
        db.Each(sql, {{":id", id}, {":from", wallText(a)}, {":to", wallText(b)}, {":n", MaxReadingRows + 1}},
                [&](const QSqlQuery& q) {
                    if (++rows <= MaxReadingRows && !q.value(0).isNull())
                        take(q.value(0).toLongLong(), q);
                });
        return rows <= MaxReadingRows;
    };
    std::vector<TReadingBucket> buckets;
    // Buckets of whole minutes come from the analysis window's sums (lowest and highest) where they
    // lie wholly inside the range, from the rows at its unaligned ends; the first and last reading
    // of each from the index: a year in hours without reading its million rows.
    const int level = step % 3600 == 0 ? 3600 : step % 600 == 0 ? 600 : step % 60 == 0 ? 60 : 0;
    const auto floorTo = [](qint64 t, qint64 unit) { return t - ((t % unit) + unit) % unit; };
    const qint64 innerTo = level > 0 ? floorTo(toWall, level) : 0;
    const qint64 inner = level > 0 ? (floorTo(fromWall, level) == fromWall ? fromWall : floorTo(fromWall, level) + level) : 0;
    bool complete = true;
    if (step > 0 && level > 0 && inner < innerTo) {
        std::map<qint64, TReadingBucket> byStart;
        const auto bucket = [&](qint64 t) -> TReadingBucket& {
            TReadingBucket& b = byStart[startOf(t)];
            b.start = startOf(t);
            return b;
        };
        const TTrendLevel trend = level == 3600 ? TTrendLevel::Hour : level == 600 ? TTrendLevel::TenMinutes : TTrendLevel::Minute;
        // The sums hold ERR as any value: a part that mixes ERR with readings is read from its rows.
        std::set<qint64> mixed;
        for (int p = 0; p < 4; ++p) {
            const TTrendPoints points = ReadTrend(db, id, p, trend, double(inner), double(innerTo) - 1);
            for (std::size_t i = 0; i < points.time.size(); ++i) {
                const qint64 t = qint64(points.time[i]);
                if (t < inner || t >= innerTo)
                    continue;
                TReadingPhase& ph = bucket(t).phases[std::size_t(p)];
                const double low = points.low[i], high = points.high[i];
                if (Shown(low) != Shown(high) || (low < ShownLowest && high > ShownHighest))
                    mixed.insert(t);
                if (Shown(points.low[i]))
                    ph.min = std::min(ph.min.value_or(points.low[i]), points.low[i]);
                if (Shown(points.high[i]))
                    ph.max = std::max(ph.max.value_or(points.high[i]), points.high[i]);
            }
        }
        const auto edge = [&](qint64 t, const QSqlQuery& q) {
            TReadingBucket& b = bucket(t);
            for (int p = 0; p < 4; ++p) {
                TReadingPhase& ph = b.phases[std::size_t(p)];
                const std::optional<double> first = ph.first, last = ph.last;
                AddReading(ph, value(q.value(1 + p)), false);
                ph.first = first;
                ph.last = last;
            }
        };
        complete = eachRow(fromWall, inner, edge) && eachRow(innerTo, toWall, edge);
        for (auto t = mixed.begin(); complete && t != mixed.end(); ++t)
            complete = eachRow(*t, *t + level, edge);
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
        db.Each(ends, {{":first", startOf(fromWall)}, {":step", step}, {":to", toWall}, {":from", fromWall}, {":id", id}},
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
        complete = eachRow(fromWall, toWall, [&](qint64 t, const QSqlQuery& q) {
            const bool fresh = buckets.empty() || buckets.back().start != startOf(t) || step == 0;
            if (fresh)
                buckets.push_back({startOf(t), {}});
            for (int p = 0; p < 4; ++p)
                AddReading(buckets.back().phases[std::size_t(p)], value(q.value(1 + p)), fresh);
        });
    }
    if (!complete) {
        status = 413;
        error = QStringLiteral("超过 %1 条读数：请用整分钟的 step 或缩短范围").arg(MaxReadingRows);
        return {};
    }
    return BucketsJson(buckets);
}

std::string InstrumentPage(TDatabase& db, int address, const QDateTime& now, int& status)
{
    const qint64 id = address >= 0 && address <= 255 ? LookupEnabledId(db, address) : 0;
    if (id <= 0) {
        status = 404;
        return NoInstrumentHtml(address);
    }
    TQueryResult a = SelectApparatusById(db, id);
    a.First();
    // 24 hours over the chart's 888 pixel columns, each phase's lowest and highest per column.
    const double to = double(WallOf(now)), from = to - 86400;
    const TTrendLevel level = TrendLevelFor((to - from) / 888);
    std::array<TTrendPoints, 4> series;
    for (int p = 0; p < 4; ++p)
        series[std::size_t(p)] = ReadTrend(db, id, p, level, from, to);
    return InstrumentHtml(a.FieldAsString(Column::ApparatusName), address,
                          ChartSvg(series, a.FieldAsFloat(QStringLiteral("T3")), a.FieldAsFloat(QStringLiteral("T4")), from,
                                   to, level == TTrendLevel::Rows),
                          JournalTableHtml(journalLines(SelectJournal(db, address, now.addDays(-1), now))));
}

std::string AlarmsPage(TDatabase& db, const QDateTime& now)
{
    return AlarmsHtml(JournalTableHtml(journalLines(SelectJournal(db, -2, now.addDays(-7), now))));
}

} // namespace zeva
