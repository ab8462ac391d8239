// The monitoring core on its own, under a QCoreApplication: what it reports through its signals
// while it polls, records, journals, loses its port and meets a locked database.
#include "ConfigExchange.h"
#include "MonitorCore.h"
#include "Reconnect.h"
#include "Statements.h"
#include "PgCluster.h"
#include "Responder.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>

namespace zeva::test {
namespace {

class CoreFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    TPty pty;
    TMonitorCore core;
    std::vector<TChunkOutcome> replies;
    QStringList alerts, errors, recovered;
    int journalStored = 0, linkChanges = 0, alarmCounts = 0;

    void SetUp() override
    {
        MakeDatabase(dir.path(), {{1, QStringLiteral("one")}, {2, QStringLiteral("two")}});
        std::ofstream(dir.filePath(QStringLiteral("Data.ini")).toStdString(), std::ios::binary)
            << "[Info]\r\nPath=" << dir.path().toStdString() << "\r\nPort=" << pty.slaveName()
            << "\r\nInterval_S=1\r\nRunTimer=1\r\nApparatusAddress=1\r\n";
        QObject::connect(&core, &TMonitorCore::replyHandled, [this](const TChunkOutcome& out) { replies.push_back(out); });
        QObject::connect(&core, &TMonitorCore::alertRaised, [this](const QStringList& texts) { alerts += texts; });
        QObject::connect(&core, &TMonitorCore::errorRaised, [this](const QString& text) { errors << text; });
        QObject::connect(&core, &TMonitorCore::recordingStateChanged, [this](const QString& text) { recovered << text; });
        QObject::connect(&core, &TMonitorCore::journalStored, [this] { ++journalStored; });
        QObject::connect(&core, &TMonitorCore::linkChanged, [this] { ++linkChanges; });
        QObject::connect(&core, &TMonitorCore::alarmsChanged, [this] { ++alarmCounts; });
    }

    struct TSteps : TStartupSteps {
        std::function<void()> pollingStarted;
        void PollingStarted() override
        {
            if (pollingStarted)
                pollingStarted();
        }
    } steps;

    void Start()
    {
        ASSERT_EQ(core.Start(dir.path(), steps), TMonitorCore::TStartResult::Started) << core.OpenError().toStdString();
        EXPECT_TRUE(core.TakeWriteErrors().isEmpty());
    }

    // The rows of `table` that meet `where`.
    qint64 count(const QString& table, const QString& where = QStringLiteral("1"))
    {
        TQueryResult r = core.Db().Query(QStringLiteral("SELECT count(*) AS n FROM %1 WHERE %2").arg(table, where));
        return r.Eof() ? -1 : r.FieldAsInteger(QStringLiteral("n"));
    }

    // Answers on the bus until `condition` holds or `ms` pass.
    bool answerUntil(TResponder& bus, const std::function<bool()>& condition, int ms)
    {
        for (int waited = 0; waited < ms && !condition(); waited += 50)
            bus.Run(50);
        return condition();
    }
};

TEST_F(CoreFixture, PollsRecordsAndJournalsWithoutAWindowAndGivesThePortUpWhenItGoes)
{
    Start();
    EXPECT_TRUE(core.State().Beep);
    // Switched off in the file while running: the next alarm is silent.
    std::ofstream(dir.filePath(QStringLiteral("Data.ini")).toStdString(), std::ios::app | std::ios::binary)
        << "[Alarm]\r\nBeep=0\r\n";
    EXPECT_EQ(core.Health().Polled(), (std::vector<uint8_t>{1, 2}));
    TResponder bus(pty);
    // The bus's replies show phase A's lamp red and the alarm output on: two alarms for each.
    ASSERT_TRUE(answerUntil(bus, [&] {
        return alerts.size() >= 4 && count(QStringLiteral("ApparatusRecord")) >= 2;
    }, 8000)) << alerts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(alerts.contains(QStringLiteral("仪表 1（one）：A相状态报警")));
    EXPECT_TRUE(alerts.contains(QStringLiteral("仪表 2（two）：A相状态报警")));
    EXPECT_FALSE(core.State().Beep) << "[Alarm] Beep is asked when the alarm comes";
    EXPECT_GE(journalStored, 1);
    EXPECT_GE(alarmCounts, 1);
    EXPECT_TRUE(alerts.contains(QStringLiteral("仪表 2（two）：超温报警输出")));
    EXPECT_EQ(core.CountAlarms().stored, 4);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('|')).toStdString();

    // Live and black-box replies of both, the chart's share only from the selected instrument.
    int live = 0, blackBox = 0;
    for (const TChunkOutcome& out : replies) {
        live += out.kind == TMonitorReply::Live;
        blackBox += out.kind == TMonitorReply::BlackBox;
        EXPECT_EQ(out.feedsChart, out.address == 1) << int(out.address);
        if (out.kind == TMonitorReply::Live) {
            EXPECT_EQ(out.phaseStatus, 0x01);
        }
    }
    EXPECT_GE(live, 2);
    EXPECT_GE(blackBox, 2);
    EXPECT_EQ(count(QStringLiteral("ApparatusRecord"), QStringLiteral("ApparatusID NOT IN (1, 2)")), 0);
    EXPECT_EQ(count(QStringLiteral("ApparatusRecord"), QStringLiteral("AActTemperature <> 41.5")), 0);
    EXPECT_EQ(core.Health().State(1), TInstrumentState::Normal);

    // The adapter goes: polling stops where it is, the port is tried again, the journal says so.
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return core.Health().Link() == TLinkState::Disconnected; }));
    EXPECT_GE(linkChanges, 1);
    EXPECT_FALSE(core.TimerA()->isActive());
    EXPECT_TRUE(core.Reconnect()->Active());
    ASSERT_TRUE(WaitUntil([&] {
        return count(QStringLiteral("EventJournal"), QStringLiteral("Kind = 'alarm.linkdown'")) == 1;
    }));

    core.Stop();
    EXPECT_FALSE(core.ComM()->IsOpen());
    EXPECT_FALSE(core.Reconnect()->Active());
    EXPECT_EQ(core.RecordWriter()->Pending(), 0u);
}

TEST_F(CoreFixture, ALockedDatabaseIsSaidThroughTheErrorHookAndItsEndThroughTheRecoveredHook)
{
    Start();
    TResponder bus(pty);
    ASSERT_TRUE(answerUntil(bus, [&] { return count(QStringLiteral("ApparatusRecord")) >= 1; },
                            5000));
    {
        TDbLock lock(TDatabase::FileFor(dir.path()).toStdString(), 10.0);
        ASSERT_TRUE(lock.Held());
        // A row waits 5 s before the writer calls it a failure; one is due every 2 s.
        ASSERT_TRUE(answerUntil(bus, [&] { return !errors.isEmpty(); }, 10000));
        EXPECT_TRUE(errors.front().startsWith(QStringLiteral("数据库被其他程序锁定："))) << errors.front().toStdString();
        EXPECT_TRUE(errors.front().contains(QStringLiteral("温度记录暂存在内存中")));
        ASSERT_FALSE(recovered.isEmpty());
        EXPECT_TRUE(recovered.front().endsWith(QStringLiteral("条记录等待写入数据库）"))) << recovered.front().toStdString();
        lock.Wait();
    }
    const QString over = QStringLiteral("\n（数据库已恢复，暂存的记录已写入）");
    ASSERT_TRUE(answerUntil(bus, [&] { return !recovered.isEmpty() && recovered.back() == over; }, 5000));
    const int told = int(recovered.size());
    answerUntil(bus, [] { return false; }, 1500);
    EXPECT_EQ(recovered.size(), told) << "the waiting count is said no more once the database took the rows";
    EXPECT_EQ(errors.size(), 1) << "said once";
    core.Stop();
    EXPECT_EQ(core.RecordWriter()->Pending(), 0u);
}

TEST_F(CoreFixture, AnInterruptionLeftOpenByAnEarlierRunStaysOpenUntilItsInstrumentAnswers)
{
    {
        TDatabase db(QStringLiteral("earlier-run"));
        ASSERT_TRUE(db.Open(dir.path()));
        EnsureEventJournal(db);
        InsertJournal(db, 2, QStringLiteral("alarm.interrupted"), QStringLiteral("通讯中断"), QDateTime::currentDateTime());
    }
    Start();
    TResponder bus(pty);
    bus.answering = std::set<uint8_t>{1}; // instrument 2 is still silent
    const QString open = QStringLiteral("Kind = 'alarm.interrupted' AND ApparatusAddress = 2 AND ClearedAt IS NULL");
    // Several passes, up to the point where it is 中断 again: never cleared, never raised twice.
    ASSERT_TRUE(answerUntil(bus, [&] { return core.Health().State(2) == TInstrumentState::Interrupted; }, 6000));
    bus.Run(700);
    EXPECT_EQ(count(QStringLiteral("EventJournal"), QStringLiteral("Kind = 'alarm.interrupted'")), 1);
    EXPECT_EQ(count(QStringLiteral("EventJournal"), open), 1);

    // It answers: the alarm is over.
    bus.answering.reset();
    ASSERT_TRUE(answerUntil(bus, [&] { return count(QStringLiteral("EventJournal"), open) == 0; }, 4000));
    EXPECT_EQ(count(QStringLiteral("EventJournal"), QStringLiteral("Kind = 'alarm.interrupted'")), 1);
    core.Stop();
}

} // namespace
} // namespace zeva::test

namespace zeva::test {
namespace {

TEST_F(CoreFixture, ForwardsToTheCentralDatabaseKeepsPollingWhileItIsAwayAndJournalsItsLossAndReturn)
{
    TPgCluster pg;
    ASSERT_TRUE(pg.Ok()) << pg.Error();
    ASSERT_EQ(pg.Psql("CREATE DATABASE plant"), "");
    std::ofstream(dir.filePath(QStringLiteral("Data.ini")).toStdString(), std::ios::app | std::ios::binary)
        << "[Central]\r\nHost=" << pg.SocketDir() << "\r\nPort=" << TPgCluster::Port
        << "\r\nDatabase=plant\r\nUser=zeva_test\r\nSslMode=disable\r\nStation=core\r\n";
    std::vector<TForwarder::TState> heard;
    QObject::connect(&core, &TMonitorCore::centralChanged, [&](const TForwarder::TStatus& s) { heard.push_back(s.state); });
    // An earlier run ended while the server was away: this run says when all has been sent.
    {
        TDatabase db(QStringLiteral("earlier-run"));
        ASSERT_TRUE(db.Open(dir.path()));
        InsertJournal(db, -1, QStringLiteral("event.central"), QStringLiteral("中心库：不可达（earlier）"),
                      QDateTime::currentDateTime().addSecs(-60));
    }
    const auto entries = [&](const QString& text) {
        return count(QStringLiteral("EventJournal"), QStringLiteral("Kind = 'event.central' AND Text LIKE '%1%'").arg(text));
    };
    bool forwardingBeforePolling = true;
    steps.pollingStarted = [&] { forwardingBeforePolling = core.CentralStatus().has_value(); };
    Start();
    ASSERT_FALSE(forwardingBeforePolling) << "nothing forwarded before the polling has started";
    ASSERT_TRUE(core.CentralStatus());
    TResponder bus(pty);
    const auto central = [&](const std::string& sql) { return pg.Psql(sql, "plant"); };
    const auto state = [&] { return core.CentralStatus()->state; };
    ASSERT_TRUE(answerUntil(bus, [&] {
        return state() == TForwarder::TState::Synced && central("SELECT count(*) > 1 FROM apparatus_record") == "t\n";
    }, 10000)) << core.CentralStatus()->error.toStdString();
    ASSERT_FALSE(heard.empty()) << "the signal is heard on this thread";
    ASSERT_TRUE(WaitUntil([&] { return entries(QStringLiteral("中心库：已同步")) == 1; }));
    EXPECT_EQ(central("SELECT count(*) FROM apparatus WHERE station = 'core'"), "2\n");

    // The server goes away: the polling and the recording go on; the journal says it once.
    ASSERT_TRUE(pg.Stop());
    const qint64 before = count(QStringLiteral("ApparatusRecord"));
    ASSERT_TRUE(answerUntil(bus, [&] { return state() == TForwarder::TState::Unreachable; }, 10000));
    ASSERT_TRUE(answerUntil(bus, [&] { return count(QStringLiteral("ApparatusRecord")) >= before + 4; }, 10000));
    EXPECT_EQ(heard.back(), TForwarder::TState::Unreachable);
    ASSERT_TRUE(WaitUntil([&] { return entries(QStringLiteral("中心库：不可达")) == 2; }));
    EXPECT_EQ(core.Db().Query(QStringLiteral("SELECT Text FROM EventJournal WHERE Kind = 'event.central'"))
                  .FieldAsString(QStringLiteral("Text"))
                  .left(8),
              "中心库：不可达（");
    EXPECT_TRUE(errors.isEmpty()) << "no box for the operator: " << errors.join(QLatin1Char('|')).toStdString();

    // It comes back: everything stored meanwhile arrives, and the journal says so.
    ASSERT_TRUE(pg.Start()) << pg.Error();
    ASSERT_TRUE(answerUntil(bus, [&] {
        return entries(QStringLiteral("中心库：已同步")) == 2;
    }, 20000));
    // The bus falls silent: no more readings; the counts meet.
    const auto same = [&](const QString& table, const std::string& centralTable) {
        return central("SELECT count(*) FROM " + centralTable) == std::to_string(count(table)) + "\n";
    };
    EXPECT_TRUE(WaitUntil([&] {
        return same(QStringLiteral("ApparatusRecord"), "apparatus_record") && same(QStringLiteral("EventJournal"), "event_journal");
    }, 10000)) << central("SELECT count(*) FROM apparatus_record") << count(QStringLiteral("ApparatusRecord"));
    EXPECT_EQ(central("SELECT count(*) FROM event_journal WHERE kind = 'event.central'"), "4\n")
        << "the loss and the return reach the central journal too";
    core.Stop();
}


TEST_F(CoreFixture, EachSetterWritesDataIniBeforeMemoryAndTheWindowsChoiceStaysInMemory)
{
    Start();
    const QString ini = dir.filePath(QStringLiteral("Data.ini"));
    const auto text = [&] {
        QFile f(ini);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray before = text();
    // A Data.ini that cannot be written: every setter throws and memory keeps the old values.
    ASSERT_TRUE(QFile::rename(ini, ini + QStringLiteral(".kept")));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Data.ini")));
    EXPECT_THROW(core.SetPollInterval(9), std::exception);
    EXPECT_THROW(core.SetRecordCycle(9), std::exception);
    EXPECT_THROW(core.ChooseAddress(2), std::exception);
    EXPECT_THROW(core.SetFollow(true), std::exception);
    EXPECT_EQ(core.State().PollInterval, 1);
    EXPECT_EQ(core.State().RecordCycle, 1);
    EXPECT_EQ(core.State().SelectedAddress, 1);
    EXPECT_FALSE(core.State().Follow);
    ASSERT_TRUE(QDir(dir.path()).rmdir(QStringLiteral("Data.ini")));
    ASSERT_TRUE(QFile::rename(ini + QStringLiteral(".kept"), ini));

    const int period = core.TimerA()->interval();
    core.SetPollInterval(5);
    core.ChooseAddress(2);
    EXPECT_EQ(core.State().PollInterval, 5);
    EXPECT_EQ(core.TimerA()->interval(), period) << "the polling speed changes at the next start";
    EXPECT_TRUE(text().contains("Interval_S=5\r\n") && text().contains("ApparatusAddress=2\r\n"));
    const qint64 id = core.State().SelectedID;
    EXPECT_NE(id, 0);
    // The configuration window's choice: memory only.
    const QByteArray chosen = text();
    core.SelectInstrument(7, 99, QStringLiteral("ZEVA5001-R"), QStringLiteral("x"));
    EXPECT_EQ(core.State().SelectedAddress, 7);
    EXPECT_EQ(core.State().SelectedID, 99);
    EXPECT_EQ(text(), chosen);
    EXPECT_NE(before, chosen);
    core.Stop();
}

TEST_F(CoreFixture, TheConfigurationExchangeReadsWritesAndHandsThePortBackWithoutAWindow)
{
    using V = std::vector<uint8_t>;
    const auto bytes = [](const TFrame& f) { return V(f.data(), f.data() + f.size); };
    Start();
    const qint64 id2 = core.Db().Query(QStringLiteral("SELECT ID FROM Apparatus WHERE ApparatusAddress = 2"))
                           .FieldAsInteger(QStringLiteral("ID"));
    TConfigExchange x(core);
    EXPECT_EQ(x.OpenRegistryCopy().RecordCount(), 2);
    core.SelectInstrument(2, id2, QStringLiteral("ZEVA5000-S"), {});
    std::optional<TConfigExchange::TRead> ask = TConfigExchange::TRead{2, Cmd::ReadCompensation};
    x.ReadSource = [&] { return ask; };
    std::vector<TCompensation> shown;
    std::vector<bool> answering;
    QObject::connect(&x, &TConfigExchange::compensationRead, [&](const TCompensation& c) { shown.push_back(c); });
    QObject::connect(&x, &TConfigExchange::answeringChanged, [&](bool a) { answering.push_back(a); });

    x.Open();
    EXPECT_FALSE(core.TimerA()->isActive()) << "the exchange holds the port: no polling";
    EXPECT_FALSE(core.ComM()->IsOpen());
    ASSERT_TRUE(x.CommB()->IsOpen());
    pty.Read(100);
    const V request = bytes(BuildRequest(2, Cmd::ReadCompensation));
    ASSERT_EQ(pty.Read(2500, 4), request);
    // A reply from another address goes to the selected row all the same; bytes behind it are
    // no reason to drop it.
    V reply = bytes(BuildCompensationFrame(9, Cmd::ReadCompensation, {1.5, 0, 25.5, 6553.5}));
    pty.Write(reply);
    ASSERT_TRUE(WaitUntil([&] { return !shown.empty(); }));
    EXPECT_EQ(shown[0], (TCompensation{1.5, 0, 25.5, 6553.5}));
    EXPECT_EQ(count(QStringLiteral("Apparatus"), QStringLiteral("ID = %1 AND CAtoneT = 25.5 AND DAtoneT = 6553.5").arg(id2)), 1);

    // Three reads without a reply mark the instrument; the next reply clears the mark.
    ASSERT_TRUE(WaitUntil([&] { return answering == std::vector<bool>{false}; }, 10000));
    EXPECT_GE(x.UnansweredReads(), 3);
    pty.Write(reply);
    ASSERT_TRUE(WaitUntil([&] { return answering == std::vector<bool>{false, true}; }));

    // A write: its frame, a history row stamped now, a journal event. No address: nothing asked.
    ask.reset();
    pty.Read(1200);
    THistoryRow row;
    row.ApparatusName = QStringLiteral("two");
    EXPECT_THROW(x.Write(TWriteGroup::FanTiming, 2, {300, 30}, row, {}), EWriteRefused) << "300 does not fit a byte";
    x.Write(TWriteGroup::FanTiming, 2, {200, 30}, row, ReviewWrite(TWriteGroup::FanTiming, {}, {200, 30}, x.ReviewContext(2)));
    EXPECT_EQ(pty.Read(1500, 6), bytes(BuildFanTimingWrite(2, 200, 30)));
    EXPECT_TRUE(pty.Read(1200).empty()) << "no read while the window asks for none";
    EXPECT_EQ(count(QStringLiteral("ApparatusHistory"), QStringLiteral("ApparatusName = 'two' AND InDate IS NOT NULL")), 1);
    ASSERT_TRUE(WaitUntil([&] { return count(QStringLiteral("EventJournal"), QStringLiteral("Kind = 'event.write'")) == 1; }));

    x.Close();
    EXPECT_TRUE(x.Closed());
    EXPECT_FALSE(x.CommB()->IsOpen());
    EXPECT_TRUE(core.ComM()->IsOpen()) << "handed back";
    EXPECT_TRUE(core.TimerA()->isActive());
    EXPECT_THROW(core.Db().Query(QStringLiteral("SELECT * FROM TempApparatus")), EDatabaseError) << "the copy is dropped";
    core.Stop();
}

} // namespace
} // namespace zeva::test
