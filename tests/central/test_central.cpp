// The central schema on a real PostgreSQL 15 (a throwaway cluster): made once, left as it is,
// partitioned by month, retention by whole partitions, stations starting together; the settings.
#include "CentralSchema.h"
#include "CentralSettings.h"
#include "Forwarder.h"
#include "Database.h"
#include "WebData.h"
#include "PgCluster.h"
#include "TestSupport.h"

#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <thread>
#include <time.h>

namespace zeva::test {
namespace {

// The process's time zone for one test; the tests after it get theirs back.
class TZone {
public:
    explicit TZone(const char* zone) : m_had(qEnvironmentVariableIsSet("TZ")), m_zone(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        ::tzset();
    }
    ~TZone()
    {
        if (m_had)
            qputenv("TZ", m_zone);
        else
            qunsetenv("TZ");
        ::tzset();
    }
    TZone(const TZone&) = delete;
    TZone& operator=(const TZone&) = delete;

private:
    bool m_had;
    QByteArray m_zone;
};

class CentralFixture : public ::testing::Test {
protected:
    static inline TPgCluster* pg = nullptr;
    static inline int databases = 0;
    std::string name;

    static void SetUpTestSuite() { pg = new TPgCluster; }
    static void TearDownTestSuite()
    {
        delete pg;
        pg = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(pg->Ok()) << pg->Error();
        name = "plant" + std::to_string(++databases);
        ASSERT_EQ(pg->Psql("CREATE DATABASE " + name), "");
    }
    TPgConnection open() const { return TPgConnection(ParseConnInfo(QString::fromStdString(pg->ConnInfo(name))).params); }
    std::string psql(const std::string& sql) const { return pg->Psql(sql, name); }
    // A station's folder as zeva-initdb --demo makes it; its path.
    static std::string demoStation(const QTemporaryDir& dir)
    {
        const std::string data = dir.path().toStdString();
        EXPECT_EQ(Shell(std::string(ZEVA_INITDB) + " '" + data + "' --demo > /dev/null; echo $?"), "0\n");
        return data;
    }
    // This test's central database, for the station of that name.
    TCentralConfig centralFor(const char* station) const
    {
        TCentralConfig config = ParseConnInfo(QString::fromStdString(pg->ConnInfo(name)));
        config.station = QString::fromLatin1(station);
        return config;
    }
    static bool synced(const TForwarder& f)
    {
        return WaitUntil([&] { return f.Status().state == TForwarder::TState::Synced; }, 20000);
    }
    std::string insertRecord(int localId, const std::string& time) const
    {
        return psql("INSERT INTO apparatus_record (station, local_id, apparatus_id, in_date_time, a_act_temperature)"
                    " VALUES ('s1', " + std::to_string(localId) + ", 1, '" + time + "', 45.1)"
                    " ON CONFLICT (station, local_id, in_date_time) DO NOTHING");
    }
};

TEST_F(CentralFixture, TheSchemaIsMadeOnceInPostgresStyleAndLeftAsItIsAfterwards)
{
    {
        TPgConnection db = open();
        EnsureCentralSchema(db);
        EnsureCentralSchema(db); // a second run refuses nothing and changes nothing
    }
    EXPECT_EQ(psql("SELECT string_agg(relname || ':' || relkind::text, ' ' ORDER BY relname) FROM pg_class"
                   " WHERE relnamespace = 'public'::regnamespace AND relkind IN ('r', 'p')"),
              "apparatus:r apparatus_history:r apparatus_record:p apparatus_record_hour:r apparatus_record_hour_filled:r "
              "event_journal:r forward_position:r station:r\n");
    EXPECT_EQ(psql("SELECT string_agg(column_name || ' ' || data_type, ', ' ORDER BY ordinal_position)"
                   " FROM information_schema.columns WHERE table_name = 'apparatus_record'"),
              "station text, local_id bigint, apparatus_id bigint, in_date_time timestamp with time zone, "
              "a_act_temperature numeric, b_act_temperature numeric, c_act_temperature numeric, "
              "d_act_temperature numeric, a_black_temperature numeric, b_black_temperature numeric, "
              "c_black_temperature numeric, d_black_temperature numeric\n");
    for (const char* table : {"apparatus", "apparatus_history", "event_journal"})
        EXPECT_EQ(psql(std::string("SELECT count(*) FROM information_schema.columns WHERE table_name = '") + table +
                       "' AND column_name IN ('station', 'local_id')"),
                  "2\n")
            << table;
    EXPECT_EQ(psql("SELECT string_agg(indexname, ' ' ORDER BY indexname) FROM pg_indexes"
                   " WHERE tablename = 'apparatus_record'"),
              "apparatus_record_instrument_time apparatus_record_station_local_id_in_date_time_key "
              "apparatus_record_station_time\n");

    // A reading needs its month's partition; a second copy of a row is no row.
    EXPECT_NE(insertRecord(1, "2026-12-09 08:00:00+08").find("no partition"), std::string::npos);
    {
        TPgConnection db = open();
        EXPECT_EQ(EnsureMonthPartition(db, QDate(2026, 12, 9)), "apparatus_record_2026_12");
        EXPECT_EQ(EnsureMonthPartition(db, QDate(2026, 12, 31)), "apparatus_record_2026_12");
        EnsureCentralSchema(db);
    }
    EXPECT_EQ(insertRecord(1, "2026-12-09 08:00:00+08"), "");
    EXPECT_EQ(insertRecord(1, "2026-12-09 08:00:00+08"), "");
    EXPECT_EQ(psql("SELECT count(*), min(in_date_time AT TIME ZONE 'Asia/Shanghai') FROM apparatus_record"),
              "1|2026-12-09 08:00:00\n");
}

TEST_F(CentralFixture, RetentionDropsWholeMonthsAndNothingElse)
{
    {
        TPgConnection db = open();
        EnsureCentralSchema(db);
        for (int month = 9; month <= 12; ++month)
            EnsureMonthPartition(db, QDate(2026, month, 1));
    }
    // Someone's own partition for older rows is not ours to drop.
    EXPECT_EQ(psql("CREATE TABLE apparatus_record_archive PARTITION OF apparatus_record"
                   " FOR VALUES FROM ('2020-01-01 00:00+00') TO ('2021-01-01 00:00+00')"),
              "");
    for (int month = 9; month <= 12; ++month)
        EXPECT_EQ(insertRecord(month, "2026-" + std::to_string(month) + "-15 12:00:00+00"), "");
    EXPECT_EQ(insertRecord(1, "2020-06-01 00:00:00+00"), "");
    QStringList dropped;
    {
        TPgConnection db = open();
        dropped = DropPartitionsBefore(db, QDate(2026, 11, 20));
        EXPECT_TRUE(DropPartitionsBefore(db, QDate(2026, 11, 20)).isEmpty()) << "a second run drops nothing";
    }
    EXPECT_EQ(dropped, (QStringList{"apparatus_record_2026_09", "apparatus_record_2026_10"}));
    EXPECT_EQ(psql("SELECT string_agg(local_id::text, ' ' ORDER BY local_id) FROM apparatus_record"), "1 11 12\n");
    EXPECT_EQ(psql("SELECT string_agg(to_char(hour AT TIME ZONE 'UTC', 'YYYY-MM'), ' ' ORDER BY hour) FROM apparatus_record_hour"),
              "2020-06 2026-11 2026-12\n");
}

TEST_F(CentralFixture, StationsStartingTogetherMakeTheSchemaOnce)
{
    // Each station on its own connection and thread, all at once.
    std::vector<std::thread> stations;
    std::vector<std::string> errors(6);
    const TCentralConfig config = ParseConnInfo(QString::fromStdString(pg->ConnInfo(name)));
    for (int i = 0; i < 6; ++i)
        stations.emplace_back([&, i] {
            try {
                TPgConnection db(config.params);
                EnsureCentralSchema(db);
                EnsureMonthPartition(db, QDate(2026, 12, 1));
            } catch (const std::exception& e) {
                errors[std::size_t(i)] = e.what();
            }
        });
    for (std::thread& t : stations)
        t.join();
    for (const std::string& e : errors)
        EXPECT_EQ(e, "");
    EXPECT_EQ(psql("SELECT count(*) FROM pg_inherits WHERE inhparent = 'apparatus_record'::regclass"), "1\n");
}

TEST_F(CentralFixture, InitdbMakesTheCentralSchemaAndRunsAgainWithoutHarm)
{
    const std::string run = std::string(ZEVA_INITDB) + " --central '" + pg->ConnInfo(name) + "' 2>&1; echo rc=$?";
    std::string out = Shell(run);
    EXPECT_NE(out.find("rc=0\n"), std::string::npos) << out;
    out = Shell(run);
    EXPECT_NE(out.find("rc=0\n"), std::string::npos) << out;
    EXPECT_EQ(psql("SELECT count(*) FROM pg_class WHERE relname IN ('station', 'apparatus', 'apparatus_record',"
                   " 'apparatus_history', 'event_journal')"),
              "5\n");
    // This month's partition and the next are there for the first readings.
    EXPECT_EQ(psql("SELECT count(*) FROM pg_inherits WHERE inhparent = 'apparatus_record'::regclass"), "2\n");
    out = Shell(std::string(ZEVA_INITDB) + " --central 'host=/nonexistent dbname=x' 2>&1; echo rc=$?");
    EXPECT_NE(out.find("rc=1\n"), std::string::npos) << out;
    out = Shell(std::string(ZEVA_INITDB) + " --central 'password=secret' 2>&1; echo rc=$?");
    EXPECT_NE(out.find("holds a password"), std::string::npos) << out;
}

// A station's database with `count` readings of instrument 1, a minute apart from 2026-11-30 23:00
// local time (so that they span two months), numbered from `first`.
void addReadings(const std::string& dataPath, int first, int count)
{
    Shell("sqlite3 '" + dataPath + "/DataBase/Data.db' \"WITH RECURSIVE n(i) AS (SELECT " + std::to_string(first) +
          " UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(first + count - 1) +
          ") INSERT INTO ApparatusRecord (RecordID, ApparatusID, InDateTime, AActTemperature, BActTemperature,"
          " CActTemperature, DActTemperature, ABlackTemperature, BBlackTemperature, CBlackTemperature,"
          " DBlackTemperature) SELECT i, 1, strftime('%Y-%m-%d %H:%M:%S', '2026-11-30 23:00:00', '+' || i || ' minutes'),"
          " 40 + i % 100 / 10.0, 41.5, 42.25, 0, 50, 50.5, 60, 255.9 FROM n\"");
}

// The station's sqlite3 shell, the statements read from standard input (quotes as they are).
std::string sqlite(const std::string& dataPath, const std::string& sql)
{
    return Shell("sqlite3 '" + dataPath + "/DataBase/Data.db' <<'SQL'\n" + sql + "\nSQL");
}

TForwarder::TOptions quick()
{
    TForwarder::TOptions options;
    options.idle = std::chrono::milliseconds(50);
    options.backoffFirst = std::chrono::milliseconds(100);
    options.backoffLast = std::chrono::milliseconds(400);
    return options;
}

TEST_F(CentralFixture, TheForwarderCopiesEveryReadingAsItIsAndDrainsItsBacklogAfterAnOutage)
{
    const TZone zone("Asia/Shanghai"); // not UTC, so that a wrong offset shows
    QTemporaryDir station;
    const std::string data = demoStation(station);
    addReadings(data, 1, 3000);

    TCentralConfig config = centralFor("s1");
    std::mutex m;
    std::vector<TForwarder::TState> states;
    TForwarder::TOptions options;
    options.batch = 700;
    options.idle = std::chrono::milliseconds(50);
    options.backoffFirst = std::chrono::milliseconds(100);
    options.backoffLast = std::chrono::milliseconds(400);
    TForwarder forwarder(station.path(), config, [&](const TForwarder::TStatus& s) {
        std::lock_guard lock(m);
        states.push_back(s.state);
    }, options);
    forwarder.Start();
    ASSERT_TRUE(WaitUntil([&] { return forwarder.Status().state == TForwarder::TState::Synced; }, 20000))
        << TForwarder::StatusText(forwarder.Status()).toStdString() << forwarder.Status().error.toStdString();
    EXPECT_EQ(forwarder.Forwarded(), 3000u);

    const std::string local = Shell("sqlite3 '" + data + "/DataBase/Data.db' \"SELECT RecordID || '|' || ApparatusID"
                                    " || '|' || InDateTime || '|' || AActTemperature || '|' || BActTemperature || '|' ||"
                                    " CActTemperature || '|' || DActTemperature || '|' || ABlackTemperature || '|' ||"
                                    " BBlackTemperature || '|' || CBlackTemperature || '|' || DBlackTemperature"
                                    " FROM ApparatusRecord ORDER BY RecordID\"");
    const auto central = [&] {
        return psql("SET TIME ZONE 'Asia/Shanghai'; SELECT local_id || '|' || apparatus_id || '|' ||"
                    " to_char(in_date_time, 'YYYY-MM-DD HH24:MI:SS') || '|' || a_act_temperature || '|' ||"
                    " b_act_temperature || '|' || c_act_temperature || '|' || d_act_temperature || '|' ||"
                    " a_black_temperature || '|' || b_black_temperature || '|' || c_black_temperature || '|' ||"
                    " d_black_temperature FROM apparatus_record WHERE station = 's1' ORDER BY local_id");
    };
    // SQLite prints 42.25 and 0.0 as 42.25 and 0.0, PostgreSQL's numeric as 42.25 and 0.
    std::string expected = local;
    for (std::size_t at; (at = expected.find("|0.0|")) != std::string::npos;)
        expected.replace(at, 5, "|0|");
    EXPECT_EQ(central(), expected);
    const QDate today = QDateTime::currentDateTimeUtc().date();
    const std::set<QString> months{MonthPartitionName(QDate(2026, 11, 1)), MonthPartitionName(QDate(2026, 12, 1)),
                                   MonthPartitionName(today), MonthPartitionName(today.addMonths(1))};
    EXPECT_EQ(psql("SELECT string_agg(c.relname, ' ' ORDER BY c.relname) FROM pg_inherits i JOIN pg_class c"
                   " ON c.oid = i.inhrelid WHERE inhparent = 'apparatus_record'::regclass"),
              QStringList(months.begin(), months.end()).join(QLatin1Char(' ')).toStdString() + "\n")
        << "the readings' months, this one and the next made ahead";

    // The server goes away while readings go on being stored; it comes back; the backlog drains.
    ASSERT_TRUE(pg->Stop());
    addReadings(data, 3001, 1000);
    forwarder.Wake();
    ASSERT_TRUE(WaitUntil([&] { return forwarder.Status().state == TForwarder::TState::Unreachable; }, 10000));
    EXPECT_EQ(forwarder.Status().backlog, 1000);
    EXPECT_EQ(TForwarder::StatusText(forwarder.Status()), "中心库：不可达");
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the outage's length: several attempts, backing off
    ASSERT_TRUE(pg->Start()) << pg->Error();
    ASSERT_TRUE(WaitUntil([&] { return forwarder.Forwarded() == 4000u && forwarder.Status().state == TForwarder::TState::Synced; }, 20000))
        << forwarder.Forwarded();
    forwarder.Stop();
    EXPECT_EQ(psql("SELECT count(*), count(DISTINCT local_id), max(local_id) FROM apparatus_record"), "4000|4000|4000\n");
    EXPECT_EQ(Shell("sqlite3 '" + data + "/DataBase/Data.db' \"SELECT LastID FROM ForwardPosition"
                    " WHERE TableName = 'ApparatusRecord'\""),
              "4000\n");
    {
        std::lock_guard lock(m);
        EXPECT_NE(std::find(states.begin(), states.end(), TForwarder::TState::Unreachable), states.end());
        EXPECT_EQ(states.back(), TForwarder::TState::Synced);
    }

    // The station loses its newest readings (a backup put back): the IDs given again are sent too.
    sqlite(data, "DELETE FROM ApparatusRecord WHERE RecordID > 3990;"
                 "INSERT INTO ApparatusRecord (RecordID, ApparatusID, InDateTime, AActTemperature) SELECT 3990 + i, 2,"
                 " '2026-12-05 10:0' || i || ':00', 1 FROM (SELECT 1 AS i UNION SELECT 2 UNION SELECT 3 UNION SELECT 4"
                 " UNION SELECT 5);");
    TForwarder again(station.path(), config, {}, quick());
    again.Start();
    ASSERT_TRUE(WaitUntil([&] { return psql("SELECT count(*) FROM apparatus_record") == "4005\n"; }, 20000))
        << psql("SELECT count(*) FROM apparatus_record");
    again.Stop();
    // A new central database holds nothing of the station: all of it goes there, whatever the
    // station's copy of the positions says.
    ASSERT_EQ(pg->Psql("CREATE DATABASE " + name + "b"), "");
    config = ParseConnInfo(QString::fromStdString(pg->ConnInfo(name + "b")));
    config.station = QStringLiteral("s1");
    TForwarder elsewhere(station.path(), config, {}, quick());
    elsewhere.Start();
    ASSERT_TRUE(synced(elsewhere)) << elsewhere.Status().error.toStdString();
    EXPECT_EQ(pg->Psql("SELECT count(*) FROM apparatus_record", name + "b"), "3995\n");
}

TEST_F(CentralFixture, ASessionHoldingTheReadingsTableKeepsNoStationFromConnecting)
{
    {
        TPgConnection db = open();
        EnsureCentralSchema(db);
        EnsureMonthPartition(db, QDateTime::currentDateTimeUtc().date());
        EnsureMonthPartition(db, QDateTime::currentDateTimeUtc().date().addMonths(1));
    }
    // As a station frozen in the middle of a batch would.
    const int holder = Spawn({"/usr/bin/psql", "-h", pg->SocketDir(), "-U", "zeva_test", "-d", name, "-c",
                              "BEGIN; LOCK TABLE apparatus_record IN ACCESS EXCLUSIVE MODE; SELECT pg_sleep(30);"},
                             "/", "/dev/null");
    ASSERT_TRUE(WaitUntil([&] { return psql("SELECT count(*) FROM pg_locks WHERE mode = 'AccessExclusiveLock'"
                                            " AND relation = 'apparatus_record'::regclass") == "1\n"; }));
    QTemporaryDir station;
    demoStation(station);
    TForwarder forwarder(station.path(), centralFor("other"), {}, quick());
    forwarder.Start();
    EXPECT_TRUE(WaitUntil([&] { return forwarder.Status().state == TForwarder::TState::Synced; }, 8000))
        << "its registry is sent, not held by a lock it does not need: " << forwarder.Status().error.toStdString();
    Terminate(holder);
}

TEST_F(CentralFixture, RegistryParameterWritesAndJournalFollowTheStationIncludingLaterChanges)
{
    const TZone zone("Asia/Shanghai");
    QTemporaryDir station;
    const std::string data = demoStation(station);
    // A parameter write, an alarm still open, an event; values a grid could have left in the registry.
    sqlite(data, "INSERT INTO ApparatusHistory (InDate, ApparatusName, ApparatusAddress, ApparatusBate, T1, AAtoneT, TF,"
                 " Operator) VALUES ('2026-12-09 10:00:00', '1号变压器', 1, 9600, 85.5, -1.5, 30, 'alice');"
                 "INSERT INTO EventJournal (ApparatusID, ApparatusAddress, Kind, Text, RaisedAt)"
                 " VALUES (1, 1, 'alarm.door', '柜门打开', '2026-12-09 10:01:00'),"
                 " (1, 1, 'event.fan', '风机控制输出：开', '2026-12-09 10:02:00'),"
                 " (NULL, NULL, 'alarm.linkdown', '串口断开', 'not a time'),"
                 " (NULL, NULL, 'alarm.linkdown', '串口断开', '2026-12-09 10:03:00');"
                 "UPDATE Apparatus SET T2 = 'abc', RunTime = 1e300, T3 = 'Inf' WHERE ID = 2;");
    TCentralConfig config = centralFor("north");
    const std::string registry = "SELECT local_id || '|' || apparatus_name || '|' || apparatus_address || '|' ||"
                                 " c_flag || '|' || coalesce(t1::text, '-') || '|' || coalesce(t2::text, '-') || '|' ||"
                                 " coalesce(t3::text, '-') || '|' || coalesce(run_time::text, '-') || '|' ||"
                                 " coalesce(removed_at::text, 'present') FROM apparatus WHERE station = 'north'"
                                 " ORDER BY local_id";
    const std::string journal = "SET TIME ZONE 'UTC'; SELECT local_id || '|' || kind || '|' || to_char(raised_at,"
                                " 'YYYY-MM-DD HH24:MI') || '|' || coalesce(to_char(cleared_at, 'HH24:MI'), '-') || '|' ||"
                                " coalesce(to_char(acked_at, 'HH24:MI'), '-') || '|' || coalesce(acked_by, '-')"
                                " FROM event_journal WHERE station = 'north' ORDER BY local_id";
    const std::string localRegistry =
        sqlite(data, "SELECT count(*) || '|' || group_concat(ApparatusName, ',') FROM (SELECT * FROM Apparatus ORDER BY ID)");
    {
        TForwarder forwarder(station.path(), config, {}, quick());
        forwarder.Start();
        ASSERT_TRUE(synced(forwarder)) << forwarder.Status().error.toStdString();
        EXPECT_EQ(psql("SELECT count(*) || '|' || string_agg(apparatus_name, ',' ORDER BY local_id) FROM apparatus"),
                  localRegistry);
        EXPECT_EQ(psql(registry + " LIMIT 2"), "1|1号主变压器|1|true|50|60|80|3|present\n2|2号主变压器|2|true|50|-|-|-|present\n")
            << "a text that is no number, and a number too large, are NULL rather than a forwarding stuck for good";
        EXPECT_EQ(psql("SELECT local_id || '|' || apparatus_name || '|' || t1 || '|' || a_atone_t || '|' || tf || '|' ||"
                       " coalesce(t2::text, '-') || '|' || operator FROM apparatus_history WHERE station = 'north'"),
                  "1|1号变压器|85.5|-1.5|30|-|alice\n");
        // The entry whose time is no time is left out; the rest go on.
        EXPECT_EQ(psql(journal), "1|alarm.door|2026-12-09 02:01|-|-|-\n2|event.fan|2026-12-09 02:02|-|-|-\n"
                                 "4|alarm.linkdown|2026-12-09 02:03|-|-|-\n");

        // The operator renames an instrument, deletes another, acknowledges; the alarm clears.
        sqlite(data, "UPDATE Apparatus SET ApparatusName = '新名称', T1 = 95.5 WHERE ID = 1;"
                     "DELETE FROM Apparatus WHERE ID = 3;"
                     "UPDATE EventJournal SET ClearedAt = '2026-12-09 10:05:00' WHERE ID = 1;"
                     "UPDATE EventJournal SET AckedAt = '2026-12-09 10:06:00', AckedBy = 'wang' WHERE ID = 4;");
        EXPECT_TRUE(WaitUntil([&] { return psql(registry + " LIMIT 1") == "1|新名称|1|true|95.5|60|80|3|present\n"; }, 10000))
            << psql(registry);
        EXPECT_TRUE(WaitUntil([&] { return psql("SELECT count(*) FROM apparatus WHERE removed_at IS NOT NULL") == "1\n"; }, 10000));
        EXPECT_EQ(psql("SELECT local_id FROM apparatus WHERE removed_at IS NOT NULL"), "3\n");
        EXPECT_TRUE(WaitUntil([&] {
            return psql(journal) == "1|alarm.door|2026-12-09 02:01|02:05|-|-\n2|event.fan|2026-12-09 02:02|-|-|-\n"
                                    "4|alarm.linkdown|2026-12-09 02:03|-|02:06|wang\n";
        }, 10000)) << psql(journal);
        forwarder.Stop();
    }
    // While no forwarder runs, the door alarm is acknowledged and the deleted instrument comes back:
    // a new forwarder learns from the central database what may still change.
    sqlite(data, "UPDATE EventJournal SET AckedAt = '2026-12-09 10:07:00', AckedBy = 'li' WHERE ID = 1;"
                 "INSERT INTO Apparatus (ID, ApparatusName, ApparatusAddress, CFlag) VALUES (3, '回来了', 3, 0);");
    TForwarder again(station.path(), config, {}, quick());
    again.Start();
    EXPECT_TRUE(WaitUntil([&] { return psql(journal).rfind("1|alarm.door|2026-12-09 02:01|02:05|02:07|li\n", 0) == 0; }, 10000))
        << psql(journal);
    EXPECT_TRUE(WaitUntil([&] { return psql("SELECT count(*) FROM apparatus WHERE removed_at IS NOT NULL") == "0\n"; }, 10000));
    EXPECT_EQ(psql("SELECT apparatus_name || '|' || c_flag FROM apparatus WHERE local_id = 3"), "回来了|false\n");
    ASSERT_TRUE(synced(again));
    again.Stop();
    EXPECT_EQ(psql("SELECT count(*) FROM event_journal"), "3\n") << "nothing doubled";
    EXPECT_EQ(psql("SELECT count(*) FROM apparatus_history"), "1\n");
}

TEST_F(CentralFixture, ReadingsNoNumberOrTimeCanBeMadeOfDoNotStopTheForwarding)
{
    const TZone zone("Asia/Shanghai");
    QTemporaryDir station;
    const std::string data = demoStation(station);
    // Another program's hand in the table: a text, an infinity, a time that is none, a comma.
    sqlite(data, "INSERT INTO ApparatusRecord (RecordID, ApparatusID, InDateTime, AActTemperature, BActTemperature,"
                 " CActTemperature, DActTemperature) VALUES"
                 " (1, 1, '2026-12-09 08:00:00', 'abc', 1e999, -1e999, '1,5'),"
                 " (2, 2, 'yesterday', 40, 41, 42, 43),"
                 " (3, 3, '2026-12-09 08:00:01', 0.1, -0.0, 85, NULL),"
                 " (4, '3', '2026-12-09 08:00:02', 1e-7, 123456789.123, 99.99, 100);");
    TCentralConfig config = centralFor("west");
    TForwarder forwarder(station.path(), config, {}, quick());
    forwarder.Start();
    ASSERT_TRUE(synced(forwarder)) << forwarder.Status().error.toStdString();
    forwarder.Stop();
    EXPECT_EQ(psql("SET TIME ZONE 'UTC'; SELECT local_id || '|' || apparatus_id || '|' || in_date_time || '|' ||"
                   " concat_ws(',', coalesce(a_act_temperature::text, '-'), coalesce(b_act_temperature::text, '-'),"
                   " coalesce(c_act_temperature::text, '-'), coalesce(d_act_temperature::text, '-'))"
                   " FROM apparatus_record ORDER BY local_id"),
              "1|1|2026-12-09 00:00:00+00|-,-,-,-\n"
              "3|3|2026-12-09 00:00:01+00|0.1,0,85,-\n"
              "4|3|2026-12-09 00:00:02+00|0.00000010,123456789.123,99.99,100\n")
        << "the reading without a time is left, the rest arrive in their columns";
    EXPECT_EQ(sqlite(data, "SELECT LastID FROM ForwardPosition WHERE TableName = 'ApparatusRecord'"), "4\n");
}

TEST_F(CentralFixture, ASecondDatabaseUnderAStationsNameIsRefusedAndReusedHistoryIdsAreNotLost)
{
    QTemporaryDir first, second;
    const std::string one = demoStation(first), two = demoStation(second);
    sqlite(one, "INSERT INTO ApparatusHistory (InDate, ApparatusName, T1) VALUES ('2026-12-09 10:00:00', 'a', 80),"
                " ('2026-12-09 10:01:00', 'b', 81);"
                "INSERT INTO ApparatusRecord (ApparatusID, InDateTime, AActTemperature) VALUES (1, '2026-12-09 10:00:00', 40);"
                "INSERT INTO EventJournal (Kind, Text, RaisedAt) VALUES ('event.fan', 'x' || char(0) || 'y', '2026-12-09 10:00:00');"
                "INSERT INTO ApparatusRecord (ApparatusID, InDateTime, AActTemperature) VALUES (1, '0000-06-01 00:00:00', 41),"
                " (1, '9999-12-31 23:59:59', 42), (1, '2026-12-09 10:00:01', 43);");
    {
        TForwarder forwarder(first.path(), centralFor("same"), {}, quick());
        forwarder.Start();
        ASSERT_TRUE(synced(forwarder)) << forwarder.Status().error.toStdString();
        EXPECT_EQ(psql("SELECT string_agg(a_act_temperature::text, ',' ORDER BY local_id) FROM apparatus_record"), "40,43\n")
            << "years no timestamp can hold are left out, not a stop for good";
        EXPECT_EQ(psql("SELECT text FROM event_journal"), "xy\n") << "a NUL the driver cannot send is dropped";

        // The newest write is deleted; the next one gets its ID again and must arrive all the same.
        sqlite(one, "DELETE FROM ApparatusHistory WHERE HistoryID = 2;"
                    "INSERT INTO ApparatusHistory (InDate, ApparatusName, T1) VALUES ('2026-12-09 11:00:00', 'c', 99);");
        EXPECT_TRUE(WaitUntil([&] {
            return psql("SELECT string_agg(local_id || ':' || apparatus_name || ':' || t1, ' ' ORDER BY local_id)"
                        " FROM apparatus_history") == "1:a:80 2:c:99\n";
        }, 10000)) << psql("SELECT * FROM apparatus_history");
        // All of it deleted: the position goes back to the start, once, and the next write is the first.
        sqlite(one, "DELETE FROM ApparatusHistory;");
        EXPECT_TRUE(WaitUntil([&] {
            return sqlite(one, "SELECT LastID FROM ForwardPosition WHERE TableName = 'ApparatusHistory'") == "0\n";
        }, 10000));
        forwarder.Stop();
    }
    // Another station's database under the same name would overwrite its rows: refused, and said.
    TForwarder impostor(second.path(), centralFor("same"), {}, quick());
    impostor.Start();
    ASSERT_TRUE(WaitUntil([&] { return impostor.Status().state == TForwarder::TState::Unreachable; }, 10000));
    EXPECT_NE(impostor.Status().error.indexOf("站点名“same”已由另一个本站数据库使用"), -1)
        << impostor.Status().error.toStdString();
    impostor.Stop();
    EXPECT_EQ(psql("SELECT count(*) FROM apparatus_record"), "2\n");
    EXPECT_EQ(psql("SELECT count(*) FROM apparatus_history"), "2\n");
    // The first database forwards on under its name.
    TForwarder again(first.path(), centralFor("same"), {}, quick());
    again.Start();
    EXPECT_TRUE(synced(again)) << again.Status().error.toStdString();
}

// SIGSTOP to processes of the cluster (a backend or the whole server), SIGCONT when it goes.
class TFrozen {
public:
    explicit TFrozen(std::string pids) : m_pids(std::move(pids)) { Shell("kill -STOP " + m_pids); }
    ~TFrozen() { Shell("kill -CONT " + m_pids); }
    TFrozen(const TFrozen&) = delete;
    TFrozen& operator=(const TFrozen&) = delete;

private:
    std::string m_pids;
};

TEST_F(CentralFixture, AFrozenServerIsGivenUpWithinItsBoundsAStopIsQuickAndNothingIsDoubledAfter)
{
    QTemporaryDir station;
    const std::string data = demoStation(station);
    addReadings(data, 1, 1000);
    TForwarder::TOptions options = quick();
    options.statementLimit = std::chrono::milliseconds(1500);
    options.connectLimit = std::chrono::milliseconds(1500);
    std::mutex m;
    std::vector<TForwarder::TStatus> heard;
    auto forwarder = std::make_unique<TForwarder>(station.path(), centralFor("frozen"), [&](const TForwarder::TStatus& s) {
        std::lock_guard lock(m);
        heard.push_back(s);
    }, options);
    forwarder->Start();
    ASSERT_TRUE(synced(*forwarder)) << forwarder->Status().error.toStdString();
    const auto heardSince = [&](std::size_t from) {
        std::lock_guard lock(m);
        return std::vector<TForwarder::TStatus>(heard.begin() + long(from), heard.end());
    };
    const std::size_t before = heardSince(0).size();
    {
        // The backend that serves it stops answering while it waits for work.
        const std::string backend = psql("SELECT pid FROM pg_stat_activity WHERE application_name = 'zeva' AND datname = current_database()");
        ASSERT_FALSE(backend.empty());
        const TFrozen frozen(backend);
        addReadings(data, 1001, 500);
        forwarder->Wake();
        ASSERT_TRUE(WaitUntil([&] { return forwarder->Status().state == TForwarder::TState::Unreachable; }, 10000));
        EXPECT_EQ(forwarder->Status().error, "服务器无应答");
        const auto states = heardSince(before);
        ASSERT_GE(states.size(), 2u);
        EXPECT_EQ(states[0].state, TForwarder::TState::Backlog) << "rows wait: never 已同步 meanwhile";
        EXPECT_EQ(states[0].backlog, 500);
    }
    // It may hold locks a new connection waits for until it runs again; then all is sent, once.
    ASSERT_TRUE(synced(*forwarder)) << forwarder->Status().error.toStdString();
    EXPECT_EQ(psql("SELECT count(*), count(DISTINCT local_id) FROM apparatus_record"), "1500|1500\n");

    // The whole server stops answering: connecting is given up too, and a stop does not wait.
    const std::string postmaster = Shell("head -1 '" + pg->SocketDir() + "/data/postmaster.pid'");
    const std::string all = postmaster.substr(0, postmaster.size() - 1) + " " +
                            QString::fromStdString(Shell("pgrep -P " + postmaster)).simplified().toStdString();
    {
        const TFrozen frozen(all);
        addReadings(data, 1501, 500);
        forwarder->Wake();
        ASSERT_TRUE(WaitUntil([&] { return forwarder->Status().state == TForwarder::TState::Unreachable; }, 10000));
        std::this_thread::sleep_for(std::chrono::milliseconds(1700)); // inside a connect that gets no answer
        const auto stopping = std::chrono::steady_clock::now();
        EXPECT_TRUE(forwarder->Stop());
        EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(2));
    }
    forwarder = std::make_unique<TForwarder>(station.path(), centralFor("frozen"), TForwarder::TReport{}, quick());
    forwarder->Start();
    ASSERT_TRUE(synced(*forwarder)) << forwarder->Status().error.toStdString();
    EXPECT_EQ(psql("SELECT count(*), count(DISTINCT local_id), max(local_id) FROM apparatus_record"), "2000|2000|2000\n");
}

TEST_F(CentralFixture, AKillAtEveryStepOfSendingReadingsLosesNothingAndDoublesNothing)
{
    QTemporaryDir station;
    const std::string data = demoStation(station);
    addReadings(data, 1, 3000);
    const std::string run = std::string(FORWARD_UNTIL) + " '" + data + "' '" + pg->ConnInfo(name) + "' killed";
    const auto counts = [&] { return psql("SELECT count(*) = count(DISTINCT local_id) FROM apparatus_record"); };
    for (const char* step : {"began", "copied", "positioned", "committed", "cached"}) {
        EXPECT_EQ(Shell(run + " " + step + " 2; echo $?"), "9\n") << step;
        EXPECT_EQ(counts(), "t\n") << "nothing doubled after a kill when " << step;
        // As an earlier version left it: no central position, the station's copy behind the rows sent.
        if (std::string(step) == "committed")
            psql("DELETE FROM forward_position");
    }
    EXPECT_EQ(Shell(run + "; echo $?"), "0\n");
    EXPECT_EQ(psql("SELECT count(*), count(DISTINCT local_id), min(local_id), max(local_id) FROM apparatus_record"),
              "3000|3000|1|3000\n");
    EXPECT_EQ(psql("SELECT last_id FROM forward_position WHERE station = 'killed' AND table_name = 'apparatus_record'"),
              "3000\n");
}

TEST_F(CentralFixture, ReadingsGoToTheirUtcMonthAndThoseBeforeTheRetentionAreNotSent)
{
    const TZone zone("Asia/Shanghai"); // local midnight of the first of a month is still the month before in UTC
    QTemporaryDir station;
    const std::string data = demoStation(station);
    const QDate today = QDateTime::currentDateTimeUtc().date();
    const QDate thisMonth(today.year(), today.month(), 1);
    const auto local = [](QDate day, const char* time) { return day.toString(Qt::ISODate).toStdString() + " " + time; };
    // Two readings far too old for a retention of 2 months, one at the start of last month (local),
    // which UTC puts in the month before it, and one now.
    std::string rows;
    int id = 0;
    for (const std::string& t : {local(thisMonth.addMonths(-6), "12:00:00"), local(thisMonth.addMonths(-6), "12:01:00"),
                                 local(thisMonth.addMonths(-1), "03:00:00"), local(today, "12:00:00")})
        rows += "INSERT INTO ApparatusRecord (RecordID, ApparatusID, InDateTime, AActTemperature) VALUES (" +
                std::to_string(++id) + ", 1, '" + t + "', 50);";
    sqlite(data, rows);
    {
        // An old partition of the central database, and one not of ours.
        TPgConnection db = open();
        EnsureCentralSchema(db);
        EnsureMonthPartition(db, thisMonth.addMonths(-5));
        psql("CREATE TABLE apparatus_record_archive PARTITION OF apparatus_record FOR VALUES FROM ('2001-01-01')"
             " TO ('2002-01-01')");
    }
    TCentralConfig config = centralFor("east");
    config.retentionMonths = 2;
    TForwarder forwarder(station.path(), config, {}, quick());
    forwarder.Start();
    ASSERT_TRUE(synced(forwarder)) << forwarder.Status().error.toStdString();
    forwarder.Stop();
    EXPECT_EQ(psql("SELECT string_agg(local_id::text, ' ' ORDER BY local_id) FROM apparatus_record"), "3 4\n");
    const QDate utcMonthOfThird = thisMonth.addMonths(-2);
    std::set<QString> kept{QStringLiteral("apparatus_record_archive"), MonthPartitionName(utcMonthOfThird),
                           MonthPartitionName(today), MonthPartitionName(today.addMonths(1))};
    EXPECT_EQ(psql("SELECT string_agg(c.relname, ' ' ORDER BY c.relname) FROM pg_inherits i JOIN pg_class c"
                   " ON c.oid = i.inhrelid WHERE inhparent = 'apparatus_record'::regclass"),
              QStringList(kept.begin(), kept.end()).join(QLatin1Char(' ')).toStdString() + "\n")
        << "the old month dropped, the third reading in its UTC month, the archive left";
    EXPECT_EQ(psql("SELECT tableoid::regclass FROM apparatus_record WHERE local_id = 3"),
              MonthPartitionName(utcMonthOfThird).toStdString() + "\n");
}

TEST(CentralTimes, LocalTimesKeepTheirOffsetAcrossSummerTimeAndMonthEndsAndMalformedOnesAreRefused)
{
    {
        const TZone zone("Europe/Berlin");
        TLocalTimes times;
        // In the order a station stores them: the hours around both changes, asked through one cache.
        const std::pair<const char*, const char*> berlin[] = {
            {"2026-03-29 01:59:59", "2026-03-29T01:59:59+01:00"}, {"2026-03-29 03:00:00", "2026-03-29T03:00:00+02:00"},
            {"2026-03-29 03:59:59", "2026-03-29T03:59:59+02:00"}, {"2026-10-25 01:30:00", "2026-10-25T01:30:00+02:00"},
            {"2026-10-25 03:00:00", "2026-10-25T03:00:00+01:00"}, {"2026-12-31 23:30:00", "2026-12-31T23:30:00+01:00"},
        };
        for (const auto& [local, iso] : berlin) {
            EXPECT_EQ(times.Of(QString::fromLatin1(local)).iso, iso) << local;
            EXPECT_EQ(CentralTime(QString::fromLatin1(local)), iso) << local << " without a cache";
        }
        EXPECT_EQ(times.Of(QStringLiteral("2027-01-01 00:30:00")).utcDay, QDate(2026, 12, 31));
    }
    const TZone zone("Asia/Shanghai");
    TLocalTimes times;
    EXPECT_EQ(times.Of(QStringLiteral("2026-12-01 03:00:00")).utcDay, QDate(2026, 11, 30));
    EXPECT_EQ(times.Of(QStringLiteral("2026-12-01 08:00:00")).utcDay, QDate(2026, 12, 1));
    for (const char* bad : {"", "2026-12-01", "2026-12-1 03:00:00", "2026-13-01 03:00:00", "2026-02-30 03:00:00",
                            "2026-12-01 24:00:00", "2026-12-01T03:00:00", "2026-12-01 03:00:00 ", "abcd-ef-gh ij:kl:mn"}) {
        EXPECT_TRUE(times.Of(QString::fromLatin1(bad)).iso.isEmpty()) << bad;
        EXPECT_FALSE(times.Of(QString::fromLatin1(bad)).utcDay.isValid()) << bad;
    }
    EXPECT_TRUE(times.Of(QStringLiteral("２０２６-12-01 03:00:00")).iso.isEmpty()) << "digits of another script";
}

TEST(CentralSettings, DataIniSectionCentralWithItsDefaults)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Data.ini"));
    std::ofstream(file.toStdString(), std::ios::binary) << "[Info]\r\nPort=COM1\r\n";
    TIniFile none(file);
    TCentralConfig c = ReadCentralConfig(none);
    EXPECT_FALSE(c.Enabled()) << "no section: nothing forwarded";
    std::ofstream(file.toStdString(), std::ios::binary)
        << "[Central]\r\nHost = db.plant.lan\r\nDatabase=plant\r\nUser=zeva\r\nRetention=24\r\n";
    TIniFile some(file);
    c = ReadCentralConfig(some);
    EXPECT_TRUE(c.Enabled());
    EXPECT_EQ(c.params.Value("host"), "db.plant.lan");
    EXPECT_EQ(c.params.Value("port"), "5432");
    EXPECT_EQ(c.params.Value("sslmode"), "prefer");
    EXPECT_EQ(c.retentionMonths, 24);
    EXPECT_FALSE(c.station.isEmpty()) << "the host name";

    c = ParseConnInfo(QStringLiteral("host=/run/postgresql  port = 5433 dbname='my \\'plant\\'' user=u"
                                     " sslmode=require target_session_attrs=read-write"));
    EXPECT_EQ(c.params.Value("host"), "/run/postgresql");
    EXPECT_EQ(c.params.Value("port"), "5433");
    EXPECT_EQ(c.params.Value("dbname"), "my 'plant'");
    EXPECT_EQ(c.params.Value("target_session_attrs"), "read-write") << "every key libpq knows";
    for (const char* bad : {"host", "password=x", "host=a passfile=/p password=''", "colour=red", "dbname='open"})
        EXPECT_THROW(ParseConnInfo(QString::fromLatin1(bad)), std::invalid_argument) << bad;
}

TEST_F(CentralFixture, EveryCentralSettingStaysOneValueWhateverItHolds)
{
    const std::string odd = "plant; dbname=postgres 'x' = \\y";
    ASSERT_EQ(psql("CREATE DATABASE \"" + odd + "\""), "");
    QTemporaryDir station;
    const std::string data = demoStation(station);
    addReadings(data, 1, 10);
    // Each setting in turn holds what would be more settings if it were parsed again.
    struct TCase {
        const char* key;
        std::string value;
        bool forwards;
    } cases[] = {
        {"SslMode", "disable;dbname=postgres", false},
        {"SslMode", "disable dbname=postgres", false},
        {"Host", pg->SocketDir() + " dbname=postgres", false},
        {"User", "zeva_test' dbname='postgres", false},
        {"Database", odd, true},
    };
    for (const TCase& t : cases) {
        std::map<std::string, std::string> keys{{"Host", pg->SocketDir()}, {"Port", "5432"}, {"User", "zeva_test"},
                                                {"Database", name}, {"SslMode", "disable"},
                                                {"Station", "st;a 'b' = \\c\tx"}};
        keys[t.key] = t.value;
        std::ofstream ini((station.path() + "/Data.ini").toStdString(), std::ios::binary | std::ios::trunc);
        ini << "[Central]\r\n";
        for (const auto& [k, v] : keys)
            ini << k << "=" << v << "\r\n";
        ini.close();
        TIniFile file(station.path() + "/Data.ini");
        TForwarder forwarder(station.path(), ReadCentralConfig(file), {}, quick());
        forwarder.Start();
        if (t.forwards)
            EXPECT_TRUE(synced(forwarder)) << t.key << ": " << forwarder.Status().error.toStdString();
        else
            EXPECT_TRUE(WaitUntil([&] { return forwarder.Status().state == TForwarder::TState::Unreachable; }, 10000))
                << t.key;
    }
    EXPECT_EQ(pg->Psql("SELECT count(*) FROM pg_class WHERE relname = 'apparatus_record'"), "0\n")
        << "nothing went into the database a value named";
    EXPECT_EQ(pg->Psql("SELECT station || '|' || count(*) FROM apparatus_record GROUP BY station",
                       "dbname='plant; dbname=postgres \\'x\\' = \\\\y'"),
              "st;a 'b' = \\c\tx|10\n");
}

// The central web view over a station forwarded to the central database: its readings in buckets
// equal the station's own view of the same rows, the tiles and metrics tell the newest rows, a new
// row reaches an open event stream, the token guards every route, and the database's outage is an
// error that ends with it.
TEST_F(CentralFixture, TheCentralWebViewTellsWhatTheStationsOwnViewTellsOfTheSameRows)
{
    const TZone zone("Asia/Shanghai");
    QTemporaryDir station;
    const std::string data = demoStation(station);
    addReadings(data, 1, 3000);
    // ERR now and then, and a peak in the half hour before the range asked for below.
    sqlite(data, "UPDATE ApparatusRecord SET AActTemperature = 300 WHERE RecordID % 97 = 0;"
                 "UPDATE ApparatusRecord SET AActTemperature = 99 WHERE RecordID = 75;"
                 "DELETE FROM ApparatusRecord WHERE RecordID = 360;");
    TCentralConfig config = centralFor("");
    config.station = QStringLiteral("二号 站");
    for (const char* late : {"", "(3001, 1, '2026-12-01 03:59:30', 95.5), (3002, 1, '2026-12-01 05:00:00', 12.5)"}) {
        // Rows sent later than their hour's others (the station's clock set back): a new last and
        // highest, a new first and lowest.
        if (*late)
            sqlite(data, std::string("INSERT INTO ApparatusRecord (RecordID, ApparatusID, InDateTime, AActTemperature) VALUES ") + late);
        TForwarder forwarder(station.path(), config, {}, quick());
        forwarder.Start();
        ASSERT_TRUE(synced(forwarder));
        forwarder.Stop();
    }
    psql("INSERT INTO event_journal (station, local_id, apparatus_id, apparatus_address, kind, text, raised_at, priority)"
         " VALUES ('二号 站', 9001, 1, 1, 'alarm.overheat', 'A相超温', '2026-12-01 10:00+08', 1)");

    std::ofstream(station.path().toStdString() + "/token") << "tok\n";
    const int web = Spawn({ZEVA_WEB, "--central", pg->ConnInfo(name), "--listen", "127.0.0.1:0", "--token-file",
                           station.path().toStdString() + "/token"},
                          data, data + "/web.out");
    const auto stop = qScopeGuard([&] { Terminate(web); });
    std::smatch m;
    std::string out;
    ASSERT_TRUE(WaitUntil([&] { return std::regex_search(out = ReadText(data + "/web.out"), m, std::regex(":(\\d+)/ ")); }, 10000))
        << out;
    const std::string base = "http://127.0.0.1:" + m[1].str();
    const auto get = [&](const std::string& path, const std::string& args = "-H 'Authorization: Bearer tok'") {
        return Shell("curl -s -m 15 -w ' %{http_code}' " + args + " '" + base + path + "'");
    };
    const std::string at = "/station/%E4%BA%8C%E5%8F%B7%20%E7%AB%99/";

    // The same buckets as the station's own view: from a time inside an hour; from a whole hour
    // (the hours from the central hour sums, its end from the rows).
    TDatabase db(QStringLiteral("central-web"));
    ASSERT_TRUE(db.Open(station.path()));
    const auto sameAsTheStation = [&](const char* when) {
        for (const auto& [from, to, steps] : {std::tuple{"2026-12-01T00:30:00", "2026-12-02T10:00:00", std::vector<qint64>{3600, 600, 0}},
                                              std::tuple{"2026-11-30T23:00:00", "2026-12-02T10:20:00", std::vector<qint64>{3600, 7200}}})
            for (const qint64 step : steps) {
                int status = 0;
                QString error;
                const std::string own = ReadingsJson(db, 1, QDateTime::fromString(QString(from) + "+08:00", Qt::ISODate),
                                                     QDateTime::fromString(QString(to) + "+08:00", Qt::ISODate), step, status, error);
                ASSERT_EQ(status, 200) << error.toStdString();
                EXPECT_EQ(get(at + "api/instrument/1/readings?from=" + from + "%2B08:00&to=" + to + "%2B08:00&step=" + std::to_string(step)),
                          own + " 200")
                    << when << ", from " << from << ", step " << step;
            }
    };
    sameAsTheStation("hour sums kept as the rows came");
    // A row deleted centrally, straight from its partition (and at the station, for the
    // comparison): its hour is summed anew.
    sqlite(data, "DELETE FROM ApparatusRecord WHERE RecordID = 75;");
    psql("DELETE FROM apparatus_record_2026_11 WHERE local_id = 75");
    sameAsTheStation("a row deleted");
    // Rows deleted while the triggers were missing (a restore without them): the rows are read until
    // the forwarder has made them again and, while it has nothing to send, every month anew.
    psql("DROP TRIGGER apparatus_record_hour_add ON apparatus_record; DROP TRIGGER apparatus_record_hour_deleted ON apparatus_record;"
         " DELETE FROM apparatus_record WHERE local_id BETWEEN 2000 AND 2010");
    sqlite(data, "DELETE FROM ApparatusRecord WHERE RecordID BETWEEN 2000 AND 2010;");
    sameAsTheStation("the triggers missing");
    {
        TForwarder forwarder(station.path(), config, {}, quick());
        forwarder.Start();
        EXPECT_TRUE(WaitUntil([&] {
            return psql("SELECT bool_and(complete) AND count(*) = (SELECT count(*) FROM pg_inherits"
                        " WHERE inhparent = 'apparatus_record'::regclass) FROM apparatus_record_hour_filled") == "t\n";
        }, 30000));
        forwarder.Stop();
    }
    sameAsTheStation("filled anew");
    EXPECT_NE(get(at + "api/instrument/1/readings?from=2026-12-01T00:30:00%2B08:00&to=2026-12-02T10:00:00%2B08:00&step=3600")
                  .find("{\"time\":\"2026-12-01T00:00:00+08:00\",\"A\":{\"min\":40,\"max\":49.9,\"first\":49,\"last\":41.9}"),
              std::string::npos)
        << "the first hour counts from 00:30, not from 00:00";

    const std::string tiles = get(at + "api/instruments");
    EXPECT_NE(tiles.find("{\"address\":1,\"alarms\":1,\"blackbox\":{\"A\":50,\"B\":50.5,\"C\":60,\"D\":null},\"health\":\"无新数据\","
                         "\"live\":{\"A\":40,\"B\":41.5,\"C\":42.25,\"D\":0},\"name\":\"1号主变压器\",\"priority\":1,"
                         "\"time\":\"2026-12-03T01:00:00+08:00\"}"),
              std::string::npos)
        << tiles;
    const std::string metrics = get("/metrics");
    EXPECT_NE(metrics.find("zeva_temperature_celsius{station=\"二号 站\",address=\"1\",name=\"1号主变压器\",phase=\"C\","
                           "kind=\"live\"} 42.25\n"),
              std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("zeva_alarms_standing{station=\"二号 站\"} 1\n"), std::string::npos);
    EXPECT_NE(get(at + "alarms").find("A相超温"), std::string::npos);
    EXPECT_NE(get("/").find("<a href=\"" + at + "\">二号 站</a>"), std::string::npos);
    EXPECT_EQ(get(at.substr(0, at.size() - 1), "-o /dev/null -w '%{redirect_url}' -H 'Authorization: Bearer tok'"),
              base + at);

    // Refused: no token, a wrong one, a write, a station that is not there (whatever its name holds).
    EXPECT_EQ(get("/api/stations", ""), "{\"error\":\"需要访问令牌\"} 401");
    EXPECT_EQ(get("/", "-o /dev/null -H 'Authorization: Bearer to'"), " 401");
    EXPECT_EQ(get(at + "api/instruments", "-o /dev/null -X POST -H 'Authorization: Bearer tok'"), " 405");
    EXPECT_EQ(get("/station/x'%20OR%20'1'='1/api/instruments", "-o /dev/null -H 'Authorization: Bearer tok'"), " 404");
    EXPECT_EQ(get(at + "api/instrument/9/readings", "-o /dev/null -H 'Authorization: Bearer tok'"), " 404");

    // A newer row reaches the open stream of its station's page.
    const int stream = Spawn({"/usr/bin/curl", "-s", "-N", "-m", "120", "-H", "Authorization: Bearer tok", base + at + "events"}, data,
                             data + "/events.out");
    const auto stopStream = qScopeGuard([&] { Terminate(stream); });
    ASSERT_TRUE(WaitUntil([&] { return ReadText(data + "/events.out").find("retry:") != std::string::npos; }, 10000));
    psql("INSERT INTO apparatus_record (station, local_id, apparatus_id, in_date_time, a_act_temperature)"
         " VALUES ('二号 站', 99999, 1, now(), 77.5)");
    EXPECT_TRUE(WaitUntil([&] { return ReadText(data + "/events.out").find("\"A\":77.5") != std::string::npos; }, 30000))
        << ReadText(data + "/events.out");
    EXPECT_NE(ReadText(data + "/events.out").find("\"health\":\"正常\""), std::string::npos);

    // The whole server frozen: a request waiting on it holds no other, and the open page is told.
    {
        const std::string postmaster = Shell("head -1 '" + pg->SocketDir() + "/data/postmaster.pid'");
        const TFrozen frozen(postmaster.substr(0, postmaster.size() - 1) + " " +
                             QString::fromStdString(Shell("pgrep -P " + postmaster)).simplified().toStdString());
        const int waiting = Spawn({"/usr/bin/curl", "-s", "-m", "30", "-H", "Authorization: Bearer tok", base + at + "api/instruments"},
                                  data, data + "/waiting.out");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(get("/login", "-o /dev/null"), " 200");
        EXPECT_EQ(ReadText(data + "/waiting.out"), "") << "the login page waited for the frozen database";
        EXPECT_TRUE(WaitUntil([&] { return ReadText(data + "/events.out").find("\"error\":\"中心库无法读取") != std::string::npos; }, 30000));
        Terminate(waiting);
    }

    // The database away: an error; back: answers again.
    ASSERT_TRUE(pg->Stop());
    EXPECT_EQ(get(at + "api/instruments").rfind("{\"error\":\"中心库：", 0), 0u);
    ASSERT_TRUE(pg->Start());
    EXPECT_TRUE(WaitUntil([&] { return get(at + "api/instruments").find("\"A\":77.5") != std::string::npos; }, 20000));
}

} // namespace
} // namespace zeva::test
