// Time for unit tests: a clock that moves only when a wait or a sleep asks it to.
// The scripted line and the fake card advance it instead of waiting, so that a test
// of a one-second silence takes no time at all.
#pragma once

#include <cstdint>

#include "core/clock.h"

namespace testsupport {

class ManualClock final : public core::Clock {
 public:
  int64_t now_ms() const override { return now_; }
  // Moves the time on at once; nothing when the token is already set.
  bool sleep_ms(int ms, const core::CancelToken& cancel) override;

 private:
  int64_t now_ = 0;
};

// The clock and the token every unit test's link waits by. The fakes advance the
// clock and may set the token; a fresh fake clears it. Never destroyed: a link of an
// earlier test may still hold them.
ManualClock& test_clock();
core::CancelToken& test_cancel();
core::Waits test_waits();

}  // namespace testsupport
