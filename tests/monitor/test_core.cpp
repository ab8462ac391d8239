// The monitoring core on its own, under a QCoreApplication: what it reports through its hooks while
// it polls, records, journals, loses its port and meets a locked database.
#include "MonitorCore.h"
#include "Reconnect.h"
#include "Statements.h"
#include "PgCluster.h"
#include "Responder.h"
#include "TestSupport.h"

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
        core.Hooks.reply = [this](const TChunkOutcome& out) { replies.push_back(out); };
        core.Hooks.alert = [this](const QStringList& texts) { alerts += texts; };
        core.Hooks.error = [this](const QString& text) { errors << text; };
        core.Hooks.recovered = [this](const QString& text) { recovered << text; };
        core.Hooks.journalStored = [this] { ++journalStored; };
        core.Hooks.linkChanged = [this] { ++linkChanges; };
        core.Hooks.alarmsChanged = [this] { ++alarmCounts; };
    }

    void Start()
    {
        core.ReadSettings(dir.path());
        core.OpenPort();
        core.ReadSelection();
        ASSERT_TRUE(core.OpenDatabase()) << core.OpenError().toStdString();
        EXPECT_TRUE(core.TakeWriteErrors().isEmpty());
        core.StartPolling();
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
    EXPECT_EQ(core.Health().Polled(), (std::vector<uint8_t>{1, 2}));
    TResponder bus(pty);
    // The bus's replies show phase A's lamp red and the alarm output on: two alarms for each.
    ASSERT_TRUE(answerUntil(bus, [&] {
        return alerts.size() >= 4 && count(QStringLiteral("ApparatusRecord")) >= 2;
    }, 8000)) << alerts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(alerts.contains(QStringLiteral("仪表 1（one）：A相状态报警")));
    EXPECT_TRUE(alerts.contains(QStringLiteral("仪表 2（two）：A相状态报警")));
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
        EXPECT_TRUE(recovered.isEmpty());
        lock.Wait();
    }
    ASSERT_TRUE(answerUntil(bus, [&] { return !recovered.isEmpty(); }, 5000));
    EXPECT_EQ(recovered.front(), QStringLiteral("\n（数据库已恢复，暂存的记录已写入）"));
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
    core.Hooks.centralChanged = [&](const TForwarder::TStatus& s) { heard.push_back(s.state); };
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
    Start();
    ASSERT_FALSE(core.CentralStatus()) << "nothing forwarded before it is started";
    core.StartForwarding();
    ASSERT_TRUE(core.CentralStatus());
    TResponder bus(pty);
    const auto central = [&](const std::string& sql) { return pg.Psql(sql, "plant"); };
    const auto state = [&] { return core.CentralStatus()->state; };
    ASSERT_TRUE(answerUntil(bus, [&] {
        return state() == TForwarder::TState::Synced && central("SELECT count(*) > 1 FROM apparatus_record") == "t\n";
    }, 10000)) << core.CentralStatus()->error.toStdString();
    ASSERT_FALSE(heard.empty()) << "the hook is heard on this thread";
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

} // namespace
} // namespace zeva::test
