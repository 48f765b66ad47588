// What a drive is: the parameters that name its processor, control, firmware and
// hardware, its clock and its unit number, and its fault word with the bits named.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/access.h"
#include "core/result.h"
#include "drive/parameter.h"

namespace drive {

// cputype, controltype, swrevision, hwrevision, sysclk, unitnumber: in this order.
std::span<const std::string_view> identity_names();

struct IdentityValue {
  Parameter parameter;
  core::Result<uint64_t> value = core::Failure{};
};

struct DriveIdentity {
  uint8_t axis = 0;
  std::vector<IdentityValue> values;  // one per identity name, in that order
  core::Result<uint16_t> fault = core::Failure{};
  std::vector<std::string> fault_bits;  // the names of the fault bits set
};

// Reads the identity of the drive on one axis, one access per value. A failure that
// ends the link ends the reads too: every value left gets it, and nothing more is sent.
DriveIdentity read_drive_identity(core::Backend& access, uint8_t axis);

}  // namespace drive
