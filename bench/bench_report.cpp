// The report of a month of 21 instruments at one reading per 10 s (5,443,200 rows, built once in
// ZEVA_BENCH_REPORT_DB or /tmp/zeva-bench-report) with 3,000 alarms and fan events: the figures,
// then the PDF and the XLSX.
#include "Database.h"
#include "ReportPdf.h"
#include "ReportSources.h"
#include "ReportXlsx.h"
#include "Statements.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace zeva;

namespace {

QString benchPath()
{
    const QString p = qEnvironmentVariable("ZEVA_BENCH_REPORT_DB");
    return p.isEmpty() ? QStringLiteral("/tmp/zeva-bench-report") : p;
}

void build(TDatabase& db)
{
    CreateSchema(db);
    // The sums of the analysis window are no part of a report; without their trigger the fill is quick.
    db.Exec(QStringLiteral("DROP TRIGGER TrendOnInsert"));
    for (int i = 1; i <= 21; ++i) {
        const qint64 id = InsertApparatus(db, QStringLiteral("bench %1").arg(i), i, true);
        UpdateThresholds(db, id, {50, 60, 80, 100, 0, 0, 0});
    }
    db.Exec(QStringLiteral("PRAGMA synchronous=OFF"));
    db.Exec(QStringLiteral("BEGIN"));
    db.Exec(QStringLiteral(
        "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < 259199) "
        "INSERT INTO ApparatusRecord(ApparatusID, InDateTime, AActTemperature, BActTemperature, CActTemperature, "
        "DActTemperature) SELECT a.ID, datetime('2026-11-01', '+' || (s.i * 10) || ' seconds'), "
        "40 + (s.i * 7 + a.ID) % 400 / 10.0, 45 + (s.i * 3) % 300 / 10.0, 50 + (s.i + a.ID) % 350 / 10.0, NULL "
        "FROM Apparatus a, s ORDER BY a.ID, s.i"));
    db.Exec(QStringLiteral(
        "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < 2999) "
        "INSERT INTO EventJournal(ApparatusID, ApparatusAddress, Kind, Text, RaisedAt, ClearedAt, AckedAt, Priority) "
        "SELECT i % 21 + 1, i % 21 + 1, CASE i % 3 WHEN 0 THEN 'event.fan' ELSE 'alarm.overtemp' END, "
        "CASE i % 3 WHEN 0 THEN '风机控制输出：动作' ELSE '超温报警输出' END, "
        "datetime('2026-11-01', '+' || (i * 860) || ' seconds'), datetime('2026-11-01', '+' || (i * 860 + 300) || ' seconds'), "
        "datetime('2026-11-01', '+' || (i * 860 + 120) || ' seconds'), 1 FROM s"));
    db.Exec(QStringLiteral("COMMIT"));
}

TDatabase& benchDb()
{
    static TDatabase* db = nullptr;
    if (db)
        return *db;
    db = new TDatabase(QStringLiteral("bench"));
    qAddPostRoutine([] { delete db; });
    const QString path = benchPath(), file = TDatabase::FileFor(path);
    const bool fresh = !QFile::exists(file);
    if (fresh) {
        QDir().mkpath(path + QStringLiteral("/DataBase"));
        QFile(file).open(QIODevice::WriteOnly);
    }
    if (!db->Open(path))
        qFatal("cannot open %s", qPrintable(file));
    if (fresh)
        build(*db);
    return *db;
}

void BM_ReportOfAMonthOf21Instruments(benchmark::State& state)
{
    TDatabase& db = benchDb();
    QTemporaryDir out;
    const TReportPeriod month{QDate(2026, 11, 1), true};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const TReport r = MakeReport(*StationReportSource(db), month, QStringLiteral("bench"), month.To() + 3600);
        const auto figures = std::chrono::steady_clock::now();
        const QString pdf = WriteReportPdf(r, out.filePath(QStringLiteral("m.pdf")));
        const QString xlsx = WriteReportXlsx(r, out.filePath(QStringLiteral("m.xlsx")));
        if (!pdf.isEmpty() || !xlsx.isEmpty())
            state.SkipWithError((pdf + xlsx).toStdString().c_str());
        state.counters["figures_ms"] = std::chrono::duration<double, std::milli>(figures - start).count();
        state.counters["instruments"] = double(r.instruments.size());
        state.counters["alarm_rows"] = double(r.alarms.size());
    }
}
BENCHMARK(BM_ReportOfAMonthOf21Instruments)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
