// zr90 diff: two settings files, or a file and the live drives, compared setting
// by setting. Exit codes as diff(1): 0 the same, 1 different, 2 trouble.
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "drive/settings_diff.h"
#include "drive/settings_file.h"
#include "zr90/axes.h"
#include "zr90/commands.h"
#include "zr90/output.h"
#include "zr90/reading.h"

namespace zr90 {

using drive::Difference;
using drive::DriveSettings;
using drive::SettingsFile;

namespace {

std::string value_text(const drive::Parameter& parameter, const std::optional<uint64_t>& bits, bool hex) {
  return bits ? drive::format_value(parameter.type, *bits, hex) : "-";
}

// null where the side lacks the setting.
// A side that lacks the setting is null.
void put_side(nlohmann::ordered_json& row, const std::string& key, const drive::Parameter& parameter,
              const std::optional<uint64_t>& bits, bool hex) {
  if (bits) {
    put_value(row, key, parameter, *bits, hex);
  } else {
    row[key] = nullptr;
  }
}

// What each side is called in the text: its file, or the drives.
struct Sides {
  std::string a;
  std::string b;
};

// An axis only one side has is one line, not a line for each of its settings.
std::optional<std::string> one_sided(const Difference& d, const Sides& sides, const SettingsFile& a, const SettingsFile& b) {
  if (a.drive(d.axis) && !b.drive(d.axis)) return std::to_string(d.axis) + " only in " + sides.a;
  if (!a.drive(d.axis) && b.drive(d.axis)) return std::to_string(d.axis) + " only in " + sides.b;
  return std::nullopt;
}

std::string difference_text(const Options& options, const std::vector<Difference>& differences, const Sides& sides,
                            const SettingsFile& a, const SettingsFile& b) {
  if (differences.empty()) return {};
  std::string text = "axis name " + sides.a + " " + sides.b + "\n";
  std::optional<uint8_t> summarised;
  for (const Difference& d : differences) {
    if (summarised == d.axis) continue;
    if (const std::optional<std::string> line = one_sided(d, sides, a, b)) {
      text += *line + "\n";
      summarised = d.axis;
      continue;
    }
    text += std::to_string(d.axis) + " " + d.parameter.name + " " + value_text(d.parameter, d.a, options.hex) + " " +
            value_text(d.parameter, d.b, options.hex) + "\n";
  }
  return text;
}

bool print(const Options& options, const std::vector<Difference>& differences, const Sides& sides,
           const SettingsFile& a, const SettingsFile& b) {
  if (options.json) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const Difference& d : differences) {
      nlohmann::ordered_json row = {{"axis", d.axis}, {"name", d.parameter.name}};
      put_side(row, "a", d.parameter, d.a, options.hex);
      put_side(row, "b", d.parameter, d.b, options.hex);
      rows.push_back(std::move(row));
    }
    return emit(rows.dump(2) + "\n");
  }
  return emit(difference_text(options, differences, sides, a, b));
}

std::vector<uint8_t> axes_of(const SettingsFile& file) {
  std::vector<uint8_t> axes;
  for (const DriveSettings& d : file.drives) axes.push_back(d.axis);
  return axes;
}

// The drives of the axes compared, each reduced to what the file holds; a drive that
// cannot be read has been said.
std::optional<SettingsFile> live_side(Session& session, const SettingsFile& a, const std::vector<uint8_t>& axes) {
  bool with_ram = false;
  for (uint8_t axis : axes) with_ram = with_ram || a.drive(axis)->has_ram;
  SettingsFile live;
  for (drive::Snapshot& snapshot : read_live(session, axes, with_ram)) {
    if (!snapshot.settings) {
      say(unreadable_message(snapshot.axis, snapshot.settings.error()));
      return std::nullopt;
    }
    live.drives.push_back(drive::only_as_in(*snapshot.settings, *a.drive(snapshot.axis)));
  }
  return live;
}

// The file on the B side, from the drives of the axes compared.
std::optional<SettingsFile> read_live_side(const Options& options, const SettingsFile& a, const std::vector<uint8_t>& axes,
                                           int& exit_code) {
  for (uint8_t axis : axes) {
    if (!a.drive(axis)) {
      say("the file holds no axis " + std::to_string(axis));
      exit_code = EXIT_USAGE;
      return std::nullopt;
    }
  }
  Options on_axes = options;
  on_axes.axes = axes_text(axes);
  std::optional<SettingsFile> live;
  exit_code = with_session(on_axes, [&](Session& session, int opened) {
    if (opened != EXIT_DONE) return EXIT_USAGE;  // an axis that did not start has been said
    live = live_side(session, a, axes);
    return live ? EXIT_DONE : EXIT_USAGE;
  });
  return live;
}

}  // namespace

int run_diff(const Options& options, const SettingsRequest& request) {
  const std::optional<SettingsFile> a = read_settings_said(request.file);
  if (!a) return EXIT_USAGE;
  std::vector<uint8_t> axes = axes_of(*a);
  if (request.axes_given) {
    const std::optional<std::vector<uint8_t>> given = axes_option(options);
    if (!given) return EXIT_USAGE;
    axes = *given;
  }
  int exit_code = EXIT_USAGE;
  std::optional<SettingsFile> b;
  if (request.other.empty()) {
    b = read_live_side(options, *a, axes, exit_code);
  } else {
    b = read_settings_said(request.other);
  }
  if (!b) return exit_code;

  std::vector<Difference> differences;
  for (uint8_t axis : axes) {
    if (!a->drive(axis) && !b->drive(axis)) {
      say("neither file holds axis " + std::to_string(axis));
      return EXIT_USAGE;
    }
    drive::compare_drive(axis, a->drive(axis), b->drive(axis), differences);
  }
  const Sides sides{request.file, request.other.empty() ? "drives" : request.other};
  if (!print(options, differences, sides, *a, *b)) {
    say("cannot write to standard output");
    return EXIT_USAGE;
  }
  return differences.empty() ? EXIT_DONE : EXIT_FAILED;
}

}  // namespace zr90
