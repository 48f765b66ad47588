#include "support/manual_clock.h"

namespace testsupport {

bool ManualClock::sleep_ms(int ms, const core::CancelToken& cancel) {
  if (cancel.cancelled()) return false;
  if (ms > 0) now_ += ms;
  return true;
}

ManualClock& test_clock() {
  static ManualClock* clock = new ManualClock;
  return *clock;
}

core::CancelToken& test_cancel() {
  static core::CancelToken* token = new core::CancelToken;
  return *token;
}

core::Waits test_waits() { return {test_clock(), test_cancel()}; }

}  // namespace testsupport
