// Setting a serial line's bit rate on POSIX. Kept apart from the termios code because
// the kernel's arbitrary-rate interface cannot share a translation unit with <termios.h>.
#pragma once

#include <cstdint>

namespace platform::posix_serial {

// Sets both directions of the open line fd to rate bit/s (any rate the driver can
// make, not only the standard ones). False with errno set when the device refuses
// it or cannot come near the rate.
bool set_line_rate(int fd, int32_t rate);

}  // namespace platform::posix_serial
