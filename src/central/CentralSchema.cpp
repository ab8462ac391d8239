// The central schema and its monthly partitions.
#include "CentralSchema.h"

#include "Convert.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace zeva {

namespace {

// Taken inside every transaction that changes the schema, so that stations starting together do
// not race on CREATE ... IF NOT EXISTS (which is not safe against a concurrent create).
constexpr const char* SchemaLock = "SELECT pg_advisory_xact_lock(7420031)";
// Taken by the one filling the hourly sums of older months: two stations would do it twice.
constexpr const char* FillLock = "SELECT pg_try_advisory_xact_lock(7420032)";

const char* const Phases[] = {"a", "b", "c", "d"};

// The sums' triggers, on the readings' table and on each monthly partition (a statement on a
// partition fires only the partition's), each with its function of the same name.
const char* const SumTriggers[] = {"apparatus_record_hour_add", "apparatus_record_hour_deleted", "apparatus_record_hour_updated",
                                   "apparatus_record_hour_truncated"};
#define ZEVA_SUM_TRIGGERS                                                                                              \
    "('apparatus_record_hour_add', 'apparatus_record_hour_deleted', 'apparatus_record_hour_updated',"                   \
    " 'apparatus_record_hour_truncated')"

// The statements that make the sums' triggers on `table`, each with its name.
std::vector<std::pair<std::string, std::string>> sumTriggers(const std::string& table)
{
    const std::string on = " ON " + table + " ";
    return {{SumTriggers[0], "CREATE TRIGGER apparatus_record_hour_add AFTER INSERT" + on +
                                 "REFERENCING NEW TABLE AS new_rows FOR EACH STATEMENT EXECUTE FUNCTION apparatus_record_hour_add()"},
            {SumTriggers[1], "CREATE TRIGGER apparatus_record_hour_deleted AFTER DELETE" + on +
                                 "REFERENCING OLD TABLE AS old_rows FOR EACH STATEMENT EXECUTE FUNCTION apparatus_record_hour_deleted()"},
            {SumTriggers[2], "CREATE TRIGGER apparatus_record_hour_updated AFTER UPDATE" + on +
                                 "REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows FOR EACH STATEMENT"
                                 " EXECUTE FUNCTION apparatus_record_hour_updated()"},
            {SumTriggers[3], "CREATE TRIGGER apparatus_record_hour_truncated AFTER TRUNCATE" + on +
                                 "FOR EACH STATEMENT EXECUTE FUNCTION apparatus_record_hour_truncated()"}};
}

// The phases' columns with a prefix and suffix: "f.a_first, f.b_first, ...".
std::string phaseColumns(const std::string& before, const std::string& after)
{
    std::string out;
    for (const char* p : Phases)
        out += (out.empty() ? "" : ", ") + before + p + after;
    return out;
}

// A reading's hour in UTC.
const std::string HourOf = "date_trunc('hour', in_date_time AT TIME ZONE 'UTC') AT TIME ZONE 'UTC'";

// Adds the hour sums of the readings in `source` (with the readings' columns) to
// apparatus_record_hour. Merged with what is there, so a row counted twice (a back-fill beside the
// trigger, a batch sent again) changes nothing. Hours in UTC: whole hours of every whole-hour zone.
std::string hourSumsSql(const std::string& source)
{
    const std::string key = "station, apparatus_id, hour";
    std::string aggregates, set;
    for (const char* p : Phases) {
        const std::string c = std::string(p) + "_act_temperature";
        for (const char* f : {"min", "max"})
            aggregates += std::string(", ") + f + "(" + c + ") FILTER (WHERE " + c + " BETWEEN " +
                          std::to_string(ShownLowest) + " AND " + std::to_string(ShownHighest) + ") AS " + p + "_" + f;
        set += std::string(", ") + p + "_min = least(t." + p + "_min, excluded." + p + "_min), " + p +
               "_max = greatest(t." + p + "_max, excluded." + p + "_max)";
    }
    // The hour's first row is the earliest (then the lowest local ID), its last the latest: the
    // lowest and highest array of time, ID and readings, in the same pass (a third of the time
    // two sorted passes take; the station's times are whole seconds, which the epoch keeps exact).
    std::string ends;
    for (const char* f : {"min", "max"})
        ends += std::string(", ") + f + "(ARRAY[extract(epoch FROM in_date_time), local_id, " +
                phaseColumns("", "_act_temperature") + "]) AS " + (f == std::string("min") ? "f" : "l");
    for (const std::string e : {"first", "last"}) {
        const std::string order = e == "first" ? "<" : ">";
        for (const std::string& c : {e + "_at", e + "_id", "a_" + e, "b_" + e, "c_" + e, "d_" + e})
            set += ", " + c + " = CASE WHEN (excluded." + e + "_at, excluded." + e + "_id) " + order + " (t." + e +
                   "_at, t." + e + "_id) THEN excluded." + c + " ELSE t." + c + " END";
    }
    const auto unpack = [](const std::string& a) {
        return "to_timestamp(" + a + "[1]), " + a + "[2], " + a + "[3], " + a + "[4], " + a + "[5], " + a + "[6]";
    };
    return "INSERT INTO apparatus_record_hour AS t (" + key + ", a_min, a_max, b_min, b_max, c_min, c_max, d_min, d_max,"
           " first_at, first_id, " + phaseColumns("", "_first") + ", last_at, last_id, " + phaseColumns("", "_last") + ")"
           " SELECT " + key + ", a_min, a_max, b_min, b_max, c_min, c_max, d_min, d_max, " + unpack("f") + ", " + unpack("l") +
           " FROM (SELECT station, apparatus_id, " + HourOf + " AS hour" +
           aggregates + ends + " FROM " + source + " GROUP BY 1, 2, 3) g"
           // in key order: two such statements (a back-fill, a station's batch) never wait on each other in a circle
           " ORDER BY " + key + " ON CONFLICT (" + key + ") DO UPDATE SET " + set.substr(2);
}

// Makes the hour sums of the hours in `hours` (station, apparatus_id, hour) again from their rows:
// what rows were deleted or changed leaves them. Their sums are locked in key order first, as the
// additions lock them.
std::string redoSql(const std::string& hours)
{
    const std::string in = " JOIN " + hours + " k ON h.station = k.station AND h.apparatus_id = k.apparatus_id AND h.hour = k.hour";
    return "PERFORM 1 FROM apparatus_record_hour h" + in + " ORDER BY h.station, h.apparatus_id, h.hour FOR UPDATE OF h;"
           " DELETE FROM apparatus_record_hour h USING " + hours + " k WHERE h.station = k.station"
           " AND h.apparatus_id = k.apparatus_id AND h.hour = k.hour; " +
           hourSumsSql("(SELECT r.* FROM apparatus_record r JOIN " + hours + " k ON r.station = k.station"
                       " AND r.apparatus_id = k.apparatus_id AND r.in_date_time >= k.hour"
                       " AND r.in_date_time < k.hour + interval '1 hour') r");
}

std::string hoursOf(const std::string& rows)
{
    return "SELECT DISTINCT station, apparatus_id, " + HourOf + " AS hour FROM " + rows;
}

// A trigger function over the readings: runs as the owner of the sums (any station's role may
// write readings); its search path is set below to the schema alone (no session's temporary table
// comes before ours).
std::string sumsFunction(const std::string& name, const std::string& body)
{
    return "CREATE OR REPLACE FUNCTION " + name + "() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER AS $$BEGIN " + body +
           "; RETURN NULL; END$$";
}

// The station's columns in snake_case; temperatures numeric, times timestamptz.
const std::vector<std::string> Schema = {
    "CREATE TABLE IF NOT EXISTS station ("
    " station text PRIMARY KEY,"
    " first_seen timestamptz NOT NULL DEFAULT now(),"
    " last_seen timestamptz NOT NULL DEFAULT now())",
    "CREATE TABLE IF NOT EXISTS apparatus ("
    " station text NOT NULL REFERENCES station (station),"
    " local_id bigint NOT NULL,"
    " apparatus_name text, apparatus_address bigint, apparatus_type text, implication text,"
    " c_flag boolean NOT NULL DEFAULT false,"
    " t1 numeric, t2 numeric, t3 numeric, t4 numeric, t5 numeric, t6 numeric, t7 numeric,"
    " tf bigint, run bigint,"
    " a_atone_t numeric, b_atone_t numeric, c_atone_t numeric, d_atone_t numeric,"
    " a_hight_t numeric, b_hight_t numeric, c_hight_t numeric, d_hight_t numeric,"
    " apparatus_bate bigint, com_port text, com_bate bigint, run_time bigint, run_freq bigint,"
    " currently_address text,"
    " updated_at timestamptz NOT NULL DEFAULT now(),"
    " PRIMARY KEY (station, local_id))",
    // Partitioned by month: a retention drops whole partitions. A unique key of a partitioned table
    // must hold the partition key; a station's row keeps its time, so (station, local_id) stays unique.
    "CREATE TABLE IF NOT EXISTS apparatus_record ("
    " station text NOT NULL,"
    " local_id bigint NOT NULL,"
    " apparatus_id bigint NOT NULL,"
    " in_date_time timestamptz NOT NULL,"
    " a_act_temperature numeric, b_act_temperature numeric, c_act_temperature numeric, d_act_temperature numeric,"
    " a_black_temperature numeric, b_black_temperature numeric, c_black_temperature numeric,"
    " d_black_temperature numeric,"
    " UNIQUE (station, local_id, in_date_time))"
    " PARTITION BY RANGE (in_date_time)",
    "CREATE INDEX IF NOT EXISTS apparatus_record_instrument_time"
    " ON apparatus_record (station, apparatus_id, in_date_time)",
    "CREATE INDEX IF NOT EXISTS apparatus_record_station_time ON apparatus_record (station, in_date_time)",
    "CREATE TABLE IF NOT EXISTS apparatus_history ("
    " station text NOT NULL,"
    " local_id bigint NOT NULL,"
    " in_date timestamptz, apparatus_name text, apparatus_address bigint, apparatus_bate bigint,"
    " apparatus_type text, implication text,"
    " t1 numeric, t2 numeric, t3 numeric, t4 numeric, t5 numeric, t6 numeric, t7 numeric,"
    " a_atone_t numeric, b_atone_t numeric, c_atone_t numeric, d_atone_t numeric, tf bigint, run bigint,"
    " UNIQUE (station, local_id))",
    "CREATE INDEX IF NOT EXISTS apparatus_history_station_time ON apparatus_history (station, in_date)",
    "CREATE TABLE IF NOT EXISTS event_journal ("
    " station text NOT NULL,"
    " local_id bigint NOT NULL,"
    " apparatus_id bigint, apparatus_address bigint, kind text NOT NULL, text text,"
    " raised_at timestamptz NOT NULL, cleared_at timestamptz, acked_at timestamptz, acked_by text,"
    " UNIQUE (station, local_id))",
    "CREATE INDEX IF NOT EXISTS event_journal_station_time ON event_journal (station, raised_at)",
    "CREATE INDEX IF NOT EXISTS event_journal_instrument_time ON event_journal (station, apparatus_address, raised_at)",
    // What a forwarder asks at its start: its alarms that may still be cleared or acknowledged.
    "CREATE INDEX IF NOT EXISTS event_journal_open ON event_journal (station, local_id)"
    " WHERE kind LIKE 'alarm.%' AND (cleared_at IS NULL OR acked_at IS NULL)",
    // A registry row the station no longer has is kept, marked.
    "ALTER TABLE apparatus ADD COLUMN IF NOT EXISTS removed_at timestamptz",
    // Who wrote a parameter, from stations that keep it.
    "ALTER TABLE apparatus_history ADD COLUMN IF NOT EXISTS operator text",
    // An alarm's priority (0 紧急 .. 3 低), the value that raised it, chattering, the comment of its
    // acknowledgement and its shelving, from stations that keep them.
    "ALTER TABLE event_journal ADD COLUMN IF NOT EXISTS priority bigint, ADD COLUMN IF NOT EXISTS value numeric,"
    " ADD COLUMN IF NOT EXISTS chatter bigint, ADD COLUMN IF NOT EXISTS ack_comment text,"
    " ADD COLUMN IF NOT EXISTS shelved_until timestamptz, ADD COLUMN IF NOT EXISTS shelved_by text,"
    " ADD COLUMN IF NOT EXISTS shelve_reason text",
    // Which station database forwards under the name: local IDs are its own.
    "ALTER TABLE station ADD COLUMN IF NOT EXISTS database_key bigint",
    // How far each of the station's tables is sent, written in the transaction of the rows it
    // covers: after a lost commit or a restart the station asks here before it sends.
    "CREATE TABLE IF NOT EXISTS forward_position ("
    " station text NOT NULL REFERENCES station (station),"
    " table_name text NOT NULL,"
    " last_id bigint NOT NULL,"
    " updated_at timestamptz NOT NULL DEFAULT now(),"
    " PRIMARY KEY (station, table_name))",
};

// The hour sums come apart from the rest: a role that may not create a trigger still forwards.
const std::vector<std::string> HourSumsSchema = {
    // Each instrument's hours: the lowest and highest shown reading and the first and last row per
    // phase, so that a year in hours reads 8,760 rows instead of half a million. Kept by a trigger
    // for every writer (a station of an older version too); months older than it are back-filled.
    "CREATE TABLE IF NOT EXISTS apparatus_record_hour ("
    " station text NOT NULL, apparatus_id bigint NOT NULL, hour timestamptz NOT NULL,"
    " a_min numeric, a_max numeric, b_min numeric, b_max numeric, c_min numeric, c_max numeric,"
    " d_min numeric, d_max numeric,"
    " first_at timestamptz NOT NULL, first_id bigint NOT NULL,"
    " a_first numeric, b_first numeric, c_first numeric, d_first numeric,"
    " last_at timestamptz NOT NULL, last_id bigint NOT NULL,"
    " a_last numeric, b_last numeric, c_last numeric, d_last numeric,"
    " PRIMARY KEY (station, apparatus_id, hour))",
    // The monthly partitions whose every reading is in the hour sums, and how far a back-fill came.
    "CREATE TABLE IF NOT EXISTS apparatus_record_hour_filled ("
    " partition_name text PRIMARY KEY, partition_oid oid NOT NULL, filled_to timestamptz NOT NULL, complete boolean NOT NULL)",
    sumsFunction("apparatus_record_hour_add", hourSumsSql("new_rows")),
    sumsFunction("apparatus_record_hour_deleted", redoSql("(" + hoursOf("old_rows") + ")")),
    sumsFunction("apparatus_record_hour_updated", redoSql("(" + hoursOf("old_rows") + " UNION " + hoursOf("new_rows") + ")")),
    // A monthly partition's own: its month's sums; the readings' table's: all.
    sumsFunction("apparatus_record_hour_truncated",
                 "IF TG_TABLE_NAME ~ '^apparatus_record_\\d{4}_\\d{2}$' THEN DELETE FROM apparatus_record_hour"
                 " WHERE hour >= to_date(right(TG_TABLE_NAME, 7), 'YYYY_MM')::timestamp AT TIME ZONE 'UTC'"
                 " AND hour < (to_date(right(TG_TABLE_NAME, 7), 'YYYY_MM') + interval '1 month')::timestamp AT TIME ZONE 'UTC';"
                 " ELSE DELETE FROM apparatus_record_hour; END IF"),
    // Made anew when one is missing: whatever was written while it was, every month is filled
    // again. Only those there are dropped (a drop waits for every reader of the table).
    [] {
        std::string creates;
        for (const auto& [name, sql] : sumTriggers("apparatus_record"))
            creates += " " + sql + ";";
        return "DO $$DECLARE t text; BEGIN IF (SELECT count(*) FROM pg_trigger WHERE tgrelid = 'apparatus_record'::regclass"
               " AND tgname IN " ZEVA_SUM_TRIGGERS ") < 4 THEN"
               " FOR t IN SELECT tgname FROM pg_trigger WHERE tgrelid = 'apparatus_record'::regclass AND tgname IN " ZEVA_SUM_TRIGGERS
               " LOOP EXECUTE format('DROP TRIGGER %I ON apparatus_record', t); END LOOP;" + creates +
               " DELETE FROM apparatus_record_hour_filled; END IF;"
               " FOR t IN SELECT proname FROM pg_proc WHERE pronamespace = current_schema()::regnamespace AND proname IN "
               ZEVA_SUM_TRIGGERS " LOOP EXECUTE format('ALTER FUNCTION %I() SET search_path = %I, pg_temp', t, current_schema());"
               " END LOOP;"
               // Owned as the readings are: the stations' role, which makes and marks the partitions,
               // writes them even when an administrator made them.
               " IF (SELECT relowner FROM pg_class WHERE oid = 'apparatus_record'::regclass)"
               " <> (SELECT relowner FROM pg_class WHERE oid = 'apparatus_record_hour'::regclass) THEN"
               " EXECUTE format('ALTER TABLE apparatus_record_hour OWNER TO %1$I; ALTER TABLE apparatus_record_hour_filled OWNER TO %1$I',"
               " (SELECT pg_get_userbyid(relowner) FROM pg_class WHERE oid = 'apparatus_record'::regclass));"
               " FOR t IN SELECT proname FROM pg_proc WHERE pronamespace = current_schema()::regnamespace AND proname IN "
               ZEVA_SUM_TRIGGERS " LOOP EXECUTE format('ALTER FUNCTION %I() OWNER TO %I', t,"
               " (SELECT pg_get_userbyid(relowner) FROM pg_class WHERE oid = 'apparatus_record'::regclass)); END LOOP;"
               " END IF; END$$";
    }(),
};

#define ZEVA_HOUR_SUMS_MADE                                                                                            \
    "to_regclass('apparatus_record_hour') IS NOT NULL AND to_regclass('apparatus_record_hour_filled') IS NOT NULL"      \
    " AND (SELECT count(*) FROM pg_trigger WHERE tgrelid = to_regclass('apparatus_record')"                            \
    " AND tgname IN " ZEVA_SUM_TRIGGERS ") = 4"
const char* const HourSumsComplete = "SELECT " ZEVA_HOUR_SUMS_MADE;
// ... and kept (every trigger firing in an ordinary session: not disabled, not for replicas only)
// and readable by this role.
const char* const HourSumsReadable =
    "SELECT " ZEVA_HOUR_SUMS_MADE " AND (SELECT count(*) FROM pg_trigger WHERE tgrelid = to_regclass('apparatus_record')"
    " AND tgname IN " ZEVA_SUM_TRIGGERS " AND tgenabled IN ('O', 'A')) = 4"
    " AND has_table_privilege(to_regclass('apparatus_record_hour'), 'SELECT')"
    " AND has_table_privilege(to_regclass('apparatus_record_hour_filled'), 'SELECT')";
#undef ZEVA_HOUR_SUMS_MADE

const char* const ListPartitions =
    "SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid"
    " JOIN pg_class p ON p.oid = i.inhparent WHERE p.relname = 'apparatus_record' ORDER BY c.relname";

// Whether every object of the schema is there, asked of the catalog alone: the DDL's IF NOT EXISTS
// still asks for locks on the tables, which a station that froze in the middle of a batch holds.
const char* const SchemaComplete =
    "SELECT to_regclass('station') IS NOT NULL AND to_regclass('apparatus') IS NOT NULL"
    " AND to_regclass('apparatus_record') IS NOT NULL AND to_regclass('apparatus_history') IS NOT NULL"
    " AND to_regclass('event_journal') IS NOT NULL AND to_regclass('forward_position') IS NOT NULL"
    " AND to_regclass('apparatus_record_instrument_time') IS NOT NULL"
    " AND to_regclass('apparatus_record_station_time') IS NOT NULL"
    " AND to_regclass('apparatus_history_station_time') IS NOT NULL"
    " AND to_regclass('event_journal_station_time') IS NOT NULL"
    " AND to_regclass('event_journal_instrument_time') IS NOT NULL AND to_regclass('event_journal_open') IS NOT NULL"
    " AND EXISTS (SELECT 1 FROM pg_attribute WHERE attrelid = to_regclass('apparatus') AND attname = 'removed_at'"
    " AND NOT attisdropped)"
    " AND EXISTS (SELECT 1 FROM pg_attribute WHERE attrelid = to_regclass('station') AND attname = 'database_key'"
    " AND NOT attisdropped)"
    " AND EXISTS (SELECT 1 FROM pg_attribute WHERE attrelid = to_regclass('apparatus_history')"
    " AND attname = 'operator' AND NOT attisdropped)"
    " AND EXISTS (SELECT 1 FROM pg_attribute WHERE attrelid = to_regclass('event_journal')"
    " AND attname = 'shelve_reason' AND NOT attisdropped)";

// Whether the partition `c` (of pg_class) is one of our months: our name, a plain table beside the
// readings' table, bound to exactly the UTC month it names (the bound as this session writes it).
// Any other (sub-partitioned, elsewhere, another range) is not followed by the sums' triggers.
const std::string OurMonth =
    "(c.relname ~ '^apparatus_record_\\d{4}_\\d{2}$' AND c.relkind = 'r'"
    " AND c.relnamespace = (SELECT relnamespace FROM pg_class WHERE oid = 'apparatus_record'::regclass)"
    " AND pg_get_expr(c.relpartbound, c.oid) = format('FOR VALUES FROM (%L) TO (%L)',"
    " to_date(right(c.relname, 7), 'YYYY_MM')::timestamp AT TIME ZONE 'UTC',"
    " (to_date(right(c.relname, 7), 'YYYY_MM') + interval '1 month')::timestamp AT TIME ZONE 'UTC'))";
const std::string Partitions =
    "SELECT c.oid, c.relname, " + OurMonth + " AS ours FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid"
    " WHERE i.inhparent = 'apparatus_record'::regclass";

#define ZEVA_TRIGGERS_OF(partition)                                                                                    \
    "(SELECT count(*) FROM pg_trigger t WHERE t.tgrelid = " partition " AND t.tgname IN " ZEVA_SUM_TRIGGERS ")"
// Our monthly partitions whose readings are not all in the hour sums yet, oldest first (how far it
// came counts only for the same partition with its triggers: one dropped and made again by hand, or
// one whose trigger was dropped, is filled from its start).
const std::string UnfilledPartitions =
    "WITH p AS (" + Partitions + ") SELECT p.oid, p.relname, CASE WHEN f.partition_oid = p.oid AND " ZEVA_TRIGGERS_OF("p.oid") " = 4"
    " THEN extract(epoch FROM f.filled_to)::bigint END"
    " FROM p LEFT JOIN apparatus_record_hour_filled f ON f.partition_name = p.relname"
    " WHERE p.ours AND (f.complete IS NOT TRUE OR f.partition_oid <> p.oid OR " ZEVA_TRIGGERS_OF("p.oid") " < 4)"
    " ORDER BY p.relname LIMIT 1";

// Whether there is a partition not of our months; the oldest and newest of ours; and how many of
// ours from $1 to $2 are wholly in the hour sums (complete, the same partition, its triggers firing).
const std::string CoveredPartitions =
    "WITH p AS (" + Partitions + ") SELECT EXISTS (SELECT 1 FROM p WHERE NOT ours), (SELECT min(relname) FROM p),"
    " (SELECT max(relname) FROM p), (SELECT count(*) FROM p JOIN apparatus_record_hour_filled f"
    " ON f.partition_name = p.relname AND f.partition_oid = p.oid AND f.complete WHERE p.relname BETWEEN $1 AND $2"
    " AND (SELECT count(*) FROM pg_trigger t WHERE t.tgrelid = p.oid AND t.tgname IN " ZEVA_SUM_TRIGGERS
    " AND t.tgenabled IN ('O', 'A')) = 4)";

const char* const MarkFilled =
    "INSERT INTO apparatus_record_hour_filled (partition_name, partition_oid, filled_to, complete)"
    " VALUES ($1, $2::oid, to_timestamp($3::bigint), $4::boolean) ON CONFLICT (partition_name) DO UPDATE"
    " SET partition_oid = excluded.partition_oid, filled_to = excluded.filled_to, complete = excluded.complete";

// The sums' triggers on a monthly partition (by its OID), those missing made.
void ensurePartitionTriggers(TPgConnection& db, const std::string& oid)
{
    const TPgResult there = db.Exec("SELECT $1::oid::regclass::text, t.tgname FROM (SELECT 1) one LEFT JOIN pg_trigger t"
                                    " ON t.tgrelid = $1::oid AND t.tgname IN " ZEVA_SUM_TRIGGERS, {oid});
    std::set<std::string> names;
    for (int r = 0; r < there.Rows(); ++r)
        if (!there.IsNull(r, 1))
            names.insert(there.Value(r, 1));
    for (const auto& [name, sql] : sumTriggers(there.Value(0, 0)))
        if (!names.count(name))
            db.Exec(sql);
}

// The server refused a statement on the hour sums (rights, a missing object, a lock another session
// holds), which leaves the connection as it was; anything else (a lost connection, a time-out) is
// the caller's.
bool refusal(TPgConnection& db, const EPgError& e)
{
    return db.Usable() && !e.TimedOut() && (e.SqlState().rfind("42", 0) == 0 || e.SqlState() == "55P03");
}

// The sums wait for no reader of the readings: a statement that would is left for another time.
constexpr const char* ShortLockWait = "SET LOCAL lock_timeout = '2s'";

// The hour sums' part of a transaction: a refusal undoes that part alone.
template <typename F> void optionalSums(TPgConnection& db, F body)
{
    db.Exec("SAVEPOINT hour_sums");
    try {
        body();
        db.Exec("RELEASE SAVEPOINT hour_sums");
    } catch (const EPgError& e) {
        if (!refusal(db, e))
            throw;
        db.Exec("ROLLBACK TO SAVEPOINT hour_sums");
    }
}

qint64 utcSeconds(QDate day)
{
    return day.startOfDay(QTimeZone::utc()).toSecsSinceEpoch();
}

// The sums of the UTC month that begins on `month`.
void deleteMonthSums(TPgConnection& db, QDate month)
{
    db.Exec("DELETE FROM apparatus_record_hour WHERE hour >= to_timestamp($1::bigint) AND hour < to_timestamp($2::bigint)",
            {std::to_string(utcSeconds(month)), std::to_string(utcSeconds(month.addMonths(1)))});
}

// Runs `body` in one transaction under the schema lock.
template <typename F> auto inSchemaTransaction(TPgConnection& db, F body)
{
    return InCentralTransaction(db, [&] {
        db.Exec(SchemaLock);
        return body();
    });
}

// The month of one of our partitions' names.
QDate monthOf(const std::string& partition)
{
    return QDate(std::stoi(partition.substr(partition.size() - 7, 4)), std::stoi(partition.substr(partition.size() - 2)), 1);
}

QDate firstOfMonth(QDate day)
{
    return QDate(day.year(), day.month(), 1);
}

} // namespace

QString EnsureCentralSchema(TPgConnection& db)
{
    if (db.Exec(SchemaComplete).Value(0, 0) != "t") {
        inSchemaTransaction(db, [&] {
            for (const std::string& sql : Schema)
                db.Exec(sql);
            return 0;
        });
    }
    if (db.Exec(HourSumsComplete).Value(0, 0) == "t")
        return {};
    try {
        inSchemaTransaction(db, [&] {
            db.Exec(ShortLockWait);
            for (const std::string& sql : HourSumsSchema)
                db.Exec(sql);
            return 0;
        });
    } catch (const EPgError& e) {
        // A refusal (rights, a server without what it needs) leaves the readings as they are.
        if (!refusal(db, e))
            throw;
        return QString::fromUtf8(e.what());
    }
    return {};
}

QString MonthPartitionName(QDate day)
{
    return QStringLiteral("apparatus_record_%1_%2").arg(day.year()).arg(day.month(), 2, 10, QLatin1Char('0'));
}

QString EnsureMonthPartition(TPgConnection& db, QDate day)
{
    const QDate from = firstOfMonth(day), to = from.addMonths(1);
    const QString name = MonthPartitionName(day);
    // Months in UTC: a station's local midnight falls inside one of them all the same.
    // Asked first: the create locks the readings' table even when the partition is there.
    if (db.Exec("SELECT to_regclass(" + PgLiteral(name.toStdString()) + ") IS NOT NULL").Value(0, 0) == "t")
        return name;
    const QString sql = QStringLiteral("CREATE TABLE IF NOT EXISTS %1 PARTITION OF apparatus_record"
                                       " FOR VALUES FROM ('%2 00:00:00+00') TO ('%3 00:00:00+00')")
                            .arg(name, from.toString(Qt::ISODate), to.toString(Qt::ISODate));
    inSchemaTransaction(db, [&] {
        db.Exec(sql.toStdString());
        // Empty and under the triggers from its start: every reading of it reaches the hour sums.
        // Sums of the month left by a partition dropped earlier (by hand, by an older version) go.
        if (db.Exec(HourSumsComplete).Value(0, 0) == "t")
            optionalSums(db, [&] {
                deleteMonthSums(db, from);
                const std::string oid = db.Exec("SELECT to_regclass($1)::oid", {name.toStdString()}).Value(0, 0);
                ensurePartitionTriggers(db, oid);
                db.Exec(MarkFilled, {name.toStdString(), oid, std::to_string(utcSeconds(to)), "true"});
            });
        return 0;
    });
    return name;
}

THourFill FillHourSums(TPgConnection& db, std::chrono::seconds& chunk, QString* why)
{
    constexpr qint64 Hour = 3600;
    try {
        return InCentralTransaction(db, [&] {
            if (db.Exec(FillLock).Value(0, 0) != "t")
                return THourFill::Busy;
            const TPgResult next = db.Exec(UnfilledPartitions);
            if (next.Rows() == 0)
                return THourFill::Done;
            const std::string oid = next.Value(0, 0), name = next.Value(0, 1);
            const qint64 monthFrom = utcSeconds(monthOf(name)), monthTo = utcSeconds(monthOf(name).addMonths(1));
            const qint64 from = next.IsNull(0, 2) ? monthFrom : std::clamp(std::stoll(next.Value(0, 2)), monthFrom, monthTo);
            // Whole hours: each hour's sums are made anew from its rows in one chunk.
            const qint64 to = std::min(monthTo, from + std::max(Hour, qint64(chunk.count()) / Hour * Hour));
            const std::vector<TPgValue> range{std::to_string(from), std::to_string(to)};
            const std::string inRange = "hour >= to_timestamp($1::bigint) AND hour < to_timestamp($2::bigint)";
            // A chunk the server gives up on is halved: the station's forwarding waits meanwhile.
            db.Exec("SET LOCAL statement_timeout = '5s'");
            db.Exec(ShortLockWait);
            ensurePartitionTriggers(db, oid);
            db.Exec("SELECT 1 FROM apparatus_record_hour WHERE " + inRange + " ORDER BY station, apparatus_id, hour FOR UPDATE",
                    range);
            db.Exec("DELETE FROM apparatus_record_hour WHERE " + inRange, range);
            db.Exec(hourSumsSql("(SELECT * FROM apparatus_record WHERE in_date_time >= to_timestamp($1::bigint)"
                                " AND in_date_time < to_timestamp($2::bigint)) r"),
                    range);
            db.Exec(MarkFilled, {name, oid, std::to_string(to), to >= monthTo ? "true" : "false"});
            return THourFill::Filled;
        });
    } catch (const EPgError& e) {
        if (e.SqlState() == "55P03" && db.Usable()) // a reader holds the partition: another time
            return THourFill::Busy;
        const bool timedOut = e.SqlState() == "57014"; // canceled by the statement time-out
        if (timedOut && chunk.count() > Hour) {
            chunk = std::chrono::seconds(std::max(Hour, chunk.count() / 2 / Hour * Hour));
            return THourFill::Filled;
        }
        if (!timedOut && !refusal(db, e))
            throw;
        if (why)
            *why = QString::fromUtf8(e.what());
        return THourFill::Failed;
    }
}

std::optional<std::pair<qint64, qint64>> HourSumsSpan(TPgConnection& db, QDate firstMonth, QDate lastMonth)
{
    if (db.Exec(HourSumsReadable).Value(0, 0) != "t")
        return std::nullopt;
    const TPgResult p = db.Exec(CoveredPartitions, {MonthPartitionName(firstMonth).toStdString(), MonthPartitionName(lastMonth).toStdString()});
    if (p.Value(0, 0) != "f" || p.IsNull(0, 1))
        return std::nullopt;
    // No readings outside our partitions: the months asked for are cut to theirs, and each month
    // left needs its own partition, wholly summed.
    const QDate first = std::max(firstOfMonth(firstMonth), monthOf(p.Value(0, 1))),
                last = std::min(firstOfMonth(lastMonth), monthOf(p.Value(0, 2)));
    if (first > last)
        return std::nullopt;
    const qint64 months = (last.year() - first.year()) * 12 + last.month() - first.month() + 1;
    if (first != firstOfMonth(firstMonth) || last != firstOfMonth(lastMonth)) // the count asked of a narrower span
        return HourSumsSpan(db, first, last);
    if (std::stoll(p.Value(0, 3)) != months)
        return std::nullopt;
    return std::pair{utcSeconds(first), utcSeconds(last.addMonths(1))};
}

QStringList DropPartitionsBefore(TPgConnection& db, QDate day)
{
    const QString keepFrom = MonthPartitionName(firstOfMonth(day));
    static const QRegularExpression monthly(QStringLiteral("^apparatus_record_\\d{4}_\\d{2}$"));
    const QStringList dropped = inSchemaTransaction(db, [&] {
        QStringList names;
        const TPgResult partitions = db.Exec(ListPartitions);
        for (int r = 0; r < partitions.Rows(); ++r) {
            const QString name = partitions.Text(r, 0);
            // The names sort as their months do; only our own monthly partitions go.
            if (monthly.match(name).hasMatch() && name < keepFrom)
                names << name;
        }
        for (const QString& name : names)
            db.Exec("DROP TABLE " + name.toStdString());
        return names;
    });
    // The sums of the dropped months go with them (those of someone's own partition stay), after
    // the drop: the readings' table is not held meanwhile, and no sums before the oldest month are read.
    if (!dropped.isEmpty() && db.Exec(HourSumsComplete).Value(0, 0) == "t") {
        InCentralTransaction(db, [&] {
            optionalSums(db, [&] {
                for (const QString& name : dropped) {
                    deleteMonthSums(db, monthOf(name.toStdString()));
                    db.Exec("DELETE FROM apparatus_record_hour_filled WHERE partition_name = $1", {name.toStdString()});
                }
            });
            return 0;
        });
    }
    return dropped;
}

} // namespace zeva
