// The alarm journal under the running main window: raised and cleared by replies, stored before
// the banner shows, acknowledged from the journal window, kept across a restart without doubles.
#include "Alarms.h"
#include "Windows.h"
#include "FrmJournal.h"
#include "MainFixture.h"
#include "Statements.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>

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
    std::string Journal()
    {
        TQueryResult r = w->Core().Db().Query(
            "SELECT ApparatusAddress, Kind, ClearedAt IS NOT NULL AS cleared, AckedBy FROM EventJournal ORDER BY ID");
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
    Live(3, {40, 40, 40, 40}, 0, Healthy);
    EXPECT_EQ(Journal(), "") << "all well";

    // Over T3: the phase lamp and the alarm output go red.
    Live(3, {85, 40, 40, 40}, PhaseBit::A, OutputBit::FanAuto);
    EXPECT_EQ(Journal(), "3 alarm.phaseA\n3 alarm.overtemp\n");
    EXPECT_TRUE(w->AlarmBanner->isVisible());
    EXPECT_EQ(w->AlarmBanner->text(), "2 条未确认报警");
    EXPECT_EQ(w->AlarmBanner->focusPolicy(), Qt::NoFocus);
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
    ASSERT_EQ(journal->Model()->rowCount(), 2);
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
    EXPECT_EQ(w->AlarmBanner->text(), "1 条未确认报警");
    QTest::mouseClick(journal->ButAckAll, Qt::LeftButton);
    EXPECT_EQ(w->Core().StoredUnacknowledged(), 0);
    EXPECT_FALSE(w->AlarmBanner->isVisible());
    EXPECT_EQ(Journal(), "3 alarm.phaseA cleared acked\n3 alarm.overtemp cleared acked\n");

    // A door that opens while the window is open: it reads its rows again.
    Live(3, {40, 40, 40, 40}, PhaseBit::Door, Healthy);
    EXPECT_EQ(journal->Model()->rowCount(), 3);
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
    ASSERT_TRUE(WaitUntil([&] { return w->AlarmBanner->text() == "1 条未确认报警"; }, 3000))
        << w->AlarmBanner->text().toStdString();
    EXPECT_EQ(Journal(), "3 alarm.door\n");
}
