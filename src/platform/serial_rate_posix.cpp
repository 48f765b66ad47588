#include "platform/serial_rate_posix.h"

#include <cerrno>
#include <cstdlib>

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>
#else
#include <termios.h>
#endif

namespace platform::posix_serial {
namespace {

// A UART divides its clock; a rate within this many per mille of the request is
// what the request meant (39062 from a 2.5 MHz base, for instance).
constexpr int64_t RATE_TOLERANCE_PER_MILLE = 30;

bool close_enough(int64_t got, int32_t wanted) {
  return std::llabs(got - wanted) * 1000 <= static_cast<int64_t>(wanted) * RATE_TOLERANCE_PER_MILLE;
}

}  // namespace

#if defined(__linux__)

bool set_line_rate(int fd, int32_t rate) {
  if (rate <= 0) {
    errno = EINVAL;
    return false;
  }
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = static_cast<speed_t>(rate);
  tio.c_ospeed = static_cast<speed_t>(rate);
  if (ioctl(fd, TCSETS2, &tio) != 0) return false;
  // A driver may quietly keep another rate; read back what the line really does.
  struct termios2 check {};
  if (ioctl(fd, TCGETS2, &check) != 0) return false;
  if (!close_enough(check.c_ospeed, rate)) {
    errno = EINVAL;
    return false;
  }
  return true;
}

#else

bool set_line_rate(int fd, int32_t rate) {
  struct termios tio {};
  if (rate <= 0 || tcgetattr(fd, &tio) != 0) {
    if (rate <= 0) errno = EINVAL;
    return false;
  }
  // Outside Linux, the platform's speed values; BSDs take plain numbers here.
  if (cfsetspeed(&tio, static_cast<speed_t>(rate)) != 0) return false;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  if (!close_enough(static_cast<int64_t>(cfgetospeed(&tio)), rate)) {
    errno = EINVAL;
    return false;
  }
  return true;
}

#endif

}  // namespace platform::posix_serial
