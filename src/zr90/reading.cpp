#include "zr90/reading.h"

#include <cstdio>

#include "zr90/axes.h"

namespace zr90 {

namespace {

core::Failure not_started() { return core::channel_failure(core::FailureKind::module, "the channel did not start"); }

}  // namespace

std::optional<std::vector<drive::Parameter>> resolve_names(const std::vector<std::string>& names) {
  std::vector<drive::Parameter> parameters;
  for (const std::string& name : names) {
    core::Result<drive::Parameter> parameter = drive::find_parameter(name);
    if (!parameter) {
      say(parameter.error().text);
      return std::nullopt;
    }
    parameters.push_back(*parameter);
  }
  return parameters;
}

std::vector<AxisValue> read_on_axes(Session& session, const drive::Parameter& parameter) {
  std::vector<AxisValue> values;
  const std::vector<uint8_t>& live = session.live_axes();
  if (live.size() > 1 && parameter.location.memory == core::Memory::ram) {
    core::Result<std::vector<core::ChannelReading>> readings = session.link().read_channels(mask_of(live), parameter.location);
    for (uint8_t axis : session.axes()) {
      AxisValue value{axis, not_started()};
      if (!readings) value.value = readings.error();
      for (const core::ChannelReading& reading : readings ? *readings : std::vector<core::ChannelReading>{}) {
        if (reading.channel == axis) value.value = reading.value;
      }
      values.push_back(std::move(value));
    }
    return values;
  }
  for (uint8_t axis : session.axes()) {
    if (!session.axis_started(axis)) {
      values.push_back({axis, not_started()});
      continue;
    }
    values.push_back({axis, session.link().read(axis, parameter.location)});
  }
  return values;
}

std::string access_message(const Session& session, uint8_t axis, const std::string& name, const core::Failure& failure) {
  const std::string prefix = session.several_axes() || axis != 0 ? "axis " + std::to_string(axis) + ": " : "";
  return prefix + name + ": " + describe(failure);
}

bool emit(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

}  // namespace zr90
