#include "drive/identity.h"

#include <optional>

#include "drive/faults.h"

namespace drive {

namespace {

constexpr std::string_view IDENTITY_NAMES[] = {"cputype", "controltype", "swrevision",
                                               "hwrevision", "sysclk", "unitnumber"};
constexpr std::string_view FAULT_WORD = "fault";

// The names are the dictionary's own; one missing there is a fault of this build.
Parameter parameter_named(std::string_view name) { return *find_parameter(name); }

core::Result<uint64_t> read_unless_ended(core::Backend& access, uint8_t axis, const Parameter& parameter,
                                         std::optional<core::Failure>& ended) {
  if (ended) return *ended;
  core::Result<uint64_t> value = access.read(axis, parameter.location);
  if (!value && core::ends_the_link(value.error())) ended = value.error();
  return value;
}

}  // namespace

std::span<const std::string_view> identity_names() { return IDENTITY_NAMES; }

DriveIdentity read_drive_identity(core::Backend& access, uint8_t axis) {
  DriveIdentity identity;
  identity.axis = axis;
  std::optional<core::Failure> ended;
  identity.values.reserve(std::size(IDENTITY_NAMES));
  for (std::string_view name : IDENTITY_NAMES) {
    IdentityValue entry{parameter_named(name)};
    entry.value = read_unless_ended(access, axis, entry.parameter, ended);
    identity.values.push_back(std::move(entry));
  }
  const Parameter fault = parameter_named(FAULT_WORD);
  core::Result<uint64_t> word = read_unless_ended(access, axis, fault, ended);
  if (!word) {
    identity.fault = word.error();
    return identity;
  }
  identity.fault = static_cast<uint16_t>(*word);
  for (const FaultWord& row : fault_words()) {
    if (row.name == FAULT_WORD) identity.fault_bits = set_bit_names(*identity.fault, row.bits);
  }
  return identity;
}

}  // namespace drive
