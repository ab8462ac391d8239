// The database on real SQLite files: opening, every statement, look-ups, the registry copy,
// literal storage of hostile text, a competing writer and a killed writer.
#include "Convert.h"
#include "Database.h"
#include "Statements.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

using namespace zeva;

namespace {


struct DbFixture : ::testing::Test {
    QTemporaryDir dir;
    TDatabase db;

    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(dir.filePath("DataBase")));
        QFile f(TDatabase::FileFor(dir.path()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        ASSERT_TRUE(db.Open(dir.path()));
        CreateSchema(db);
    }
    std::string sqlite(const std::string& sql) const
    {
        return zeva::test::Shell("sqlite3 '" + TDatabase::FileFor(dir.path()).toStdString() + "' \"" + sql + "\"");
    }
};

QDateTime at(const char* text)
{
    return QDateTime::fromString(QLatin1String(text), DateTimeFormat);
}

} // namespace

TEST(DatabaseOpen, MissingFolderOrFileIsAFailureAndCreatesNothing)
{
    QTemporaryDir dir;
    TDatabase db;
    EXPECT_FALSE(db.Open(dir.path()));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("DataBase")));
    EXPECT_FALSE(db.Open(dir.path()));
    EXPECT_FALSE(QFile::exists(TDatabase::FileFor(dir.path()))) << "never a new empty file";
    QFile junk(TDatabase::FileFor(dir.path()));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    EXPECT_FALSE(db.Open(dir.path())) << "a file that is no database";
    EXPECT_FALSE(db.IsOpen());
}

TEST_F(DbFixture, PragmasAndSchema)
{
    EXPECT_EQ(sqlite("PRAGMA journal_mode"), "wal\n");
    EXPECT_EQ(db.Query("PRAGMA synchronous").rows().front().front().toInt(), 2) << "FULL";
    EXPECT_EQ(db.Query("PRAGMA busy_timeout").rows().front().front().toInt(), 1000);
    EXPECT_EQ(sqlite("SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='ApparatusRecord'"),
              "ApparatusRecordByTime\n");
}

TEST_F(DbFixture, AnOlderDatabaseGetsTheEventJournalAndTheWritersColumnAndNothingElseChanges)
{
    EXPECT_EQ(EnsureEventJournal(db), TJournalUpgrade::None) << "a new database has it";
    // An older database: the three permanent tables with rows, no journal.
    InsertApparatus(db, "old", 4, true);
    InsertRecord(db, 1, QDateTime::currentDateTime(), {1, 2, 3, 4}, {5, 6, 7, 8});
    db.Exec("DROP TABLE EventJournal");
    const std::string before = sqlite(".dump Apparatus") + sqlite(".dump ApparatusRecord") + sqlite(".dump ApparatusHistory");
    EXPECT_EQ(EnsureEventJournal(db), TJournalUpgrade::Created);
    EXPECT_EQ(sqlite(".dump Apparatus") + sqlite(".dump ApparatusRecord") + sqlite(".dump ApparatusHistory"), before);
    const std::string columns = "ID,ApparatusID,ApparatusAddress,Kind,Text,RaisedAt,ClearedAt,AckedAt,AckedBy,Priority,"
                                "Value,Chatter,AckComment,ShelvedUntil,ShelvedBy,ShelveReason\n";
    EXPECT_EQ(sqlite("SELECT group_concat(name) FROM pragma_table_info('EventJournal')"), columns);
    EXPECT_EQ(EnsureEventJournal(db), TJournalUpgrade::None) << "once";
    // A journal of the first kind keeps its rows and gains the later columns.
    db.Exec("DROP TABLE EventJournal");
    db.Exec("CREATE TABLE EventJournal (ID INTEGER PRIMARY KEY AUTOINCREMENT, ApparatusID INTEGER, ApparatusAddress "
            "INTEGER, Kind TEXT NOT NULL, Text TEXT, RaisedAt TEXT NOT NULL, ClearedAt TEXT, AckedAt TEXT, AckedBy TEXT)");
    db.Exec("INSERT INTO EventJournal(Kind, Text, RaisedAt) VALUES('alarm.door', '柜门打开', '2026-01-01 00:00:00')");
    EXPECT_EQ(EnsureEventJournal(db), TJournalUpgrade::Columns);
    EXPECT_EQ(sqlite("SELECT group_concat(name) FROM pragma_table_info('EventJournal')"), columns);
    EXPECT_EQ(sqlite("SELECT Text FROM EventJournal"), "柜门打开\n");

    // A parameter history without the writer's column keeps its rows and gains the column.
    THistoryRow h;
    h.ApparatusName = "old";
    InsertHistory(db, h);
    db.Exec("ALTER TABLE ApparatusHistory DROP COLUMN Operator");
    EXPECT_TRUE(EnsureHistoryOperator(db));
    EXPECT_FALSE(EnsureHistoryOperator(db)) << "once";
    EXPECT_EQ(sqlite("SELECT ApparatusName || '|' || coalesce(Operator, 'null') FROM ApparatusHistory"), "old|null\n");
}

TEST_F(DbFixture, JournalRaiseClearAcknowledgeAndList)
{
    qint64 four = InsertApparatus(db, "four", 4, true);
    const QDateTime t0 = QDateTime::fromString("2026-12-09 08:00:00", "yyyy-MM-dd HH:mm:ss");
    InsertJournal(db, 4, "alarm.door", "柜门打开", t0);
    InsertJournal(db, 4, "event.fan", "风机控制输出：动作", t0.addSecs(1));
    InsertJournal(db, -1, "alarm.linkdown", "串口断开", t0.addSecs(2));
    InsertJournal(db, 4, "alarm.door", "柜门打开", t0.addSecs(3)); // a second opening, still open
    EXPECT_EQ(CountUnacknowledgedAlarms(db), 3) << "events need none";
    ClearJournal(db, 4, "alarm.door", t0.addSecs(4));
    ClearJournal(db, -1, "alarm.linkdown", t0.addSecs(5));
    ClearJournal(db, 4, "event.fan", t0.addSecs(6)); // events are never cleared
    EXPECT_EQ(sqlite("SELECT ID, ApparatusID, ApparatusAddress, ClearedAt FROM EventJournal ORDER BY ID"),
              "1|" + std::to_string(four) + "|4|\n2|" + std::to_string(four) +
                  "|4|\n3|||2026-12-09 08:00:05\n4|" + std::to_string(four) + "|4|2026-12-09 08:00:04\n")
        << "the newest open one of that kind and address";

    TQueryResult all = SelectJournal(db, -2, {}, {});
    std::vector<qint64> order;
    for (all.First(); !all.Eof(); all.Next())
        order.push_back(all.FieldAsInteger("ID"));
    EXPECT_EQ(order, (std::vector<qint64>{1, 4, 3, 2})) << "the active alarm first, then newest first";
    EXPECT_EQ(SelectJournal(db, -1, {}, {}).RecordCount(), 1) << "the bus's own";
    EXPECT_EQ(SelectJournal(db, 4, t0.addSecs(1), t0.addSecs(3)).RecordCount(), 3)
        << "both ends included, and the unacknowledged alarm of t0 whatever its date";
    EXPECT_EQ(SelectJournal(db, 4, t0.addSecs(1), t0.addSecs(1)).RecordCount(), 3) << "the fan event, and two alarms";

    AcknowledgeJournal(db, {1, 2}, t0.addSecs(10), "operator");
    EXPECT_EQ(CountUnacknowledgedAlarms(db), 2);
    EXPECT_EQ(sqlite("SELECT AckedAt, AckedBy FROM EventJournal WHERE ID IN (1, 2) ORDER BY ID"),
              "2026-12-09 08:00:10|operator\n|\n")
        << "an event is not acknowledged";
    AcknowledgeJournal(db, {}, t0.addSecs(20), "night");
    EXPECT_EQ(CountUnacknowledgedAlarms(db), 0);
    EXPECT_EQ(sqlite("SELECT AckedBy FROM EventJournal WHERE ID = 1"), "operator\n") << "kept";
}

TEST_F(DbFixture, NumericAddressOrderAndLookups)
{
    qint64 a100 = InsertApparatus(db, "c", 100, true);
    qint64 a2 = InsertApparatus(db, "a", 2, true);
    qint64 a10 = InsertApparatus(db, "b", 10, false);
    qint64 dup = InsertApparatus(db, "d", 2, true);
    TQueryResult all = SelectApparatus(db);
    ASSERT_EQ(all.RecordCount(), 4);
    std::vector<int> order;
    for (all.First(); !all.Eof(); all.Next())
        order.push_back(int(all.FieldAsInteger(Column::ApparatusAddress)));
    EXPECT_EQ(order, (std::vector<int>{2, 2, 10, 100}));
    EXPECT_EQ(SelectEnabledApparatus(db).RecordCount(), 3);

    EXPECT_EQ(LookupEnabledId(db, 2), a2) << "duplicate addresses: the first row";
    EXPECT_EQ(LookupEnabledId(db, 10), 0) << "disabled";
    EXPECT_EQ(LookupEnabledId(db, 55), 0) << "empty look-up gives 0";
    EXPECT_EQ(LookupIdByAddressText(db, " 10 "), a10);
    EXPECT_EQ(LookupIdByAddressText(db, "100"), a100);
    EXPECT_NE(dup, a2);
    try {
        LookupIdByAddressText(db, "1 or 1=1");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'1 or 1=1' is not a valid integer value");
    }

    TQueryResult empty = db.Query("SELECT * FROM Apparatus WHERE ID = -1");
    EXPECT_EQ(empty.RecordCount(), 0);
    EXPECT_EQ(empty.FieldAsString(Column::ApparatusName), "");
    EXPECT_EQ(empty.FieldAsInteger(Column::ID), 0);
    EXPECT_EQ(empty.FieldAsFloat(Column::T(1)), 0.0);
}

TEST_F(DbFixture, UpdatesStoreTemperaturesInTheirShortForm)
{
    qint64 id = InsertApparatus(db, "x", 1, true);
    UpdateThresholds(db, id, {85, 85.3, 80, 100, 0, 0, 6553.5});
    UpdateCompensation(db, id, {1.5, 0, 0, 2});
    UpdateHighest(db, id, {90.1, 91, 92, 93});
    UpdateFanTiming(db, id, 10, 30);
    UpdateLink(db, id, 9, 0);
    UpdateModel(db, id, "ZEVA5000-S", "ZEVA5000带RS485通讯接口");
    UpdateRunTimes(db, id, 3, 60);
    UpdateComPort(db, id, "/dev/ttyUSB0", 4800);
    EXPECT_EQ(sqlite("SELECT T1,T2,T7,AAtoneT,DAtoneT,AHightT,BHightT,TF,RUN,ApparatusAddress,ApparatusBate,"
                     "ApparatusType,Implication,RunTime,RunFreq,ComPort,ComBate FROM Apparatus"),
              "85|85.3|6553.5|1.5|2|90.1|91|10|30|9|0|ZEVA5000-S|ZEVA5000带RS485通讯接口|3|60|/dev/ttyUSB0|4800\n");
    TQueryResult r = SelectApparatus(db);
    EXPECT_DOUBLE_EQ(r.FieldAsFloat(Column::T(2)), 85.3);
    EXPECT_EQ(r.FieldAsString(Column::T(1)), "85");
    EXPECT_TRUE(r.Locate(Column::ApparatusType, QStringLiteral("zeva5000-s"))) << "without regard to case";
    EXPECT_FALSE(r.Locate(Column::ApparatusType, QStringLiteral("ZEVA5000"))) << "whole match only";
    EXPECT_TRUE(r.Locate(Column::ApparatusAddress, 9));
}

TEST_F(DbFixture, HostileTextIsStoredLiterally)
{
    const QString name = QStringLiteral("1号\"主变\"'); DROP TABLE Apparatus; --");
    qint64 id = InsertApparatus(db, name, 1, true);
    UpdateModel(db, id, "\"", "a\"b");
    TQueryResult r = SelectApparatus(db);
    ASSERT_EQ(r.RecordCount(), 1);
    EXPECT_EQ(r.FieldAsString(Column::ApparatusName), name);
    EXPECT_EQ(r.FieldAsString(Column::ApparatusType), "\"");

    THistoryRow h;
    h.InDate = at("2026-12-09 00:00:00");
    h.ApparatusName = name;
    h.ApparatusAddress = 1;
    h.ApparatusBate = 9600;
    h.T = {45.0, QVariant(), 80.0, 100.0, 0.0, 0.0, 25.55};
    h.Atone = {0.0, 0.0, 0.0, 0.0};
    h.TF = 10;
    h.RUN = QVariant();
    InsertHistory(db, h);
    EXPECT_EQ(sqlite("SELECT InDate, ApparatusName, T1, quote(T2), T7, quote(RUN), quote(ApparatusType) "
                     "FROM ApparatusHistory"),
              "2026-12-09 00:00:00|" + name.toStdString() + "|45|NULL|25.55|NULL|''\n")
        << "midnight kept in full; empty boxes NULL";
    EXPECT_EQ(SelectHistory(db).RecordCount(), 1);
}

TEST_F(DbFixture, RecordsRangeBothEndsIncludedAndDeletionKeepsThem)
{
    qint64 id = InsertApparatus(db, "x", 1, true);
    qint64 other = InsertApparatus(db, "y", 2, true);
    InsertRecord(db, id, at("2026-01-01 00:00:00"), {25.3, 25, 25.8, 0}, {81, 82, 83, 84});
    InsertRecord(db, id, at("2026-01-01 12:00:00"), {26, 26, 26, 26}, {0, 0, 0, 0});
    InsertRecord(db, id, at("2026-01-02 00:00:00"), {27, 27, 27, 27}, {0, 0, 0, 0});
    InsertRecord(db, id, at("2026-01-02 00:00:01"), {28, 28, 28, 28}, {0, 0, 0, 0});
    InsertRecord(db, other, at("2026-01-01 12:00:00"), {99, 99, 99, 99}, {0, 0, 0, 0});
    TQueryResult r = SelectRecords(db, id, at("2026-01-01 00:00:00"), at("2026-01-02 00:00:00"));
    ASSERT_EQ(r.RecordCount(), 3);
    r.First();
    EXPECT_EQ(r.FieldAsString(Column::InDateTime), "2026-01-01 00:00:00");
    EXPECT_DOUBLE_EQ(r.FieldAsFloat(Column::ActTemperature(0)), 25.3);
    EXPECT_DOUBLE_EQ(r.FieldAsFloat(Column::BlackTemperature(3)), 84);
    r.Last();
    EXPECT_EQ(r.FieldAsString(Column::InDateTime), "2026-01-02 00:00:00");

    THistoryRow h;
    h.InDate = QDateTime::currentDateTime();
    h.ApparatusName = "x";
    InsertHistory(db, h);
    db.Exec("DELETE FROM Apparatus WHERE ID = :id", {{":id", id}});
    EXPECT_EQ(SelectRecords(db, id, at("2000-01-01 00:00:00"), at("2100-01-01 00:00:00")).RecordCount(), 4);
    EXPECT_EQ(SelectHistory(db).RecordCount(), 1);
}

TEST_F(DbFixture, TempApparatusCopyLeftOverIsUsedThenDropped)
{
    InsertApparatus(db, "a", 1, true);
    InsertApparatus(db, "b", 2, false);
    ASSERT_TRUE(CopyToTempApparatus(db));
    EXPECT_EQ(SelectEnabledTempApparatus(db).RecordCount(), 1);
    // The program ended with the configuration window open: the copy stays behind.
    InsertApparatus(db, "c", 3, true);
    EXPECT_FALSE(CopyToTempApparatus(db));
    EXPECT_EQ(SelectEnabledTempApparatus(db).RecordCount(), 1) << "the old copy, unchanged";
    DropTempApparatus(db);
    EXPECT_THROW(SelectEnabledTempApparatus(db), EDatabaseError);
    ASSERT_TRUE(CopyToTempApparatus(db));
    EXPECT_EQ(SelectEnabledTempApparatus(db).RecordCount(), 2) << "copied afresh";
    DropTempApparatus(db);
}

TEST_F(DbFixture, GridModelsEditAndDelete)
{
    InsertApparatus(db, "b", 10, true);
    InsertApparatus(db, "a", 2, true);
    QSqlTableModel* m = CreateApparatusModel(db, nullptr);
    ASSERT_EQ(m->rowCount(), 2);
    int nameCol = m->fieldIndex(Column::ApparatusName);
    EXPECT_EQ(m->data(m->index(0, nameCol)).toString(), "a");
    ASSERT_TRUE(m->setData(m->index(0, nameCol), QStringLiteral("甲")));
    ASSERT_TRUE(m->submit());
    EXPECT_EQ(sqlite("SELECT ApparatusName FROM Apparatus WHERE ApparatusAddress = 2"), "甲\n");
    delete m;

    THistoryRow h;
    h.InDate = QDateTime::currentDateTime();
    InsertHistory(db, h);
    QSqlTableModel* hm = CreateHistoryModel(db, nullptr);
    ASSERT_EQ(hm->rowCount(), 1);
    ASSERT_TRUE(hm->removeRow(0));
    EXPECT_EQ(SelectHistory(db).RecordCount(), 0);
    delete hm;
}

TEST_F(DbFixture, AnotherProgramsShortLockIsWaitedForALongOneFailsWithinASecond)
{
    // The user-interface thread's connection: it waits for a short lock, but never long enough
    // to stall the polling for seconds.
    qint64 id = InsertApparatus(db, "x", 1, true);
    const std::string file = TDatabase::FileFor(dir.path()).toStdString();
    {
        zeva::test::TDbLock lock(file, 0.4);
        ASSERT_TRUE(lock.Held());
        EXPECT_NO_THROW(InsertRecord(db, id, QDateTime::currentDateTime(), {1, 2, 3, 4}, {5, 6, 7, 8}));
    }
    EXPECT_EQ(sqlite("SELECT count(*) FROM ApparatusRecord"), "1\n");
    zeva::test::TDbLock lock(file, 30);
    ASSERT_TRUE(lock.Held());
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(InsertRecord(db, id, QDateTime::currentDateTime(), {1, 2, 3, 4}, {5, 6, 7, 8}), EDatabaseError);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::milliseconds(5000)) << "not the 30 s lock";
}

TEST_F(DbFixture, WriterKilledMidwayLosesNoCommittedRow)
{
    db.Close();
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    pid_t child = fork();
    if (child == 0) {
        close(pipefd[0]);
        TDatabase mine;
        if (!mine.Open(dir.path()))
            _exit(3);
        qint64 id = InsertApparatus(mine, "x", 1, true);
        for (int i = 1;; ++i) {
            InsertRecord(mine, id, QDateTime::currentDateTime(), {double(i), 0, 0, 0}, {0, 0, 0, 0});
            if (write(pipefd[1], &i, sizeof i) != sizeof i)
                _exit(4);
        }
    }
    close(pipefd[1]);
    int committed = 0, n = 0;
    while (committed < 200 && read(pipefd[0], &n, sizeof n) == sizeof n)
        committed = n;
    kill(child, SIGKILL);
    while (read(pipefd[0], &n, sizeof n) == sizeof n)
        committed = n; // rows reported before the kill landed
    close(pipefd[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(committed, 200);
    ASSERT_TRUE(db.Open(dir.path()));
    EXPECT_GE(db.Query("SELECT count(*) FROM ApparatusRecord").rows().front().front().toInt(), committed);
    EXPECT_EQ(sqlite("PRAGMA integrity_check"), "ok\n");
}
