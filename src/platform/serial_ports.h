// The serial ports this machine has, as a user names them: device paths on Linux
// ("/dev/ttyUSB0"), COM names on Windows ("COM3"). Nothing is sent to any of them.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Sorted by kind, then by number ("/dev/ttyS2" before "/dev/ttyS10").
std::vector<std::string> serial_port_names();

}  // namespace platform
