// The one way a run ends: standard output flushed, the terminal restored, the exit code given.
#pragma once

#include <string>

namespace core {

// A hook run once before the process ends (the console registers its terminal restore).
using ExitHook = void (*)();
void set_exit_hook(ExitHook hook);

// Flushes standard output, runs the exit hook and ends the process.
[[noreturn]] void end_run(int exit_code);

// The common fatal exit: an empty line, the message on its own line, exit code 2.
[[noreturn]] void BUMOUT(const std::string& ES);

}  // namespace core
