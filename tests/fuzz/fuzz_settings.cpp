// The settings file reader: no input may crash it, and whatever it accepts, written
// out again and read back, holds the same drives and values, and is written out the
// same way the second time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "drive/settings_file.h"

namespace {

bool same_values(const std::vector<drive::SavedValue>& a, const std::vector<drive::SavedValue>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].parameter.name != b[i].parameter.name || a[i].bits != b[i].bits) return false;
  }
  return true;
}

bool same_settings(const drive::SettingsFile& a, const drive::SettingsFile& b) {
  if (a.saved_at != b.saved_at || a.saved_by != b.saved_by || a.link.interface_kind != b.link.interface_kind ||
      a.link.protocol != b.link.protocol || a.link.address != b.link.address || a.drives.size() != b.drives.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.drives.size(); ++i) {
    const drive::DriveSettings& x = a.drives[i];
    const drive::DriveSettings& y = b.drives[i];
    if (x.axis != y.axis || x.has_ram != y.has_ram || !same_values(x.eeprom, y.eeprom) || !same_values(x.ram, y.ram)) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const core::Result<drive::SettingsFile> first = drive::parse_settings(text);
  if (!first) return 0;
  const std::string written = drive::settings_text(*first);
  const core::Result<drive::SettingsFile> again = drive::parse_settings(written);
  if (!again || !same_settings(*first, *again)) std::abort();
  if (drive::settings_text(*again) != written) std::abort();
  return 0;
}
