// What a report of a day or a month says, worked out from the stored readings and the journal of a
// station, whichever database holds them. Times are wall seconds: the local time read as if UTC, as
// the journal's statistics count them (a day is 86,400 of them).
#pragma once

#include "Convert.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace zeva {

// A local calendar day or month.
struct TReportPeriod {
    QDate first;
    bool month = false;

    QDate End() const { return month ? first.addMonths(1) : first.addDays(1); } // the first day after it
    qint64 From() const;
    qint64 To() const;     // the first second after it
    QString Label() const; // "2026-12-10", "2026-12"
    // "YYYY-MM-DD" and "YYYY-MM" exactly; nothing for anything else.
    static std::optional<TReportPeriod> Day(const QString& text);
    static std::optional<TReportPeriod> Month(const QString& text);
};

qint64 WallSecondsOf(const QDateTime& local);
// "yyyy-MM-dd HH:mm:ss", as the station's database stores times.
QString WallText(qint64 wall);

struct TReportInstrument {
    qint64 id = 0; // the registry's
    int address = 0;
    QString name;
    bool enabled = false;
    std::optional<double> t2, t3; // above 0 only
};

struct TReportReading {
    qint64 t = 0;
    std::array<double, 4> live{}; // NaN: no value (ERR, not stored)
};

struct TReportJournalRow {
    int address = -1; // -1: the whole bus
    QString kind, text;
    qint64 raised = 0;
    std::optional<qint64> cleared, acked;
    std::optional<int> priority;
};

// Where the rows come from: the station's SQLite database or the central PostgreSQL.
class TReportSource {
public:
    virtual ~TReportSource() = default;
    virtual std::vector<TReportInstrument> Instruments() = 0;
    // The instrument's readings with from <= t < to, in time order.
    virtual void Readings(qint64 id, qint64 from, qint64 to, const std::function<void(const TReportReading&)>& each) = 0;
    // The entries raised before `to` that may bear on [from, to): raised in it, alarms not cleared
    // before `from`, and each instrument's last fan entry before `from`; in time order.
    virtual std::vector<TReportJournalRow> Journal(qint64 from, qint64 to) = 0;
    // The latest reading of any instrument or journal entry before `t`.
    virtual std::optional<qint64> LastActivityBefore(qint64 t) = 0;
};

struct TPhaseFigures {
    int phase = 0; // 0..3, A..D
    int readings = 0;
    double min = 0, max = 0, mean = 0;
    qint64 maxAt = 0;
    std::optional<double> aboveT2Minutes, aboveT3Minutes;
};

struct TInstrumentFigures {
    TReportInstrument instrument;
    std::vector<TPhaseFigures> phases; // those with a reading
    double normalPercent = 0, interruptedPercent = 0, noDataPercent = 0;
    double fanHours = 0;
    double medianSpacing = 0; // seconds between readings; 0 with fewer than two
    // The chart: the period in equal buckets, per phase the highest reading of each (NaN: none).
    static constexpr int Buckets = 288;
    std::array<std::vector<double>, 4> bucketMax;
};

struct TAlarmFigures {
    QString kind, kindText;
    int priority = 3;
    int address = -1;
    QString instrument; // "总线" for the whole bus
    int count = 0;          // raised in the period
    double standingMinutes = 0;
    std::optional<double> ackMedianMinutes, ackWorstMinutes;
};

struct TWriteFigures {
    qint64 time = 0;
    int address = -1;
    QString instrument, group, before, after, user;
};

struct TReport {
    TReportPeriod period;
    QString station;
    qint64 madeAt = 0; // wall seconds
    qint64 coveredTo = 0; // the period's end, or the time it was made when that is earlier
    std::vector<TInstrumentFigures> instruments;
    std::vector<TAlarmFigures> alarms;
    std::vector<TWriteFigures> writes;
};

// The rules the figures follow, one line each, as the report prints them.
QStringList ReportRules();

// Everything for `period`, made at `madeAt` (wall seconds). Throws what the source throws.
TReport MakeReport(TReportSource& source, const TReportPeriod& period, const QString& station, qint64 madeAt);

// The parts of a parameter write's journal text: "参数写入：温度阈值：T1 80→85，T2 90→95；操作员：王工".
TWriteFigures ParseWriteText(const QString& text);

} // namespace zeva
