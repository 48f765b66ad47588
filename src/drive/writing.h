// A parameter written on one axis and read back: the one way a front end writes a
// value, so that every write is verified the same way.
#pragma once

#include <cstdint>
#include <optional>

#include "core/access.h"
#include "core/result.h"
#include "drive/parameter.h"

namespace drive {

struct WriteSteps {
  bool read_before = false;  // the old value, to show it
  bool write = true;         // false: another write already wrote these bytes; only read back
  bool read_back = true;
};

// How far a write came. The accesses run in order (read before, write, read back)
// and stop at the first failure.
struct WriteOutcome {
  std::optional<uint64_t> before;
  bool written = false;                  // the drive took the write
  std::optional<uint64_t> read_back;     // the bits of the parameter's width
  bool mismatch = false;                 // read back, and not what was written
  std::optional<core::Failure> failure;  // the access that failed

  // Every step asked for was done, and what was read back is what was written.
  bool verified() const { return !failure && !mismatch; }
};

WriteOutcome write_verified(core::Backend& access, uint8_t axis, const Parameter& parameter, uint64_t bits,
                            const WriteSteps& steps = {});

}  // namespace drive
