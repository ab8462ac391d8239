// Port names as operators write them: the COMn names of Data.ini on Linux, and the serial
// devices a machine has.
#pragma once

#include <string>
#include <vector>

namespace zeva {

// "COMn" (any letter case, n >= 1) names /dev/ttyS(n-1) unless a file of that name exists in
// the working folder; every other name, a path included, stays as it is.
std::string ResolvePortName(const std::string& name);

// The serial devices present, for a port list: /dev/serial/by-id/* (stable names of USB
// adapters), /dev/ttyUSB*, /dev/ttyACM*, and the /dev/ttyS* behind which a UART answers.
// The roots are parameters so tests can give a folder of their own.
std::vector<std::string> ListSerialDevices(const std::string& devDir = "/dev",
                                           const std::string& sysTtyDir = "/sys/class/tty");

} // namespace zeva
