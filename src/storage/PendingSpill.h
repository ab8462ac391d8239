// Data.db.pending, beside the database: the readings and journal entries that still waited for the
// database when the program stopped (locked by another program, a full disk), written and synced
// before the exit and taken back, in order and with their own times, at the next start. Its space
// is reserved while the disk has room, so that it can be written when the disk is full.
#pragma once

#include "RecordWriter.h"

#include <QString>

#include <variant>
#include <vector>

namespace zeva {

using TPendingItem = std::variant<TRecordRow, TJournalEntry>;

QString PendingFileFor(const QString& dataPath);
// Makes the file at least `bytes` long when it holds nothing; false (with the reason) when the
// space cannot be had.
bool ReservePending(const QString& file, qint64 bytes, QString* error);
// Writes the items in place of what the file held, and syncs file and folder. How many were
// written whole; the rest are lost (the reason in `error`).
std::size_t WritePending(const QString& file, const std::vector<TPendingItem>& items, QString* error);
// What the file holds, in order; none for a missing or emptied file. A line cut short by a full
// disk ends the items.
std::vector<TPendingItem> ReadPending(const QString& file, QString* error);
// The file holds nothing any more (its space stays reserved).
bool ClearPending(const QString& file, QString* error);

} // namespace zeva
