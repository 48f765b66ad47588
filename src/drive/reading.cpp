#include "drive/reading.h"

namespace drive {

namespace {

bool started(uint8_t axis, core::ChannelMask not_started) { return (not_started & core::channel_bit(axis)) == 0; }

std::vector<AxisValue> read_together(core::Backend& access, std::span<const uint8_t> axes,
                                     core::ChannelMask not_started, const Parameter& parameter) {
  const std::vector<uint8_t> live = started_axes(axes, not_started);
  const core::Result<std::vector<core::ChannelReading>> readings =
      access.read_channels(mask_of(live), parameter.location);
  std::vector<AxisValue> values;
  for (uint8_t axis : axes) {
    AxisValue value{axis, channel_not_started()};
    if (!readings) value.value = readings.error();
    for (const core::ChannelReading& reading : readings ? *readings : std::vector<core::ChannelReading>{}) {
      if (reading.channel == axis) value.value = reading.value;
    }
    values.push_back(std::move(value));
  }
  return values;
}

}  // namespace

uint64_t width_bits(const Parameter& parameter, uint64_t bits) { return core::width_bits(parameter.location.width, bits); }

core::Failure channel_not_started() {
  return core::channel_failure(core::FailureKind::module, "the channel did not start");
}

std::vector<uint8_t> started_axes(std::span<const uint8_t> axes, core::ChannelMask not_started) {
  std::vector<uint8_t> live;
  for (uint8_t axis : axes) {
    if (started(axis, not_started)) live.push_back(axis);
  }
  return live;
}

core::ChannelMask mask_of(std::span<const uint8_t> axes) {
  core::ChannelMask mask = 0;
  for (uint8_t axis : axes) mask |= core::channel_bit(axis);
  return mask;
}

std::vector<AxisValue> read_on_axes(core::Backend& access, std::span<const uint8_t> axes,
                                    core::ChannelMask not_started, const Parameter& parameter) {
  // EEPROM gains nothing from one transaction (the card reads it one channel after
  // another), and read axis by axis each axis keeps a failure of its own.
  if (started_axes(axes, not_started).size() > 1 && parameter.location.memory == core::Memory::ram) {
    return read_together(access, axes, not_started, parameter);
  }
  std::vector<AxisValue> values;
  for (uint8_t axis : axes) {
    if (!started(axis, not_started)) {
      values.push_back({axis, channel_not_started()});
      continue;
    }
    values.push_back({axis, access.read(axis, parameter.location)});
  }
  return values;
}

std::vector<std::vector<AxisValue>> read_on_axes(core::Backend& access, std::span<const uint8_t> axes,
                                                 core::ChannelMask not_started, std::span<const Parameter> parameters) {
  std::vector<std::vector<AxisValue>> rows;
  for (const Parameter& parameter : parameters) rows.push_back(read_on_axes(access, axes, not_started, parameter));
  return rows;
}

}  // namespace drive
