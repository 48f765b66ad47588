// The ways a run of parmpeek or parmpoke ends: standard output flushed, the terminal
// given back, the exit code given.
#pragma once

#include <string>

#include "core/result.h"

namespace tools {

[[noreturn]] void end_run(int exit_code);

// The common fatal end: an empty line, the message on its own line, exit code 2.
[[noreturn]] void BUMOUT(const std::string& message);

// A failure of the library, shown as the programs always showed it; exit code 2.
[[noreturn]] void end_with(const core::Failure& failure);

}  // namespace tools
