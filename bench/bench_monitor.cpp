// Main window figures: the live chart with 7 series of 1,000,000 points (paint of the scrolled
// window, one reply's append and scroll), one received chunk end to end without the database,
// and the CPU of the running program polling 21 instruments at the fastest pace.
#include "Application.h"
#include "ChartFeed.h"
#include "FrmMain.h"
#include "Frames.h"
#include "TestSupport.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <chrono>
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

static void BM_ChartAppendAndScroll(benchmark::State& state)
{
    FullChart c;
    for (auto _ : state)
        c.feed.FeedLive({25.3, 26, 24.8, 0}, 1);
    state.counters["points"] = c.chart.graph(0)->dataCount();
}
BENCHMARK(BM_ChartAppendAndScroll)->Unit(benchmark::kMicrosecond);

static void BM_ReceivedChunkWithoutDatabase(benchmark::State& state)
{
    TFrmMain w;
    w.State().SelectedAddress = 1;
    w.State().PollInterval = 1;
    w.State().RecordCycle = 0; // the recording step runs but never stores
    const TFrame replies[2] = {BuildLiveReply(1, {25.3, 26, 24.8, 0}, 0x01, 0x28),
                               BuildLiveReply(1, {85.5, 255.1, 12, 0}, 0x1F, 0x00)};
    int i = 0;
    for (auto _ : state) {
        const TFrame& f = replies[i++ & 1];
        w.ComMReceiveData(w.ComM(), f.data(), uint16_t(f.size));
    }
}
BENCHMARK(BM_ReceivedChunkWithoutDatabase)->Unit(benchmark::kMicrosecond);

namespace {

double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(in)), {});
    std::istringstream f(s.substr(s.rfind(')') + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && f >> field; ++i) {
        if (i == 14)
            utime = std::stoll(field);
        if (i == 15)
            stime = std::stoll(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

} // namespace

static void BM_RunningProgram21InstrumentsFastestPace(benchmark::State& state)
{
    const int seconds = int(state.range(0));
    for (auto _ : state) {
        QTemporaryDir dir;
        std::string initdb = ZEVA_INITDB, sim = ZEVA_SIM, monitor = ZEVA_MONITOR;
        std::system((initdb + " '" + dir.path().toStdString() + "' > /dev/null").c_str());
        std::string db = dir.filePath("DataBase/Data.db").toStdString();
        std::string inserts;
        for (int a = 1; a <= 21; ++a)
            inserts += "INSERT INTO Apparatus(ApparatusName,ApparatusAddress,CFlag) VALUES('b" + std::to_string(a) +
                       "'," + std::to_string(a) + ",1);";
        std::system(("sqlite3 '" + db + "' \"" + inserts + "\"").c_str());
        std::ofstream(dir.filePath("Data.ini").toStdString())
            << "[Info]\r\nPath=" << dir.path().toStdString() << "\r\nInterval_S=1\r\nRunTimer=60\r\nPort="
            << dir.filePath("bus").toStdString() << "\r\nApparatusAddress=1\r\n";
        std::vector<std::string> simArgs{sim, "--link", "bus"};
        for (int a = 1; a <= 21; ++a)
            simArgs.insert(simArgs.end(), {"--instrument", std::to_string(a)});
        int s = zeva::test::Spawn(simArgs, dir.path().toStdString(), "/dev/null");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        int m = zeva::test::Spawn({monitor}, dir.path().toStdString(), "/dev/null");
        std::this_thread::sleep_for(std::chrono::seconds(3)); // start-up done
        double cpu0 = cpuSeconds(m);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        double cpu = cpuSeconds(m) - cpu0;
        zeva::test::Terminate(m);
        zeva::test::Terminate(s);
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / seconds;
    }
}
BENCHMARK(BM_RunningProgram21InstrumentsFastestPace)->Arg(30)->Iterations(1)->Unit(benchmark::kMillisecond);
