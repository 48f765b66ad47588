// zr90 completion bash|powershell: the suite's completion script for the shell,
// the very file that is installed, built into the program.
#include <cstdio>
#include <string>

#include "zr90/commands.h"
#include "zr90/completion_script.h"

namespace zr90 {

int run_completion(const std::string& shell) {
  std::fputs(shell == "powershell" ? ZR90_POWERSHELL_COMPLETION_SCRIPT : ZR90_COMPLETION_SCRIPT, stdout);
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? EXIT_DONE : EXIT_USAGE;
}

}  // namespace zr90
