// SIGTERM, SIGINT and SIGHUP as a clean stop, for the program with windows and for the recorder.
#pragma once

#include <functional>

namespace zeva {

// Catches SIGTERM, SIGINT and SIGHUP from the very start (before the application object exists) and
// ignores SIGPIPE; what was caught is acted on once InstallStopSignals has run.
void CatchStopSignals();
// From now on a caught stop signal runs `onStop` on the application's thread, once per
// burst of signals. Needs the application object; a second call only replaces `onStop`.
void InstallStopSignals(std::function<void()> onStop);

} // namespace zeva
