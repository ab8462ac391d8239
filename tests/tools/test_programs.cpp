// Every program's command line alike: -h, --help and --version answer on the standard output with
// exit code 0; a wrong argument exits 64 with the usage on the standard error output.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace zeva::test;

namespace {

struct TRun {
    int code;
    std::string out, err;
};

TRun run(const std::string& program, const std::string& args)
{
    const std::string out = testing::TempDir() + "/programs.out", err = testing::TempDir() + "/programs.err";
    const std::string code =
        Shell("env -u DISPLAY " + program + " " + args + " >" + out + " 2>" + err + " </dev/null; echo $?");
    return {std::stoi(code), ReadText(out), ReadText(err)};
}

} // namespace

TEST(Programs, AnswerHelpVersionAndAWrongArgumentAlike)
{
    for (const std::string program : {ZEVA_MONITOR, ZEVA_RECORDER, ZEVA_INITDB, ZEVA_SIM, ZEVA_REPORT, ZEVA_WEB}) {
        const std::string name = program.substr(program.rfind('/') + 1);
        for (const char* ask : {"-h", "--help"}) {
            const TRun r = run(program, ask);
            EXPECT_EQ(r.code, 0) << name << ' ' << ask;
            EXPECT_EQ(r.out.rfind("usage: " + name, 0), 0u) << name << ' ' << ask << ":\n" << r.out;
            EXPECT_NE(r.out.find("\n  64  a wrong argument"), std::string::npos) << name << ": the exit codes";
            EXPECT_EQ(r.err, "") << name << ' ' << ask;
        }
        const TRun version = run(program, "--version");
        EXPECT_EQ(version.code, 0) << name;
        EXPECT_EQ(version.out.rfind(name + ' ', 0), 0u) << name << ": " << version.out;
        const TRun wrong = run(program, "--no-such-option");
        EXPECT_EQ(wrong.code, 64) << name;
        EXPECT_EQ(wrong.out, "") << name;
        EXPECT_NE(wrong.err.find("usage: " + name), std::string::npos) << name << ": " << wrong.err;
    }
    // The simulator says what a model number means and how each control command is written.
    const std::string sim = run(ZEVA_SIM, "--help").out;
    for (const char* text : {"\n     0  ZEVA5000 ", "\n    11  ZEVA5002-A ", "fault 1 on B", "send after 1 05 3F 01"})
        EXPECT_NE(sim.find(text), std::string::npos) << text;
}
