// The simulator's two roles.
#pragma once

#include <string>
#include <vector>

namespace sim {

// zr90sim drive [options]: a drive on a pseudo-terminal.
int run_drive(const std::vector<std::string>& args);
// zr90sim card [options]: the FPGA card on a loopback address or a pseudo-terminal.
int run_card(const std::vector<std::string>& args);

// Prints "ready <value>" on its own line and flushes: the line a test or a user
// waits for before starting the tools.
void announce_ready(const std::string& value);
// Prints "idle" on its own line and flushes: the answer to SIGUSR1 once everything
// the host sent has been read and dealt with (see --help).
void announce_idle();

}  // namespace sim
