// The alarm journal under the running main window: raised and cleared by replies, stored before
// the banner shows, acknowledged from the journal window, kept across a restart without doubles.
#include "Alarms.h"
#include "Windows.h"
#include "FrmJournal.h"
#include "MainFixture.h"
#include "Colors.h"
#include "Statements.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTimer>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <qcustomplot.h>

using namespace zeva;
using namespace zeva::test;

namespace {

constexpr uint8_t Healthy = OutputBit::Alarm | OutputBit::FanAuto;

class JournalFixture : public MainFixture {
protected:
    std::unique_ptr<TFrmMain> w;
    void StartOn(std::vector<TInstrument> instruments)
    {
        WriteIni("ApparatusAddress=3\r\n");
        if (!QFile::exists(TDatabase::FileFor(dir.path())))
            MakeDatabase(instruments);
        w = Start();
        ASSERT_TRUE(w->StartedUp());
        WireWindows(*w);
        w->Core().TimerA()->stop(); // the replies come from the test
    }
    void Live(uint8_t address, TPhaseTemps temps, uint8_t phase, uint8_t output)
    {
        Reply(BuildLiveReply(address, temps, phase, output));
        WaitUntil([&] { return w->Core().RecordWriter()->Pending() == 0; });
        Pump(30); // the writer's report reaches the window
    }
    // Without the start and the fan's state each run journals (the reports' business).
    std::string Journal()
    {
        TQueryResult r = w->Core().Db().Query("SELECT ApparatusAddress, Kind, ClearedAt IS NOT NULL AS cleared, AckedBy "
                                              "FROM EventJournal WHERE Text NOT LIKE '%（启动时）' AND Kind <> 'event.start' "
                                              "ORDER BY ID");
        std::string out;
        for (r.First(); !r.Eof(); r.Next())
            out += r.FieldAsString("ApparatusAddress").toStdString() + " " + r.FieldAsString("Kind").toStdString() +
                   (r.FieldAsInteger("cleared") ? " cleared" : "") +
                   (r.FieldAsString("AckedBy").isEmpty() ? "" : " acked") + "\n";
        return out;
    }
};

} // namespace

TEST_F(JournalFixture, AnAlarmIsStoredThenShownClearedAndAcknowledgedByKeys)
{
    StartOn({{3, "三号"}});
    EXPECT_FALSE(w->AlarmBanner->isVisible());
    const int bannerTop = w->AlarmBanner->geometry().top(), chartTop = w->ChartView->mapTo(w.get(), QPoint()).y();
    Live(3, {40, 40, 40, 40}, 0, Healthy);
    EXPECT_EQ(Journal(), "") << "all well";

    // Over T3: the phase lamp and the alarm output go red.
    Live(3, {85, 40, 40, 40}, PhaseBit::A, OutputBit::FanAuto);
    EXPECT_EQ(Journal(), "3 alarm.phaseA\n3 alarm.overtemp\n");
    EXPECT_TRUE(w->AlarmBanner->isVisible());
    EXPECT_EQ(w->AlarmBanner->text(), "【高】仪表 3（三号）：超温报警输出 ｜ 2 条未确认报警，2 条未消除")
        << "the most urgent, then the newest";
    EXPECT_EQ(w->AlarmBanner->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(w->AlarmBanner->geometry().top(), bannerTop);
    EXPECT_EQ(w->ChartView->mapTo(w.get(), QPoint()).y(), chartTop) << "nothing moves when the banner comes";
    Live(3, {86, 40, 40, 40}, PhaseBit::A, OutputBit::FanAuto);
    EXPECT_EQ(Journal(), "3 alarm.phaseA\n3 alarm.overtemp\n") << "nothing twice";

    // Back under: cleared, still to acknowledge.
    Live(3, {40, 40, 40, 40}, 0, Healthy);
    EXPECT_EQ(Journal(), "3 alarm.phaseA cleared\n3 alarm.overtemp cleared\n");
    EXPECT_EQ(w->Core().StoredUnacknowledged(), 2);

    // The journal window, not modal: the first row selected and acknowledged with Alt+K.
    QTest::mouseClick(w->ButAlarms, Qt::LeftButton);
    auto* journal = w->findChild<TFrmJournal*>("FrmJournal");
    ASSERT_NE(journal, nullptr);
    EXPECT_FALSE(journal->isModal());
    ASSERT_EQ(journal->Model()->rowCount(), 4) << "two alarms, the start and the fan at the start";
    QApplication::setActiveWindow(journal);
    ASSERT_TRUE(QTest::qWaitForWindowActive(journal));
    journal->Grid->setFocus();
    Pump(20);
    journal->Grid->selectRow(0);
    ASSERT_EQ(QApplication::focusWidget(), journal->Grid);
    ASSERT_EQ(journal->Grid->selectionModel()->selectedRows().size(), 1);
    // Tab from the grid to 确认 and Space, as the keyboard does it.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), journal->ButAck);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(w->Core().StoredUnacknowledged(), 1);
    EXPECT_EQ(w->AlarmBanner->text(), "【高】仪表 3（三号）：A相状态报警 ｜ 1 条未确认报警");
    QTest::mouseClick(journal->ButAckAll, Qt::LeftButton);
    EXPECT_EQ(w->Core().StoredUnacknowledged(), 0);
    EXPECT_FALSE(w->AlarmBanner->isVisible());
    EXPECT_EQ(Journal(), "3 alarm.phaseA cleared acked\n3 alarm.overtemp cleared acked\n");

    // A door that opens while the window is open: it reads its rows again.
    Live(3, {40, 40, 40, 40}, PhaseBit::Door, Healthy);
    EXPECT_EQ(journal->Model()->rowCount(), 5);
    EXPECT_EQ(journal->Model()->data(journal->Model()->index(0, 2), Qt::DisplayRole).toString(), "柜门打开")
        << "the active alarm first";
    journal->close();
}

TEST_F(JournalFixture, AnAlarmPresentAtStartIsRaisedOnceAcrossARestart)
{
    StartOn({{3, "三号"}});
    Live(3, {40, 40, 40, 40}, PhaseBit::Door, Healthy);
    EXPECT_EQ(Journal(), "3 alarm.door\n");
    w->close();
    w.reset();

    // Started again with the door still open: not raised again; then it closes: cleared.
    StartOn({});
    Live(3, {40, 40, 40, 40}, PhaseBit::Door, Healthy);
    EXPECT_EQ(Journal(), "3 alarm.door\n");
    Live(3, {40, 40, 40, 40}, 0, Healthy);
    EXPECT_EQ(Journal(), "3 alarm.door cleared\n");
    EXPECT_EQ(w->Core().StoredUnacknowledged(), 1) << "still to acknowledge after the restart";
}

TEST_F(JournalFixture, AnAlarmWhileTheDatabaseIsLockedIsShownAndStoredOnceItTakesRowsAgain)
{
    StartOn({{3, "三号"}});
    Live(3, {40, 40, 40, 40}, 0, Healthy);
    {
        TDbLock lock(TDatabase::FileFor(dir.path()).toStdString(), 8);
        ASSERT_TRUE(lock.Held());
        Reply(BuildLiveReply(3, {40, 40, 40, 40}, PhaseBit::Door, Healthy));
        // Once the writer has waited its patience, the banner counts the alarm that waits.
        ASSERT_TRUE(WaitUntil([&] { return w->AlarmBanner->isVisible(); }, 7000));
        EXPECT_EQ(w->AlarmBanner->text(), "1 条未确认报警（其中 1 条尚未存入数据库）");
        lock.Wait();
    }
    ASSERT_TRUE(WaitUntil([&] { return w->AlarmBanner->text() == "【中】仪表 3（三号）：柜门打开 ｜ 1 条未确认报警，1 条未消除"; }, 3000))
        << w->AlarmBanner->text().toStdString();
    EXPECT_EQ(Journal(), "3 alarm.door\n");
}

TEST_F(JournalFixture, MuteIsNotAcknowledgementShelvedAlarmsLeaveTheCountsAndReturnAndTheCommentIsKept)
{
    StartOn({{3, "三号"}, {4, "四号"}});
    Live(3, {40, 40, 40, 40}, 0, Healthy);
    Live(4, {40, 40, 40, 40}, 0, Healthy);
    // A trip on 3 (紧急) and an open door on 4 (中): the banner names the trip, the rows take colours.
    Live(3, {40, 40, 40, 40}, 0, OutputBit::Alarm | OutputBit::FanAuto | OutputBit::Trip);
    Live(4, {40, 40, 40, 40}, PhaseBit::Door, Healthy);
    EXPECT_EQ(w->AlarmBanner->text(), "【紧急】仪表 3（三号）：超温跳闸输出 ｜ 2 条未确认报警，2 条未消除");
    w->HealthTimerTimer();
    EXPECT_EQ(w->Overview->item(0, 1)->background().color(), PriorityColor(0));
    EXPECT_EQ(w->Overview->item(1, 1)->background().color(), PriorityColor(2));

    // Muted: no repeated beep, still unacknowledged; a new urgent alarm beeps again.
    EXPECT_TRUE(w->Core().BeepDue());
    ASSERT_TRUE(w->MuteButton->isEnabled());
    QApplication::setActiveWindow(w.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_M, Qt::AltModifier);
    ASSERT_TRUE(WaitUntil([&] { return !w->Core().BeepDue(); }, 2000)) << "a mnemonic clicks after a moment";
    EXPECT_EQ(w->Core().StoredUnacknowledged(), 2);
    Live(4, {40, 40, 40, 40}, PhaseBit::Door, OutputBit::FanAuto | OutputBit::Fault);
    EXPECT_TRUE(w->Core().BeepDue()) << "the fault came after the mute";

    // The journal opens from the banner; the door row is shelved through the dialog, as typed.
    QTest::mouseClick(w->AlarmBanner, Qt::LeftButton);
    auto* journal = w->findChild<TFrmJournal*>("FrmJournal");
    ASSERT_NE(journal, nullptr);
    ASSERT_TRUE(journal->isVisible());
    const auto rowOf = [&](const QString& text) {
        for (int r = 0; r < journal->Model()->rowCount(); ++r)
            if (journal->Model()->data(journal->Model()->index(r, 2), Qt::DisplayRole).toString() == text)
                return r;
        return -1;
    };
    EXPECT_EQ(journal->Model()->data(journal->Model()->index(0, 7), Qt::DisplayRole).toString(), "紧急") << "first";
    journal->Grid->selectRow(rowOf("柜门打开"));
    QTimer::singleShot(0, [] {
        QWidget* ask = QApplication::activeModalWidget();
        ASSERT_NE(ask, nullptr);
        auto* reason = ask->findChild<QLineEdit*>("ShelveReason");
        QTest::keyClick(reason, Qt::Key_Return);
        ASSERT_TRUE(ask->isVisible()) << "no reason, no shelving";
        QTest::keyClicks(reason, "fan repair");
        QTest::keyClick(reason, Qt::Key_Return);
    });
    journal->ShelveButtonClick();
    EXPECT_EQ(w->Core().StoredUnacknowledged(), 3) << "trip, over-temperature and fault; the door is shelved";
    EXPECT_EQ(w->AlarmBanner->text(), "【紧急】仪表 4（四号）：故障输出 ｜ 3 条未确认报警，3 条未消除");
    EXPECT_EQ(w->Core().Db().Query("SELECT ShelveReason FROM EventJournal WHERE Kind = 'alarm.door'").rows().front().front(),
              "fan repair");

    // Acknowledged with a comment typed into the field: kept with both rows, the field emptied.
    QTest::keyClicks(journal->AckComment, "on site");
    QTest::mouseClick(journal->ButAckAll, Qt::LeftButton);
    EXPECT_TRUE(journal->AckComment->text().isEmpty());
    EXPECT_EQ(w->Core().Db().Query("SELECT count(*) FROM EventJournal WHERE AckComment = 'on site'").rows().front().front(), 4)
        << "全部确认 takes the shelved door too";
    EXPECT_FALSE(w->Core().BeepDue());

    // Closed, the door is cleared and acknowledged: not shelvable. Opened again while its shelf
    // lasts: shelved with it, not alerted. Shelved for a second: back unacknowledged and alerted.
    const auto one = [&](const char* sql) { return w->Core().Db().Query(sql).rows().front().front().toLongLong(); };
    Live(4, {40, 40, 40, 40}, 0, OutputBit::FanAuto | OutputBit::Fault);
    ASSERT_EQ(w->Core().Shelve({one("SELECT ID FROM EventJournal WHERE Kind = 'alarm.door'")},
                               QDateTime::currentDateTime().addSecs(1), "test", "短"), 0);
    const int beeps = w->BeepCount();
    Live(4, {40, 40, 40, 40}, PhaseBit::Door, OutputBit::FanAuto | OutputBit::Fault);
    EXPECT_EQ(w->Core().StoredUnacknowledged(), 0);
    EXPECT_EQ(w->BeepCount(), beeps);
    const qint64 again = one("SELECT max(ID) FROM EventJournal WHERE Kind = 'alarm.door'");
    w->Core().Acknowledge({again}, "alice", "latch broken");
    ASSERT_EQ(w->Core().Shelve({again}, QDateTime::currentDateTime().addSecs(1), "test", "短"), 1);
    // The over-temperature of 4, cleared and unacknowledged, shelved too: its shelf just ends.
    Live(4, {40, 40, 40, 40}, PhaseBit::Door, OutputBit::Alarm | OutputBit::FanAuto | OutputBit::Fault);
    w->Core().Acknowledge({}, "bob");
    Live(4, {40, 40, 40, 40}, PhaseBit::Door, OutputBit::FanAuto | OutputBit::Fault);
    Live(4, {40, 40, 40, 40}, PhaseBit::Door, OutputBit::Alarm | OutputBit::FanAuto | OutputBit::Fault);
    ASSERT_EQ(w->Core().Shelve({one("SELECT max(ID) FROM EventJournal WHERE Kind = 'alarm.overtemp'")},
                               QDateTime::currentDateTime().addSecs(1), "test", "短"), 1);
    EXPECT_EQ(w->Core().StoredUnacknowledged(), 0);
    const int beepsBefore = w->BeepCount();
    QTest::qWait(1100);
    w->Core().ReturnShelved();
    Pump(50);
    EXPECT_EQ(w->Core().StoredUnacknowledged(), 2) << "the door back, the cleared over-temperature counted again";
    EXPECT_EQ(w->BeepCount(), beepsBefore + 1) << "only the door is alerted";
    EXPECT_EQ(one("SELECT count(*) FROM EventJournal WHERE Kind = 'event.shelve' AND Text LIKE "
                  "'%到期返回：柜门打开（原确认：alice %latch broken）'"), 1)
        << "the undone acknowledgement is kept in the journal";

    // The port gone: the overview's 通讯 says so for every row.
    w->Core().SetLinkUp(false);
    w->HealthTimerTimer();
    EXPECT_EQ(w->Overview->item(0, 7)->text(), "串口断开");
    journal->close();
}
