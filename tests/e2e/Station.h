// A station for the end-to-end tests: a temporary folder with its database, Data.ini, zeva-sim on
// a pseudo-terminal, and the program under test; the simulator's log of the wire.
#pragma once

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zeva::test {

namespace fs = std::filesystem;
using namespace std::chrono;

inline std::string readText(const fs::path& p)
{
    return zeva::test::ReadText(p.string());
}

struct Line {
    long long ms;
    std::string dir, bytes;
};

inline std::vector<Line> logLines(const fs::path& log)
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

// A station in a temporary folder: its database, Data.ini, the simulated bus and the program.
class Station {
public:
    explicit Station(const char* name)
        : dir(fs::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid())))
    {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Station()
    {
        zeva::test::Terminate(program);
        zeva::test::Terminate(sim);
        fs::remove_all(dir);
    }
    void InitDb(bool demo)
    {
        std::string cmd =
            std::string(ZEVA_INITDB) + " '" + dir.string() + "'" + (demo ? " --demo" : "") + " > /dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string Sql(const std::string& q) const
    {
        return zeva::test::Shell("sqlite3 '" + (dir / "DataBase" / "Data.db").string() + "' \"" + q + "\"");
    }
    void Ini(const std::string& info)
    {
        std::ofstream(dir / "Data.ini", std::ios::binary)
            << "[Info]\r\nPath=" << dir.string() << "\r\nPort=" << (dir / "bus").string() << "\r\n"
            << info;
    }
    void StartSim(std::vector<std::string> args)
    {
        args.insert(args.begin(), {ZEVA_SIM, "--link", "bus", "--log", "sim.log", "--control", "ctl"});
        sim = zeva::test::Spawn(args, dir.string(), (dir / "sim.out").string());
        for (int i = 0; i < 200 && !fs::exists(dir / "bus"); ++i)
            std::this_thread::sleep_for(milliseconds(10));
        ASSERT_TRUE(fs::exists(dir / "bus"));
    }
    // A command on the simulator's control channel, carried out once its log says so.
    void Control(const std::string& line)
    {
        ASSERT_TRUE(zeva::test::SimControl((dir / "ctl").string(), (dir / "sim.log").string(), line)) << line;
    }
    // The program under test: zeva-monitor, or zeva-recorder with its arguments; its output in
    // monitor.out or recorder.out.
    void StartMonitor() { program = zeva::test::Spawn({ZEVA_MONITOR}, dir.string(), (dir / "monitor.out").string()); }
    void StartRecorder(std::vector<std::string> args = {})
    {
        args.insert(args.begin(), ZEVA_RECORDER);
        program = zeva::test::Spawn(args, dir.string(), (dir / "recorder.out").string());
    }
    // SIGTERM, then the wait status.
    int StopProgram()
    {
        int status = zeva::test::Terminate(program);
        program = -1;
        return status;
    }
    std::vector<Line> Wire() const { return logLines(dir / "sim.log"); }
    std::vector<Line> Requests() const
    {
        std::vector<Line> rx;
        for (const Line& l : Wire())
            if (l.dir == "RX")
                rx.push_back(l);
        return rx;
    }

    fs::path dir;
    int sim = -1;
    int program = -1;
};

inline std::string allByteValues()
{
    std::string hex;
    char b[4];
    for (int i = 0; i < 256; ++i) {
        std::snprintf(b, sizeof b, " %02X", i);
        hex += b;
    }
    return hex;
}

} // namespace zeva::test
