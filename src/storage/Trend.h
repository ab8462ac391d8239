// The readings summed per instrument and minute, ten minutes and hour, beside ApparatusRecord, so that a
// year is drawn from thousands of rows instead of millions. Triggers keep the sums as rows are
// stored (whoever stores them); the rows stored before the sums existed are summed in the
// background, a step at a time, each step one transaction with its position.
#pragma once

#include "Database.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace zeva {

// The eight reading columns of ApparatusRecord in their order, and their short names in
// [Trend] Series: AAct .. DAct, ABlack .. DBlack.
inline constexpr int TrendColumns = 8;
QString TrendColumn(int column);
QString TrendCode(int column);
// -1 for a code that is none of them.
int TrendColumnOf(const QString& code);

// The sum tables and their triggers, in the caller's transaction (a new database).
void CreateTrendSchema(TDatabase& db);
// Creates them when the database has none (an older one): true when it did. The rows stored until
// then are left to FillTrendStep.
bool EnsureTrend(TDatabase& db);
// Sums up to `rows` of the stored rows not yet summed, in one transaction; false once none is left.
bool FillTrendStep(TDatabase& db, int rows);
// The share of the stored rows summed, 0..1 (1 without sum tables to fill).
double TrendFilled(TDatabase& db);

// Times are wall seconds: the stored local time read as if it were UTC, as the sums count them.
enum class TTrendLevel { Rows, Minute, TenMinutes, Hour };
// The coarsest level whose buckets are no wider than a pixel column of `secondsPerPixel`.
TTrendLevel TrendLevelFor(double secondsPerPixel);
inline constexpr double TrendBucketSeconds(TTrendLevel level)
{
    return level == TTrendLevel::Hour ? 3600 : level == TTrendLevel::TenMinutes ? 600 : level == TTrendLevel::Minute ? 60 : 0;
}

// One column of one instrument over [from, to]: per bucket its start, lowest and highest value
// (a row's time and value twice at the level of rows), in time order. Rows not yet summed are
// summed here when they are few (see `partial`).
struct TTrendPoints {
    std::vector<double> time, low, high;
    bool partial = false; // a fill in progress has more rows to sum than a read may take in
};
// The unsummed rows a read sums itself at most (about 50 ms).
inline constexpr qint64 UnsummedReadLimit = 200000;
TTrendPoints ReadTrend(TDatabase& db, qint64 apparatusId, int column, TTrendLevel level, double from, double to);

// The alarms of an instrument overlapping [from, to], in wall seconds; one still open ends at `now`.
struct TAlarmSpan {
    double from, to;
};
std::vector<TAlarmSpan> ReadAlarmSpans(TDatabase& db, qint64 apparatusId, double from, double to, double now);

// Fills the sums of the rows stored before them on a thread and connection of its own, a short
// step at a time with pauses, so that the recording writer and the window wait for it no longer
// than a step.
class TTrendFiller {
public:
    struct TOptions {
        int rowsPerStep = 20000;
        int pauseMs = 20;
    };
    explicit TTrendFiller(QString dataPath, TOptions options);
    explicit TTrendFiller(QString dataPath) : TTrendFiller(std::move(dataPath), {}) {}
    ~TTrendFiller();
    TTrendFiller(const TTrendFiller&) = delete;
    TTrendFiller& operator=(const TTrendFiller&) = delete;

    bool Done() const { return m_done.load(); }

private:
    void run();

    QString m_dataPath;
    TOptions m_options;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

} // namespace zeva
