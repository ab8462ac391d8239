// Central database figures on a throwaway PostgreSQL 15 cluster: the forwarder draining a backlog
// of a million readings, and the month query of one instrument among many stations' years.
#include "CentralSchema.h"
#include "Forwarder.h"
#include "PgCluster.h"
#include "TestSupport.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

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

} // namespace

// A station whose central database was away: `rows` readings waiting, a minute apart, three
// instruments. The time from the forwarder's start until the last row is committed centrally.
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
        test::Shell(std::string(ZEVA_INITDB) + " '" + data + "' --demo > /dev/null");
        test::Shell("sqlite3 '" + data + "/DataBase/Data.db' \"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1"
                    " FROM n WHERE i < " + std::to_string(rows) + ") INSERT INTO ApparatusRecord (ApparatusID,"
                    " InDateTime, AActTemperature, BActTemperature, CActTemperature, DActTemperature,"
                    " ABlackTemperature, BBlackTemperature, CBlackTemperature, DBlackTemperature)"
                    " SELECT 1 + i % 3, strftime('%Y-%m-%d %H:%M:%S', '2025-01-01', '+' || i || ' minutes'),"
                    " 40 + i % 500 / 10.0, 41.5, 42.25, 0, 50, 50.5, 60, 255.9 FROM n\"");
        const std::string database = "drain" + std::to_string(++round);
        cluster().Psql("CREATE DATABASE " + database);
        TForwarder forwarder(station.path(), configFor(database), {});
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        forwarder.Start();
        test::WaitUntil([&] { return forwarder.Forwarded() >= uint64_t(rows); }, 600000);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        forwarder.Stop();
        state.PauseTiming();
        state.counters["rows_per_second"] = double(forwarder.Forwarded()) / seconds;
        state.counters["central_rows"] =
            std::stod("0" + cluster().Psql("SELECT count(*) FROM apparatus_record", database));
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
            QSqlDatabase db = OpenCentral(QStringLiteral("bench-make"), configFor(database));
            EnsureCentralSchema(db);
            for (int month = 1; month <= 12; ++month)
                EnsureMonthPartition(db, QDate(2026, month, 1));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bench-make"));
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
    {
        QSqlDatabase db = OpenCentral(QStringLiteral("bench-query"), configFor(database));
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT in_date_time, a_act_temperature, b_act_temperature, c_act_temperature,"
                                 " d_act_temperature FROM apparatus_record WHERE station = ? AND apparatus_id = ?"
                                 " AND in_date_time >= ? AND in_date_time < ? ORDER BY in_date_time"));
        int got = 0, round = 0;
        for (auto _ : state) {
            // A different station and month each time: no answer comes from the last one's pages alone.
            ++round;
            q.addBindValue(QStringLiteral("s%1").arg(1 + round * 37 % stations));
            q.addBindValue(1 + round % instruments);
            q.addBindValue(QStringLiteral("2026-%1-01T00:00:00+08:00").arg(1 + round % 11, 2, 10, QLatin1Char('0')));
            q.addBindValue(QStringLiteral("2026-%1-01T00:00:00+08:00").arg(2 + round % 11, 2, 10, QLatin1Char('0')));
            if (!q.exec()) {
                state.SkipWithError(q.lastError().text().toStdString().c_str());
                break;
            }
            got = 0;
            while (q.next())
                ++got;
        }
        state.counters["rows_in_month"] = got;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-query"));
}
BENCHMARK(BM_CentralMonthOfOneInstrument)->Args({100, 2, 10})->Unit(benchmark::kMillisecond);
