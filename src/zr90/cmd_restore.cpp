// zr90 restore: a settings file put back into the drives. The file is checked
// whole before the link opens, the drives' own settings are kept in a backup before
// the first write, and only the settings that differ are written (an EEPROM wears
// out), each one read back.
#include <string>
#include <vector>

#include "platform/console.h"
#include "zr90/axes.h"
#include "zr90/commands.h"
#include "zr90/live_settings.h"
#include "zr90/reading.h"
#include "zr90/settings_file.h"
#include "zr90/version.h"

namespace zr90 {

namespace {

struct Target {
  uint8_t axis = 0;
  const DriveSettings* wanted = nullptr;  // the file's drive whose settings go there
};

enum class Outcome { planned, verified, differs, unconfirmed, not_written };

struct Change {
  SavedValue wanted;
  uint64_t old_bits = 0;
  // Its bytes are all written by this earlier change of the same axis (nvkqilo
  // with nvkqi): it is read back, not written again.
  std::optional<std::size_t> covered_by;
  Outcome outcome = Outcome::planned;
};

struct AxisPlan {
  uint8_t axis = 0;
  std::vector<Change> changes;
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

bool contains(const drive::Parameter& outer, const drive::Parameter& inner) {
  const unsigned outer_end = outer.location.address + static_cast<unsigned>(outer.location.width);
  const unsigned inner_end = inner.location.address + static_cast<unsigned>(inner.location.width);
  return outer.location.address <= inner.location.address && inner_end <= outer_end;
}

std::vector<Change> changes_for(const DriveSettings& wanted, const DriveSettings& live) {
  std::vector<Change> changes;
  for (const SavedValue& w : wanted.eeprom) {
    for (const SavedValue& l : live.eeprom) {
      if (l.parameter.name == w.parameter.name && l.bits != w.bits) changes.push_back({w, l.bits, std::nullopt});
    }
  }
  for (std::size_t i = 0; i < changes.size(); ++i) {
    for (std::size_t j = 0; j < i && !changes[i].covered_by; ++j) {
      if (!changes[j].covered_by && contains(changes[j].wanted.parameter, changes[i].wanted.parameter)) {
        changes[i].covered_by = j;
      }
    }
  }
  return changes;
}

std::string change_line(uint8_t axis, const Change& change, bool hex) {
  const drive::Parameter& p = change.wanted.parameter;
  return std::to_string(axis) + " " + p.name + " " + drive::format_value(p.type, change.old_bits, hex) + " -> " +
         drive::format_value(p.type, change.wanted.bits, hex) + "\n";
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
bool confirmed(const Options& options, const std::vector<AxisPlan>& plans) {
  if (options.yes) return true;
  std::fputs(plan_text(plans, options.hex).c_str(), stderr);
  const std::string question = "write " + settings_count(change_count(plans)) + on_axes(axes_changed(plans)) + "? [y/N] ";
  std::fputs(question.c_str(), stderr);
  std::fflush(stderr);
  const std::string answer = platform::console::read_line();
  return answer == "y" || answer == "Y";
}

core::Status write_backup(Session& session, const SettingsRequest& request, const std::vector<DriveSettings>& before,
                          std::string& path) {
  SettingsFile backup;
  backup.saved_at = utc_timestamp();
  backup.saved_by = std::string("zr90 ") + ZR90_VERSION;
  backup.link = link_description(session.link().settings());
  backup.drives = before;
  path = backup_path(request.file);
  return write_file_atomically(path, settings_text(backup));
}

// Writes the changes of each axis one by one, each read back before the next; a
// failure of the link or of the non-volatile flag stops every axis, a failure of
// one drive stops that axis, a value that reads back different stops nothing.
// Ctrl-C lets the write in progress finish: every write clears the flag itself.
class Writer {
 public:
  Writer(Session& session, const Options& options) : session_(session), options_(options) {}

  void run(AxisPlan& plan) {
    bool axis_stopped = false;
    for (Change& change : plan.changes) {
      if (platform::console::interrupted()) interrupted_ = true;
      if (stop_all_ || axis_stopped || interrupted_) {
        change.outcome = Outcome::not_written;
        continue;
      }
      if (change.covered_by) {
        const Outcome covering = plan.changes[*change.covered_by].outcome;
        if (covering != Outcome::verified) {
          change.outcome = covering;
          continue;
        }
      }
      change.outcome = apply(plan.axis, change);
      if (change.outcome == Outcome::unconfirmed) axis_stopped = true;
      if (change.outcome == Outcome::verified && !emit(change_line(plan.axis, change, options_.hex))) {
        say("cannot write to standard output");
      }
    }
  }

  bool interrupted() const { return interrupted_; }

 private:
  Outcome apply(uint8_t axis, const Change& change) {
    const drive::Parameter& parameter = change.wanted.parameter;
    drivelink::Link& link = session_.link();
    if (!change.covered_by) {
      if (core::Status written = link.write(axis, parameter.location, change.wanted.bits); !written) {
        return failed(axis, parameter, written.error());
      }
    }
    core::Result<uint64_t> after = link.read(axis, parameter.location);
    if (!after) return failed(axis, parameter, after.error());
    if (width_bits(parameter, *after) == change.wanted.bits) return Outcome::verified;
    say("axis " + std::to_string(axis) + ": " + parameter.name + ": wrote " +
        drive::format_value(parameter.type, change.wanted.bits, options_.hex) + ", read back " +
        drive::format_value(parameter.type, width_bits(parameter, *after), options_.hex));
    return Outcome::differs;
  }

  Outcome failed(uint8_t axis, const drive::Parameter& parameter, const core::Failure& failure) {
    say("axis " + std::to_string(axis) + ": " + parameter.name + ": " + describe(failure));
    if (ends_the_link(failure) || failure.kind == core::FailureKind::nonvolatile) stop_all_ = true;
    return Outcome::unconfirmed;
  }

  Session& session_;
  const Options& options_;
  bool stop_all_ = false;
  bool interrupted_ = false;
};

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
  if (names_with(plan, Outcome::verified).size() > 0 && names_with(plan, Outcome::differs).empty() &&
      names_with(plan, Outcome::unconfirmed).empty() && names_with(plan, Outcome::not_written).empty()) {
    say(axis + settings_count(plan.changes.size()) + " written and verified");
    return true;
  }
  const struct {
    Outcome outcome;
    const char* label;
  } parts[] = {{Outcome::verified, "written and verified: "},
               {Outcome::differs, "written but read back different: "},
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
  const std::vector<LiveDrive> live = read_live(session, axes, false);
  for (std::size_t i = 0; i < live.size(); ++i) {
    if (!live[i].settings) {
      // An axis that did not start has been said when the link opened.
      if (session.axis_started(live[i].axis)) say(unreadable_message(live[i].axis, live[i].settings.error()));
      exit_code = EXIT_FAILED;
      continue;
    }
    before.push_back(*live[i].settings);
    plans.push_back({targets[i].axis, changes_for(*targets[i].wanted, *live[i].settings)});
  }
  return plans;
}

int write_plans(Session& session, const Options& options, std::vector<AxisPlan>& plans, int exit_code) {
  platform::console::start_key_poll();
  Writer writer(session, options);
  for (AxisPlan& plan : plans) writer.run(plan);
  platform::console::stop_key_poll();
  if (writer.interrupted()) say("interrupted: the write in progress was finished and the non-volatile flag cleared");
  bool all_verified = true;
  for (const AxisPlan& plan : plans) all_verified = report(plan) && all_verified;
  return all_verified && !writer.interrupted() ? exit_code : EXIT_FAILED;
}

}  // namespace

int run_restore(const Options& options, const SettingsRequest& request) {
  const core::Result<SettingsFile> file = read_settings_file(request.file);
  if (!file) {
    say(file.error().text + "; nothing written");
    return EXIT_USAGE;
  }
  const std::optional<std::vector<Target>> targets = targets_of(options, request, *file);
  if (!targets) return EXIT_USAGE;
  if (!request.dry_run && !options.yes && !platform::console::input_is_terminal()) {
    say("refusing to write EEPROM settings without a terminal to confirm them; give -y to write them");
    return EXIT_USAGE;
  }

  Options on_targets = options;
  std::vector<uint8_t> axes;
  for (const Target& t : *targets) axes.push_back(t.axis);
  on_targets.axes = axes_text(axes);
  int exit_code = EXIT_USAGE;
  std::optional<std::unique_ptr<Session>> opened = Session::open(on_targets, exit_code);
  if (!opened) return exit_code;
  Session& session = **opened;

  std::vector<DriveSettings> before;
  std::vector<AxisPlan> plans = plan_restore(session, *targets, before, exit_code);
  const std::size_t count = change_count(plans);
  if (count == 0) {
    say("nothing to change: the drives hold the file's settings");
    return exit_code;
  }
  if (request.dry_run) {
    if (!emit(plan_text(plans, options.hex))) return EXIT_USAGE;
    say("dry run: " + settings_count(count) + " would change" + on_axes(axes_changed(plans)) + "; nothing written");
    return exit_code;
  }
  if (!confirmed(options, plans)) {
    say("nothing written");
    return EXIT_FAILED;
  }
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

}  // namespace zr90
