// The C interface's settings: taken from the drives, read from and written to
// files, compared, and put back into the drives.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "capi/internal.h"
#include "drive/atomic_file.h"
#include "drive/restore.h"
#include "drive/settings_diff.h"
#include "zr90/version.h"

using capi::failed;
using capi::guarded;
using capi::ready;

namespace {

drive::SettingsFile file_of(const zr90_link& link) {
  drive::SettingsFile file;
  file.saved_at = drive::utc_timestamp();
  file.saved_by = std::string("libzr90 ") + ZR90_VERSION;
  file.link = drive::link_description(link.link->settings());
  return file;
}

// The settings of each axis, or the first axis's failure.
int read_drives(zr90_link& link, std::span<const uint8_t> axes, bool with_ram,
                std::vector<drive::DriveSettings>& drives, zr90_error* error) {
  for (drive::Snapshot& snapshot : drive::read_snapshots(*link.link, axes, link.link->not_started(), with_ram)) {
    if (snapshot.settings) {
      drives.push_back(std::move(*snapshot.settings));
      continue;
    }
    if (!link.started(snapshot.axis)) {
      return failed(error, ZR90_NOT_STARTED, "the channel did not start; is a drive connected?",
                    capi::Where{snapshot.axis});
    }
    const core::Failure& failure = snapshot.settings.error();
    if (link.cancel.cancelled()) return failed(error, ZR90_CANCELLED, "cancelled", capi::Where{snapshot.axis});
    return failed(error, failure, link.cancel, capi::Where{snapshot.axis});
  }
  return ZR90_OK;
}

std::vector<uint8_t> started_axes(const zr90_link& link) {
  std::vector<uint8_t> axes;
  for (unsigned axis = 0; axis < config::reachable_axes(link.link->settings()); ++axis) {
    if (link.started(static_cast<uint8_t>(axis))) axes.push_back(static_cast<uint8_t>(axis));
  }
  return axes;
}

std::vector<uint8_t> axes_of(const drive::SettingsFile& file) {
  std::vector<uint8_t> axes;
  for (const drive::DriveSettings& d : file.drives) axes.push_back(d.axis);
  return axes;
}

// An array for the caller to give back with zr90_free.
template <class T>
int handed_out(const std::vector<T>& items, T** out, size_t* count, zr90_error* error) {
  *out = nullptr;
  *count = items.size();
  if (items.empty()) return ZR90_OK;
  *out = static_cast<T*>(std::malloc(items.size() * sizeof(T)));
  if (*out == nullptr) return failed(error, ZR90_NO_MEMORY, "out of memory");
  std::copy(items.begin(), items.end(), *out);
  return ZR90_OK;
}

// The parameter's name for the caller: the dictionary's own text, which outlives every object.
const char* lasting_name(const drive::Parameter& parameter) { return parameter.row_name.data(); }

struct Target {
  uint8_t axis = 0;
  const drive::DriveSettings* wanted = nullptr;
};

int targets_of(const zr90_link& link, const drive::SettingsFile& file, const zr90_restore_options& options,
               std::vector<Target>& targets, zr90_error* error) {
  std::vector<uint8_t> axes =
      options.axes != nullptr ? std::vector<uint8_t>(options.axes, options.axes + options.axis_count) : axes_of(file);
  if (options.from_axis >= 0 && (options.from_axis > 7 || !file.drive(static_cast<uint8_t>(options.from_axis)))) {
    return failed(error, ZR90_ARGUMENT,
                  "the settings hold no axis " + std::to_string(options.from_axis) + " to copy from");
  }
  if (int code = link.check_axes(axes, error); code != ZR90_OK) return code;
  for (uint8_t axis : axes) {
    const uint8_t source = options.from_axis >= 0 ? static_cast<uint8_t>(options.from_axis) : axis;
    if (!file.drive(source)) {
      return failed(error, ZR90_ARGUMENT, "the settings hold no axis " + std::to_string(axis), capi::Where{axis});
    }
    targets.push_back({axis, file.drive(source)});
  }
  return ZR90_OK;
}

int write_backup(const zr90_link& link, const zr90_settings& settings, const char* folder,
                 const std::vector<drive::DriveSettings>& before, std::string& path, zr90_error* error) {
  const std::string name =
      settings.source.empty() ? "settings.json" : std::filesystem::path(settings.source).filename().string();
  path = drive::backup_path((std::filesystem::path(folder) / name).string());
  drive::SettingsFile backup = file_of(link);
  backup.drives = before;
  if (core::Status written = drive::write_file_atomically(path, drive::settings_text(backup)); !written) {
    return failed(error, ZR90_FILE, written.error().text + " (the backup); nothing written");
  }
  return ZR90_OK;
}

// The restore's result: OK when every change verified, else its first trouble.
int restore_result(const std::vector<drive::AxisPlan>& plans, const std::optional<zr90_error>& first_failure,
                   bool cancelled, zr90_error* error) {
  if (first_failure) {
    if (error != nullptr) *error = *first_failure;
    return first_failure->code;
  }
  for (const drive::AxisPlan& plan : plans) {
    for (const drive::Change& change : plan.changes) {
      const capi::Where where{plan.axis, change.wanted.parameter.name};
      if (change.outcome == drive::Outcome::overwritten) {
        return failed(error, ZR90_MISMATCH, "written and verified, then changed by a later write", where);
      }
      if (change.outcome != drive::Outcome::verified) {
        return failed(error, cancelled ? ZR90_CANCELLED : ZR90_MISMATCH, cancelled ? "cancelled" : "not written",
                      where);
      }
    }
  }
  return ZR90_OK;
}

int restore(zr90_link& link, const zr90_settings& settings, const zr90_restore_options& options,
            std::vector<zr90_change>& changes, std::string& backup, zr90_error* error) {
  std::vector<Target> targets;
  if (int code = targets_of(link, settings.file, options, targets, error); code != ZR90_OK) return code;
  std::vector<uint8_t> axes;
  for (const Target& t : targets) axes.push_back(t.axis);
  std::vector<drive::DriveSettings> before;
  if (int code = read_drives(link, axes, false, before, error); code != ZR90_OK) return code;
  std::vector<drive::AxisPlan> plans;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    plans.push_back({targets[i].axis, drive::changes_for(*targets[i].wanted, before[i])});
  }
  std::size_t planned = 0;
  for (const drive::AxisPlan& plan : plans) planned += plan.changes.size();
  std::optional<zr90_error> first_failure;
  bool cancelled = false;
  if (!options.dry_run && planned > 0) {
    if (options.backup_dir != nullptr) {
      if (int code = write_backup(link, settings, options.backup_dir, before, backup, error); code != ZR90_OK)
        return code;
    }
    drive::RestoreCallbacks callbacks;
    callbacks.cancelled = [&link] { return link.cancel.cancelled(); };
    callbacks.progress = [&](uint8_t axis, const drive::Change& change, const drive::WriteOutcome& write) {
      if (first_failure || (!write.failure && !write.mismatch)) return;
      zr90_error e{};
      const capi::Where where{axis, change.wanted.parameter.name};
      if (write.failure) {
        failed(&e, *write.failure, link.cancel, where);
      } else {
        const drive::Parameter& p = change.wanted.parameter;
        failed(&e, ZR90_MISMATCH,
               "wrote " + drive::format_value(p.type, change.wanted.bits, false) + ", read back " +
                   drive::format_value(p.type, *write.read_back, false),
               where);
      }
      first_failure = e;
    };
    cancelled = drive::apply_restore(*link.link, plans, callbacks) == drive::RestoreEnd::cancelled;
  }
  for (const drive::AxisPlan& plan : plans) {
    for (const drive::Change& change : plan.changes) {
      const drive::Parameter& p = change.wanted.parameter;
      changes.push_back({plan.axis, lasting_name(p), capi::number_of(p, change.old_bits),
                         capi::number_of(p, change.wanted.bits), static_cast<int>(change.outcome)});
    }
  }
  if (options.dry_run || planned == 0) return ZR90_OK;
  return restore_result(plans, first_failure, cancelled, error);
}

}  // namespace

extern "C" {

ZR90_API int zr90_save(zr90_link* link, const uint8_t* axes, size_t axis_count, int with_ram, zr90_settings** settings,
                       zr90_error* error) {
  if (int code = ready(link, error); code != ZR90_OK) return code;
  if (settings == nullptr || (axes == nullptr && axis_count > 0))
    return failed(error, ZR90_ARGUMENT, "NULL settings or axes");
  *settings = nullptr;
  return guarded(error, [&]() -> int {
    const std::vector<uint8_t> chosen =
        axes != nullptr ? std::vector<uint8_t>(axes, axes + axis_count) : started_axes(*link);
    if (int code = link->check_axes(chosen, error); code != ZR90_OK) return code;
    auto saved = std::make_unique<zr90_settings>();
    saved->file = file_of(*link);
    if (int code = read_drives(*link, chosen, with_ram != 0, saved->file.drives, error); code != ZR90_OK) return code;
    *settings = saved.release();
    return ZR90_OK;
  });
}

ZR90_API int zr90_save_like(zr90_link* link, const zr90_settings* like, zr90_settings** settings, zr90_error* error) {
  if (int code = ready(link, error); code != ZR90_OK) return code;
  if (like == nullptr || settings == nullptr) return failed(error, ZR90_ARGUMENT, "NULL settings");
  *settings = nullptr;
  return guarded(error, [&]() -> int {
    const std::vector<uint8_t> axes = axes_of(like->file);
    if (int code = link->check_axes(axes, error); code != ZR90_OK) return code;
    const bool with_ram = std::any_of(like->file.drives.begin(), like->file.drives.end(),
                                      [](const drive::DriveSettings& d) { return d.has_ram; });
    std::vector<drive::DriveSettings> live;
    if (int code = read_drives(*link, axes, with_ram, live, error); code != ZR90_OK) return code;
    auto saved = std::make_unique<zr90_settings>();
    saved->file = file_of(*link);
    for (const drive::DriveSettings& d : live)
      saved->file.drives.push_back(drive::only_as_in(d, *like->file.drive(d.axis)));
    *settings = saved.release();
    return ZR90_OK;
  });
}

ZR90_API int zr90_settings_load(const char* path, zr90_settings** settings, zr90_error* error) {
  if (path == nullptr || settings == nullptr) return failed(error, ZR90_ARGUMENT, "NULL path or settings");
  *settings = nullptr;
  return guarded(error, [&]() -> int {
    core::Result<drive::SettingsFile> file = drive::read_settings_file(path);
    if (!file) return failed(error, ZR90_SETTINGS, file.error().text);
    *settings = new zr90_settings{std::move(*file), path};
    return ZR90_OK;
  });
}

ZR90_API int zr90_settings_write(const zr90_settings* settings, const char* path, zr90_error* error) {
  if (path == nullptr || settings == nullptr) return failed(error, ZR90_ARGUMENT, "NULL path or settings");
  return guarded(error, [&]() -> int {
    if (core::Status written = drive::write_file_atomically(path, drive::settings_text(settings->file)); !written) {
      return failed(error, ZR90_FILE, written.error().text);
    }
    return ZR90_OK;
  });
}

ZR90_API void zr90_settings_free(zr90_settings* settings) { delete settings; }

ZR90_API size_t zr90_settings_axes(const zr90_settings* settings, uint8_t axes[8]) {
  if (settings == nullptr) return 0;
  std::size_t count = 0;
  for (const drive::DriveSettings& d : settings->file.drives) {
    if (count < 8 && axes != nullptr) axes[count] = d.axis;
    ++count;
  }
  return std::min<std::size_t>(count, 8);
}

ZR90_API size_t zr90_settings_count(const zr90_settings* settings, unsigned axis) {
  const drive::DriveSettings* d = settings && axis <= 0xFF ? settings->file.drive(static_cast<uint8_t>(axis)) : nullptr;
  return d ? d->eeprom.size() + d->ram.size() : 0;
}

ZR90_API int zr90_settings_at(const zr90_settings* settings, unsigned axis, size_t index, zr90_setting* setting) {
  const drive::DriveSettings* d = settings && axis <= 0xFF ? settings->file.drive(static_cast<uint8_t>(axis)) : nullptr;
  if (d == nullptr || setting == nullptr || index >= d->eeprom.size() + d->ram.size()) return ZR90_ARGUMENT;
  const bool ram = index >= d->eeprom.size();
  const drive::SavedValue& v = ram ? d->ram[index - d->eeprom.size()] : d->eeprom[index];
  *setting = zr90_setting{lasting_name(v.parameter), ram ? 1 : 0, capi::number_of(v.parameter, v.bits)};
  return ZR90_OK;
}

ZR90_API int zr90_diff(const zr90_settings* a, const zr90_settings* b, zr90_difference** differences, size_t* count,
                       zr90_error* error) {
  if (a == nullptr || b == nullptr || differences == nullptr || count == nullptr) {
    return failed(error, ZR90_ARGUMENT, "NULL settings or results");
  }
  return guarded(error, [&]() -> int {
    std::vector<uint8_t> axes = axes_of(a->file);
    for (uint8_t axis : axes_of(b->file)) axes.push_back(axis);
    std::sort(axes.begin(), axes.end());
    axes.erase(std::unique(axes.begin(), axes.end()), axes.end());
    std::vector<drive::Difference> found;
    for (uint8_t axis : axes) drive::compare_drive(axis, a->file.drive(axis), b->file.drive(axis), found);
    std::vector<zr90_difference> rows;
    for (const drive::Difference& d : found) {
      rows.push_back({d.axis, lasting_name(d.parameter), d.a ? 1 : 0, d.b ? 1 : 0,
                      d.a ? capi::number_of(d.parameter, *d.a) : 0, d.b ? capi::number_of(d.parameter, *d.b) : 0});
    }
    return handed_out(rows, differences, count, error);
  });
}

ZR90_API int zr90_restore(zr90_link* link, const zr90_settings* settings, const zr90_restore_options* options,
                          zr90_change** changes, size_t* count, char* backup, size_t backup_size, zr90_error* error) {
  if (int code = ready(link, error); code != ZR90_OK) return code;
  if (settings == nullptr || changes == nullptr || count == nullptr) {
    return failed(error, ZR90_ARGUMENT, "NULL settings or results");
  }
  *changes = nullptr;
  *count = 0;
  if (backup != nullptr && backup_size > 0) backup[0] = '\0';
  const zr90_restore_options defaults{nullptr, 0, -1, 0, nullptr};
  return guarded(error, [&]() -> int {
    std::vector<zr90_change> rows;
    std::string backup_path;
    const int code = restore(*link, *settings, options != nullptr ? *options : defaults, rows, backup_path, error);
    if (backup != nullptr && backup_size > 0) {
      const std::size_t n = std::min(backup_path.size(), backup_size - 1);
      std::memcpy(backup, backup_path.data(), n);
      backup[n] = '\0';
    }
    zr90_error ignored{};
    if (int handed = handed_out(rows, changes, count, &ignored); handed != ZR90_OK)
      return failed(error, handed, ignored.message);
    return code;
  });
}

}  // extern "C"
