// zr90sim drive: one drive on a pseudo-terminal, served by a single-threaded poll loop.
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <memory>

#include "commands.h"
#include "drive_model.h"
#include "drive_options.h"
#include "drive_protocols.h"
#include "pty.h"
#include "trace.h"

namespace sim {

namespace {

constexpr uint8_t WRONG_COOKIE = 0xA5;
constexpr char BABBLE_BYTE = 0x55;
// Sent after a reply by the stray fault: a digit, so that a text reply it shifted
// would still look like one.
constexpr char STRAY_BYTE = 0x37;
// About 115200 bit/s: a line that never falls silent for a tool's silence test.
constexpr std::size_t BABBLE_CHUNK = 12;
constexpr auto BABBLE_PERIOD = std::chrono::milliseconds(1);

class DriveServer {
 public:
  DriveServer(const DriveOptions& options, Pty& pty, Trace& trace, DriveModel& model)
      : options_(options), pty_(pty), trace_(trace) {
    DeviceEvents events{[this](const std::string& request, const std::string& reply) { transaction(request, reply); },
                        [this](const std::string& bytes, const std::string& why) { dropped(bytes, why); }};
    if (options.protocol == DriveProtocol::zal)
      device_ = std::make_unique<ZalDevice>(model, options, events);
    else
      device_ = std::make_unique<TextDevice>(model, options, events);
  }

  // Serves until a stop signal arrives on signal_fd; SIGUSR1 there asks for "idle".
  void run(int signal_fd) {
    next_babble_ = Clock::now();
    for (;;) {
      pollfd fds[2] = {{pty_.master_fd(), static_cast<short>(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0},
                       {signal_fd, POLLIN, 0}};
      int ready = poll(fds, 2, poll_timeout(Clock::now()));
      if (ready < 0 && errno != EINTR) {
        std::perror("zr90sim: poll");
        return;
      }
      if (ready > 0 && (fds[1].revents & POLLIN) != 0 && !take_signal(signal_fd)) return;
      Clock::time_point now = Clock::now();
      now_ = now;
      // A deadline that passed while we were not scheduled is met before newer bytes
      // are decoded: they came after the silence, however late we woke to see it.
      expire_due(now);
      if (idle_wanted_) {
        while (receive_input(now)) {
        }
      } else if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
        receive_input(now);
      }
      expire_due(now);
      release_due(now);
      babble(now);
      flush_output();
      // Everything sent is read now; idle once no frame and no reply is in progress.
      if (idle_wanted_ && !device_->deadline() && scheduled_.empty()) {
        idle_wanted_ = false;
        announce_idle();
      }
    }
  }

  void print_stats() const {
    std::printf("stats transactions=%ld dropped=%ld\n", transactions_, dropped_);
    std::fflush(stdout);
  }

 private:
  // False when a stop was asked for.
  bool take_signal(int signal_fd) {
    signalfd_siginfo info{};
    if (read(signal_fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return true;
    if (info.ssi_signo != SIGUSR1) return false;
    idle_wanted_ = true;
    return true;
  }

  void expire_due(Clock::time_point now) {
    if (auto due = device_->deadline(); due && now >= *due) device_->expire(now);
  }

  // False when there was nothing to read.
  bool receive_input(Clock::time_point now) {
    char buffer[4096];
    ssize_t n = read(pty_.master_fd(), buffer, sizeof buffer);
    if (n <= 0) return false;
    // A tool has the line open: it has set its exclusive flag by now.
    pty_.release_exclusive();
    if (buffer[0] != TIOCPKT_DATA) {
      // A tool opening the port flushes it, and on a pseudo-terminal that also
      // discards what the previous tool sent and we had not read yet: a frame
      // cut that way must not swallow the new tool's first bytes.
      if ((buffer[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) != 0 && !options_.faults.echo &&
          !options_.faults.babble)
        device_->host_flushed(now);
      return true;
    }
    std::string chunk(buffer + 1, static_cast<std::size_t>(n - 1));
    if (chunk.empty()) return true;
    if (!at_our_rate(chunk)) return true;
    if (options_.faults.echo) {
      trace_.from_host(chunk);
      schedule(chunk, now);
      return true;
    }
    if (options_.faults.babble) {
      trace_.from_host(chunk);
      return true;
    }
    for (char c : chunk) device_->receive(static_cast<uint8_t>(c), now);
    return true;
  }

  // A drive at a fixed rate hears only noise from a host at another: nothing it can
  // answer. A pseudo-terminal carries the bytes at any rate, so the rate set decides.
  bool at_our_rate(const std::string& chunk) {
    if (options_.baud <= 0) return true;
    const long rate = pty_.line_rate();
    if (rate == options_.baud) return true;
    dropped(chunk, "the line is set to " + std::to_string(rate) + " bit/s, not " + std::to_string(options_.baud));
    return false;
  }

  void transaction(const std::string& request, const std::string& reply) {
    trace_.from_host(request);
    ++transactions_;
    const DriveFaults& f = options_.faults;
    if (f.silent || (f.silent_after >= 0 && transactions_ > f.silent_after)) return;
    if (std::find(f.unanswered.begin(), f.unanswered.end(), transactions_) != f.unanswered.end()) return;
    std::string out = reply;
    if (f.partial && !out.empty()) out.pop_back();
    for (const DriveFaults::Garbled& garbled : f.garbled)
      if (garbled.transaction == transactions_) out = garbled.text + '\r';
    if (std::find(f.extra.begin(), f.extra.end(), transactions_) != f.extra.end()) out += out;
    if (std::find(f.stray.begin(), f.stray.end(), transactions_) != f.stray.end()) out += STRAY_BYTE;
    int delay_ms = f.delay_ms;
    for (const DriveFaults::Timed& late : f.late)
      if (late.transaction == transactions_) delay_ms += late.ms;
    // From the time the request was read: a reply without delay then goes out in the
    // same pass, not after one more timed wake-up, which a busy machine may delay.
    const Clock::time_point due = now_ + std::chrono::milliseconds(delay_ms);
    for (const DriveFaults::Timed& split : f.split) {
      if (split.transaction != transactions_ || out.size() < 2) continue;
      const std::size_t half = out.size() / 2;
      schedule(out.substr(0, half), due);
      schedule(out.substr(half), due + std::chrono::milliseconds(split.ms));
      return;
    }
    schedule(out, due);
  }

  void dropped(const std::string& bytes, const std::string& why) {
    trace_.from_host(bytes);
    trace_.note("dropped: " + why);
    ++dropped_;
  }

  // Kept in time order: a late reply may be due after one scheduled later.
  void schedule(const std::string& bytes, Clock::time_point due) {
    if (bytes.empty()) return;
    auto at = std::find_if(scheduled_.begin(), scheduled_.end(), [&](const auto& entry) { return entry.first > due; });
    scheduled_.emplace(at, due, bytes);
  }

  void release_due(Clock::time_point now) {
    while (!scheduled_.empty() && scheduled_.front().first <= now) {
      trace_.to_host(scheduled_.front().second);
      out_ += scheduled_.front().second;
      scheduled_.pop_front();
    }
  }

  void babble(Clock::time_point now) {
    if (!options_.faults.babble || now < next_babble_) return;
    next_babble_ = now + BABBLE_PERIOD;
    if (!out_.empty()) return;  // the line is full: nobody is reading
    std::string chunk(BABBLE_CHUNK, BABBLE_BYTE);
    trace_.to_host(chunk);
    out_ += chunk;
  }

  void flush_output() {
    while (!out_.empty()) {
      ssize_t n = write(pty_.master_fd(), out_.data(), out_.size());
      if (n <= 0) return;  // full (EAGAIN): poll tells when it drains
      out_.erase(0, static_cast<std::size_t>(n));
    }
  }

  int poll_timeout(Clock::time_point now) const {
    std::optional<Clock::time_point> next = device_->deadline();
    auto earlier = [&](Clock::time_point t) { next = next ? std::min(*next, t) : t; };
    if (!scheduled_.empty()) earlier(scheduled_.front().first);
    if (options_.faults.babble && out_.empty()) earlier(next_babble_);
    if (!next) return -1;
    if (*next <= now) return 0;
    // Rounded up, so that we never wake a little early and spin.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
    return static_cast<int>(std::min<long long>(ms, 60000));
  }

  const DriveOptions& options_;
  Pty& pty_;
  Trace& trace_;
  std::unique_ptr<DriveDevice> device_;
  std::deque<std::pair<Clock::time_point, std::string>> scheduled_;
  std::string out_;
  Clock::time_point next_babble_{};
  long transactions_ = 0;
  long dropped_ = 0;
  bool idle_wanted_ = false;
  Clock::time_point now_{};  // this pass of the loop
};

// Termination and the idle request arrive as a readable descriptor, so the poll
// loop needs no handler.
int termination_fd() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  signal(SIGPIPE, SIG_IGN);
  return signalfd(-1, &set, SFD_CLOEXEC);
}

void apply_presets(const DriveOptions& options, DriveModel& model) {
  for (const auto& [address, value] : options.ram_presets) model.set_ram_word(address, value);
  for (const auto& [address, value] : options.eeprom_presets) model.set_eeprom_word(address, value);
  if (options.faults.bad_cookie) model.set_cookie(WRONG_COOKIE);
  if (options.faults.nonvol_stuck) model.set_nonvol_stuck(-1);
}

}  // namespace

int run_drive(const std::vector<std::string>& args) {
  DriveOptions options;
  std::string error;
  if (!parse_drive_options(args, options, error)) {
    std::fprintf(stderr, "zr90sim drive: %s (see zr90sim drive --help)\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(drive_help(), stdout);
    return 0;
  }
  int signal_fd = termination_fd();
  if (signal_fd < 0) {
    std::perror("zr90sim: signalfd");
    return 1;
  }
  DriveModel model;
  if (options.motion.moving) model.set_motion(std::make_unique<DriveMotion>(options.motion.seed));
  apply_presets(options, model);
  Pty pty(options.link_path);
  if (!pty.ok()) {
    std::fprintf(stderr, "zr90sim drive: %s\n", pty.error().c_str());
    close(signal_fd);
    return 1;
  }
  if (!pty.watch_flushes()) {
    std::fprintf(stderr, "zr90sim drive: cannot watch the line for flushes\n");
    close(signal_fd);
    return 1;
  }
  Trace trace(options.trace_path);
  trace.show_text(options.protocol == DriveProtocol::text);
  DriveServer server(options, pty, trace, model);
  announce_ready(pty.slave_path());
  server.run(signal_fd);
  server.print_stats();
  close(signal_fd);
  return 0;
}

}  // namespace sim
