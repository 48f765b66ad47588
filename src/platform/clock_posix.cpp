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

  bool sleep_ms(int ms, const core::CancelToken& cancel) override {
    return core::sleep_in_slices(*this, ms, cancel, [](int slice_ms) { poll(nullptr, 0, slice_ms); });
  }
};

}  // namespace

core::Clock& system_clock() {
  // Stateless: one instance serves every link of the run.
  static PosixClock clock;
  return clock;
}

}  // namespace platform
