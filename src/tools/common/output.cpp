#include "tools/common/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tools {

namespace {

// What went wrong with standard output, which is the process's, as is this.
struct OutputTrouble {
  int first_error = 0;  // the system's reason for the first write that failed
  bool said = false;
};

OutputTrouble& trouble() {
  static OutputTrouble state;
  return state;
}

bool flush_failed() {
  errno = 0;
  const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout);
  if (failed && trouble().first_error == 0) trouble().first_error = errno != 0 ? errno : EIO;
  return failed;
}

}  // namespace

void write(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

bool write_line(std::string_view text) {
  write(text);
  std::fputc('\n', stdout);
  // The stream's error flag stays set: once a line is lost, every later one is too.
  return !flush_failed();
}

bool output_failed() {
  if (!flush_failed()) return false;
  // Standard error is the one place left to say that the output went nowhere.
  if (!trouble().said) std::fprintf(stderr, "cannot write to standard output: %s\n", std::strerror(trouble().first_error));
  trouble().said = true;
  return true;
}

}  // namespace tools
