#include "core/output.h"

#include <cstdio>

namespace core {

void write(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

void write_line(std::string_view text) {
  write(text);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace core
