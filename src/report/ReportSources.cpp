// The report's statements for both databases, and the rows they give in wall seconds.
#include "ReportSources.h"

#include "AlarmStatistics.h"
#include "Database.h"
#include "PgConnection.h"

#include <QSqlQuery>
#include <QTimeZone>

#include <cmath>
#include <limits>
#include <set>

namespace zeva {

namespace {

constexpr double NoValue = std::numeric_limits<double>::quiet_NaN();

namespace StationSql {
const QString Instruments =
    QStringLiteral("SELECT ID, ApparatusAddress, ApparatusName, CFlag, T2, T3 FROM Apparatus ORDER BY ApparatusAddress, ID");
// The stored local time read as UTC: wall seconds (julianday spares strftime's text).
const QString Readings = QStringLiteral(
    "SELECT CAST(round((julianday(InDateTime) - 2440587.5) * 86400) AS INTEGER), AActTemperature, BActTemperature, CActTemperature, "
    "DActTemperature FROM ApparatusRecord WHERE ApparatusID = :id AND InDateTime >= :from AND InDateTime < :to "
    "ORDER BY InDateTime, RecordID");
const QString Journal = QStringLiteral(
    "SELECT ApparatusAddress, Kind, Text, RaisedAt, ClearedAt, AckedAt, Priority FROM EventJournal "
    "WHERE (RaisedAt < :to AND (RaisedAt >= :from OR (Kind LIKE 'alarm.%' AND (ClearedAt IS NULL OR ClearedAt >= :from)) "
    "OR ID IN (SELECT max(ID) FROM EventJournal WHERE Kind = 'event.fan' AND RaisedAt < :from GROUP BY ApparatusAddress))) "
    "OR ID = (SELECT min(ID) FROM EventJournal WHERE Kind = 'event.start' AND RaisedAt >= :to) "
    "ORDER BY RaisedAt, ID");
const QString NextRecordedId = QStringLiteral("SELECT min(ApparatusID) AS id FROM ApparatusRecord WHERE ApparatusID > :id");
// Per instrument, so that the index on (ApparatusID, InDateTime) answers it.
const QString LastActivity = QStringLiteral(
    "SELECT CAST(round((julianday(max(x)) - 2440587.5) * 86400) AS INTEGER) AS x FROM (SELECT (SELECT max(InDateTime) FROM ApparatusRecord r WHERE r.ApparatusID = a.ID "
    "AND r.InDateTime < :t) AS x FROM Apparatus a UNION ALL SELECT max(RaisedAt) FROM EventJournal WHERE RaisedAt < :t)");
} // namespace StationSql

namespace CentralSql {
// $1 the station, $2 the time zone the wall times are read in.
const char* const Instruments =
    "SELECT local_id, apparatus_address, apparatus_name, c_flag AND removed_at IS NULL, t2, t3 FROM apparatus "
    "WHERE station = $1 ORDER BY apparatus_address, local_id";
const char* const Readings =
    "SELECT extract(epoch FROM in_date_time AT TIME ZONE $2)::bigint, a_act_temperature, b_act_temperature, "
    "c_act_temperature, d_act_temperature FROM apparatus_record WHERE station = $1 AND apparatus_id = $3 "
    "AND in_date_time >= ($4::timestamp AT TIME ZONE $2) AND in_date_time < ($5::timestamp AT TIME ZONE $2) "
    "ORDER BY in_date_time, local_id";
const char* const Journal =
    "SELECT apparatus_address, kind, text, extract(epoch FROM raised_at AT TIME ZONE $2)::bigint, "
    "extract(epoch FROM cleared_at AT TIME ZONE $2)::bigint, extract(epoch FROM acked_at AT TIME ZONE $2)::bigint, "
    "priority FROM event_journal WHERE station = $1 AND ("
    "(raised_at < ($4::timestamp AT TIME ZONE $2) AND (raised_at >= ($3::timestamp AT TIME ZONE $2) "
    "OR (kind LIKE 'alarm.%' AND (cleared_at IS NULL OR cleared_at >= ($3::timestamp AT TIME ZONE $2))) "
    "OR local_id IN (SELECT max(local_id) FROM event_journal WHERE station = $1 AND kind = 'event.fan' "
    "AND raised_at < ($3::timestamp AT TIME ZONE $2) GROUP BY apparatus_address))) "
    "OR local_id = (SELECT min(local_id) FROM event_journal WHERE station = $1 AND kind = 'event.start' "
    "AND raised_at >= ($4::timestamp AT TIME ZONE $2))) ORDER BY raised_at, local_id";
const char* const LastActivity =
    "SELECT extract(epoch FROM greatest((SELECT max(in_date_time) FROM apparatus_record WHERE station = $1 "
    "AND in_date_time < ($3::timestamp AT TIME ZONE $2)), (SELECT max(raised_at) FROM event_journal WHERE station = $1 "
    "AND raised_at < ($3::timestamp AT TIME ZONE $2))) AT TIME ZONE $2)::bigint";
} // namespace CentralSql

std::optional<double> threshold(const QVariant& v)
{
    bool ok = false;
    const double t = v.toDouble(&ok);
    return ok && t > 0 ? std::optional<double>(t) : std::nullopt;
}

double temperature(const QVariant& v)
{
    bool ok = false;
    const double t = v.toDouble(&ok);
    return v.isNull() || !ok ? NoValue : t;
}

class TStationSource final : public TReportSource {
public:
    explicit TStationSource(TDatabase& db) : m_db(db) {}

    std::vector<TReportInstrument> Instruments() override
    {
        std::vector<TReportInstrument> out;
        std::set<qint64> known;
        m_db.Each(StationSql::Instruments, {}, [&](const QSqlQuery& q) {
            out.push_back({q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toString(), q.value(3).toInt() == 1,
                           threshold(q.value(4)), threshold(q.value(5))});
            known.insert(out.back().id);
        });
        // Readings of an instrument since removed from the registry still count: each ID the
        // readings hold, one index step at a time.
        for (qint64 id = std::numeric_limits<qint64>::min();;) {
            const TQueryResult r = m_db.Query(StationSql::NextRecordedId, {{":id", id}});
            if (!r.RecordCount() || r.Field(QStringLiteral("id")).isNull())
                break;
            id = r.FieldAsInteger(QStringLiteral("id"));
            if (!known.count(id))
                out.push_back({id, -1, QStringLiteral("已删除的仪表（ID %1）").arg(id), false, std::nullopt, std::nullopt});
        }
        return out;
    }
    void Readings(qint64 id, qint64 from, qint64 to, const std::function<void(const TReportReading&)>& each) override
    {
        TReportReading r;
        m_db.Each(StationSql::Readings, {{":id", id}, {":from", WallText(from)}, {":to", WallText(to)}},
                  [&](const QSqlQuery& q) {
                      const QVariant t = q.value(0);
                      if (t.isNull())
                          return; // a time no figure can place
                      r.t = t.toLongLong();
                      for (int p = 0; p < 4; ++p)
                          r.live[std::size_t(p)] = temperature(q.value(1 + p));
                      each(r);
                  });
    }
    std::vector<TReportJournalRow> Journal(qint64 from, qint64 to) override
    {
        std::vector<TReportJournalRow> out;
        const auto wall = [](const QVariant& v) { return v.isNull() ? std::nullopt : WallSeconds(v.toString()); };
        m_db.Each(StationSql::Journal, {{":from", WallText(from)}, {":to", WallText(to)}}, [&](const QSqlQuery& q) {
            const std::optional<qint64> raised = wall(q.value(3));
            if (!raised)
                return;
            TReportJournalRow e;
            e.address = q.value(0).isNull() ? -1 : q.value(0).toInt();
            e.kind = q.value(1).toString();
            e.text = q.value(2).toString();
            e.raised = *raised;
            e.cleared = wall(q.value(4));
            e.acked = wall(q.value(5));
            if (!q.value(6).isNull())
                e.priority = q.value(6).toInt();
            out.push_back(std::move(e));
        });
        return out;
    }
    std::optional<qint64> LastActivityBefore(qint64 t) override
    {
        const TQueryResult r = m_db.Query(StationSql::LastActivity, {{":t", WallText(t)}});
        if (!r.RecordCount() || r.Field(QStringLiteral("x")).isNull())
            return std::nullopt;
        return r.FieldAsInteger(QStringLiteral("x"));
    }

private:
    TDatabase& m_db;
};

class TCentralSource final : public TReportSource {
public:
    TCentralSource(TPgConnection& db, const QString& station)
        : m_db(db), m_station(station.toStdString()), m_zone(QTimeZone::systemTimeZoneId().toStdString())
    {
        if (m_zone.empty())
            m_zone = "UTC";
    }

    std::vector<TReportInstrument> Instruments() override
    {
        const TPgResult r = m_db.Exec(CentralSql::Instruments, {m_station});
        std::vector<TReportInstrument> out;
        for (int i = 0; i < r.Rows(); ++i)
            out.push_back({std::stoll(r.Value(i, 0)), r.IsNull(i, 1) ? -1 : int(std::stoll(r.Value(i, 1))), r.Text(i, 2),
                           r.Value(i, 3) == "t", number(r, i, 4), number(r, i, 5)});
        for (TReportInstrument& in : out) {
            in.t2 = in.t2 && *in.t2 > 0 ? in.t2 : std::nullopt;
            in.t3 = in.t3 && *in.t3 > 0 ? in.t3 : std::nullopt;
        }
        return out;
    }
    void Readings(qint64 id, qint64 from, qint64 to, const std::function<void(const TReportReading&)>& each) override
    {
        const TPgResult r = m_db.Exec(CentralSql::Readings, {m_station, m_zone, std::to_string(id), text(from), text(to)});
        TReportReading reading;
        for (int i = 0; i < r.Rows(); ++i) {
            reading.t = std::stoll(r.Value(i, 0));
            for (int p = 0; p < 4; ++p)
                reading.live[std::size_t(p)] = number(r, i, 1 + p).value_or(NoValue);
            each(reading);
        }
    }
    std::vector<TReportJournalRow> Journal(qint64 from, qint64 to) override
    {
        const TPgResult r = m_db.Exec(CentralSql::Journal, {m_station, m_zone, text(from), text(to)});
        std::vector<TReportJournalRow> out;
        const auto wall = [&](int i, int c) {
            return r.IsNull(i, c) ? std::nullopt : std::optional<qint64>(std::stoll(r.Value(i, c)));
        };
        for (int i = 0; i < r.Rows(); ++i) {
            TReportJournalRow e;
            e.address = r.IsNull(i, 0) ? -1 : int(std::stoll(r.Value(i, 0)));
            e.kind = r.Text(i, 1);
            e.text = r.Text(i, 2);
            e.raised = *wall(i, 3);
            e.cleared = wall(i, 4);
            e.acked = wall(i, 5);
            if (!r.IsNull(i, 6))
                e.priority = int(std::stoll(r.Value(i, 6)));
            out.push_back(std::move(e));
        }
        return out;
    }
    std::optional<qint64> LastActivityBefore(qint64 t) override
    {
        const TPgResult r = m_db.Exec(CentralSql::LastActivity, {m_station, m_zone, text(t)});
        return r.Rows() && !r.IsNull(0, 0) ? std::optional<qint64>(std::stoll(r.Value(0, 0))) : std::nullopt;
    }

private:
    static std::optional<double> number(const TPgResult& r, int row, int column)
    {
        if (r.IsNull(row, column))
            return std::nullopt;
        char* stop = nullptr;
        const std::string v = r.Value(row, column);
        const double d = std::strtod(v.c_str(), &stop);
        return stop != v.c_str() ? std::optional<double>(d) : std::nullopt;
    }
    static std::string text(qint64 wall) { return WallText(wall).toStdString(); }

    TPgConnection& m_db;
    std::string m_station, m_zone;
};

} // namespace

std::unique_ptr<TReportSource> StationReportSource(TDatabase& db)
{
    return std::make_unique<TStationSource>(db);
}

std::unique_ptr<TReportSource> CentralReportSource(TPgConnection& db, const QString& station)
{
    return std::make_unique<TCentralSource>(db, station);
}

} // namespace zeva
