// zeva-report on a station whose day is known to the second: every figure against a hand
// computation, read back from the workbook (openpyxl) and the PDF's text (pdftotext); the same
// report from the central PostgreSQL; the exit codes.
#include "PgCluster.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

namespace zeva::test {
namespace {

// 2026-12-10, instrument 1 (T2 60, T3 80) every 10 s: phase A 50 but 85 from 10:00:00 to 10:04:50
// and 90 at 13:59:50, then nothing until 16:00:00 (the program stopped after its last entry at
// 14:50 and started again at 16:00); B 40; C 30 and 31 in turn; D ERR once, else nothing. Readings
// just before and after the day must not count. Instrument 2 is polled but never answered,
// instrument 3 is not polled.
const char* const KnownDay = R"SQL(
UPDATE Apparatus SET CFlag = 0 WHERE ApparatusAddress = 3;
WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < 8639)
INSERT INTO ApparatusRecord(ApparatusID, InDateTime, AActTemperature, BActTemperature, CActTemperature, DActTemperature)
SELECT 1, datetime('2026-12-10', '+' || (i * 10) || ' seconds'),
       CASE WHEN i BETWEEN 3600 AND 3629 THEN 85 WHEN i = 5039 THEN 90 ELSE 50 END, 40, 30 + i % 2,
       CASE WHEN i = 100 THEN 6553.5 END
FROM s WHERE i NOT BETWEEN 5040 AND 5759;
INSERT INTO ApparatusRecord(ApparatusID, InDateTime, AActTemperature) VALUES
  (1, '2026-12-09 23:59:55', 99), (1, '2026-12-11 00:00:00', 99);
INSERT INTO EventJournal(ApparatusID, ApparatusAddress, Kind, Text, RaisedAt, ClearedAt, AckedAt, AckedBy, Priority) VALUES
  (1, 1, 'alarm.door', '柜门打开', '2026-12-09 23:00:00', '2026-12-10 00:30:00', NULL, NULL, 2),
  (NULL, NULL, 'event.start', '程序启动：zeva-recorder', '2026-12-10 00:00:00', NULL, NULL, NULL, NULL),
  (1, 1, 'event.fan', '风机控制输出：复归（启动时）', '2026-12-10 00:00:00', NULL, NULL, NULL, NULL),
  (1, 1, 'alarm.overtemp', '超温报警输出', '2026-12-10 10:00:00', '2026-12-10 10:05:00', '2026-12-10 10:03:00', '王工', 1),
  (1, 1, 'event.fan', '风机控制输出：动作', '2026-12-10 10:00:00', NULL, NULL, NULL, NULL),
  (1, 1, 'event.fan', '风机控制输出：复归', '2026-12-10 11:30:00', NULL, NULL, NULL, NULL),
  (1, 1, 'event.write', '参数写入：温度参数 T1–T7：T1 关冷却风机温度 50→55，T2 开冷却风机温度 60→60；操作员：王工',
   '2026-12-10 12:00:00', NULL, NULL, NULL, NULL),
  (1, 1, 'alarm.overtemp', '超温报警输出', '2026-12-10 13:59:50', '2026-12-10 16:00:10', '2026-12-10 16:10:00', '王工', 1),
  (1, 1, 'alarm.interrupted', '通讯中断', '2026-12-10 14:10:00', '2026-12-10 14:40:00', NULL, NULL, 1),
  (1, 1, 'event.fan', '风机控制输出：动作', '2026-12-10 14:45:00', NULL, NULL, NULL, NULL),
  (NULL, NULL, 'event.mute', '报警静音', '2026-12-10 14:50:00', NULL, NULL, NULL, NULL),
  (NULL, NULL, 'event.start', '程序启动：zeva-recorder', '2026-12-10 16:00:00', NULL, NULL, NULL, NULL),
  (1, 1, 'event.fan', '风机控制输出：复归（启动时）', '2026-12-10 16:00:00', NULL, NULL, NULL, NULL);
)SQL";

// Each row of each sheet as "sheet|cell|cell...": numbers as Python writes them, times ISO.
const char* const DumpWorkbook =
    "/usr/bin/python3 -c \"import openpyxl,sys\n"
    "for ws in openpyxl.load_workbook(sys.argv[1]).worksheets:\n"
    "  for r in ws.iter_rows(values_only=True):\n"
    "    print('|'.join([ws.title] + ['' if v is None else v.isoformat(sep=' ') if hasattr(v, 'isoformat') else str(v)"
    " for v in r]))\" ";

class ReportFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        d = dir.path().toStdString();
        Shell(std::string(ZEVA_INITDB) + " '" + d + "' --demo > /dev/null");
        std::ofstream(d + "/known.sql") << KnownDay;
        Shell("sqlite3 '" + d + "/DataBase/Data.db' < '" + d + "/known.sql'");
        std::ofstream(d + "/Data.ini") << "[Info]\r\nPath=" << d << "\r\n[Central]\r\nStation=nord\r\n";
    }
    // The exit code of zeva-report with `args`.
    int report(const std::string& args)
    {
        const std::string out = Shell("cd '" + d + "' && TZ=Asia/Shanghai " + ZEVA_REPORT + " " + args +
                                      " > report.out 2>&1; echo $?");
        return std::stoi(out);
    }
    QTemporaryDir dir;
    std::string d;
};

TEST_F(ReportFixture, EveryFigureOfAKnownDayReadsBackFromTheWorkbookAndThePdf)
{
    ASSERT_EQ(report("--day 2026-12-10 --dir ."), 0) << ReadText(d + "/report.out");
    const std::string book = Shell(DumpWorkbook + d + "/reports/zeva-report-2026-12-10.xlsx");
    for (const char* row : {
             "汇总|仪表|地址|相|最小|最大|最大时刻|平均|T2以上(分钟)|T3以上(分钟)\n",
             // 7,920 readings: (7,889 x 50 + 30 x 85 + 90) / 7,920; 30 above T2 for 10 s and the
             // one before the gap for three median spacings.
             "汇总|1号主变压器|1|A|50|90|2026-12-10 13:59:50|50.1|5.5|5.5\n",
             "汇总|1号主变压器|1|B|40|40|2026-12-10 00:00:00|40|0|0\n",
             "汇总|1号主变压器|1|C|30|31|2026-12-10 00:00:10|30.5|0|0\n",
             "报警|类别|优先级|仪表|次数|总时长(分钟)|确认中位(分钟)|确认最长(分钟)\n",
             "报警|通讯中断|高|1号主变压器|1|30||\n",
             // 5 min, then 13:59:50 .. 16:00:10 without the 70 min nothing ran; acknowledged
             // after 3 and 130.17 min.
             "报警|超温报警输出|高|1号主变压器|2|55.3|66.6|130.2\n",
             "报警|柜门打开|中|1号主变压器|0|30||\n",
             "参数写入|2026-12-10 12:00:00|1号主变压器|温度参数 T1–T7|T1 关冷却风机温度 50，T2 开冷却风机温度 60|"
             "T1 关冷却风机温度 55，T2 开冷却风机温度 60|王工\n",
             // Readings cover all but 14:00:20 .. 16:00:00; 30 min of it 中断; the fan ran
             // 90 min and 5 min before the stop.
             "可用率|1号主变压器|1|91.7|2.1|6.2|1.6\n",
             "可用率|2号主变压器|2|0|0|100|0\n",
         })
        EXPECT_NE(book.find(row), std::string::npos) << row << "\nin:\n" << book;
    EXPECT_EQ(book.find("|D|"), std::string::npos);
    EXPECT_EQ(book.find("3号"), std::string::npos);

    const std::string pdf = d + "/reports/zeva-report-2026-12-10.pdf";
    EXPECT_NE(Shell("pdfinfo '" + pdf + "'").find("Pages:           3\n"), std::string::npos);
    EXPECT_EQ(Shell("pdffonts '" + pdf + "' | tail -n +3 | awk '{print $(NF-4)}' | sort -u"), "yes\n");
    const std::string text = Shell("pdftotext -layout '" + pdf + "' -");
    for (const char* shown : {"50.1", "2026-12-10 13:59:50", "5.5（T2 60.0）", "55.3", "66.6", "91.7", "王工", "2号主变压器（地址 2）"})
        EXPECT_NE(text.find(shown), std::string::npos) << shown;
    for (const std::string each : {"站：nord", "期间：2026-12-10", "生成于 20"}) {
        std::size_t pages = 0;
        for (std::size_t at = 0; (at = text.find(each, at)) != std::string::npos; ++at)
            ++pages;
        EXPECT_EQ(pages, 3u) << each << " on every page";
    }
}

TEST_F(ReportFixture, TheCentralDatabaseGivesTheSameReport)
{
    TPgCluster pg;
    ASSERT_TRUE(pg.Ok()) << pg.Error();
    pg.Psql("CREATE DATABASE plant");
    const std::string conninfo = pg.ConnInfo("plant");
    Shell(std::string(ZEVA_INITDB) + " --central '" + conninfo + "' > /dev/null");
    ASSERT_EQ(Shell("TZ=Asia/Shanghai " + std::string(FORWARD_UNTIL) + " '" + d + "' '" + conninfo + "' nord; echo $?"), "0\n");
    ASSERT_EQ(report("--day 2026-12-10 --xlsx local.xlsx"), 0) << ReadText(d + "/report.out");
    ASSERT_EQ(report("--day 2026-12-10 --xlsx central.xlsx --central '" + conninfo + "' --station nord"), 0)
        << ReadText(d + "/report.out");
    const auto dump = [&](const std::string& file) { return Shell(DumpWorkbook + d + "/" + file + " | grep -v 生成时间"); };
    EXPECT_EQ(dump("central.xlsx"), dump("local.xlsx"));
    EXPECT_NE(dump("central.xlsx").find("可用率|1号主变压器|1|91.7|2.1|6.2|1.6\n"), std::string::npos);
}

TEST_F(ReportFixture, ExitCodesAndNoHalfWrittenFile)
{
    EXPECT_EQ(report(""), 64);
    EXPECT_EQ(report("--day 2026-02-30"), 64);
    EXPECT_EQ(report("--day 2026-12-10 --month 2026-12"), 64);
    EXPECT_EQ(report("--month 2026-12 --central 'host=x'"), 64) << "--central without --station";
    EXPECT_EQ(report("--day 2026-12-10 --pdf no/such/folder/r.pdf"), 74);
    EXPECT_EQ(report("--day 2026-12-10 --xlsx no/such/folder/r.xlsx"), 74);
    EXPECT_EQ(Shell("ls -A '" + d + "' | grep -c part"), "0\n");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("empty")));
    std::ofstream(d + "/empty/Data.ini") << "[Info]\r\nPath=" << d << "/empty\r\n";
    EXPECT_EQ(report("--day 2026-12-10 --dir empty"), 3);
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("odd/Data.ini")));
    EXPECT_EQ(report("--day 2026-12-10 --dir odd"), 78);
    // The month holds the readings on either side of the day: 99 at 23:59:55 holds 5 s, the one
    // at midnight 30 s.
    EXPECT_EQ(report("--month 2026-12 --xlsx m.xlsx"), 0) << ReadText(d + "/report.out");
    EXPECT_NE(Shell(DumpWorkbook + d + "/m.xlsx").find("汇总|1号主变压器|1|A|50|99|2026-12-09 23:59:55|50.1|6.1|6.1\n"),
              std::string::npos);
}

} // namespace
} // namespace zeva::test
