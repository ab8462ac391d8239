// The alarm statistics over known journal rows: every figure at its boundary, the page and its CSV.
#include "AlarmStatistics.h"
#include "Convert.h"
#include "FrmReport.h"
#include "JournalStats.h"
#include "Responder.h"
#include "Statements.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace zeva;

namespace {

QDateTime at(const char* text)
{
    return QDateTime::fromString(QLatin1String(text), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

std::string source(const TAlarmSource& s)
{
    return QStringLiteral("%1 %2 %3").arg(s.address).arg(s.name, s.kindText).toStdString();
}

} // namespace

TEST(JournalStatistics, FloodsChatteringTopStandingAndAcknowledgementOfKnownRowsOnThePageAndInCsv)
{
    QTemporaryDir dir;
    test::MakeDatabase(dir.path(), {{3, QStringLiteral("三号")}, {5, QStringLiteral("五号,东")}});
    TDatabase db;
    ASSERT_TRUE(db.Open(dir.path()));
    const auto add = [&](int address, const char* kind, const char* text, const QString& raised,
                         const char* cleared = nullptr, const char* acked = nullptr) {
        db.Exec(
            QStringLiteral(
                "INSERT INTO EventJournal(ApparatusID, ApparatusAddress, Kind, Text, RaisedAt, ClearedAt, "
                "AckedAt) VALUES((SELECT ID FROM Apparatus WHERE ApparatusAddress = :a), :a, :k, :t, :r, :c, :ack)"),
            {{":a", address < 0 ? QVariant() : address},
             {":k", kind},
             {":t", QString::fromUtf8(text)},
             {":r", raised},
             {":c", cleared ? QVariant(cleared) : QVariant()},
             {":ack", acked ? QVariant(acked) : QVariant()}});
    };
    const auto on = [](const char* hhmmss, int plusSeconds = 0) {
        return DateTimeText(at((std::string("2026-03-02 ") + hhmmss).c_str()).addSecs(plusSeconds));
    };
    db.Exec(QStringLiteral("BEGIN"));
    add(5, "alarm.trip", "超温跳闸输出", on("01:00:00"), "2026-03-03 01:00:05", "2026-03-02 01:00:45");
    add(5, "alarm.overtemp", "超温报警输出", on("02:00:00"), "2026-03-03 02:00:00", "2026-03-02 03:02:03"); // just 24 h
    add(-1, "alarm.linkdown", "串口断开：/dev/ttyUSB0", on("06:00:00"), nullptr, "2026-03-02 06:00:10");
    add(3, "alarm.errA", "A相读数 ERR", on("06:00:01")); // open for just 24 h at `now`
    // The door chatters: 3 raises in 59 s, a run whose 3 span 60 s (none), a run of 4 (one burst).
    add(3, "alarm.door", "柜门打开：门开", on("08:00:00"), nullptr, "2026-03-02 08:03:12");
    for (const char* t :
         {"08:00:20", "08:00:59", "09:00:00", "09:00:30", "09:01:00", "09:30:00", "09:30:10", "09:30:20", "09:30:30"})
        add(3, "alarm.door", "柜门打开：门开", on(t));
    add(3, "alarm.fault", "故障输出", on("10:09:59"));
    for (int i = 0; i < 11; ++i) // a flood: 11 in 10:10, never 3 within 60 s
        add(5, "alarm.phaseA", "A相状态报警", on("10:10:00", i * 54), nullptr,
            i == 0 ? "2026-03-02 10:20:00" : nullptr);
    for (int i = 0; i < 10; ++i) // just no flood: 10 in 10:20
        add(5, "alarm.phaseB", "B相状态报警", on("10:20:00", i * 60));
    add(3, "alarm.errB", "B相读数 \"ERR\"", on("12:00:00"));
    add(3, "alarm.errC", "C相读数 ERR", on("12:05:00"));
    add(3, "alarm.errD", "D相读数 ERR", on("12:10:00"));
    add(3, "alarm.door", "柜门打开", "2026-03-01 23:59:59"); // out of the range, as the next two
    add(3, "alarm.door", "柜门打开", "2026-03-03 00:00:00");
    add(3, "event.fan", "风机控制输出", on("08:00:30"));
    db.Exec(QStringLiteral("COMMIT"));

    const QDateTime from = at("2026-03-02 00:00:00"), to = at("2026-03-02 23:59:59");
    const TAlarmStatistics s = JournalStatistics(db, from, to, at("2026-03-03 06:00:01"));
    EXPECT_EQ(s.total, 39);
    std::string buckets;
    for (const auto& b : s.perTenMinutes)
        buckets += b.start.mid(11, 5).toStdString() + "=" + std::to_string(b.count) + " ";
    EXPECT_EQ(buckets, "01:00=1 02:00=1 06:00=2 08:00=3 09:00=3 09:30=4 10:00=1 10:10=11 10:20=10 12:00=2 12:10=1 ");
    ASSERT_EQ(s.floods.size(), 1u);
    EXPECT_EQ(s.floods[0].start, "2026-03-02 10:10:00");
    EXPECT_EQ(s.floods[0].count, 11);
    ASSERT_EQ(s.chattering.size(), 1u);
    EXPECT_EQ(source(s.chattering[0].source), "3 三号 柜门打开");
    EXPECT_EQ(s.chattering[0].raises, 10);
    EXPECT_EQ(s.chattering[0].bursts, 2);
    std::string top;
    for (const auto& t : s.top)
        top +=
            std::to_string(t.count) + " " + t.source.kind.toStdString() + "@" + std::to_string(t.source.address) + ", ";
    EXPECT_EQ(top, "11 alarm.phaseA@5, 10 alarm.door@3, 10 alarm.phaseB@5, 1 alarm.linkdown@-1, 1 alarm.errA@3, "
                   "1 alarm.errB@3, 1 alarm.errC@3, 1 alarm.errD@3, 1 alarm.fault@3, 1 alarm.overtemp@5, ");
    ASSERT_EQ(s.standing.size(), 2u);
    EXPECT_EQ(source(s.standing[0].source), "5 五号,东 超温跳闸输出");
    EXPECT_EQ(s.standing[0].raised, "2026-03-02 01:00:00");
    EXPECT_EQ(DurationText(s.standing[0].seconds), "1 天 0 小时 0 分 5 秒");
    EXPECT_TRUE(s.standing[0].cleared);
    EXPECT_EQ(source(s.standing[1].source), "-1 总线 串口断开");
    EXPECT_EQ(s.standing[1].seconds, 86401);
    EXPECT_FALSE(s.standing[1].cleared);
    EXPECT_EQ(s.acknowledged, 5); // 45 s, 1 h 2 min 3 s, 10 s, 3 min 12 s, 10 min
    EXPECT_EQ(DurationText(s.medianAckSeconds.value_or(-1)), "3 分 12 秒");
    EXPECT_EQ(DurationText(s.worstAckSeconds.value_or(-1)), "1 小时 2 分 3 秒");
    EXPECT_EQ(DurationText(45), "45 秒");

    // The page over the same day (as of today: every open alarm has stood for more than a day).
    TStatsPage page(db);
    EXPECT_EQ(page.objectName(), "StatsPage");
    page.DateFrom->setDate(from.date());
    page.DateTo->setDate(to.date());
    page.resize(900, 700);
    page.show(); // works the statistics out
    EXPECT_TRUE(page.Summary->text().contains(QStringLiteral("报警 39 条，泛滥 1 个时段，抖动 1 项，超过24小时 38 条")))
        << page.Summary->text().toStdString();
    EXPECT_EQ(page.Top->rowCount(), 10);
    EXPECT_EQ(page.Top->item(3, 2)->text(), "总线");
    QTest::mouseClick(page.ButStats, Qt::LeftButton);
    EXPECT_EQ(page.Standing->rowCount(), 38); // the open ones and the trip
    const QString csv = dir.filePath(QStringLiteral("stats.csv"));
    ASSERT_TRUE(page.ExportCsv(csv));
    const std::string text = test::ReadText(csv.toStdString());
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF汇总\r\n项目,数值\r\n开始,2026-03-02 00:00:00\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("\r\n报警泛滥\r\n时段开始,报警数\r\n2026-03-02 10:10:00,11\r\n抖动报警\r\n"
                        "地址,仪表,报警,发生次数,抖动次数\r\n3,三号,柜门打开,10,2\r\n最频繁的十项\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\r\n2026-03-02 01:00:00,5,\"五号,东\",超温跳闸输出,1 天 0 小时 0 分 5 秒\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\n1,3,三号,\"B相读数 \"\"ERR\"\"\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("确认用时中位,3 分 12 秒\r\n"), std::string::npos);
}

// The report window works the figures out beside the window's own connection and writes both files;
// closed while it works, it waits for its thread.
TEST(ReportWindow, MakesBothFilesOfTheChosenDayAndClosesWhileBusy)
{
    QTemporaryDir dir;
    const qint64 id = test::MakeDatabase(dir.path(), {{3, QStringLiteral("三号")}}).front();
    TDatabase db;
    ASSERT_TRUE(db.Open(dir.path()));
    for (const char* t : {"2026-03-02 08:00:00", "2026-03-02 08:00:10", "2026-03-02 08:00:20"})
        InsertRecord(db, id, at(t), {71.5, 40, 40, 40}, {0, 0, 0, 0});
    TFrmReport w(dir.path(), QStringLiteral("站一"), dir.filePath(QStringLiteral("out")));
    w.ReportDate->setDate(QDate(2026, 3, 2));
    QTest::mouseClick(w.ButMake, Qt::LeftButton);
    EXPECT_FALSE(w.ButMake->isEnabled());
    ASSERT_TRUE(test::WaitUntil([&] { return !w.Busy(); }, 20000));
    EXPECT_TRUE(w.ReportStatus->text().contains(QStringLiteral("已写入"))) << w.ReportStatus->text().toStdString();
    for (const char* file : {"out/zeva-report-2026-03-02.pdf", "out/zeva-report-2026-03-02.xlsx"})
        EXPECT_TRUE(QFileInfo(dir.filePath(QLatin1String(file))).size() > 1000) << file;
    EXPECT_NE(test::Shell("pdftotext '" + dir.filePath(QStringLiteral("out/zeva-report-2026-03-02.pdf")).toStdString() +
                          "' - | grep -c '站：站一'"),
              "0\n");

    w.ReportKind->setCurrentIndex(1);
    EXPECT_TRUE(w.Period().month);
    EXPECT_EQ(w.Period().first, QDate(2026, 3, 1));
    auto* closing = new TFrmReport(dir.path(), QStringLiteral("站一"), dir.filePath(QStringLiteral("out")));
    QTest::mouseClick(closing->ButMake, Qt::LeftButton);
    delete closing;
    test::Pump(100);
}
