// A new alarm said beyond the window: a desktop notification through the freedesktop
// notification service when one runs on the session bus, and the system beep.
#pragma once

#include <QString>

namespace zeva {

// False when no notification service is there (nothing is shown then).
bool NotifyDesktop(const QString& title, const QString& body);

} // namespace zeva
