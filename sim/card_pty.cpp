// The card's ZAL serial host port on a pseudo-terminal.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "card_transport.h"
#include "commands.h"
#include "pty.h"

namespace sim {

namespace {

// How often an idle line is looked after (see Pty::release_exclusive).
constexpr int IDLE_MS = 200;

void send_all(int fd, const std::string& bytes, Trace& trace) {
  if (bytes.empty()) return;
  trace.to_host(bytes);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      // The master is non-blocking; a full line buffer means no tool is reading.
      if (errno != EAGAIN || wait_readable(-1, 1) < 0) return;
    }
  }
}

}  // namespace

int serve_card_pty(CardModel& card, const CardFaults& faults, CrcMode mode, const std::string& link,
                   Trace& trace) {
  Pty pty(link);
  if (!pty.ok()) {
    std::fprintf(stderr, "zr90sim card: no pseudo-terminal: %s\n", pty.error().c_str());
    return EXIT_NO_ENDPOINT;
  }
  CardZalPort port(card, mode, faults);
  port.set_note_sink([&trace](const std::string& text) { trace.note(text); });
  announce_ready(pty.slave_path());
  char buffer[1024];
  for (;;) {
    int ready = wait_readable(pty.master_fd(), port.frame_pending() ? CardZalPort::SILENCE_MS : IDLE_MS);
    if (ready < 0) break;
    pty.release_exclusive();
    if (ready == 0) {
      if (port.frame_pending()) send_all(pty.master_fd(), port.silence(), trace);
      continue;
    }
    ssize_t n = read(pty.master_fd(), buffer, sizeof buffer);
    if (n <= 0) {
      // No tool has the line open (EIO): wait rather than spin.
      if (n < 0 && errno != EAGAIN && errno != EINTR && wait_readable(-1, IDLE_MS) < 0) break;
      continue;
    }
    std::string chunk(buffer, static_cast<std::size_t>(n));
    trace.from_host(chunk);
    send_all(pty.master_fd(), port.receive(chunk), trace);
  }
  return 0;
}

}  // namespace sim
