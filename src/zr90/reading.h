// The drive layer's reads on the axes of a run's session, and how their failures
// are said.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/result.h"
#include "drive/parameter.h"
#include "drive/reading.h"
#include "drive/settings_file.h"
#include "drive/snapshot.h"
#include "zr90/session.h"

namespace zr90 {

// Every name checked, before any link is opened; a bad one has been said.
std::optional<std::vector<drive::Parameter>> resolve_names(const std::vector<std::string>& names);

// On every axis of the session, ascending: one parameter, or one row per parameter.
std::vector<drive::AxisValue> read_on_axes(Session& session, const drive::Parameter& parameter);
std::vector<std::vector<drive::AxisValue>> read_on_axes(Session& session, std::span<const drive::Parameter> parameters);

// The settings of each of axes (axes of the session), with the RAM values on request.
std::vector<drive::Snapshot> read_live(Session& session, const std::vector<uint8_t>& axes, bool with_ram);

// "axis 2: kqp: Connection timed out" (the axis only when the run has several).
std::string access_message(const Session& session, uint8_t axis, const std::string& name, const core::Failure& failure);

// A settings file read whole; the configuration locations it holds are said once as
// skipped. Nothing when it is refused: its failure has been said, followed by suffix.
std::optional<drive::SettingsFile> read_settings_said(const std::string& path, const std::string& suffix = "");

// "axis 2: cannot read its settings: SSZAL Transfer Failed"
std::string unreadable_message(uint8_t axis, const core::Failure& failure);

}  // namespace zr90
