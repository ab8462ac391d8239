// Every statement of the system in SQLite's dialect; values are always bound, never spliced.
#include "Statements.h"

#include "Trend.h"

#include "Convert.h"
#include "RecordWriter.h"

#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlTableModel>

#include <unordered_map>

namespace zeva {

QString Column::T(int i)
{
    return QStringLiteral("T%1").arg(i);
}

static const char* const PhaseLetters[4] = {"A", "B", "C", "D"};

QString Column::AtoneT(int phase)
{
    return QLatin1String(PhaseLetters[phase]) + QStringLiteral("AtoneT");
}

QString Column::HightT(int phase)
{
    return QLatin1String(PhaseLetters[phase]) + QStringLiteral("HightT");
}

QString Column::ActTemperature(int phase)
{
    return QLatin1String(PhaseLetters[phase]) + QStringLiteral("ActTemperature");
}

QString Column::BlackTemperature(int phase)
{
    return QLatin1String(PhaseLetters[phase]) + QStringLiteral("BlackTemperature");
}

namespace {

// Temperatures are NUMERIC: 85 is kept as 85, 85.3 as 85.3 (a REAL column would show 85.0).
const char* const Schema[] = {
    "CREATE TABLE Apparatus ("
    " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
    " ApparatusName TEXT, ApparatusAddress INTEGER, ApparatusType TEXT, Implication TEXT,"
    " CFlag INTEGER NOT NULL DEFAULT 0,"
    " T1 NUMERIC, T2 NUMERIC, T3 NUMERIC, T4 NUMERIC, T5 NUMERIC, T6 NUMERIC, T7 NUMERIC,"
    " TF INTEGER, RUN INTEGER,"
    " AAtoneT NUMERIC, BAtoneT NUMERIC, CAtoneT NUMERIC, DAtoneT NUMERIC,"
    " AHightT NUMERIC, BHightT NUMERIC, CHightT NUMERIC, DHightT NUMERIC,"
    " ApparatusBate INTEGER, ComPort TEXT, ComBate INTEGER, RunTime INTEGER, RunFreq INTEGER,"
    " CurrentlyAddress TEXT)",
    "CREATE TABLE ApparatusRecord ("
    " RecordID INTEGER PRIMARY KEY,"
    " ApparatusID INTEGER NOT NULL, InDateTime TEXT NOT NULL,"
    " AActTemperature NUMERIC, BActTemperature NUMERIC, CActTemperature NUMERIC, DActTemperature NUMERIC,"
    " ABlackTemperature NUMERIC, BBlackTemperature NUMERIC, CBlackTemperature NUMERIC,"
    " DBlackTemperature NUMERIC)",
    "CREATE INDEX ApparatusRecordByTime ON ApparatusRecord(ApparatusID, InDateTime)",
    "CREATE TABLE ApparatusHistory ("
    " HistoryID INTEGER PRIMARY KEY,"
    " InDate TEXT, ApparatusName TEXT, ApparatusAddress INTEGER, ApparatusBate INTEGER,"
    " ApparatusType TEXT, Implication TEXT,"
    " T1 NUMERIC, T2 NUMERIC, T3 NUMERIC, T4 NUMERIC, T5 NUMERIC, T6 NUMERIC, T7 NUMERIC,"
    " AAtoneT NUMERIC, BAtoneT NUMERIC, CAtoneT NUMERIC, DAtoneT NUMERIC, TF INTEGER, RUN INTEGER, Operator TEXT)",
};

// The alarm and event journal; an older database gets it at the program's start.
const char* const JournalSchema[] = {
    "CREATE TABLE EventJournal ("
    " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
    " ApparatusID INTEGER, ApparatusAddress INTEGER, Kind TEXT NOT NULL, Text TEXT,"
    " RaisedAt TEXT NOT NULL, ClearedAt TEXT, AckedAt TEXT, AckedBy TEXT, Priority INTEGER, Value REAL,"
    " Chatter INTEGER, AckComment TEXT, ShelvedUntil TEXT, ShelvedBy TEXT, ShelveReason TEXT)",
    "CREATE INDEX EventJournalByTime ON EventJournal(RaisedAt)",
    "CREATE INDEX EventJournalOpen ON EventJournal(ApparatusAddress, Kind) WHERE ClearedAt IS NULL",
    "CREATE INDEX EventJournalUnacknowledged ON EventJournal(ID) WHERE AckedAt IS NULL AND Kind LIKE 'alarm.%'",
};
// Columns the journal gained later (in the table above too); a journal without them gets them at
// the program's start.
const char* const JournalLaterColumns[][2] = {
    {"Priority", "INTEGER"}, {"Value", "REAL"}, {"Chatter", "INTEGER"}, {"AckComment", "TEXT"},
    {"ShelvedUntil", "TEXT"}, {"ShelvedBy", "TEXT"}, {"ShelveReason", "TEXT"},
};
const char* const JournalShelvedIndex =
    "CREATE INDEX IF NOT EXISTS EventJournalShelved ON EventJournal(ShelvedUntil) WHERE ShelvedUntil IS NOT NULL";

// Where the forwarder to the central database has got to, per table.
const char* const ForwardSchema =
    "CREATE TABLE IF NOT EXISTS ForwardPosition (TableName TEXT PRIMARY KEY, LastID INTEGER NOT NULL)";

namespace Sql {
const QString ReadForwardPosition = QStringLiteral("SELECT LastID FROM ForwardPosition WHERE TableName = :t");
const QString WriteForwardPosition = QStringLiteral(
    "INSERT INTO ForwardPosition(TableName, LastID) VALUES(:t, :id) "
    "ON CONFLICT(TableName) DO UPDATE SET LastID = excluded.LastID");
// The arrays in one pass; every aggregate sees the rows in the same order, so the arrays stay
// aligned whatever that order is.
// A batch of readings as lines of PostgreSQL's COPY text format, made here in one pass: the central
// drain then only hands them on. A value that is no finite number goes as NULL (counted), an
// instrument that is no integer or a time that is not in its stored form goes as SQLite reads it
// (counted: "2026-02-30" is 2026-03-02, a number a Julian day), a reading
// whose time is none or out of the years the central partitions hold, or without an instrument, is
// left out (counted); one before :from (the central retention) is not sent. The batch is
// materialised once, so that no time or number is converted twice, and each line is one printf.
const QString SelectRecordCopyAfter = [] {
    const char* const columns[] = {"AActTemperature", "BActTemperature", "CActTemperature", "DActTemperature",
                                   "ABlackTemperature", "BBlackTemperature", "CBlackTemperature", "DBlackTemperature"};
    QStringList values, nulled, fields;
    QString format = QStringLiteral("%s\t%d\t%d\t%s");
    for (const char* c : columns) {
        values << QStringLiteral("CASE typeof(%1) WHEN 'real' THEN CASE WHEN abs(%1) <= 1e300 THEN CAST(%1 AS TEXT) END "
                                 "WHEN 'integer' THEN CAST(%1 AS TEXT) WHEN 'null' THEN '\\N' END AS %1")
                      .arg(QLatin1String(c));
        nulled << QStringLiteral("(%1 IS NULL)").arg(QLatin1String(c));
        fields << QStringLiteral("coalesce(%1, '\\N')").arg(QLatin1String(c));
        format += QStringLiteral("\t%s");
    }
    return QStringLiteral(
               "WITH r AS MATERIALIZED (SELECT RecordID, CAST(ApparatusID AS INTEGER) AS a, "
               "strftime('%Y-%m-%dT%H:%M:%SZ', InDateTime, 'utc') AS t, "
               "typeof(ApparatusID) NOT IN ('integer', 'null') OR InDateTime IS NOT strftime('%Y-%m-%d %H:%M:%S', InDateTime) AS c, "
               "%1 FROM ApparatusRecord "
               "WHERE RecordID > :id ORDER BY RecordID LIMIT :n) "
               "SELECT coalesce(max(RecordID), 0), count(*), count(*) FILTER (WHERE keep), "
               "coalesce(group_concat(DISTINCT substr(t, 1, 7)) FILTER (WHERE keep), ''), "
               "coalesce(group_concat(line, '') FILTER (WHERE keep), ''), "
               "count(*) FILTER (WHERE NOT valid), coalesce(min(RecordID) FILTER (WHERE NOT valid), 0), "
               "coalesce(sum(nulled) FILTER (WHERE keep), 0), coalesce(min(RecordID) FILTER (WHERE keep AND nulled > 0), 0), "
               "count(*) FILTER (WHERE keep AND c), coalesce(min(RecordID) FILTER (WHERE keep AND c), 0) "
               "FROM (SELECT *, valid AND t >= :from AS keep FROM (SELECT RecordID, t, c, "
               "t IS NOT NULL AND t >= '0001' AND t < '9999-12' AND a IS NOT NULL AS valid, %2 AS nulled, "
               "printf('%3\n', :station, RecordID, a, t, %4) AS line FROM r))")
        .arg(values.join(QStringLiteral(", ")), nulled.join(QLatin1Char('+')), format, fields.join(QStringLiteral(", ")));
}();
const QString InsertDatabaseKey =
    QStringLiteral("INSERT OR IGNORE INTO ForwardPosition(TableName, LastID) VALUES(:t, :id)");
// Each count over its own partial index.
const QString CountChangeableAlarms = QStringLiteral(
    "SELECT (SELECT count(*) FROM EventJournal WHERE ClearedAt IS NULL AND Kind LIKE 'alarm.%' AND ID <= :p) AS o, "
    "(SELECT count(*) FROM EventJournal WHERE AckedAt IS NULL AND Kind LIKE 'alarm.%' AND ID <= :p) AS u");
const QString SelectOpenAlarms = QStringLiteral(
    "SELECT ApparatusAddress, Kind FROM EventJournal WHERE ClearedAt IS NULL AND Kind LIKE 'alarm.%'");
const QString LastJournalText =
    QStringLiteral("SELECT Text FROM EventJournal WHERE Kind = :kind ORDER BY ID DESC LIMIT 1");
const QString SelectHistoryAfter = QStringLiteral(
    "SELECT HistoryID, InDate, ApparatusName, ApparatusAddress, ApparatusBate, ApparatusType, Implication, "
    "T1, T2, T3, T4, T5, T6, T7, AAtoneT, BAtoneT, CAtoneT, DAtoneT, TF, RUN, Operator FROM ApparatusHistory "
    "WHERE HistoryID > :id ORDER BY HistoryID LIMIT :n");
// A journal row as it is shown and forwarded (the first nine columns in this order), with the
// instrument's present name last.
#define ZEVA_JOURNAL_FIELDS                                                                                            \
    "SELECT ID, ApparatusID, ApparatusAddress, Kind, Text, RaisedAt, ClearedAt, AckedAt, AckedBy, Priority, Value, "  \
    "Chatter, AckComment, ShelvedUntil, ShelvedBy, ShelveReason, "                                                     \
    "(SELECT ApparatusName FROM Apparatus a WHERE a.ID = EventJournal.ApparatusID) AS ApparatusName FROM EventJournal "
const QString SelectJournalAfter = QStringLiteral(ZEVA_JOURNAL_FIELDS "WHERE ID > :id ORDER BY ID LIMIT :n");
const QString SelectUnsettledAlarms = QStringLiteral(
    "SELECT ID FROM EventJournal WHERE Kind LIKE 'alarm.%' AND (ClearedAt IS NULL OR AckedAt IS NULL) ORDER BY ID");
const QString LastIds = QStringLiteral(
    "SELECT (SELECT coalesce(max(RecordID), 0) FROM ApparatusRecord) AS r, "
    "(SELECT coalesce(max(HistoryID), 0) FROM ApparatusHistory) AS h, (SELECT coalesce(max(ID), 0) FROM EventJournal) AS j");
// Ties between equal addresses go to the older row, so "the first row" is always the same one.
const QString SelectApparatus = QStringLiteral("SELECT * FROM Apparatus ORDER BY ApparatusAddress, ID");
const QString SelectEnabledApparatus =
    QStringLiteral("SELECT * FROM Apparatus WHERE CFlag = 1 ORDER BY ApparatusAddress, ID");
const QString SelectApparatusById = QStringLiteral("SELECT * FROM Apparatus WHERE ID = :id");
const QString SelectEnabledAtAddress = QStringLiteral(
    "SELECT * FROM Apparatus WHERE ApparatusAddress = :address AND CFlag = 1 AND ID <> :id ORDER BY ID");
const QString LookupEnabledId =
    QStringLiteral("SELECT ID FROM Apparatus WHERE (ApparatusAddress = :address) AND (CFlag = 1) ORDER BY ID");
const QString LookupId = QStringLiteral("SELECT ID FROM Apparatus WHERE ApparatusAddress = :address ORDER BY ID");
const QString UpdateHighest = QStringLiteral(
    "UPDATE Apparatus SET AHightT = :a, BHightT = :b, CHightT = :c, DHightT = :d WHERE ID = :id");
const QString UpdateThresholds = QStringLiteral("UPDATE Apparatus SET T1 = :t1, T2 = :t2, T3 = :t3, T4 = :t4, "
                                                "T5 = :t5, T6 = :t6, T7 = :t7 WHERE ID = :id");
const QString UpdateCompensation = QStringLiteral(
    "UPDATE Apparatus SET AAtoneT = :a, BAtoneT = :b, CAtoneT = :c, DAtoneT = :d WHERE ID = :id");
const QString UpdateFanTiming = QStringLiteral("UPDATE Apparatus SET TF = :tf, RUN = :run WHERE ID = :id");
const QString UpdateLink =
    QStringLiteral("UPDATE Apparatus SET ApparatusAddress = :address, ApparatusBate = :baud WHERE ID = :id");
const QString UpdateModel =
    QStringLiteral("UPDATE Apparatus SET ApparatusType = :type, Implication = :implication WHERE ID = :id");
const QString UpdateRunTimes = QStringLiteral("UPDATE Apparatus SET RunTime = :seconds, RunFreq = :count WHERE ID = :id");
const QString UpdateComPort = QStringLiteral("UPDATE Apparatus SET ComPort = :port, ComBate = :baud WHERE ID = :id");
const QString CopyToTemp = QStringLiteral("CREATE TABLE TempApparatus AS SELECT * FROM Apparatus");
const QString SelectEnabledTemp = QStringLiteral("SELECT * FROM TempApparatus WHERE CFlag = 1");
const QString DropTemp = QStringLiteral("DROP TABLE TempApparatus");
const QString InsertRecord = QStringLiteral(
    "INSERT INTO ApparatusRecord(ApparatusID,InDateTime,AActTemperature,BActTemperature,CActTemperature,"
    "DActTemperature,ABlackTemperature,BBlackTemperature,CBlackTemperature,DBlackTemperature) "
    "VALUES(:id,:p1,:a,:b,:c,:d,:ba,:bb,:bc,:bd)");
const QString SelectRecords = QStringLiteral("SELECT * FROM ApparatusRecord WHERE (ApparatusID = :id) AND "
                                             "(InDateTime BETWEEN :p1 AND :p2) ORDER BY InDateTime, RecordID");
const QString InsertHistory = QStringLiteral(
    "INSERT INTO ApparatusHistory(InDate,ApparatusName,ApparatusAddress,ApparatusBate,ApparatusType,Implication,"
    "T1,T2,T3,T4,T5,T6,T7,AAtoneT,BAtoneT,CAtoneT,DAtoneT,TF,RUN,Operator) "
    "VALUES(:p1,:name,:address,:baud,:type,:implication,:t1,:t2,:t3,:t4,:t5,:t6,:t7,:a,:b,:c,:d,:tf,:run,:operator)");
const QString SelectHistory = QStringLiteral("SELECT * FROM ApparatusHistory ORDER BY ApparatusAddress, HistoryID");
const QString InsertApparatus = QStringLiteral(
    "INSERT INTO Apparatus(ApparatusName,ApparatusAddress,ApparatusType,Implication,CFlag) "
    "VALUES(:name,:address,:type,:implication,:flag)");
// An alarm raised while the same alarm of the same instrument is shelved is shelved with it.
const QString InsertJournal = QStringLiteral(
    "INSERT INTO EventJournal(ApparatusID,ApparatusAddress,Kind,Text,RaisedAt,Priority,Value,Chatter,"
    "ShelvedUntil,ShelvedBy,ShelveReason) "
    "SELECT :id,:address,:kind,:text,:p1,:priority,:value,:chatter,s.ShelvedUntil,s.ShelvedBy,s.ShelveReason "
    "FROM (SELECT 1) LEFT JOIN (SELECT ShelvedUntil, ShelvedBy, ShelveReason FROM EventJournal "
    "WHERE :alarm AND ShelvedUntil > :p1 AND Kind = :kind AND ApparatusAddress IS :address ORDER BY ID DESC LIMIT 1) s");
const QString ClearJournal = QStringLiteral(
    "UPDATE EventJournal SET ClearedAt = :p1 WHERE ID = (SELECT max(ID) FROM EventJournal WHERE Kind = :kind AND "
    "ApparatusAddress IS :address AND ClearedAt IS NULL AND Kind LIKE 'alarm.%')");
const QString AcknowledgeJournal =
    QStringLiteral("UPDATE EventJournal SET AckedAt = :p1, AckedBy = :user, AckComment = :comment "
                   "WHERE ID = :id AND AckedAt IS NULL AND Kind LIKE 'alarm.%'");
const QString AcknowledgeAllJournal =
    QStringLiteral("UPDATE EventJournal SET AckedAt = :p1, AckedBy = :user, AckComment = :comment "
                   "WHERE AckedAt IS NULL AND Kind LIKE 'alarm.%'");
// A shelved alarm counts nowhere until it returns.
const QString CountUnacknowledged = QStringLiteral(
    "SELECT count(*) AS n FROM EventJournal WHERE AckedAt IS NULL AND Kind LIKE 'alarm.%' AND ShelvedUntil IS NULL");
const QString CountStanding = QStringLiteral(
    "SELECT count(*) AS n FROM EventJournal WHERE ClearedAt IS NULL AND Kind LIKE 'alarm.%' AND ShelvedUntil IS NULL");
// The one the banner names: the most urgent, standing before cleared, the newest.
const QString SelectTopAlarm = QStringLiteral(
    "SELECT ID, ApparatusAddress, Text, coalesce(Priority, 3) AS p, ClearedAt IS NULL AS standing FROM EventJournal "
    "WHERE Kind LIKE 'alarm.%' AND (ClearedAt IS NULL OR AckedAt IS NULL) AND ShelvedUntil IS NULL "
    "ORDER BY p, standing DESC, ID DESC LIMIT 1");
const QString SelectStandingPriorities = QStringLiteral(
    "SELECT ApparatusAddress, min(coalesce(Priority, 3)) AS p FROM EventJournal "
    "WHERE ClearedAt IS NULL AND Kind LIKE 'alarm.%' AND ShelvedUntil IS NULL GROUP BY ApparatusAddress");
const QString SelectBeeping = QStringLiteral(
    "SELECT ID FROM EventJournal WHERE AckedAt IS NULL AND ClearedAt IS NULL AND Kind LIKE 'alarm.%' "
    "AND ShelvedUntil IS NULL AND coalesce(Priority, 3) <= :p ORDER BY ID");
const QString SelectShelvable = QStringLiteral(
    "SELECT ID, ApparatusAddress, Kind, Text, AckedAt, AckedBy, AckComment FROM EventJournal "
    "WHERE ID IN (SELECT value FROM json_each(:ids)) "
    "AND Kind LIKE 'alarm.%' AND (ClearedAt IS NULL OR AckedAt IS NULL) ORDER BY ID");
const QString ShelveJournal = QStringLiteral(
    "UPDATE EventJournal SET ShelvedUntil = :until, ShelvedBy = :user, ShelveReason = :reason "
    "WHERE ID IN (SELECT value FROM json_each(:ids))");
const QString SelectShelfDue = QStringLiteral(
    "SELECT ID, ApparatusAddress, Kind, Text, AckedAt, AckedBy, AckComment FROM EventJournal "
    "WHERE ShelvedUntil <= :now AND ClearedAt IS NULL ORDER BY ID");
// Back unacknowledged, as if raised now; who shelved it and why stay on the row (the earlier
// acknowledgement goes into the return's journal entry).
const QString ReturnShelved = QStringLiteral(
    "UPDATE EventJournal SET ShelvedUntil = NULL, AckedAt = NULL, AckedBy = NULL, AckComment = NULL "
    "WHERE ID IN (SELECT value FROM json_each(:ids)) AND ClearedAt IS NULL");
// Cleared while shelved: the shelf just ends; an unacknowledged one counts again.
const QString EndClearedShelves =
    QStringLiteral("UPDATE EventJournal SET ShelvedUntil = NULL WHERE ShelvedUntil <= :now AND ClearedAt IS NOT NULL");
const QString SelectShelved = QStringLiteral(
    "SELECT ApparatusAddress, Kind, max(ShelvedUntil) AS until, min(ShelvedUntil) AS due, "
    "max(ClearedAt IS NULL) AS standing FROM EventJournal "
    "WHERE ShelvedUntil IS NOT NULL AND Kind LIKE 'alarm.%' GROUP BY ApparatusAddress, Kind");
// Two passes: the active alarms (few; the most urgent first), then, in the key's order (no sort of
// the whole table), the
// rest that the filters let through (an alarm not yet acknowledged whatever its date). The IDs
// only: the window reads the rows it shows, a page at a time.
const QString SelectJournalActiveIds = QStringLiteral(
    "SELECT ID FROM EventJournal "
    "WHERE (:all OR ApparatusAddress IS :address) AND Kind LIKE 'alarm.%' AND ClearedAt IS NULL "
    "ORDER BY coalesce(Priority, 3), ID DESC");
const QString SelectJournalRestIds = QStringLiteral(
    "SELECT ID FROM EventJournal "
    "WHERE (:all OR ApparatusAddress IS :address) AND NOT (Kind LIKE 'alarm.%' AND ClearedAt IS NULL) AND ("
    "(Kind LIKE 'alarm.%' AND AckedAt IS NULL) OR "
    "((:from IS NULL OR RaisedAt >= :from) AND (:to IS NULL OR RaisedAt <= :to))) ORDER BY ID DESC");
const QString SelectJournalRows = QStringLiteral(ZEVA_JOURNAL_FIELDS "WHERE ID IN (SELECT value FROM json_each(:ids))");
#undef ZEVA_JOURNAL_FIELDS
} // namespace Sql

qint64 firstId(TQueryResult r)
{
    r.First();
    return r.FieldAsInteger(Column::ID); // 0 for an empty result
}

QVariant textOrEmpty(const QString& s)
{
    return s.isNull() ? QString(QLatin1String("")) : s;
}

void tempBindings(TBindings& b, const char* const* names, const double* values, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        b.emplace_back(QLatin1String(names[i]), values[i]);
}

} // namespace

void CreateSchema(TDatabase& db)
{
    for (const char* sql : Schema)
        db.Exec(QLatin1String(sql));
    for (const char* sql : JournalSchema)
        db.Exec(QLatin1String(sql));
    db.Exec(QLatin1String(ForwardSchema));
    CreateTrendSchema(db);
}

void EnsureForwardPosition(TDatabase& db)
{
    db.Exec(QLatin1String(ForwardSchema));
}

qint64 ReadForwardPosition(TDatabase& db, const QString& table)
{
    return db.Query(Sql::ReadForwardPosition, {{":t", table}}).FieldAsInteger(QStringLiteral("LastID"));
}

void WriteForwardPosition(TDatabase& db, const QString& table, qint64 lastId)
{
    db.Exec(Sql::WriteForwardPosition, {{":t", table}, {":id", lastId}});
}

qint64 ForwardDatabaseKey(TDatabase& db)
{
    static const QString name = QStringLiteral("DatabaseKey");
    // Kept beside the positions; the first key written stays.
    db.Exec(Sql::InsertDatabaseKey,
            {{":t", name}, {":id", qint64(QRandomGenerator::system()->generate64() >> 2) + 1}});
    return ReadForwardPosition(db, name);
}

TRecordBatch SelectRecordCopyAfter(TDatabase& db, qint64 lastId, int limit, const QString& fromUtc, const QString& station)
{
    const TQueryResult r = db.Query(Sql::SelectRecordCopyAfter, {{":id", lastId},
                                                                 {":n", limit},
                                                                 {":from", textOrEmpty(fromUtc)},
                                                                 {":station", textOrEmpty(station)}});
    TRecordBatch b;
    if (r.rows().empty())
        return b;
    const QVariantList& row = r.rows().front();
    b.last = row.value(0).toLongLong();
    b.read = row.value(1).toInt();
    b.kept = row.value(2).toInt();
    if (!row.value(3).toString().isEmpty())
        b.months = row.value(3).toString().split(QLatin1Char(','));
    b.lines = row.value(4).toString().toStdString();
    b.leftOut = row.value(5).toInt();
    b.firstLeftOut = row.value(6).toLongLong();
    b.nulled = row.value(7).toInt();
    b.firstNulled = row.value(8).toLongLong();
    b.changed = row.value(9).toInt();
    b.firstChanged = row.value(10).toLongLong();
    return b;
}

TQueryResult SelectHistoryAfter(TDatabase& db, qint64 lastId, int limit)
{
    return db.Query(Sql::SelectHistoryAfter, {{":id", lastId}, {":n", limit}});
}

TQueryResult SelectJournalAfter(TDatabase& db, qint64 lastId, int limit)
{
    return db.Query(Sql::SelectJournalAfter, {{":id", lastId}, {":n", limit}});
}

TQueryResult SelectUnsettledAlarms(TDatabase& db)
{
    return db.Query(Sql::SelectUnsettledAlarms);
}

qint64 DataVersion(TDatabase& db)
{
    return db.Query(QStringLiteral("PRAGMA data_version")).rows().front().front().toLongLong();
}

void UseLazyCommits(TDatabase& db)
{
    // In WAL mode: durable at the next checkpoint instead of at each commit.
    db.Exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
}

TLastIds LastIds(TDatabase& db)
{
    const TQueryResult r = db.Query(Sql::LastIds);
    return {r.FieldAsInteger(QStringLiteral("r")), r.FieldAsInteger(QStringLiteral("h")), r.FieldAsInteger(QStringLiteral("j"))};
}

TJournalUpgrade EnsureEventJournal(TDatabase& db)
{
    TQueryResult r = db.Query(QStringLiteral("SELECT count(*) AS n FROM sqlite_master WHERE type = 'table' AND "
                                             "name = 'EventJournal'"));
    const bool exists = r.FieldAsInteger(QStringLiteral("n")) > 0;
    QStringList have;
    if (exists) {
        TQueryResult columns = db.Query(QStringLiteral("SELECT name FROM pragma_table_info('EventJournal')"));
        for (columns.First(); !columns.Eof(); columns.Next())
            have << columns.FieldAsString(QStringLiteral("name"));
        bool complete = true;
        for (const auto& column : JournalLaterColumns)
            complete = complete && have.contains(QLatin1String(column[0]));
        if (complete) {
            db.Exec(QLatin1String(JournalShelvedIndex));
            return TJournalUpgrade::None;
        }
    }
    db.Exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        if (!exists)
            for (const char* sql : JournalSchema)
                db.Exec(QLatin1String(sql));
        for (const auto& column : JournalLaterColumns)
            if (exists && !have.contains(QLatin1String(column[0])))
                db.Exec(QStringLiteral("ALTER TABLE EventJournal ADD COLUMN %1 %2")
                            .arg(QLatin1String(column[0]), QLatin1String(column[1])));
        db.Exec(QLatin1String(JournalShelvedIndex));
        db.Exec(QStringLiteral("COMMIT"));
    } catch (const EDatabaseError&) {
        db.Exec(QStringLiteral("ROLLBACK"));
        throw;
    }
    return exists ? TJournalUpgrade::Columns : TJournalUpgrade::Created;
}

bool EnsureHistoryOperator(TDatabase& db)
{
    const TQueryResult r = db.Query(QStringLiteral("SELECT count(*) AS n FROM pragma_table_info('ApparatusHistory') "
                                                   "WHERE name = 'Operator'"));
    if (r.FieldAsInteger(QStringLiteral("n")) > 0)
        return false;
    db.Exec(QStringLiteral("ALTER TABLE ApparatusHistory ADD COLUMN Operator TEXT"));
    return true;
}

qint64 InsertApparatus(TDatabase& db, const QString& name, int address, bool enabled, const QString& type,
                       const QString& implication)
{
    db.Exec(Sql::InsertApparatus, {{":name", name},
                                   {":address", address},
                                   {":type", textOrEmpty(type)},
                                   {":implication", textOrEmpty(implication)},
                                   {":flag", enabled ? 1 : 0}});
    return db.Query(QStringLiteral("SELECT last_insert_rowid() AS ID")).rows().front().front().toLongLong();
}

TQueryResult SelectApparatus(TDatabase& db)
{
    return db.Query(Sql::SelectApparatus);
}

TQueryResult SelectEnabledApparatus(TDatabase& db)
{
    return db.Query(Sql::SelectEnabledApparatus);
}

TQueryResult SelectApparatusById(TDatabase& db, qint64 id)
{
    return db.Query(Sql::SelectApparatusById, {{":id", id}});
}

TQueryResult SelectEnabledAtAddress(TDatabase& db, int address, qint64 exceptId)
{
    return db.Query(Sql::SelectEnabledAtAddress, {{":address", address}, {":id", exceptId}});
}

qint64 LookupEnabledId(TDatabase& db, int address)
{
    return firstId(db.Query(Sql::LookupEnabledId, {{":address", address}}));
}

qint64 LookupIdByAddressText(TDatabase& db, const QString& typed)
{
    int address = StrToInt(typed.trimmed());
    return firstId(db.Query(Sql::LookupId, {{":address", address}}));
}

void UpdateHighest(TDatabase& db, qint64 id, const TPhaseTemps& h)
{
    static const char* const names[] = {":a", ":b", ":c", ":d"};
    TBindings b{{":id", id}};
    tempBindings(b, names, h.data(), h.size());
    db.Exec(Sql::UpdateHighest, b);
}

void UpdateThresholds(TDatabase& db, qint64 id, const TThresholds& t)
{
    static const char* const names[] = {":t1", ":t2", ":t3", ":t4", ":t5", ":t6", ":t7"};
    TBindings b{{":id", id}};
    tempBindings(b, names, t.data(), t.size());
    db.Exec(Sql::UpdateThresholds, b);
}

void UpdateCompensation(TDatabase& db, qint64 id, const TCompensation& c)
{
    static const char* const names[] = {":a", ":b", ":c", ":d"};
    TBindings b{{":id", id}};
    tempBindings(b, names, c.data(), c.size());
    db.Exec(Sql::UpdateCompensation, b);
}

void UpdateFanTiming(TDatabase& db, qint64 id, int tf, int run)
{
    db.Exec(Sql::UpdateFanTiming, {{":tf", tf}, {":run", run}, {":id", id}});
}

void UpdateLink(TDatabase& db, qint64 id, int address, int baud)
{
    db.Exec(Sql::UpdateLink, {{":address", address}, {":baud", baud}, {":id", id}});
}

void UpdateModel(TDatabase& db, qint64 id, const QString& typeName, const QString& capition)
{
    db.Exec(Sql::UpdateModel, {{":type", textOrEmpty(typeName)}, {":implication", textOrEmpty(capition)}, {":id", id}});
}

void UpdateRunTimes(TDatabase& db, qint64 id, int seconds, int count)
{
    db.Exec(Sql::UpdateRunTimes, {{":seconds", seconds}, {":count", count}, {":id", id}});
}

void UpdateComPort(TDatabase& db, qint64 id, const QString& port, int baud)
{
    db.Exec(Sql::UpdateComPort, {{":port", textOrEmpty(port)}, {":baud", baud}, {":id", id}});
}

bool CopyToTempApparatus(TDatabase& db)
{
    try {
        db.Exec(Sql::CopyToTemp);
        return true;
    } catch (const EDatabaseError&) {
        return false; // a copy left from an earlier run is used as it is
    }
}

TQueryResult SelectEnabledTempApparatus(TDatabase& db)
{
    return db.Query(Sql::SelectEnabledTemp);
}

void DropTempApparatus(TDatabase& db)
{
    db.Exec(Sql::DropTemp);
}

void InsertRecord(TDatabase& db, qint64 id, const QDateTime& when, const TPhaseTemps& live,
                  const TPhaseTemps& blackBox)
{
    static const char* const liveNames[] = {":a", ":b", ":c", ":d"};
    static const char* const blackNames[] = {":ba", ":bb", ":bc", ":bd"};
    TBindings b{{":id", id}, {":p1", DateTimeText(when)}};
    tempBindings(b, liveNames, live.data(), live.size());
    tempBindings(b, blackNames, blackBox.data(), blackBox.size());
    db.Exec(Sql::InsertRecord, b);
}

TQueryResult SelectRecords(TDatabase& db, qint64 id, const QDateTime& begin, const QDateTime& end)
{
    return db.Query(Sql::SelectRecords, {{":id", id}, {":p1", DateTimeText(begin)}, {":p2", DateTimeText(end)}});
}

void InsertHistory(TDatabase& db, const THistoryRow& r)
{
    static const char* const tNames[] = {":t1", ":t2", ":t3", ":t4", ":t5", ":t6", ":t7"};
    static const char* const aNames[] = {":a", ":b", ":c", ":d"};
    TBindings b{{":p1", DateTimeText(r.InDate)},
                {":name", textOrEmpty(r.ApparatusName)},
                {":address", r.ApparatusAddress},
                {":baud", r.ApparatusBate},
                {":type", textOrEmpty(r.ApparatusType)},
                {":implication", textOrEmpty(r.Implication)},
                {":tf", r.TF},
                {":run", r.RUN},
                {":operator", r.Operator.isEmpty() ? QVariant() : QVariant(r.Operator)}};
    for (std::size_t i = 0; i < r.T.size(); ++i)
        b.emplace_back(QLatin1String(tNames[i]), r.T[i]);
    for (std::size_t i = 0; i < r.Atone.size(); ++i)
        b.emplace_back(QLatin1String(aNames[i]), r.Atone[i]);
    db.Exec(Sql::InsertHistory, b);
}

TQueryResult SelectHistory(TDatabase& db)
{
    return db.Query(Sql::SelectHistory);
}

namespace {

QSqlTableModel* sortedModel(TDatabase& db, QObject* parent, const QString& table, QSqlTableModel::EditStrategy s)
{
    auto* model = new QSqlTableModel(parent, db.connection());
    model->setTable(table);
    model->setEditStrategy(s);
    model->setSort(model->fieldIndex(Column::ApparatusAddress), Qt::AscendingOrder);
    if (!model->select())
        throw EDatabaseError::From(model->lastError());
    return model;
}

} // namespace

QSqlTableModel* CreateApparatusModel(TDatabase& db, QObject* parent)
{
    return sortedModel(db, parent, QStringLiteral("Apparatus"), QSqlTableModel::OnRowChange);
}

QSqlTableModel* CreateHistoryModel(TDatabase& db, QObject* parent)
{
    return sortedModel(db, parent, QStringLiteral("ApparatusHistory"), QSqlTableModel::OnFieldChange);
}

} // namespace zeva

namespace zeva {

namespace {

QVariant addressValue(int address)
{
    return address < 0 ? QVariant() : QVariant(address);
}

QVariant timeOrNull(const QDateTime& t)
{
    return t.isValid() ? QVariant(DateTimeText(t)) : QVariant();
}

} // namespace

void InsertJournal(TDatabase& db, const TJournalEntry& e)
{
    QVariant id = e.address < 0 ? QVariant() : QVariant(LookupEnabledId(db, e.address));
    db.Exec(Sql::InsertJournal, {{":id", id},
                                 {":address", addressValue(e.address)},
                                 {":kind", e.kind},
                                 {":text", e.text},
                                 {":p1", DateTimeText(e.when)},
                                 {":priority", e.priority < 0 ? QVariant() : QVariant(e.priority)},
                                 {":value", e.value ? QVariant(*e.value) : QVariant()},
                                 {":chatter", e.chatter ? QVariant(1) : QVariant()},
                                 {":alarm", e.kind.startsWith(QLatin1String("alarm.")) ? 1 : 0}});
}

void InsertJournal(TDatabase& db, int address, const QString& kind, const QString& text, const QDateTime& when)
{
    TJournalEntry e;
    e.what = TJournalEntry::What::Raise;
    e.when = when;
    e.address = address;
    e.kind = kind;
    e.text = text;
    InsertJournal(db, e);
}

void ClearJournal(TDatabase& db, int address, const QString& kind, const QDateTime& when)
{
    db.Exec(Sql::ClearJournal, {{":p1", DateTimeText(when)}, {":kind", kind}, {":address", addressValue(address)}});
}

void AcknowledgeJournal(TDatabase& db, const std::vector<qint64>& ids, const QDateTime& when, const QString& user,
                        const QString& comment)
{
    const QVariant note = comment.trimmed().isEmpty() ? QVariant() : QVariant(comment.trimmed());
    if (ids.empty()) {
        db.Exec(Sql::AcknowledgeAllJournal, {{":p1", DateTimeText(when)}, {":user", user}, {":comment", note}});
        return;
    }
    for (qint64 id : ids)
        db.Exec(Sql::AcknowledgeJournal, {{":p1", DateTimeText(when)}, {":user", user}, {":comment", note}, {":id", id}});
}

namespace {
QString idsJson(const std::vector<qint64>& ids)
{
    QStringList parts;
    for (qint64 id : ids)
        parts << QString::number(id);
    return QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
}

std::vector<TShelfRow> shelfRows(TQueryResult r)
{
    std::vector<TShelfRow> rows;
    for (r.First(); !r.Eof(); r.Next()) {
        const QVariant address = r.Field(QStringLiteral("ApparatusAddress"));
        rows.push_back({r.FieldAsInteger(QStringLiteral("ID")), address.isNull() ? -1 : int(address.toLongLong()),
                        r.FieldAsString(QStringLiteral("Kind")), r.FieldAsString(QStringLiteral("Text")),
                        r.FieldAsString(QStringLiteral("AckedAt")), r.FieldAsString(QStringLiteral("AckedBy")),
                        r.FieldAsString(QStringLiteral("AckComment"))});
    }
    return rows;
}
} // namespace

TAlarmSummary SummarizeAlarms(TDatabase& db)
{
    TAlarmSummary s;
    s.unacknowledged = db.Query(Sql::CountUnacknowledged).FieldAsInteger(QStringLiteral("n"));
    s.standing = db.Query(Sql::CountStanding).FieldAsInteger(QStringLiteral("n"));
    const TQueryResult top = db.Query(Sql::SelectTopAlarm);
    if (top.RecordCount() > 0) {
        const QVariant address = top.Field(QStringLiteral("ApparatusAddress"));
        s.topAddress = address.isNull() ? -1 : int(address.toLongLong());
        s.topText = top.FieldAsString(QStringLiteral("Text"));
        s.topPriority = int(top.FieldAsInteger(QStringLiteral("p")));
    }
    return s;
}

std::map<int, int> StandingPriorities(TDatabase& db)
{
    std::map<int, int> out;
    TQueryResult r = db.Query(Sql::SelectStandingPriorities);
    for (r.First(); !r.Eof(); r.Next()) {
        const QVariant address = r.Field(QStringLiteral("ApparatusAddress"));
        out[address.isNull() ? -1 : int(address.toLongLong())] = int(r.FieldAsInteger(QStringLiteral("p")));
    }
    return out;
}

std::vector<qint64> SelectBeepingAlarms(TDatabase& db, int mostUrgentPriority)
{
    std::vector<qint64> ids;
    TQueryResult r = db.Query(Sql::SelectBeeping, {{":p", mostUrgentPriority}});
    for (r.First(); !r.Eof(); r.Next())
        ids.push_back(r.FieldAsInteger(QStringLiteral("ID")));
    return ids;
}

std::vector<TShelfRow> ShelveJournal(TDatabase& db, const std::vector<qint64>& ids, const QDateTime& until,
                                     const QString& user, const QString& reason)
{
    db.Exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        std::vector<TShelfRow> rows = shelfRows(db.Query(Sql::SelectShelvable, {{":ids", idsJson(ids)}}));
        std::vector<qint64> shelved;
        for (const TShelfRow& row : rows)
            shelved.push_back(row.id);
        db.Exec(Sql::ShelveJournal, {{":ids", idsJson(shelved)},
                                     {":until", DateTimeText(until)},
                                     {":user", user},
                                     {":reason", reason.trimmed()}});
        db.Exec(QStringLiteral("COMMIT"));
        return rows;
    } catch (const EDatabaseError&) {
        db.Exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

std::vector<TShelfRow> SelectShelfDue(TDatabase& db, const QDateTime& now)
{
    return shelfRows(db.Query(Sql::SelectShelfDue, {{":now", DateTimeText(now)}}));
}

void EndShelves(TDatabase& db, const std::vector<qint64>& standing, const QDateTime& now)
{
    db.Exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        if (!standing.empty())
            db.Exec(Sql::ReturnShelved, {{":ids", idsJson(standing)}});
        db.Exec(Sql::EndClearedShelves, {{":now", DateTimeText(now)}});
        db.Exec(QStringLiteral("COMMIT"));
    } catch (const EDatabaseError&) {
        db.Exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

std::map<std::pair<int, QString>, TShelved> SelectShelved(TDatabase& db)
{
    std::map<std::pair<int, QString>, TShelved> out;
    TQueryResult r = db.Query(Sql::SelectShelved);
    for (r.First(); !r.Eof(); r.Next()) {
        const QVariant address = r.Field(QStringLiteral("ApparatusAddress"));
        out[{address.isNull() ? -1 : int(address.toLongLong()), r.FieldAsString(QStringLiteral("Kind"))}] = {
            QDateTime::fromString(r.FieldAsString(QStringLiteral("until")), DateTimeFormat),
            QDateTime::fromString(r.FieldAsString(QStringLiteral("due")), DateTimeFormat),
            r.FieldAsInteger(QStringLiteral("standing")) != 0};
    }
    return out;
}

std::pair<qint64, qint64> CountChangeableAlarms(TDatabase& db, qint64 upTo)
{
    const TQueryResult r = db.Query(Sql::CountChangeableAlarms, {{":p", upTo}});
    return {r.FieldAsInteger(QStringLiteral("o")), r.FieldAsInteger(QStringLiteral("u"))};
}

QString LastJournalText(TDatabase& db, const QString& kind)
{
    return db.Query(Sql::LastJournalText, {{":kind", kind}}).FieldAsString(QStringLiteral("Text"));
}

TQueryResult SelectOpenAlarms(TDatabase& db)
{
    return db.Query(Sql::SelectOpenAlarms);
}

qint64 CountUnacknowledgedAlarms(TDatabase& db)
{
    return db.Query(Sql::CountUnacknowledged).FieldAsInteger(QStringLiteral("n"));
}

std::vector<qint64> SelectJournalIds(TDatabase& db, int address, const QDateTime& from, const QDateTime& to)
{
    const QVariant all = address == -2 ? 1 : 0;
    std::vector<qint64> ids;
    for (const TQueryResult& part :
         {db.Query(Sql::SelectJournalActiveIds, {{":all", all}, {":address", addressValue(address)}}),
          db.Query(Sql::SelectJournalRestIds, {{":all", all},
                                               {":address", addressValue(address)},
                                               {":from", timeOrNull(from)},
                                               {":to", timeOrNull(to)}})})
        for (const QVariantList& row : part.rows())
            ids.push_back(row.front().toLongLong());
    return ids;
}

TQueryResult SelectJournalRows(TDatabase& db, const std::vector<qint64>& ids)
{
    TQueryResult r = db.Query(Sql::SelectJournalRows, {{":ids", idsJson(ids)}});
    // In the order asked for.
    std::unordered_map<qint64, std::size_t> at;
    for (std::size_t i = 0; i < r.rows().size(); ++i)
        at.emplace(r.rows()[i].front().toLongLong(), i);
    std::vector<QVariantList> rows;
    rows.reserve(ids.size());
    for (qint64 id : ids)
        if (auto it = at.find(id); it != at.end())
            rows.push_back(r.rows()[it->second]);
    return TQueryResult(r.columns(), std::move(rows));
}

TQueryResult SelectJournal(TDatabase& db, int address, const QDateTime& from, const QDateTime& to)
{
    return SelectJournalRows(db, SelectJournalIds(db, address, from, to));
}

} // namespace zeva

// --- alarm statistics ---
namespace zeva {
namespace {
namespace Sql {
// In the order of the time index, so no sort: the statistics are made from this one pass.
const QString SelectAlarmsRaised = QStringLiteral(
    "SELECT coalesce(j.ApparatusAddress, -1), j.Kind, j.Text, j.RaisedAt, j.ClearedAt, j.AckedAt, a.ApparatusName "
    "FROM EventJournal j LEFT JOIN Apparatus a ON a.ID = j.ApparatusID "
    "WHERE j.Kind LIKE 'alarm.%' AND j.RaisedAt >= :from AND j.RaisedAt <= :to ORDER BY j.RaisedAt, j.ID");
} // namespace Sql
} // namespace

TQueryResult SelectAlarmsRaised(TDatabase& db, const QDateTime& from, const QDateTime& to)
{
    return db.Query(Sql::SelectAlarmsRaised, {{":from", DateTimeText(from)}, {":to", DateTimeText(to)}});
}
} // namespace zeva
