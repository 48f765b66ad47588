#include "tools/common/output.h"

#include <cstdio>

namespace tools {

void write(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

void write_line(std::string_view text) {
  write(text);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace tools
