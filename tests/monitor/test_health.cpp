// Link and instrument health: the counting rules, the window's table, the stale look, a hang-up of
// the port, and the chart that follows its newest point.
#include "ChartTools.h"
#include "Frames.h"
#include "Health.h"
#include "Lamp.h"
#include "MarkStrip.h"
#include "LcdDisplay.h"
#include "MainFixture.h"
#include "Reconnect.h"

#include <QApplication>
#include <QCheckBox>
#include <QWheelEvent>
#include <QLabel>
#include <QTableWidget>
#include <QTest>

#include <set>
#include <qcustomplot.h>

using namespace zeva;
using namespace zeva::test;

namespace {

using S = TInstrumentState;

// Sends one polling pass over `addresses` (live and black box each); `answers` answer every request.
void pass(THealth& h, const std::vector<uint8_t>& addresses, const std::set<uint8_t>& answers)
{
    bool first = true;
    for (uint8_t a : addresses)
        for (int kind = 0; kind < 2; ++kind) {
            h.RequestSent(a, first);
            first = false;
            if (answers.count(a))
                h.ReplyAccepted(a, QDateTime::currentMSecsSinceEpoch());
        }
}

} // namespace

TEST(Health, TimeoutAfterThreeUnansweredRequestsInterruptedAfterThreeWholePasses)
{
    THealth h;
    QStringList changes;
    h.SetReport([&](const QString& c) { changes << c; });
    h.SetPolled({3, 7}, {"三号", "七号"});
    pass(h, {3, 7}, {3, 7});
    EXPECT_EQ(h.State(7), S::Normal);

    // 7 goes silent: request 1 and 2 of pass 2, request 1 of pass 3 go unanswered; the third is
    // known unanswered when the next request goes out.
    pass(h, {3, 7}, {3});
    EXPECT_EQ(h.State(7), S::Normal) << "two unanswered";
    EXPECT_EQ(h.Of(7).unanswered, 1u) << "the last one is still due";
    auto answered3 = [&](bool first) {
        h.RequestSent(3, first);
        h.ReplyAccepted(3, QDateTime::currentMSecsSinceEpoch());
    };
    answered3(true); // pass 3
    EXPECT_EQ(h.Of(7).unanswered, 2u);
    answered3(false);
    h.RequestSent(7, false);
    EXPECT_EQ(h.State(7), S::Normal);
    h.RequestSent(7, false); // the third unanswered request is known now
    EXPECT_EQ(h.State(7), S::Timeout);
    EXPECT_EQ(h.State(3), S::Normal);
    answered3(true); // pass 4: passes 2 and 3 wholly past without a reply of 7
    answered3(false);
    h.RequestSent(7, false);
    h.RequestSent(7, false);
    EXPECT_EQ(h.State(7), S::Timeout);
    h.RequestSent(3, true); // pass 5: the third whole pass without one
    EXPECT_EQ(h.State(7), S::Interrupted);
    EXPECT_EQ(h.Link(), TLinkState::Connected) << "3 still answers";

    h.ReplyAccepted(7, QDateTime::currentMSecsSinceEpoch());
    EXPECT_EQ(h.State(7), S::Normal) << "the next accepted reply";
    EXPECT_EQ(changes, QStringList({"仪表 7（七号）：正常 → 超时", "仪表 7（七号）：超时 → 中断",
                                    "仪表 7（七号）：中断 → 正常"}));
    EXPECT_EQ(h.Of(7).sent, 8u);
    EXPECT_EQ(h.Of(7).accepted, 3u);
}

TEST(Health, TheLinkIsSilentWhenNobodyAnswersForThreePassesAndDownOnAHangup)
{
    THealth h;
    h.SetPolled({1});
    pass(h, {1}, {1});
    for (int i = 0; i < 3; ++i)
        pass(h, {1}, {});
    EXPECT_EQ(h.Link(), TLinkState::Connected) << "the third silent pass has not ended";
    h.RequestSent(1, true);
    EXPECT_EQ(h.Link(), TLinkState::Silent);
    EXPECT_EQ(h.State(1), S::Interrupted);
    h.ReplyAccepted(1, QDateTime::currentMSecsSinceEpoch());
    EXPECT_EQ(h.Link(), TLinkState::Connected);

    const QDateTime t0 = QDateTime::currentDateTime();
    h.Hangup(t0);
    EXPECT_EQ(h.Link(), TLinkState::Disconnected);
    EXPECT_EQ(h.LinkSince(), t0);
    h.Reconnected(t0.addSecs(10));
    EXPECT_EQ(h.Link(), TLinkState::Connected);
    pass(h, {1}, {});
    pass(h, {1}, {});
    h.RequestSent(1, true);
    EXPECT_EQ(h.Link(), TLinkState::Connected) << "the passes count afresh after a reconnect";

    h.ChunkRejected();
    h.ChunkRejected();
    EXPECT_EQ(h.Of(1).rejected, 2u) << "charged to the instrument asked last";

    // A reply from an address nobody polls says nothing of the bus.
    for (int i = 0; i < 4; ++i)
        pass(h, {1}, {});
    h.RequestSent(1, true);
    ASSERT_EQ(h.Link(), TLinkState::Silent);
    h.ReplyAccepted(7, QDateTime::currentMSecsSinceEpoch());
    EXPECT_EQ(h.Link(), TLinkState::Silent);
    EXPECT_EQ(AgeText(5), "5秒");
    EXPECT_EQ(AgeText(125), "2分05秒");
    EXPECT_EQ(AgeText(7260), "2小时01分");
    EXPECT_EQ(AgeText(3 * 86400 + 7200), "3天02小时");
}

namespace {

class HealthFixture : public MainFixture {
protected:
    // Answers each request of the listed addresses within the event loop for `ms`.
    void Answer(int ms, const std::set<uint8_t>& answering)
    {
        if (!m_responder)
            m_responder = std::make_unique<TResponder>(*pty);
        m_responder->answering = answering;
        m_responder->Run(ms);
    }
    std::unique_ptr<TResponder> m_responder;
    static QString cell(TFrmMain& w, int row, int column) { return w.Overview->item(row, column)->text(); }
    static constexpr int Name = 1, PhaseA = 2, Marks = 6, State = 7, Counts = 9;
};

} // namespace

TEST_F(HealthFixture, AnInstrumentThatFallsSilentIsShownAndItsValuesDimmed)
{
    WriteIni("Interval_S=1\r\nApparatusAddress=1\r\n");
    MakeDatabase({{1, "一号"}, {2, "二号"}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    ASSERT_EQ(w->Overview->rowCount(), 2);
    EXPECT_EQ(w->Overview->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(cell(*w, 1, Name), "二号");

    Answer(2600, {1, 2});
    EXPECT_EQ(cell(*w, 0, State), "正常");
    EXPECT_EQ(cell(*w, 1, State), "正常");
    EXPECT_EQ(cell(*w, 0, PhaseA), "41.5") << "each instrument's own newest values";
    EXPECT_EQ(cell(*w, 0, PhaseA + 1), "42.0") << "one decimal always, beside 41.5";
    EXPECT_GE(w->Overview->item(0, PhaseA)->font().pointSizeF(), 2 * w->font().pointSizeF()) << "large";
    auto* marks = static_cast<TMarkStrip*>(w->Overview->cellWidget(0, Marks));
    ASSERT_EQ(marks->Colors().size(), 9u);
    EXPECT_EQ(marks->Colors()[0], 255u) << "phase A's bit set: red, as its lamp";
    EXPECT_EQ(marks->Colors()[5], 255u) << "the fan runs: red";
    EXPECT_EQ(w->ShownAddress->text().left(6), "显示：地址 ");
    EXPECT_FALSE(w->ShowsStale());

    // Only 1 answers: 2 goes 超时 within its second pass, 中断 after three whole passes (4 ticks
    // of 333 ms each); the displays show 2's values only while it answered last.
    Answer(2100, {1});
    Answer(1100, {1}); // the table's refresh
    EXPECT_EQ(cell(*w, 1, State), "超时");
    Answer(4100, {1});
    EXPECT_EQ(cell(*w, 1, State), "中断");
    EXPECT_EQ(w->Overview->item(1, State)->background().color(), QColor(230, 40, 40));
    EXPECT_EQ(w->Overview->item(1, PhaseA)->foreground().color(), QColor(Qt::gray)) << "its row greyed";
    EXPECT_TRUE(static_cast<TMarkStrip*>(w->Overview->cellWidget(1, Marks))->Dimmed());
    EXPECT_FALSE(w->ShowsStale()) << "the displays show 1, which answers";

    // Now 1 falls silent too and 2 never came back: the displays (last 1's) go stale.
    Answer(5000, {});
    ASSERT_TRUE(WaitUntil([&] { return w->ShowsStale(); }, 2000));
    EXPECT_TRUE(w->StaleDisplays->isVisible());
    EXPECT_EQ(w->StaleLamps->text(), "数据过期");
    EXPECT_EQ(w->GShape->styleSheet(), "color: gray;");
    EXPECT_TRUE(w->AShape->Dimmed());
    EXPECT_EQ(w->AShape->Color(), 255u) << "the lamp keeps its colour underneath";
    EXPECT_EQ(w->LCDATP->OnColor(), clGray);
    EXPECT_EQ(w->Core().Health().Link(), TLinkState::Silent);
    EXPECT_TRUE(w->LinkState->text().startsWith("链路：无应答")) << w->LinkState->text().toStdString();

    // The next accepted reply brings the normal look back at once.
    Answer(700, {1});
    EXPECT_FALSE(w->ShowsStale());
    EXPECT_FALSE(w->AShape->Dimmed());
    EXPECT_EQ(w->LCDATP->OnColor(), clRed);
    EXPECT_EQ(w->Core().Health().Link(), TLinkState::Connected);
    Answer(1100, {1});
    const QString counts = cell(*w, 0, Counts);
    EXPECT_TRUE(counts.contains('/'));
    EXPECT_LT(counts.section('/', 0, 0).toInt(), counts.section('/', 1, 1).toInt());
}

TEST_F(HealthFixture, AHangUpStopsThePollingWhereItIsAndThePortIsTriedEveryTwoSeconds)
{
    WriteIni("Interval_S=1\r\nApparatusAddress=1\r\n");
    MakeDatabase({{1, "一号"}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    Answer(800, {1});
    pty->CloseMaster(); // the adapter is pulled
    QElapsedTimer since;
    since.start();
    ASSERT_TRUE(WaitUntil([&] { return w->Core().Health().Link() == TLinkState::Disconnected; }, 2000));
    EXPECT_FALSE(w->Core().TimerA()->isActive()) << "the counters keep their place";
    const int32_t tick = w->Core().PollTable().PollTick;
    EXPECT_FALSE(w->Core().ComM()->IsOpen());
    ASSERT_TRUE(w->Core().Reconnect()->Active());
    EXPECT_TRUE(WaitUntil([&] { return w->ShowsStale(); }, 1500));
    // A loaded machine may delay an attempt, never bring it forward.
    ASSERT_TRUE(WaitUntil([&] { return w->Core().Reconnect()->Attempts() >= 2; }, 10000));
    EXPECT_GE(since.elapsed(), 3500) << "one attempt every 2 s (a coarse timer may run 5 % short)";
    EXPECT_EQ(w->Core().PollTable().PollTick, tick);
    EXPECT_TRUE(w->LinkState->text().startsWith("链路：串口断开")) << w->LinkState->text().toStdString();
}

TEST_F(HealthFixture, TheCentralDatabasesStateIsShownBesideTheLinkOnlyWhenOneIsNamed)
{
    WriteIni("Interval_S=1\r\nApparatusAddress=1\r\n[Central]\r\nHost=/nonexistent/zeva-central\r\nDatabase=plant\r\n"
             "SslMode=disable\r\n");
    MakeDatabase({{1, "一号"}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    EXPECT_FALSE(w->CentralState->isHidden());
    Answer(1500, {1});
    ASSERT_TRUE(WaitUntil([&] { return w->CentralState->text() == "中心库：不可达"; }, 3000))
        << w->CentralState->text().toStdString();
    EXPECT_TRUE(w->CentralState->styleSheet().contains("#d21e1e")) << "red, as a lost link";
    EXPECT_TRUE(w->CentralState->toolTip().contains("/nonexistent/zeva-central")) << w->CentralState->toolTip().toStdString();
    // The polling is not held up by the attempts; the journal says it once.
    Answer(3000, {1});
    EXPECT_EQ(cell(*w, 0, State), "正常");
    EXPECT_EQ(w->Core().Db().Query(QStringLiteral("SELECT count(*) AS n FROM EventJournal WHERE Kind = 'event.central'"))
                  .FieldAsInteger(QStringLiteral("n")),
              1);
    w->close();

    WriteIni("Interval_S=1\r\nApparatusAddress=1\r\n");
    auto plain = Start();
    ASSERT_TRUE(plain->StartedUp());
    EXPECT_TRUE(plain->CentralState->isHidden()) << "no central database named: nothing shown";
}

TEST_F(HealthFixture, TheChartFollowsItsNewestPointWhenAsked)
{
    WriteIni("Interval_S=1\r\nApparatusAddress=1\r\n[Chart]\r\nFollow=1\r\n");
    MakeDatabase({{1, "一号"}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    EXPECT_TRUE(w->FollowLatest->isChecked()) << "kept in Data.ini";
    Answer(1500, {1});
    const QCPRange r = w->ChartView->xAxis->range();
    ASSERT_GT(w->ChartFeed().LiveX, 0);
    EXPECT_DOUBLE_EQ(r.lower, 0) << "less data than the width: shown from the first point";
    EXPECT_DOUBLE_EQ(r.size(), 1800) << "the width kept";

    // A shift button works and unchecks it; the choice is written.
    QTest::mouseClick(w->Button3, Qt::LeftButton);
    EXPECT_FALSE(w->FollowLatest->isChecked());
    EXPECT_DOUBLE_EQ(w->ChartView->xAxis->range().upper, r.upper - 100);
    EXPECT_NE(IniText().find("[Chart]\r\nFollow=0"), std::string::npos) << IniText();
    const double upper = w->ChartView->xAxis->range().upper;
    const int32_t points = w->ChartFeed().LiveX + w->ChartFeed().BlackBoxX;
    Answer(800, {1});
    const int32_t more = w->ChartFeed().LiveX + w->ChartFeed().BlackBoxX - points;
    ASSERT_GT(more, 0);
    EXPECT_DOUBLE_EQ(w->ChartView->xAxis->range().upper - upper, more / 2.0) << "half an interval on per point, as before";

    QTest::mouseClick(w->FollowLatest, Qt::LeftButton);
    EXPECT_TRUE(w->ChartFeed().Follow);
    EXPECT_NE(IniText().find("Follow=1"), std::string::npos);
}

TEST_F(HealthFixture, DoubleClickingAnOverviewRowSelectsThatInstrument)
{
    WriteIni("Interval_S=1\r\nApparatusAddress=1\r\n");
    MakeDatabase({{1, "一号"}, {2, "二号"}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    ASSERT_EQ(w->Core().State().SelectedAddress, 1);
    emit w->Overview->cellDoubleClicked(1, 3);
    EXPECT_EQ(w->Core().State().SelectedAddress, 2);
    EXPECT_EQ(w->MCapition->currentText(), "二号");
    EXPECT_NE(IniText().find("ApparatusAddress=2"), std::string::npos) << "as choosing the address writes it";
}

TEST_F(HealthFixture, TheLiveChartFitsZoomsComesHomeAndBreaksBetweenInstruments)
{
    WriteIni("Interval_S=1\r\nApparatusAddress=1\r\n[Chart]\r\nFollow=1\r\nAutoScale=1\r\n");
    MakeDatabase({{1, "一号"}, {2, "二号"}});
    auto w = Start();
    ASSERT_TRUE(w->StartedUp());
    w->resize(1280, 800);
    EXPECT_TRUE(w->AutoScaleBox->isChecked()) << "kept in Data.ini";
    Answer(1500, {1, 2});
    w->ChartView->replot();
    const TMinMaxIndex::TExtremes e = ShownExtremes(w->ChartView, 0, w->ChartFeed().LiveX);
    ASSERT_FALSE(e.Empty());
    EXPECT_LE(w->ChartView->yAxis->range().lower, e.min);
    EXPECT_GE(w->ChartView->yAxis->range().upper, e.max);
    EXPECT_LT(w->ChartView->yAxis->range().size(), 60) << "fitted, not -30 .. 250";

    // A wheel notch over the plot leaves the newest point and the fitted axis; Home returns to both.
    const QPoint centre = w->ChartView->axisRect()->rect().center();
    QWheelEvent wheel(centre, w->ChartView->mapToGlobal(centre), {}, {0, 120}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w->ChartView, &wheel);
    EXPECT_FALSE(w->FollowLatest->isChecked());
    EXPECT_FALSE(w->AutoScaleBox->isChecked());
    EXPECT_NE(IniText().find("AutoScale=0"), std::string::npos);
    QTest::mouseDClick(w->ChartView, Qt::LeftButton, {}, centre);
    EXPECT_TRUE(w->FollowLatest->isChecked());
    EXPECT_TRUE(w->AutoScaleBox->isChecked());

    // Another instrument chosen: its readings do not continue instrument 1's lines.
    emit w->Overview->cellDoubleClicked(1, 3);
    Answer(1500, {1, 2});
    const QCPGraphDataContainer& a = *w->ChartView->graph(0)->data();
    const auto gap = std::find_if(a.constBegin(), a.constEnd(), [](const QCPGraphData& p) { return std::isnan(p.value); });
    ASSERT_NE(gap, a.constEnd());
    EXPECT_EQ(std::count_if(a.constBegin(), a.constEnd(), [](const QCPGraphData& p) { return std::isnan(p.value); }), 1);
    EXPECT_EQ(w->ChartFeed().Marks(), 1u);
    EXPECT_EQ(gap->key, (gap + 1)->key) << "the break sits at the first point of instrument 2";
    w->ChartTools().ShowCursorAt(gap->key);
    EXPECT_FALSE(w->ChartTools().ReadoutText().contains("—")) << "the reading, not the break";
}
