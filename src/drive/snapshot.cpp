#include "drive/snapshot.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "drive/reading.h"

namespace drive {

namespace {

std::vector<Parameter> parameters_where(bool eeprom) {
  std::vector<Parameter> parameters;
  for (const dict::ZORNPARAMREC& row : dict::ZORNPARAMS) {
    if (std::string_view(row.PARMNAME) == NOT_A_SETTING || is_configuration_location(row.PARMNAME)) continue;
    const std::optional<core::Location> location = location_of(row.PARMTYPE, 0);
    if (!location || (location->memory == core::Memory::eeprom) != eeprom) continue;
    core::Result<Parameter> parameter = find_parameter(row.PARMNAME);
    if (parameter) parameters.push_back(*parameter);
  }
  return parameters;
}

std::vector<core::Location> eeprom_locations() {
  std::vector<core::Location> locations;
  for (const Parameter& p : saved_eeprom_parameters()) locations.push_back(p.location);
  return locations;
}

std::vector<SavedValue> saved_values(const std::vector<uint64_t>& bits) {
  const std::vector<Parameter>& parameters = saved_eeprom_parameters();
  std::vector<SavedValue> values;
  for (std::size_t i = 0; i < parameters.size() && i < bits.size(); ++i) {
    values.push_back({parameters[i], width_bits(parameters[i], bits[i])});
  }
  return values;
}

Snapshot* snapshot_of(std::vector<Snapshot>& snapshots, uint8_t axis) {
  for (Snapshot& s : snapshots) {
    if (s.axis == axis) return &s;
  }
  return nullptr;
}

// Each RAM parameter in one transaction on every axis still readable.
void read_ram(core::Backend& access, std::vector<Snapshot>& snapshots) {
  std::vector<uint8_t> readable;
  for (Snapshot& s : snapshots) {
    if (s.settings) {
      readable.push_back(s.axis);
      s.settings->has_ram = true;
    }
  }
  for (const Parameter& parameter : saved_ram_parameters()) {
    if (readable.empty()) return;
    core::Result<std::vector<core::ChannelReading>> readings =
        access.read_channels(mask_of(readable), parameter.location);
    if (!readings) {
      for (uint8_t axis : readable) snapshot_of(snapshots, axis)->settings = readings.error();
      return;
    }
    for (core::ChannelReading& reading : *readings) {
      Snapshot* snapshot = snapshot_of(snapshots, reading.channel);
      if (!snapshot || !snapshot->settings) continue;
      if (!reading.value) {
        snapshot->settings = reading.value.error();
        std::erase(readable, reading.channel);
        continue;
      }
      snapshot->settings->ram.push_back({parameter, width_bits(parameter, *reading.value)});
    }
  }
}

}  // namespace

const std::vector<Parameter>& saved_eeprom_parameters() {
  static const std::vector<Parameter> parameters = parameters_where(true);
  return parameters;
}

const std::vector<Parameter>& saved_ram_parameters() {
  static const std::vector<Parameter> parameters = parameters_where(false);
  return parameters;
}

std::vector<Snapshot> read_snapshots(core::Backend& access, std::span<const uint8_t> axes,
                                     core::ChannelMask not_started, bool with_ram) {
  std::vector<Snapshot> snapshots;
  for (uint8_t axis : axes) snapshots.push_back({axis, channel_not_started()});
  const std::vector<uint8_t> started = started_axes(axes, not_started);
  // Every axis's EEPROM at once: the card runs each read on all channels together.
  const std::vector<core::Location> locations = eeprom_locations();
  core::Result<std::vector<core::ChannelValues>> read = access.read_eeprom_channels(mask_of(started), locations);
  if (!read) {
    for (uint8_t axis : started) snapshot_of(snapshots, axis)->settings = read.error();
    return snapshots;
  }
  bool link_failed = false;
  for (core::ChannelValues& result : *read) {
    Snapshot* snapshot = snapshot_of(snapshots, result.channel);
    if (snapshot == nullptr) continue;
    if (result.values) {
      snapshot->settings = DriveSettings{result.channel, saved_values(*result.values), {}, false};
      continue;
    }
    link_failed = link_failed || core::ends_the_link(result.values.error());
    snapshot->settings = result.values.error();
  }
  if (with_ram && !link_failed) read_ram(access, snapshots);
  return snapshots;
}

}  // namespace drive
