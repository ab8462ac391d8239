// zeva-monitor as a program: started in a temporary folder against zeva-sim, checked by the
// simulator's log of the wire, the rows in the database and the text of Data.ini.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

std::string readText(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}


struct Line {
    long long ms;
    std::string dir, bytes;
};

std::vector<Line> logLines(const fs::path& log)
{
    std::vector<Line> lines;
    std::istringstream in(readText(log));
    for (std::string l; std::getline(in, l);) {
        std::istringstream f(l);
        Line x;
        f >> x.ms >> x.dir;
        std::getline(f, x.bytes);
        if (!x.bytes.empty() && x.bytes[0] == ' ')
            x.bytes.erase(0, 1);
        lines.push_back(x);
    }
    return lines;
}

} // namespace

TEST(EndToEnd, MonitorPollsRecordsAndKeepsItsSettings)
{
    fs::path dir = fs::temp_directory_path() / ("zeva-e2e-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    ASSERT_EQ(std::system((std::string(ZEVA_INITDB) + " '" + dir.string() + "' --demo > /dev/null").c_str()), 0);
    {
        std::ofstream ini(dir / "Data.ini", std::ios::binary);
        ini << "; written by the test\r\n[Info]\r\nPath=" << dir.string() << "\r\nBate=9600\r\nInterval_S=1\r\n"
            << "RunTimer=4\r\nPort=" << (dir / "bus").string() << "\r\nApparatusAddress=2\r\n";
    }
    std::string iniBefore = readText(dir / "Data.ini");

    int sim = zeva::test::Spawn({ZEVA_SIM, "--link", "bus", "--log", "sim.log", "--instrument", "1:2:45", "--instrument",
                       "2:6:55", "--instrument", "3:10:65"},
                      dir.string(), (dir / "sim.out").string());
    for (int i = 0; i < 200 && !fs::exists(dir / "bus"); ++i)
        std::this_thread::sleep_for(milliseconds(10));
    ASSERT_TRUE(fs::exists(dir / "bus"));

    int monitor = zeva::test::Spawn({ZEVA_MONITOR}, dir.string(), (dir / "monitor.out").string());
    std::this_thread::sleep_for(seconds(7));
    int status = zeva::test::Terminate(monitor);
    zeva::test::Terminate(sim);
    EXPECT_TRUE(WIFEXITED(status)) << readText(dir / "monitor.out");
    EXPECT_EQ(WEXITSTATUS(status), 0) << "SIGTERM closes the window and ends the program cleanly";

    // On the wire: 1 live, 1 black box, 2 live, ... a request every 333 ms, each answered.
    std::vector<Line> lines = logLines(dir / "sim.log");
    std::vector<Line> rx;
    for (const Line& l : lines)
        if (l.dir == "RX")
            rx.push_back(l);
    ASSERT_GE(rx.size(), 15u) << readText(dir / "sim.log");
    const char* order[6] = {"01 3F AA 16", "01 3F EE D2", "02 3F AA 15", "02 3F EE D1", "03 3F AA 14", "03 3F EE D0"};
    for (std::size_t i = 0; i < rx.size(); ++i)
        EXPECT_EQ(rx[i].bytes, order[i % 6]) << i;
    for (std::size_t i = 2; i < rx.size(); ++i)
        EXPECT_NEAR(double(rx[i].ms - rx[i - 1].ms), 333.0, 60.0) << i;
    for (const Line& l : lines)
        EXPECT_NE(l.dir, "RXJUNK") << "only whole requests went out";

    // Rows recorded under the instruments' IDs (1, 2, 3 at addresses 1, 2, 3), each row carrying the
    // readings of its own instrument: the simulated phases sit near 45, 55 and 65 degrees.
    auto sql = [&](const std::string& q) {
        return zeva::test::Shell("sqlite3 '" + (dir / "DataBase" / "Data.db").string() + "' '" + q + "'");
    };
    int rows = std::stoi(sql("SELECT count(*) FROM ApparatusRecord"));
    EXPECT_GE(rows, 3);
    EXPECT_EQ(sql("SELECT count(*) FROM ApparatusRecord WHERE ApparatusID NOT IN (1, 2, 3)"), "0\n");
    EXPECT_EQ(sql("SELECT count(*) FROM ApparatusRecord WHERE abs(AActTemperature - (35 + 10 * ApparatusID)) > 5"),
              "0\n");
    EXPECT_GE(std::stoi(sql("SELECT count(DISTINCT ApparatusID) FROM ApparatusRecord")), 2);
    EXPECT_EQ(sql("SELECT count(*) FROM ApparatusRecord WHERE InDateTime NOT GLOB "
                  "\"[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\""),
              "0\n");
    EXPECT_EQ(sql("PRAGMA integrity_check"), "ok\n");

    EXPECT_EQ(readText(dir / "Data.ini"), iniBefore) << "nothing to repair, nothing written";
    fs::remove_all(dir);
}
