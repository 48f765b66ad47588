#include "core/fatal.h"

#include <cstdio>
#include <cstdlib>

#include "core/output.h"
#include "core/text.h"

namespace core {

namespace {
ExitHook exit_hook = nullptr;
}

void set_exit_hook(ExitHook hook) { exit_hook = hook; }

void end_run(int exit_code) {
  std::fflush(stdout);
  // Taken before it runs, so a hook that itself ends the run cannot loop.
  ExitHook hook = exit_hook;
  exit_hook = nullptr;
  if (hook != nullptr) hook();
  std::exit(exit_code);
}

void BUMOUT(const std::string& ES) {
  write_line();
  write_line(shortstring(ES));
  end_run(2);
}

}  // namespace core
