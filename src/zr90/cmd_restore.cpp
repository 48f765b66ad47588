// zr90 restore: a settings file put back into the drives. The file is checked
// whole before the link opens, the drives' own settings are kept in a backup before
// the first write, and only the settings that differ are written (an EEPROM wears
// out), each one read back.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "drive/atomic_file.h"
#include "drive/restore.h"
#include "drive/settings_file.h"
#include "platform/console.h"
#include "zr90/axes.h"
#include "zr90/commands.h"
#include "zr90/confirm.h"
#include "zr90/output.h"
#include "zr90/reading.h"
#include "zr90/version.h"

namespace zr90 {

namespace {

using drive::AxisPlan;
using drive::Change;
using drive::DriveSettings;
using drive::Outcome;
using drive::SettingsFile;

struct Target {
  uint8_t axis = 0;
  const DriveSettings* wanted = nullptr;  // the file's drive whose settings go there
};

std::optional<std::vector<uint8_t>> requested_axes(const Options& options, const SettingsRequest& request,
                                                   const SettingsFile& file) {
  if (request.axes_given) return axes_option(options);
  if (request.from) return std::vector<uint8_t>{static_cast<uint8_t>(*request.from)};
  std::vector<uint8_t> axes;
  for (const DriveSettings& d : file.drives) axes.push_back(d.axis);
  return axes;
}

// Each axis to restore and the file's drive it takes its settings from.
std::optional<std::vector<Target>> targets_of(const Options& options, const SettingsRequest& request,
                                              const SettingsFile& file) {
  if (request.from && (*request.from > 7 || !file.drive(static_cast<uint8_t>(*request.from)))) {
    say(request.file + ": holds no axis " + std::to_string(*request.from) + " to copy from");
    return std::nullopt;
  }
  const std::optional<std::vector<uint8_t>> axes = requested_axes(options, request, file);
  if (!axes) return std::nullopt;
  std::vector<Target> targets;
  for (uint8_t axis : *axes) {
    const uint8_t source = request.from ? static_cast<uint8_t>(*request.from) : axis;
    if (!file.drive(source)) {
      say(request.file + ": holds no axis " + std::to_string(axis) +
          "; give --from AXIS to copy another axis's settings onto it");
      return std::nullopt;
    }
    targets.push_back({axis, file.drive(source)});
  }
  return targets;
}

std::string change_line(uint8_t axis, const Change& change, bool hex) {
  const drive::Parameter& p = change.wanted.parameter;
  return std::to_string(axis) + " " + p.name + " " + drive::format_value(p.type, change.old_bits, hex) + " -> " +
         drive::format_value(p.type, change.wanted.bits, hex) + "\n";
}

const char* outcome_name(Outcome outcome) {
  switch (outcome) {
    case Outcome::planned: return "planned";
    case Outcome::verified: return "verified";
    case Outcome::differs: return "differs";
    case Outcome::unconfirmed: return "unconfirmed";
    case Outcome::not_written: return "not written";
    case Outcome::overwritten: return "overwritten";
  }
  return "";
}

// Every change of the plan with its outcome, for --json.
std::string plan_json(const std::vector<AxisPlan>& plans, bool hex) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const AxisPlan& plan : plans) {
    for (const Change& change : plan.changes) {
      const drive::Parameter& parameter = change.wanted.parameter;
      nlohmann::ordered_json row = {{"axis", plan.axis}, {"name", parameter.name}};
      put_value(row, "old", parameter, change.old_bits, hex);
      put_value(row, "new", parameter, change.wanted.bits, hex);
      row["outcome"] = outcome_name(change.outcome);
      rows.push_back(std::move(row));
    }
  }
  return rows.dump(2) + "\n";
}

std::string plan_text(const std::vector<AxisPlan>& plans, bool hex) {
  std::string text;
  for (const AxisPlan& plan : plans) {
    for (const Change& change : plan.changes) text += change_line(plan.axis, change, hex);
  }
  return text;
}

std::size_t change_count(const std::vector<AxisPlan>& plans) {
  std::size_t count = 0;
  for (const AxisPlan& plan : plans) count += plan.changes.size();
  return count;
}

std::string settings_count(std::size_t n) { return std::to_string(n) + (n == 1 ? " setting" : " settings"); }

std::vector<uint8_t> axes_changed(const std::vector<AxisPlan>& plans) {
  std::vector<uint8_t> axes;
  for (const AxisPlan& plan : plans) {
    if (!plan.changes.empty()) axes.push_back(plan.axis);
  }
  return axes;
}

std::string on_axes(const std::vector<uint8_t>& axes) { return (axes.size() == 1 ? " on axis " : " on axes ") + axes_text(axes); }

// A person sees the plan and says yes; -y says it for a script.
bool plan_confirmed(const Options& options, const std::vector<AxisPlan>& plans) {
  return confirmed(options, plan_text(plans, options.hex) + "write " + settings_count(change_count(plans)) +
                                on_axes(axes_changed(plans)) + "? [y/N] ");
}

core::Status write_backup(Session& session, const SettingsRequest& request, const std::vector<DriveSettings>& before,
                          std::string& path) {
  SettingsFile backup;
  backup.saved_at = drive::utc_timestamp();
  backup.saved_by = std::string("zr90 ") + ZR90_VERSION;
  backup.link = drive::link_description(session.link().settings());
  backup.drives = before;
  path = drive::backup_path(request.file);
  return drive::write_file_atomically(path, drive::settings_text(backup));
}

// Each change as soon as its outcome is known: a verified one on standard output,
// the others said with what went wrong.
void show_progress(const Options& options, uint8_t axis, const Change& change, const drive::WriteOutcome& write) {
  // With --json the changes come as one array at the end.
  const drive::Parameter& parameter = change.wanted.parameter;
  const std::string where = "axis " + std::to_string(axis) + ": " + parameter.name + ": ";
  if (write.failure) {
    say(where + describe(*write.failure));
  } else if (write.mismatch) {
    say(where + "wrote " + drive::format_value(parameter.type, change.wanted.bits, options.hex) + ", read back " +
        drive::format_value(parameter.type, *write.read_back, options.hex));
  } else if (!options.json && !emit(change_line(axis, change, options.hex))) {
    say("cannot write to standard output");
  }
}

std::string names_with(const AxisPlan& plan, Outcome outcome) {
  std::string names;
  for (const Change& change : plan.changes) {
    if (change.outcome != outcome) continue;
    names += (names.empty() ? "" : ", ") + change.wanted.parameter.name;
  }
  return names;
}

// What happened to each axis, in full when anything went wrong; true when every
// change verified.
bool report(const AxisPlan& plan) {
  if (plan.changes.empty()) return true;
  const std::string axis = "axis " + std::to_string(plan.axis) + ": ";
  const bool all_verified = std::all_of(plan.changes.begin(), plan.changes.end(),
                                        [](const Change& change) { return change.outcome == Outcome::verified; });
  if (all_verified) {
    say(axis + settings_count(plan.changes.size()) + " written and verified");
    return true;
  }
  const struct {
    Outcome outcome;
    const char* label;
  } parts[] = {{Outcome::verified, "written and verified: "},
               {Outcome::differs, "written but read back different: "},
               {Outcome::overwritten, "written and verified, then changed by a later write: "},
               {Outcome::unconfirmed, "not confirmed, may or may not be written: "},
               {Outcome::not_written, "not written: "}};
  std::string text;
  for (const auto& part : parts) {
    const std::string names = names_with(plan, part.outcome);
    if (!names.empty()) text += (text.empty() ? "" : "; ") + std::string(part.label) + names;
  }
  say(axis + text);
  return false;
}

// Reads the targets' settings; the plans of the axes that could be read.
std::vector<AxisPlan> plan_restore(Session& session, const std::vector<Target>& targets, std::vector<DriveSettings>& before,
                                   int& exit_code) {
  std::vector<uint8_t> axes;
  for (const Target& t : targets) axes.push_back(t.axis);
  std::vector<AxisPlan> plans;
  const std::vector<drive::Snapshot> live = read_live(session, axes, false);
  for (std::size_t i = 0; i < live.size(); ++i) {
    if (!live[i].settings) {
      // An axis that did not start has been said when the link opened.
      if (session.axis_started(live[i].axis)) say(unreadable_message(live[i].axis, live[i].settings.error()));
      exit_code = EXIT_FAILED;
      continue;
    }
    before.push_back(*live[i].settings);
    plans.push_back({targets[i].axis, drive::changes_for(*targets[i].wanted, *live[i].settings)});
  }
  return plans;
}

// Ctrl-C lets the write in progress finish: every write clears the non-volatile flag itself.
int write_plans(Session& session, const Options& options, std::vector<AxisPlan>& plans, int exit_code) {
  drive::RestoreCallbacks callbacks;
  callbacks.cancelled = [] { return platform::console::interrupted(); };
  callbacks.progress = [&options](uint8_t axis, const Change& change, const drive::WriteOutcome& write) {
    show_progress(options, axis, change, write);
  };
  platform::console::start_key_poll();
  const drive::RestoreEnd end = drive::apply_restore(session.link(), plans, callbacks);
  platform::console::stop_key_poll();
  const bool interrupted = end == drive::RestoreEnd::cancelled;
  if (interrupted) say("interrupted: the write in progress was finished and the non-volatile flag cleared");
  if (options.json && !emit(plan_json(plans, options.hex))) say("cannot write to standard output");
  bool all_verified = true;
  for (const AxisPlan& plan : plans) all_verified = report(plan) && all_verified;
  return all_verified && !interrupted ? exit_code : EXIT_FAILED;
}

// The drives read, the plan shown or confirmed, the backup kept, the plan written.
int restore_on(Session& session, int exit_code, const Options& options, const SettingsRequest& request,
               const std::vector<Target>& targets) {
  std::vector<DriveSettings> before;
  std::vector<AxisPlan> plans = plan_restore(session, targets, before, exit_code);
  const std::size_t count = change_count(plans);
  if (plans.empty()) {
    say("no axis could be read; nothing written");
    return EXIT_FAILED;
  }
  if (count == 0) {
    if (options.json && !emit(plan_json(plans, options.hex))) return EXIT_USAGE;
    say("nothing to change: the drives hold the file's settings");
    return exit_code;
  }
  if (request.dry_run) {
    if (!emit(options.json ? plan_json(plans, options.hex) : plan_text(plans, options.hex))) return EXIT_USAGE;
    say("dry run: " + settings_count(count) + " would change" + on_axes(axes_changed(plans)) + "; nothing written");
    return exit_code;
  }
  if (!plan_confirmed(options, plans)) return EXIT_FAILED;
  if (!request.no_backup) {
    std::string path;
    if (core::Status saved = write_backup(session, request, before, path); !saved) {
      say(saved.error().text + "; nothing written (--no-backup restores without a backup)");
      return EXIT_USAGE;
    }
    say("the settings before are kept in " + path);
  }
  return write_plans(session, options, plans, exit_code);
}

}  // namespace

int run_restore(const Options& options, const SettingsRequest& request) {
  const std::optional<SettingsFile> file = read_settings_said(request.file, "; nothing written");
  if (!file) return EXIT_USAGE;
  const std::optional<std::vector<Target>> targets = targets_of(options, request, *file);
  if (!targets) return EXIT_USAGE;
  if (!request.dry_run && !can_confirm(options)) return EXIT_USAGE;
  if (!request.dry_run && !request.no_backup) {
    // The backup goes beside the file: a folder it cannot go into is said before the link opens.
    if (core::Status writable = drive::check_writable(drive::backup_path(request.file)); !writable) {
      say(writable.error().text + " (the backup); nothing written (--no-backup restores without a backup)");
      return EXIT_USAGE;
    }
  }

  Options on_targets = options;
  std::vector<uint8_t> axes;
  for (const Target& t : *targets) axes.push_back(t.axis);
  on_targets.axes = axes_text(axes);
  return with_session(on_targets, [&](Session& session, int exit_code) {
    return restore_on(session, exit_code, options, request, *targets);
  });
}

}  // namespace zr90
