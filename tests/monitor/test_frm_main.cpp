// The main window in-process: start-up and its failure boxes, the selectors, polling on the wire,
// the live display, the chart's buttons and recording into the database.
#include "Application.h"
#include "Frames.h"
#include "Lamp.h"
#include "LcdDisplay.h"
#include "MainFixture.h"
#include "ReplyHandling.h"
#include "StatusView.h"
#include "Statements.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QTranslator>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <qcustomplot.h>

#include <map>
#include <termios.h>

using namespace zeva;
using namespace zeva::test;

namespace {

using V = std::vector<uint8_t>;

V bytesOf(const TFrame& f)
{
    return {f.data(), f.data() + f.size};
}

// Types as the operator would, one key at a time (Chinese characters as composed text).
void type(QComboBox* box, const QString& text)
{
    box->lineEdit()->clear();
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box->lineEdit(), &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box->lineEdit(), &release);
    }
}

} // namespace

TEST_F(MainFixture, NoDataIniWritesDefaultsAndAMissingPortEndsTheProgram)
{
    // The default COM1 names a file of that name in the working folder when there is one (here a
    // folder, which no port is), so the machine's own /dev/ttyS0 plays no part.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("COM1")));
    auto w = Start();
    ASSERT_TRUE(WaitUntil([&] { return !boxes->boxes.isEmpty(); }));
    EXPECT_EQ(boxes->boxes.front(), "FriendlyBox: 串口 COM1已经打开。");
    EXPECT_EQ(boxes->titles.front(), "友情提示");
    EXPECT_EQ(boxes->details.front(), "COM1 不是串口设备。") << "the cause, on a second line";
    EXPECT_TRUE(WaitUntil([&] { return !w->isVisible(); })) << "the window closes";
    EXPECT_EQ(w->ExitCode(), 2);
    EXPECT_EQ(IniText(), "[Info]\r\nPath=" + dir.path().toStdString() +
                             "\r\nBate=9600\r\nInterval_S=3\r\nRunTimer=60\r\nPort=COM1\r\n")
        << "ApparatusAddress is read only once the port is open";
}

TEST_F(MainFixture, MissingDatabaseEndsTheProgramWithItsBox)
{
    WriteIni("ApparatusAddress=255\r\n");
    auto w = Start();
    ASSERT_TRUE(WaitUntil([&] { return !boxes->boxes.isEmpty(); }));
    EXPECT_EQ(boxes->boxes.front(), "FriendlyBox: 数据库不在 " + dir.path() + "/DataBase 目录下。");
    EXPECT_EQ(boxes->details.front(),
              dir.path() + "/DataBase/Data.db：文件不存在\n新建数据库：zeva-initdb " + dir.path())
        << "the cause and the command that makes the database";
    EXPECT_EQ(ShellQuoted(QStringLiteral("/srv/it's here")), "'/srv/it'\\''s here'") << "a command to paste as it stands";
    EXPECT_TRUE(w->AShape->Dimmed() && w->D6Shape->Dimmed()) << "no instrument was read: no lamp colour";
    EXPECT_TRUE(WaitUntil([&] { return !w->isVisible(); }));
    EXPECT_EQ(w->ExitCode(), 3);
    EXPECT_NE(IniText().find("ApparatusAddress=0\r\n"), std::string::npos) << "255 replaced by 0";
    EXPECT_FALSE(w->Core().ComM()->IsOpen()) << "the port is closed with the window";
}

TEST_F(MainFixture, StartupShowsTheFollowedInstrumentInTheSelectorsAndFollowsTheStoredAddress)
{
    WriteIni("Interval_S=3\r\nApparatusAddress=5\r\n");
    auto ids = MakeDatabase({{9, "九号", true, "ZEVA5002"}, {1, "一号"}, {5, "五号", true, "ZEVA5001"}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    EXPECT_EQ(w->ComAddress->count(), 3);
    EXPECT_EQ(w->ComAddress->itemText(0), "1");
    EXPECT_EQ(w->ComAddress->currentText(), "5") << "the instrument the chart follows, not the last row";
    EXPECT_EQ(w->MCapition->currentText(), "五号");
    EXPECT_EQ(w->EditType->text(), "ZEVA5001");
    EXPECT_EQ(w->Core().State().SelectedAddress, 5);
    EXPECT_EQ(w->Core().State().SelectedID, ids[2]);
    EXPECT_TRUE(w->Core().TimerA()->isActive());
    EXPECT_EQ(w->Core().TimerA()->interval(), 1000);
    EXPECT_EQ(w->Core().PollTable().PollCount(), 3);
    EXPECT_EQ(w->ChartView->xAxis->range(), QCPRange(0, 1800));
    EXPECT_EQ(w->ChartView->yAxis->range(), QCPRange(-30, 250));
    EXPECT_FALSE(w->AShape->Dimmed()) << "the lamps start in their colours";
    EXPECT_TRUE(boxes->boxes.isEmpty());
}

TEST_F(MainFixture, EmptyRegistryLeavesListsEmptyAndTheTimerOff)
{
    WriteIni("");
    MakeDatabase({});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    EXPECT_EQ(w->ComAddress->count(), 0);
    EXPECT_EQ(w->EditType->text(), "ZEVA-5000");
    EXPECT_FALSE(w->Core().TimerA()->isActive());
    EXPECT_TRUE(pty->Read(1300).empty()) << "nothing is sent in more than one polling interval";
    // The configuration window restarts the timer whether or not the table is empty.
    w->Core().TimerA()->setInterval(100);
    w->Core().TimerA()->start();
    EXPECT_EQ(pty->Read(1000, 4), (V{0x00, 0x3F, 0xAA, 0x17}));
}

TEST_F(MainFixture, SelectorsFollowTheOperatorOnly)
{
    WriteIni("ApparatusAddress=1\r\n");
    MakeDatabase({{1, "一号", true, "ZEVA5000-S"}, {2, "Two", true, "ZEVA5001"}, {7, "七号", false}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());

    type(w->ComAddress, "2");
    EXPECT_EQ(w->MCapition->currentText(), "Two");
    EXPECT_EQ(w->EditType->text(), "ZEVA5001");
    EXPECT_EQ(w->Core().State().SelectedAddress, 2);
    EXPECT_NE(IniText().find("ApparatusAddress=2\r\n"), std::string::npos);

    type(w->ComAddress, "7"); // in the list, but not enabled
    EXPECT_EQ(w->MCapition->currentText(), "");
    EXPECT_EQ(w->Core().State().SelectedAddress, 2);

    type(w->ComAddress, "x");
    ASSERT_TRUE(WaitUntil([&] { return !boxes->boxes.isEmpty(); }));
    EXPECT_EQ(boxes->boxes.back(), "ErrorBox: 'x' is not a valid integer value");
    EXPECT_EQ(w->Core().State().SelectedAddress, 2);

    type(w->MCapition, " two ");
    EXPECT_EQ(w->ComAddress->currentText(), "2") << "names match without regard to case";
    type(w->MCapition, "一号");
    EXPECT_EQ(w->ComAddress->currentText(), "1");
    EXPECT_EQ(w->Core().State().SelectedAddress, 2) << "choosing by name changes only the fields";
    EXPECT_NE(IniText().find("ApparatusAddress=2\r\n"), std::string::npos);
    type(w->MCapition, "nobody");
    EXPECT_EQ(w->ComAddress->currentText(), "");

    w->ComAddress->setEditText("1"); // from code: no handler
    EXPECT_EQ(w->Core().State().SelectedAddress, 2);
}

TEST_F(MainFixture, PollingOrderAndSpacingOnTheWire)
{
    WriteIni("Interval_S=3\r\n");
    MakeDatabase({{7, "b"}, {3, "a"}, {5, "off", false}});
    QElapsedTimer clock;
    auto w = Start();
    clock.start();
    std::vector<V> frames;
    std::vector<qint64> at;
    while (frames.size() < 5 && clock.elapsed() < 8000) {
        V f = pty->Read(1500, 4);
        if (f.size() == 4) {
            frames.push_back(f);
            at.push_back(clock.elapsed());
        }
    }
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0], (V{0x03, 0x3F, 0xAA, 0x14}));
    EXPECT_EQ(frames[1], (V{0x03, 0x3F, 0xEE, 0xD0}));
    EXPECT_EQ(frames[2], (V{0x07, 0x3F, 0xAA, 0x10}));
    EXPECT_EQ(frames[3], (V{0x07, 0x3F, 0xEE, 0xCC}));
    EXPECT_EQ(frames[4], (V{0x03, 0x3F, 0xAA, 0x14}));
    for (std::size_t i = 1; i < at.size(); ++i)
        EXPECT_NEAR(double(at[i] - at[i - 1]), 1000.0, 500.0);
}

TEST_F(MainFixture, ThePollingPaceHoldsOverManyTicks)
{
    // Interval_S=1: a tick every 333 ms; a coarse timer would give about 325 ms.
    WriteIni("Interval_S=1\r\n");
    MakeDatabase({{4, "a"}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    EXPECT_EQ(w->Core().TimerA()->interval(), 333);
    QElapsedTimer clock;
    clock.start();
    std::vector<double> at;
    while (at.size() < 22 && clock.elapsed() < 12000) {
        V f = pty->Read(600, 4);
        if (f.size() == 4)
            at.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    ASSERT_EQ(at.size(), 22u);
    double mean = (at.back() - at[1]) / double(at.size() - 2); // from the second: the first tick's start is fixed
    // The exact pace is measured in bench_monitor; a loaded machine delays single ticks.
    EXPECT_EQ(w->Core().TimerA()->timerType(), Qt::PreciseTimer);
    EXPECT_NEAR(mean, 1000.0 / 3, 1000.0 / 3 * 0.05) << "the mean period within 5 %";
}

TEST_F(MainFixture, InstrumentsAt0x11And0x13KeepPollingOnALineLeftCooked)
{
    // 27.5 is 01 13; 0x11 and 0x13 as addresses, temperatures and checksums: with XON/XOFF on
    // the line the first 0x13 would stop every request for the rest of the run.
    termios t{};
    ASSERT_EQ(tcgetattr(pty->master(), &t), 0);
    ASSERT_NE(t.c_iflag & IXON, 0u) << "the pty starts in the kernel's defaults";
    WriteIni("Interval_S=1\r\nRunTimer=1\r\nApparatusAddress=17\r\n");
    auto ids = MakeDatabase({{0x11, "x11"}, {0x13, "x13"}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    ASSERT_EQ(tcgetattr(pty->master(), &t), 0);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);

    const std::map<uint8_t, V> expected{{0x11, {0x11, 0x3F, 0xAA, 0x06}}, {0x13, {0x13, 0x3F, 0xAA, 0x04}}};
    QElapsedTimer clock;
    clock.start();
    int requests = 0, answered = 0;
    V pending;
    while (clock.elapsed() < 6000) {
        V got = pty->Read(50);
        pending.insert(pending.end(), got.begin(), got.end());
        while (pending.size() >= 4) {
            V f(pending.begin(), pending.begin() + 4);
            pending.erase(pending.begin(), pending.begin() + 4);
            ++requests;
            ASSERT_TRUE(f[0] == 0x11 || f[0] == 0x13) << int(f[0]);
            if (f[2] == 0xAA) {
                EXPECT_EQ(f, expected.at(f[0]));
                pty->Write(bytesOf(BuildLiveReply(f[0], {27.5, 1.7, 0x13 / 10.0, 0x1113 / 10.0}, 0x11, 0x13)));
            } else {
                pty->Write(bytesOf(BuildBlackBoxReply(f[0], {27.5, 27.5, 27.5, 27.5}, {0x11, 0x13, 0x11, 0x13})));
            }
            ++answered;
        }
    }
    EXPECT_GE(requests, 16) << "a request every 333 ms, never stopped";
    EXPECT_TRUE(pending.empty()) << "nothing echoed or cut between requests";
    EXPECT_DOUBLE_EQ(w->Core().State().LiveTemps[0], 27.5);
    EXPECT_GE(w->ChartView->graph(0)->dataCount(), 4) << "address 0x11's replies drawn";
    int rows = w->Core().Db().Query("SELECT count(*) FROM ApparatusRecord").rows().front().front().toInt();
    EXPECT_GE(rows, 3) << "and recorded";
    EXPECT_EQ(w->Core().Db()
                  .Query("SELECT count(*) FROM ApparatusRecord WHERE AActTemperature <> 27.5")
                  .rows()
                  .front()
                  .front()
                  .toInt(),
              0);
    (void)ids;
}

TEST_F(MainFixture, RepliesDriveLampsDisplaysAndChart)
{
    WriteIni("ApparatusAddress=1\r\nInterval_S=3\r\n");
    MakeDatabase({{1, "a"}, {2, "b"}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    w->Core().TimerA()->stop();

    Reply(BuildLiveReply(1, {25.3, 255.1, 300.0, 0}, 0x1F, 0x3F));
    EXPECT_EQ(w->LCDATP->Value(), "25.3");
    EXPECT_EQ(w->LCDBTP->Value(), "ERR");
    EXPECT_EQ(w->LCDCTP->Value(), "ERR");
    EXPECT_EQ(w->ATP->text(), "25.3");
    for (TLamp* l : {w->AShape, w->BShape, w->CShape, w->DShape, w->D1Shape, w->D3Shape, w->D6Shape})
        EXPECT_EQ(l->Color(), LampRed);
    EXPECT_EQ(w->D2Shape->Color(), LampGreen);
    EXPECT_EQ(w->GShape->text(), "开");
    EXPECT_EQ(w->D4Shape->text(), "自动");
    EXPECT_EQ(w->D5Shape->text(), "静音");
    EXPECT_EQ(w->ChartView->graph(0)->dataCount(), 1);
    EXPECT_EQ(w->ChartView->xAxis->range(), QCPRange(1.5, 1801.5));

    Reply(BuildLiveReply(2, {255.0, 1, 2, 3}, 0x00, 0x00));
    EXPECT_EQ(w->LCDATP->Value(), "255") << "another instrument is shown";
    EXPECT_EQ(w->D2Shape->Color(), LampRed);
    EXPECT_EQ(w->GShape->text(), "关");
    EXPECT_EQ(w->ChartView->graph(0)->dataCount(), 1) << "but not drawn";

    Reply(BuildBlackBoxReply(2, {1, 2, 3, 4}, {5, 6, 7, 8}));
    EXPECT_EQ(w->LCDATP->Value(), "255") << "a black-box reply changes nothing visible";
    Reply(BuildModelReply(2, 5));
    EXPECT_EQ(w->EditType->text(), "ZEVA5001-R");

    TFrame bad = BuildLiveReply(1, {99, 99, 99, 99}, 0, 0);
    bad.bytes[13] ^= 1;
    Reply(bad);
    EXPECT_EQ(w->LCDATP->Value(), "255");

    // The operator's view of the time axis.
    w->ChartView->xAxis->setRange(10, 1810);
    QTest::mouseClick(w->Button3, Qt::LeftButton);
    EXPECT_EQ(w->ChartView->xAxis->range(), QCPRange(-90, 1710));
    QTest::mouseClick(w->Button4, Qt::LeftButton);
    EXPECT_EQ(w->ChartView->xAxis->range(), QCPRange(10, 1810));
    // The two range fields typed, then the button: X for the temperature axis, Y for the time axis.
    auto temperatures = [&](const char* a, const char* b) {
        w->X1->setText(a);
        w->X2->setText(b);
        QTest::mouseClick(w->BX, Qt::LeftButton);
        return w->ChartView->yAxis->range();
    };
    auto times = [&](const char* a, const char* b) {
        w->Y1->setText(a);
        w->Y2->setText(b);
        QTest::mouseClick(w->BY, Qt::LeftButton);
        return w->ChartView->xAxis->range();
    };
    EXPECT_EQ(temperatures(" 0 ", "150"), QCPRange(0, 150));
    EXPECT_EQ(times("1800", "0"), QCPRange(0, 1800));
    EXPECT_EQ(temperatures("70", "70"), QCPRange(70, 71)) << "equal bounds: the chart refuses an empty range";
    EXPECT_EQ(times("5", "5"), QCPRange(5, 6));
    temperatures("0", "150");
    temperatures("", "150");
    ASSERT_TRUE(WaitUntil([&] { return !boxes->boxes.isEmpty(); }));
    EXPECT_EQ(boxes->boxes.back(), "ErrorBox: '' is not a valid integer value");
    EXPECT_EQ(w->ChartView->yAxis->range(), QCPRange(0, 150));
}

TEST_F(MainFixture, RecordingStoresTheAnsweringInstrumentsOwnReadings)
{
    // One instrument, cycle 2: the window is counter 1 of a 4-chunk cycle; every second window stores.
    WriteIni("ApparatusAddress=1\r\nRunTimer=2\r\n");
    auto ids = MakeDatabase({{1, "a"}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    w->Core().TimerA()->stop();

    Reply(BuildBlackBoxReply(1, {80.5, 81, 79.9, 0}, {90, 90, 90, 90})); // counter 0
    Reply(BuildLiveReply(9, {70, 70, 70, 70}, 0, 0)); // counter 1, toggle 0: no row
    Reply(BuildLiveReply(1, {25.3, 26, 24.8, 0}, 0, 0)); // counter 2
    V junk{0x01, 0x40, 0x00};
    pty->Write(junk); // wrong marker: counts nothing
    Pump(160);
    Reply(BuildLiveReply(1, {25.3, 26, 24.8, 0}, 0, 0)); // counter 3
    Reply(BuildLiveReply(1, {25.3, 26, 24.8, 0}, 0, 0)); // counter 0
    EXPECT_EQ(w->Core().Db().Query("SELECT count(*) FROM ApparatusRecord").rows().front().front().toInt(), 0);
    Reply(BuildLiveReply(1, {25.3, 26, 24.8, 0}, 0, 0)); // counter 1, toggle 1: stores
    TQueryResult r = w->Core().Db().Query("SELECT * FROM ApparatusRecord");
    ASSERT_EQ(r.RecordCount(), 1);
    EXPECT_EQ(r.FieldAsInteger("ApparatusID"), ids[0]);
    EXPECT_DOUBLE_EQ(r.FieldAsFloat("AActTemperature"), 25.3);
    EXPECT_DOUBLE_EQ(r.FieldAsFloat("CActTemperature"), 24.8);
    EXPECT_DOUBLE_EQ(r.FieldAsFloat("ABlackTemperature"), 80.5);
    EXPECT_DOUBLE_EQ(r.FieldAsFloat("CBlackTemperature"), 79.9);
    QDateTime stored = QDateTime::fromString(r.FieldAsString("InDateTime"), "yyyy-MM-dd HH:mm:ss");
    EXPECT_LE(std::abs(stored.secsTo(QDateTime::currentDateTime())), 60);
    EXPECT_EQ(w->Core().Recorder().RecordCounter, 2);
}

TEST(QtTexts, ChineseForAChineseOrAbsentLocaleOnly)
{
    auto okText = [] { return QCoreApplication::translate("QPlatformTheme", "OK"); };
    auto dropAll = [] {
        for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
    };
    for (const auto& [name, ok] : {std::pair{"zh_CN", "确定"}, std::pair{"C", "确定"}, std::pair{"zh_SG", "确定"},
                                   std::pair{"zh_HK", "確定"}}) {
        EXPECT_TRUE(InstallQtChineseTexts(QLocale(QString::fromLatin1(name)))) << name;
        EXPECT_EQ(okText(), QString::fromUtf8(ok)) << name;
        EXPECT_EQ(QLocale().name(), QLocale::system().name()) << "the default locale is left alone";
        dropAll();
    }
    EXPECT_FALSE(InstallQtChineseTexts(QLocale(QStringLiteral("en_US"))));
    EXPECT_EQ(okText(), "OK");
}
