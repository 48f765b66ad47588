#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/streams.h"

namespace platform {

bool output_is_open() { return fcntl(STDOUT_FILENO, F_GETFD) != -1 || errno != EBADF; }

}  // namespace platform
