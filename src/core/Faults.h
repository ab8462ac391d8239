// The texts that explain a fault to the operator: the cause under the port box, the recording's
// waiting rows.
#pragma once

#include <QString>

#include <exception>

namespace zeva {

// True when this process has that group among its groups.
bool InGroup(const char* name);
// The second line of the port box: what kept the port from opening.
QString PortCauseText(const std::exception& error);

// What the recording's box says while the database takes no rows, and when rows had to go.
QString RecordingFailingText(const QString& explainedError);
QString RecordingDroppedText(std::size_t capacity);

// Exit codes of a start that could not open its port or its database.
inline constexpr int ExitPortFailed = 2;
inline constexpr int ExitDatabaseFailed = 3;
// As sysexits.h numbers them: another program records into the database (a configuration error,
// not restarted by the unit), and readings neither written nor kept at the stop.
inline constexpr int ExitDatabaseInUse = 78;
inline constexpr int ExitReadingsLost = 74;

} // namespace zeva
