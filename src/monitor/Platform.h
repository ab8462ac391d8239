// The desktop taskbar: hidden while the main window exists where the platform has one.
#pragma once

namespace zeva {

// Linux desktops have no taskbar window to hide: both do nothing, and HideTaskbar says so.
bool HideTaskbar();
void ShowTaskbar();

} // namespace zeva
