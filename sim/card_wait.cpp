#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

#include "card_transport.h"

namespace sim {

namespace {

volatile sig_atomic_t stop_requested = 0;
sigset_t waiting_mask;

void on_stop(int) { stop_requested = 1; }

}  // namespace

void install_stop_signals() {
  struct sigaction action {};
  action.sa_handler = on_stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigprocmask(SIG_BLOCK, &stops, &waiting_mask);
  sigdelset(&waiting_mask, SIGTERM);
  sigdelset(&waiting_mask, SIGINT);
  signal(SIGPIPE, SIG_IGN);
}

int wait_readable(int fd, int timeout_ms) {
  if (stop_requested) return -1;
  pollfd p{fd, POLLIN, 0};
  timespec limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
  int ready = ppoll(&p, 1, timeout_ms < 0 ? nullptr : &limit, &waiting_mask);
  if (stop_requested) return -1;
  if (ready < 0) return errno == EINTR ? 0 : -1;
  return ready > 0 ? 1 : 0;
}

}  // namespace sim
