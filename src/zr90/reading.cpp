#include "zr90/reading.h"

namespace zr90 {

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

std::vector<drive::AxisValue> read_on_axes(Session& session, const drive::Parameter& parameter) {
  return drive::read_on_axes(session.link(), session.axes(), session.link().not_started(), parameter);
}

std::vector<std::vector<drive::AxisValue>> read_on_axes(Session& session,
                                                        std::span<const drive::Parameter> parameters) {
  return drive::read_on_axes(session.link(), session.axes(), session.link().not_started(), parameters);
}

std::vector<drive::Snapshot> read_live(Session& session, const std::vector<uint8_t>& axes, bool with_ram) {
  return drive::read_snapshots(session.link(), axes, session.link().not_started(), with_ram);
}

std::string access_message(const Session& session, uint8_t axis, const std::string& name, const core::Failure& failure) {
  const std::string prefix = session.several_axes() || axis != 0 ? "axis " + std::to_string(axis) + ": " : "";
  return prefix + name + ": " + describe(failure);
}

std::optional<drive::SettingsFile> read_settings_said(const std::string& path, const std::string& suffix) {
  core::Result<drive::SettingsFile> file = drive::read_settings_file(path);
  if (!file) {
    say(file.error().text + suffix);
    return std::nullopt;
  }
  if (!file->skipped.empty()) {
    std::string names;
    for (const std::string& name : file->skipped) names += (names.empty() ? "" : ", ") + name;
    say(path + ": " + names + (file->skipped.size() == 1 ? " is a configuration location" : " are configuration locations") +
        " outside the EEPROM, never restored: skipped");
  }
  return std::move(*file);
}

std::string unreadable_message(uint8_t axis, const core::Failure& failure) {
  return "axis " + std::to_string(axis) + ": cannot read its settings: " + describe(failure);
}

}  // namespace zr90
