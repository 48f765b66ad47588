// The console on POSIX systems. Standard input is read with read(2) only, never
// through a buffered stream, so that the key poll's FIONREAD sees every byte that
// is waiting.
#include "platform/console.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <iterator>


namespace platform::console {

namespace {

volatile std::sig_atomic_t interrupted_flag = 0;
// The token an interrupt also sets during the key poll, if the front end gave one.
std::atomic<core::CancelToken*> interrupt_token{nullptr};
static_assert(std::atomic<core::CancelToken*>::is_always_lock_free);

bool polling = false;
// Read by the signal handlers: set only once saved_terminal is complete.
volatile std::sig_atomic_t terminal_changed = 0;
termios saved_terminal{};
// Ctrl-C, and the polite requests to end (kill, a closed terminal), end a repeat
// loop like a key, so that the terminal is given back on the way out.
constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction saved_actions[std::size(ENDING_SIGNALS)] {};
// Signals whose default action ends the process (some with a core dump): the
// terminal is given back first, then the signal does what it always does.
constexpr int FATAL_SIGNALS[] = {SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                                 SIGPROF, SIGXCPU, SIGXFSZ, SIGABRT, SIGTRAP, SIGSYS};
struct sigaction saved_fatal_actions[std::size(FATAL_SIGNALS)] {};

void on_interrupt(int) {
  interrupted_flag = 1;
  if (core::CancelToken* token = interrupt_token.load()) token->cancel();
}

void restore_terminal() {
  if (!terminal_changed) return;
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  terminal_changed = 0;
}

// Runs with the default action already back in place (SA_RESETHAND) and the
// signal not blocked (SA_NODEFER): raising it again ends the process its own way.
void on_fatal_signal(int signal_number) {
  const int saved_errno = errno;
  if (terminal_changed) tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  raise(signal_number);
  errno = saved_errno;
}

// A program in the background must leave the terminal to the foreground job: the
// first change would stop it (SIGTTOU). A terminal that is not this session's
// controlling one has no foreground, and is ours to use.
bool in_foreground() {
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  return foreground < 0 || foreground == getpgrp();
}

// A terminal hands over each key at once and shows nothing; the key stays queued
// for the poll to see.
void make_terminal_immediate() {
  if (isatty(STDIN_FILENO) == 0 || !in_foreground() || tcgetattr(STDIN_FILENO, &saved_terminal) != 0) return;
  termios immediate = saved_terminal;
  immediate.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  immediate.c_cc[VMIN] = 0;
  immediate.c_cc[VTIME] = 0;
  // A signal may end the run the moment the terminal changes: the handlers that
  // give it back are in place first.
  terminal_changed = 1;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &immediate) != 0) terminal_changed = 0;
}

void catch_fatal_signals() {
  struct sigaction action {};
  action.sa_handler = on_fatal_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  for (std::size_t i = 0; i < std::size(FATAL_SIGNALS); ++i) {
    sigaction(FATAL_SIGNALS[i], nullptr, &saved_fatal_actions[i]);
    // A signal the caller ignores (SIGPIPE under some shells) stays ignored.
    if (saved_fatal_actions[i].sa_handler == SIG_IGN) continue;
    sigaction(FATAL_SIGNALS[i], &action, nullptr);
  }
}

void release_fatal_signals() {
  for (std::size_t i = 0; i < std::size(FATAL_SIGNALS); ++i) sigaction(FATAL_SIGNALS[i], &saved_fatal_actions[i], nullptr);
}

// The run then reaches its normal end: the access in progress completes (or meets
// its own time limit) first.
void catch_interrupt() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  for (std::size_t i = 0; i < std::size(ENDING_SIGNALS); ++i) sigaction(ENDING_SIGNALS[i], &action, &saved_actions[i]);
}

void release_interrupt() {
  for (std::size_t i = 0; i < std::size(ENDING_SIGNALS); ++i) sigaction(ENDING_SIGNALS[i], &saved_actions[i], nullptr);
}

}  // namespace

void guard_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free descriptor, which is this one.
    if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) return;
  }
}

void sleep_ms(int ms) {
  if (ms <= 0) return;
  timespec remaining{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

std::string read_line() {
  std::string line;
  char c = 0;
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') break;
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void start_key_poll(core::CancelToken* cancel) {
  if (polling) return;
  polling = true;
  interrupted_flag = 0;
  interrupt_token = cancel;
  catch_interrupt();
  catch_fatal_signals();
  make_terminal_immediate();
}

bool key_pressed() {
  if (interrupted_flag != 0) return true;
  // Keys are the foreground job's: a run in the background ends by a signal only.
  if (isatty(STDIN_FILENO) != 0 && !in_foreground()) return false;
  int waiting = 0;
  return ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0;
}

bool input_is_terminal() { return isatty(STDIN_FILENO) != 0; }

bool interrupted() { return interrupted_flag != 0; }

int wait_key(int timeout_ms) {
  if (interrupted_flag != 0) return NO_KEY;
  const bool from_terminal = terminal_changed;
  pollfd input{STDIN_FILENO, POLLIN, 0};
  // A signal ends the wait early (EINTR): that is what Ctrl-C is for.
  const int ready = poll(from_terminal ? &input : nullptr, from_terminal ? 1 : 0, timeout_ms < 0 ? 0 : timeout_ms);
  if (ready <= 0 || !from_terminal || (input.revents & POLLIN) == 0) return NO_KEY;
  unsigned char key = 0;
  return read(STDIN_FILENO, &key, 1) == 1 ? key : NO_KEY;
}

void stop_key_poll() {
  if (!polling) return;
  polling = false;
  restore_terminal();
  release_fatal_signals();
  release_interrupt();
  interrupt_token = nullptr;
}

}  // namespace platform::console
