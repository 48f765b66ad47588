#include "core/clock.h"

namespace core {

const CancelToken& CancelToken::never() {
  static const CancelToken token;
  return token;
}

bool sleep_in_slices(const Clock& clock, int ms, const CancelToken& cancel, void (*block)(int slice_ms)) {
  const int64_t deadline = clock.now_ms() + (ms > 0 ? ms : 0);
  for (;;) {
    if (cancel.cancelled()) return false;
    const int64_t left = deadline - clock.now_ms();
    if (left <= 0) return true;
    block(wait_slice(static_cast<int>(left)));
  }
}

}  // namespace core
