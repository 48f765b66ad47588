// The console on Windows. A key poll on a real console asks _kbhit, which leaves the
// key where it is. A pipe or a file cannot be peeked at reliably everywhere (some
// systems refuse PeekNamedPipe on an inherited pipe, and a wait on the handle may
// always be signalled), so there a reader thread takes the input in a blocking read:
// a byte it got is a key; the end of the input is not.
#include "platform/win32.h"
#include <conio.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/console.h"

namespace platform::console {

// The Windows loader gives a console program valid (or null) standard handles and
// new handles never take their place.
void guard_standard_streams() {}

namespace {

// What the reader thread hands over. Allocated once and never freed: the thread may
// still sit in its read while the process runs its exit handlers.
struct InputFeed {
  std::mutex lock;
  std::condition_variable arrived;
  std::string bytes;
  bool ended = false;
  // Bytes are waiting: the key poll asks without taking the lock.
  std::atomic<bool> seen{false};
};

// The state below is what the reader thread or the console control handler (which
// runs on a thread of its own) reaches, and what tells whether that handler is in
// place (the system cannot be asked); the rest is asked of the system when needed.

// Set by Ctrl-C (or Ctrl-Break) during the key poll; reset when a poll starts.
core::CancelToken interrupt;
InputFeed* feed = nullptr;
// Whether on_control is registered: the poll runs while it is.
bool polling = false;

HANDLE input_handle() { return GetStdHandle(STD_INPUT_HANDLE); }

bool input_is_console() {
  const HANDLE in = input_handle();
  DWORD mode = 0;
  return in != nullptr && in != INVALID_HANDLE_VALUE && GetFileType(in) == FILE_TYPE_CHAR &&
         GetConsoleMode(in, &mode) != 0;
}

void read_input(InputFeed* target) {
  const HANDLE in = input_handle();
  char chunk[256];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, chunk, sizeof chunk, &got, nullptr) || got == 0) break;
    std::lock_guard<std::mutex> hold(target->lock);
    target->bytes.append(chunk, got);
    target->seen = true;
    target->arrived.notify_all();
  }
  std::lock_guard<std::mutex> hold(target->lock);
  target->ended = true;
  target->arrived.notify_all();
}

void start_reader() {
  if (feed != nullptr) return;
  feed = new InputFeed;
  std::thread(read_input, feed).detach();
}

BOOL WINAPI on_control(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    interrupt.cancel();
    return TRUE;
  }
  return FALSE;
}

// One line from the reader thread's bytes, once it runs.
std::string line_from_feed() {
  std::unique_lock<std::mutex> hold(feed->lock);
  std::size_t end;
  feed->arrived.wait(hold, [&] {
    end = feed->bytes.find('\n');
    return end != std::string::npos || feed->ended;
  });
  if (end == std::string::npos) end = feed->bytes.size();
  std::string line = feed->bytes.substr(0, end);
  feed->bytes.erase(0, end < feed->bytes.size() ? end + 1 : end);
  if (feed->bytes.empty()) feed->seen = false;
  return line;
}

// One line straight from the handle, a byte at a time, so that no buffer holds on to
// input beyond the line.
std::string line_from_handle() {
  const HANDLE in = input_handle();
  std::string line;
  for (;;) {
    char c = 0;
    DWORD got = 0;
    if (!ReadFile(in, &c, 1, &got, nullptr) || got == 0 || c == '\n') break;
    line.push_back(c);
  }
  return line;
}

}  // namespace

void sleep_ms(int ms) { Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0); }

std::string read_line() {
  std::string line = feed != nullptr ? line_from_feed() : line_from_handle();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

core::CancelToken& interrupt_token() { return interrupt; }

void catch_interrupts() {
  if (polling) return;
  polling = true;
  interrupt.reset();
  SetConsoleCtrlHandler(on_control, TRUE);
}

void start_key_poll() {
  // Within catch_interrupts an interrupt that came already still counts.
  catch_interrupts();
  if (!input_is_console()) start_reader();
}

// A console is asked each time: it is cheap, and no copy of the answer can go stale.
bool key_pressed() {
  if (interrupt.cancelled()) return true;
  if (input_is_console()) return _kbhit() != 0;
  return feed != nullptr && feed->seen;
}

bool input_is_terminal() { return input_is_console(); }

bool interrupted() { return interrupt.cancelled(); }

// The console's close and logoff events end the process whatever a handler does:
// nothing but Ctrl-C and Ctrl-Break reaches the run.
bool end_requested() { return false; }

int wait_key(int timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms < 0 ? 0 : timeout_ms);
  const bool on_console = input_is_console();
  for (;;) {
    if (interrupt.cancelled()) return NO_KEY;
    if (on_console && _kbhit() != 0) return _getch();
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return NO_KEY;
    // Console input also signals for mouse and focus events, which _kbhit does not
    // count, so the wait goes in short slices, each one asleep in the system.
    Sleep(static_cast<DWORD>(deadline - now < 20 ? deadline - now : 20));
  }
}

void stop_key_poll() {
  if (!polling) return;
  polling = false;
  SetConsoleCtrlHandler(on_control, FALSE);
}

namespace {

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

// The output mode to give back, and the size the view last drew for: a console sends
// no signal when its window changes, so the size is compared instead.
std::optional<DWORD> saved_output_mode;
ScreenSize drawn_size;

HANDLE output_handle() { return GetStdHandle(STD_OUTPUT_HANDLE); }

void write_console(std::string_view text) {
  DWORD wrote = 0;
  WriteFile(output_handle(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
}

}  // namespace

bool output_is_terminal() {
  const HANDLE out = output_handle();
  DWORD mode = 0;
  return out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) == FILE_TYPE_CHAR &&
         GetConsoleMode(out, &mode) != 0;
}

ScreenSize screen_size() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(output_handle(), &info)) return {};
  return {info.srWindow.Right - info.srWindow.Left + 1, info.srWindow.Bottom - info.srWindow.Top + 1};
}

void enter_screen() {
  DWORD mode = 0;
  if (saved_output_mode || !GetConsoleMode(output_handle(), &mode)) return;
  if (!SetConsoleMode(output_handle(), mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return;
  saved_output_mode = mode;
  drawn_size = screen_size();
  write_console("\x1b[?1049h\x1b[?25l");
}

void leave_screen() {
  if (!saved_output_mode) return;
  write_console("\x1b[?25h\x1b[?1049l");
  SetConsoleMode(output_handle(), *saved_output_mode);
  saved_output_mode.reset();
}

bool screen_needs_repaint() {
  const ScreenSize now = screen_size();
  if (now.columns == drawn_size.columns && now.rows == drawn_size.rows) return false;
  drawn_size = now;
  return true;
}

}  // namespace platform::console
