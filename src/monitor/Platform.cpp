// The desktop taskbar on Linux: nothing to hide.
#include "Platform.h"

namespace zeva {

bool HideTaskbar()
{
    return false;
}

void ShowTaskbar() {}

} // namespace zeva
