// The central web view's routes and the statements they read the central tables with.
#include "CentralView.h"

#include "AlarmStatistics.h"
#include "CentralSchema.h"
#include "Convert.h"
#include "PgConnection.h"
#include "PlantTypes.h"
#include "WebPages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include <array>
#include <map>
#include <optional>

namespace zeva {

namespace {

// An alarm that stands: raised, not cleared, not shelved now.
#define ZEVA_STANDING "j.kind LIKE 'alarm.%' AND j.cleared_at IS NULL AND (j.shelved_until IS NULL OR j.shelved_until <= now())"

const char* const StationsSql =
    "SELECT s.station,"
    " extract(epoch FROM (SELECT max(f.updated_at) FROM forward_position f WHERE f.station = s.station))::bigint,"
    " (SELECT count(*) FROM apparatus a WHERE a.station = s.station AND a.c_flag AND a.removed_at IS NULL),"
    " (SELECT count(*) FROM event_journal j WHERE j.station = s.station AND " ZEVA_STANDING "),"
    " (SELECT count(*) FROM event_journal j WHERE j.station = s.station AND j.kind LIKE 'alarm.%' AND j.acked_at IS NULL"
    "  AND (j.shelved_until IS NULL OR j.shelved_until <= now())),"
    " (SELECT min(coalesce(j.priority, 3)) FROM event_journal j WHERE j.station = s.station AND " ZEVA_STANDING ")"
    " FROM station s WHERE $1::text IS NULL OR s.station = $1 ORDER BY s.station";

// Each enabled instrument (one per address, as the station polls it) with its newest reading,
// taken from the newest partition down, and its standing alarms.
const char* const InstrumentsSql =
    "SELECT DISTINCT ON (a.station, a.apparatus_address) a.apparatus_address, a.apparatus_name, a.station,"
    " extract(epoch FROM r.in_date_time)::bigint, r.a_act_temperature, r.b_act_temperature, r.c_act_temperature,"
    " r.d_act_temperature, r.a_black_temperature, r.b_black_temperature, r.c_black_temperature, r.d_black_temperature,"
    " (SELECT count(*) FROM event_journal j WHERE j.station = a.station AND j.apparatus_address = a.apparatus_address"
    "  AND " ZEVA_STANDING "),"
    " (SELECT min(coalesce(j.priority, 3)) FROM event_journal j WHERE j.station = a.station"
    "  AND j.apparatus_address = a.apparatus_address AND " ZEVA_STANDING ")"
    " FROM apparatus a LEFT JOIN LATERAL (SELECT * FROM apparatus_record r WHERE r.station = a.station"
    "  AND r.apparatus_id = a.local_id ORDER BY r.in_date_time DESC LIMIT 1) r ON true"
    " WHERE ($1::text IS NULL OR a.station = $1) AND a.c_flag AND a.removed_at IS NULL AND a.apparatus_address IS NOT NULL"
    " ORDER BY a.station, a.apparatus_address, a.local_id";

const char* const ApparatusSql =
    "SELECT local_id, apparatus_name, t3, t4 FROM apparatus WHERE station = $1 AND apparatus_address = $2 AND c_flag"
    " AND removed_at IS NULL ORDER BY local_id LIMIT 1";

// Per bucket the lowest and highest shown reading of each phase, and its first and last row found
// again through the index by their times.
const std::string BucketsSql =
    "WITH g AS (SELECT date_bin(make_interval(secs => $5::double precision), in_date_time, $6::timestamptz) AS b," +
    [] {
        std::string columns;
        for (const char* p : {"a", "b", "c", "d"})
            for (const char* f : {"min", "max"})
                columns += std::string(" ") + f + "(" + p + "_act_temperature) FILTER (WHERE " + p +
                           "_act_temperature BETWEEN " + std::to_string(ShownLowest) + " AND " +
                           std::to_string(ShownHighest) + ") AS " + p + "_" + f + ",";
        return columns;
    }() +
    " min(in_date_time) AS ft, max(in_date_time) AS lt FROM apparatus_record WHERE station = $1 AND apparatus_id = $2"
    " AND in_date_time >= $3::timestamptz AND in_date_time < $4::timestamptz GROUP BY 1)"
    " SELECT extract(epoch FROM g.b)::bigint, g.a_min, g.a_max, g.b_min, g.b_max, g.c_min, g.c_max, g.d_min, g.d_max,"
    " f.a_act_temperature, f.b_act_temperature, f.c_act_temperature, f.d_act_temperature,"
    " l.a_act_temperature, l.b_act_temperature, l.c_act_temperature, l.d_act_temperature FROM g"
    " LEFT JOIN LATERAL (SELECT * FROM apparatus_record r WHERE r.station = $1 AND r.apparatus_id = $2"
    "  AND r.in_date_time = g.ft ORDER BY r.local_id LIMIT 1) f ON true"
    " LEFT JOIN LATERAL (SELECT * FROM apparatus_record r WHERE r.station = $1 AND r.apparatus_id = $2"
    "  AND r.in_date_time = g.lt ORDER BY r.local_id DESC LIMIT 1) l ON true ORDER BY 1";

// The same from the hour sums, for buckets of whole hours that begin on a whole UTC hour. One
// pass, no join: a plan that does not depend on the table's statistics.
const std::string HourBucketsSql = [] {
    std::string columns;
    for (const char* p : {"a", "b", "c", "d"})
        columns += std::string(", min(") + p + "_min), max(" + p + "_max)";
    for (const char* p : {"a", "b", "c", "d"})
        columns += std::string(", (array_agg(") + p + "_first ORDER BY first_at, first_id))[1]";
    for (const char* p : {"a", "b", "c", "d"})
        columns += std::string(", (array_agg(") + p + "_last ORDER BY last_at DESC, last_id DESC))[1]";
    return "SELECT extract(epoch FROM b)::bigint" + columns +
           " FROM (SELECT date_bin(make_interval(secs => $5::double precision), hour, $6::timestamptz) AS b, *"
           " FROM apparatus_record_hour WHERE station = $1 AND apparatus_id = $2 AND hour >= $3::timestamptz"
           " AND hour < $4::timestamptz) h GROUP BY b ORDER BY b";
}();

const char* const RowsSql =
    "SELECT extract(epoch FROM in_date_time)::bigint, a_act_temperature, b_act_temperature, c_act_temperature,"
    " d_act_temperature FROM apparatus_record WHERE station = $1 AND apparatus_id = $2 AND in_date_time >= $3::timestamptz"
    " AND in_date_time < $4::timestamptz ORDER BY in_date_time, local_id LIMIT $5";

// Standing alarms first (most urgent first), then the rest newest first: alarms not yet
// acknowledged and what was raised in the range.
const char* const JournalSql =
    "SELECT j.kind, j.text, extract(epoch FROM j.raised_at)::bigint, extract(epoch FROM j.cleared_at)::bigint,"
    " extract(epoch FROM j.acked_at)::bigint, j.acked_by, j.apparatus_address, a.apparatus_name, j.priority, j.local_id"
    " FROM event_journal j LEFT JOIN apparatus a ON a.station = j.station AND a.local_id = j.apparatus_id"
    " WHERE j.station = $1 AND ($2::bigint IS NULL OR j.apparatus_address = $2) AND ("
    " (j.kind LIKE 'alarm.%' AND (j.cleared_at IS NULL OR j.acked_at IS NULL))"
    " OR (j.raised_at >= $3::timestamptz AND j.raised_at <= $4::timestamptz))"
    " ORDER BY (j.kind LIKE 'alarm.%' AND j.cleared_at IS NULL) DESC,"
    " CASE WHEN j.kind LIKE 'alarm.%' AND j.cleared_at IS NULL THEN coalesce(j.priority, 3) END, j.local_id DESC"
    " LIMIT 10000";

#undef ZEVA_STANDING

// Nothing can be written through this session, and a plan's compilation costs more than a
// year's aggregate here.
const char* const ReadOnlySession = "SET default_transaction_read_only = on; SET jit = off";

std::optional<double> number(const TPgResult& r, int row, int column)
{
    if (r.IsNull(row, column))
        return std::nullopt;
    bool ok = false;
    const double v = QByteArray::fromStdString(r.Value(row, column)).toDouble(&ok); // not strtod: the locale's comma
    return ok ? std::optional<double>(v) : std::nullopt;
}

std::optional<double> reading(const TPgResult& r, int row, int column)
{
    const std::optional<double> v = number(r, row, column);
    return v && Shown(*v) ? v : std::nullopt;
}

std::optional<qint64> instant(const TPgResult& r, int row, int column)
{
    if (r.IsNull(row, column))
        return std::nullopt;
    return std::stoll(r.Value(row, column));
}

std::string utcText(const QDateTime& t)
{
    return t.toUTC().toString(Qt::ISODate).toStdString();
}

QString localText(std::optional<qint64> t)
{
    return t ? QDateTime::fromSecsSinceEpoch(*t).toString(DateTimeFormat) : QString();
}

QJsonValue isoValue(std::optional<qint64> t)
{
    return t ? QJsonValue(QString::fromStdString(IsoOfInstant(*t))) : QJsonValue(QJsonValue::Null);
}

// A tile of the overview from a row of InstrumentsSql.
QJsonObject tileOf(const TPgResult& r, int row, qint64 now, qint64 staleSeconds)
{
    const std::optional<qint64> time = instant(r, row, 3);
    QJsonObject live, black;
    for (int p = 0; p < 4; ++p) {
        const QString name(QChar(u'A' + p));
        const auto json = [](std::optional<double> v) { return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null); };
        live.insert(name, json(reading(r, row, 4 + p)));
        black.insert(name, json(reading(r, row, 8 + p)));
    }
    const int standing = int(number(r, row, 12).value_or(0));
    return QJsonObject{{"address", int(number(r, row, 0).value_or(0))},
                       {"name", r.Text(row, 1)},
                       {"time", isoValue(time)},
                       {"health", !time ? QStringLiteral("无数据")
                                        : now - *time > staleSeconds ? QStringLiteral("无新数据") : QStringLiteral("正常")},
                       {"live", live},
                       {"blackbox", black},
                       {"alarms", standing},
                       {"priority", standing > 0 ? int(number(r, row, 13).value_or(3)) : -1}};
}

std::string compact(const QJsonValue& v)
{
    return (v.isArray() ? QJsonDocument(v.toArray()) : QJsonDocument(v.toObject())).toJson(QJsonDocument::Compact).toStdString();
}

QString stationPath(const QString& name)
{
    return QStringLiteral("/station/") + QString::fromLatin1(QUrl::toPercentEncoding(name)) + QLatin1Char('/');
}

} // namespace

TCentralView::TCentralView(TConfig config, std::function<void(const QString&)> report)
    : m_config(std::move(config)), m_report(std::move(report))
{
}

TCentralView::~TCentralView()
{
    Stop();
}

TPgConnection& TCentralView::database(std::unique_ptr<TPgConnection>& db)
{
    if (db && !db->Usable())
        db.reset();
    if (!db) {
        TPgLimits limits;
        limits.connect = m_config.connect;
        limits.statement = m_config.statement;
        limits.stopAsked = [this] {
            std::lock_guard lock(m_mutex);
            return m_stop;
        };
        db = std::make_unique<TPgConnection>(m_config.params, limits);
        db->Exec(ReadOnlySession);
    }
    return *db;
}

TPgConnection& TCentralView::connection()
{
    std::unique_ptr<TPgConnection>* slot = nullptr;
    {
        std::lock_guard lock(m_connectionsMutex);
        slot = &m_connections[std::this_thread::get_id()];
    }
    return database(*slot);
}

TWebResponse TCentralView::Handle(const TWebRequest& request)
{
    // A connection the server ended while it was idle (a restart) is made again once.
    for (int attempt = 0;; ++attempt) {
        try {
            return handle(request);
        } catch (const EPgStopped&) {
            return JsonError(503, QStringLiteral("正在停止"));
        } catch (const EPgError& e) {
            bool lost = true;
            {
                std::lock_guard lock(m_connectionsMutex);
                const auto it = m_connections.find(std::this_thread::get_id());
                lost = it == m_connections.end() || !it->second || !it->second->Usable();
            }
            if (attempt > 0 || e.TimedOut() || !lost)
                return JsonError(503, QStringLiteral("中心库：") + QString::fromUtf8(e.what()));
        } catch (const EDatabaseError& e) {
            return JsonError(503, QStringLiteral("中心库：") + QString::fromUtf8(e.what()));
        }
    }
}

TWebResponse TCentralView::handle(const TWebRequest& request)
{
    static const QRegularExpression stationRoute(QStringLiteral("^/station/([^/]+)(/.*)?$"));
    const QRegularExpressionMatch m = stationRoute.match(QString::fromStdString(request.path));
    const std::string rest = m.hasMatch() ? m.captured(2).toStdString() : std::string();
    const bool html = request.path == "/" || request.path == "/index.html" ||
                      (m.hasMatch() && (rest.empty() || rest == "/" || rest == "/alarms" || rest.rfind("/instrument/", 0) == 0));
    if (std::optional<TWebResponse> r = WebGate(request, m_config.token, html))
        return *r;
    if (request.path == "/" || request.path == "/index.html")
        return HtmlAnswer(200, stationsPage());
    if (request.path == "/metrics")
        return MetricsAnswer(metrics());
    if (request.path == "/api/stations") {
        const TPgResult s = connection().Exec(StationsSql, {std::nullopt});
        QJsonArray a;
        for (int i = 0; i < s.Rows(); ++i)
            a.append(QJsonObject{{"station", s.Text(i, 0)},
                                 {"seen", isoValue(instant(s, i, 1))},
                                 {"instruments", int(number(s, i, 2).value_or(0))},
                                 {"alarms", int(number(s, i, 3).value_or(0))},
                                 {"unacknowledged", int(number(s, i, 4).value_or(0))}});
        return JsonAnswer(200, compact(a));
    }
    if (m.hasMatch()) {
        const QString name = QUrl::fromPercentEncoding(m.captured(1).toUtf8());
        if (name.contains(QChar(0))) // the database's text ends there: another station's name
            return JsonError(404, QStringLiteral("没有此厂站"));
        if (rest.empty()) {
            // The pages' links are relative to the station's folder.
            TWebResponse r;
            r.status = 301;
            r.headers.emplace_back("Location", stationPath(name).toStdString());
            return r;
        }
        return station(name, rest.substr(1), request);
    }
    return JsonError(404, QStringLiteral("没有 %1").arg(QString::fromStdString(request.path).toHtmlEscaped()));
}

TWebResponse TCentralView::station(const QString& name, const std::string& rest, const TWebRequest& request)
{
    TPgConnection& db = connection();
    const TPgResult s = db.Exec(StationsSql, {name.toStdString()});
    if (s.Rows() == 0)
        return JsonError(404, QStringLiteral("没有厂站 %1").arg(name.toHtmlEscaped()));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const TRangeQuery range = RangeQuery(request.query, QDateTime::currentDateTime());
    static const QRegularExpression instrumentPage(QStringLiteral("^instrument/(\\d{1,9})$"));
    static const QRegularExpression readings(QStringLiteral("^api/instrument/(\\d{1,9})/readings$"));
    const QRegularExpressionMatch page = instrumentPage.match(QString::fromStdString(rest)),
                                  api = readings.match(QString::fromStdString(rest));
    const auto instruments = [&] {
        const TPgResult r = db.Exec(InstrumentsSql, {name.toStdString()});
        QJsonArray a;
        for (int i = 0; i < r.Rows(); ++i)
            a.append(tileOf(r, i, now, m_config.staleSeconds));
        return compact(a);
    };
    // The journal of the station or of one instrument, as lines of the page or as the API's rows.
    const auto journal = [&](std::optional<int> address, const QDateTime& from, const QDateTime& to) {
        return db.Exec(JournalSql, {name.toStdString(), address ? std::optional(std::to_string(*address)) : std::nullopt,
                                    utcText(from), utcText(to)});
    };
    const auto lines = [](const TPgResult& r) {
        std::vector<TJournalLine> l;
        for (int i = 0; i < r.Rows(); ++i)
            l.push_back({r.Text(i, 0), r.Text(i, 1), localText(instant(r, i, 2)), localText(instant(r, i, 3)),
                         localText(instant(r, i, 4)), r.Text(i, 5),
                         r.IsNull(i, 6) ? std::nullopt : std::optional<int>(int(*number(r, i, 6))), r.Text(i, 7),
                         r.IsNull(i, 8) ? -1 : int(*number(r, i, 8))});
        return l;
    };
    // The instrument polled at `address`: its local ID, name, T3 and T4.
    const auto apparatus = [&](int address) { return db.Exec(ApparatusSql, {name.toStdString(), std::to_string(address)}); };
    // Per bucket of `step` seconds (0: each row), aligned as the station's own view aligns them.
    const auto buckets = [&](const std::string& id, const QDateTime& from, const QDateTime& to, qint64 step, int& status) {
        std::vector<TReadingBucket> out;
        if (step == 0) {
            const TPgResult r = db.Exec(RowsSql, {name.toStdString(), id, utcText(from), utcText(to), std::to_string(MaxReadingRows + 1)});
            if (r.Rows() > MaxReadingRows) {
                status = 413;
                return out;
            }
            for (int i = 0; i < r.Rows(); ++i) {
                TReadingBucket& b = out.emplace_back();
                b.start = WallOfInstant(*instant(r, i, 0));
                for (int p = 0; p < 4; ++p)
                    AddReading(b.phases[std::size_t(p)], reading(r, i, 1 + p), true);
            }
            return out;
        }
        const qint64 wall = WallOf(from), first = wall - ((wall % step) + step) % step;
        const QDateTime origin(QDateTime::fromSecsSinceEpoch(first, Qt::UTC).date(),
                               QDateTime::fromSecsSinceEpoch(first, Qt::UTC).time(), Qt::LocalTime);
        // Parts in time order, each giving a bucket only where it holds rows: the first part with a
        // bucket gives its first reading, the last its last.
        std::map<qint64, TReadingBucket> byStart;
        const auto take = [&](const char* sql, qint64 partFrom, qint64 partTo) {
            if (partFrom >= partTo)
                return;
            const TPgResult r = db.Exec(sql, {name.toStdString(), id, utcText(QDateTime::fromSecsSinceEpoch(partFrom, Qt::UTC)),
                                              utcText(QDateTime::fromSecsSinceEpoch(partTo, Qt::UTC)), std::to_string(step),
                                              utcText(origin)});
            for (int i = 0; i < r.Rows(); ++i) {
                const auto [at, fresh] = byStart.try_emplace(*instant(r, i, 0));
                TReadingBucket& b = at->second;
                b.start = WallOfInstant(at->first);
                for (int p = 0; p < 4; ++p) {
                    TReadingPhase& ph = b.phases[std::size_t(p)];
                    const std::optional<double> low = number(r, i, 1 + 2 * p), high = number(r, i, 2 + 2 * p);
                    ph.min = ph.min && low ? std::min(*ph.min, *low) : ph.min ? ph.min : low;
                    ph.max = ph.max && high ? std::max(*ph.max, *high) : ph.max ? ph.max : high;
                    if (fresh)
                        ph.first = reading(r, i, 9 + p);
                    ph.last = reading(r, i, 13 + p);
                }
            }
        };
        // Buckets of whole hours from whole UTC hours: the hours wholly inside the range from the
        // hour sums (when they hold every reading of those months), its unaligned ends from the rows.
        const qint64 fromUtc = from.toSecsSinceEpoch(), toUtc = to.toSecsSinceEpoch();
        qint64 inner = fromUtc + ((3600 - fromUtc % 3600) % 3600), innerTo = toUtc - ((toUtc % 3600) + 3600) % 3600;
        const auto month = [](qint64 t) { return QDateTime::fromSecsSinceEpoch(t, Qt::UTC).date(); };
        std::optional<std::pair<qint64, qint64>> sums;
        if (step % 3600 == 0 && origin.toSecsSinceEpoch() % 3600 == 0 && inner < innerTo)
            sums = HourSumsSpan(db, month(inner), month(innerTo - 1));
        if (sums && std::max(inner, sums->first) < std::min(innerTo, sums->second)) {
            inner = std::max(inner, sums->first);
            innerTo = std::min(innerTo, sums->second);
            take(BucketsSql.c_str(), fromUtc, inner);
            take(HourBucketsSql.c_str(), inner, innerTo);
            take(BucketsSql.c_str(), innerTo, toUtc);
        } else {
            take(BucketsSql.c_str(), fromUtc, toUtc);
        }
        for (auto& [start, b] : byStart)
            out.push_back(b);
        return out;
    };

    if (rest.empty() || rest == "index.html") {
        const std::string initial =
            compact(QJsonObject{{"station", name}, {"seen", localText(instant(s, 0, 1))}});
        return HtmlAnswer(200, OverviewHtml("{\"station\":" + initial + ",\"instruments\":" + instruments() + "}",
                                            QStringLiteral("/")));
    }
    if (rest == "events") {
        TWebResponse r;
        r.contentType = "text/event-stream; charset=utf-8";
        r.stream = true;
        r.topic = name.toStdString();
        r.body = "retry: 3000\n\n";
        return r;
    }
    if (rest == "api/instruments")
        return JsonAnswer(200, instruments());
    if (rest == "alarms")
        return HtmlAnswer(200, AlarmsHtml(JournalTableHtml(lines(journal(std::nullopt, QDateTime::currentDateTime().addDays(-7),
                                                                        QDateTime::currentDateTime())))));
    if (rest == "api/alarms") {
        if (!range.from.isValid() || !range.to.isValid() || range.to < range.from)
            return JsonError(400, QStringLiteral("from、to 须为 ISO 8601 时间，from 不晚于 to"));
        const TPgResult r = journal(std::nullopt, range.from, range.to);
        QJsonArray a;
        for (int i = 0; i < r.Rows(); ++i) {
            const QJsonValue text = r.IsNull(i, 5) ? QJsonValue(QJsonValue::Null) : QJsonValue(r.Text(i, 5));
            a.append(QJsonObject{{"id", qint64(*number(r, i, 9))},
                                 {"address", r.IsNull(i, 6) ? QJsonValue(QJsonValue::Null) : QJsonValue(int(*number(r, i, 6)))},
                                 {"name", r.Text(i, 7)},
                                 {"kind", r.Text(i, 0)},
                                 {"text", r.Text(i, 1)},
                                 {"raised", isoValue(instant(r, i, 2))},
                                 {"cleared", isoValue(instant(r, i, 3))},
                                 {"acked", isoValue(instant(r, i, 4))},
                                 {"by", text},
                                 {"priority", r.IsNull(i, 8) ? QJsonValue(QJsonValue::Null)
                                                             : QJsonValue(PriorityText(int(*number(r, i, 8))))}});
        }
        return JsonAnswer(200, compact(a));
    }
    if (page.hasMatch()) {
        const int address = page.captured(1).toInt();
        const TPgResult a = apparatus(address);
        if (a.Rows() == 0)
            return HtmlAnswer(404, NoInstrumentHtml(address));
        // 24 hours over the chart's 888 pixel columns.
        const QDateTime to = QDateTime::currentDateTime(), from = to.addDays(-1);
        int status = 200;
        std::array<TTrendPoints, 4> series;
        for (const TReadingBucket& b : buckets(a.Value(0, 0), from, to, 98, status))
            for (int p = 0; p < 4; ++p)
                if (const TReadingPhase& ph = b.phases[std::size_t(p)]; ph.min && ph.max) {
                    series[std::size_t(p)].time.push_back(double(b.start));
                    series[std::size_t(p)].low.push_back(*ph.min);
                    series[std::size_t(p)].high.push_back(*ph.max);
                }
        const std::string chart = ChartSvg(series, number(a, 0, 2).value_or(0), number(a, 0, 3).value_or(0),
                                           double(WallOf(from)), double(WallOf(to)), false);
        return HtmlAnswer(200, InstrumentHtml(a.Text(0, 1), address, chart,
                                              JournalTableHtml(lines(journal(address, from, to)))));
    }
    if (api.hasMatch()) {
        const int address = api.captured(1).toInt();
        const TPgResult a = apparatus(address);
        if (a.Rows() == 0)
            return JsonError(404, QStringLiteral("没有启用的仪表 %1").arg(address));
        int status = 200;
        if (const QString error = ReadingsRequestError(range.from, range.to, range.step, status); !error.isEmpty())
            return JsonError(status, error);
        const std::vector<TReadingBucket> b = buckets(a.Value(0, 0), range.from, range.to, range.step, status);
        if (status != 200)
            return JsonError(status, QStringLiteral("超过 %1 条读数：请用 step 或缩短范围").arg(MaxReadingRows));
        return JsonAnswer(200, BucketsJson(b));
    }
    return JsonError(404, QStringLiteral("没有 %1").arg(QString::fromStdString(rest).toHtmlEscaped()));
}

std::string TCentralView::stationsPage()
{
    const TPgResult s = connection().Exec(StationsSql, {std::nullopt});
    const auto html = [](const QString& t) { return t.toHtmlEscaped().toStdString(); };
    std::string rows;
    for (int i = 0; i < s.Rows(); ++i) {
        const int alarms = int(number(s, i, 3).value_or(0)), priority = int(number(s, i, 5).value_or(3));
        rows += "<tr" + (alarms > 0 && priority < 3 ? " class=\"p" + std::to_string(priority) + "\"" : std::string()) +
                "><td><a href=\"" + html(stationPath(s.Text(i, 0))) + "\">" + html(s.Text(i, 0)) + "</a></td><td>" +
                std::to_string(int(number(s, i, 2).value_or(0))) + "</td><td>" + std::to_string(alarms) + "</td><td>" +
                std::to_string(int(number(s, i, 4).value_or(0))) + "</td><td>" + html(localText(instant(s, i, 1))) +
                "</td></tr>";
    }
    return std::string(PageHead) +
           "<title>厂站列表</title></head><body><header>厂站列表</header><main><div class=\"wide\"><table><tr><th>厂站</th>"
           "<th>仪表</th><th>报警</th><th>未确认</th><th>最后上报</th></tr>" +
           rows + "</table></div></main></body></html>";
}

std::string TCentralView::metrics()
{
    TPgConnection& db = connection();
    const TPgResult r = db.Exec(InstrumentsSql, {std::nullopt});
    const TPgResult s = db.Exec(StationsSql, {std::nullopt});
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    std::string m;
    const auto family = [&](const char* name, const char* type, const char* help) {
        m += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    const auto labels = [&](int i) {
        return "station=\"" + PromLabel(r.Text(i, 2)) + "\",address=\"" + r.Value(i, 0) + "\",name=\"" + PromLabel(r.Text(i, 1)) + "\"";
    };
    family("zeva_temperature_celsius", "gauge", "The newest stored reading of each phase (ERR left out).");
    for (int i = 0; i < r.Rows(); ++i)
        for (int p = 0; p < 8; ++p)
            if (const std::optional<double> v = reading(r, i, 4 + p))
                m += "zeva_temperature_celsius{" + labels(i) + ",phase=\"" + char('A' + p % 4) + "\",kind=\"" +
                     (p < 4 ? "live" : "blackbox") + "\"} " + QString::number(*v).toStdString() + "\n";
    family("zeva_reading_age_seconds", "gauge", "Seconds since the newest stored reading.");
    for (int i = 0; i < r.Rows(); ++i)
        if (const std::optional<qint64> t = instant(r, i, 3))
            m += "zeva_reading_age_seconds{" + labels(i) + "} " + std::to_string(std::max<qint64>(0, now - *t)) + "\n";
    const auto perStation = [&](const char* name, const char* help, int column) {
        family(name, "gauge", help);
        for (int i = 0; i < s.Rows(); ++i)
            if (!s.IsNull(i, column))
                m += std::string(name) + "{station=\"" + PromLabel(s.Text(i, 0)) + "\"} " + s.Value(i, column) + "\n";
    };
    perStation("zeva_alarms_standing", "Alarms raised and not cleared (shelved ones left out).", 3);
    perStation("zeva_alarms_unacknowledged", "Alarms not acknowledged (shelved ones left out).", 4);
    perStation("zeva_station_forwarded_timestamp_seconds", "When the station last forwarded rows.", 1);
    return m;
}

void TCentralView::Follow(TWebServer& server)
{
    m_follower = std::thread([this, &server] { follow(server); });
}

void TCentralView::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_follower.joinable())
        m_follower.join();
}

void TCentralView::follow(TWebServer& server)
{
    std::unique_ptr<TPgConnection> db;
    std::map<std::string, std::map<int, std::string>> sent; // per station, per address (-1: the station's line)
    bool failing = false;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(m_config.followMs), [this] { return m_stop; });
            if (m_stop)
                return;
        }
        std::map<std::string, std::map<int, std::string>> now;
        try {
            for (const std::string& station : server.StreamTopics()) {
                if (station.empty())
                    continue;
                const TPgResult r = database(db).Exec(InstrumentsSql, {station});
                std::map<int, std::string>& shown = now[station];
                for (int i = 0; i < r.Rows(); ++i) {
                    const QJsonObject tile = tileOf(r, i, QDateTime::currentSecsSinceEpoch(), m_config.staleSeconds);
                    const int address = tile.value(QStringLiteral("address")).toInt();
                    shown[address] = compact(tile);
                    if (sent[station][address] != shown[address])
                        server.Broadcast("event: instrument\ndata: " + shown[address] + "\n\n", station);
                }
                const TPgResult s = db->Exec(StationsSql, {station});
                shown[-1] = s.Rows() > 0 ? localText(instant(s, 0, 1)).toStdString() : std::string();
                if (s.Rows() > 0 && sent[station][-1] != shown[-1])
                    server.Broadcast("event: station\ndata: " +
                                         compact(QJsonObject{{"station", QString::fromStdString(station)},
                                                             {"seen", localText(instant(s, 0, 1))}}) +
                                         "\n\n",
                                     station);
            }
            sent = std::move(now);
            if (failing && m_report)
                m_report(QStringLiteral("Web：中心库又可读"));
            failing = false;
        } catch (const EPgStopped&) {
            return;
        } catch (const std::exception& e) {
            const QString why = QStringLiteral("中心库无法读取：") + QString::fromUtf8(e.what()).section(QLatin1Char('\n'), 0, 0);
            if (!failing && m_report)
                m_report(QStringLiteral("Web：") + why);
            failing = true;
            // The open pages say that what they show may be old; all is sent again once it can be read.
            for (const std::string& station : server.StreamTopics())
                if (!station.empty())
                    server.Broadcast("event: station\ndata: " +
                                         compact(QJsonObject{{"station", QString::fromStdString(station)}, {"error", why}}) +
                                         "\n\n",
                                     station);
            sent.clear();
        }
    }
}

} // namespace zeva
