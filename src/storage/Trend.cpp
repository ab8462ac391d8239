// The sums of readings per minute and hour.
#include "Trend.h"

#include "Convert.h"
#include "ErrorLog.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace zeva {

namespace {

const char* const Codes[TrendColumns] = {"AAct", "BAct", "CAct", "DAct", "ABlack", "BBlack", "CBlack", "DBlack"};

struct TLevelTable {
    const char* table;
    int seconds;
    const char* start; // the bucket's first stored time, and the next bucket's
    const char* next;
};
// A ten-minute bucket is found again through its hour's stored times.
const TLevelTable Levels[] = {{"TrendMinute", 60, "%Y-%m-%d %H:%M:00", "+1 minute"},
                              {"TrendTenMinute", 600, "%Y-%m-%d %H:00:00", "+1 hour"},
                              {"TrendHour", 3600, "%Y-%m-%d %H:00:00", "+1 hour"}};

// The bucket of a stored time; NULL for a text that is no time.
QString bucketOf(const QString& time, int seconds)
{
    return QStringLiteral("(CAST(strftime('%s', %1) AS INTEGER) / %2)").arg(time).arg(seconds);
}

QString columnList()
{
    QStringList c{QStringLiteral("ApparatusID"), QStringLiteral("Bucket"), QStringLiteral("N")};
    for (const char* code : Codes)
        c << QLatin1String(code) + QStringLiteral("Min") << QLatin1String(code) + QStringLiteral("Max");
    return c.join(QStringLiteral(", "));
}

// count, then min and max of every column, of the rows grouped.
QString aggregates()
{
    QStringList a{QStringLiteral("count(*)")};
    for (int c = 0; c < TrendColumns; ++c)
        a << QStringLiteral("min(%1)").arg(TrendColumn(c)) << QStringLiteral("max(%1)").arg(TrendColumn(c));
    return a.join(QStringLiteral(", "));
}

// A bucket already there takes the new rows in; SQLite's min and max of two give NULL for a NULL.
QString merge()
{
    QStringList m{QStringLiteral("N = N + excluded.N")};
    for (const char* code : Codes)
        for (const char* end : {"Min", "Max"}) {
            const QString col = QLatin1String(code) + QLatin1String(end);
            m << QStringLiteral("%1 = %2(coalesce(%1, excluded.%1), coalesce(excluded.%1, %1))")
                     .arg(col, QLatin1String(end) == QLatin1String("Min") ? QStringLiteral("min") : QStringLiteral("max"));
        }
    return QStringLiteral(" ON CONFLICT(ApparatusID, Bucket) DO UPDATE SET ") + m.join(QStringLiteral(", "));
}

// Rows the sums hold: those summed by the fill, and those stored since the sums exist.
const QString Summed = QStringLiteral("(RecordID <= (SELECT FilledUpTo FROM TrendFill) OR RecordID > (SELECT Boundary FROM TrendFill))");

QString tableSql(const char* table)
{
    QStringList cols;
    for (const char* code : Codes)
        cols << QLatin1String(code) + QStringLiteral("Min NUMERIC") << QLatin1String(code) + QStringLiteral("Max NUMERIC");
    return QStringLiteral("CREATE TABLE %1 (ApparatusID INTEGER NOT NULL, Bucket INTEGER NOT NULL, N INTEGER NOT NULL, "
                          "%2, PRIMARY KEY (ApparatusID, Bucket)) WITHOUT ROWID")
        .arg(QLatin1String(table), cols.join(QStringLiteral(", ")));
}

// The bucket of `row`'s time in every table summed again from the rows (after a delete or change).
QString resum(const QString& row)
{
    QString sql;
    for (const TLevelTable& l : Levels) {
        const QString bucket = bucketOf(row + QStringLiteral(".InDateTime"), l.seconds);
        sql += QStringLiteral("DELETE FROM %1 WHERE ApparatusID = %2.ApparatusID AND Bucket = %3; ")
                   .arg(QLatin1String(l.table), row, bucket);
        // Through the time index: the bucket's stored times, then exactly its bucket.
        sql += QStringLiteral("INSERT INTO %1(%2) SELECT ApparatusID, %3, %4 FROM ApparatusRecord "
                              "WHERE ApparatusID = %5.ApparatusID AND InDateTime >= strftime('%8', %5.InDateTime) "
                              "AND InDateTime < strftime('%8', %5.InDateTime, '%9') AND %3 = %6 AND %7 GROUP BY ApparatusID; ")
                   .arg(QLatin1String(l.table), columnList(), bucketOf(QStringLiteral("InDateTime"), l.seconds),
                        aggregates(), row, bucket, Summed, QLatin1String(l.start), QLatin1String(l.next));
    }
    return sql;
}

QStringList trendTriggers()
{
    QStringList s;
    QString insert;
    for (const TLevelTable& l : Levels) {
        QStringList values{QStringLiteral("NEW.ApparatusID"), bucketOf(QStringLiteral("NEW.InDateTime"), l.seconds),
                           QStringLiteral("1")};
        for (int c = 0; c < TrendColumns; ++c)
            values << QStringLiteral("NEW.") + TrendColumn(c) << QStringLiteral("NEW.") + TrendColumn(c);
        insert += QStringLiteral("INSERT INTO %1(%2) VALUES(%3)%4; ")
                      .arg(QLatin1String(l.table), columnList(), values.join(QStringLiteral(", ")), merge());
    }
    // A time that is no time is in no bucket (and never fails the row's insert).
    s << QStringLiteral("CREATE TRIGGER TrendOnInsert AFTER INSERT ON ApparatusRecord "
                        "WHEN strftime('%s', NEW.InDateTime) IS NOT NULL AND (NEW.RecordID <= (SELECT FilledUpTo FROM TrendFill) "
                        "OR NEW.RecordID > (SELECT Boundary FROM TrendFill)) BEGIN ") +
             insert + QStringLiteral("END");
    s << QStringLiteral("CREATE TRIGGER TrendOnDelete AFTER DELETE ON ApparatusRecord "
                        "WHEN strftime('%s', OLD.InDateTime) IS NOT NULL BEGIN ") +
             resum(QStringLiteral("OLD")) + QStringLiteral("END");
    s << QStringLiteral("CREATE TRIGGER TrendOnUpdate AFTER UPDATE ON ApparatusRecord BEGIN ") +
             resum(QStringLiteral("OLD")) + resum(QStringLiteral("NEW")) + QStringLiteral("END");
    return s;
}

QStringList trendSchema()
{
    QStringList s;
    for (const TLevelTable& l : Levels)
        s << tableSql(l.table);
    // Rows up to Boundary were stored before the sums: the fill sums them, up to FilledUpTo so far.
    s << QStringLiteral("CREATE TABLE TrendFill (ID INTEGER PRIMARY KEY CHECK (ID = 1), FilledUpTo INTEGER NOT NULL, "
                        "Boundary INTEGER NOT NULL)");
    s << QStringLiteral("INSERT INTO TrendFill SELECT 1, 0, coalesce(max(RecordID), 0) FROM ApparatusRecord");
    return s + trendTriggers();
}

// Sums made before the ten-minute level: that level from the minutes (which nest in it), and the
// triggers that keep all three.
QStringList addTenMinutes()
{
    QStringList s{tableSql("TrendTenMinute")};
    QStringList a{QStringLiteral("sum(N)")};
    for (const char* code : Codes)
        a << QStringLiteral("min(%1Min)").arg(QLatin1String(code)) << QStringLiteral("max(%1Max)").arg(QLatin1String(code));
    s << QStringLiteral("INSERT INTO TrendTenMinute(%1) SELECT ApparatusID, Bucket / 10, %2 FROM TrendMinute "
                        "GROUP BY ApparatusID, Bucket / 10")
             .arg(columnList(), a.join(QStringLiteral(", ")));
    s << QStringLiteral("DROP TRIGGER TrendOnInsert") << QStringLiteral("DROP TRIGGER TrendOnDelete")
      << QStringLiteral("DROP TRIGGER TrendOnUpdate");
    return s + trendTriggers();
}

QString wallText(double seconds)
{
    return QDateTime::fromSecsSinceEpoch(qint64(std::floor(seconds)), Qt::UTC).toString(DateTimeFormat);
}

} // namespace

QString TrendColumn(int column)
{
    static const char* const Names[TrendColumns] = {"AActTemperature",   "BActTemperature",   "CActTemperature",
                                                    "DActTemperature",   "ABlackTemperature", "BBlackTemperature",
                                                    "CBlackTemperature", "DBlackTemperature"};
    return QLatin1String(Names[column]);
}

QString TrendCode(int column)
{
    return QLatin1String(Codes[column]);
}

int TrendColumnOf(const QString& code)
{
    for (int c = 0; c < TrendColumns; ++c)
        if (code == QLatin1String(Codes[c]))
            return c;
    return -1;
}

void CreateTrendSchema(TDatabase& db)
{
    for (const QString& sql : trendSchema())
        db.Exec(sql);
}

bool EnsureTrend(TDatabase& db)
{
    auto present = [&](const char* table) {
        return db.Query(QStringLiteral("SELECT count(*) AS n FROM sqlite_master WHERE name = :t"),
                        {{QStringLiteral(":t"), QLatin1String(table)}})
                   .FieldAsInteger(QStringLiteral("n")) > 0;
    };
    if (present("TrendFill") && present("TrendTenMinute"))
        return false;
    // The boundary is the last row stored before the triggers, in one transaction with them.
    db.Exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        const bool sums = present("TrendFill");
        if (sums && present("TrendTenMinute")) {
            db.Exec(QStringLiteral("ROLLBACK"));
            return false;
        }
        for (const QString& sql : sums ? addTenMinutes() : trendSchema())
            db.Exec(sql);
        db.Exec(QStringLiteral("COMMIT"));
    } catch (const EDatabaseError&) {
        db.Exec(QStringLiteral("ROLLBACK"));
        throw;
    }
    return true;
}

bool FillTrendStep(TDatabase& db, int rows)
{
    db.Exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        TQueryResult fill = db.Query(QStringLiteral("SELECT FilledUpTo, Boundary FROM TrendFill"));
        const qint64 from = fill.FieldAsInteger(QStringLiteral("FilledUpTo")),
                     boundary = fill.FieldAsInteger(QStringLiteral("Boundary"));
        if (fill.RecordCount() == 0 || from >= boundary) {
            db.Exec(QStringLiteral("ROLLBACK"));
            return false;
        }
        const qint64 upTo = std::min(boundary, from + rows);
        for (const TLevelTable& l : Levels) {
            const QString bucket = bucketOf(QStringLiteral("InDateTime"), l.seconds);
            db.Exec(QStringLiteral("INSERT INTO %1(%2) SELECT ApparatusID, %3 AS b, %4 FROM ApparatusRecord "
                                   "WHERE RecordID > :from AND RecordID <= :upTo AND %3 IS NOT NULL GROUP BY ApparatusID, b%5")
                        .arg(QLatin1String(l.table), columnList(), bucket, aggregates(), merge()),
                    {{QStringLiteral(":from"), from}, {QStringLiteral(":upTo"), upTo}});
        }
        db.Exec(QStringLiteral("UPDATE TrendFill SET FilledUpTo = :upTo"), {{QStringLiteral(":upTo"), upTo}});
        db.Exec(QStringLiteral("COMMIT"));
        return upTo < boundary;
    } catch (const EDatabaseError&) {
        db.Exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

double TrendFilled(TDatabase& db)
{
    TQueryResult fill = db.Query(QStringLiteral("SELECT FilledUpTo, Boundary FROM TrendFill"));
    const qint64 boundary = fill.FieldAsInteger(QStringLiteral("Boundary"));
    return boundary <= 0 ? 1.0 : double(fill.FieldAsInteger(QStringLiteral("FilledUpTo"))) / double(boundary);
}

TTrendLevel TrendLevelFor(double secondsPerPixel)
{
    if (secondsPerPixel >= 3600)
        return TTrendLevel::Hour;
    if (secondsPerPixel >= 600)
        return TTrendLevel::TenMinutes;
    if (secondsPerPixel >= 60)
        return TTrendLevel::Minute;
    return TTrendLevel::Rows;
}

TTrendPoints ReadTrend(TDatabase& db, qint64 apparatusId, int column, TTrendLevel level, double from, double to)
{
    const QString col = TrendColumn(column), code = TrendCode(column);
    TBindings b{{QStringLiteral(":id"), apparatusId}, {QStringLiteral(":a"), wallText(from)},
                {QStringLiteral(":b"), wallText(to)}};
    QString sql;
    bool partial = false;
    if (level == TTrendLevel::Rows) {
        sql = QStringLiteral("SELECT CAST(strftime('%s', InDateTime) AS INTEGER) AS t, %1 AS lo, %1 AS hi FROM ApparatusRecord "
                             "WHERE ApparatusID = :id AND InDateTime BETWEEN :a AND :b AND %1 IS NOT NULL "
                             "AND t IS NOT NULL ORDER BY InDateTime")
                  .arg(col);
    } else {
        const int seconds = int(TrendBucketSeconds(level));
        const QString table = QLatin1String(level == TTrendLevel::Hour         ? "TrendHour"
                                            : level == TTrendLevel::TenMinutes ? "TrendTenMinute"
                                                                               : "TrendMinute");
        b.emplace_back(QStringLiteral(":ba"), qint64(std::floor(from / seconds)));
        b.emplace_back(QStringLiteral(":bb"), qint64(std::floor(to / seconds)));
        sql = QStringLiteral("SELECT Bucket * %1 AS t, %2Min AS lo, %2Max AS hi FROM %3 "
                             "WHERE ApparatusID = :id AND Bucket BETWEEN :ba AND :bb AND %2Min IS NOT NULL")
                  .arg(seconds)
                  .arg(code, table);
        // Rows a fill in progress has not summed yet are summed here when they are few: found by
        // their IDs (the time index would read the whole range whatever is left). Many: the sums
        // alone, said as partial, rather than a wait on the polling thread.
        TQueryResult fill = db.Query(QStringLiteral("SELECT FilledUpTo, Boundary FROM TrendFill"));
        const qint64 filled = fill.FieldAsInteger(QStringLiteral("FilledUpTo")),
                     boundary = fill.FieldAsInteger(QStringLiteral("Boundary"));
        if (filled < boundary && boundary - filled <= UnsummedReadLimit) {
            b.emplace_back(QStringLiteral(":filled"), filled);
            b.emplace_back(QStringLiteral(":boundary"), boundary);
            sql = QStringLiteral("SELECT t, min(lo) AS lo, max(hi) AS hi FROM (%1 "
                                 "UNION ALL SELECT %2 * %3, min(%4), max(%4) FROM ApparatusRecord "
                                 "WHERE RecordID > :filled AND RecordID <= :boundary AND +ApparatusID = :id "
                                 "AND +InDateTime BETWEEN :a AND :b AND %4 IS NOT NULL GROUP BY 1) "
                                 "WHERE t IS NOT NULL GROUP BY t ORDER BY t")
                      .arg(sql, bucketOf(QStringLiteral("InDateTime"), seconds))
                      .arg(seconds)
                      .arg(col);
        } else {
            partial = filled < boundary;
            sql += QStringLiteral(" ORDER BY Bucket");
        }
    }
    TQueryResult r = db.Query(sql, b);
    TTrendPoints p;
    p.partial = partial;
    const auto& rows = r.rows();
    p.time.reserve(rows.size());
    p.low.reserve(rows.size());
    p.high.reserve(rows.size());
    for (const QVariantList& row : rows) {
        p.time.push_back(row[0].toDouble());
        p.low.push_back(row[1].toDouble());
        p.high.push_back(row[2].toDouble());
    }
    return p;
}

std::vector<TAlarmSpan> ReadAlarmSpans(TDatabase& db, qint64 apparatusId, double from, double to, double now)
{
    TQueryResult r = db.Query(QStringLiteral("SELECT CAST(strftime('%s', RaisedAt) AS INTEGER) AS a, "
                                             "CAST(strftime('%s', ClearedAt) AS INTEGER) AS c FROM EventJournal "
                                             "WHERE ApparatusID = :id AND Kind LIKE 'alarm.%' AND RaisedAt <= :b "
                                             "AND (ClearedAt IS NULL OR ClearedAt >= :a) ORDER BY RaisedAt"),
                              {{QStringLiteral(":id"), apparatusId},
                               {QStringLiteral(":a"), wallText(from)},
                               {QStringLiteral(":b"), wallText(to)}});
    std::vector<TAlarmSpan> spans;
    for (const QVariantList& row : r.rows())
        if (!row[0].isNull())
            spans.push_back({row[0].toDouble(), row[1].isNull() ? now : row[1].toDouble()});
    return spans;
}

TTrendFiller::TTrendFiller(QString dataPath, TOptions options)
    : m_dataPath(std::move(dataPath)), m_options(options), m_thread([this] { run(); })
{
}

TTrendFiller::~TTrendFiller()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void TTrendFiller::run()
{
    TDatabase db(QStringLiteral("TrendFill"), 200);
    if (!db.Open(m_dataPath))
        return;
    bool filling = false; // said once done, when there was something to do
    std::unique_lock lock(m_mutex);
    // Sums the program could not make at its start (the database was locked) are made here.
    for (bool made = false; !made && !m_stop;) {
        lock.unlock();
        try {
            EnsureTrend(db);
            filling = TrendFilled(db) < 1;
            made = true;
        } catch (const EDatabaseError&) {
        }
        lock.lock();
        if (!made)
            m_wake.wait_for(lock, std::chrono::seconds(5), [this] { return m_stop; });
    }
    while (!m_stop) {
        lock.unlock();
        int pause = m_options.pauseMs;
        try {
            const bool more = FillTrendStep(db, m_options.rowsPerStep);
            if (!more && TrendFilled(db) >= 1) {
                m_done = true;
                if (filling)
                    LogError(QStringLiteral("趋势汇总：已存的读数已全部汇总"));
                return;
            }
        } catch (const EDatabaseError&) {
            pause = 1000; // busy or full: the next step later
        }
        lock.lock();
        m_wake.wait_for(lock, std::chrono::milliseconds(pause), [this] { return m_stop; });
    }
}

} // namespace zeva
