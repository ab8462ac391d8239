// The central schema and its monthly partitions.
#include "CentralSchema.h"

#include <QRegularExpression>

namespace zeva {

namespace {

// Taken inside every transaction that changes the schema, so that stations starting together do
// not race on CREATE ... IF NOT EXISTS (which is not safe against a concurrent create).
constexpr const char* SchemaLock = "SELECT pg_advisory_xact_lock(7420031)";

// The station's columns in snake_case; temperatures numeric, times timestamptz.
const char* const Schema[] = {
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

// Runs `body` in one transaction under the schema lock.
template <typename F> auto inSchemaTransaction(TPgConnection& db, F body)
{
    return InCentralTransaction(db, [&] {
        db.Exec(SchemaLock);
        return body();
    });
}

QDate firstOfMonth(QDate day)
{
    return QDate(day.year(), day.month(), 1);
}

} // namespace

void EnsureCentralSchema(TPgConnection& db)
{
    if (db.Exec(SchemaComplete).Value(0, 0) == "t")
        return;
    inSchemaTransaction(db, [&] {
        for (const char* sql : Schema)
            db.Exec(sql);
        return 0;
    });
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
        return 0;
    });
    return name;
}

QStringList DropPartitionsBefore(TPgConnection& db, QDate day)
{
    const QString keepFrom = MonthPartitionName(firstOfMonth(day));
    static const QRegularExpression monthly(QStringLiteral("^apparatus_record_\\d{4}_\\d{2}$"));
    return inSchemaTransaction(db, [&] {
        QStringList dropped;
        const TPgResult partitions = db.Exec(ListPartitions);
        for (int r = 0; r < partitions.Rows(); ++r) {
            const QString name = partitions.Text(r, 0);
            // The names sort as their months do; only our own monthly partitions go.
            if (monthly.match(name).hasMatch() && name < keepFrom)
                dropped << name;
        }
        for (const QString& name : dropped)
            db.Exec("DROP TABLE " + name.toStdString());
        return dropped;
    });
}

} // namespace zeva
