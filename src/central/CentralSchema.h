// The central PostgreSQL store of many stations: where to reach it (Data.ini section "Central" or a
// libpq connection string), and its schema in PostgreSQL's own style. Every statement of the central
// database lives here.
#pragma once

#include "Database.h"
#include "IniFile.h"
#include "Statements.h"

#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <vector>

namespace zeva {

struct TCentralConfig {
    QString host;      // a host name or, starting with '/', the folder of a Unix socket
    int port = 5432;
    QString database;
    QString user;
    QString station;   // this station's name in every central row
    QString sslMode = QStringLiteral("prefer");
    int retentionMonths = 0; // 0: readings are kept for ever
    // No section, or an empty Host: nothing is forwarded.
    bool Enabled() const { return !host.isEmpty(); }
};

// Section "Central" of Data.ini; Station defaults to the host name. Nothing is written.
TCentralConfig ReadCentralConfig(TIniFile& ini);
// "host=/run/postgresql port=5432 dbname=plant user=zeva sslmode=require" (libpq's keys; values may
// be single-quoted). Throws std::invalid_argument for a key it does not know or a malformed pair.
TCentralConfig ParseConnInfo(const QString& conninfo);

// A QPSQL connection of that name, opened; throws EDatabaseError with the server's reason. No
// password is ever set: libpq's password file or peer authentication.
QSqlDatabase OpenCentral(const QString& connectionName, const TCentralConfig& config);

// Creates what is missing of the central schema and leaves what is there (every run may call it).
void EnsureCentralSchema(QSqlDatabase& db);
// The readings' partition of the month of `day`, created when missing; its name.
QString EnsureMonthPartition(QSqlDatabase& db, QDate day);
// Drops the readings' partitions wholly before the month of `day`; their names.
QStringList DropPartitionsBefore(QSqlDatabase& db, QDate day);
// "apparatus_record_2026_12"
QString MonthPartitionName(QDate day);

// The station's row, made when missing with the key of the database it forwards from; its last_seen
// moves on. Throws EDatabaseError when the name is another database's.
void UpsertStation(QSqlDatabase& db, const QString& station, qint64 databaseKey);
// A batch of the station's readings, as SelectRecordBatchAfter made it; a row the central database
// has already is left as it is. The partitions of their months must exist.
void InsertRecords(QSqlDatabase& db, const QString& station, const TRecordBatch& batch);
// The station's registry (SelectApparatus's columns): a new or changed row is written, one the
// central database holds as it is stays untouched; the rows whose local ID is not in `present` are
// marked removed (a row that comes back is marked present again).
void UpsertApparatus(QSqlDatabase& db, const QString& station, const TQueryResult& rows);
void MarkRemovedApparatus(QSqlDatabase& db, const QString& station, const std::vector<qint64>& present);
// Parameter writes (SelectHistoryAfter's columns); a row the central database has is brought up to
// date when it differs (an ID given again).
void InsertHistoryRows(QSqlDatabase& db, const QString& station, const TQueryResult& rows);
// Journal entries (SelectJournalAfter's columns), new or changed since: a later clear or
// acknowledgement reaches the central row.
void UpsertJournal(QSqlDatabase& db, const QString& station, const TQueryResult& rows);
// The station's alarms the central database holds open (not cleared or not acknowledged), by local ID.
std::vector<qint64> SelectOpenJournal(QSqlDatabase& db, const QString& station);

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
