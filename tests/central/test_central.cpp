// The central schema on a real PostgreSQL 15 (a throwaway cluster): made once, left as it is,
// partitioned by month, retention by whole partitions, stations starting together; the settings.
#include "CentralSchema.h"
#include "Forwarder.h"
#include "Database.h"
#include "PgCluster.h"
#include "TestSupport.h"

#include <QScopeGuard>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <thread>
#include <time.h>

namespace zeva::test {
namespace {

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
    QSqlDatabase open(const QString& connection = QStringLiteral("central-test"))
    {
        return OpenCentral(connection, ParseConnInfo(QString::fromStdString(pg->ConnInfo(name))));
    }
    std::string psql(const std::string& sql) const { return pg->Psql(sql, name); }
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
        QSqlDatabase db = open();
        EnsureCentralSchema(db);
        EnsureCentralSchema(db); // a second run refuses nothing and changes nothing
    }
    QSqlDatabase::removeDatabase(QStringLiteral("central-test"));
    EXPECT_EQ(psql("SELECT string_agg(relname || ':' || relkind::text, ' ' ORDER BY relname) FROM pg_class"
                   " WHERE relnamespace = 'public'::regnamespace AND relkind IN ('r', 'p')"),
              "apparatus:r apparatus_history:r apparatus_record:p event_journal:r station:r\n");
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
        QSqlDatabase db = open();
        EXPECT_EQ(EnsureMonthPartition(db, QDate(2026, 12, 9)), "apparatus_record_2026_12");
        EXPECT_EQ(EnsureMonthPartition(db, QDate(2026, 12, 31)), "apparatus_record_2026_12");
        EnsureCentralSchema(db);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("central-test"));
    EXPECT_EQ(insertRecord(1, "2026-12-09 08:00:00+08"), "");
    EXPECT_EQ(insertRecord(1, "2026-12-09 08:00:00+08"), "");
    EXPECT_EQ(psql("SELECT count(*), min(in_date_time AT TIME ZONE 'Asia/Shanghai') FROM apparatus_record"),
              "1|2026-12-09 08:00:00\n");
}

TEST_F(CentralFixture, RetentionDropsWholeMonthsAndNothingElse)
{
    {
        QSqlDatabase db = open();
        EnsureCentralSchema(db);
        for (int month = 9; month <= 12; ++month)
            EnsureMonthPartition(db, QDate(2026, month, 1));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("central-test"));
    // Someone's own partition for older rows is not ours to drop.
    EXPECT_EQ(psql("CREATE TABLE apparatus_record_archive PARTITION OF apparatus_record"
                   " FOR VALUES FROM ('2020-01-01 00:00+00') TO ('2021-01-01 00:00+00')"),
              "");
    for (int month = 9; month <= 12; ++month)
        EXPECT_EQ(insertRecord(month, "2026-" + std::to_string(month) + "-15 12:00:00+00"), "");
    EXPECT_EQ(insertRecord(1, "2020-06-01 00:00:00+00"), "");
    QStringList dropped;
    {
        QSqlDatabase db = open();
        dropped = DropPartitionsBefore(db, QDate(2026, 11, 20));
        EXPECT_TRUE(DropPartitionsBefore(db, QDate(2026, 11, 20)).isEmpty()) << "a second run drops nothing";
    }
    QSqlDatabase::removeDatabase(QStringLiteral("central-test"));
    EXPECT_EQ(dropped, (QStringList{"apparatus_record_2026_09", "apparatus_record_2026_10"}));
    EXPECT_EQ(psql("SELECT string_agg(local_id::text, ' ' ORDER BY local_id) FROM apparatus_record"), "1 11 12\n");
}

TEST_F(CentralFixture, StationsStartingTogetherMakeTheSchemaOnce)
{
    // Each station on its own connection and thread, all at once.
    std::vector<std::thread> stations;
    std::vector<std::string> errors(6);
    const TCentralConfig config = ParseConnInfo(QString::fromStdString(pg->ConnInfo(name)));
    for (int i = 0; i < 6; ++i)
        stations.emplace_back([&, i] {
            const QString connection = QStringLiteral("station-%1").arg(i);
            try {
                QSqlDatabase db = OpenCentral(connection, config);
                EnsureCentralSchema(db);
                EnsureMonthPartition(db, QDate(2026, 12, 1));
                db.close();
            } catch (const std::exception& e) {
                errors[std::size_t(i)] = e.what();
            }
            QSqlDatabase::removeDatabase(connection);
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
    EXPECT_NE(out.find("unknown key in the connection string: password"), std::string::npos) << out;
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

TEST_F(CentralFixture, TheForwarderCopiesEveryReadingAsItIsAndDrainsItsBacklogAfterAnOutage)
{
    // Not UTC, so that a wrong offset shows; the tests after this one get their zone back.
    const QByteArray zone = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    const auto restoreZone = qScopeGuard([&] {
        if (hadZone)
            qputenv("TZ", zone);
        else
            qunsetenv("TZ");
        ::tzset();
    });
    qputenv("TZ", "Asia/Shanghai");
    ::tzset();
    QTemporaryDir station;
    const std::string data = station.path().toStdString();
    ASSERT_EQ(Shell(std::string(ZEVA_INITDB) + " '" + data + "' --demo > /dev/null; echo $?"), "0\n");
    addReadings(data, 1, 3000);

    TCentralConfig config = ParseConnInfo(QString::fromStdString(pg->ConnInfo(name)));
    config.station = QStringLiteral("s1");
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
    EXPECT_EQ(psql("SELECT count(*) FROM pg_inherits WHERE inhparent = 'apparatus_record'::regclass"), "2\n")
        << "November and December";

    // The server goes away while readings go on being stored; it comes back; the backlog drains.
    ASSERT_TRUE(pg->Stop());
    addReadings(data, 3001, 1000);
    forwarder.Wake();
    ASSERT_TRUE(WaitUntil([&] { return forwarder.Status().state == TForwarder::TState::Unreachable; }, 10000));
    EXPECT_EQ(forwarder.Status().backlog, 1000);
    EXPECT_EQ(TForwarder::StatusText(forwarder.Status()), "中心库：不可达");
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the outage's length: several attempts, backing off
    ASSERT_TRUE(pg->Start()) << pg->Error();
    ASSERT_TRUE(WaitUntil([&] { return forwarder.Forwarded() == 4000u; }, 20000)) << forwarder.Forwarded();
    forwarder.Stop();
    EXPECT_EQ(psql("SELECT count(*), count(DISTINCT local_id), max(local_id) FROM apparatus_record"), "4000|4000|4000\n");
    EXPECT_EQ(Shell("sqlite3 '" + data + "/DataBase/Data.db' \"SELECT LastID FROM ForwardPosition\""), "4000\n");
    std::lock_guard lock(m);
    EXPECT_NE(std::find(states.begin(), states.end(), TForwarder::TState::Unreachable), states.end());
    EXPECT_EQ(states.back(), TForwarder::TState::Synced);
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
    EXPECT_EQ(c.host, "db.plant.lan");
    EXPECT_EQ(c.port, 5432);
    EXPECT_EQ(c.sslMode, "prefer");
    EXPECT_EQ(c.retentionMonths, 24);
    EXPECT_FALSE(c.station.isEmpty()) << "the host name";

    c = ParseConnInfo(QStringLiteral("host=/run/postgresql  port = 5433 dbname='my plant' user=u sslmode=require"));
    EXPECT_EQ(c.host, "/run/postgresql");
    EXPECT_EQ(c.port, 5433);
    EXPECT_EQ(c.database, "my plant");
    EXPECT_EQ(c.sslMode, "require");
    EXPECT_THROW(ParseConnInfo(QStringLiteral("host")), std::invalid_argument);
    EXPECT_THROW(ParseConnInfo(QStringLiteral("password=x")), std::invalid_argument);
}

} // namespace
} // namespace zeva::test
