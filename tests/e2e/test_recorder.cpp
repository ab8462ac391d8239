// zeva-recorder as a program: against zeva-sim, beside zeva-monitor, stopped by signals, with its
// port and database missing, and with the adapter pulled; its systemd unit as systemd reads it.
#include "Frames.h"
#include "PgCluster.h"
#include "ProgramInfo.h"
#include "Station.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <random>
#include <sys/wait.h>

using namespace zeva::test;
using namespace std::chrono;

namespace {

const std::vector<std::string> ThreeInstruments = {"--instrument", "1:2:45", "--instrument", "2:6:55",
                                                   "--instrument", "3:10:65"};

bool exitedWith(int status, int code)
{
    return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

// Waits until `condition` holds, looking every 50 ms; its last value.
bool eventually(const std::function<bool()>& condition, int ms = 5000)
{
    for (int waited = 0; waited < ms && !condition(); waited += 50)
        std::this_thread::sleep_for(milliseconds(50));
    return condition();
}

// Waits until the program's output holds `text`.
bool outputSays(const Station& st, const std::string& file, const std::string& text, int ms = 5000)
{
    return eventually([&] { return readText(st.dir / file).find(text) != std::string::npos; }, ms);
}

int rowCount(const Station& st)
{
    return std::stoi(st.Sql("SELECT count(*) FROM ApparatusRecord"));
}

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// The simulator's control line that puts a frame on the bus unasked.
std::string sendLine(const zeva::TFrame& frame)
{
    std::string line = "send";
    for (std::size_t i = 0; i < frame.size; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", frame[i]);
        line += hex;
    }
    return line;
}

// One run of a program for `run` on a fresh station; the requests on the wire and the rows stored.
struct TRun {
    std::vector<std::string> requests;
    std::vector<long long> requestTimes;
    std::string rows;
    std::string ini; // Data.ini after the run, its folder written as DIR
    int status = -1;
    std::string output;
};

TRun runStation(const char* name, bool recorder, seconds run)
{
    Station st(name);
    st.InitDb(true);
    // Two keys missing: both programs repair them alike.
    st.Ini("Interval_S=1\r\nRunTimer=4\r\n");
    st.StartSim(ThreeInstruments);
    // Pinned, so that readings do not depend on when they were asked for.
    st.Control("temp 1 45.1 45.9 46.7 43.5");
    st.Control("temp 2 55.2 56 56.8 53.6");
    st.Control("temp 3 65.3 66.1 66.9 63.7");
    if (recorder)
        st.StartRecorder();
    else
        st.StartMonitor();
    std::this_thread::sleep_for(run); // the length of the run, not a wait for something
    TRun r;
    r.status = st.StopProgram();
    r.output = readText(st.dir / (recorder ? "recorder.out" : "monitor.out"));
    for (const Line& l : st.Requests()) {
        r.requests.push_back(l.bytes);
        r.requestTimes.push_back(l.ms);
    }
    r.rows = st.Sql("SELECT ApparatusID, AActTemperature, BActTemperature, CActTemperature, DActTemperature, "
                    "ABlackTemperature, BBlackTemperature, CBlackTemperature, DBlackTemperature "
                    "FROM ApparatusRecord ORDER BY rowid");
    r.ini = readText(st.dir / "Data.ini");
    for (std::size_t at; (at = r.ini.find(st.dir.string())) != std::string::npos;)
        r.ini.replace(at, st.dir.string().size(), "DIR");
    return r;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

} // namespace

TEST(Recorder, PutsTheSameBytesOnTheWireAndStoresTheSameRowsAsTheWindow)
{
    const TRun window = runStation("zeva-rec-gui", false, seconds(8));
    const TRun recorder = runStation("zeva-rec-core", true, seconds(8));
    ASSERT_TRUE(exitedWith(window.status, 0)) << window.output;
    ASSERT_TRUE(exitedWith(recorder.status, 0)) << recorder.output;

    // Both ask the same instruments in the same order at the same pace.
    ASSERT_GE(window.requests.size(), 18u);
    ASSERT_GE(recorder.requests.size(), 18u);
    const std::size_t n = std::min(window.requests.size(), recorder.requests.size());
    for (std::size_t i = 0; i < n; ++i)
        EXPECT_EQ(recorder.requests[i], window.requests[i]) << i;
    for (std::size_t i = 2; i < recorder.requestTimes.size(); ++i)
        EXPECT_NEAR(double(recorder.requestTimes[i] - recorder.requestTimes[i - 1]), 333.0, 250.0) << i;

    // The same rows: which instrument, and each of its eight readings, in the same order.
    const std::vector<std::string> a = lines(window.rows), b = lines(recorder.rows);
    ASSERT_GE(a.size(), 3u) << window.rows;
    ASSERT_GE(b.size(), 3u) << recorder.rows;
    EXPECT_LE(std::max(a.size(), b.size()) - std::min(a.size(), b.size()), 1u);
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        EXPECT_EQ(b[i], a[i]) << i;
    EXPECT_EQ(recorder.ini, window.ini) << "the same repairs of Data.ini";
    EXPECT_NE(recorder.ini.find("ApparatusAddress=0"), std::string::npos) << recorder.ini;

    // The recorder says its start, what it polls and its stop.
    EXPECT_NE(recorder.output.find("zeva-recorder: 启动 " + std::string(zeva::ProgramVersion)), std::string::npos)
        << recorder.output;
    EXPECT_NE(recorder.output.find("轮询 3 台仪表：仪表 1（1号主变压器），仪表 2（2号主变压器），仪表 3（3号站用变压器）"),
              std::string::npos)
        << recorder.output;
    EXPECT_NE(recorder.output.find("停止：本次写入 " + std::to_string(b.size()) + " 条记录"), std::string::npos)
        << recorder.output;
}

TEST(Recorder, ASignalAtAnyMomentLosesNoRowThatWasStored)
{
    Station st("zeva-rec-term");
    st.InitDb(true);
    // The fastest pace: a row on every third reply or so.
    st.Ini("Interval_S=1\r\nRunTimer=1\r\nApparatusAddress=1\r\n");
    st.StartSim(ThreeInstruments);
    int written = 0;
    const int stops[] = {1700, 2300, 3100, 1900, 2600};
    for (int i = 0; i < 5; ++i) {
        fs::remove(st.dir / "recorder.out");
        st.StartRecorder();
        std::this_thread::sleep_for(milliseconds(stops[i])); // a different moment each time
        const auto signalled = steady_clock::now();
        ::kill(st.program, i % 2 ? SIGINT : SIGTERM);
        int status = 0;
        ::waitpid(st.program, &status, 0);
        st.program = -1;
        const auto took = duration_cast<milliseconds>(steady_clock::now() - signalled).count();
        const std::string out = readText(st.dir / "recorder.out");
        ASSERT_TRUE(exitedWith(status, 0)) << out;
        EXPECT_LT(took, 5000) << "stopped " << took << " ms after the signal";
        // The recorder's own count of the rows it committed, against the database.
        const auto at = out.find("停止：本次写入 ");
        ASSERT_NE(at, std::string::npos) << out;
        written += std::stoi(out.substr(at + std::string("停止：本次写入 ").size()));
        EXPECT_EQ(rowCount(st), written) << "run " << i << ": every row it wrote is there, nothing more";
    }
    EXPECT_GE(written, 5);
    EXPECT_EQ(st.Sql("PRAGMA integrity_check"), "ok\n");
}

TEST(Recorder, ExitCodesForAPortThatCannotOpenAndAMissingDatabase)
{
    Station st("zeva-rec-exit");
    st.InitDb(true);
    // A missing device is waited for (see the plant's test); a port that is no serial device ends it.
    st.Ini("Interval_S=1\r\n");
    const std::string bus = (st.dir / "bus").string();
    { std::ofstream(st.dir / "bus") << "a file"; }
    std::string out = Shell("'" + std::string(ZEVA_RECORDER) + "' --dir '" + st.dir.string() + "' 2>&1; echo rc=$?");
    EXPECT_NE(out.find("不是串口设备"), std::string::npos) << out;
    EXPECT_NE(out.find("rc=2\n"), std::string::npos) << out;
    fs::remove(st.dir / "bus");

    // A device this user may not open: the hint depends on whether the user is in dialout already.
    st.StartSim(ThreeInstruments);
    if (::geteuid() == 0) {
        const std::string dialout = Shell("getent group dialout | cut -d: -f3 | tr -d '\\n'");
        const std::string run = "cd '" + st.dir.string() + "' && setpriv --reuid=65534 --clear-groups --regid=";
        Shell("chmod 0600 \"$(readlink -f '" + bus + "')\"");
        out = Shell(run + "65534 '" + ZEVA_RECORDER + "' 2>&1; echo rc=$?");
        EXPECT_NE(out.find("的权限：当前用户须属于 dialout 组"), std::string::npos) << out;
        EXPECT_NE(out.find("rc=2\n"), std::string::npos) << out;
        out = Shell(run + dialout + " '" + ZEVA_RECORDER + "' 2>&1; echo rc=$?");
        EXPECT_NE(out.find("的权限：当前用户已属于 dialout 组，但该设备不属于此组或不许组内读写"), std::string::npos) << out;
        EXPECT_NE(out.find("rc=2\n"), std::string::npos) << out;
    }

    // A Data.ini that is there but cannot be read: no defaults in its place (they would poll COM1).
    if (::geteuid() == 0) {
        Shell("chmod 0600 '" + (st.dir / "Data.ini").string() + "'");
        out = Shell("cd '" + st.dir.string() + "' && setpriv --reuid=65534 --regid=65534 --clear-groups '" +
                    ZEVA_RECORDER + "' 2>&1; echo rc=$?");
        EXPECT_NE(out.find("/Data.ini 无法读取：Permission denied"), std::string::npos) << out;
        EXPECT_EQ(out.find("COM1"), std::string::npos) << out;
        EXPECT_NE(out.find("rc=78\n"), std::string::npos) << out;
        Shell("chmod 0644 '" + (st.dir / "Data.ini").string() + "'");
    }

    // A database that is there but held by another program in exclusive mode: 75, tried again later.
    {
        // The holder waits out the probe below, which reads for a moment while it tries its lock.
        const int holder = Spawn({"/usr/bin/sqlite3", (st.dir / "DataBase" / "Data.db").string(), ".timeout 5000",
                                  "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; SELECT count(*) FROM Apparatus;",
                                  ".shell sleep 6", "COMMIT;"},
                                 st.dir.string(), "/dev/null");
        const std::string probe = "sqlite3 '" + (st.dir / "DataBase" / "Data.db").string() + "' 'SELECT count(*) FROM Apparatus' 2>&1";
        ASSERT_TRUE(eventually([&] { return Shell(probe).find("locked") != std::string::npos; })) << Shell(probe);
        out = Shell("timeout 10 '" + std::string(ZEVA_RECORDER) + "' --dir '" + st.dir.string() + "' 2>&1; echo rc=$?");
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
        EXPECT_NE(out.find("/DataBase/Data.db 无法打开："), std::string::npos) << out;
        EXPECT_NE(out.find("rc=75\n"), std::string::npos) << out;
    }

    // Relative names in Data.ini are the folder's own, as for the window started there.
    std::ofstream(st.dir / "Data.ini", std::ios::binary) << "[Info]\r\nPath=.\r\nPort=bus\r\nInterval_S=1\r\n";
    out = Shell("cd / && timeout --preserve-status -s TERM 2 '" + std::string(ZEVA_RECORDER) + "' --dir '" +
                st.dir.string() + "' 2>&1; echo rc=$?");
    EXPECT_NE(out.find("轮询 3 台仪表"), std::string::npos) << out;
    EXPECT_NE(out.find("rc=0\n"), std::string::npos) << out;
    st.Ini("Interval_S=1\r\n");

    // The database missing: 3, and where it was looked for.
    fs::remove_all(st.dir / "DataBase");
    out = Shell("'" + std::string(ZEVA_RECORDER) + "' --dir='" + st.dir.string() + "' 2>&1; echo rc=$?");
    EXPECT_NE(out.find("数据库不在 " + st.dir.string() + "/DataBase 目录下"), std::string::npos) << out;
    EXPECT_NE(out.find("rc=3\n"), std::string::npos) << out;

    // Wrong arguments: 64, and nothing started.
    out = Shell("'" + std::string(ZEVA_RECORDER) + "' --frobnicate 2>&1; echo rc=$?");
    EXPECT_NE(out.find("unknown argument: --frobnicate"), std::string::npos) << out;
    EXPECT_NE(out.find("rc=64\n"), std::string::npos) << out;
    out = Shell("'" + std::string(ZEVA_RECORDER) + "' --dir /nonexistent/folder 2>&1; echo rc=$?");
    EXPECT_NE(out.find("rc=64\n"), std::string::npos) << out;
}

TEST(Recorder, TheWindowAndTheRecorderNeverHoldOnePortTogether)
{
    Station st("zeva-rec-excl");
    st.InitDb(true);
    st.Ini("Interval_S=1\r\nRunTimer=4\r\nApparatusAddress=1\r\n");
    st.StartSim(ThreeInstruments);

    // The window first: a recorder of the same database is refused, one of another cannot have the port.
    st.StartMonitor();
    ASSERT_TRUE(eventually([&] { return !st.Requests().empty(); })) << "the window polls";
    const std::string bus = (st.dir / "bus").string();
    std::string out = Shell("cd '" + st.dir.string() + "' && '" + ZEVA_RECORDER + "' 2>&1; echo rc=$?");
    EXPECT_NE(out.find("已由另一个记录程序（PID " + std::to_string(st.program) + "）使用"), std::string::npos) << out;
    EXPECT_NE(out.find("rc=78\n"), std::string::npos) << out;
    Station other("zeva-rec-excl-other");
    other.InitDb(true);
    std::ofstream(other.dir / "Data.ini", std::ios::binary)
        << "[Info]\r\nPath=" << other.dir.string() << "\r\nPort=" << bus << "\r\n";
    out = Shell("'" + std::string(ZEVA_RECORDER) + "' --dir '" + other.dir.string() + "' 2>&1; echo rc=$?");
    EXPECT_NE(out.find("串口 " + bus + " 无法打开：" + bus + " 已被其他程序占用"), std::string::npos) << out;
    EXPECT_NE(out.find("rc=2\n"), std::string::npos) << out;
    EXPECT_TRUE(exitedWith(st.StopProgram(), 0));

    // The recorder first: the window of the same database says so and ends with code 78.
    st.StartRecorder();
    ASSERT_TRUE(outputSays(st, "recorder.out", "轮询 3 台仪表"));
    const int recorder = st.program;
    st.StartMonitor();
    ASSERT_TRUE(outputSays(st, "monitor.out", "已由另一个记录程序")) << readText(st.dir / "monitor.out");
    EXPECT_TRUE(exitedWith(st.StopProgram(), 78));
    st.program = recorder;
    const int rowsBefore = rowCount(st);
    EXPECT_TRUE(eventually([&] { return rowCount(st) > rowsBefore; })) << "the recorder went on recording";
    EXPECT_TRUE(exitedWith(st.StopProgram(), 0));
}

TEST(Recorder, TheAdapterPulledAndPutBackResumesPollingAndRecording)
{
    Station st("zeva-rec-unplug");
    st.InitDb(true);
    st.Ini("Interval_S=1\r\nRunTimer=3\r\nApparatusAddress=1\r\n");
    st.StartSim(ThreeInstruments);
    st.StartRecorder();
    ASSERT_TRUE(outputSays(st, "recorder.out", "轮询 3 台仪表"));
    ASSERT_TRUE(eventually([&] { return rowCount(st) >= 1; }));

    st.Control("unplug");
    ASSERT_TRUE(outputSays(st, "recorder.out", "链路：已连接 → 串口断开")) << readText(st.dir / "recorder.out");
    ASSERT_TRUE(outputSays(st, "recorder.out", "报警：串口断开"));
    const double cpu0 = CpuSecondsOf(st.program);
    std::this_thread::sleep_for(seconds(5));
    EXPECT_LT(CpuSecondsOf(st.program) - cpu0, 0.5) << "no busy loop while the device is gone";
    const int rowsBefore = rowCount(st);

    st.Control("plug");
    ASSERT_TRUE(outputSays(st, "recorder.out", "链路：串口断开 → 已连接", 5000)) << readText(st.dir / "recorder.out");
    ASSERT_TRUE(outputSays(st, "recorder.out", "报警解除：串口断开"));
    EXPECT_TRUE(eventually([&] { return rowCount(st) > rowsBefore; })) << "rows recorded again";
    EXPECT_EQ(st.Sql("SELECT count(*) FROM EventJournal WHERE Kind = 'alarm.linkdown' AND ClearedAt IS NOT NULL"),
              "1\n");
    EXPECT_TRUE(exitedWith(st.StopProgram(), 0));
}

TEST(Recorder, KilledTwentyTimesWhileForwardingItLosesNothingAndDoublesNothingCentrally)
{
    TPgCluster pg;
    ASSERT_TRUE(pg.Ok()) << pg.Error();
    ASSERT_EQ(pg.Psql("CREATE DATABASE plant"), "");
    Station st("zeva-rec-central");
    st.InitDb(true);
    // A backlog of 30,000 readings, so that the kills fall in the middle of batches.
    ASSERT_EQ(st.Sql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30000)"
                     " INSERT INTO ApparatusRecord (ApparatusID, InDateTime, AActTemperature)"
                     " SELECT 1 + i % 3, strftime('%Y-%m-%d %H:%M:%S', '2026-11-01', '+' || i || ' minutes'), i % 90"
                     " FROM n"),
              "");
    st.Ini("Interval_S=1\r\nRunTimer=1\r\nApparatusAddress=1\r\n[Central]\r\nHost=" + pg.SocketDir() +
           "\r\nPort=" + std::to_string(TPgCluster::Port) +
           "\r\nDatabase=plant\r\nUser=zeva_test\r\nSslMode=disable\r\nStation=s1\r\n");
    st.StartSim(ThreeInstruments);
    std::mt19937 random(20261209);
    for (int i = 0; i < 20; ++i) {
        st.StartRecorder();
        std::this_thread::sleep_for(milliseconds(150 + random() % 500));
        ::kill(st.program, SIGKILL);
        ::waitpid(st.program, nullptr, 0);
        st.program = -1;
    }
    // Once more, to the end of the backlog, with the bus silent so that no new reading comes.
    for (const char* address : {"1", "2", "3"})
        st.Control(std::string("present ") + address + " off");
    // The killed runs' output goes first: the new run may not have truncated it yet when it is read.
    fs::remove(st.dir / "recorder.out");
    st.StartRecorder();
    ASSERT_TRUE(outputSays(st, "recorder.out", "中心库：已同步", 60000)) << readText(st.dir / "recorder.out");
    const int status = st.StopProgram();
    EXPECT_TRUE(exitedWith(status, 0)) << status << "\n" << readText(st.dir / "recorder.out");
    const std::string local = st.Sql("SELECT count(*), max(RecordID) FROM ApparatusRecord");
    EXPECT_EQ(pg.Psql("SELECT count(*) || '|' || max(local_id) FROM apparatus_record WHERE station = 's1'", "plant"),
              local);
    EXPECT_EQ(pg.Psql("SELECT count(*) - count(DISTINCT local_id) FROM apparatus_record", "plant"), "0\n");
    EXPECT_EQ(st.Sql("SELECT LastID FROM ForwardPosition WHERE TableName = 'ApparatusRecord'"),
              st.Sql("SELECT max(RecordID) FROM ApparatusRecord"));
}

// A station's readings, one line each, as both databases can print them: ID, instrument, local
// time, the eight temperatures to two places ("-" for none).
std::string readingsOf(const Station& st)
{
    std::string sql = "SELECT RecordID || '|' || ApparatusID || '|' || InDateTime";
    for (const char* c : {"AActTemperature", "BActTemperature", "CActTemperature", "DActTemperature",
                          "ABlackTemperature", "BBlackTemperature", "CBlackTemperature", "DBlackTemperature"})
        sql += std::string(" || '|' || CASE WHEN ") + c + " IS NULL THEN '-' ELSE printf('%.2f', " + c + ") END";
    return st.Sql(sql + " FROM ApparatusRecord ORDER BY RecordID");
}

std::string centralReadingsOf(const TPgCluster& pg, const std::string& station, const std::string& zone)
{
    std::string sql = "SET TIME ZONE '" + zone + "'; SELECT local_id || '|' || apparatus_id || '|' ||"
                      " to_char(in_date_time, 'YYYY-MM-DD HH24:MI:SS')";
    for (const char* c : {"a_act", "b_act", "c_act", "d_act", "a_black", "b_black", "c_black", "d_black"})
        sql += std::string(" || '|' || coalesce(round(") + c + "_temperature, 2)::text, '-')";
    return pg.Psql(sql + " FROM apparatus_record WHERE station = '" + station + "' ORDER BY local_id", "plant");
}

TEST(Recorder, TwoStationsForwardThroughAMinuteLongServerOutageAndAKillAndTheCentralRowsEqualTheirs)
{
    // The stations' local time is not UTC, so that a wrong offset shows.
    const std::string zone = "Asia/Shanghai";
    const std::string hadZone = std::getenv("TZ") ? std::getenv("TZ") : "";
    ::setenv("TZ", zone.c_str(), 1);
    struct Restore {
        std::string zone;
        ~Restore() { zone.empty() ? ::unsetenv("TZ") : ::setenv("TZ", zone.c_str(), 1); }
    } restore{hadZone};
    TPgCluster pg;
    ASSERT_TRUE(pg.Ok()) << pg.Error();
    ASSERT_EQ(pg.Psql("CREATE DATABASE plant"), "");
    Station north("zeva-rec-north"), south("zeva-rec-south");
    for (Station* st : {&north, &south}) {
        st->InitDb(true);
        st->Ini("Interval_S=1\r\nRunTimer=1\r\nApparatusAddress=1\r\n[Central]\r\nHost=" + pg.SocketDir() +
                "\r\nPort=" + std::to_string(TPgCluster::Port) + "\r\nDatabase=plant\r\nUser=zeva_test\r\nSslMode=disable\r\n"
                "Station=" + (st == &north ? "north" : "south") + "\r\n");
        st->StartSim(ThreeInstruments);
        st->StartRecorder();
    }
    const auto says = [](const Station& st, const std::string& text, int ms) {
        return outputSays(st, "recorder.out", text, ms);
    };
    for (Station* st : {&north, &south})
        ASSERT_TRUE(says(*st, "中心库：已同步", 20000)) << readText(st->dir / "recorder.out");
    const auto centralCount = [&](const std::string& table, const std::string& station) {
        return std::stoi("0" + pg.Psql("SELECT count(*) FROM " + table + " WHERE station = '" + station + "'", "plant"));
    };
    ASSERT_TRUE(eventually([&] { return centralCount("apparatus_record", "north") > 0 && centralCount("apparatus_record", "south") > 0; }));

    // A registry edit on one station reaches the central copy, and only that station's.
    north.Sql("UPDATE Apparatus SET ApparatusName = '北区1号', T1 = 88.5 WHERE ApparatusAddress = 1");
    EXPECT_TRUE(eventually([&] {
        return pg.Psql("SELECT station || '|' || apparatus_name || '|' || t1 FROM apparatus WHERE apparatus_address = 1"
                       " ORDER BY station", "plant") == "north|北区1号|88.5\nsouth|1号主变压器|50\n";
    })) << pg.Psql("SELECT * FROM apparatus WHERE apparatus_address = 1", "plant");

    // The server stops for a minute while both record; one station's program is killed meanwhile.
    ASSERT_TRUE(pg.Stop());
    const int northBefore = rowCount(north);
    for (Station* st : {&north, &south})
        ASSERT_TRUE(says(*st, "事件：中心库：不可达（", 10000)) << readText(st->dir / "recorder.out");
    std::this_thread::sleep_for(seconds(25));
    ::kill(south.program, SIGKILL);
    ::waitpid(south.program, nullptr, 0);
    fs::remove(south.dir / "recorder.out");
    south.StartRecorder();
    std::this_thread::sleep_for(seconds(35));
    // About a row every two seconds at this pace: the minute must have added at least 20.
    EXPECT_GT(rowCount(north), northBefore + 20) << "recording went on\n" << readText(north.dir / "recorder.out");
    ASSERT_TRUE(pg.Start()) << pg.Error();
    for (Station* st : {&north, &south})
        ASSERT_TRUE(says(*st, "事件：中心库：已同步", 90000)) << readText(st->dir / "recorder.out");

    // The buses fall silent: no more readings; every table's rows meet.
    for (Station* st : {&north, &south})
        for (const char* address : {"1", "2", "3"})
            st->Control(std::string("present ") + address + " off");
    for (Station* st : {&north, &south}) {
        const std::string name = st == &north ? "north" : "south";
        EXPECT_TRUE(eventually([&] {
            return centralCount("apparatus_record", name) == rowCount(*st) &&
                   centralCount("event_journal", name) == std::stoi(st->Sql("SELECT count(*) FROM EventJournal"));
        }, 30000)) << name;
    }
    for (Station* st : {&north, &south})
        EXPECT_TRUE(exitedWith(st->StopProgram(), 0));
    for (Station* st : {&north, &south}) {
        const std::string name = st == &north ? "north" : "south";
        EXPECT_EQ(centralReadingsOf(pg, name, zone), readingsOf(*st)) << name;
        EXPECT_EQ(pg.Psql("SELECT count(*) - count(DISTINCT local_id) FROM apparatus_record WHERE station = '" + name + "'",
                          "plant"),
                  "0\n");
        EXPECT_EQ(pg.Psql("SELECT count(*) FROM event_journal WHERE station = '" + name +
                          "' AND kind = 'event.central'", "plant"),
                  st->Sql("SELECT count(*) FROM EventJournal WHERE Kind = 'event.central'"));
    }
}

TEST(Recorder, TheSystemdUnitPassesSystemdsOwnCheck)
{
    // As installed, with the program where the unit says it is.
    const fs::path root = fs::temp_directory_path() / ("zeva-rec-unit-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "usr/bin");
    fs::create_directories(root / "lib/systemd/system");
    fs::copy_file(ZEVA_RECORDER, root / "usr/bin/zeva-recorder");
    // The targets it depends on, as the system has them.
    Shell("cp -r /lib/systemd/system/. '" + (root / "lib/systemd/system").string() + "'");
    fs::copy_file(std::string(ZEVA_SOURCE_DIR) + "/data/zeva-recorder.service", root / "lib/systemd/system/zeva-recorder.service",
                  fs::copy_options::overwrite_existing);
    // Its man page is checked in the package (scripts/test), not here.
    const std::string out = Shell("systemd-analyze verify --man=no --root='" + root.string() +
                                  "' /lib/systemd/system/zeva-recorder.service 2>&1; echo rc=$?");
    EXPECT_EQ(out, "rc=0\n");
    const std::string unit = readText(root / "lib/systemd/system/zeva-recorder.service");
    for (const char* line : {"WorkingDirectory=/var/lib/zeva", "SupplementaryGroups=dialout", "Restart=on-failure",
                             "ProtectSystem=strict", "ReadWritePaths=/var/lib/zeva", "NoNewPrivileges=yes",
                             "PrivateTmp=yes", "ExecStart=/usr/bin/zeva-recorder"})
        EXPECT_NE(unit.find(std::string(line) + "\n"), std::string::npos) << line;
    fs::remove_all(root);
}

namespace {

TEST(Recorder, RepliesNobodyAskedForAreNeitherStoredNorTakenAndASlowLineStillRecords)
{
    Station st("zeva-rec-unasked");
    st.InitDb(true);
    st.Ini("Interval_S=1\r\nRunTimer=1\r\n");
    st.StartSim(ThreeInstruments);
    st.StartRecorder();
    ASSERT_TRUE(eventually([&] { return rowCount(st) > 3; }, 10000)) << readText(st.dir / "recorder.out");
    // Another master, an echo or a forger: a well-formed reading of instrument 2, each a read of its
    // own just after instrument 2 has answered. Only there is it surely nobody's answer: one landing
    // on a request of its own would be taken, as the instrument's would.
    const std::string forged = sendLine(zeva::BuildLiveReply(2, {99.9, 99.9, 99.9, 99.9}, 0, 0));
    for (int i = 0; i < 8; ++i)
        st.Control("send after 2" + forged.substr(4));
    ASSERT_TRUE(eventually([&] {
        const std::vector<Line> wire = st.Wire();
        return std::count_if(wire.begin(), wire.end(), [](const Line& l) { return l.dir == "TXSEND"; }) == 8;
    }, 30000));
    std::this_thread::sleep_for(seconds(1));
    EXPECT_TRUE(exitedWith(st.StopProgram(), 0));
    EXPECT_EQ(st.Sql("SELECT count(*) FROM ApparatusRecord WHERE 99.9 IN (AActTemperature, BActTemperature,"
                     " CActTemperature, DActTemperature)"),
              "0\n");
    EXPECT_EQ(occurrences(readText(st.dir / "recorder.out"), "总线上出现未请求的应答：地址 2"), 1u) << "once a minute";

    // A slow line and a slow instrument: each answer comes after the next request has gone out.
    zeva::test::Terminate(st.sim);
    st.Sql("UPDATE Apparatus SET CFlag = 0 WHERE ApparatusAddress <> 1");
    st.Ini("Interval_S=1\r\nRunTimer=1\r\nBate=1200\r\n");
    st.StartSim({"--delay", "250", "--instrument", "1:2:45:1200"});
    const int before = rowCount(st);
    fs::remove(st.dir / "recorder.out");
    st.StartRecorder();
    EXPECT_TRUE(eventually([&] { return rowCount(st) >= before + 3; }, 20000)) << readText(st.dir / "recorder.out");
    EXPECT_TRUE(exitedWith(st.StopProgram(), 0));
    EXPECT_EQ(readText(st.dir / "recorder.out").find("未请求"), std::string::npos) << readText(st.dir / "recorder.out");
}

TEST(Recorder, ReadingsWaitingAtAStopAreKeptAndGoFirstAtTheNextStartAndASecondRecorderIsRefused)
{
    Station st("zeva-rec-pending"), other("zeva-rec-other");
    st.InitDb(true);
    st.Ini("Interval_S=1\r\nRunTimer=1\r\n");
    st.StartSim(ThreeInstruments);
    st.StartRecorder();
    ASSERT_TRUE(outputSays(st, "recorder.out", "轮询 3 台仪表"));
    // Another folder whose Data.ini names the same database: refused before its port is opened.
    std::ofstream(other.dir / "Data.ini", std::ios::binary)
        << "[Info]\r\nPath=" << st.dir.string() << "\r\nPort=" << (other.dir / "bus").string() << "\r\n";
    std::string out = Shell("'" + std::string(ZEVA_RECORDER) + "' --dir '" + other.dir.string() + "' 2>&1; echo rc=$?");
    EXPECT_NE(out.find("数据库 " + st.dir.string() + "/DataBase/Data.db 已由另一个记录程序（PID " +
                       std::to_string(st.program) + "）使用"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("rc=78\n"), std::string::npos) << out;

    // Another program holds the database while readings come; a stop keeps them.
    const std::string file = (st.dir / "DataBase" / "Data.db").string();
    {
        TDbLock lock(file, 30);
        ASSERT_TRUE(lock.Held());
        std::this_thread::sleep_for(seconds(5));
        EXPECT_TRUE(exitedWith(st.StopProgram(), 0));
    }
    out = readText(st.dir / "recorder.out");
    const std::size_t at = out.find("程序结束时 ");
    ASSERT_NE(at, std::string::npos) << out;
    const int kept = std::stoi(out.substr(at + std::string("程序结束时 ").size()));
    EXPECT_GE(kept, 1);
    EXPECT_NE(out.find("已暂存到 " + file + ".pending"), std::string::npos) << out;
    const std::string last = st.Sql("SELECT coalesce(max(RecordID), 0) FROM ApparatusRecord");
    const std::string stoppedAt = Shell("date '+%Y-%m-%d %H:%M:%S' | tr -d '\\n'");
    std::this_thread::sleep_for(seconds(1));

    // The next start writes them before any new reading, with their own times.
    fs::remove(st.dir / "recorder.out");
    st.StartRecorder();
    ASSERT_TRUE(outputSays(st, "recorder.out", "上次结束时暂存的记录已写入数据库", 10000)) << readText(st.dir / "recorder.out");
    EXPECT_EQ(st.Sql("SELECT count(*) FROM (SELECT InDateTime FROM ApparatusRecord WHERE RecordID > " + last +
                     " ORDER BY RecordID LIMIT " + std::to_string(kept) + ") WHERE InDateTime <= '" + stoppedAt + "'"),
              std::to_string(kept) + "\n");

    // Kept nowhere (the file cannot be written): said, and the exit code says it too.
    {
        TDbLock lock(file, 30);
        ASSERT_TRUE(lock.Held());
        fs::remove(file + ".pending");
        fs::create_directory(file + ".pending");
        std::this_thread::sleep_for(seconds(3));
        EXPECT_TRUE(exitedWith(st.StopProgram(), 74));
    }
    EXPECT_NE(readText(st.dir / "recorder.out").find("也未能暂存"), std::string::npos) << readText(st.dir / "recorder.out");
}

} // namespace

TEST(Recorder, AChatteringDoorIsHeldOffByTheDelaysTheTripThresholdRaisesUrgentAndRepeatsAreMarked)
{
    Station st("zeva-e2e-chatter");
    st.InitDb(false);
    st.Sql("INSERT INTO Apparatus(ApparatusName,ApparatusAddress,CFlag,T4) VALUES('two',2,1,100)");
    st.Ini("Interval_S=1\r\nRunTimer=60\r\n[Alarm]\r\nOnDelay=3\r\nOffDelay=3\r\n");
    st.StartSim({"--instrument", "2"});
    st.StartRecorder();
    std::this_thread::sleep_for(seconds(2));
    const auto door = [&] {
        return st.Sql("SELECT count(*) || ' ' || count(ClearedAt) FROM EventJournal WHERE Kind = 'alarm.door'");
    };
    // The contact flaps every 0.7 s for 6 s: never raised; then held open 5 s: raised once.
    for (int i = 0; i < 9; ++i) {
        st.Control(i % 2 ? "door 2 closed" : "door 2 open");
        std::this_thread::sleep_for(milliseconds(700));
    }
    st.Control("door 2 closed");
    std::this_thread::sleep_for(milliseconds(1500));
    EXPECT_EQ(door(), "0 0\n") << "held off by the on-delay";
    st.Control("door 2 open");
    st.Control("temp 2 101 45 45 45"); // over T4
    std::this_thread::sleep_for(seconds(5));
    EXPECT_EQ(door(), "1 0\n");
    EXPECT_EQ(st.Sql("SELECT Priority || ' ' || Value FROM EventJournal WHERE Kind = 'alarm.overT4'"), "0 101.0\n");
    st.Control("door 2 closed");
    std::this_thread::sleep_for(seconds(5));
    EXPECT_EQ(door(), "1 1\n") << "cleared once closed for the off-delay";
    ASSERT_EQ(WEXITSTATUS(st.StopProgram()), 0);

    // Without delays the same contact raises at each opening; the third within a minute is marked.
    st.Ini("Interval_S=1\r\nRunTimer=60\r\n");
    st.StartRecorder();
    std::this_thread::sleep_for(seconds(2));
    for (int i = 0; i < 6; ++i) {
        st.Control(i % 2 ? "door 2 closed" : "door 2 open");
        std::this_thread::sleep_for(milliseconds(1600));
    }
    EXPECT_EQ(st.Sql("SELECT group_concat(coalesce(Chatter, 0), '') FROM (SELECT Chatter FROM EventJournal "
                     "WHERE Kind = 'alarm.door' ORDER BY ID)"),
              "0001\n")
        << "the delayed raise of before, then three quick ones";
    ASSERT_EQ(WEXITSTATUS(st.StopProgram()), 0);
}
