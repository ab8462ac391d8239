// The sums per minute and hour against the rows they sum: filled in the background for an older
// database (killed in the middle), kept by the triggers through inserts, deletes and changes.
#include "Database.h"
#include "Statements.h"
#include "Trend.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace zeva;

namespace {

// Rows of the sums that the rows themselves do not give, both ways, for one table.
qint64 differences(TDatabase& db, const char* table, int seconds)
{
    QStringList fromRows{QStringLiteral("ApparatusID"),
                         QStringLiteral("CAST(strftime('%s', InDateTime) AS INTEGER) / %1").arg(seconds),
                         QStringLiteral("count(*)")},
        fromSums{QStringLiteral("ApparatusID"), QStringLiteral("Bucket"), QStringLiteral("N")};
    for (int c = 0; c < TrendColumns; ++c) {
        fromRows << QStringLiteral("min(%1)").arg(TrendColumn(c)) << QStringLiteral("max(%1)").arg(TrendColumn(c));
        fromSums << TrendCode(c) + QStringLiteral("Min") << TrendCode(c) + QStringLiteral("Max");
    }
    const QString rows = QStringLiteral("SELECT %1 FROM ApparatusRecord WHERE strftime('%s', InDateTime) IS NOT NULL "
                                        "GROUP BY 1, 2").arg(fromRows.join(','));
    const QString sums = QStringLiteral("SELECT %1 FROM %2").arg(fromSums.join(','), QLatin1String(table));
    return db.Query(QStringLiteral("SELECT (SELECT count(*) FROM (%1 EXCEPT %2)) + (SELECT count(*) FROM (%2 EXCEPT %1)) AS n")
                        .arg(rows, sums))
        .FieldAsInteger(QStringLiteral("n"));
}

void storeRows(TDatabase& db, int from, int count)
{
    // Three instruments, a reading every 10 s with NULLs, one time that is none, one stored late.
    db.Exec(QStringLiteral(
                "WITH RECURSIVE m(i) AS (SELECT %1 UNION ALL SELECT i + 1 FROM m WHERE i < %2) "
                "INSERT INTO ApparatusRecord(ApparatusID, InDateTime, AActTemperature, BActTemperature, DBlackTemperature) "
                "SELECT 1 + i % 3, CASE WHEN i = %1 + 5 THEN 'none' WHEN i = %1 + 9 THEN '2025-12-31 23:59:59' "
                "ELSE datetime('2026-03-01', '+' || (i * 10) || ' seconds') END, 40 + i % 97 * 0.5, "
                "CASE WHEN i % 4 = 0 THEN NULL ELSE i % 13 END, -i % 50 FROM m")
                .arg(from)
                .arg(from + count - 1));
}

} // namespace

TEST(Trend, TheSumsEqualTheRowsAfterAKilledFillAndThroughInsertsDeletesAndChanges)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("DataBase")));
    QFile(TDatabase::FileFor(dir.path())).open(QIODevice::WriteOnly);
    TDatabase db;
    ASSERT_TRUE(db.Open(dir.path()));
    CreateSchema(db);
    // An older database: its rows were stored before there were sums.
    for (const char* sql : {"DROP TRIGGER TrendOnInsert", "DROP TRIGGER TrendOnDelete", "DROP TRIGGER TrendOnUpdate",
                            "DROP TABLE TrendMinute", "DROP TABLE TrendTenMinute", "DROP TABLE TrendHour",
                            "DROP TABLE TrendFill"})
        db.Exec(QLatin1String(sql));
    storeRows(db, 0, 150000);
    ASSERT_TRUE(EnsureTrend(db));
    EXPECT_FALSE(EnsureTrend(db));
    EXPECT_EQ(TrendFilled(db), 0);
    storeRows(db, 150000, 3000); // stored since: the triggers sum them

    // A fill killed in the middle of a step leaves its last step out, whole.
    db.Close();
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    pid_t child = fork();
    if (child == 0) {
        close(pipefd[0]);
        TDatabase mine;
        if (!mine.Open(dir.path()))
            _exit(3);
        for (int step = 1; FillTrendStep(mine, 2000); ++step)
            if (write(pipefd[1], &step, sizeof step) != sizeof step)
                _exit(4);
        _exit(0);
    }
    close(pipefd[1]);
    int step = 0;
    while (step < 20 && read(pipefd[0], &step, sizeof step) == sizeof step) {
    }
    kill(child, SIGKILL);
    close(pipefd[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "killed while filling";
    ASSERT_TRUE(db.Open(dir.path()));
    const double share = TrendFilled(db);
    EXPECT_GT(share, 0.2);
    EXPECT_LT(share, 1);
    // Half filled, the readings come out all the same.
    const TTrendPoints half = ReadTrend(db, 2, 0, TTrendLevel::Hour, 0, 4e9);
    while (FillTrendStep(db, 7000)) {
    }
    EXPECT_EQ(TrendFilled(db), 1);
    EXPECT_EQ(differences(db, "TrendMinute", 60), 0);
    EXPECT_EQ(differences(db, "TrendTenMinute", 600), 0);
    EXPECT_EQ(differences(db, "TrendHour", 3600), 0);
    const TTrendPoints whole = ReadTrend(db, 2, 0, TTrendLevel::Hour, 0, 4e9);
    EXPECT_EQ(half.time, whole.time);
    EXPECT_EQ(half.high, whole.high);

    db.Exec(QStringLiteral("DELETE FROM ApparatusRecord WHERE RecordID % 11 = 0 OR RecordID BETWEEN 100 AND 400"));
    db.Exec(QStringLiteral("UPDATE ApparatusRecord SET AActTemperature = 300, InDateTime = '2026-04-01 00:00:30' "
                           "WHERE RecordID IN (7, 152000)"));
    EXPECT_EQ(differences(db, "TrendMinute", 60), 0);
    EXPECT_EQ(differences(db, "TrendHour", 3600), 0);
    // Sums made before the ten-minute level get it from their minutes, and keep all three after.
    db.Exec(QStringLiteral("DROP TABLE TrendTenMinute"));
    ASSERT_TRUE(EnsureTrend(db));
    storeRows(db, 153000, 500);
    EXPECT_EQ(differences(db, "TrendTenMinute", 600), 0);
    EXPECT_EQ(differences(db, "TrendMinute", 60), 0);
    const TTrendPoints moved = ReadTrend(db, 2, 0, TTrendLevel::Minute, 0, 4e9);
    ASSERT_FALSE(moved.high.empty());
    EXPECT_EQ(moved.high.back(), 300);
    // Too many rows left to sum: the read does not sum them on the caller's thread, and says so.
    db.Exec(QStringLiteral("UPDATE TrendFill SET FilledUpTo = 0, Boundary = %1").arg(UnsummedReadLimit + 1));
    EXPECT_TRUE(ReadTrend(db, 2, 0, TTrendLevel::Hour, 0, 4e9).partial);
    EXPECT_FALSE(ReadTrend(db, 2, 0, TTrendLevel::Rows, 0, 4e9).partial);
}
