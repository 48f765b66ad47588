// Reading a parameter on the axes of a run: one transaction on several channels
// where the link allows it, one access per axis otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "drive/parameter.h"
#include "zr90/session.h"

namespace zr90 {

// Every name checked, before any link is opened; a bad one has been said.
std::optional<std::vector<drive::Parameter>> resolve_names(const std::vector<std::string>& names);

struct AxisValue {
  uint8_t axis = 0;
  core::Result<uint64_t> value = core::Failure{};
};

// Ascending by axis, every axis of the session; an axis whose channel did not start
// gets that failure without an access.
std::vector<AxisValue> read_on_axes(Session& session, const drive::Parameter& parameter);

// "axis 2: kqp: Connection timed out" (the axis only when the run has several).
std::string access_message(const Session& session, uint8_t axis, const std::string& name, const core::Failure& failure);

// Writes text to standard output; false when it could not be written (a full disk).
bool emit(const std::string& text);

}  // namespace zr90
