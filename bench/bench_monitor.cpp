// Main window figures: the live chart with 7 series of 1,000,000 points (paint of the scrolled
// window, one reply's append and scroll), one received chunk end to end without the database,
// and the CPU of the running program polling 21 instruments at the fastest pace.
#include "Application.h"
#include "ChartFeed.h"
#include "AxisRange.h"
#include "FrmDataBase.h"
#include "FrmJournal.h"
#include "Settings.h"
#include "SharedTexts.h"
#include "FrmMain.h"
#include "Frames.h"
#include "PgCluster.h"
#include "TestSupport.h"

#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <chrono>
#include <memory>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace zeva;

namespace {

constexpr int Points = 1'000'000;

// A chart as the main window has it, every fed series filled to a million points and drawn.
struct FullChart {
    QCustomPlot chart;
    TChartFeed feed{&chart};
    FullChart()
    {
        chart.resize(1360, 780);
        SetupLiveChart(&chart);
        for (int s : {0, 1, 2, 4, 5, 6, 7}) {
            QVector<double> keys(Points), values(Points);
            for (int i = 0; i < Points; ++i) {
                keys[i] = i;
                values[i] = 40 + 20 * std::sin(i / 500.0 + s);
            }
            chart.graph(s)->setData(keys, values, true);
            chart.graph(s)->setVisible(true);
        }
        feed.LiveX = Points;
        feed.BlackBoxX = Points;
        SetAxisRange(chart.xAxis, Points - 1800, Points);
        SetAxisRange(chart.yAxis, -30, 250);
    }
};

} // namespace

static void BM_ChartPaintScrolledWindow(benchmark::State& state)
{
    FullChart c;
    for (auto _ : state) {
        ScrollBottomAxis(&c.chart, 0.5);
        c.chart.replot(QCustomPlot::rpImmediateRefresh);
    }
}
BENCHMARK(BM_ChartPaintScrolledWindow)->Unit(benchmark::kMillisecond);

// The whole run in view at 1680x900: seven series of a million points drawn per pixel column.
static void BM_ChartPaintWholeRun(benchmark::State& state)
{
    FullChart c;
    c.chart.resize(1680, 900);
    SetAxisRange(c.chart.xAxis, 0, Points);
    c.chart.replot(QCustomPlot::rpImmediateRefresh); // the block summaries are built once
    for (auto _ : state) {
        ScrollBottomAxis(&c.chart, 0.5);
        c.chart.replot(QCustomPlot::rpImmediateRefresh);
    }
}
BENCHMARK(BM_ChartPaintWholeRun)->Unit(benchmark::kMillisecond);

static void BM_ChartAppendAndScroll(benchmark::State& state)
{
    FullChart c;
    for (auto _ : state)
        c.feed.FeedLive({25.3, 26, 24.8, 0}, 1);
    state.counters["points"] = c.chart.graph(0)->dataCount();
}
BENCHMARK(BM_ChartAppendAndScroll)->Unit(benchmark::kMicrosecond);

// The history window over a month of one-minute readings of one instrument among three (129,600
// rows): the search, by time, with all eight curves, to the painted chart.
static void BM_HistoryMonthQueryAndPaint(benchmark::State& state)
{
    QTemporaryDir dir;
    std::system((std::string(ZEVA_INITDB) + " '" + dir.path().toStdString() + "' > /dev/null").c_str());
    const std::string db = dir.filePath("DataBase/Data.db").toStdString();
    std::system(("sqlite3 '" + db + "' \"INSERT INTO Apparatus(ApparatusName,ApparatusAddress,CFlag) VALUES('a',1,1),('b',2,1),('c',3,1);"
                 " WITH RECURSIVE m(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM m WHERE i < 43199)"
                 " INSERT INTO ApparatusRecord(ApparatusID,InDateTime,AActTemperature,BActTemperature,CActTemperature,"
                 "DActTemperature,ABlackTemperature,BBlackTemperature,CBlackTemperature,DBlackTemperature)"
                 " SELECT a.ID, datetime('2026-03-01', '+' || i || ' minutes'), 50 + i % 17, 51, 52, 0, 60, 61, 62, 63"
                 " FROM m, Apparatus a;\"").c_str());
    TDatabase database;
    if (!database.Open(dir.path()))
        return state.SkipWithError("no database");
    TIniFile settings(dir.filePath("Data.ini"));
    settings.WriteInteger(SettingsKey::HistoryLine, SettingsKey::TimeAxis, 1);
    for (int i = 0; i < 8; ++i)
        settings.WriteString(SettingsKey::HistoryLine, SettingsKey::HistoryLineKey(i), CurveNames[std::size_t(i)]);
    TFrmDataBase w(database, settings);
    w.show();
    w.ComAddress->setEditText(QStringLiteral("2"));
    w.DDateBegin->setDate(QDate(2026, 3, 1));
    w.DDateEnd->setDate(QDate(2026, 3, 30));
    for (auto _ : state) {
        w.Button1Click();
        w.ChartView->replot(QCustomPlot::rpImmediateRefresh);
    }
    state.counters["rows"] = w.ADOQuery().RecordCount();
}
BENCHMARK(BM_HistoryMonthQueryAndPaint)->Unit(benchmark::kMillisecond);

namespace {

// Two live replies of the selected instrument in turn; the recording step runs but never stores.
void receiveChunks(benchmark::State& state, const TFrame& first, const TFrame& second)
{
    // A core that has read its settings, so that its setters have a file to write.
    QTemporaryDir dir;
    std::ofstream(dir.filePath("Data.ini").toStdString()) << "[Info]\r\nPath=" << dir.path().toStdString() << "\r\n";
    TMonitorCore core;
    struct : TStartupSteps {} steps;
    core.Start(dir.path(), steps); // the port COM1 is not there: the start ends after the settings
    TFrmMain w(core);
    core.ChooseAddress(1);
    core.SetPollInterval(1);
    core.SetRecordCycle(0);
    const TFrame* replies[2] = {&first, &second};
    int i = 0;
    for (auto _ : state) {
        const TFrame& f = *replies[i++ & 1];
        w.Core().ComMReceiveData(w.Core().ComM(), f.data(), uint16_t(f.size));
    }
}

} // namespace

// Every reply changes every lamp: the worst case, with journal entries to make each time.
static void BM_ReceivedChunkWithoutDatabase(benchmark::State& state)
{
    receiveChunks(state, BuildLiveReply(1, {25.3, 26, 24.8, 0}, 0x01, 0x28),
                  BuildLiveReply(1, {85.5, 255.1, 12, 0}, 0x1F, 0x00));
}
BENCHMARK(BM_ReceivedChunkWithoutDatabase)->Unit(benchmark::kMicrosecond);

// The usual case: the temperatures move, the lamps stay as they are (no journal entry).
static void BM_ReceivedChunkSteadyStatus(benchmark::State& state)
{
    receiveChunks(state, BuildLiveReply(1, {25.3, 26, 24.8, 0}, 0x01, 0x28),
                  BuildLiveReply(1, {85.5, 200, 12, 0}, 0x01, 0x28));
}
BENCHMARK(BM_ReceivedChunkSteadyStatus)->Unit(benchmark::kMicrosecond);

namespace {

// The program (zeva-monitor, or `program`) against the simulator in `dir`, 21 instruments polled at
// the fastest pace, its data under `dataPath`; the pids of simulator and program.
std::pair<int, int> startStation(const QTemporaryDir& dir, const std::string& dataPath, int runTimer,
                                 std::string monitor = ZEVA_MONITOR, const std::string& moreIni = {})
{
    std::string initdb = ZEVA_INITDB, sim = ZEVA_SIM;
    std::system((initdb + " '" + dataPath + "' > /dev/null").c_str());
    std::string db = dataPath + "/DataBase/Data.db";
    std::string inserts;
    for (int a = 1; a <= 21; ++a)
        inserts += "INSERT INTO Apparatus(ApparatusName,ApparatusAddress,CFlag) VALUES('b" + std::to_string(a) + "'," +
                   std::to_string(a) + ",1);";
    std::system(("sqlite3 '" + db + "' \"" + inserts + "\"").c_str());
    std::ofstream(dir.filePath("Data.ini").toStdString())
        << "[Info]\r\nPath=" << dataPath << "\r\nInterval_S=1\r\nRunTimer=" << runTimer
        << "\r\nPort=" << dir.filePath("bus").toStdString() << "\r\nApparatusAddress=1\r\n" << moreIni;
    std::vector<std::string> simArgs{sim, "--link", "bus", "--log", "sim.log", "--control", "ctl"};
    for (int a = 1; a <= 21; ++a)
        simArgs.insert(simArgs.end(), {"--instrument", std::to_string(a)});
    int s = zeva::test::Spawn(simArgs, dir.path().toStdString(), "/dev/null");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int m = zeva::test::Spawn({monitor}, dir.path().toStdString(), dir.filePath("monitor.out").toStdString());
    std::this_thread::sleep_for(std::chrono::seconds(3)); // start-up done
    return {s, m};
}

// The requests' arrival times on the wire (ms), from the simulator's log.
std::vector<long long> requestTimes(const QTemporaryDir& dir)
{
    std::ifstream in(dir.filePath("sim.log").toStdString());
    std::vector<long long> at;
    for (std::string l; std::getline(in, l);) {
        std::istringstream f(l);
        long long ms;
        std::string kind;
        if (f >> ms >> kind && kind == "RX")
            at.push_back(ms);
    }
    return at;
}

} // namespace

static void BM_RunningProgram21InstrumentsFastestPace(benchmark::State& state)
{
    const int seconds = int(state.range(0));
    for (auto _ : state) {
        QTemporaryDir dir;
        auto [s, m] = startStation(dir, dir.path().toStdString(), 60);
        double cpu0 = zeva::test::CpuSecondsOf(m);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        double cpu = zeva::test::CpuSecondsOf(m) - cpu0;
        zeva::test::Terminate(m);
        zeva::test::Terminate(s);
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / seconds;
    }
}
BENCHMARK(BM_RunningProgram21InstrumentsFastestPace)->Arg(30)->Iterations(1)->Unit(benchmark::kMillisecond);

// Recording at the fastest pace (a row for nearly every second reply) while another program holds
// the database's write lock for 8 s: the polling timer's worst lateness on the wire, which is the
// user-interface thread's longest stall, and the rows stored once the lock is gone.
static void BM_PollingWhileTheDatabaseIsLocked8s(benchmark::State& state)
{
    for (auto _ : state) {
        QTemporaryDir dir;
        auto [s, m] = startStation(dir, dir.path().toStdString(), 21);
        std::size_t first = requestTimes(dir).size();
        {
            zeva::test::TDbLock lock(dir.filePath("DataBase/Data.db").toStdString(), 8);
            lock.Wait();
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
        zeva::test::Terminate(m);
        zeva::test::Terminate(s);
        std::vector<long long> at = requestTimes(dir);
        double worst = 0;
        for (std::size_t i = first + 1; i < at.size(); ++i)
            worst = std::max(worst, std::abs(double(at[i] - at[i - 1]) - 1000.0 / 3));
        state.counters["worst_poll_lateness_ms"] = worst;
        state.counters["requests"] = double(at.size() - first);
        std::string rows = zeva::test::Shell("sqlite3 '" + dir.filePath("DataBase/Data.db").toStdString() +
                                             "' 'SELECT count(*) FROM ApparatusRecord'");
        state.counters["rows_stored"] = std::stod(rows.empty() ? "0" : rows);
    }
}
BENCHMARK(BM_PollingWhileTheDatabaseIsLocked8s)->Iterations(1)->Unit(benchmark::kMillisecond);

// zeva-recorder for `seconds` with 21 instruments at the fastest pace, a row on every reply it may
// store: its CPU, and its resident memory after the first minute and at the end.
static void BM_Recorder21InstrumentsFastestPace(benchmark::State& state)
{
    const int seconds = int(state.range(0));
    for (auto _ : state) {
        QTemporaryDir dir;
        auto [s, m] = startStation(dir, dir.path().toStdString(), 1, ZEVA_RECORDER);
        const double cpu0 = zeva::test::CpuSecondsOf(m);
        std::this_thread::sleep_for(std::chrono::seconds(60));
        const long rss1 = zeva::test::RssKbOf(m);
        long peak = rss1;
        for (int t = 60; t < seconds; t += 30) {
            std::this_thread::sleep_for(std::chrono::seconds(std::min(30, seconds - t)));
            peak = std::max(peak, zeva::test::RssKbOf(m));
        }
        const double cpu = zeva::test::CpuSecondsOf(m) - cpu0;
        const long rss = zeva::test::RssKbOf(m);
        zeva::test::Terminate(m);
        zeva::test::Terminate(s);
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / seconds;
        state.counters["rss_after_1_min_kb"] = double(rss1);
        state.counters["rss_end_kb"] = double(rss);
        state.counters["rss_peak_kb"] = double(peak);
        state.counters["requests"] = double(requestTimes(dir).size());
    }
}
BENCHMARK(BM_Recorder21InstrumentsFastestPace)->Arg(600)->Iterations(1)->Unit(benchmark::kMillisecond);

// The data folder on a full disk for `seconds`: the program's CPU and the growth of its memory.
static void BM_FullDisk(benchmark::State& state)
{
    const int seconds = int(state.range(0));
    for (auto _ : state) {
        QTemporaryDir dir;
        std::string data = dir.filePath("data").toStdString();
        std::system(("mkdir -p '" + data + "'").c_str());
        if (std::system(("mount -t tmpfs -o size=4m tmpfs '" + data + "' 2>/dev/null").c_str()) != 0) {
            state.SkipWithError("no tmpfs can be mounted here (needs root)");
            return;
        }
        auto [s, m] = startStation(dir, data, 21);
        std::system(("dd if=/dev/zero of='" + data + "/filler' bs=4k 2>/dev/null; sync").c_str());
        std::this_thread::sleep_for(std::chrono::seconds(10)); // the box is up, the rows wait
        double cpu0 = zeva::test::CpuSecondsOf(m);
        long rss0 = zeva::test::RssKbOf(m);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        double cpu = zeva::test::CpuSecondsOf(m) - cpu0;
        long rss = zeva::test::RssKbOf(m);
        zeva::test::Terminate(m);
        zeva::test::Terminate(s);
        std::system(("umount -l '" + data + "'").c_str());
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / seconds;
        state.counters["rss_start_kb"] = double(rss0);
        state.counters["rss_growth_kb"] = double(rss - rss0);
    }
}
BENCHMARK(BM_FullDisk)->Arg(600)->Iterations(1)->Unit(benchmark::kMillisecond);

// The adapter pulled for `seconds` under the running program: its CPU meanwhile, and the time from
// the re-plug to the first request on the line.
static void BM_UnpluggedAdapter(benchmark::State& state)
{
    const int seconds = int(state.range(0));
    for (auto _ : state) {
        QTemporaryDir dir;
        auto [s, m] = startStation(dir, dir.path().toStdString(), 60);
        const std::string fifo = dir.filePath("ctl").toStdString(), log = dir.filePath("sim.log").toStdString();
        zeva::test::SimControl(fifo, log, "unplug");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        double cpu0 = zeva::test::CpuSecondsOf(m);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        double cpu = zeva::test::CpuSecondsOf(m) - cpu0;
        zeva::test::SimControl(fifo, log, "plug");
        std::this_thread::sleep_for(std::chrono::seconds(4));
        zeva::test::Terminate(m);
        zeva::test::Terminate(s);
        long long plugged = -1, first = -1;
        std::ifstream in(log);
        for (std::string l; std::getline(in, l);) {
            std::istringstream f(l);
            long long ms;
            std::string kind, rest;
            f >> ms >> kind >> rest;
            if (kind == "CTL" && rest == "plug")
                plugged = ms;
            else if (kind == "RX" && plugged >= 0 && first < 0)
                first = ms;
        }
        state.counters["cpu_percent_of_one_core_while_gone"] = 100.0 * cpu / seconds;
        state.counters["replug_to_first_request_ms"] = double(first - plugged);
    }
}
BENCHMARK(BM_UnpluggedAdapter)->Arg(60)->Iterations(1)->Unit(benchmark::kMillisecond);

// The alarm journal window opening over 100,000 rows: the query, the model and the first paint.
static void BM_JournalWindowOver100000Rows(benchmark::State& state)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("DataBase"));
    std::system((std::string(ZEVA_INITDB) + " '" + dir.path().toStdString() + "' > /dev/null").c_str());
    std::string fill = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
                       "INSERT INTO EventJournal(ApparatusID,ApparatusAddress,Kind,Text,RaisedAt,ClearedAt,AckedAt,AckedBy) "
                       "SELECT 1, i % 21, CASE WHEN i % 3 = 0 THEN 'event.fan' ELSE 'alarm.door' END, '柜门打开', "
                       "datetime('2026-01-01', '+' || i || ' minutes'), datetime('2026-01-01', '+' || (i + 1) || ' minutes'), "
                       "datetime('2026-01-01', '+' || (i + 2) || ' minutes'), 'op' FROM n";
    std::system(("sqlite3 '" + dir.filePath("DataBase/Data.db").toStdString() + "' \"" + fill + "\"").c_str());
    TFrmMain main;
    main.Core().Db().Open(dir.path());
    int rows = 0;
    for (auto _ : state) {
        // Every row from 2026 on: the date filter takes them all.
        auto* journal = new TFrmJournal(main.Core(), &main);
        journal->DateFrom->setDate(QDate(2026, 1, 1));
        journal->DateTo->setDate(QDate(2027, 1, 1));
        journal->Reload();
        journal->show();
        QCoreApplication::processEvents();
        rows = journal->Model()->rowCount();
        delete journal;
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_JournalWindowOver100000Rows)->Unit(benchmark::kMillisecond);

// zeva-recorder for `seconds` with 21 instruments at the fastest pace, a row on every reply it may
// store, forwarding to a central PostgreSQL (1) or not (0): its CPU, its polling thread's (the
// main thread: polling, replies, recording's hand-over) and the pace of its requests.
static void BM_RecorderPollingWhileForwarding(benchmark::State& state)
{
    const int seconds = int(state.range(0));
    const bool forwarding = state.range(1) != 0;
    for (auto _ : state) {
        std::unique_ptr<zeva::test::TPgCluster> pg;
        std::string central;
        if (forwarding) {
            pg = std::make_unique<zeva::test::TPgCluster>();
            pg->Psql("CREATE DATABASE plant");
            central = "[Central]\r\nHost=" + pg->SocketDir() + "\r\nPort=" + std::to_string(zeva::test::TPgCluster::Port) +
                      "\r\nDatabase=plant\r\nUser=zeva_test\r\nSslMode=disable\r\nStation=bench\r\n";
        }
        QTemporaryDir dir;
        auto [s, m] = startStation(dir, dir.path().toStdString(), 1, ZEVA_RECORDER, central);
        std::this_thread::sleep_for(std::chrono::seconds(10)); // the first forwarding done
        const std::size_t requests0 = requestTimes(dir).size();
        const double cpu0 = zeva::test::CpuSecondsOf(m), main0 = zeva::test::CpuSecondsOf(m, m);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double cpu = zeva::test::CpuSecondsOf(m) - cpu0, main = zeva::test::CpuSecondsOf(m, m) - main0;
        const std::vector<long long> at = requestTimes(dir);
        zeva::test::Terminate(m);
        zeva::test::Terminate(s);
        long long widest = 0;
        for (std::size_t i = requests0 + 1; i < at.size(); ++i)
            widest = std::max(widest, at[i] - at[i - 1]);
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / seconds;
        state.counters["polling_thread_cpu_percent"] = 100.0 * main / seconds;
        state.counters["requests"] = double(at.size() - requests0);
        state.counters["widest_gap_ms"] = double(widest);
        if (pg)
            state.counters["central_rows"] = std::stod("0" + pg->Psql("SELECT count(*) FROM apparatus_record", "plant"));
    }
}
BENCHMARK(BM_RecorderPollingWhileForwarding)->Args({300, 0})->Args({300, 1})->Iterations(1)->Unit(benchmark::kMillisecond);
