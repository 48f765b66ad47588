// zr90 set: every value checked before anything is written; each write read back.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "drive/writing.h"
#include "platform/console.h"
#include "zr90/axes.h"
#include "zr90/command_steps.h"
#include "zr90/commands.h"
#include "zr90/confirm.h"
#include "zr90/output.h"
#include "zr90/reading.h"

namespace zr90 {

std::optional<std::vector<Assignment>> parse_assignments(const std::vector<std::string>& texts) {
  std::vector<Assignment> assignments;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::string& text = texts[i];
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
      // "set kqp 1300": the value came as a word of its own.
      const bool value_follows = i + 1 < texts.size() && texts[i + 1].find('=') == std::string::npos;
      say("\"" + text + "\" is not NAME=VALUE; write " + text + "=" + (value_follows ? texts[i + 1] : "VALUE"));
      return std::nullopt;
    }
    core::Result<drive::Parameter> parameter = drive::find_parameter(std::string_view(text).substr(0, equals));
    if (!parameter) {
      say(parameter.error().text);
      return std::nullopt;
    }
    core::Result<uint64_t> value = drive::parse_value(*parameter, std::string_view(text).substr(equals + 1));
    if (!value) {
      say(value.error().text);
      return std::nullopt;
    }
    assignments.push_back({*parameter, *value});
  }
  return assignments;
}

std::size_t eeprom_count(const std::vector<Assignment>& assignments) {
  std::size_t count = 0;
  for (const Assignment& a : assignments) count += drive::is_eeprom(a.parameter.type) ? 1 : 0;
  return count;
}

namespace {

std::string configuration_locations(const std::vector<Assignment>& assignments) {
  std::string names;
  for (const Assignment& a : assignments) {
    if (drive::is_configuration_location(a.parameter.name)) names += (names.empty() ? "" : ", ") + a.parameter.name;
  }
  return names;
}

}  // namespace

// A configuration location is not a setting: the question names it as what it is.
std::string eeprom_question(const std::vector<Assignment>& assignments, const std::vector<uint8_t>& axes) {
  const std::size_t count = eeprom_count(assignments);
  const std::string configuration = configuration_locations(assignments);
  const std::string warning = configuration.empty() ? "" : configuration +
      " are the device's configuration locations, outside the EEPROM settings; ";
  return warning + "write " + std::to_string(count) + " EEPROM setting" + (count == 1 ? "" : "s") + " on axes " +
         axes_text(axes) + "? [y/N] ";
}

namespace {

// An EEPROM value persists in the drive: a person confirms it once for the run, or
// a script says -y. Without either nothing of the run is written.
int confirm_eeprom_writes(const Options& options, const std::vector<Assignment>& assignments) {
  if (eeprom_count(assignments) == 0 || options.yes) return EXIT_DONE;
  if (!can_confirm(options)) return EXIT_USAGE;
  const std::optional<std::vector<uint8_t>> axes = axes_option(options);
  if (!axes) return EXIT_USAGE;
  return confirmed(options, eeprom_question(assignments, *axes)) ? EXIT_DONE : EXIT_FAILED;
}

// What one write came to, for --json: the change and its outcome.
nlohmann::ordered_json change_row(const Options& options, uint8_t axis, const Assignment& assignment,
                                  const drive::WriteOutcome& outcome) {
  const drive::Parameter& parameter = assignment.parameter;
  nlohmann::ordered_json row = {{"axis", axis}, {"name", parameter.name}};
  if (outcome.before) {
    put_value(row, "old", parameter, *outcome.before, options.hex);
  } else {
    row["old"] = nullptr;
  }
  put_value(row, "new", parameter, assignment.value, options.hex);
  if (outcome.failure) {
    row["outcome"] = "failed";
    row["error"] = describe(*outcome.failure);
  } else if (outcome.mismatch) {
    row["outcome"] = "differs";
    put_value(row, "read_back", parameter, *outcome.read_back, options.hex);
  } else {
    row["outcome"] = options.no_verify ? "written" : "verified";
  }
  return row;
}

}  // namespace

bool write_one(Session& session, const Options& options, uint8_t axis, const Assignment& assignment, std::string& shown,
               nlohmann::ordered_json& rows) {
  const drive::Parameter& parameter = assignment.parameter;
  const drive::WriteOutcome outcome = drive::write_verified(
      session.link(), axis, parameter, assignment.value,
      {.read_before = options.verbose || options.json, .write = true, .read_back = !options.no_verify});
  if (options.json) rows.push_back(change_row(options, axis, assignment, outcome));
  if (outcome.failure) {
    say(access_message(session, axis, parameter.name, *outcome.failure));
    return false;
  }
  if (outcome.mismatch) {
    const std::string text = "wrote " + drive::format_value(parameter.type, assignment.value, options.hex) +
                             ", read back " + drive::format_value(parameter.type, *outcome.read_back, options.hex);
    say(access_message(session, axis, parameter.name, core::fail(core::FailureKind::corrupt, text)));
    return false;
  }
  if (outcome.before && options.verbose) {
    if (session.several_axes()) shown += std::to_string(axis) + " ";
    shown += parameter.name + " " + drive::format_value(parameter.type, *outcome.before, options.hex) + " -> " +
             drive::format_value(parameter.type, assignment.value, options.hex) + "\n";
  }
  return true;
}

namespace {

int write_all(Session& session, int exit_code, const Options& options, const std::vector<Assignment>& assignments) {
  std::string shown;
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  const std::size_t total = assignments.size() * session.live_axes().size();
  std::size_t done = 0;
  for (const Assignment& assignment : assignments) {
    for (uint8_t axis : session.live_axes()) {
      // Ctrl-C: the write in progress has finished; nothing more is written.
      if (platform::console::interrupted()) {
        say("interrupted after " + std::to_string(done) + " of " + std::to_string(total) +
            " writes; nothing more was written");
        return emit(options.json ? rows.dump(2) + "\n" : shown) ? EXIT_FAILED : EXIT_USAGE;
      }
      if (!write_one(session, options, axis, assignment, shown, rows)) exit_code = EXIT_FAILED;
      ++done;
    }
  }
  if (!emit(options.json ? rows.dump(2) + "\n" : shown)) {
    say("cannot write to standard output");
    return EXIT_USAGE;
  }
  return exit_code;
}

}  // namespace

int run_set(const Options& options, const std::vector<std::string>& texts) {
  const std::optional<std::vector<Assignment>> assignments = parse_assignments(texts);
  if (!assignments) return EXIT_USAGE;
  if (int confirmed = confirm_eeprom_writes(options, *assignments); confirmed != EXIT_DONE) return confirmed;

  return with_session(options, [&](Session& session, int exit_code) {
    return write_all(session, exit_code, options, *assignments);
  });
}

}  // namespace zr90
