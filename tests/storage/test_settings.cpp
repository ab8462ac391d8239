// Data.ini: private-profile rules, GBK on disk, the start-up repairs, failed writes.
#include "Gbk.h"
#include "IniFile.h"
#include "Settings.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

using namespace zeva;

namespace {

std::string readBytes(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const QString& path, const std::string& bytes)
{
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

// Python's configparser on the GBK text: the independent reader.
std::string configparser(const QString& path, const std::string& section, const std::string& key)
{
    std::string cmd = "python3 -c \"import configparser,sys; c=configparser.ConfigParser(interpolation=None); "
                      "c.read(sys.argv[1], encoding='gbk'); sys.stdout.write(c.get(sys.argv[2], sys.argv[3], "
                      "fallback='<none>'))\" '" +
                      path.toStdString() + "' '" + section + "' '" + key + "'";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    while (std::size_t n = fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    EXPECT_EQ(pclose(p), 0) << cmd;
    return out;
}

struct IniFixture : ::testing::Test {
    QTemporaryDir dir;
    QString path() const { return dir.filePath("Data.ini"); }
};

} // namespace

TEST_F(IniFixture, StartupWithoutFileCreatesSixDefaultsInOrder)
{
    TIniFile ini(path());
    TStartupSettings s = ReadStartupSettings(ini, dir.path());
    EXPECT_EQ(s.DataPath, dir.path());
    EXPECT_EQ(s.BaudSetting, 9600);
    EXPECT_EQ(s.PollInterval, 3);
    EXPECT_EQ(s.RecordCycle, 60);
    EXPECT_EQ(s.PortName, "COM1");
    EXPECT_EQ(configparser(path(), "Info", "ApparatusAddress"), "<none>") << "read only after the port opened";
    QStringList errors;
    EXPECT_EQ(ReadSelectedAddress(ini, errors), 0);
    EXPECT_TRUE(errors.isEmpty() && s.WriteErrors.isEmpty());
    std::string want = "[Info]\r\nPath=" + dir.path().toStdString() +
                       "\r\nBate=9600\r\nInterval_S=3\r\nRunTimer=60\r\nPort=COM1\r\nApparatusAddress=0\r\n";
    EXPECT_EQ(readBytes(path()), want);
    EXPECT_EQ(configparser(path(), "Info", "Port"), "COM1");
    EXPECT_EQ(configparser(path(), "Info", "Bate"), "9600");
}

TEST_F(IniFixture, StartupRepairsWhatReadsAsMissing)
{
    writeBytes(path(), "; site settings\r\n[other]\r\nx=1\r\n[INFO]\r\n  path =   \r\nbate=abc\r\n"
                       "Interval_S = 0x0A\r\nRunTimer=0\r\nPort=  \r\nApparatusAddress=255\r\n");
    TIniFile ini(path());
    TStartupSettings s = ReadStartupSettings(ini, QStringLiteral("/start"));
    EXPECT_EQ(s.DataPath, "/start");
    EXPECT_EQ(s.BaudSetting, 9600);
    EXPECT_EQ(s.PollInterval, 10);
    EXPECT_EQ(s.RecordCycle, 60);
    EXPECT_EQ(s.PortName, "COM1");
    QStringList errors;
    EXPECT_EQ(ReadSelectedAddress(ini, errors), 0);
    EXPECT_EQ(readBytes(path()), "; site settings\r\n[other]\r\nx=1\r\n[INFO]\r\npath=/start\r\nbate=9600\r\n"
                                 "Interval_S = 0x0A\r\nRunTimer=60\r\nPort=COM1\r\nApparatusAddress=0\r\n")
        << "values replaced where they stand, every other line kept";

    writeBytes(path(), "[Info]\nBate=1234\nInterval_S=86400\nApparatusAddress=7\nPort=/dev/ttyUSB0\nPath=/data\n");
    TStartupSettings t = ReadStartupSettings(ini, QStringLiteral("/start"));
    EXPECT_EQ(t.BaudSetting, 1234);
    EXPECT_EQ(t.PollInterval, 86400);
    EXPECT_EQ(t.PortName, "/dev/ttyUSB0");
    EXPECT_EQ(t.DataPath, "/data");
    EXPECT_EQ(ReadSelectedAddress(ini, errors), 7);
    EXPECT_EQ(readBytes(path()), "[Info]\nBate=1234\nInterval_S=86400\nApparatusAddress=7\nPort=/dev/ttyUSB0\n"
                                 "Path=/data\nRunTimer=60\n")
        << "a new key follows the section's last line, in the file's own line ending";
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(IniFixture, ValuesThatWouldStopTheWorkAreRepairedAtStart)
{
    // Never polling, or never recording, without a word: the default is used and written back.
    struct Case {
        const char* interval;
        const char* runTimer;
        int wantInterval;
        int wantCycle;
    } cases[] = {{"-5", "-3", 3, 60},       {"99999999", "1", 3, 1}, {"86401", "0x7FFFFFFF", 3, 0x7FFFFFFF},
                 {"1", "-1", 1, 60},         {"0xFFFFFFFF", "2", 3, 2}};
    for (const Case& c : cases) {
        writeBytes(path(), std::string("[Info]\nInterval_S=") + c.interval + "\nRunTimer=" + c.runTimer + "\n");
        TIniFile ini(path());
        TStartupSettings s = ReadStartupSettings(ini, QStringLiteral("/start"));
        EXPECT_EQ(s.PollInterval, c.wantInterval) << c.interval;
        EXPECT_EQ(s.RecordCycle, c.wantCycle) << c.runTimer;
        EXPECT_EQ(ini.ReadInteger("Info", "Interval_S", 0), c.wantInterval) << "written back";
        EXPECT_EQ(ini.ReadInteger("Info", "RunTimer", 0), c.wantCycle) << "written back";
    }
}

TEST_F(IniFixture, RepairsThatCannotBeWrittenAreNotedAndTheDefaultsServe)
{
    // Data.ini a folder: reads give the defaults, every repair fails with the file's full name,
    // and no library text (a stream's "basic_filebuf::underflow") gets out.
    ASSERT_TRUE(QDir(dir.path()).mkdir("Data.ini"));
    TIniFile folder(path());
    EXPECT_EQ(folder.ReadString("Info", "Port", "dflt"), "dflt");
    TStartupSettings s = ReadStartupSettings(folder, QStringLiteral("/start"));
    EXPECT_EQ(s.BaudSetting, 9600);
    EXPECT_EQ(s.PollInterval, 3);
    EXPECT_EQ(s.PortName, "COM1");
    const QString want = "Unable to write to " + path();
    EXPECT_EQ(s.WriteErrors, QStringList{want}) << "one text, however many repairs failed";
    QStringList errors;
    EXPECT_EQ(ReadSelectedAddress(folder, errors), 0);
    EXPECT_EQ(errors, QStringList{want});
    EXPECT_TRUE(QFileInfo(path()).isDir()) << "the folder is left as it was";
}

TEST_F(IniFixture, AFileThatCannotBeReadIsNeverReplaced)
{
    // A write could not keep its lines: it fails instead, though the folder would take a new file.
    const QString locked = path();
    writeBytes(locked, "[Info]\nPort=COM7\nsecret=1\n");
    ::chmod(locked.toLocal8Bit().constData(), 0);
    ::chmod(dir.path().toLocal8Bit().constData(), 0777);
    // Root reads any file: the test takes an ordinary user's rights for the calls.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::seteuid(65534), 0);
    }
    TIniFile unreadable(locked);
    EXPECT_EQ(unreadable.ReadString("Info", "Port", "dflt"), "dflt");
    EXPECT_THROW(unreadable.WriteString("Info", "Port", "COM1"), EIniFileError);
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    ::chmod(locked.toLocal8Bit().constData(), 0600);
    ::chmod(dir.path().toLocal8Bit().constData(), 0700);
    EXPECT_EQ(readBytes(locked), "[Info]\nPort=COM7\nsecret=1\n");
}

TEST_F(IniFixture, NoSectionAddsItAtTheEnd)
{
    writeBytes(path(), "[HistoryLine]\nHistoryLine0=x"); // no final line ending
    TIniFile ini(path());
    ini.WriteInteger("Info", "Bate", 4800);
    EXPECT_EQ(readBytes(path()), "[HistoryLine]\nHistoryLine0=x\n[Info]\nBate=4800\n");
    EXPECT_EQ(ini.ReadInteger("info", "BATE", 0), 4800);
}

TEST_F(IniFixture, IntegerRules)
{
    writeBytes(path(), "[s]\na=0x0A\nb=0XfF\nc=12abc\nd=-7\ne=\nf= 42 \ng=99999999999\nh=0x\n");
    TIniFile ini(path());
    EXPECT_EQ(ini.ReadInteger("s", "a", -1), 10);
    EXPECT_EQ(ini.ReadInteger("s", "b", -1), 255);
    EXPECT_EQ(ini.ReadInteger("s", "c", -1), -1);
    EXPECT_EQ(ini.ReadInteger("s", "d", -1), -7);
    EXPECT_EQ(ini.ReadInteger("s", "e", -1), -1);
    EXPECT_EQ(ini.ReadInteger("s", "f", -1), 42);
    EXPECT_EQ(ini.ReadInteger("s", "g", -1), -1);
    EXPECT_EQ(ini.ReadInteger("s", "h", -1), -1);
    EXPECT_EQ(ini.ReadInteger("s", "missing", 255), 255);
    EXPECT_EQ(ini.ReadString("nosection", "a", "dflt"), "dflt");
}

TEST_F(IniFixture, ChineseRoundTripsAsGbkAndLongValuesAreCut)
{
    TIniFile ini(path());
    const QString curve = QStringLiteral("A相实时温度");
    ini.WriteString("HistoryLine", "HistoryLine0", curve);
    std::string bytes = readBytes(path());
    EXPECT_NE(bytes.find("HistoryLine0=A\xCF\xE0\xCA\xB5\xCA\xB1\xCE\xC2\xB6\xC8"), std::string::npos)
        << "GBK on disk";
    EXPECT_EQ(ini.ReadString("HistoryLine", "HistoryLine0", {}), curve);
    EXPECT_EQ(configparser(path(), "HistoryLine", "HistoryLine0"), curve.toStdString());

    ini.WriteString("s", "long", QString(3000, QChar(u'温')));
    EXPECT_EQ(ini.ReadString("s", "long", {}).size(), 1023) << "2047 bytes, no half character";
    EXPECT_EQ(GbkToUtf8(Utf8ToGbk("B相黑匣子温度")), "B相黑匣子温度");
}

TEST_F(IniFixture, FailedWriteNamesTheFile)
{
    QString missingFolder = dir.filePath("gone/Data.ini");
    TIniFile ini(missingFolder);
    try {
        ini.WriteString("Info", "Port", "COM2");
        FAIL() << "no error";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + missingFolder.toStdString());
    }
    // A disk that fills half way through the write (a file-size limit, which holds for root too).
    TIniFile full(path());
    full.WriteString("Info", "Port", "COM2");
    const std::string before = readBytes(path());
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 40;
    setrlimit(RLIMIT_FSIZE, &small);
    bool thrown = false;
    try {
        full.WriteString("Info", "Path", QString(200, QLatin1Char('x')));
    } catch (const EIniFileError& e) {
        thrown = std::string(e.what()) == "Unable to write to " + path().toStdString();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(thrown) << "the failed write is reported with the file's name";
    EXPECT_EQ(readBytes(path()), before) << "the old file is whole";
    EXPECT_EQ(full.ReadString("Info", "Port", {}), "COM2");
}
