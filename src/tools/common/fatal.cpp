#include "tools/common/fatal.h"

#include <cstdio>
#include <cstdlib>

#include "core/text.h"
#include "platform/console.h"
#include "tools/common/output.h"

namespace tools {

void end_run(int exit_code) {
  // A run whose output was lost did not do its job, whatever it read or wrote.
  if (output_failed()) exit_code = 2;
  platform::console::stop_key_poll();
  std::exit(exit_code);
}

void BUMOUT(const std::string& message) {
  write_line();
  write_line(core::shortstring(message));
  end_run(2);
}

void end_with(const core::Failure& failure) {
  for (const std::string& line : core::faithful_lines(failure)) write_line(line);
  end_run(2);
}

}  // namespace tools
