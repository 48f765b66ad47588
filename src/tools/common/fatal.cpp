#include "tools/common/fatal.h"

#include "core/text.h"
#include "platform/console.h"
#include "tools/common/output.h"

namespace tools {

int end_run(Ending ending) {
  // A run whose output was lost did not do its job, whatever it read or wrote.
  if (output_failed()) ending.exit_code = 2;
  platform::console::stop_key_poll();
  return ending.exit_code;
}

Ending BUMOUT(const std::string& message) {
  if (write_line()) (void)write_line(core::shortstring(message));
  return Ending{2};
}

Ending end_with(const core::Failure& failure) {
  for (const std::string& line : core::faithful_lines(failure)) {
    if (!write_line(line)) break;
  }
  return Ending{2};
}

std::optional<Ending> end_if_output_lost() {
  if (output_failed()) return Ending{2};
  return std::nullopt;
}

}  // namespace tools
