#include "platform/win32.h"

#include "platform/streams.h"

namespace platform {

bool output_is_open() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out != nullptr && out != INVALID_HANDLE_VALUE;
}

}  // namespace platform
