// Central database figures on a throwaway PostgreSQL 15 cluster: the forwarder draining a backlog
// of a million readings beside the server's own \copy of the same rows, the month query of one
// instrument among many stations' years, and the web view's year of one instrument in hours.
#include "CentralSchema.h"
#include "CentralView.h"
#include "CentralSettings.h"
#include "Forwarder.h"
#include "PgCluster.h"
#include "TestSupport.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <functional>
#include <string>

using namespace zeva;

namespace {

// One cluster for every benchmark of the run.
test::TPgCluster& cluster()
{
    static test::TPgCluster pg;
    return pg;
}

TCentralConfig configFor(const std::string& database)
{
    TCentralConfig c = ParseConnInfo(QString::fromStdString(cluster().ConnInfo(database)));
    c.station = QStringLiteral("bench");
    return c;
}

// The central schema with the readings' partitions from January 2025 to `months` later.
void makeCentral(const std::string& database, int months)
{
    cluster().Psql("CREATE DATABASE " + database);
    TPgConnection db(configFor(database).params);
    EnsureCentralSchema(db);
    for (int month = 0; month <= months; ++month)
        EnsureMonthPartition(db, QDate(2025, 1, 1).addMonths(month));
}

double secondsOf(const std::function<void()>& run)
{
    QElapsedTimer clock;
    clock.start();
    run();
    return double(clock.nsecsElapsed()) / 1e9;
}

} // namespace

// A station whose central database was away: `rows` readings waiting, a minute apart, three
// instruments. Side by side: psql's \copy of the same rows (exported by sqlite3) into the same
// table, schema and partitions in a database of their own, and the forwarder from its start until
// the last row is committed centrally. copy_ratio: the \copy's time over the forwarder's.
static void BM_ForwarderDrainsABacklog(benchmark::State& state)
{
    const int rows = int(state.range(0));
    if (!cluster().Ok()) {
        state.SkipWithError(cluster().Error().c_str());
        return;
    }
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir station;
        const std::string data = station.path().toStdString();
        const std::string file = data + "/DataBase/Data.db";
        test::Shell(std::string(ZEVA_INITDB) + " '" + data + "' --demo > /dev/null");
        test::Shell("sqlite3 '" + file + "' \"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1"
                    " FROM n WHERE i < " + std::to_string(rows) + ") INSERT INTO ApparatusRecord (ApparatusID,"
                    " InDateTime, AActTemperature, BActTemperature, CActTemperature, DActTemperature,"
                    " ABlackTemperature, BBlackTemperature, CBlackTemperature, DBlackTemperature)"
                    " SELECT 1 + i % 3, strftime('%Y-%m-%d %H:%M:%S', '2025-01-01', '+' || i || ' minutes'),"
                    " 40 + i % 500 / 10.0, 41.5, 42.25, 0, 50, 50.5, 60, 255.9 FROM n\"");
        const std::string rowsFile = data + "/rows.tsv";
        test::Shell("sqlite3 -separator \"$(printf '\\t')\" '" + file + "' \"SELECT 'bench', RecordID, ApparatusID,"
                    " strftime('%Y-%m-%dT%H:%M:%SZ', InDateTime, 'utc'), AActTemperature, BActTemperature,"
                    " CActTemperature, DActTemperature, ABlackTemperature, BBlackTemperature, CBlackTemperature,"
                    " DBlackTemperature FROM ApparatusRecord\" > '" + rowsFile + "'");
        const int months = rows / (60 * 24 * 28) + 2;
        const std::string copied = "copied" + std::to_string(++round), drained = "drained" + std::to_string(round);
        makeCentral(copied, months);
        makeCentral(drained, months);
        cluster().Psql("CHECKPOINT");
        const double copySeconds = secondsOf([&] {
            test::Shell("psql -q -h '" + cluster().SocketDir() + "' -U zeva_test -d " + copied +
                        " -c \"\\copy apparatus_record (station, local_id, apparatus_id, in_date_time, a_act_temperature,"
                        " b_act_temperature, c_act_temperature, d_act_temperature, a_black_temperature,"
                        " b_black_temperature, c_black_temperature, d_black_temperature) FROM '" + rowsFile + "'\"");
        });
        cluster().Psql("CHECKPOINT");
        TForwarder forwarder(station.path(), configFor(drained), {});
        state.ResumeTiming();
        const double drainSeconds = secondsOf([&] {
            forwarder.Start();
            test::WaitUntil([&] { return forwarder.Forwarded() >= uint64_t(rows); }, 600000);
        });
        forwarder.Stop();
        state.PauseTiming();
        state.counters["rows_per_second"] = double(forwarder.Forwarded()) / drainSeconds;
        state.counters["copy_rows_per_second"] = double(rows) / copySeconds;
        state.counters["copy_ratio"] = copySeconds / drainSeconds;
        state.counters["central_rows"] = std::stod("0" + cluster().Psql("SELECT count(*) FROM apparatus_record", drained));
        state.counters["copied_rows"] = std::stod("0" + cluster().Psql("SELECT count(*) FROM apparatus_record", copied));
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ForwarderDrainsABacklog)->Arg(1'000'000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// `stations` stations with `instruments` instruments each, a reading every `minutes` minutes for
// the year 2026, made on the server; then the month of one instrument, as a report or a chart
// panel asks for it, read to the last row.
static void BM_CentralMonthOfOneInstrument(benchmark::State& state)
{
    const int stations = int(state.range(0)), instruments = int(state.range(1)), minutes = int(state.range(2));
    if (!cluster().Ok()) {
        state.SkipWithError(cluster().Error().c_str());
        return;
    }
    static bool made = false;
    const std::string database = "year";
    if (!made) {
        cluster().Psql("CREATE DATABASE " + database);
        {
            TPgConnection db(configFor(database).params);
            EnsureCentralSchema(db);
            for (int month = 1; month <= 12; ++month)
                EnsureMonthPartition(db, QDate(2026, month, 1));
        }
        cluster().Psql("INSERT INTO apparatus_record (station, local_id, apparatus_id, in_date_time, a_act_temperature,"
                       " b_act_temperature, c_act_temperature, d_act_temperature, a_black_temperature,"
                       " b_black_temperature, c_black_temperature, d_black_temperature)"
                       " SELECT 's' || s, row_number() OVER (PARTITION BY s ORDER BY t, i), i, t,"
                       " round((40 + 20 * sin(extract(epoch FROM t) / 3600 + s + i))::numeric, 1), 41.5, 42.2, 0,"
                       " 50, 50.5, 60, 255.9"
                       " FROM generate_series(1, " + std::to_string(stations) + ") s,"
                       " generate_series(1, " + std::to_string(instruments) + ") i,"
                       " generate_series('2026-01-01 00:00+00'::timestamptz, '2026-12-31 23:59+00', '" +
                           std::to_string(minutes) + " minutes') t",
                       database);
        cluster().Psql("VACUUM ANALYZE apparatus_record", database);
        made = true;
    }
    state.counters["rows_in_year"] = std::stod("0" + cluster().Psql("SELECT count(*) FROM apparatus_record", database));
    TPgConnection db(configFor(database).params);
    const std::string query = "SELECT in_date_time, a_act_temperature, b_act_temperature, c_act_temperature,"
                              " d_act_temperature FROM apparatus_record WHERE station = $1 AND apparatus_id = $2"
                              " AND in_date_time >= $3 AND in_date_time < $4 ORDER BY in_date_time";
    int got = 0, round = 0;
    for (auto _ : state) {
        // A different station and month each time: no answer comes from the last one's pages alone.
        ++round;
        const TPgResult r = db.Exec(
            query, {QStringLiteral("s%1").arg(1 + round * 37 % stations).toStdString(), std::to_string(1 + round % instruments),
                    QStringLiteral("2026-%1-01T00:00:00+08:00").arg(1 + round % 11, 2, 10, QLatin1Char('0')).toStdString(),
                    QStringLiteral("2026-%1-01T00:00:00+08:00").arg(2 + round % 11, 2, 10, QLatin1Char('0')).toStdString()});
        got = r.Rows();
    }
    state.counters["rows_in_month"] = got;
}
BENCHMARK(BM_CentralMonthOfOneInstrument)->Args({100, 2, 10})->Unit(benchmark::kMillisecond);

// The central web view's readings API: a year of one instrument, a reading a minute (the
// recording cycle's default pace), in hourly buckets, beside two other instruments' years.
static void BM_CentralWebReadingsYearInHours(benchmark::State& state)
{
    if (!cluster().Ok()) {
        state.SkipWithError(cluster().Error().c_str());
        return;
    }
    const std::string database = "webyear";
    cluster().Psql("CREATE DATABASE " + database);
    {
        TPgConnection db(configFor(database).params);
        EnsureCentralSchema(db);
        for (int month = 0; month <= 13; ++month)
            EnsureMonthPartition(db, QDate(2024, 12, 1).addMonths(month));
    }
    cluster().Psql("INSERT INTO station (station) VALUES ('s1');"
                   " INSERT INTO apparatus (station, local_id, apparatus_name, apparatus_address, c_flag)"
                   " SELECT 's1', i, 'i' || i, i, true FROM generate_series(1, 3) i;"
                   " INSERT INTO apparatus_record (station, local_id, apparatus_id, in_date_time, a_act_temperature,"
                   " b_act_temperature, c_act_temperature, d_act_temperature)"
                   " SELECT 's1', row_number() OVER (), i, t, round((40 + 20 * sin(extract(epoch FROM t) / 3600 + i))::numeric, 1),"
                   " 41.5, 42.2, 0 FROM generate_series(1, 3) i,"
                   " generate_series('2025-01-01 00:00+08'::timestamptz, '2025-12-31 23:59+08', '1 minute') t",
                   database);
    cluster().Psql("VACUUM ANALYZE apparatus_record", database);
    TCentralView::TConfig config;
    config.params = configFor(database).params;
    config.statement = std::chrono::milliseconds(60000);
    TCentralView view(config, {});
    TWebRequest request;
    request.method = "GET";
    request.path = "/station/s1/api/instrument/2/readings";
    request.query = "from=2025-01-01T00:00:00%2B08:00&to=2026-01-01T00:00:00%2B08:00&step=3600";
    std::size_t bytes = 0;
    for (auto _ : state) {
        const TWebResponse r = view.Handle(request);
        if (r.status != 200)
            state.SkipWithError(r.body.c_str());
        bytes = r.body.size();
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_CentralWebReadingsYearInHours)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
