// zr90 save: every EEPROM setting of each axis into one settings file.
#include <string>

#include "zr90/commands.h"
#include "zr90/live_settings.h"
#include "zr90/reading.h"
#include "zr90/settings_file.h"
#include "zr90/version.h"

namespace zr90 {

int run_save(const Options& options, const SettingsRequest& request) {
  int exit_code = EXIT_USAGE;
  std::optional<std::unique_ptr<Session>> opened = Session::open(options, exit_code);
  if (!opened) return exit_code;
  Session& session = **opened;

  SettingsFile file;
  file.saved_at = utc_timestamp();
  file.saved_by = std::string("zr90 ") + ZR90_VERSION;
  file.link = link_description(session.link().settings());
  for (LiveDrive& drive : read_live(session, session.live_axes(), request.ram)) {
    if (drive.settings) {
      file.drives.push_back(std::move(*drive.settings));
    } else {
      say(unreadable_message(drive.axis, drive.settings.error()));
      exit_code = EXIT_FAILED;
    }
  }
  if (file.drives.empty()) {
    say("no axis could be read; nothing saved");
    return EXIT_FAILED;
  }
  const std::string text = settings_text(file);
  if (request.file.empty()) {
    if (emit(text)) return exit_code;
    say("cannot write to standard output");
    return EXIT_USAGE;
  }
  if (core::Status written = write_file_atomically(request.file, text); !written) {
    say(written.error().text);
    return EXIT_USAGE;
  }
  return exit_code;
}

}  // namespace zr90
