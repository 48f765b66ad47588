// Two sets of drive settings compared setting by setting: what save, diff and the
// library's callers share, so that every front end finds the same differences.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "drive/parameter.h"
#include "drive/snapshot.h"

namespace drive {

struct Difference {
  uint8_t axis = 0;
  Parameter parameter;
  std::optional<uint64_t> a;  // nothing where that side lacks the setting
  std::optional<uint64_t> b;
};

// The EEPROM settings, then the RAM values, of one axis in dictionary order; a side
// that is missing (nullptr) or lacks a setting differs from any value.
void compare_drive(uint8_t axis, const DriveSettings* a, const DriveSettings* b, std::vector<Difference>& differences);

// The live drive reduced to what the file holds: a file that keeps a few settings
// is compared on those alone.
DriveSettings only_as_in(const DriveSettings& live, const DriveSettings& file);

}  // namespace drive
