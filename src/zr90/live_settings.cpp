#include "zr90/live_settings.h"

#include "zr90/axes.h"

namespace zr90 {

namespace {

core::Failure channel_not_started() { return core::channel_failure(core::FailureKind::module, "the channel did not start"); }

std::vector<core::Location> eeprom_locations() {
  std::vector<core::Location> locations;
  for (const drive::Parameter& p : saved_eeprom_parameters()) locations.push_back(p.location);
  return locations;
}

std::vector<SavedValue> saved_values(const std::vector<uint64_t>& bits) {
  const std::vector<drive::Parameter>& parameters = saved_eeprom_parameters();
  std::vector<SavedValue> values;
  for (std::size_t i = 0; i < parameters.size() && i < bits.size(); ++i) {
    values.push_back({parameters[i], width_bits(parameters[i], bits[i])});
  }
  return values;
}

LiveDrive* drive_of(std::vector<LiveDrive>& drives, uint8_t axis) {
  for (LiveDrive& d : drives) {
    if (d.axis == axis) return &d;
  }
  return nullptr;
}

// Each RAM parameter in one transaction on every axis still readable.
void read_ram(Session& session, std::vector<LiveDrive>& drives) {
  std::vector<uint8_t> readable;
  for (LiveDrive& d : drives) {
    if (d.settings) {
      readable.push_back(d.axis);
      d.settings->has_ram = true;
    }
  }
  for (const drive::Parameter& parameter : saved_ram_parameters()) {
    if (readable.empty()) return;
    core::Result<std::vector<core::ChannelReading>> readings = session.link().read_channels(mask_of(readable), parameter.location);
    if (!readings) {
      for (uint8_t axis : readable) drive_of(drives, axis)->settings = readings.error();
      return;
    }
    for (core::ChannelReading& reading : *readings) {
      LiveDrive* drive = drive_of(drives, reading.channel);
      if (!drive || !drive->settings) continue;
      if (!reading.value) {
        drive->settings = reading.value.error();
        std::erase(readable, reading.channel);
        continue;
      }
      drive->settings->ram.push_back({parameter, width_bits(parameter, *reading.value)});
    }
  }
}

const char* interface_name(config::INTERFACETYPES kind) {
  switch (kind) {
    case config::INTERFACETYPES::EPP: return "EPP";
    case config::INTERFACETYPES::PCIMEM: return "PCIMEM";
    case config::INTERFACETYPES::PCIPORT: return "PCIPORT";
    case config::INTERFACETYPES::ISAPORT: return "ISAPORT";
    case config::INTERFACETYPES::OSDEVICE: return "OSDEVICE";
    case config::INTERFACETYPES::EZAL16: return "EZAL16";
    case config::INTERFACETYPES::OSZAL: return "OSZAL";
  }
  return "";
}

const char* protocol_name(config::PROTOCOLTYPES protocol) {
  switch (protocol) {
    case config::PROTOCOLTYPES::BUS: return "BUS";
    case config::PROTOCOLTYPES::HEX: return "HEX";
    case config::PROTOCOLTYPES::ZAL: return "ZAL";
    case config::PROTOCOLTYPES::SSZAL: return "SSZAL";
    case config::PROTOCOLTYPES::DIRECT: return "DIRECT";
    case config::PROTOCOLTYPES::INVALID: break;
  }
  return "";
}

}  // namespace

std::vector<LiveDrive> read_live(Session& session, const std::vector<uint8_t>& axes, bool with_ram) {
  std::vector<LiveDrive> drives;
  std::vector<uint8_t> started;
  for (uint8_t axis : axes) {
    drives.push_back({axis, channel_not_started()});
    if (session.axis_started(axis)) started.push_back(axis);
  }
  // Every axis's EEPROM at once: the card runs each read on all channels together.
  const std::vector<core::Location> locations = eeprom_locations();
  core::Result<std::vector<core::ChannelValues>> read = session.link().read_eeprom_channels(mask_of(started), locations);
  if (!read) {
    for (uint8_t axis : started) drive_of(drives, axis)->settings = read.error();
    return drives;
  }
  std::optional<core::Failure> link_failure;
  for (core::ChannelValues& result : *read) {
    LiveDrive* drive = drive_of(drives, result.channel);
    if (drive == nullptr) continue;
    if (result.values) {
      drive->settings = DriveSettings{result.channel, saved_values(*result.values), {}, false};
      continue;
    }
    if (ends_the_link(result.values.error())) link_failure = result.values.error();
    drive->settings = result.values.error();
  }
  if (with_ram && !link_failure) read_ram(session, drives);
  return drives;
}

std::string unreadable_message(uint8_t axis, const core::Failure& failure) {
  return "axis " + std::to_string(axis) + ": cannot read its settings: " + describe(failure);
}

LinkDescription link_description(const config::LinkSettings& settings) {
  LinkDescription link;
  link.interface_kind = interface_name(settings.interface_kind);
  link.protocol = protocol_name(settings.protocol);
  link.address = settings.interface_kind == config::INTERFACETYPES::EZAL16 ? settings.ip_address : settings.comport;
  return link;
}

}  // namespace zr90
