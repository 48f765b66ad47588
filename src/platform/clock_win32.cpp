#include "platform/win32.h"

#include "platform/clock.h"

namespace platform {

namespace {

class Win32Clock final : public core::Clock {
 public:
  int64_t now_ms() const override { return static_cast<int64_t>(GetTickCount64()); }

  bool sleep_ms(int ms, const core::CancelToken& cancel) override {
    return core::sleep_in_slices(*this, ms, cancel, [](int slice_ms) { Sleep(static_cast<DWORD>(slice_ms)); });
  }
};

}  // namespace

core::Clock& system_clock() {
  // Stateless: one instance serves every link of the run.
  static Win32Clock clock;
  return clock;
}

}  // namespace platform
