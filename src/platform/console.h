// The console as the programs use it: sleeps, one line of input, and a key poll
// that neither blocks nor consumes the key.
#pragma once

#include <string>

namespace platform::console {

// Makes sure standard input, output and error are open (on /dev/null where they
// were closed), so that no port or socket opened later takes their place and is
// mistaken for the console.
void guard_standard_streams();

void sleep_ms(int ms);

// Reads one line of standard input and discards the line end; empty at end of file.
std::string read_line();

// Prepares the key poll: a terminal is switched to non-canonical input (restored on
// every way out of the process) and Ctrl-C is caught so that it ends a repeat loop.
void start_key_poll();
// True when a key is waiting (not consumed) or Ctrl-C was pressed. When standard
// input is not a terminal, a byte waiting counts as a key; end of file does not.
bool key_pressed();
// Restores the terminal (also done by the exit hook).
void stop_key_poll();

}  // namespace platform::console
