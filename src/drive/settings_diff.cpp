#include "drive/settings_diff.h"

namespace drive {

namespace {

std::optional<uint64_t> value_in(const std::vector<SavedValue>& values, const Parameter& parameter) {
  for (const SavedValue& v : values) {
    if (v.parameter.name == parameter.name) return v.bits;
  }
  return std::nullopt;
}

// Dictionary order over both sides; a setting one side lacks differs from any value.
void compare_section(uint8_t axis, const std::vector<Parameter>& order, const std::vector<SavedValue>& a,
                     const std::vector<SavedValue>& b, std::vector<Difference>& differences) {
  for (const Parameter& parameter : order) {
    const std::optional<uint64_t> left = value_in(a, parameter);
    const std::optional<uint64_t> right = value_in(b, parameter);
    if (left != right) differences.push_back({axis, parameter, left, right});
  }
}

}  // namespace

void compare_drive(uint8_t axis, const DriveSettings* a, const DriveSettings* b, std::vector<Difference>& differences) {
  static const DriveSettings none;
  const DriveSettings& left = a ? *a : none;
  const DriveSettings& right = b ? *b : none;
  compare_section(axis, saved_eeprom_parameters(), left.eeprom, right.eeprom, differences);
  compare_section(axis, saved_ram_parameters(), left.ram, right.ram, differences);
}

DriveSettings only_as_in(const DriveSettings& live, const DriveSettings& file) {
  DriveSettings kept{live.axis, {}, {}, file.has_ram};
  for (const SavedValue& v : live.eeprom) {
    if (value_in(file.eeprom, v.parameter)) kept.eeprom.push_back(v);
  }
  for (const SavedValue& v : live.ram) {
    if (value_in(file.ram, v.parameter)) kept.ram.push_back(v);
  }
  return kept;
}

}  // namespace drive
