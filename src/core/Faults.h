// The texts that explain a fault to the operator: the cause under the port box, the recording's
// waiting rows.
#pragma once

#include "ProgramInfo.h"

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

// Another program records into the database (a configuration error, not restarted by the unit),
// and readings neither written nor kept at the stop.
inline constexpr int ExitDatabaseInUse = ExitConfig;
inline constexpr int ExitReadingsLost = ExitWriteFailed;

} // namespace zeva
