// Time and cancellation as the library's waits see them. Both are handed in by the
// front end, never read from a global: a test runs the waits on a manual clock, and a
// signal handler, a console or another thread cuts them short through the token.
#pragma once

#include <atomic>
#include <cstdint>

namespace core {

// Once set, every wait that looks at it gives up. Lock-free, so that a signal
// handler may set it.
class CancelToken {
 public:
  CancelToken() = default;
  CancelToken(const CancelToken&) = delete;
  CancelToken& operator=(const CancelToken&) = delete;

  void cancel() { cancelled_.store(true); }
  bool cancelled() const { return cancelled_.load(); }
  void reset() { cancelled_.store(false); }

  // A token nobody can set, for a caller whose waits always run their course.
  static const CancelToken& never();

 private:
  static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler must be able to set the token");
  std::atomic<bool> cancelled_{false};
};

// The longest a wait blocks before it looks at its token again.
inline constexpr int WAIT_SLICE_MS = 50;

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since some fixed start; never goes back.
  virtual int64_t now_ms() const = 0;
  // Waits ms milliseconds in slices that look at the token; false when it was set
  // before the time was up.
  virtual bool sleep_ms(int ms, const CancelToken& cancel) = 0;
};

// What every wait of a link is given: the clock it measures by and the token that
// cuts it short. Both belong to the front end and outlive the link.
struct Waits {
  Clock& clock;
  const CancelToken& cancel;

  bool cancelled() const { return cancel.cancelled(); }
  int64_t now_ms() const { return clock.now_ms(); }
  bool sleep_ms(int ms) const { return clock.sleep_ms(ms, cancel); }
  // What is left until deadline (a now_ms() time), 0 once it passed.
  int remaining_ms(int64_t deadline) const {
    const int64_t left = deadline - now_ms();
    return left > 0 ? static_cast<int>(left) : 0;
  }
};

// The part of a wait of left ms that blocks before the token is looked at again.
inline int wait_slice(int left) { return left < WAIT_SLICE_MS ? left : WAIT_SLICE_MS; }

// A system clock's sleep: ms milliseconds measured by the clock, each slice blocking
// in block(slice_ms), the token looked at between slices; false when it was set
// before the time was up. A slice cut short (by a signal) only means another one.
bool sleep_in_slices(const Clock& clock, int ms, const CancelToken& cancel, void (*block)(int slice_ms));

}  // namespace core
