// All output of parmpeek and parmpoke goes to standard output, line by line.
#pragma once

#include <string_view>

#include "core/reporter.h"

namespace tools {

void write(std::string_view text);
// Writes the text and a line end, and flushes so that each line leaves at once. A
// line that cannot be written ends the run with exit code 2.
void write_line(std::string_view text = {});
// Flushes standard output; true, once said on standard error, when anything written
// to it was lost.
bool output_failed();

// The library's notices, as lines of standard output among the others.
class StdoutReporter final : public core::Reporter {
 public:
  void notice(std::string_view line) override { write_line(line); }
};

}  // namespace tools
