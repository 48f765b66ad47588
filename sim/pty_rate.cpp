// The line rate a tool set on the pseudo-terminal. Apart from pty.cpp because the
// kernel's arbitrary-rate interface cannot share a translation unit with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "pty.h"

namespace sim {

long Pty::line_rate() const {
  // A tool may set any rate (not only the standard ones): read the number itself.
  struct termios2 tio {};
  if (slave_ < 0 || ioctl(slave_, TCGETS2, &tio) != 0) return -1;
  return static_cast<long>(tio.c_ospeed);
}

}  // namespace sim
