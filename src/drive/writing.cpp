#include "drive/writing.h"

#include "drive/reading.h"

namespace drive {

WriteOutcome write_verified(core::Backend& access, uint8_t axis, const Parameter& parameter, uint64_t bits,
                            const WriteSteps& steps) {
  WriteOutcome outcome;
  if (steps.read_before) {
    core::Result<uint64_t> before = access.read(axis, parameter.location);
    if (!before) {
      outcome.failure = before.error();
      return outcome;
    }
    outcome.before = width_bits(parameter, *before);
  }
  if (steps.write) {
    if (core::Status written = access.write(axis, parameter.location, bits); !written) {
      outcome.failure = written.error();
      return outcome;
    }
    outcome.written = true;
  }
  if (steps.read_back) {
    core::Result<uint64_t> after = access.read(axis, parameter.location);
    if (!after) {
      outcome.failure = after.error();
      return outcome;
    }
    outcome.read_back = width_bits(parameter, *after);
    outcome.mismatch = *outcome.read_back != width_bits(parameter, bits);
  }
  return outcome;
}

}  // namespace drive
