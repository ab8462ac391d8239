// What the web view reads from the station's database, on the server's thread with a connection of
// its own: the journal's rows, an instrument's readings in buckets, and the pages built from them.
#pragma once

#include <QDateTime>
#include <QString>

#include <string>

namespace zeva {

class TDatabase;

// The journal's rows raised from `from` to `to` as JSON, newest first (open alarms first).
std::string AlarmsJson(TDatabase& db, const QDateTime& from, const QDateTime& to);

// `[{"time", "A": {"min", "max", "first", "last"}, ...}]` per bucket of `step` seconds (0: each row a
// bucket of its own) of the polled instrument at `address`: the lowest and highest reading and the
// bucket's first and last row (null where that row is ERR); a phase without a reading is left out.
// At most 100,000 buckets (400) and, from single rows, 100,000 rows (413).
// Empty with `status` 404 or 400 and the reason in `error` when it cannot be answered.
std::string ReadingsJson(TDatabase& db, int address, const QDateTime& from, const QDateTime& to, qint64 step,
                         int& status, QString& error);

// The pages: an instrument's last 24 hours as a chart with its thresholds and alarms, and the journal.
std::string InstrumentPage(TDatabase& db, int address, const QDateTime& now, int& status);
std::string AlarmsPage(TDatabase& db, const QDateTime& now);

} // namespace zeva
