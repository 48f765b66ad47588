// A restore: what differs between the settings a drive holds and those it is to
// hold, and the writes that put them there, each read back. Only what differs is
// written (an EEPROM wears out).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/access.h"
#include "drive/snapshot.h"
#include "drive/writing.h"

namespace drive {

enum class Outcome : uint8_t {
  planned,
  verified,     // written and read back the same
  differs,      // written, but read back different
  unconfirmed,  // an access failed: it may or may not be written
  not_written,  // the restore stopped before it, or it was not confirmed
  overwritten,  // verified, but read different once every change of its axis was written
};

struct Change {
  SavedValue wanted;
  uint64_t old_bits = 0;
  // Its bytes are all written by this earlier change of the same axis (nvkqilo with
  // nvkqi): it is read back, not written again.
  std::optional<std::size_t> covered_by;
  Outcome outcome = Outcome::planned;
};

struct AxisPlan {
  uint8_t axis = 0;
  std::vector<Change> changes;  // in the order of the wanted settings
};

// The EEPROM settings of wanted whose value live holds differently.
std::vector<Change> changes_for(const DriveSettings& wanted, const DriveSettings& live);

struct RestoreCallbacks {
  // Asked before each change; true ends the restore there. The write in progress
  // has finished, so that no drive is left with its non-volatile flag set.
  std::function<bool()> cancelled;
  // Asked before each write; false leaves the change (and what it covers) not written.
  std::function<bool(uint8_t axis, const Change& change)> confirm;
  // Told of each change that was tried, its outcome set, as soon as it is known.
  std::function<void(uint8_t axis, const Change& change, const WriteOutcome& write)> progress;
};

enum class RestoreEnd : uint8_t { finished, cancelled };

// Writes each axis's changes in turn, each read back before the next, and sets
// their outcomes. A failure of the whole link or of the non-volatile flag stops
// every axis; a failure of one drive stops that axis; a value that reads back
// different stops nothing. When an axis's changes are written, every verified one
// is read once more: a later write that changed it (two settings sharing bytes, a
// drive that moves one for another) makes it overwritten.
RestoreEnd apply_restore(core::Backend& access, std::span<AxisPlan> plans, const RestoreCallbacks& callbacks);

}  // namespace drive
