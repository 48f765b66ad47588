// A snapshot of a drive's settings, read from the drive itself: what a settings
// file holds and what a restore compares with.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/access.h"
#include "core/result.h"
#include "drive/parameter.h"

namespace drive {

struct SavedValue {
  Parameter parameter;
  uint64_t bits = 0;  // raw bits of the parameter's width
};

struct DriveSettings {
  uint8_t axis = 0;
  std::vector<SavedValue> eeprom;  // dictionary order
  std::vector<SavedValue> ram;     // dictionary order; empty unless taken with RAM
  bool has_ram = false;
};

// A marker in the EEPROM, not a setting: never saved or restored.
inline constexpr char NOT_A_SETTING[] = "nvinvalid";

// What a snapshot holds: every EEPROM word and long but the marker; with RAM, every
// RAM parameter that has a single value. Both in dictionary order.
const std::vector<Parameter>& saved_eeprom_parameters();
const std::vector<Parameter>& saved_ram_parameters();

struct Snapshot {
  uint8_t axis = 0;
  core::Result<DriveSettings> settings = core::Failure{};
};

// Every saved EEPROM setting of each axis, the non-volatile flag held once per axis;
// with_ram also every RAM parameter, one transaction on all the axes each. An axis
// whose channel did not start, or whose reading failed, holds the failure; after a
// failure of the whole link the axes left are not tried. In the order of axes.
std::vector<Snapshot> read_snapshots(core::Backend& access, std::span<const uint8_t> axes,
                                     core::ChannelMask not_started, bool with_ram);

}  // namespace drive
