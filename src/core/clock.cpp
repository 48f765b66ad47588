#include "core/clock.h"

namespace core {

const CancelToken& CancelToken::never() {
  static const CancelToken token;
  return token;
}

}  // namespace core
