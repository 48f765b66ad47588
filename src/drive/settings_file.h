// The settings file of save, diff and restore: a drive's EEPROM settings (and, on
// request, its RAM values) per axis, as JSON a person can read and compare. The
// reader checks a file whole, so that nothing is written from a file with a fault.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "config/config.h"
#include "drive/snapshot.h"

namespace drive {

inline constexpr char SETTINGS_FORMAT[] = "zr90-settings";
inline constexpr int SETTINGS_VERSION = 1;

struct LinkDescription {
  std::string interface_kind;
  std::string protocol;
  std::string address;  // the card's IP address or the port; may be empty
};

// The link as a settings file records it.
LinkDescription link_description(const config::LinkSettings& settings);

struct SettingsFile {
  std::string saved_at;  // UTC, 2026-12-07T18:00:00Z
  std::string saved_by;  // "zr90 1.1.0"
  LinkDescription link;
  std::vector<DriveSettings> drives;  // ascending by axis
  // Configuration locations the file holds (files of earlier versions saved them):
  // read over, never restored.
  std::vector<std::string> skipped;

  const DriveSettings* drive(uint8_t axis) const;
};

std::string settings_text(const SettingsFile& file);

// The whole text checked: format, version, axes, names, every value in its type's
// range, and parameters that share EEPROM bytes agreeing on them. The failure names
// the line, the axis or the parameter.
// A text beyond the limits (a NUL byte, nesting deeper than MAX_NESTING, more than
// MAX_MEMBERS entries in one object or array) is refused before it is parsed, so
// that reading takes time in proportion to the text.
core::Result<SettingsFile> parse_settings(std::string_view text);

// Far above what any settings file holds (eight drives of a few dozen settings, four
// levels deep), far below what would take a reader long.
inline constexpr std::size_t MAX_SETTINGS_FILE_BYTES = 1024 * 1024;
inline constexpr int MAX_NESTING = 8;
inline constexpr std::size_t MAX_MEMBERS = 4096;

// The file read and parsed; the failure's text starts with the path.
// A folder, and a file over MAX_SETTINGS_FILE_BYTES, are refused without reading it whole.
core::Result<SettingsFile> read_settings_file(const std::string& path);

// "2026-12-07T18:00:00Z" for now.
std::string utc_timestamp();

// Where a restore from path keeps the drives' settings before it writes:
// NAME.before-YYYYMMDDTHHMMSS.json beside it (local time), a name not yet taken.
std::string backup_path(const std::string& path);

}  // namespace drive
