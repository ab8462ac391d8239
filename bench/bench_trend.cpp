// Analysis figures over one phase of 3 instruments for a year at one reading per 10 s (9.45 M
// rows): the sums' cost per stored row, their background fill while readings keep being stored,
// the year from the query to the painted chart, and one zoom step with its query.
#include "Convert.h"
#include "Database.h"
#include "FrmTrend.h"
#include "IniFile.h"
#include "Settings.h"
#include "Statements.h"
#include "Trend.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace zeva;

namespace {

constexpr qint64 RowsEach = 3'153'600; // a year at one reading per 10 s
const char* const DropSums[] = {"DROP TRIGGER IF EXISTS TrendOnInsert", "DROP TRIGGER IF EXISTS TrendOnDelete",
                                "DROP TRIGGER IF EXISTS TrendOnUpdate", "DROP TABLE IF EXISTS TrendMinute",
                                "DROP TABLE IF EXISTS TrendHour", "DROP TABLE IF EXISTS TrendFill"};

QString benchPath()
{
    QString p = qEnvironmentVariable("ZEVA_BENCH_TREND");
    return p.isEmpty() ? QStringLiteral("/tmp/zeva-bench-trend") : p;
}

std::unique_ptr<TDatabase> g_db;

void newFile(const QString& path)
{
    QDir().mkpath(path + QStringLiteral("/DataBase"));
    QFile f(TDatabase::FileFor(path));
    f.open(QIODevice::WriteOnly);
}

// Built once and kept: the rows, stored as an older program stored them (without sums), one 112 °C
// reading in the middle; the sums made from them by the fill (the fill's own benchmark redoes it).
TDatabase& benchDb()
{
    if (g_db)
        return *g_db;
    g_db = std::make_unique<TDatabase>();
    qAddPostRoutine([] { g_db.reset(); });
    TDatabase& db = *g_db;
    const QString path = benchPath();
    const bool fresh = !QFile::exists(TDatabase::FileFor(path));
    if (fresh)
        newFile(path);
    if (!db.Open(path))
        qFatal("cannot open %s", qPrintable(path));
    if (fresh) {
        CreateSchema(db);
        for (const char* sql : DropSums)
            db.Exec(QLatin1String(sql));
        for (int a = 1; a <= 3; ++a)
            InsertApparatus(db, QStringLiteral("bench %1").arg(a), a, true);
        db.Exec(QStringLiteral("UPDATE Apparatus SET T3 = 85, T4 = 100"));
        db.Exec(QStringLiteral("PRAGMA synchronous=OFF"));
        db.Exec(QStringLiteral("WITH RECURSIVE m(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM m WHERE i < %1) "
                               "INSERT INTO ApparatusRecord(ApparatusID, InDateTime, AActTemperature) "
                               "SELECT a.ID, datetime('2025-01-01', '+' || (i * 10) || ' seconds'), "
                               "CASE WHEN i = 1500000 AND a.ApparatusAddress = 2 THEN 112 ELSE 50 + a.ID + (i % 360) / 36.0 END "
                               "FROM m, Apparatus a ORDER BY i")
                    .arg(RowsEach - 1));
        db.Exec(QStringLiteral("PRAGMA synchronous=FULL"));
        EnsureTrend(db);
        while (FillTrendStep(db, 200000)) {
        }
        db.Exec(QStringLiteral("ANALYZE"));
    }
    return db;
}

} // namespace

// The triggers' share of storing a row, in the writer's batches of 500.
static void BM_TrendSumsCostPerStoredRow(benchmark::State& state)
{
    QTemporaryDir dir;
    newFile(dir.path());
    TDatabase db(QStringLiteral("cost"));
    db.Open(dir.path());
    CreateSchema(db);
    const qint64 id = InsertApparatus(db, QStringLiteral("x"), 1, true);
    auto store = [&](int batches) {
        const auto t0 = std::chrono::steady_clock::now();
        QDateTime when(QDate(2026, 1, 1), QTime(0, 0));
        for (int b = 0; b < batches; ++b) {
            db.Exec(QStringLiteral("BEGIN"));
            for (int r = 0; r < 500; ++r) {
                when = when.addSecs(10);
                InsertRecord(db, id, when, {50, 51, 52, 0}, {60, 61, 62, 63});
            }
            db.Exec(QStringLiteral("COMMIT"));
        }
        return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count() / (batches * 500);
    };
    double with = 0, without = 0;
    for (auto _ : state) {
        with = store(20);
        for (const char* sql : DropSums)
            db.Exec(QLatin1String(sql));
        without = store(20);
        CreateTrendSchema(db);
    }
    state.counters["us_per_row_with_sums"] = with;
    state.counters["us_per_row_without"] = without;
    state.counters["us_sums_per_row"] = with - without;
}
BENCHMARK(BM_TrendSumsCostPerStoredRow)->Iterations(1)->Unit(benchmark::kMillisecond);

// The sums of the 9.45 M rows made afresh in the background while a reading is stored every
// 333 ms, as the fastest polling stores them: how long, and the longest wait of a store.
static void BM_TrendFillInBackground(benchmark::State& state)
{
    TDatabase& db = benchDb();
    double seconds = 0, longestStoreMs = 0;
    for (auto _ : state) {
        for (const char* sql : DropSums)
            db.Exec(QLatin1String(sql));
        EnsureTrend(db);
        std::atomic<bool> done{false};
        std::thread writer([&] {
            TDatabase w(QStringLiteral("writer"), 200);
            w.Open(benchPath());
            QDateTime when(QDate(2026, 6, 1), QTime(0, 0));
            while (!done) {
                const auto t0 = std::chrono::steady_clock::now();
                for (int attempt = 0; attempt < 50; ++attempt) {
                    try {
                        InsertRecord(w, 1, when = when.addSecs(1), {50, 0, 0, 0}, {0, 0, 0, 0});
                        break;
                    } catch (const EDatabaseError&) {
                    }
                }
                longestStoreMs = std::max(longestStoreMs,
                                          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
                std::this_thread::sleep_for(std::chrono::milliseconds(333));
            }
        });
        const auto t0 = std::chrono::steady_clock::now();
        {
            TTrendFiller filler(benchPath());
            while (!filler.Done())
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        done = true;
        writer.join();
    }
    state.counters["fill_s"] = seconds;
    state.counters["rows_per_s"] = double(3 * RowsEach) / seconds;
    state.counters["longest_store_ms"] = longestStoreMs;
}
BENCHMARK(BM_TrendFillInBackground)->Iterations(1)->Unit(benchmark::kSecond);

namespace {

struct TrendWindow {
    QTemporaryDir dir;
    TIniFile settings{dir.filePath(QStringLiteral("Data.ini"))};
    std::unique_ptr<TFrmTrend> w;
    TrendWindow()
    {
        settings.WriteString(SettingsKey::Trend, SettingsKey::TrendSeries, QStringLiteral("1:AAct,2:AAct,3:AAct"));
        settings.WriteString(SettingsKey::Trend, SettingsKey::TrendRange,
                             QStringLiteral("2025-01-01 00:00:00,2026-01-01 00:00:00"));
        w = std::make_unique<TFrmTrend>(benchDb(), settings);
        w->resize(1680, 900);
        w->show();
        QApplication::processEvents();
    }
};

} // namespace

// A year of the three: the query (the hourly sums) to the painted chart.
static void BM_TrendYearQueryToPaintedChart(benchmark::State& state)
{
    TrendWindow t;
    for (auto _ : state) {
        t.w->Reload();
        t.w->ChartView->replot(QCustomPlot::rpImmediateRefresh);
    }
    state.counters["points"] = t.w->ChartView->graph(0)->dataCount() * 3;
}
BENCHMARK(BM_TrendYearQueryToPaintedChart)->Unit(benchmark::kMillisecond);

// One step of zooming between two spans of hours, each with its query and its paint: a week and a
// day (the sums per minute, then the rows), and across the levels where a level is at its coarsest
// (70 and 60 days: hours and ten minutes; 12 and 10 days: ten minutes and minutes).
static void BM_TrendZoomStep(benchmark::State& state)
{
    TrendWindow t;
    const double start = double(QDateTime(QDate(2025, 6, 2), QTime(0, 0), Qt::UTC).toSecsSinceEpoch());
    bool wide = false;
    for (auto _ : state) {
        wide = !wide;
        t.w->ChartView->xAxis->setRange(start, start + double(wide ? state.range(0) : state.range(1)) * 3600.0);
        QApplication::processEvents(); // the query waits for the zoom's events
        t.w->ChartView->replot(QCustomPlot::rpImmediateRefresh);
    }
}
BENCHMARK(BM_TrendZoomStep)->Args({168, 24})->Args({1680, 1440})->Args({288, 240})->Unit(benchmark::kMillisecond);
