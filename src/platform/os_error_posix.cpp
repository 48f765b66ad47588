#include "platform/os_error.h"

#include <cstring>

namespace platform {

std::string os_error_text(int code) { return code == 0 ? std::string("Success") : std::strerror(code); }

}  // namespace platform
