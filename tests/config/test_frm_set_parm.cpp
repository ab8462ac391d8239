// The configuration window in-process against a test master on a pseudo-terminal: port takeover
// and hand-back, the read requests, replies shown and stored, every write frame, the history row,
// maintenance, timing and link settings, the key filter, and a port held elsewhere.
#include "ConfirmWrite.h"
#include "Frames.h"
#include "FrmApparatus.h"
#include "FrmSetParm.h"
#include "MainFixture.h"
#include "Reconnect.h"
#include "Statements.h"

#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <QRegularExpression>
#include <QTableWidget>

#include <grp.h>
#include <termios.h>
#include <unistd.h>

using namespace zeva;
using namespace zeva::test;

namespace {

using V = std::vector<uint8_t>;

V bytes(const TFrame& f)
{
    return {f.data(), f.data() + f.size};
}

// Answers each write confirmation as the operator's keyboard does (the next of `keys`, Alt+Y
// once they run out), keeping its warnings and its values' rows.
class TConfirmAnswer : public QObject {
public:
    TConfirmAnswer()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* q = qobject_cast<TFrmConfirmWrite*>(w);
                if (!q || !q->isVisible())
                    continue;
                warnings << q->Warnings->text();
                QStringList rows;
                for (int r = 0; r < q->Values->rowCount(); ++r)
                    rows << q->Values->item(r, 0)->text() + "|" + q->Values->item(r, 1)->text() + "|" +
                                q->Values->item(r, 2)->text() + "|" + q->Values->item(r, 3)->text();
                values << rows.join(';');
                QApplication::setActiveWindow(q);
                const QKeyCombination key = keys.isEmpty() ? QKeyCombination(Qt::AltModifier, Qt::Key_Y) : keys.takeFirst();
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : q, key.key(),
                                key.keyboardModifiers());
            }
        });
        m_timer.start(20);
    }
    QList<QKeyCombination> keys;
    QStringList warnings;
    QStringList values;

private:
    QTimer m_timer;
};

class ConfigFixture : public MainFixture {
protected:
    std::unique_ptr<TFrmMain> main;
    std::vector<qint64> ids;
    TConfirmAnswer confirm;

    // Instruments at 3 (selected first: the first enabled row of the copy) and 9, one disabled.
    void StartMain(const std::string& extra = "ApparatusAddress=3\r\n")
    {
        WriteIni(extra);
        ids = MakeDatabase({{3, "三号", true, "ZEVA5000-S"}, {9, "九号", true, "ZEVA5000-S"}, {5, "off", false}});
        main = Start();
        ASSERT_TRUE(main->StartedUp());
        main->Core().TimerA()->stop();
        pty->Read(100); // drop what the main window sent so far
    }
    std::unique_ptr<TFrmSetParm> Open()
    {
        auto w = std::make_unique<TFrmSetParm>(main->Core(), main.get());
        w->show();
        Pump(50);
        return w;
    }
    // The next frame the window writes, within `ms`.
    V Next(std::size_t n, int ms = 2500) { return pty->Read(ms, n); }
    TQueryResult Row(qint64 id)
    {
        TQueryResult r = main->Core().Db().Query("SELECT * FROM Apparatus WHERE ID = :id", {{":id", id}});
        r.First();
        return r;
    }
    int HistoryRows() { return main->Core().Db().Query("SELECT * FROM ApparatusHistory").RecordCount(); }
};

void press(QPushButton* b)
{
    QTest::mouseClick(b, Qt::LeftButton);
}

} // namespace

TEST_F(ConfigFixture, TakesThePortOverAsksOnceASecondAndHandsItBack)
{
    StartMain();
    main->Core().Db().Exec("UPDATE Apparatus SET T1 = 45, T4 = 100.5, DAtoneT = -1.5 WHERE ID = :id", {{":id", ids[0]}});
    main->Core().TimerA()->start(); // polling, as it is when the operator opens the window
    auto w = Open();
    EXPECT_TRUE(w->Exchange().CommB()->IsOpen());
    EXPECT_FALSE(main->Core().TimerA()->isActive()) << "the window stops the polling";
    EXPECT_FALSE(main->Core().ComM()->IsOpen());
    EXPECT_EQ(w->MAddress->currentText(), "3");
    EXPECT_EQ(w->MCapition->currentText(), "三号");
    EXPECT_EQ(main->Core().State().SelectedID, ids[0]);
    EXPECT_EQ(w->TSet[0]->text(), "45") << "the set boxes hold the row's values";
    EXPECT_EQ(w->TSet[3]->text(), "100.5");
    EXPECT_EQ(w->AtSet[3]->text(), "-1.5");
    EXPECT_EQ(w->TSet[1]->text(), "") << "nothing stored, nothing shown";
    EXPECT_EQ(w->LXTimeEdit->text(), "3");
    EXPECT_EQ(w->ComBate->currentText(), "9600");

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Next(4), (V{0x03, 0x3F, 0x11, 0xAD}));
    qint64 first = clock.elapsed();
    EXPECT_EQ(Next(4), (V{0x03, 0x3F, 0x11, 0xAD}));
    EXPECT_NEAR(double(clock.elapsed() - first), 1000.0, 500.0) << "a tick a second, not a run-away or a stopped timer";
    w->PageCtl->setCurrentWidget(w->Parm2);
    EXPECT_EQ(Next(4), (V{0x03, 0x3F, 0x12, 0xAC}));
    w->PageCtl->setCurrentWidget(w->ParmOther);
    EXPECT_EQ(Next(4), (V{0x03, 0x3F, 0x01, 0xBD})) << "the model query from the last tab";
    w->hide();
    EXPECT_TRUE(Next(4, 1300).empty()) << "no tab on view, nothing asked";

    w->show();
    w->close();
    EXPECT_FALSE(w->Exchange().CommB()->IsOpen());
    EXPECT_TRUE(main->Core().ComM()->IsOpen()) << "handed back";
    EXPECT_TRUE(main->Core().TimerA()->isActive());
    EXPECT_THROW(main->Core().Db().Query("SELECT * FROM TempApparatus"), EDatabaseError) << "the copy is dropped";
    main->Core().TimerA()->setInterval(100);
    main->Core().TimerA()->start();
    EXPECT_EQ(Next(4).size(), 4u) << "the main window polls again";
}

TEST_F(ConfigFixture, RepliesAreShownAndStoredInTheSelectedRow)
{
    StartMain();
    auto w = Open();
    w->Exchange().TimerB()->stop();
    auto reply = [&](const V& v) {
        pty->Write(v);
        Pump(160);
    };
    reply({0x01, 0x3F, 0x13, 0x0A, 0x1E, 0x85});
    EXPECT_EQ(w->JGGET->text(), "10");
    EXPECT_EQ(w->YXGet->text(), "30");
    EXPECT_EQ(Row(ids[0]).FieldAsInteger("TF"), 10) << "a reply from address 1 goes to the selected row";
    EXPECT_EQ(Row(ids[0]).FieldAsInteger("RUN"), 30);

    reply({0x01, 0x3F, 0x14, 0x03, 0x05, 0xA4});
    EXPECT_EQ(w->ADDGet->text(), "3");
    EXPECT_EQ(w->BateGet->text(), "9600");
    EXPECT_EQ(Row(ids[0]).FieldAsInteger("ApparatusBate"), 9600);
    reply(bytes(BuildLinkFrame(9, Cmd::ReadLink, 3, 7)));
    EXPECT_EQ(w->BateGet->text(), "0") << "code 7 reads as 0 baud";

    reply({0x01, 0x3F, 0x11, 0x00, 0xFA, 0x01, 0x04, 0x03, 0x20, 0x03, 0xE8, 0, 0, 0, 0, 0, 0, 0xA2});
    const char* want[7] = {"25", "26", "80", "100", "0", "0", "0"};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(w->TGet[i]->text(), want[i]);
    EXPECT_EQ(Row(ids[0]).FieldAsString("T2"), "26");

    reply(bytes(BuildCompensationFrame(1, Cmd::ReadCompensation, {1.5, 0, 0, 2})));
    EXPECT_EQ(w->AtGet[0]->text(), "1.5");
    EXPECT_DOUBLE_EQ(Row(ids[0]).FieldAsFloat("AAtoneT"), 1.5);

    reply({0x01, 0x3F, 0x01, 0x02, 0xBD});
    EXPECT_EQ(Row(ids[0]).FieldAsString("Implication"), "ZEVA5000带RS485通讯接口");
    EXPECT_EQ(main->Core().State().CurrentCapition, "ZEVA5000带RS485通讯接口");

    V bad = {0x01, 0x3F, 0x13, 0x0B, 0x1E, 0x85};
    reply(bad);
    EXPECT_EQ(w->JGGET->text(), "10") << "a bad checksum changes nothing";
    EXPECT_EQ(Row(ids[0]).FieldAsInteger("TF"), 10);
    EXPECT_EQ(Row(ids[1]).FieldAsString("TF"), "") << "the other instrument's row is untouched";
}

TEST_F(ConfigFixture, EveryButtonOfAGroupSendsTheWholeGroup)
{
    StartMain();
    auto w = Open();
    w->Exchange().TimerB()->stop();
    pty->Read(100);
    w->MAddress->setCurrentIndex(-1);
    // Address 1 for the frames of the byte strings.
    w->MAddress->addItem("1");
    w->MAddress->setCurrentIndex(w->MAddress->count() - 1);
    const char* t[7] = {"45", "55", "80", "100", "0", "0", "0"};
    for (int i = 0; i < 7; ++i)
        w->TSet[i]->setText(t[i]);
    const V thresholds{0x01, 0x3F, 0x21, 0x01, 0xC2, 0x02, 0x26, 0x03, 0x20, 0x03, 0xE8, 0, 0, 0, 0, 0, 0, 0xA6};
    for (int b : {2, 0, 6}) {
        press(w->ButT[b]);
        EXPECT_EQ(Next(18), thresholds) << "ButT" << b + 1;
    }
    for (int i = 0; i < 4; ++i)
        w->AtSet[i]->setText(i == 0 ? "25.55" : "0");
    press(w->ButPhase[3]);
    EXPECT_EQ(Next(12), bytes(BuildCompensationWrite(1, {25.5, 0, 0, 0})));
    w->JGSet->setText("10");
    w->YXSet->setText("30");
    press(w->ButYX);
    EXPECT_EQ(Next(6), (V{0x01, 0x3F, 0x23, 0x0A, 0x1E, 0x75}));
    press(w->ButJG);
    EXPECT_EQ(Next(6), (V{0x01, 0x3F, 0x23, 0x0A, 0x1E, 0x75}));
    w->ADDSet->setText("2");
    w->BateSet->setEditText("9600");
    press(w->ButAdd);
    EXPECT_EQ(Next(6), (V{0x01, 0x3F, 0x24, 0x02, 0x05, 0x95}));
    w->BateSet->setEditText("300");
    press(w->ButBate);
    EXPECT_EQ(Next(6)[4], 0x00);

    press(w->ButClear);
    EXPECT_EQ(Next(4), (V{0x01, 0x3F, 0x99, 0x27}));
    press(w->ButOut);
    EXPECT_EQ(Next(8), (V{0x01, 0x3F, 0xDD, 0x00, 0, 0, 0, 0xE3})) << "nothing chosen";
    const uint8_t kinds[7] = {0, 1, 2, 3, 4, 4, 4};
    const char* actions[4] = {"继电器吸合", "继电器放开", "手动", "自动"};
    const uint8_t actionBytes[4] = {0x00, 0xFF, 0x00, 0xFF};
    for (int k = 0; k < 7; ++k)
        for (int a = 0; a < 4; ++a) {
            w->OUTEdit->setCurrentIndex(k);
            w->OUTTypeEdit->setEditText(QString::fromUtf8(actions[a]));
            press(w->ButOut);
            EXPECT_EQ(Next(8), bytes(BuildForceOutput(1, kinds[k], actionBytes[a]))) << k << " " << a;
        }
    EXPECT_EQ(HistoryRows(), 8) << "one row per group write, none for the clear or the outputs";
    // Each of them an event in the journal, in order: 8 writes, a clear, 29 forced outputs.
    ASSERT_TRUE(WaitUntil([&] { return main->Core().RecordWriter()->Pending() == 0; }));
    TQueryResult j = main->Core().Db().Query(
        "SELECT Kind, count(*) AS n FROM EventJournal WHERE ApparatusAddress = 1 GROUP BY Kind ORDER BY Kind");
    QStringList journaled;
    for (j.First(); !j.Eof(); j.Next())
        journaled << (j.FieldAsString("Kind") + "=" + j.FieldAsString("n"));
    EXPECT_EQ(journaled.join(' '), "event.blackbox=1 event.force=29 event.write=8");
    EXPECT_EQ(main->Core().StoredUnacknowledged(), 0) << "events need no acknowledgement";
}

TEST_F(ConfigFixture, HistoryRowHoldsWhatTheWindowShowedWithNullForEmptyBoxes)
{
    StartMain();
    auto w = Open();
    w->Exchange().TimerB()->stop();
    const char* t[7] = {"45", "55", "80", "100", "0", "0", "25.55"};
    for (int i = 0; i < 7; ++i)
        w->TSet[i]->setText(t[i]);
    w->AtSet[3]->setText(""); // a box of another group left empty
    w->ADDSet->setText(" 300 ");
    press(w->ButT[0]);
    EXPECT_EQ(Next(18).size(), 18u);
    TQueryResult h = main->Core().Db().Query("SELECT * FROM ApparatusHistory");
    ASSERT_EQ(h.RecordCount(), 1) << "written although DTSet is empty";
    h.First();
    EXPECT_EQ(h.FieldAsString("ApparatusName"), "三号");
    EXPECT_EQ(h.FieldAsInteger("ApparatusAddress"), 300) << "as typed";
    EXPECT_EQ(h.FieldAsString("ApparatusType"), "ZEVA5000-S");
    EXPECT_DOUBLE_EQ(h.FieldAsFloat("T7"), 25.55);
    EXPECT_TRUE(h.Field("DAtoneT").isNull());
    EXPECT_TRUE(h.Field("TF").isNull());
    QDateTime at = QDateTime::fromString(h.FieldAsString("InDate"), "yyyy-MM-dd HH:mm:ss");
    EXPECT_LE(std::abs(at.secsTo(QDateTime::currentDateTime())), 60);

    w->TSet[1]->setText("abc");
    press(w->ButT[0]);
    ASSERT_TRUE(WaitUntil([&] { return !boxes->boxes.isEmpty(); }));
    EXPECT_EQ(boxes->boxes.back(), "ErrorBox: 'abc' is not a valid floating point value");
    w->JGSet->setText("1.5");
    press(w->ButJG);
    ASSERT_TRUE(WaitUntil([&] { return boxes->boxes.size() == 2; }));
    EXPECT_EQ(boxes->boxes.back(), "ErrorBox: '1.5' is not a valid integer value");
    EXPECT_TRUE(Next(4, 400).empty()) << "no frame";
    EXPECT_EQ(HistoryRows(), 1) << "and no row";
}

TEST_F(ConfigFixture, TimingAndLinkSettingsReachDataIniTheRowAndThePorts)
{
    StartMain();
    auto w = Open();
    w->Exchange().TimerB()->stop();
    int interval = main->Core().TimerA()->interval();
    w->LXTimeEdit->setText("5");
    w->RecTimeEdit->setText("30");
    press(w->ButSetT);
    EXPECT_NE(IniText().find("Interval_S=5\r\n"), std::string::npos);
    EXPECT_NE(IniText().find("RunTimer=30\r\n"), std::string::npos);
    EXPECT_EQ(main->Core().State().PollInterval, 5);
    EXPECT_EQ(main->Core().State().RecordCycle, 30);
    EXPECT_EQ(Row(ids[0]).FieldAsInteger("RunTime"), 5);
    EXPECT_EQ(Row(ids[0]).FieldAsInteger("RunFreq"), 30);
    EXPECT_EQ(main->Core().TimerA()->interval(), interval) << "the polling speed changes at the next start";

    w->ComPort->setEditText(" COM2 ");
    w->ComBate->setEditText("4800");
    press(w->ButCom);
    EXPECT_NE(IniText().find("Port=COM2\r\n"), std::string::npos);
    EXPECT_NE(IniText().find("Bate=4800\r\n"), std::string::npos);
    EXPECT_EQ(Row(ids[0]).FieldAsString("ComPort"), "COM2");
    EXPECT_EQ(Row(ids[0]).FieldAsInteger("ComBate"), 4800);
    ASSERT_TRUE(w->Exchange().CommB()->IsOpen()) << "reopened on its old port";
    termios t{};
    ASSERT_EQ(tcgetattr(pty->master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    w->close();
    ASSERT_TRUE(main->Core().ComM()->IsOpen());
    ASSERT_EQ(tcgetattr(pty->master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800)) << "the main window's port at the new rate";
    EXPECT_EQ(main->Core().ComM()->CommName(), pty->slaveName()) << "and its old name";
}

TEST_F(ConfigFixture, KeyFilterSeesTheOperatorsKeysInEveryFilteredBox)
{
    StartMain();
    auto w = Open();
    w->Exchange().TimerB()->stop();
    QApplication::setActiveWindow(w.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));

    std::vector<QWidget*> boxes;
    for (QLineEdit* e : w->TSet)
        boxes.push_back(e);
    for (QLineEdit* e : w->AtSet)
        boxes.push_back(e);
    for (QWidget* e : std::initializer_list<QWidget*>{w->JGSet, w->YXSet, w->ADDSet, w->BateSet, w->ComBate,
                                                      w->LXTimeEdit, w->RecTimeEdit})
        boxes.push_back(e);
    ASSERT_EQ(boxes.size(), 18u);
    auto text = [](QWidget* box) {
        auto* combo = qobject_cast<QComboBox*>(box);
        return combo ? combo->currentText() : static_cast<QLineEdit*>(box)->text();
    };
    for (QWidget* box : boxes) {
        // The box's own tab on view, the box emptied and focused as a click would.
        for (int tab = 0; tab < w->PageCtl->count(); ++tab)
            if (w->PageCtl->widget(tab)->isAncestorOf(box))
                w->PageCtl->setCurrentIndex(tab);
        if (auto* combo = qobject_cast<QComboBox*>(box))
            combo->lineEdit()->clear();
        else
            static_cast<QLineEdit*>(box)->clear();
        box->setFocus(Qt::MouseFocusReason);
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr) << box->objectName().toStdString();
        // Keys go where the operator's keyboard sends them: to the focus widget.
        QTest::keyClicks(focus, "9a-b2.5x");
        EXPECT_EQ(text(box), "92.5") << box->objectName().toStdString();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
        EXPECT_EQ(text(box), "92.") << box->objectName().toStdString();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
        // An X11 keyboard's Delete carries the character 0x7F, as its Tab carries 0x09.
        QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_Delete, QString(QChar(0x7F)),
                            Qt::NoModifier);
        EXPECT_EQ(text(box), "2.") << "Delete deletes: " << box->objectName().toStdString();
        // Text committed by an input method: only digits and the point stay.
        QInputMethodEvent composed;
        composed.setCommitString(QStringLiteral("７温3a."));
        QApplication::sendEvent(QApplication::focusWidget(), &composed);
        EXPECT_EQ(text(box), "3.2.") << "input method: " << box->objectName().toStdString();
        QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_Tab, QStringLiteral("\t"),
                            Qt::NoModifier);
        EXPECT_NE(QApplication::focusWidget(), focus) << "Tab moves the focus: " << box->objectName().toStdString();
    }
    // Escape types nothing: it reaches the dialog, which closes as from any other control.
    w->TSet[0]->setFocus();
    QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_Escape, QString(QChar(0x1B)),
                        Qt::NoModifier);
    EXPECT_TRUE(WaitUntil([&] { return !w->isVisible(); })) << "Escape closes the window";
    QChar tab('\t');
    EXPECT_FALSE(TFrmSetParm::T1EditSetKeyPress(tab)) << "a typed tab character is no digit";
    EXPECT_EQ(tab, QChar(0));
}

TEST_F(ConfigFixture, APortHeldElsewhereIsShownAndNothingIsSent)
{
    StartMain();
    TComm holder;
    holder.SetCommName(pty->slaveName());
    main->Core().ComM()->ClosePort();
    holder.OpenPort(); // another program has the port
    auto blocked = std::make_unique<TFrmSetParm>(main->Core(), main.get());
    ASSERT_TRUE(WaitUntil([&] { return !boxes->boxes.isEmpty(); }));
    EXPECT_EQ(boxes->boxes.back(), "ErrorBox: Error opening serial port");
    blocked->show();
    EXPECT_TRUE(blocked->isVisible()) << "the window opens all the same";
    EXPECT_FALSE(blocked->Exchange().CommB()->IsOpen());
    const uint8_t ask[] = {0x03, 0x3F, 0x11, 0xAD};
    EXPECT_FALSE(blocked->Exchange().CommB()->SendData(ask, 4)) << "a closed component queues nothing";
    EXPECT_TRUE(blocked->Exchange().ReconnectB()->Active()) << "tried again every 2 s";
    EXPECT_EQ(main->Core().Health().Link(), TLinkState::Disconnected) << "the main window shows the link down";
    int shown = boxes->boxes.size();
    blocked->close();
    EXPECT_FALSE(main->Core().ComM()->IsOpen()) << "the other program still holds the port";
    ASSERT_TRUE(WaitUntil([&] { return boxes->boxes.size() == shown + 1; })) << "and that is shown";
    EXPECT_EQ(boxes->boxes.back(), "ErrorBox: Error opening serial port");
    holder.ClosePort();
}

TEST_F(ConfigFixture, HighestTemperaturesComeFromTheSelectedInstrumentItself)
{
    StartMain();
    Reply(BuildBlackBoxReply(9, {0, 0, 0, 0}, {91, 92, 93, 94}));
    {
        auto w = Open();
        EXPECT_EQ(Row(ids[0]).FieldAsString("AHightT"), "") << "address 9's maxima are not address 3's";
        w->close();
    }
    main->Core().TimerA()->stop();
    Reply(BuildBlackBoxReply(3, {0, 0, 0, 0}, {61, 62, 63, 64.5}));
    auto w = Open();
    EXPECT_EQ(Row(ids[0]).FieldAsString("AHightT"), "61");
    EXPECT_DOUBLE_EQ(Row(ids[0]).FieldAsFloat("DHightT"), 64.5);
    EXPECT_EQ(Row(ids[1]).FieldAsString("AHightT"), "");
}

TEST_F(ConfigFixture, ChoosingARowKeepsItWhenAnotherSharesItsModel)
{
    StartMain();
    auto w = Open();
    w->Exchange().TimerB()->stop();
    w->MCapition->setCurrentIndex(1);
    emit w->MCapition->activated(1);
    EXPECT_EQ(w->MAddress->currentText(), "9");
    EXPECT_EQ(main->Core().State().SelectedAddress, 9);
    EXPECT_EQ(main->Core().State().SelectedID, ids[1]);
    w->MXL->setCurrentIndex(1);
    emit w->MXL->activated(1);
    EXPECT_EQ(main->Core().State().SelectedID, ids[1]) << "the same model as the first row, the chosen row stays";
}

TEST_F(ConfigFixture, ThreeUnansweredReadsMarkTheValuesAndAHangUpIsTriedAgain)
{
    StartMain();
    auto w = Open();
    ASSERT_TRUE(w->Exchange().CommB()->IsOpen());
    EXPECT_FALSE(w->NoReply->isVisible());
    // Reads once a second: the first three go unanswered (the fourth read says so).
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(Next(4).size(), 4u) << i;
    EXPECT_EQ(w->Exchange().UnansweredReads(), 3);
    EXPECT_TRUE(w->NoReply->isVisible());
    EXPECT_EQ(w->NoReply->text(), "无应答");
    // A reply clears the mark at once.
    TFrame reply = BuildThresholdFrame(3, Cmd::ReadThresholds, {30, 40, 80, 100, 0, 0, 0});
    pty->Write(bytes(reply));
    ASSERT_TRUE(WaitUntil([&] { return !w->NoReply->isVisible(); }, 1000));
    EXPECT_EQ(w->Exchange().UnansweredReads(), 0);

    // The adapter pulled while the window holds the port: CommB is tried again every 2 s.
    pty->CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return w->Exchange().ReconnectB()->Active(); }, 2000));
    EXPECT_FALSE(w->Exchange().CommB()->IsOpen());
    w->close();
    EXPECT_FALSE(w->Exchange().ReconnectB()->Active()) << "closing the window ends the attempts";
    EXPECT_TRUE(main->Core().Reconnect()->Active()) << "the main window's port is tried in its turn";
}

TEST_F(ConfigFixture, AWriteIsCheckedThenConfirmedAndKeptWithItsValuesBeforeAndAfter)
{
    StartMain();
    Reply(BuildLiveReply(3, {60, 85.2, 70, 0}, 0, 0)); // phase B is the hottest; D reports nothing
    auto w = Open();
    w->Exchange().TimerB()->stop();
    pty->Read(100);
    const char* t[7] = {"50", "60", "70", "80", "0", "0", "0"};
    for (int i = 0; i < 7; ++i)
        w->TSet[i]->setText(t[i]);
    for (QLineEdit* e : w->AtSet)
        e->setText("0");
    w->YXSet->setText("30");
    w->BateSet->setEditText("9600");
    // What the instrument cannot hold is refused by name and range before anything is asked or sent.
    struct {
        QWidget* box;
        const char* text;
        QPushButton* button;
        const char* said;
    } refused[] = {
        {w->TSet[0], "256", w->ButT[6], "T1 关冷却风机温度 256 超出范围 0～255 °C"},
        {w->AtSet[2], "6553.6", w->ButPhase[0], "C相补偿温度 6553.6 超出范围 0～6553.5 °C"},
        {w->JGSet, "300", w->ButYX, "风机运行时间间隔 300 超出范围 0～255"},
        {w->BateSet, "1000", w->ButAdd, "波特率 1000 不是仪表能用的波特率"},
        {w->ADDSet, "256", w->ButBate, "仪表地址 256 超出范围 0～255"},
    };
    for (auto& r : refused) {
        if (auto* combo = qobject_cast<QComboBox*>(r.box))
            combo->setEditText(r.text);
        else
            static_cast<QLineEdit*>(r.box)->setText(r.text);
        const int shown = boxes->boxes.size();
        press(r.button);
        ASSERT_TRUE(WaitUntil([&] { return boxes->boxes.size() == shown + 1; })) << r.said;
        EXPECT_TRUE(boxes->boxes.back().contains(QString::fromUtf8(r.said))) << boxes->boxes.back().toStdString();
    }
    // Enter on a selector presses no button (the dialog's default would be the first write button).
    QApplication::setActiveWindow(w.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    w->MAddress->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), w->MAddress);
    const int said = boxes->boxes.size();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    Pump(100);
    EXPECT_EQ(boxes->boxes.size(), said) << "no write started";
    EXPECT_TRUE(Next(4, 400).empty()) << "nothing sent";
    EXPECT_TRUE(confirm.values.isEmpty()) << "nothing asked";
    w->TSet[0]->setText("65");
    w->ADDSet->setText("9"); // instrument 9's address
    w->BateSet->setEditText("4800");
    main->Core().Db().Exec("UPDATE Apparatus SET ApparatusBate = 9600 WHERE ID = :id", {{":id", ids[0]}});

    // Enter and Escape cancel; the question names the trip that the write would cause at once.
    confirm.keys = {QKeyCombination(Qt::Key_Return), QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::Key_Escape)};
    press(w->ButT[3]);
    press(w->ButT[0]);
    press(w->ButAdd);
    EXPECT_TRUE(Next(4, 400).empty()) << "cancelled: nothing sent";
    EXPECT_EQ(HistoryRows(), 0);
    ASSERT_EQ(confirm.warnings.size(), 3);
    EXPECT_TRUE(confirm.warnings[0].contains("T1 关冷却风机温度（65.0）不低于 T2 开冷却风机温度（60.0）"));
    EXPECT_TRUE(confirm.warnings[0].contains(QRegularExpression("T4 超温跳闸温度 80.0 不高于 B相当前温度 85.2 °C（\\d+ 秒前读到）："
                                                                "写入后将立即跳闸")))
        << confirm.warnings[0].toStdString();
    EXPECT_TRUE(confirm.warnings[2].contains("地址 9 已由登记表中启用的仪表“九号”使用"));
    EXPECT_TRUE(confirm.warnings[2].contains("波特率 4800 与登记表中该仪表的 9600 不同"));

    // Confirmed (Alt+Y): the values before are the instrument's last report, changed ones marked.
    pty->Write(bytes(BuildThresholdFrame(3, Cmd::ReadThresholds, {45, 55, 80, 100, 0, 0, 0})));
    ASSERT_TRUE(WaitUntil([&] { return w->TGet[3]->text() == "100"; }));
    w->TSet[0]->setText("50");
    w->TSet[3]->setText("120.55");
    press(w->ButT[0]);
    EXPECT_EQ(Next(18), bytes(BuildThresholdWrite(3, {50, 60, 70, 120.5, 0, 0, 0})));
    EXPECT_TRUE(confirm.values.back().startsWith("T1 关冷却风机温度|45.0|50.0|●;T2 开冷却风机温度|55.0|60.0|●;"));
    EXPECT_TRUE(confirm.values.back().contains(";T4 超温跳闸温度|100.0|120.5（输入 120.55）|●;T5|0.0|0.0|;"));
    const QString user = OperatingSystemUser();
    TQueryResult h = main->Core().Db().Query("SELECT * FROM ApparatusHistory");
    ASSERT_EQ(h.RecordCount(), 1);
    EXPECT_EQ(h.FieldAsString("Operator"), user);
    EXPECT_DOUBLE_EQ(h.FieldAsFloat("T4"), 120.55) << "stored as typed";

    // The trip relay forced in is said as what it does; a cleared black box is journalled too.
    confirm.keys = {QKeyCombination(Qt::Key_Escape)};
    w->OUTEdit->setCurrentIndex(2);
    w->OUTTypeEdit->setEditText("继电器吸合");
    press(w->ButOut);
    EXPECT_TRUE(confirm.warnings.back().contains("超温跳闸继电器将被强制吸合：断路器断开，变压器立即停电"));
    press(w->ButClear);
    EXPECT_EQ(Next(4), bytes(BuildBlackBoxClear(3)));
    EXPECT_TRUE(Next(4, 400).empty()) << "the forced output was cancelled";
    ASSERT_TRUE(WaitUntil([&] { return main->Core().RecordWriter()->Pending() == 0; }));
    TQueryResult j = main->Core().Db().Query("SELECT Text FROM EventJournal WHERE Kind LIKE 'event.%' AND Kind NOT IN ('event.fan', 'event.start') ORDER BY ID");
    QStringList texts;
    for (j.First(); !j.Eof(); j.Next())
        texts << j.FieldAsString("Text");
    EXPECT_EQ(texts.join('\n').toStdString(), QStringList({"参数写入：温度参数 T1–T7：T1 关冷却风机温度 45.0→50.0，T2 开冷却风机温度 55.0→60.0，T3 超温报警温度 80.0→70.0，"
                                  "T4 超温跳闸温度 100.0→120.5（输入 120.55），"
                                  "T5 0.0→0.0，T6 0.0→0.0，T7 0.0→0.0；操作员：" + user,
                                  "清除黑匣子：A相历史最高温度 未读→清零，B相历史最高温度 未读→清零，C相历史最高温度 "
                                  "未读→清零，D相历史最高温度 未读→清零；操作员：" + user}).join('\n').toStdString());
}

TEST_F(ConfigFixture, OnlyTheWriteGroupMayChangeInstrumentsOnceItExists)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the test creates a throwaway group, which needs root";
    if (::getgrnam("zeva-engineer"))
        GTEST_SKIP() << "this machine has a zeva-engineer group, which would rule instead of the test's";
    const std::string group = "zeva-t" + std::to_string(::getpid());
    StartMain("ApparatusAddress=3\r\n[Security]\r\nWriteGroup=" + group + "\r\n");
    auto w = Open();
    EXPECT_TRUE(w->ButT[0]->isEnabled()) << "no such group: everyone may";
    EXPECT_TRUE(w->RightsLine->isVisible());
    EXPECT_EQ(w->RightsLine->text(), QString::fromStdString("任何用户均可写入参数：未设置 " + group + " 组"));
    w->close();

    ASSERT_EQ(std::system(("groupadd " + group).c_str()), 0);
    struct Drop {
        std::string g;
        ~Drop() { std::system(("groupdel " + g).c_str()); }
    } drop{group};
    w = Open();
    w->Exchange().TimerB()->stop();
    for (QPushButton* b : {w->ButT[0], w->ButPhase[3], w->ButJG, w->ButAdd, w->ButClear, w->ButOut}) {
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
        EXPECT_TRUE(b->toolTip().contains(QString::fromStdString(group)));
    }
    EXPECT_TRUE(w->ButSetT->isEnabled()) << "the PC's own settings stay open";
    EXPECT_FALSE(w->RightsLine->isVisible());
    pty->Read(100);
    EXPECT_THROW(w->Exchange().Write(TWriteGroup::FanTiming, 3, {10, 30}, {}, {}), std::runtime_error);
    EXPECT_TRUE(Next(6, 400).empty()) << "the exchange refuses too";
    {
        TFrmApparatus list(main->Core().Db(), 1, main.get(), main->Core().WriteRights());
        EXPECT_FALSE(list.Button2->isEnabled());
    }
    w->close();

    ASSERT_EQ(std::system(("gpasswd -a " + OperatingSystemUser().toStdString() + " " + group + " >/dev/null").c_str()), 0);
    w = Open();
    EXPECT_TRUE(w->ButT[0]->isEnabled()) << "a member may";
    TFrmApparatus history(main->Core().Db(), 2, main.get(), main->Core().WriteRights());
    EXPECT_TRUE(history.Button2->isEnabled());
}
