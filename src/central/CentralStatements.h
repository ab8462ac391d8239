// The station's rows as the central database takes them, and every statement that writes them: the
// registry, the parameter writes and the journal row by row, the readings through COPY, and how far
// each table is sent, in the transaction of the rows it covers.
#pragma once

#include "Database.h"
#include "PgConnection.h"

#include <QDate>
#include <QString>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace zeva {

// Says a value that is cut or changed on its way to the central database in the log, once for
// each column and reason in the life of the object.
class TValueNotes {
public:
    void Note(const QString& what, qint64 id, const QString& value, const QString& why);

private:
    std::set<QString> m_said;
};

// The station's row, made when missing with the key of the database it forwards from; its last_seen
// moves on. True when it was made now. Throws EPgError when the name is another database's.
bool UpsertStation(TPgConnection& db, const QString& station, qint64 databaseKey);
// The station's registry (SelectApparatus's columns): a new or changed row is written, one the
// central database holds as it is stays untouched; the rows whose local ID is not in `present` are
// marked removed (a row that comes back is marked present again).
void UpsertApparatus(TPgConnection& db, const QString& station, const TQueryResult& rows, TValueNotes& notes);
void MarkRemovedApparatus(TPgConnection& db, const QString& station, const std::vector<qint64>& present);
// Parameter writes (SelectHistoryAfter's columns); a row the central database has is brought up to
// date when it differs (an ID given again).
void InsertHistoryRows(TPgConnection& db, const QString& station, const TQueryResult& rows, TValueNotes& notes);
// Journal entries (SelectJournalAfter's columns), new or changed since: a later clear or
// acknowledgement reaches the central row.
void UpsertJournal(TPgConnection& db, const QString& station, const TQueryResult& rows, TValueNotes& notes);
// The station's alarms the central database holds open (not cleared or not acknowledged), by local ID.
std::vector<qint64> SelectOpenJournal(TPgConnection& db, const QString& station);

// The central names of the station's tables, as forward_position holds them.
namespace CentralTable {
inline const std::string Records = "apparatus_record";
inline const std::string History = "apparatus_history";
inline const std::string Journal = "event_journal";
} // namespace CentralTable
// How far each table of the station was sent, as the central database has it (a table it does
// not name was never sent with a position).
std::map<std::string, qint64> ReadCentralPositions(TPgConnection& db, const QString& station);
void WriteCentralPosition(TPgConnection& db, const QString& station, const std::string& table, qint64 lastId);

// A station's name as one field of COPY's text format.
QString CopyField(const QString& text);
// Readings as lines of COPY's text format (SelectRecordCopyAfter's), stored with the position of the
// readings' table in one transaction. Straight into the table, as fast as the server takes rows;
// when some are there already (sent by an earlier version, or the central database restored), the
// batch goes again through a temporary table, leaving those as they are. `meanwhile` runs while the
// server digests the rows; `step` hears "began", "copied" and "positioned" as the transaction goes.
void CopyRecords(TPgConnection& db, const QString& station, const std::string& lines, qint64 lastId,
                 const std::function<void()>& meanwhile = {}, const std::function<void(const char*)>& step = {});

// The station's local times of stored rows ("yyyy-MM-dd HH:mm:ss") with their offset from UTC, as
// PostgreSQL reads a timestamptz ("2026-12-09T08:00:00+08:00"), and their UTC day (the partitions'
// months are UTC months). The zone's rules are slow to ask; they are asked once per local hour, and a
// change of offset within an hour shows as different offsets at its two ends.
class TLocalTimes {
public:
    struct TTime {
        QString iso;  // empty for a malformed text
        QDate utcDay; // invalid then
    };
    TTime Of(const QString& localText);

private:
    QString m_hour; // "yyyy-MM-dd HH" of the cached offset
    int m_offset = 0;
    bool m_uniform = false; // the whole hour has that offset
};
QString CentralTime(const QString& localText);

} // namespace zeva
