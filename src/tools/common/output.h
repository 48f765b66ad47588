// All output of parmpeek and parmpoke goes to standard output, line by line.
#pragma once

#include <string_view>

#include "core/reporter.h"

namespace tools {

void write(std::string_view text);
// Writes the text and a line end, and flushes so that each line leaves at once.
// False when standard output has failed, with this line or before: nothing more
// is to be done then, and the run ends with exit code 2.
[[nodiscard]] bool write_line(std::string_view text = {});
// Flushes standard output; true, once said on standard error, when anything written
// to it was lost.
bool output_failed();

// The library's notices, as lines of standard output among the others. A notice
// may come in the middle of an access (the card's retry of the non-volatile flag):
// one that cannot be written must not cut the access short, so the failure stays
// with standard output, and the run ends after the operation (end_if_output_lost).
class StdoutReporter final : public core::Reporter {
 public:
  void notice(std::string_view line) override { (void)write_line(line); }
};

}  // namespace tools
