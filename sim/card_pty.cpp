// The card's ZAL serial host port on a pseudo-terminal.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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
      if (errno != EAGAIN || wait_writable(fd) < 0) return;
    }
  }
}

}  // namespace

int serve_card_pty(CardModel& card, const CardFaults& faults, CrcMode mode, const std::string& link,
                   Trace& trace) {
  using Clock = std::chrono::steady_clock;
  Pty pty(link);
  if (!pty.ok()) {
    std::fprintf(stderr, "zr90sim card: no pseudo-terminal: %s\n", pty.error().c_str());
    return EXIT_NO_ENDPOINT;
  }
  CardZalPort port(card, mode, faults);
  port.set_note_sink([&trace](const std::string& text) { trace.note(text); });
  announce_ready(pty.slave_path());
  const auto silence = std::chrono::milliseconds(CardZalPort::SILENCE_MS);
  Clock::time_point last_bytes{};
  bool idle_wanted = false;
  char buffer[1024];
  for (;;) {
    int timeout = IDLE_MS;
    if (port.frame_pending()) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(last_bytes + silence - Clock::now()).count();
      timeout = static_cast<int>(std::max<long long>(left, 0));
    }
    int ready = wait_readable(pty.master_fd(), timeout);
    if (ready < 0) break;
    if (take_idle_request()) idle_wanted = true;
    pty.release_exclusive();
    Clock::time_point now = Clock::now();
    // The silence is judged by the clock, not by how the wait ended: woken late, we
    // may find the host's next bytes already there, and they came after the silence
    // the partial frame was waiting for.
    if (port.frame_pending() && now >= last_bytes + silence) send_all(pty.master_fd(), port.silence(), trace);
    if (ready == 0 && !idle_wanted) continue;
    for (;;) {
      ssize_t n = read(pty.master_fd(), buffer, sizeof buffer);
      if (n <= 0) {
        // No tool has the line open (EIO): wait rather than spin.
        if (n < 0 && errno != EAGAIN && errno != EINTR && wait_readable(-1, IDLE_MS) < 0) return 0;
        break;
      }
      std::string chunk(buffer, static_cast<std::size_t>(n));
      trace.from_host(chunk);
      last_bytes = now;
      send_all(pty.master_fd(), port.receive(chunk), trace);
      // Chunk by chunk as they come, except when asked to take in all there is.
      if (!idle_wanted) break;
    }
    if (idle_wanted && !port.frame_pending()) {
      idle_wanted = false;
      announce_idle();
    }
  }
  return 0;
}

}  // namespace sim
