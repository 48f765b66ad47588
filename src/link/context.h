// What a link is opened with besides its settings: where its notices go, the clock
// and the cancellation token its waits use, and how long they wait. The front end
// owns the reporter, the clock and the token; they outlive every link opened with
// them.
#pragma once

#include "card/card.h"
#include "core/clock.h"
#include "core/reporter.h"

namespace drivelink {

// The fixed waits of the protocols.
struct Limits {
  int char_timeout_ms = 1000;                  // silence a serial receive waits
  int card_reply_ms = card::EZAL16TIMEOUT_MS;  // wait for the card's reply datagram
};

struct Context {
  // Waits that nothing cancels unless a token is given.
  Context(core::Reporter& reporter, core::Clock& clock, const core::CancelToken& cancel = core::CancelToken::never())
      : reporter(reporter), clock(clock), cancel(cancel) {}

  core::Waits waits() const { return {clock, cancel}; }

  core::Reporter& reporter;
  core::Clock& clock;
  const core::CancelToken& cancel;
  Limits limits;
};

}  // namespace drivelink
