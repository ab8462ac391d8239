// Every statement of the system, each a named function with bound values, and the schema.
#pragma once

#include "Database.h"
#include "Frames.h"

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QSqlTableModel;
class QObject;

namespace zeva {

struct TJournalEntry;

// The column names, as the windows and the grids use them.
namespace Column {
inline const QString ID = QStringLiteral("ID");
inline const QString ApparatusName = QStringLiteral("ApparatusName");
inline const QString ApparatusAddress = QStringLiteral("ApparatusAddress");
inline const QString ApparatusType = QStringLiteral("ApparatusType");
inline const QString Implication = QStringLiteral("Implication");
inline const QString CFlag = QStringLiteral("CFlag");
inline const QString ApparatusBate = QStringLiteral("ApparatusBate");
inline const QString InDateTime = QStringLiteral("InDateTime");
inline const QString InDate = QStringLiteral("InDate");
// T1..T7, AAtoneT..DAtoneT, AHightT..DHightT, the record's eight temperatures.
QString T(int i);                // i = 1..7
QString AtoneT(int phase);       // 0..3 = A..D
QString HightT(int phase);       // 0..3
QString ActTemperature(int phase);
QString BlackTemperature(int phase);
} // namespace Column

// Creates the three permanent tables, the event journal and their indexes in an empty database
// (zeva-initdb).
void CreateSchema(TDatabase& db);
// Adds the event journal to a database that lacks it, touching nothing else; true when it did.
// Creates the journal, or gives an older one the columns it lacks (priority, value, chatter, the
// acknowledgement's comment, shelving).
enum class TJournalUpgrade { None, Created, Columns };
TJournalUpgrade EnsureEventJournal(TDatabase& db);
// ApparatusHistory's Operator column, which an older database lacks; true when it was added.
bool EnsureHistoryOperator(TDatabase& db);
// The forwarder's position per table (the last ID the central database has), made when missing.
void EnsureForwardPosition(TDatabase& db);
qint64 ReadForwardPosition(TDatabase& db, const QString& table);
void WriteForwardPosition(TDatabase& db, const QString& table, qint64 lastId);
// This database's own random key among the central database's stations (made at the first call):
// a station name that another database already forwards under is refused.
qint64 ForwardDatabaseKey(TDatabase& db);
// The next readings after a position (in ID order, at most `limit`) as the central database takes
// them, made by SQLite in one pass: times in UTC ("2026-12-09T00:00:00Z", the 'utc' modifier applying
// the station's zone). A reading whose time is malformed or out of the years 1 to 9999, or before
// `fromUtc` ("2026-10-01"; empty: no bound), is left out of the lines but counts in `last`; a
// temperature that is no finite number is NULL.
struct TRecordBatch {
    qint64 last = 0;    // the highest ID read; 0 when none was
    int read = 0;       // readings read
    int kept = 0;       // readings in the lines
    std::string lines;  // COPY text lines: station, ID, instrument, UTC time, AAct..DAct, ABlack..DBlack
    QStringList months; // the UTC months of the kept readings ("2026-11")
    int leftOut = 0;    // readings without a usable time or instrument, and the first of them
    qint64 firstLeftOut = 0;
    int nulled = 0;     // temperatures that were no finite number, sent as NULL, and the first reading
    qint64 firstNulled = 0;
    int changed = 0;    // instruments or times sent as SQLite reads them, not as stored, and the first
    qint64 firstChanged = 0;
};
// `station` is the first field of every line, as COPY takes it.
TRecordBatch SelectRecordCopyAfter(TDatabase& db, qint64 lastId, int limit, const QString& fromUtc, const QString& station);
// Parameter writes and journal entries after a position, in ID order, at most `limit` (the ID first,
// then the table's columns; the journal's as SelectJournalRows gives them).
TQueryResult SelectHistoryAfter(TDatabase& db, qint64 lastId, int limit);
TQueryResult SelectJournalAfter(TDatabase& db, qint64 lastId, int limit);
// Alarms not yet both cleared and acknowledged (their IDs).
TQueryResult SelectUnsettledAlarms(TDatabase& db);
// A number that changes whenever another connection commits to the database (a cheap "anything
// new?" for a reader that polls).
qint64 DataVersion(TDatabase& db);
// Commits of this connection are not flushed to the disk at once: for writes that may be lost in a
// power cut because they are made again (the forwarder's position).
void UseLazyCommits(TDatabase& db);
// The highest ID of the readings, the parameter writes and the journal (0 when none), in one read.
struct TLastIds {
    qint64 records = 0;
    qint64 history = 0;
    qint64 journal = 0;
};
TLastIds LastIds(TDatabase& db);
// Adds one instrument row (zeva-initdb --demo, tests); returns its ID.
qint64 InsertApparatus(TDatabase& db, const QString& name, int address, bool enabled,
                       const QString& type = {}, const QString& implication = {});

// --- Apparatus ---
TQueryResult SelectApparatus(TDatabase& db);        // all, by address
TQueryResult SelectEnabledApparatus(TDatabase& db); // CFlag set, by address
TQueryResult SelectApparatusById(TDatabase& db, qint64 id);
// Enabled instruments at `address` other than row `exceptId`.
TQueryResult SelectEnabledAtAddress(TDatabase& db, int address, qint64 exceptId);
// The ID readings are stored under; 0 when no enabled instrument has the address.
qint64 LookupEnabledId(TDatabase& db, int address);
// The ID for an address typed by the operator (trimmed, then converted); 0 when none.
// Throws EConvertError for a text that is no whole number.
qint64 LookupIdByAddressText(TDatabase& db, const QString& typed);

void UpdateHighest(TDatabase& db, qint64 id, const TPhaseTemps& highest);
void UpdateThresholds(TDatabase& db, qint64 id, const TThresholds& t);
void UpdateCompensation(TDatabase& db, qint64 id, const TCompensation& c);
void UpdateFanTiming(TDatabase& db, qint64 id, int tf, int run);
void UpdateLink(TDatabase& db, qint64 id, int address, int baud);
void UpdateModel(TDatabase& db, qint64 id, const QString& typeName, const QString& capition);
void UpdateRunTimes(TDatabase& db, qint64 id, int seconds, int count);
void UpdateComPort(TDatabase& db, qint64 id, const QString& port, int baud);

// --- TempApparatus ---
// False when the copy already exists (left from an earlier run): that copy is then used.
bool CopyToTempApparatus(TDatabase& db);
TQueryResult SelectEnabledTempApparatus(TDatabase& db);
void DropTempApparatus(TDatabase& db);

// --- ApparatusRecord ---
void InsertRecord(TDatabase& db, qint64 id, const QDateTime& when, const TPhaseTemps& live,
                  const TPhaseTemps& blackBox);
// Both ends included, in time order.
TQueryResult SelectRecords(TDatabase& db, qint64 id, const QDateTime& begin, const QDateTime& end);

// --- ApparatusHistory ---
// What the configuration window showed at a write; a box that held no number is NULL.
struct THistoryRow {
    QDateTime InDate;
    QString ApparatusName;
    QVariant ApparatusAddress;
    QVariant ApparatusBate;
    QString ApparatusType;
    QString Implication;
    std::array<QVariant, 7> T;
    std::array<QVariant, 4> Atone;
    QVariant TF;
    QVariant RUN;
    QString Operator; // the operating-system user who wrote
};
void InsertHistory(TDatabase& db, const THistoryRow& row);
TQueryResult SelectHistory(TDatabase& db);

// --- EventJournal ---
// A raised alarm or an event; the ID is looked up by address (NULL for the whole bus, address -1).
// An alarm raised while the same one is shelved is shelved until the same time.
void InsertJournal(TDatabase& db, const TJournalEntry& entry);
void InsertJournal(TDatabase& db, int address, const QString& kind, const QString& text, const QDateTime& when);
// Clears the newest open alarm of that kind and address.
void ClearJournal(TDatabase& db, int address, const QString& kind, const QDateTime& when);
// Acknowledges the alarms among `ids` not yet acknowledged (all of them when `ids` is empty).
// `comment` (blank: none) goes with each.
void AcknowledgeJournal(TDatabase& db, const std::vector<qint64>& ids, const QDateTime& when, const QString& user,
                        const QString& comment = {});
// The counts leave shelved alarms out.
qint64 CountUnacknowledgedAlarms(TDatabase& db);
struct TAlarmSummary {
    qint64 unacknowledged = 0;
    qint64 standing = 0; // not yet cleared
    // The most urgent alarm not cleared or not acknowledged; topPriority -1 when none.
    int topPriority = -1;
    int topAddress = -1;
    QString topText;
};
TAlarmSummary SummarizeAlarms(TDatabase& db);
// The most urgent standing priority of each address (-1: the bus).
std::map<int, int> StandingPriorities(TDatabase& db);
// Standing, unacknowledged and not shelved alarms of that priority or a more urgent one.
std::vector<qint64> SelectBeepingAlarms(TDatabase& db, int mostUrgentPriority);
// Shelving: the alarms among `ids` that may be shelved (not both cleared and acknowledged) leave
// every count until `until`; the rows shelved are returned.
struct TShelfRow {
    qint64 id;
    int address;
    QString kind;
    QString text;
    QString ackedAt, ackedBy, ackComment; // the acknowledgement a return undoes
};
std::vector<TShelfRow> ShelveJournal(TDatabase& db, const std::vector<qint64>& ids, const QDateTime& until,
                                     const QString& user, const QString& reason);
// The shelved alarms due at `now` and still standing.
std::vector<TShelfRow> SelectShelfDue(TDatabase& db, const QDateTime& now);
// Ends shelves: `standing` (due, still standing) come back unacknowledged; those cleared meanwhile
// and due at `now` just end (an unacknowledged one counts again).
void EndShelves(TDatabase& db, const std::vector<qint64>& standing, const QDateTime& now);
// The shelved alarms by address and kind: until when the newest shelf lasts (a new raise joins
// it), when the first one ends, and whether one still stands.
struct TShelved {
    QDateTime until;
    QDateTime due;
    bool standing = false;
};
std::map<std::pair<int, QString>, TShelved> SelectShelved(TDatabase& db);
// The alarms not yet cleared: ApparatusAddress (NULL for the whole bus) and Kind.
TQueryResult SelectOpenAlarms(TDatabase& db);
// Among the entries up to `upTo`, the alarms not yet cleared and those not yet acknowledged. A row
// only gets cleared and acknowledged, never the other way, but for an alarm back from the shelf
// unacknowledged: its return (and its shelving) is journaled, and that new row tells the change.
std::pair<qint64, qint64> CountChangeableAlarms(TDatabase& db, qint64 upTo);
// The text of the newest entry of that kind; empty when none.
QString LastJournalText(TDatabase& db, const QString& kind);
// Active alarms first (not cleared), then the rest, newest first; an address of -2 means all, a
// null date no bound. Alarms still active or not yet acknowledged show whatever their date.
TQueryResult SelectJournal(TDatabase& db, int address, const QDateTime& from, const QDateTime& to);
// The same as IDs in that order, and the rows of some IDs in the order given.
std::vector<qint64> SelectJournalIds(TDatabase& db, int address, const QDateTime& from, const QDateTime& to);
TQueryResult SelectJournalRows(TDatabase& db, const std::vector<qint64>& ids);

// --- grids ---
// Editable, sorted by address; an edited row reaches the table when it is submitted.
QSqlTableModel* CreateApparatusModel(TDatabase& db, QObject* parent);
// Rows may be deleted; sorted by address.
QSqlTableModel* CreateHistoryModel(TDatabase& db, QObject* parent);

} // namespace zeva

// --- alarm statistics ---
namespace zeva {
// The alarms raised from `from` to `to` (both included), in time order: address (-1 for the bus),
// Kind, Text, RaisedAt, ClearedAt, AckedAt and the instrument's ApparatusName.
TQueryResult SelectAlarmsRaised(TDatabase& db, const QDateTime& from, const QDateTime& to);
} // namespace zeva
