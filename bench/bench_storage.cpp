// Storage figures over 5,000,000 stored readings of 21 instruments in one year: the range query of
// one instrument and one month (fully fetched), and one insert with synchronous=FULL.
#include "AlarmStatistics.h"
#include "Convert.h"
#include "Database.h"
#include "RecordWriter.h"
#include "Statements.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <memory>
#include <thread>

using namespace zeva;

namespace {

constexpr int Instruments = 21;
constexpr qint64 Rows = 5'000'000;

// Built once and kept (ZEVA_BENCH_DB or /tmp/zeva-bench-db): filling takes a minute.
QString benchPath()
{
    QString p = qEnvironmentVariable("ZEVA_BENCH_DB");
    return p.isEmpty() ? QStringLiteral("/tmp/zeva-bench-db") : p;
}

std::unique_ptr<TDatabase> g_db;

// The connection must close while the application object still exists: a static one would
// outlive it and crash at exit.
TDatabase& benchDb()
{
    if (g_db)
        return *g_db;
    g_db = std::make_unique<TDatabase>();
    qAddPostRoutine([] { g_db.reset(); });
    TDatabase& db = *g_db;
    const QString path = benchPath();
    const QString file = TDatabase::FileFor(path);
    bool fresh = !QFile::exists(file);
    if (fresh) {
        QDir().mkpath(path + "/DataBase");
        QFile f(file);
        f.open(QIODevice::WriteOnly);
    }
    if (!db.Open(path))
        qFatal("cannot open %s", qPrintable(file));
    if (fresh) {
        CreateSchema(db);
        for (int i = 1; i <= Instruments; ++i)
            InsertApparatus(db, QStringLiteral("bench %1").arg(i), i, true);
        db.Exec("PRAGMA synchronous=OFF");
        db.Exec("BEGIN");
        QSqlQuery q(db.connection());
        q.prepare("INSERT INTO ApparatusRecord(ApparatusID,InDateTime,AActTemperature,BActTemperature,"
                  "CActTemperature,DActTemperature,ABlackTemperature,BBlackTemperature,CBlackTemperature,"
                  "DBlackTemperature) VALUES(?,?,?,?,?,?,?,?,?,?)");
        const QDateTime start(QDate(2025, 1, 1), QTime(0, 0));
        const qint64 stepMs = qint64(365) * 24 * 3600 * 1000 / (Rows / Instruments);
        for (qint64 r = 0; r < Rows; ++r) {
            q.bindValue(0, int(r % Instruments) + 1);
            q.bindValue(1, start.addMSecs((r / Instruments) * stepMs).toString(DateTimeFormat));
            for (int c = 2; c < 10; ++c)
                q.bindValue(c, 40.0 + double((r * 7 + c) % 400) / 10.0);
            if (!q.exec())
                qFatal("insert failed");
        }
        db.Exec("COMMIT");
        db.Exec("PRAGMA synchronous=FULL");
        db.Exec("ANALYZE");
    }
    return db;
}

} // namespace

static void BM_RangeQueryOneInstrumentOneMonth(benchmark::State& state)
{
    TDatabase& db = benchDb();
    const QDateTime begin(QDate(2025, 6, 1), QTime(0, 0)), end(QDate(2025, 6, 30), QTime(23, 59, 59));
    int rows = 0;
    for (auto _ : state) {
        TQueryResult r = SelectRecords(db, 7, begin, end);
        rows = r.RecordCount();
        benchmark::DoNotOptimize(r);
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_RangeQueryOneInstrumentOneMonth)->Unit(benchmark::kMillisecond);

static void BM_InsertOneReadingSynchronousFull(benchmark::State& state)
{
    TDatabase& db = benchDb();
    for (auto _ : state)
        InsertRecord(db, 21, QDateTime::currentDateTime(), {25.3, 25, 25.8, 0}, {81, 82, 83, 84});
}
BENCHMARK(BM_InsertOneReadingSynchronousFull)->Unit(benchmark::kMillisecond);

// From Post to the row's commit on the writer's thread, on the 5-million-row database: the window
// in which a kill -9 can lose a due row while the database takes rows.
static void BM_RecordWriterPostToCommit(benchmark::State& state)
{
    benchDb(); // built, and its connection open beside the writer's as in the program
    TRecordWriter writer(benchPath(), {});
    writer.Start();
    uint64_t posted = 0;
    for (auto _ : state) {
        writer.Post({QDateTime::currentDateTime(), 21, {25.3, 25, 25.8, 0}, {81, 82, 83, 84}});
        ++posted;
        while (writer.Written() < posted)
            std::this_thread::yield();
    }
    writer.Stop(std::chrono::milliseconds(1000));
}
BENCHMARK(BM_RecordWriterPostToCommit)->Unit(benchmark::kMillisecond);

// What Post costs the user-interface thread.
static void BM_RecordWriterPost(benchmark::State& state)
{
    TRecordWriter writer(benchPath(), {});
    for (auto _ : state)
        writer.Post({QDateTime::currentDateTime(), 21, {25.3, 25, 25.8, 0}, {81, 82, 83, 84}});
    // Never started: the rows are counted as unwritten at the end, nothing reaches the database.
}
BENCHMARK(BM_RecordWriterPost)->Iterations(100000)->Unit(benchmark::kMicrosecond);

// The statistics page over a week of 100,000 alarms (21 instruments, every kind, half of them
// acknowledged), as the journal window works them out.
static void BM_JournalStatisticsWeekOf100kAlarms(benchmark::State& state)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/DataBase");
    QFile f(TDatabase::FileFor(dir.path()));
    f.open(QIODevice::WriteOnly);
    f.close();
    TDatabase db;
    if (!db.Open(dir.path()))
        qFatal("cannot open");
    CreateSchema(db);
    for (int i = 1; i <= 21; ++i)
        InsertApparatus(db, QStringLiteral("bench %1").arg(i), i, true);
    const QDateTime start(QDate(2026, 11, 1), QTime(0, 0));
    const char* kinds[] = {"alarm.door", "alarm.phaseA", "alarm.overtemp", "alarm.trip", "alarm.errB"};
    db.Exec("BEGIN");
    QSqlQuery q(db.connection());
    q.prepare("INSERT INTO EventJournal(ApparatusID,ApparatusAddress,Kind,Text,RaisedAt,ClearedAt,AckedAt,AckedBy) "
              "VALUES(?,?,?,?,?,?,?,?)");
    for (int r = 0; r < 100000; ++r) {
        const QDateTime raised = start.addSecs(qint64(r) * 6 + (r * 7919) % 5);
        q.bindValue(0, r % 21 + 1);
        q.bindValue(1, r % 21 + 1);
        q.bindValue(2, QString::fromLatin1(kinds[r % 5]));
        q.bindValue(3, QStringLiteral("bench"));
        q.bindValue(4, raised.toString(DateTimeFormat));
        q.bindValue(5, r % 3 ? raised.addSecs(40).toString(DateTimeFormat) : QVariant());
        q.bindValue(6, r % 2 ? raised.addSecs(r % 600).toString(DateTimeFormat) : QVariant());
        q.bindValue(7, r % 2 ? QVariant(QStringLiteral("op")) : QVariant());
        if (!q.exec())
            qFatal("insert failed");
    }
    db.Exec("COMMIT");
    for (auto _ : state) {
        const TAlarmStatistics s = JournalStatistics(db, start, start.addDays(7), start.addDays(8));
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_JournalStatisticsWeekOf100kAlarms)->Unit(benchmark::kMillisecond)->Iterations(5);
