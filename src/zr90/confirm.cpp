#include "zr90/confirm.h"

#include <cstdio>

#include "platform/console.h"

namespace zr90 {

bool can_confirm(const Options& options) {
  if (options.yes || platform::console::input_is_terminal()) return true;
  say("refusing to write EEPROM settings without a terminal to confirm them; give -y to write them");
  return false;
}

bool confirmed(const Options& options, const std::string& question) {
  if (options.yes) return true;
  std::fputs(question.c_str(), stderr);
  std::fflush(stderr);
  const std::string answer = platform::console::read_line();
  if (answer == "y" || answer == "Y") return true;
  say("nothing written");
  return false;
}

}  // namespace zr90
