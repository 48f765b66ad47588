#include "platform/win32.h"

#include "platform/clock.h"

namespace platform {

namespace {

class Win32Clock final : public core::Clock {
 public:
  int64_t now_ms() const override { return static_cast<int64_t>(GetTickCount64()); }

  bool sleep_ms(int ms, const core::CancelToken& cancel) override {
    const int64_t deadline = now_ms() + (ms > 0 ? ms : 0);
    for (;;) {
      if (cancel.cancelled()) return false;
      const int64_t left = deadline - now_ms();
      if (left <= 0) return true;
      Sleep(static_cast<DWORD>(core::wait_slice(static_cast<int>(left))));
    }
  }
};

}  // namespace

core::Clock& system_clock() {
  // Stateless: one instance serves every link of the run.
  static Win32Clock clock;
  return clock;
}

}  // namespace platform
