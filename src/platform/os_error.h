// The operating system's own text for one of its error codes (errno on POSIX,
// GetLastError or WSAGetLastError on Windows).
#pragma once

#include <string>

namespace platform {

std::string os_error_text(int code);

}  // namespace platform
