// Errors written to the standard error output, one line each, with the local time in front.
#pragma once

#include <QString>

namespace zeva {

// "2026-12-09 16:40:01 zeva-monitor: text"; safe from any thread, each line written whole.
void LogError(const QString& text);

} // namespace zeva
