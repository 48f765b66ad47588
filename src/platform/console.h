// The console as the programs use it: sleeps, one line of input, and a key poll
// that neither blocks nor consumes the key.
#pragma once

#include <string>

#include "core/clock.h"

namespace platform::console {

// Makes sure standard input, output and error are open (on /dev/null where they
// were closed), so that no port or socket opened later takes their place and is
// mistaken for the console.
void guard_standard_streams();

void sleep_ms(int ms);

// Reads one line of standard input and discards the line end; empty at end of file.
std::string read_line();

// Set by Ctrl-C (or a request to end) while a key poll runs, and reset when one
// starts. A front end that lets an interrupt cut its link's waits short puts this
// token into the link's context; one that must finish a write it started does not.
// Lock-free, as the signal (or console control) handler sets it.
core::CancelToken& interrupt_token();

// For a run that reads no keys: from now on Ctrl-C and the requests to end (SIGTERM,
// a closed terminal) set interrupt_token() instead of ending the process, and the
// terminal stays as it is. stop_key_poll ends it, as it ends a key poll.
void catch_interrupts();

// Prepares the key poll (within catch_interrupts too): a terminal is switched to non-canonical input (restored on
// every way out of the process, and while the process is stopped by Ctrl-Z) and
// Ctrl-C is caught so that it ends a repeat loop.
void start_key_poll();
// True when a key is waiting (not consumed) or Ctrl-C was pressed. When standard
// input is not a terminal, a byte waiting counts as a key; end of file does not.
bool key_pressed();
// Restores the terminal and the signal handling the poll changed.
void stop_key_poll();

// True when standard input is a terminal (or a console), where a person can answer.
bool input_is_terminal();

// During a key poll: waits up to timeout_ms for a key from the terminal and takes
// it (it is not left for the shell). Nothing when none came, or at once after Ctrl-C.
// Standard input that is not a terminal is not read: the wait is then only a wait.
int wait_key(int timeout_ms);
inline constexpr int NO_KEY = -1;

// True once Ctrl-C (or a request to end) arrived during the key poll: the state of
// interrupt_token().
bool interrupted();
// True once a request to end the process (SIGTERM, a closed terminal) arrived during
// the key poll, which Ctrl-C is not: a program that takes Ctrl-C as "stop what runs"
// still ends on it.
bool end_requested();

// A view drawn over the whole terminal (zr90 watch on a terminal).

// True when standard output is a terminal (a console on Windows).
bool output_is_terminal();

struct ScreenSize {
  int columns = 80;
  int rows = 24;
};
// The size of standard output's terminal; 80 by 24 where it cannot be asked.
ScreenSize screen_size();

// During a key poll: standard output's terminal shows a screen of its own (the
// alternate screen, on Windows with virtual-terminal sequences switched on) with the
// cursor hidden. The user's screen comes back with leave_screen, and also before the
// process stops (Ctrl-Z) or a signal ends it; fg takes the view's screen again.
void enter_screen();
void leave_screen();
// The view's screen while this lives, the user's again on every way out.
class ScreenTaken {
 public:
  ScreenTaken() { enter_screen(); }
  ~ScreenTaken() { leave_screen(); }
  ScreenTaken(const ScreenTaken&) = delete;
  ScreenTaken& operator=(const ScreenTaken&) = delete;
};
// True, once, when what the view's screen shows was lost or no longer fits: after
// fg, or when the window changed size. The view then draws everything again.
bool screen_needs_repaint();

}  // namespace platform::console
