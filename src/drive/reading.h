// Parameters read on the axes of a run: one transaction on several channels where
// the backend allows it, one access per axis otherwise, and a failure per axis.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/access.h"
#include "core/result.h"
#include "drive/parameter.h"

namespace drive {

struct AxisValue {
  uint8_t axis = 0;
  core::Result<uint64_t> value = core::Failure{};
};

// The low bits of the parameter's width: a negative value parsed, or a raw read,
// as the drive holds it.
uint64_t width_bits(const Parameter& parameter, uint64_t bits);

// What an axis whose channel did not start holds instead of a value.
core::Failure channel_not_started();

// The axes among axes whose channel started (not in the link's not_started mask).
std::vector<uint8_t> started_axes(std::span<const uint8_t> axes, core::ChannelMask not_started);

core::ChannelMask mask_of(std::span<const uint8_t> axes);

// One parameter on every axis, in the order of axes (ascending). An axis whose
// channel did not start gets that failure without an access; when the one
// transaction on several channels fails as a whole, every axis gets its failure.
std::vector<AxisValue> read_on_axes(core::Backend& access, std::span<const uint8_t> axes,
                                    core::ChannelMask not_started, const Parameter& parameter);

// Each parameter in turn, as above: one row of axis values per parameter.
std::vector<std::vector<AxisValue>> read_on_axes(core::Backend& access, std::span<const uint8_t> axes,
                                                 core::ChannelMask not_started, std::span<const Parameter> parameters);

}  // namespace drive
