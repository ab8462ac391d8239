// The central schema and how to reach the central database.
#include "CentralSchema.h"

#include "Database.h"
#include "Settings.h"

#include <QSysInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <QDateTime>

#include <array>
#include <cmath>
#include <stdexcept>

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
    // Which station database forwards under the name: local IDs are its own.
    "ALTER TABLE station ADD COLUMN IF NOT EXISTS database_key bigint",
};

// How a station's column becomes a central one.
enum class TValue { Text, Integer, Numeric, Flag, Time, RequiredTime };
struct TColumn {
    const char* local;
    const char* central;
    TValue value;
};

// The registry, the parameter writes and the journal, column by column (the readings travel as
// arrays, see InsertRecordsSql).
const TColumn ApparatusColumns[] = {
    {"ID", "local_id", TValue::Integer}, {"ApparatusName", "apparatus_name", TValue::Text},
    {"ApparatusAddress", "apparatus_address", TValue::Integer}, {"ApparatusType", "apparatus_type", TValue::Text},
    {"Implication", "implication", TValue::Text}, {"CFlag", "c_flag", TValue::Flag},
    {"T1", "t1", TValue::Numeric}, {"T2", "t2", TValue::Numeric}, {"T3", "t3", TValue::Numeric},
    {"T4", "t4", TValue::Numeric}, {"T5", "t5", TValue::Numeric}, {"T6", "t6", TValue::Numeric},
    {"T7", "t7", TValue::Numeric}, {"TF", "tf", TValue::Integer}, {"RUN", "run", TValue::Integer},
    {"AAtoneT", "a_atone_t", TValue::Numeric}, {"BAtoneT", "b_atone_t", TValue::Numeric},
    {"CAtoneT", "c_atone_t", TValue::Numeric}, {"DAtoneT", "d_atone_t", TValue::Numeric},
    {"AHightT", "a_hight_t", TValue::Numeric}, {"BHightT", "b_hight_t", TValue::Numeric},
    {"CHightT", "c_hight_t", TValue::Numeric}, {"DHightT", "d_hight_t", TValue::Numeric},
    {"ApparatusBate", "apparatus_bate", TValue::Integer}, {"ComPort", "com_port", TValue::Text},
    {"ComBate", "com_bate", TValue::Integer}, {"RunTime", "run_time", TValue::Integer},
    {"RunFreq", "run_freq", TValue::Integer}, {"CurrentlyAddress", "currently_address", TValue::Text},
};
const TColumn HistoryColumns[] = {
    {"HistoryID", "local_id", TValue::Integer}, {"InDate", "in_date", TValue::Time},
    {"ApparatusName", "apparatus_name", TValue::Text}, {"ApparatusAddress", "apparatus_address", TValue::Integer},
    {"ApparatusBate", "apparatus_bate", TValue::Integer}, {"ApparatusType", "apparatus_type", TValue::Text},
    {"Implication", "implication", TValue::Text},
    {"T1", "t1", TValue::Numeric}, {"T2", "t2", TValue::Numeric}, {"T3", "t3", TValue::Numeric},
    {"T4", "t4", TValue::Numeric}, {"T5", "t5", TValue::Numeric}, {"T6", "t6", TValue::Numeric},
    {"T7", "t7", TValue::Numeric}, {"AAtoneT", "a_atone_t", TValue::Numeric}, {"BAtoneT", "b_atone_t", TValue::Numeric},
    {"CAtoneT", "c_atone_t", TValue::Numeric}, {"DAtoneT", "d_atone_t", TValue::Numeric},
    {"TF", "tf", TValue::Integer}, {"RUN", "run", TValue::Integer},
};
const TColumn JournalColumns[] = {
    {"ID", "local_id", TValue::Integer}, {"ApparatusID", "apparatus_id", TValue::Integer},
    {"ApparatusAddress", "apparatus_address", TValue::Integer}, {"Kind", "kind", TValue::Text},
    {"Text", "text", TValue::Text}, {"RaisedAt", "raised_at", TValue::RequiredTime},
    {"ClearedAt", "cleared_at", TValue::Time}, {"AckedAt", "acked_at", TValue::Time},
    {"AckedBy", "acked_by", TValue::Text},
};

const char* const MarkRemovedApparatusSql =
    "UPDATE apparatus SET removed_at = now(), updated_at = now()"
    " WHERE station = ? AND removed_at IS NULL AND NOT (local_id = ANY (?::bigint[]))";
const char* const SelectOpenJournalSql =
    "SELECT local_id FROM event_journal"
    " WHERE station = ? AND kind LIKE 'alarm.%' AND (cleared_at IS NULL OR acked_at IS NULL) ORDER BY local_id";

const char* const UpsertStationSql =
    "INSERT INTO station (station, database_key) VALUES (?, ?) ON CONFLICT (station) DO UPDATE"
    " SET last_seen = now(), database_key = coalesce(station.database_key, excluded.database_key)"
    " RETURNING database_key";

// One statement per batch, whatever its size: the columns travel as arrays, times in UTC.
const char* const InsertRecordsSql =
    "INSERT INTO apparatus_record (station, local_id, apparatus_id, in_date_time,"
    " a_act_temperature, b_act_temperature, c_act_temperature, d_act_temperature,"
    " a_black_temperature, b_black_temperature, c_black_temperature, d_black_temperature)"
    " SELECT ?, * FROM unnest(?::bigint[], ?::bigint[], ?::timestamptz[], ?::numeric[], ?::numeric[], ?::numeric[],"
    " ?::numeric[], ?::numeric[], ?::numeric[], ?::numeric[], ?::numeric[])"
    " ON CONFLICT (station, local_id, in_date_time) DO NOTHING";

const char* const ListPartitions =
    "SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid"
    " JOIN pg_class p ON p.oid = i.inhparent WHERE p.relname = 'apparatus_record' ORDER BY c.relname";

void exec(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql))
        throw EDatabaseError(q.lastError().text().toStdString() + " (" + sql.left(80).toStdString() + ")");
}

// Runs `body` in one transaction under the schema lock.
template <typename F> auto inSchemaTransaction(QSqlDatabase& db, F body)
{
    exec(db, QStringLiteral("BEGIN"));
    try {
        exec(db, QString::fromLatin1(SchemaLock));
        auto result = body();
        exec(db, QStringLiteral("COMMIT"));
        return result;
    } catch (...) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

QDate firstOfMonth(QDate day)
{
    return QDate(day.year(), day.month(), 1);
}

const char* castOf(TValue value)
{
    switch (value) {
    case TValue::Text: return "text";
    case TValue::Integer: return "bigint";
    case TValue::Numeric: return "numeric";
    case TValue::Flag: return "boolean";
    case TValue::Time:
    case TValue::RequiredTime: return "timestamptz";
    }
    return "text";
}

// "INSERT INTO table (station, cols...) VALUES (?, ?::type, ...)". On a conflict the `changing`
// columns take the new values and the `fixed` ones their given value, when any of them differs;
// `alsoSet` ("updated_at = now()") goes with them.
struct TFixed {
    const char* column;
    const char* value;
};
template <std::size_t N>
QString upsertSql(const char* table, const TColumn (&columns)[N], const QStringList& changing,
                  std::initializer_list<TFixed> fixed = {}, const char* alsoSet = nullptr)
{
    QStringList names{QStringLiteral("station")}, values{QStringLiteral("?")};
    for (const TColumn& c : columns) {
        names << QLatin1String(c.central);
        values << QStringLiteral("?::") + QLatin1String(castOf(c.value));
    }
    QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (station, local_id) DO ")
                      .arg(QLatin1String(table), names.join(QLatin1Char(',')), values.join(QLatin1Char(',')));
    if (changing.isEmpty())
        return sql + QStringLiteral("NOTHING");
    QStringList set, now, then;
    const auto column = [&](const QString& name, const QString& value) {
        set << name + QStringLiteral(" = ") + value;
        now << QLatin1String(table) + QLatin1Char('.') + name;
        then << value;
    };
    for (const QString& c : changing)
        column(c, QStringLiteral("excluded.") + c);
    for (const TFixed& f : fixed)
        column(QLatin1String(f.column), QLatin1String(f.value));
    if (alsoSet)
        set << QLatin1String(alsoSet);
    return sql + QStringLiteral("UPDATE SET %1 WHERE (%2) IS DISTINCT FROM (%3)")
                     .arg(set.join(QLatin1Char(',')), now.join(QLatin1Char(',')), then.join(QLatin1Char(',')));
}

// Every central column but the key: what an upsert brings up to date.
template <std::size_t N> QStringList valueColumns(const TColumn (&columns)[N])
{
    QStringList names;
    for (const TColumn& c : columns)
        if (QLatin1String(c.central) != QLatin1String("local_id"))
            names << QLatin1String(c.central);
    return names;
}

// A station's value as its central column takes it; an invalid QVariant is NULL. A text that is no
// number, or a number that is not finite, becomes NULL rather than stopping the forwarding for good.
QVariant centralValue(const QVariant& v, TValue kind, TLocalTimes& times)
{
    if (v.isNull())
        return kind == TValue::Flag ? QVariant(QStringLiteral("false")) : QVariant();
    bool ok = false;
    const double d = kind == TValue::Text ? 0 : v.toString().trimmed().toDouble(&ok);
    switch (kind) {
    case TValue::Text: return v.toString().remove(QChar(0)); // the driver sends texts quoted: a NUL ends them
    case TValue::Flag: return ok && d != 0 ? QStringLiteral("true") : QStringLiteral("false");
    case TValue::Integer: return ok && std::abs(d) < 9e15 ? QVariant(QString::number(qint64(d))) : QVariant();
    case TValue::Numeric: return ok && std::isfinite(d) ? QVariant(QString::number(d, 'g', 15)) : QVariant();
    case TValue::Time:
    case TValue::RequiredTime: {
        const QString t = times.Of(v.toString()).iso;
        return t.isEmpty() ? QVariant() : QVariant(t);
    }
    }
    return {};
}

// Rows of a station's table, one prepared statement for all; a row without a required time (a
// malformed text) is left out. The caller holds the transaction.
template <std::size_t N>
void writeRows(QSqlDatabase& db, const QString& sql, const QString& station, const TColumn (&columns)[N],
               const TQueryResult& rows)
{
    std::array<int, N> at{};
    for (std::size_t c = 0; c < N; ++c)
        at[c] = int(rows.columns().indexOf(QLatin1String(columns[c].local)));
    QSqlQuery q(db);
    if (!q.prepare(sql))
        throw EDatabaseError(q.lastError().text().toStdString());
    std::array<QVariant, N> values;
    TLocalTimes times;
    for (const QVariantList& row : rows.rows()) {
        bool complete = true;
        for (std::size_t c = 0; c < N; ++c) {
            values[c] = centralValue(at[c] < 0 ? QVariant() : row.value(at[c]), columns[c].value, times);
            complete = complete && (values[c].isValid() || columns[c].value != TValue::RequiredTime);
        }
        if (!complete)
            continue;
        q.addBindValue(station);
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec())
            throw EDatabaseError(q.lastError().text().toStdString());
    }
}

} // namespace

TCentralConfig ReadCentralConfig(TIniFile& ini)
{
    using namespace SettingsKey;
    TCentralConfig c;
    c.host = ini.ReadString(Central, CentralHost, QString()).trimmed();
    c.port = ini.ReadInteger(Central, CentralPort, 5432);
    c.database = ini.ReadString(Central, CentralDatabase, QString()).trimmed();
    c.user = ini.ReadString(Central, CentralUser, QString()).trimmed();
    c.station = ini.ReadString(Central, CentralStation, QString()).trimmed();
    if (c.station.isEmpty())
        c.station = QSysInfo::machineHostName();
    c.sslMode = ini.ReadString(Central, CentralSslMode, QStringLiteral("prefer")).trimmed();
    c.retentionMonths = std::max(0, ini.ReadInteger(Central, CentralRetention, 0));
    return c;
}

TCentralConfig ParseConnInfo(const QString& conninfo)
{
    TCentralConfig c;
    static const QRegularExpression pair(QStringLiteral(R"(\s*([a-z_]+)\s*=\s*('(?:[^'\\]|\\.)*'|\S+))"));
    qsizetype at = 0;
    while (at < conninfo.size() && !conninfo.mid(at).trimmed().isEmpty()) {
        const QRegularExpressionMatch m = pair.match(conninfo, at, QRegularExpression::NormalMatch,
                                                     QRegularExpression::AnchorAtOffsetMatchOption);
        if (!m.hasMatch())
            throw std::invalid_argument("malformed connection string at: " + conninfo.mid(at).toStdString());
        const QString key = m.captured(1);
        QString value = m.captured(2);
        if (value.startsWith(QLatin1Char('\''))) {
            value = value.mid(1, value.size() - 2);
            value.replace(QStringLiteral("\\'"), QStringLiteral("'")).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
        }
        if (key == QLatin1String("host"))
            c.host = value;
        else if (key == QLatin1String("port"))
            c.port = value.toInt();
        else if (key == QLatin1String("dbname"))
            c.database = value;
        else if (key == QLatin1String("user"))
            c.user = value;
        else if (key == QLatin1String("sslmode"))
            c.sslMode = value;
        else
            throw std::invalid_argument("unknown key in the connection string: " + key.toStdString());
        at = m.capturedEnd();
    }
    return c;
}

QSqlDatabase OpenCentral(const QString& connectionName, const TCentralConfig& config)
{
    QSqlDatabase db = QSqlDatabase::contains(connectionName) ? QSqlDatabase::database(connectionName, false)
                                                             : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
    if (!db.isValid())
        throw EDatabaseError("the PostgreSQL driver (QPSQL, package libqt6sql6-psql) is not installed");
    db.setHostName(config.host);
    db.setPort(config.port);
    db.setDatabaseName(config.database);
    db.setUserName(config.user);
    // A server or a network that stops answering ends the connection instead of holding the
    // forwarder for ever: keepalives and the TCP user timeout (ignored over a Unix socket).
    db.setConnectOptions(QStringLiteral("sslmode=%1;connect_timeout=5;application_name=zeva;keepalives=1;"
                                        "keepalives_idle=10;keepalives_interval=5;keepalives_count=3;tcp_user_timeout=20000")
                             .arg(config.sslMode));
    if (!db.open())
        throw EDatabaseError(db.lastError().text().toStdString());
    // Times are sent with their offset; the session's own zone only names them in messages. The
    // server's notices ("already exists, skipping") are no news.
    exec(db, QStringLiteral("SET TIME ZONE 'UTC'"));
    exec(db, QStringLiteral("SET client_min_messages = warning"));
    // A lock held by someone else, or a statement the server cannot finish, is given up and tried
    // again later; a batch takes well under a second.
    exec(db, QStringLiteral("SET lock_timeout = '10s'"));
    exec(db, QStringLiteral("SET statement_timeout = '30s'"));
    return db;
}

void EnsureCentralSchema(QSqlDatabase& db)
{
    inSchemaTransaction(db, [&] {
        for (const char* sql : Schema)
            exec(db, QString::fromLatin1(sql));
        return 0;
    });
}

QString MonthPartitionName(QDate day)
{
    return QStringLiteral("apparatus_record_%1_%2").arg(day.year()).arg(day.month(), 2, 10, QLatin1Char('0'));
}

QString EnsureMonthPartition(QSqlDatabase& db, QDate day)
{
    const QDate from = firstOfMonth(day), to = from.addMonths(1);
    const QString name = MonthPartitionName(day);
    // Months in UTC: a station's local midnight falls inside one of them all the same.
    const QString sql = QStringLiteral("CREATE TABLE IF NOT EXISTS %1 PARTITION OF apparatus_record"
                                       " FOR VALUES FROM ('%2 00:00:00+00') TO ('%3 00:00:00+00')")
                            .arg(name, from.toString(Qt::ISODate), to.toString(Qt::ISODate));
    inSchemaTransaction(db, [&] {
        exec(db, sql);
        return 0;
    });
    return name;
}

QStringList DropPartitionsBefore(QSqlDatabase& db, QDate day)
{
    const QString keepFrom = MonthPartitionName(firstOfMonth(day));
    static const QRegularExpression monthly(QStringLiteral("^apparatus_record_\\d{4}_\\d{2}$"));
    return inSchemaTransaction(db, [&] {
        QStringList dropped;
        QSqlQuery q(db);
        if (!q.exec(QString::fromLatin1(ListPartitions)))
            throw EDatabaseError(q.lastError().text().toStdString());
        while (q.next()) {
            const QString name = q.value(0).toString();
            // The names sort as their months do; only our own monthly partitions go.
            if (monthly.match(name).hasMatch() && name < keepFrom)
                dropped << name;
        }
        for (const QString& name : dropped)
            exec(db, QStringLiteral("DROP TABLE %1").arg(name));
        return dropped;
    });
}

void UpsertStation(QSqlDatabase& db, const QString& station, qint64 databaseKey)
{
    QSqlQuery q(db);
    q.prepare(QString::fromLatin1(UpsertStationSql));
    q.addBindValue(station);
    q.addBindValue(databaseKey);
    if (!q.exec())
        throw EDatabaseError(q.lastError().text().toStdString());
    // Two databases under one name would overwrite each other's rows (a reinstalled PC, a second
    // station left at the same name).
    if (!q.next() || q.value(0).toLongLong() != databaseKey)
        throw EDatabaseError(QStringLiteral("站点名“%1”已由另一个本站数据库使用：请在 Data.ini 的 [Central] 中另取 Station 名")
                                 .arg(station)
                                 .toStdString());
}

void UpsertApparatus(QSqlDatabase& db, const QString& station, const TQueryResult& rows)
{
    // The row is there, so a removed mark goes.
    static const QString sql = upsertSql("apparatus", ApparatusColumns, valueColumns(ApparatusColumns),
                                         {{"removed_at", "NULL::timestamptz"}}, "updated_at = now()");
    writeRows(db, sql, station, ApparatusColumns, rows);
}

void MarkRemovedApparatus(QSqlDatabase& db, const QString& station, const std::vector<qint64>& present)
{
    QStringList ids;
    for (qint64 id : present)
        ids << QString::number(id);
    QSqlQuery q(db);
    q.prepare(QString::fromLatin1(MarkRemovedApparatusSql));
    q.addBindValue(station);
    q.addBindValue(QLatin1Char('{') + ids.join(QLatin1Char(',')) + QLatin1Char('}'));
    if (!q.exec())
        throw EDatabaseError(q.lastError().text().toStdString());
}

void InsertHistoryRows(QSqlDatabase& db, const QString& station, const TQueryResult& rows)
{
    // Brought up to date: an ID the station gives again after deleting its newest writes.
    static const QString sql = upsertSql("apparatus_history", HistoryColumns, valueColumns(HistoryColumns));
    writeRows(db, sql, station, HistoryColumns, rows);
}

void UpsertJournal(QSqlDatabase& db, const QString& station, const TQueryResult& rows)
{
    static const QString sql = upsertSql("event_journal", JournalColumns,
                                         {QStringLiteral("cleared_at"), QStringLiteral("acked_at"), QStringLiteral("acked_by")});
    writeRows(db, sql, station, JournalColumns, rows);
}

std::vector<qint64> SelectOpenJournal(QSqlDatabase& db, const QString& station)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QString::fromLatin1(SelectOpenJournalSql));
    q.addBindValue(station);
    if (!q.exec())
        throw EDatabaseError(q.lastError().text().toStdString());
    std::vector<qint64> ids;
    while (q.next())
        ids.push_back(q.value(0).toLongLong());
    return ids;
}

TLocalTimes::TTime TLocalTimes::Of(const QString& text)
{
    // Fixed positions: "2026-12-09 08:00:00".
    static const QString shape = QStringLiteral("0000-00-00 00:00:00");
    if (text.size() != shape.size())
        return {};
    for (qsizetype i = 0; i < shape.size(); ++i)
        if (shape[i] == QLatin1Char('0') ? !text[i].isDigit() || text[i].unicode() > '9' : text[i] != shape[i])
            return {};
    const auto number = [&](int at, int n) { return QStringView(text).mid(at, n).toInt(); };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const QTime time(number(11, 2), number(14, 2), number(17, 2));
    if (!date.isValid() || !time.isValid())
        return {};
    int offset;
    if (QStringView(text).left(13) == m_hour && m_uniform) {
        offset = m_offset;
    } else {
        m_hour = text.left(13);
        m_offset = QDateTime(date, QTime(time.hour(), 0)).offsetFromUtc();
        m_uniform = QDateTime(date, QTime(time.hour(), 59, 59)).offsetFromUtc() == m_offset;
        offset = m_uniform ? m_offset : QDateTime(date, time).offsetFromUtc();
    }
    const int minutes = std::abs(offset) / 60;
    TTime t;
    t.iso = text.left(10) + QLatin1Char('T') + text.mid(11) + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
            QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
    t.utcDay = QDateTime(date, time, Qt::UTC).addSecs(-offset).date();
    return t;
}

QString CentralTime(const QString& localText)
{
    return TLocalTimes().Of(localText).iso;
}

void InsertRecords(QSqlDatabase& db, const QString& station, const TRecordBatch& batch)
{
    QSqlQuery q(db);
    q.prepare(QString::fromLatin1(InsertRecordsSql));
    q.addBindValue(station);
    for (const QString& column : batch.arrays)
        q.addBindValue(column);
    if (!q.exec())
        throw EDatabaseError(q.lastError().text().toStdString());
}

} // namespace zeva
