#include <poll.h>
#include <time.h>

#include "platform/clock.h"

namespace platform {

namespace {

class PosixClock final : public core::Clock {
 public:
  int64_t now_ms() const override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }

  // A signal only shortens one slice: the sleep goes on until its end or the token.
  bool sleep_ms(int ms, const core::CancelToken& cancel) override {
    const int64_t deadline = now_ms() + (ms > 0 ? ms : 0);
    for (;;) {
      if (cancel.cancelled()) return false;
      const int64_t left = deadline - now_ms();
      if (left <= 0) return true;
      poll(nullptr, 0, core::wait_slice(static_cast<int>(left)));
    }
  }
};

}  // namespace

core::Clock& system_clock() {
  // Stateless: one instance serves every link of the run.
  static PosixClock clock;
  return clock;
}

}  // namespace platform
