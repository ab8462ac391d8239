// The recorded readings' writer: never blocks the poster, keeps order and times, waits out locks
// and a full disk with rows in memory (bounded), explains the database's errors.
#include "Database.h"
#include "RecordWriter.h"
#include "Statements.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>
#include <sys/mount.h>

using namespace zeva;
using namespace zeva::test;
using namespace std::chrono_literals;

namespace {

struct Events {
    std::mutex mutex;
    std::vector<TRecordWriter::TEvent> list;
    TRecordWriter::TReport report()
    {
        return [this](const TRecordWriter::TEvent& e) {
            std::lock_guard lock(mutex);
            list.push_back(e);
        };
    }
    int count(TRecordWriter::TEvent::Kind kind)
    {
        std::lock_guard lock(mutex);
        return int(std::count_if(list.begin(), list.end(), [kind](const auto& e) { return e.kind == kind; }));
    }
    QString text(TRecordWriter::TEvent::Kind kind)
    {
        std::lock_guard lock(mutex);
        for (const auto& e : list)
            if (e.kind == kind)
                return e.text;
        return {};
    }
};

// A database under `path` with instruments at addresses 1 (enabled) and 2 (disabled).
qint64 makeDatabase(const QString& path)
{
    QDir().mkpath(path + "/DataBase");
    QFile f(TDatabase::FileFor(path));
    f.open(QIODevice::WriteOnly);
    f.close();
    TDatabase db(QStringLiteral("setup"));
    EXPECT_TRUE(db.Open(path));
    CreateSchema(db);
    qint64 id = InsertApparatus(db, "one", 1, true);
    InsertApparatus(db, "two", 2, false);
    return id;
}

// The stored rows as "ID:A-temperature", in the order of storing.
std::vector<std::string> storedRows(const QString& path)
{
    TDatabase db(QStringLiteral("check"));
    EXPECT_TRUE(db.Open(path));
    TQueryResult r = db.Query("SELECT ApparatusID, AActTemperature, InDateTime FROM ApparatusRecord ORDER BY RecordID");
    std::vector<std::string> rows;
    for (r.First(); !r.Eof(); r.Next())
        rows.push_back(std::to_string(r.FieldAsInteger("ApparatusID")) + ":" +
                       QString::number(r.FieldAsFloat("AActTemperature")).toStdString());
    return rows;
}

TRecordRow row(int address, double a, QDateTime when = QDateTime::currentDateTime())
{
    return TRecordRow{when, address, {a, 1, 2, 3}, {4, 5, 6, 7}};
}

// Posts `count` rows, one every `everyMs`, the event loop running between; the longest Post.
qint64 postPaced(TRecordWriter& w, int count, int everyMs, int first = 0)
{
    qint64 longest = 0;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer t;
        t.start();
        w.Post(row(1, first + i));
        longest = std::max(longest, t.nsecsElapsed());
        Pump(everyMs);
    }
    return longest;
}

std::vector<std::string> expected(int first, int count, qint64 id)
{
    std::vector<std::string> v;
    for (int i = first; i < first + count; ++i)
        v.push_back(std::to_string(id) + ":" + std::to_string(i));
    return v;
}

struct WriterFixture : ::testing::Test {
    QTemporaryDir dir;
    qint64 id = makeDatabase(dir.path());
    std::string file() const { return TDatabase::FileFor(dir.path()).toStdString(); }
};

} // namespace

TEST_F(WriterFixture, RowsKeepTheirOrderTimesAndIds)
{
    Events events;
    TRecordWriter w(dir.path(), events.report());
    w.Start();
    const QDateTime t0 = QDateTime::fromString("2026-12-09 08:00:00", "yyyy-MM-dd HH:mm:ss");
    w.Post(row(1, 10, t0));
    w.Post(row(2, 11, t0.addSecs(1))); // disabled: ID 0
    w.Post(row(9, 12, t0.addSecs(2))); // unknown: ID 0
    ASSERT_TRUE(WaitUntil([&] { return w.Written() == 3; }));
    EXPECT_EQ(storedRows(dir.path()), (std::vector<std::string>{std::to_string(id) + ":10", "0:11", "0:12"}));
    TDatabase db(QStringLiteral("times"));
    ASSERT_TRUE(db.Open(dir.path()));
    TQueryResult r = db.Query("SELECT InDateTime FROM ApparatusRecord ORDER BY RecordID");
    EXPECT_EQ(r.FieldAsString("InDateTime"), "2026-12-09 08:00:00") << "the time the row was due, not of writing";
    r.Last();
    EXPECT_EQ(r.FieldAsString("InDateTime"), "2026-12-09 08:00:02");
    EXPECT_EQ(w.Stop(1000ms), 0u);
    EXPECT_EQ(events.count(TRecordWriter::TEvent::Kind::Failing), 0);
}

TEST_F(WriterFixture, ALockWaitsInMemoryWithoutBlockingThePoster)
{
    // 2 s: shorter than the old busy wait, so no failure is said; 8 s: one box's worth, then the rows.
    for (double seconds : {2.0, 8.0}) {
        SCOPED_TRACE(seconds);
        QTemporaryDir d;
        qint64 ownId = makeDatabase(d.path());
        Events events;
        TRecordWriter w(d.path(), events.report());
        w.Start();
        TDbLock lock(TDatabase::FileFor(d.path()).toStdString(), seconds);
        ASSERT_TRUE(lock.Held());
        const int count = int(seconds * 1000 / 100) + 10; // a row every 100 ms, past the lock's end
        qint64 longest = postPaced(w, count, 100);
        // A Post that waited for the database would take the busy time-out (200 ms) or more; under the
        // sanitizers on a loaded machine a free Post has been seen to take 3 ms.
        EXPECT_LT(longest, 150'000'000) << "Post took " << longest << " ns";
        lock.Wait();
        ASSERT_TRUE(WaitUntil([&] { return w.Written() == uint64_t(count); }, 10000)) << w.Written();
        EXPECT_EQ(storedRows(d.path()), expected(0, count, ownId)) << "every row, in order";
        EXPECT_EQ(events.count(TRecordWriter::TEvent::Kind::Failing), seconds > 5 ? 1 : 0);
        if (seconds > 5) {
            EXPECT_TRUE(events.text(TRecordWriter::TEvent::Kind::Failing).startsWith("数据库被其他程序锁定："))
                << events.text(TRecordWriter::TEvent::Kind::Failing).toStdString();
            EXPECT_TRUE(WaitUntil([&] { return events.count(TRecordWriter::TEvent::Kind::Recovered) == 1; }));
        }
        EXPECT_FALSE(w.Failing());
    }
}

TEST_F(WriterFixture, BeyondItsCapacityTheOldestRowsGoAndThatIsSaidOnce)
{
    Events events;
    TRecordWriter::TOptions options;
    options.capacity = 50;
    options.patience = 0ms;
    TRecordWriter w(dir.path(), events.report(), options);
    w.Start();
    {
        TDbLock lock(file(), 30);
        ASSERT_TRUE(lock.Held());
        for (int i = 0; i < 80; ++i)
            w.Post(row(1, i));
        EXPECT_EQ(w.Pending(), 50u);
        EXPECT_EQ(w.Dropped(), 30u);
        ASSERT_TRUE(WaitUntil([&] { return events.count(TRecordWriter::TEvent::Kind::Failing) == 1; }));
        lock.Release();
    }
    ASSERT_TRUE(WaitUntil([&] { return w.Pending() == 0; }, 10000));
    EXPECT_EQ(storedRows(dir.path()), expected(30, 50, id)) << "the newest 50, in order";
    EXPECT_EQ(events.count(TRecordWriter::TEvent::Kind::Dropped), 1);
}

TEST_F(WriterFixture, StopWritesWhatWaitsAndGivesUpOnTime)
{
    Events events;
    TRecordWriter w(dir.path(), events.report());
    w.Start();
    for (int i = 0; i < 200; ++i)
        w.Post(row(1, i));
    EXPECT_EQ(w.Stop(2000ms), 0u) << "the last rows are committed before the end";
    EXPECT_EQ(storedRows(dir.path()).size(), 200u);

    TRecordWriter locked(dir.path(), events.report());
    locked.Start();
    TDbLock lock(file(), 30);
    ASSERT_TRUE(lock.Held());
    locked.Post(row(1, 1));
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(locked.Stop(300ms), 1u) << "a row the database would not take is counted as lost";
    EXPECT_LT(t.elapsed(), 5000) << "the stop keeps its limit, not the 30 s lock";
}

TEST_F(WriterFixture, AFullDiskWaitsUntilSpaceIsFreed)
{
    QTemporaryDir mountPoint;
    if (::mount("tmpfs", mountPoint.path().toLocal8Bit().constData(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root): " << strerror(errno);
    const QString path = mountPoint.path();
    struct Unmount {
        QString p;
        ~Unmount() { ::umount2(p.toLocal8Bit().constData(), MNT_DETACH); }
    } unmount{path};
    qint64 ownId = makeDatabase(path);

    Events events;
    TRecordWriter::TOptions options;
    options.patience = 0ms;
    options.retryOther = 100ms;
    TRecordWriter w(path, events.report(), options);
    w.Start();
    w.Post(row(1, 0));
    ASSERT_TRUE(WaitUntil([&] { return w.Written() == 1; }));
    // The rest of the disk taken by another file.
    const QString filler = path + "/filler";
    Shell("dd if=/dev/zero of='" + filler.toStdString() + "' bs=4k 2>/dev/null; sync");
    int posted = 1;
    // Enough rows to need new pages: the WAL must grow.
    for (; posted < 3000 && events.count(TRecordWriter::TEvent::Kind::Failing) == 0; ++posted) {
        w.Post(row(1, posted));
        if (posted % 100 == 0)
            Pump(50);
    }
    ASSERT_TRUE(WaitUntil([&] { return events.count(TRecordWriter::TEvent::Kind::Failing) == 1; }));
    EXPECT_TRUE(events.text(TRecordWriter::TEvent::Kind::Failing).startsWith("磁盘已满："))
        << events.text(TRecordWriter::TEvent::Kind::Failing).toStdString();
    EXPECT_GT(w.Pending(), 0u);
    QFile::remove(filler);
    ASSERT_TRUE(WaitUntil([&] { return w.Pending() == 0; }, 10000));
    EXPECT_EQ(w.Stop(1000ms), 0u);
    EXPECT_EQ(storedRows(path), expected(0, posted, ownId)) << "every row, in order, after the space came back";
    TDatabase db(QStringLiteral("integrity"));
    ASSERT_TRUE(db.Open(path));
    EXPECT_EQ(db.Query("PRAGMA integrity_check").FieldAsString("integrity_check"), "ok");
}

TEST(DatabaseErrors, TheLibraryTextKeepsAChineseExplanationInFront)
{
    QTemporaryDir dir;
    makeDatabase(dir.path());
    TDatabase db(QStringLiteral("ui"), 100);
    ASSERT_TRUE(db.Open(dir.path()));
    TDbLock lock(TDatabase::FileFor(dir.path()).toStdString(), 30);
    ASSERT_TRUE(lock.Held());
    try {
        InsertRecord(db, 1, QDateTime::currentDateTime(), {1, 2, 3, 4}, {5, 6, 7, 8});
        FAIL() << "the insert went through a held lock";
    } catch (const EDatabaseError& e) {
        QString text = QString::fromUtf8(e.what());
        EXPECT_TRUE(text.startsWith("数据库被其他程序锁定：database is locked")) << e.what();
        EXPECT_EQ(e.Fault(), TDatabaseFault::Locked);
    }
    EXPECT_EQ(ExplainDatabaseError(TDatabaseFault::Full, "database or disk is full"), "磁盘已满：database or disk is full");
    EXPECT_EQ(FaultOfSqliteCode(13), TDatabaseFault::Full);
    EXPECT_EQ(FaultOfSqliteCode(517), TDatabaseFault::Locked) << "SQLITE_BUSY_SNAPSHOT";
    EXPECT_EQ(FaultOfSqliteCode(1), TDatabaseFault::Other);
    EXPECT_EQ(ExplainDatabaseError(TDatabaseFault::Other, "no such table: x"), "no such table: x");
}

TEST_F(WriterFixture, ADatabaseFileDeletedUnderTheWriterIsSaidAndOnePutBackIsUsed)
{
    Events events;
    TRecordWriter::TOptions options;
    options.patience = 0ms;
    options.retryOther = 50ms;
    TRecordWriter w(dir.path(), events.report(), options);
    w.Start();
    w.Post(row(1, 0));
    ASSERT_TRUE(WaitUntil([&] { return w.Written() == 1; }));
    const QString file = TDatabase::FileFor(dir.path());
    Shell("sqlite3 '" + file.toStdString() + "' \".backup '" + dir.filePath("copy.db").toStdString() + "'\"");
    ASSERT_TRUE(QFile::exists(dir.filePath("copy.db")));
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(file + suffix);
    w.Post(row(1, 1));
    ASSERT_TRUE(WaitUntil([&] { return events.count(TRecordWriter::TEvent::Kind::Failing) == 1; }));
    EXPECT_TRUE(events.text(TRecordWriter::TEvent::Kind::Failing).contains("已不存在"))
        << events.text(TRecordWriter::TEvent::Kind::Failing).toStdString();
    EXPECT_EQ(w.Pending(), 1u) << "the row waits, not written into the deleted file";
    ASSERT_TRUE(QFile::copy(dir.filePath("copy.db"), file));
    ASSERT_TRUE(WaitUntil([&] { return w.Pending() == 0; }));
    EXPECT_EQ(w.Stop(1000ms), 0u);
    EXPECT_EQ(storedRows(dir.path()), expected(0, 2, id)) << "into the file put back";
}
