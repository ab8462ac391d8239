// zeva-monitor as a program: started in a temporary folder against zeva-sim, checked by the
// simulator's log of the wire, the rows in the database and the text of Data.ini.
#include "ProgramInfo.h"
#include "Station.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono;
using zeva::test::Line;
using zeva::test::Station;
using zeva::test::allByteValues;
using zeva::test::readText;

TEST(EndToEnd, MonitorPollsRecordsAndKeepsItsSettings)
{
    Station st("zeva-e2e");
    st.InitDb(true);
    std::ofstream(st.dir / "Data.ini", std::ios::binary)
        << "; written by the test\r\n[Info]\r\nPath=" << st.dir.string() << "\r\nBate=9600\r\nInterval_S=1\r\n"
        << "RunTimer=4\r\nPort=" << (st.dir / "bus").string() << "\r\nApparatusAddress=2\r\n";
    std::string iniBefore = readText(st.dir / "Data.ini");

    st.StartSim({"--instrument", "1:2:45", "--instrument", "2:6:55", "--instrument", "3:10:65"});
    st.StartMonitor();
    std::this_thread::sleep_for(seconds(7)); // the length of the run, not a wait for something
    int status = st.StopProgram();
    EXPECT_TRUE(WIFEXITED(status)) << readText(st.dir / "monitor.out");
    EXPECT_EQ(WEXITSTATUS(status), 0) << "SIGTERM closes the window and ends the program cleanly";

    // On the wire: 1 live, 1 black box, 2 live, ... a request every 333 ms, each answered.
    std::vector<Line> rx = st.Requests();
    ASSERT_GE(rx.size(), 15u) << readText(st.dir / "sim.log");
    const char* order[6] = {"01 3F AA 16", "01 3F EE D2", "02 3F AA 15", "02 3F EE D1", "03 3F AA 14", "03 3F EE D0"};
    for (std::size_t i = 0; i < rx.size(); ++i)
        EXPECT_EQ(rx[i].bytes, order[i % 6]) << i;
    for (std::size_t i = 2; i < rx.size(); ++i)
        EXPECT_NEAR(double(rx[i].ms - rx[i - 1].ms), 333.0, 250.0) << i;
    for (const Line& l : st.Wire())
        EXPECT_NE(l.dir, "RXJUNK") << "only whole requests went out";

    // Rows recorded under the instruments' IDs (1, 2, 3 at addresses 1, 2, 3), each row carrying the
    // readings of its own instrument: the simulated phases sit near 45, 55 and 65 degrees.
    int rows = std::stoi(st.Sql("SELECT count(*) FROM ApparatusRecord"));
    EXPECT_GE(rows, 3);
    EXPECT_EQ(st.Sql("SELECT count(*) FROM ApparatusRecord WHERE ApparatusID NOT IN (1, 2, 3)"), "0\n");
    EXPECT_EQ(st.Sql("SELECT count(*) FROM ApparatusRecord WHERE abs(AActTemperature - (35 + 10 * ApparatusID)) > 5"),
              "0\n");
    EXPECT_GE(std::stoi(st.Sql("SELECT count(DISTINCT ApparatusID) FROM ApparatusRecord")), 2);
    EXPECT_EQ(st.Sql("SELECT count(*) FROM ApparatusRecord WHERE InDateTime NOT GLOB "
                     "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'"),
              "0\n");
    EXPECT_EQ(st.Sql("PRAGMA integrity_check"), "ok\n");

    EXPECT_EQ(readText(st.dir / "Data.ini"), iniBefore) << "nothing to repair, nothing written";
}

TEST(EndToEnd, AHostileBusNeverStopsThePollingAndOnlyRealRepliesAreStored)
{
    // Instruments at 0x11 and 0x13 whose replies carry 0x11 and 0x13 (27.5 is 01 13, 1.7 is
    // 00 11, 437.1 is 11 13), noise within 100 ms of replies, split and corrupt replies, every
    // byte value as junk and a 3 KiB burst, on a line the simulator leaves in the kernel's defaults.
    // 0x11 wanders around 40 and 0x13 is pinned, so that a row mixed from two replies shows.
    Station st("zeva-e2e-hostile");
    st.InitDb(false);
    st.Sql("INSERT INTO Apparatus(ApparatusName,ApparatusAddress,ApparatusType,CFlag) VALUES "
           "('x11',17,'ZEVA5000-S',1),('x13',19,'ZEVA5000-S',1)");
    st.Ini("Bate=9600\r\nInterval_S=1\r\nRunTimer=1\r\nApparatusAddress=17\r\n");
    st.StartSim({"--instrument", "17:2:40", "--instrument", "19", "--noise", "0.3", "--split", "0.3", "--corrupt",
                 "0.1", "--seed", "11"});
    st.Control("temp 19 27.5 1.7 0 437.1");
    st.StartMonitor();
    std::this_thread::sleep_for(seconds(3));
    st.Control("send" + allByteValues());
    st.Control("burst 3072");
    std::this_thread::sleep_for(seconds(7));
    int status = st.StopProgram();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readText(st.dir / "monitor.out");

    std::vector<Line> rx = st.Requests();
    ASSERT_GE(rx.size(), 28u) << "a request every 333 ms for 10 s, never stopped";
    const char* order[4] = {"11 3F AA 06", "11 3F EE C2", "13 3F AA 04", "13 3F EE C0"};
    for (std::size_t i = 0; i < rx.size(); ++i)
        EXPECT_EQ(rx[i].bytes, order[i % 4]) << i;
    double mean = double(rx.back().ms - rx[1].ms) / double(rx.size() - 2);
    EXPECT_NEAR(mean, 1000.0 / 3, 1000.0 / 3 * 0.05) << "the pace, burst or not (the exact figure: bench_monitor)";
    for (std::size_t i = 1; i < rx.size(); ++i)
        EXPECT_LT(rx[i].ms - rx[i - 1].ms, 1500) << "no stall at " << i;

    // The live readings each instrument really sent (its whole, uncorrupted replies in the log).
    std::set<std::string> sent;
    for (const Line& l : st.Wire()) {
        if (l.dir != "TX")
            continue;
        std::istringstream hex(l.bytes);
        std::vector<int> b;
        for (std::string x; hex >> x;)
            b.push_back(std::stoi(x, nullptr, 16));
        if (b.size() != 14 || b[2] != 0xAA)
            continue;
        char key[96];
        std::snprintf(key, sizeof key, "%d|%g|%g|%g|%g", b[0], ((b[3] << 8) | b[4]) / 10.0, ((b[5] << 8) | b[6]) / 10.0,
                      ((b[7] << 8) | b[8]) / 10.0, ((b[9] << 8) | b[10]) / 10.0);
        sent.insert(key);
    }
    std::istringstream stored(st.Sql("SELECT a.ApparatusAddress, r.AActTemperature, r.BActTemperature, "
                                     "r.CActTemperature, r.DActTemperature FROM ApparatusRecord r "
                                     "JOIN Apparatus a ON a.ID = r.ApparatusID"));
    int rows = 0;
    for (std::string row; std::getline(stored, row); ++rows) {
        std::istringstream f(row);
        std::string field;
        std::vector<double> v;
        while (std::getline(f, field, '|'))
            v.push_back(std::stod(field));
        ASSERT_EQ(v.size(), 5u) << row;
        char key[96];
        std::snprintf(key, sizeof key, "%d|%g|%g|%g|%g", int(v[0]), v[1], v[2], v[3], v[4]);
        // Readings start at 0: a row of an instrument whose live replies all came split so far holds
        // zeros (recorded as the readings stand), never a mix of two replies.
        bool none = v[1] == 0 && v[2] == 0 && v[3] == 0 && v[4] == 0;
        EXPECT_TRUE(none || sent.count(key)) << "stored " << key << ", which that instrument never sent";
    }
    EXPECT_GE(rows, 2) << "a row every six chunks: RunTimer 1, two instruments";
    EXPECT_EQ(st.Sql("SELECT count(*) FROM ApparatusRecord WHERE ApparatusID NOT IN (SELECT ID FROM Apparatus)"),
              "0\n");
}

TEST(EndToEnd, ALineSpeedOutsideTheTable)
{
    Station st("zeva-e2e-14400");
    st.InitDb(true);
    st.Ini("Bate=14400\r\nInterval_S=1\r\nRunTimer=1\r\nApparatusAddress=1\r\n");
    // Instrument 1 runs at 14400 like the PC; 2 stays at 9600 and hears only noise.
    st.StartSim({"--instrument", "1:2:45:14400", "--instrument", "2:6:55"});
    st.StartMonitor();
    std::this_thread::sleep_for(seconds(4));
    int status = st.StopProgram();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    int answered1 = 0, answered2 = 0;
    std::vector<Line> wire = st.Wire();
    for (const Line& l : wire) {
        EXPECT_NE(l.dir, "RXJUNK") << "nothing echoed, nothing rewritten: " << l.bytes;
        if (l.dir == "TX")
            (l.bytes.rfind("01 ", 0) == 0 ? answered1 : answered2)++;
    }
    EXPECT_GE(answered1, 4);
    EXPECT_EQ(answered2, 0);
    EXPECT_GE(std::stoi(st.Sql("SELECT count(*) FROM ApparatusRecord WHERE ApparatusID = 1")), 1);
}

namespace {

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(EndToEnd, AFullDataDiskLosesNoRowAndASignalEndsTheProgramWithinTwoSeconds)
{
    Station st("zeva-e2e-full");
    const fs::path data = st.dir / "data";
    fs::create_directories(data);
    if (std::system(("mount -t tmpfs -o size=3m tmpfs '" + data.string() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    struct Unmount {
        fs::path p;
        ~Unmount() { [[maybe_unused]] int rc = std::system(("umount -l '" + p.string() + "'").c_str()); }
    } unmount{data};
    ASSERT_EQ(std::system((std::string(ZEVA_INITDB) + " '" + data.string() + "' --demo > /dev/null").c_str()), 0);
    std::ofstream(st.dir / "Data.ini", std::ios::binary)
        << "[Info]\r\nPath=" << data.string() << "\r\nInterval_S=1\r\nRunTimer=3\r\nPort=" << (st.dir / "bus").string()
        << "\r\nApparatusAddress=1\r\n";
    auto sql = [&](const std::string& q) {
        return zeva::test::Shell("sqlite3 '" + (data / "DataBase" / "Data.db").string() + "' \"" + q + "\"");
    };
    st.StartSim({"--instrument", "1:2:45", "--instrument", "2:6:55", "--instrument", "3:10:65"});
    st.StartMonitor();
    for (int i = 0; i < 100 && std::stoi("0" + sql("SELECT count(*) FROM ApparatusRecord")) < 2; ++i)
        std::this_thread::sleep_for(milliseconds(100));
    ASSERT_GE(std::stoi(sql("SELECT count(*) FROM ApparatusRecord")), 2);

    // The disk fills: the program says so once, polls on, and holds the rows in bounded memory.
    [[maybe_unused]] int rc = std::system(("dd if=/dev/zero of='" + (data / "filler").string() +
                                           "' bs=4k 2>/dev/null; sync").c_str());
    const std::string full = zeva::test::Shell("date '+%Y-%m-%d %H:%M:%S' | tr -d '\\n'");
    const fs::path out = st.dir / "monitor.out";
    for (int i = 0; i < 200 && readText(out).find("磁盘已满") == std::string::npos; ++i)
        std::this_thread::sleep_for(milliseconds(100));
    ASSERT_NE(readText(out).find("磁盘已满：database or disk is full"), std::string::npos) << readText(out);
    const long rssBefore = zeva::test::RssKbOf(st.program);
    const std::size_t requestsBefore = st.Requests().size();
    std::this_thread::sleep_for(seconds(6));
    EXPECT_GE(st.Requests().size() - requestsBefore, 15u) << "the polling goes on";
    EXPECT_LT(zeva::test::RssKbOf(st.program) - rssBefore, 2048) << "memory stays flat";
    EXPECT_EQ(count(readText(out), "温度记录暂存在内存中"), 1u) << "one box says so";

    // Space comes back: every row of the full time is written, in order, with its own time.
    fs::remove(data / "filler");
    const std::string freed = zeva::test::Shell("date '+%Y-%m-%d %H:%M:%S' | tr -d '\\n'");
    std::this_thread::sleep_for(seconds(2));
    EXPECT_GE(std::stoi(sql("SELECT count(*) FROM ApparatusRecord WHERE InDateTime > '" + full +
                            "' AND InDateTime < '" + freed + "'")),
              4)
        << "rows of the full time";
    EXPECT_EQ(sql("SELECT count(*) FROM ApparatusRecord a JOIN ApparatusRecord b ON b.RecordID = a.RecordID + 1 "
                  "WHERE b.InDateTime < a.InDateTime"),
              "0\n")
        << "in order";

    // A stop by the system, with the box still open: within 2 s, the port closed, the last rows in.
    const int pid = st.program;
    const auto t0 = steady_clock::now();
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(milliseconds(10));
    const auto took = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    st.program = -1;
    EXPECT_LT(took, 5000) << "ended after " << took << " ms";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(readText(out).find("未能写入数据库"), std::string::npos) << "no row left unwritten";
    EXPECT_EQ(sql("PRAGMA integrity_check"), "ok\n");

    // Full again, and a stop meanwhile: the waiting readings go to the space kept for them, and the
    // next start writes them first.
    const std::size_t asked = st.Requests().size();
    st.StartMonitor();
    for (int i = 0; i < 100 && st.Requests().size() < asked + 3; ++i)
        std::this_thread::sleep_for(milliseconds(100));
    rc = std::system(("dd if=/dev/zero of='" + (data / "filler").string() + "' bs=4k 2>/dev/null; sync").c_str());
    std::this_thread::sleep_for(seconds(4));
    EXPECT_TRUE(WIFEXITED(zeva::test::Terminate(st.program)));
    st.program = -1;
    EXPECT_NE(readText(out).find("已暂存到 " + (data / "DataBase" / "Data.db.pending").string()), std::string::npos)
        << readText(out);
    fs::remove(data / "filler");
    st.StartMonitor();
    for (int i = 0; i < 100 && readText(out).find("上次结束时暂存的记录已写入数据库") == std::string::npos; ++i)
        std::this_thread::sleep_for(milliseconds(100));
    EXPECT_NE(readText(out).find("上次结束时暂存的记录已写入数据库"), std::string::npos) << readText(out);
}


TEST(EndToEnd, TheAdapterPulledForTenSecondsAndPutBackResumesThePolling)
{
    Station st("zeva-e2e-unplug");
    st.InitDb(true);
    st.Ini("Interval_S=1\r\nRunTimer=3\r\nApparatusAddress=1\r\n");
    st.StartSim({"--instrument", "1:2:45", "--instrument", "2:6:55", "--instrument", "3:10:65"});
    st.StartMonitor();
    const fs::path out = st.dir / "monitor.out";
    std::this_thread::sleep_for(seconds(3));
    ASSERT_GE(std::stoi(st.Sql("SELECT count(*) FROM ApparatusRecord")), 1);

    st.Control("unplug");
    for (int i = 0; i < 50 && readText(out).find("链路：已连接 → 串口断开") == std::string::npos; ++i)
        std::this_thread::sleep_for(milliseconds(100));
    ASSERT_NE(readText(out).find("链路：已连接 → 串口断开"), std::string::npos) << readText(out);
    const double cpu0 = zeva::test::CpuSecondsOf(st.program);
    std::this_thread::sleep_for(seconds(10));
    const double cpu = zeva::test::CpuSecondsOf(st.program) - cpu0;
    EXPECT_LT(cpu, 1.0) << "no busy loop while the device is gone (" << cpu << " s in 10 s)";
    const int rowsBefore = std::stoi(st.Sql("SELECT count(*) FROM ApparatusRecord"));

    st.Control("plug");
    long long plugged = -1;
    for (const Line& l : st.Wire())
        if (l.dir == "CTL" && l.bytes.find("plug") == 0)
            plugged = l.ms;
    ASSERT_GE(plugged, 0);
    std::this_thread::sleep_for(seconds(7));
    long long first = -1;
    int requests = 0, replies = 0;
    bool inFlight = false; // the log's last request may be read before its reply is written
    for (const Line& l : st.Wire()) {
        if (l.ms <= plugged)
            continue;
        if (l.dir == "RX") {
            ++requests;
            inFlight = true;
            if (first < 0)
                first = l.ms;
        }
        if (l.dir == "TX") {
            ++replies;
            inFlight = false;
        }
    }
    requests -= inFlight ? 1 : 0;
    ASSERT_GE(first, 0) << "no request after the plug";
    EXPECT_LE(first - plugged, 5000) << "polling resumed " << (first - plugged) << " ms after the plug";
    EXPECT_GE(requests, 8);
    EXPECT_EQ(replies, requests) << "every request after the return answered";
    EXPECT_NE(readText(out).find("链路：串口断开 → 已连接"), std::string::npos) << readText(out);
    EXPECT_GT(std::stoi(st.Sql("SELECT count(*) FROM ApparatusRecord")), rowsBefore) << "rows recorded again";
    int status = st.StopProgram();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(EndToEnd, AlarmsComeAndGoInTheJournalOnceEachUnderSplitAndCorruptReplies)
{
    Station st("zeva-e2e-alarms");
    st.InitDb(true);
    st.Ini("Interval_S=1\r\nRunTimer=60\r\nApparatusAddress=1\r\n");
    // Thresholds of model 2: T3 (alarm) 80. Replies split and corrupted now and then.
    st.StartSim({"--instrument", "1:2:45", "--instrument", "2:6:55", "--instrument", "3:10:65", "--split", "0.2",
                 "--corrupt", "0.2", "--seed", "7"});
    st.StartMonitor();
    std::this_thread::sleep_for(seconds(3));
    auto journal = [&] {
        return st.Sql("SELECT ApparatusAddress || ' ' || Kind || (CASE WHEN ClearedAt IS NULL THEN '' ELSE ' cleared' "
                      "END) FROM EventJournal WHERE Kind LIKE 'alarm.%' ORDER BY ApparatusAddress, Kind");
    };
    ASSERT_EQ(journal(), "") << "all well at start";

    st.Control("temp 1 90 45 45 45"); // over T3
    st.Control("door 2 open");
    std::this_thread::sleep_for(seconds(4));
    st.Control("temp 1 45 45 45 45");
    st.Control("door 2 closed");
    st.Control("fault 3 on A"); // an open sensor: phase A reads 6553.5 (ERR), the fault output on
    std::this_thread::sleep_for(seconds(4));
    st.Control("fault 3 off");
    st.Control("present 2 off"); // silent: 中断 after three passes (3 instruments: 6 s)
    std::this_thread::sleep_for(seconds(9));
    st.Control("present 2 on");
    std::this_thread::sleep_for(seconds(4));
    // The open sensor reads above every threshold, so 3's relays act too.
    EXPECT_EQ(journal(), "1 alarm.overtemp cleared\n1 alarm.phaseA cleared\n2 alarm.door cleared\n"
                         "2 alarm.interrupted cleared\n3 alarm.errA cleared\n3 alarm.fault cleared\n"
                         "3 alarm.overtemp cleared\n3 alarm.phaseA cleared\n3 alarm.trip cleared\n")
        << "each condition raised once and cleared once";
    EXPECT_EQ(st.Sql("SELECT count(*) FROM EventJournal WHERE ClearedAt < RaisedAt"), "0\n");
    EXPECT_EQ(st.Sql("SELECT count(*) FROM EventJournal WHERE Kind = 'alarm.overtemp' AND ApparatusAddress = 1 AND "
                     "(julianday(ClearedAt) - julianday(RaisedAt)) * 86400 BETWEEN 1 AND 10"),
              "1\n")
        << "raised and cleared at the times the temperature crossed (4 s apart; the margin holds on a loaded machine)";

    // Pulled adapter: the bus's own alarm. Then a kill -9: what was raised is stored.
    // Killed as soon as the alarm was shown (its stderr line comes with the banner): it is stored.
    st.Control("unplug");
    const fs::path out = st.dir / "monitor.out";
    for (int i = 0; i < 100 && readText(out).find("报警：串口断开") == std::string::npos; ++i)
        std::this_thread::sleep_for(milliseconds(50));
    ASSERT_NE(readText(out).find("报警：串口断开"), std::string::npos) << readText(out);
    kill(st.program, SIGKILL);
    waitpid(st.program, nullptr, 0);
    st.program = -1;
    EXPECT_EQ(st.Sql("SELECT count(*) FROM EventJournal WHERE Kind = 'alarm.linkdown' AND ApparatusAddress IS NULL "
                     "AND ClearedAt IS NULL"),
              "1\n");
    // Started again with the adapter back: the link alarm of the killed run is cleared, nothing doubled.
    st.Control("plug");
    st.StartMonitor();
    const std::string cleared = "SELECT count(*) FROM EventJournal WHERE Kind = 'alarm.linkdown' AND ClearedAt IS NULL";
    for (int i = 0; i < 100 && st.Sql(cleared) != "0\n"; ++i)
        std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(st.Sql("SELECT count(*) || ' ' || count(ClearedAt) FROM EventJournal WHERE Kind = 'alarm.linkdown'"),
              "1 1\n");
    EXPECT_EQ(st.Sql("SELECT count(*) FROM EventJournal WHERE Kind LIKE 'alarm.%' AND AckedAt IS NULL"), "10\n")
        << "all still to acknowledge";
}

TEST(EndToEnd, EveryProgramAnswersHelpAndVersionWithoutStartingAnything)
{
    // No display, an empty folder: nothing may start and no Data.ini may appear.
    const fs::path dir = fs::temp_directory_path() / ("zeva-e2e-info-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const char* program : {ZEVA_MONITOR, ZEVA_SIM, ZEVA_INITDB, ZEVA_RECORDER}) {
        const std::string name = fs::path(program).filename().string();
        std::string run = "cd '" + dir.string() + "' && env -u DISPLAY -u QT_QPA_PLATFORM '" + program + "' ";
        EXPECT_EQ(zeva::test::Shell(run + "--version; echo rc=$?"), name + " " + zeva::ProgramVersion + "\nrc=0\n");
        std::string help = zeva::test::Shell(run + "--help; echo rc=$?");
        EXPECT_EQ(help.rfind("usage: " + name, 0), 0u) << help;
        EXPECT_NE(help.find("rc=0\n"), std::string::npos) << help;
    }
    // The window's configuration is Data.ini: any other argument is refused before anything starts.
    for (const char* program : {ZEVA_MONITOR, ZEVA_RECORDER})
        for (const char* argument : {"--bogus", "-platform"}) {
            const std::string out = zeva::test::Shell("cd '" + dir.string() + "' && env -u DISPLAY -u QT_QPA_PLATFORM '" +
                                                      program + "' " + argument + " 2>&1; echo rc=$?");
            EXPECT_NE(out.find("unknown argument: " + std::string(argument)), std::string::npos) << out;
            EXPECT_NE(out.find("rc=64\n"), std::string::npos) << out;
        }
    EXPECT_TRUE(fs::is_empty(dir)) << "nothing written";
    fs::remove_all(dir);
    // The desktop entry as desktop environments read it: no error, no warning, no hint.
    EXPECT_EQ(zeva::test::Shell("desktop-file-validate '" + std::string(ZEVA_SOURCE_DIR) +
                                "/data/zeva-monitor.desktop' 2>&1; echo rc=$?"),
              "rc=0\n");
}
