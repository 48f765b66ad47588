// The lock that keeps programs on one host from mixing their commands to one card:
// the card's serial-channel module runs one command at a time, and a command of one
// program written between another's command and its completion read ruins both.
// Taken around each access and around a link's set-up; held for the length of a few
// exchanges, never across a user's wait. A program that dies holding it releases it
// with its other resources, so a stale lock never blocks.
#pragma once

#include <memory>
#include <string>

#include "core/clock.h"
#include "core/result.h"

namespace platform {

class CardLock {
 public:
  // The longest acquire() waits for another program to let go; a module that stays
  // busy keeps its holder polling for several seconds.
  static constexpr int WAIT_LIMIT_MS = 60000;

  virtual ~CardLock() = default;
  CardLock() = default;
  CardLock(const CardLock&) = delete;
  CardLock& operator=(const CardLock&) = delete;

  // Waits until this program holds the lock, in slices that look at the token.
  // The value says whether another holder had it since this one last let go (also
  // true when that cannot be known): whatever this program knew of the module's
  // state may then be out of date.
  virtual core::Result<bool> acquire(core::Waits waits) = 0;
  virtual void release() = 0;
};

// The lock of the card known by `key` (its address or its port); any text will do,
// it is reduced to a name the system takes. The failure names the lock and why it
// cannot be had.
core::Result<std::unique_ptr<CardLock>> open_card_lock(const std::string& key);

// A name made of letters, digits, '.', '-' and '_' only, for the key.
std::string lock_name(const std::string& key);

}  // namespace platform
