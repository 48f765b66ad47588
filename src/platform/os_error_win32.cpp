#include "platform/os_error.h"

#include "platform/win32.h"

namespace platform {

std::string os_error_text(int code) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string result(text, length);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
    result.pop_back();
  }
  // Not every code has a text (Wine has none for several Winsock codes).
  if (result.empty()) result = "Windows error " + std::to_string(code);
  return result;
}

}  // namespace platform
