// The settings a settings file holds, read from the drives themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/result.h"
#include "zr90/session.h"
#include "zr90/settings_file.h"

namespace zr90 {

struct LiveDrive {
  uint8_t axis = 0;
  core::Result<DriveSettings> settings = core::Failure{};
};

// Every saved EEPROM setting of each axis, the non-volatile flag held once per
// axis; with ram also every RAM parameter, one transaction on all the axes each.
// An axis whose channel did not start, or whose reading failed, holds the failure;
// after a failure of the whole link the axes left are not tried.
std::vector<LiveDrive> read_live(Session& session, const std::vector<uint8_t>& axes, bool with_ram);

// "axis 2: cannot read its settings: SSZAL Transfer Failed"
std::string unreadable_message(uint8_t axis, const core::Failure& failure);

// The link as a settings file records it.
LinkDescription link_description(const config::LinkSettings& settings);

}  // namespace zr90
