// zr90 completion bash: the suite's completion script (zr90, parmpeek, parmpoke,
// zr90sim), the very file that is installed, built into the program.
#include <cstdio>
#include <string>

#include "zr90/commands.h"
#include "zr90/completion_script.h"

namespace zr90 {

int run_completion(const std::string& /*shell*/) {
  std::fputs(ZR90_COMPLETION_SCRIPT, stdout);
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? EXIT_DONE : EXIT_USAGE;
}

}  // namespace zr90
