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

// The state below is all that the signal handlers reach, which is why it lives at
// namespace scope; everything else is asked of the system when it is needed.

// Set by Ctrl-C (or a request to end) during the key poll; reset when a poll starts.
core::CancelToken interrupt;
// Set with it by a request to end (not Ctrl-C).
volatile std::sig_atomic_t ending = 0;
// Read by the signal handlers: set only once saved_terminal is complete.
volatile std::sig_atomic_t terminal_changed = 0;
termios saved_terminal{};

// A full-screen view runs (wanted) and its screen is the one the terminal shows
// (shown); set in this order, cleared in the reverse one.
volatile std::sig_atomic_t screen_wanted = 0;
volatile std::sig_atomic_t screen_shown = 0;
// The view's screen was lost (fg) or changed size: set by the handlers, taken by the view.
std::atomic<bool> repaint{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// The alternate screen with the cursor hidden, and back.
constexpr char ENTER_SCREEN[] = "\x1b[?1049h\x1b[?25l";
constexpr char LEAVE_SCREEN[] = "\x1b[?25h\x1b[?1049l";

// What the key poll does with a signal it catches.
enum class Catch {
  // Ctrl-C, and the polite requests to end (kill, a closed terminal), end a repeat
  // loop like a key, so that the terminal is given back on the way out.
  interrupt_key,
  ending,
  // Ctrl-Z gives the terminal back before the process stops; a continued process in
  // the foreground takes it again.
  stop,
  resume,
  // A signal whose default action ends the process (some with a core dump): the
  // terminal is given back first, then the signal does what it always does.
  fatal,
  // The window changed size: a view on the screen draws itself again.
  resize,
};
struct Caught {
  int signal_number;
  Catch what;
};
// SIGINT comes first: it is the mark of a running poll (see polling()).
constexpr Caught CAUGHT[] = {
    {SIGINT, Catch::interrupt_key},   {SIGTERM, Catch::ending}, {SIGHUP, Catch::ending},  {SIGTSTP, Catch::stop},
    {SIGCONT, Catch::resume},  {SIGQUIT, Catch::fatal},  {SIGPIPE, Catch::fatal},  {SIGUSR1, Catch::fatal},
    {SIGUSR2, Catch::fatal},   {SIGALRM, Catch::fatal},  {SIGVTALRM, Catch::fatal}, {SIGPROF, Catch::fatal},
    {SIGXCPU, Catch::fatal},   {SIGXFSZ, Catch::fatal},  {SIGABRT, Catch::fatal},  {SIGTRAP, Catch::fatal},
    {SIGSYS, Catch::fatal},    {SIGWINCH, Catch::resize},
};
static_assert(CAUGHT[0].signal_number == SIGINT);
// What each caught signal did before the poll, to be put back when it stops.
struct sigaction saved_actions[std::size(CAUGHT)] {};

void on_interrupt(int);

// The poll runs while Ctrl-C is ours: the system keeps that fact, not a copy of it.
bool polling() {
  struct sigaction current {};
  return sigaction(SIGINT, nullptr, &current) == 0 && current.sa_handler == on_interrupt;
}

// A program in the background must leave the terminal to the foreground job: the
// first change would stop it (SIGTTOU). A terminal that is not this session's
// controlling one has no foreground, and is ours to use.
bool in_foreground() {
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  return foreground < 0 || foreground == getpgrp();
}

// A terminal hands over each key at once and shows nothing; the key stays queued
// for the poll to see. The settings to give back are the ones found now: whatever
// the user set while the process was stopped is what they expect back. Called from
// the handlers too, so only async-signal-safe calls.
void take_terminal() {
  if (terminal_changed || isatty(STDIN_FILENO) == 0 || !in_foreground()) return;
  termios found{};
  if (tcgetattr(STDIN_FILENO, &found) != 0) return;
  saved_terminal = found;
  termios immediate = found;
  immediate.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  immediate.c_cc[VMIN] = 0;
  immediate.c_cc[VTIME] = 0;
  // A signal may end the run the moment the terminal changes: the handlers that
  // give it back must already know what to give back.
  terminal_changed = 1;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &immediate) != 0) terminal_changed = 0;
}

void give_terminal_back() {
  if (!terminal_changed) return;
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  terminal_changed = 0;
}

// Called from the handlers too: write(2) only.
void write_all(const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t wrote = write(STDOUT_FILENO, text, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    text += wrote;
    size -= static_cast<std::size_t>(wrote);
  }
}

void show_view_screen() {
  if (!screen_wanted || screen_shown || !in_foreground()) return;
  write_all(ENTER_SCREEN, sizeof ENTER_SCREEN - 1);
  screen_shown = 1;
  repaint = true;
}

void show_user_screen() {
  if (!screen_shown) return;
  screen_shown = 0;
  write_all(LEAVE_SCREEN, sizeof LEAVE_SCREEN - 1);
}

void on_interrupt(int) { interrupt.cancel(); }

void on_end_request(int) {
  ending = 1;
  interrupt.cancel();
}

void on_resize(int) { repaint = true; }

// Runs with the default action already back in place (SA_RESETHAND) and the
// signal not blocked (SA_NODEFER): raising it again ends the process its own way.
void on_fatal_signal(int signal_number) {
  const int saved_errno = errno;
  show_user_screen();
  if (terminal_changed) tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  raise(signal_number);
  errno = saved_errno;
}

// Ctrl-Z: the shell gets its terminal as it was, then the process stops as it
// would have without this handler (SA_NODEFER leaves the signal unblocked). Once
// continued, it takes the terminal again when it is in the foreground; a stop the
// system refused (an orphaned process group) ends up there at once.
void on_stop(int) {
  const int saved_errno = errno;
  show_user_screen();
  give_terminal_back();
  struct sigaction ours {};
  struct sigaction stop_default {};
  stop_default.sa_handler = SIG_DFL;
  sigemptyset(&stop_default.sa_mask);
  sigaction(SIGTSTP, &stop_default, &ours);
  raise(SIGTSTP);
  sigaction(SIGTSTP, &ours, nullptr);
  take_terminal();
  show_view_screen();
  errno = saved_errno;
}

// "fg" after a stop, or after a run that began in the background.
void on_continue(int) {
  const int saved_errno = errno;
  if (polling()) {
    take_terminal();
    show_view_screen();
  }
  errno = saved_errno;
}

// Ctrl-Z and its continuation wait while the poll's state changes, so that neither
// handler sees it half made.
class HoldStops {
 public:
  HoldStops() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTSTP);
    sigaddset(&stops, SIGCONT);
    sigprocmask(SIG_BLOCK, &stops, &before_);
  }
  ~HoldStops() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
  HoldStops(const HoldStops&) = delete;
  HoldStops& operator=(const HoldStops&) = delete;

 private:
  sigset_t before_{};
};

struct sigaction action_for(Catch what) {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  switch (what) {
    case Catch::interrupt_key:
    case Catch::ending:
      // The run then reaches its normal end: the access in progress completes (or
      // meets its own time limit) first. A write to standard output goes on where it
      // was (a wait in poll() still ends at once).
      action.sa_handler = what == Catch::ending ? on_end_request : on_interrupt;
      action.sa_flags = SA_RESTART;
      break;
    case Catch::stop:
      // Each of stop and continue runs whole before the other; the stop itself
      // needs Ctrl-Z unblocked.
      action.sa_handler = on_stop;
      action.sa_flags = SA_NODEFER;
      sigaddset(&action.sa_mask, SIGCONT);
      break;
    case Catch::resume:
      action.sa_handler = on_continue;
      sigaddset(&action.sa_mask, SIGTSTP);
      break;
    case Catch::fatal:
      action.sa_handler = on_fatal_signal;
      action.sa_flags = SA_RESETHAND | SA_NODEFER;
      break;
    case Catch::resize:
      action.sa_handler = on_resize;
      action.sa_flags = SA_RESTART;
      break;
  }
  return action;
}

void catch_signals() {
  for (std::size_t i = 0; i < std::size(CAUGHT); ++i) {
    sigaction(CAUGHT[i].signal_number, nullptr, &saved_actions[i]);
    // A signal the caller ignores (SIGPIPE under some shells, Ctrl-Z without job
    // control) stays ignored; an ignored request to end still ends a repeat loop.
    const bool keeps_ignored = CAUGHT[i].what == Catch::stop || CAUGHT[i].what == Catch::fatal;
    if (keeps_ignored && saved_actions[i].sa_handler == SIG_IGN) continue;
    const struct sigaction action = action_for(CAUGHT[i].what);
    sigaction(CAUGHT[i].signal_number, &action, nullptr);
  }
}

// In reverse, so that Ctrl-C, the mark of the poll, goes last.
void release_signals() {
  for (std::size_t i = std::size(CAUGHT); i-- > 0;) sigaction(CAUGHT[i].signal_number, &saved_actions[i], nullptr);
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
    // An interrupt caught by the run ends the question unanswered: the wait is in
    // poll(), which a signal always cuts short, not in a read() it would restart.
    if (interrupt.cancelled()) return {};
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') break;
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

core::CancelToken& interrupt_token() { return interrupt; }

void catch_interrupts() {
  if (polling()) return;
  const HoldStops hold;
  interrupt.reset();
  ending = 0;
  catch_signals();
}

void start_key_poll() {
  const HoldStops hold;
  // Within catch_interrupts an interrupt that came already still counts.
  if (!polling()) {
    interrupt.reset();
    ending = 0;
    catch_signals();
  }
  take_terminal();
}

bool key_pressed() {
  if (interrupt.cancelled()) return true;
  // Keys are the foreground job's: a run in the background ends by a signal only.
  if (isatty(STDIN_FILENO) != 0 && !in_foreground()) return false;
  int waiting = 0;
  return ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0;
}

bool input_is_terminal() { return isatty(STDIN_FILENO) != 0; }

bool interrupted() { return interrupt.cancelled(); }

bool end_requested() { return ending != 0; }

int wait_key(int timeout_ms) {
  if (interrupt.cancelled()) return NO_KEY;
  const bool from_terminal = terminal_changed;
  pollfd input{STDIN_FILENO, POLLIN, 0};
  // A signal ends the wait early (EINTR): that is what Ctrl-C is for.
  const int ready = poll(from_terminal ? &input : nullptr, from_terminal ? 1 : 0, timeout_ms < 0 ? 0 : timeout_ms);
  if (ready <= 0 || !from_terminal || (input.revents & POLLIN) == 0) return NO_KEY;
  unsigned char key = 0;
  return read(STDIN_FILENO, &key, 1) == 1 ? key : NO_KEY;
}

void stop_key_poll() {
  if (!polling()) return;
  // A Ctrl-Z that comes now stops the process once the terminal is back.
  const HoldStops hold;
  give_terminal_back();
  release_signals();
}

bool output_is_terminal() { return isatty(STDOUT_FILENO) != 0; }

ScreenSize screen_size() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return {};
  return {size.ws_col, size.ws_row};
}

void enter_screen() {
  const HoldStops hold;
  screen_wanted = 1;
  show_view_screen();
}

void leave_screen() {
  const HoldStops hold;
  show_user_screen();
  screen_wanted = 0;
}

bool screen_needs_repaint() { return repaint.exchange(false); }

}  // namespace platform::console
