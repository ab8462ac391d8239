// Line speeds outside the standard termios table, through Linux's termios2 interface. Kept apart
// from PosixPort because <asm/termbits.h> and <termios.h> cannot share a translation unit.
#pragma once

#include <cstdint>

namespace zeva::posix {

// Asks the device for `baud` with BOTHER and reads back what it took; false when the device
// refuses (it then keeps its speed). Only the speed fields are touched.
bool SetArbitrarySpeed(int fd, uint32_t baud);
// The output speed the device runs at, in baud; 0 when it cannot be read.
uint32_t CurrentSpeed(int fd);

} // namespace zeva::posix
