// SIGTERM and SIGINT as a clean stop, for the program with windows and for the recorder alike.
#pragma once

#include <functional>

namespace zeva {

// Catches SIGTERM and SIGINT from the very start (before the application object exists) and
// ignores SIGPIPE; what was caught is acted on once InstallStopSignals has run.
void CatchStopSignals();
// From now on a caught SIGTERM or SIGINT runs `onStop` on the application's thread, once per
// burst of signals. Needs the application object; a second call only replaces `onStop`.
void InstallStopSignals(std::function<void()> onStop);

} // namespace zeva
