#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

#include "card_transport.h"

namespace sim {

namespace {

volatile sig_atomic_t stop_requested = 0;
volatile sig_atomic_t idle_requested = 0;
sigset_t waiting_mask;

void on_stop(int) { stop_requested = 1; }
void on_idle_request(int) { idle_requested = 1; }

}  // namespace

void install_stop_signals() {
  struct sigaction action {};
  action.sa_handler = on_stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  action.sa_handler = on_idle_request;
  sigaction(SIGUSR1, &action, nullptr);
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGTERM);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGUSR1);
  sigprocmask(SIG_BLOCK, &held, &waiting_mask);
  sigdelset(&waiting_mask, SIGTERM);
  sigdelset(&waiting_mask, SIGINT);
  sigdelset(&waiting_mask, SIGUSR1);
  signal(SIGPIPE, SIG_IGN);
}

bool take_idle_request() {
  if (!idle_requested) return false;
  idle_requested = 0;
  return true;
}

namespace {

int wait_for(int fd, short events, int timeout_ms) {
  pollfd p{fd, events, 0};
  timespec limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
  int ready = ppoll(&p, 1, timeout_ms < 0 ? nullptr : &limit, &waiting_mask);
  if (stop_requested) return -1;
  if (ready < 0) return errno == EINTR ? 0 : -1;
  return ready > 0 ? 1 : 0;
}

}  // namespace

int wait_readable(int fd, int timeout_ms) {
  if (stop_requested) return -1;
  if (idle_requested) return 0;
  return wait_for(fd, POLLIN, timeout_ms);
}

// An idle request that comes meanwhile stays pending for the serving loop.
int wait_writable(int fd) {
  if (stop_requested) return -1;
  return wait_for(fd, POLLOUT, -1);
}

}  // namespace sim
