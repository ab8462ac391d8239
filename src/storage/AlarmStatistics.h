// The alarm statistics of the journal over a range: counts per ten minutes, floods, chattering
// alarms, the most frequent ones, those standing over a day, and the times to acknowledge.
#pragma once

#include "Database.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace zeva {

// One (address, kind) of the journal as the statistics name it.
struct TAlarmSource {
    int address = -1; // -1 for the whole bus
    QString name;     // the instrument's name; "总线" for the bus
    QString kind;     // the code, "alarm.door"
    QString kindText; // the entry's text up to its "：", "柜门打开"
};

struct TAlarmStatistics {
    static constexpr int BucketSeconds = 600;
    static constexpr int FloodAbove = 10;     // alarms in one bucket
    static constexpr int ChatterRaises = 3;   // raises of one source ...
    static constexpr int ChatterSeconds = 60; // ... within this many seconds
    static constexpr int StandingSeconds = 24 * 3600;
    static constexpr int TopCount = 10;

    // Times are in the journal's stored form, "yyyy-MM-dd HH:mm:ss": made from the wall seconds
    // without a time zone, which costs a fraction of a local QDateTime per row.
    struct TBucket {
        QString start; // aligned to the clock: 00:00, 00:10, ...
        int count = 0;
    };
    // A source chatters when ChatterRaises of its raises fall within less than ChatterSeconds; a
    // burst is a run of raises each less than ChatterSeconds after the one before that does so.
    struct TChattering {
        TAlarmSource source;
        int raises = 0; // in the range
        int bursts = 0;
    };
    struct TFrequent {
        TAlarmSource source;
        int count = 0;
    };
    struct TStanding {
        TAlarmSource source;
        QString raised;
        qint64 seconds = 0;
        bool cleared = false; // false: still standing at `now`
    };

    int total = 0;                      // alarms raised in the range
    std::vector<TBucket> perTenMinutes; // the buckets that hold any, in time order
    std::vector<TBucket> floods;        // those with more than FloodAbove
    std::vector<TChattering> chattering;
    std::vector<TFrequent> top;
    std::vector<TStanding> standing;
    int acknowledged = 0;
    std::optional<qint64> medianAckSeconds; // of the acknowledged ones (the lower middle of an even count)
    std::optional<qint64> worstAckSeconds;
};

// Over the alarms raised from `from` to `to` (both included); `now` decides which open alarms have
// stood for more than a day. One ordered read of the journal, worked out here in one pass.
TAlarmStatistics JournalStatistics(TDatabase& db, const QDateTime& from, const QDateTime& to, const QDateTime& now);

// A stored time ("yyyy-MM-dd HH:mm:ss") in wall seconds: its fields read as if UTC, so that the
// clock's ten minutes and a day stay whole steps across a change of summer time (a chart's time axis
// takes them with a UTC ticker). Nothing for a malformed text.
std::optional<qint64> WallSeconds(const QString& stored);

// An alarm priority's text (0 紧急, 1 高, 2 中, 3 低); empty for anything else.
QString PriorityText(int priority);

// "3 分 12 秒", "2 天 4 小时 0 分 5 秒": the largest unit first, none above it.
QString DurationText(qint64 seconds);

} // namespace zeva
