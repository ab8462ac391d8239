// The central PostgreSQL store of many stations: its schema in PostgreSQL's own style, and the
// readings' monthly partitions.
#pragma once

#include "PgConnection.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <utility>

namespace zeva {

// Creates what is missing of the central schema and leaves what is there (every run may call it).
// The hour sums beside the readings are optional: why they could not be made, or empty.
QString EnsureCentralSchema(TPgConnection& db);
// The readings' partition of the month of `day`, created when missing; its name.
QString EnsureMonthPartition(TPgConnection& db, QDate day);
// Drops the readings' partitions wholly before the month of `day`; their names.
QStringList DropPartitionsBefore(TPgConnection& db, QDate day);
// The hour sums of the readings that came before they were kept (an older version's months, a
// month written while the triggers were missing): makes the next `chunk` (whole hours) of the oldest
// monthly partition not yet complete anew from its rows. A chunk the server cancels after 5 s is
// halved; Failed (with `why`) when an hour is too much or the server refuses (rights).
enum class THourFill { Done, Filled, Busy /* another is filling them, or a reader holds the partition */, Failed };
THourFill FillHourSums(TPgConnection& db, std::chrono::seconds& chunk, QString* why = nullptr);
// The span (UTC seconds, from and to) in which the hour sums hold every reading of the months (UTC)
// from `firstMonth` to `lastMonth`, cut to the monthly partitions there are (outside them there are
// no readings, only sums a dropped partition may have left). Nothing when they do not hold them all.
std::optional<std::pair<qint64, qint64>> HourSumsSpan(TPgConnection& db, QDate firstMonth, QDate lastMonth);
// "apparatus_record_2026_12"
QString MonthPartitionName(QDate day);

// `body` in one transaction: committed when it returns, rolled back when it throws.
template <typename F> auto InCentralTransaction(TPgConnection& db, F body)
{
    db.Exec("BEGIN");
    try {
        auto result = body();
        db.Exec("COMMIT");
        return result;
    } catch (...) {
        if (db.Usable()) { // a connection the server ended or that was abandoned has nothing to roll back
            try {
                db.Exec("ROLLBACK");
            } catch (const std::exception&) {
            }
        }
        throw;
    }
}

} // namespace zeva
