// The web view: the overview page and the metrics with 21 instruments over a real loopback
// connection, and an instrument's year of readings (one per 10 s) in hourly buckets.
#include "Database.h"
#include "Statements.h"
#include "Trend.h"
#include "WebData.h"
#include "WebServer.h"
#include "WebSite.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

using namespace zeva;
using Clock = std::chrono::steady_clock;

namespace {

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// One GET on a connection of its own; the bytes of the answer.
std::size_t get(int port, const std::string& path)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n";
    ::send(s, request.data(), request.size(), 0);
    std::size_t got = 0;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;)
        got += std::size_t(n);
    ::close(s);
    return got;
}

void served(benchmark::State& state, const std::string& path)
{
    TWebSite site({});
    for (int a = 1; a <= 21; ++a) {
        TPlantInstrument in;
        in.address = a;
        in.name = QStringLiteral("%1号主变压器").arg(a);
        in.polled = true;
        in.health = 1;
        in.lastReplyMs = 1;
        in.time = QDateTime::currentDateTime();
        in.live = TPhaseTemps{45.1, 46.2, 47.3, 48.4};
        in.blackBox = TPhaseTemps{70, 71, 72, 73};
        in.lamps = uint16_t(a % 3 == 0 ? 0x20 : 0);
        site.SetInstrument(in, a % 7 == 0 ? 1 : -1);
    }
    site.SetCounters({123456, 120000, 12, 50000, 0, 3, 2, -1});
    TWebServer server({}, [&](const TWebRequest& r) { return site.Handle(r); }, {});
    server.Start();
    std::vector<double> times;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        bytes = get(server.Port(), path);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    server.Stop();
    state.counters["bytes"] = double(bytes);
    state.counters["p50_ms"] = percentile(times, 0.5);
    state.counters["p99_ms"] = percentile(times, 0.99);
}

void BM_WebOverview21Instruments(benchmark::State& state)
{
    served(state, "/");
}
BENCHMARK(BM_WebOverview21Instruments)->Iterations(500)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WebMetrics21Instruments(benchmark::State& state)
{
    served(state, "/metrics");
}
BENCHMARK(BM_WebMetrics21Instruments)->Iterations(500)->Unit(benchmark::kMillisecond)->UseRealTime();

// Built once and kept (ZEVA_BENCH_WEB or /tmp/zeva-bench-web): a year of one instrument, summed.
QString benchPath()
{
    const QString p = qEnvironmentVariable("ZEVA_BENCH_WEB");
    return p.isEmpty() ? QStringLiteral("/tmp/zeva-bench-web") : p;
}

void BM_WebReadingsYearInHours(benchmark::State& state)
{
    const QString path = benchPath();
    const bool fresh = !QFile::exists(TDatabase::FileFor(path));
    if (fresh) {
        QDir().mkpath(path + QStringLiteral("/DataBase"));
        QFile(TDatabase::FileFor(path)).open(QIODevice::WriteOnly);
    }
    TDatabase db(QStringLiteral("bench"));
    if (!db.Open(path))
        qFatal("cannot open %s", qPrintable(path));
    if (fresh) {
        CreateSchema(db);
        db.Exec(QStringLiteral("DROP TRIGGER TrendOnInsert"));
        InsertApparatus(db, QStringLiteral("bench"), 1, true);
        db.Exec(QStringLiteral("PRAGMA synchronous=OFF"));
        db.Exec(QStringLiteral("WITH RECURSIVE m(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM m WHERE i < 3153599) "
                               "INSERT INTO ApparatusRecord(ApparatusID, InDateTime, AActTemperature, BActTemperature, "
                               "CActTemperature, DActTemperature) SELECT 1, datetime('2025-01-01', '+' || (i * 10) || ' seconds'), "
                               "50 + (i % 360) / 36.0, 51, 52, 53 FROM m"));
        // As an older database gets its sums: the trigger back, the rows summed by the fill.
        db.Exec(QStringLiteral("DROP TABLE TrendFill"));
        for (const char* t : {"TrendMinute", "TrendTenMinute", "TrendHour"})
            db.Exec(QStringLiteral("DROP TABLE %1").arg(QLatin1String(t)));
        db.Exec(QStringLiteral("DROP TRIGGER IF EXISTS TrendOnDelete"));
        db.Exec(QStringLiteral("DROP TRIGGER IF EXISTS TrendOnUpdate"));
        EnsureTrend(db);
        while (FillTrendStep(db, 500000)) {
        }
    }
    const QDateTime from(QDate(2025, 1, 1), QTime(0, 0)), to(QDate(2026, 1, 1), QTime(0, 0));
    std::size_t bytes = 0;
    for (auto _ : state) {
        int status = 200;
        QString error;
        bytes = ReadingsJson(db, 1, from, to, 3600, status, error).size();
        if (status != 200)
            state.SkipWithError(error.toStdString().c_str());
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_WebReadingsYearInHours)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
