// zr90 save: every EEPROM setting of each axis into one settings file.
#include <string>

#include "drive/atomic_file.h"
#include "drive/settings_file.h"
#include "zr90/command_steps.h"
#include "zr90/commands.h"
#include "zr90/output.h"
#include "zr90/reading.h"
#include "zr90/version.h"

namespace zr90 {

int save_settings(Session& session, int exit_code, const SettingsRequest& request) {
  drive::SettingsFile file;
  file.saved_at = drive::utc_timestamp();
  file.saved_by = std::string("zr90 ") + ZR90_VERSION;
  file.link = drive::link_description(session.link().settings());
  for (drive::Snapshot& snapshot : read_live(session, session.live_axes(), request.ram)) {
    if (snapshot.settings) {
      file.drives.push_back(std::move(*snapshot.settings));
    } else {
      say(unreadable_message(snapshot.axis, snapshot.settings.error()));
      exit_code = EXIT_FAILED;
    }
  }
  if (file.drives.empty()) {
    say("no axis could be read; nothing saved");
    return EXIT_FAILED;
  }
  const std::string text = drive::settings_text(file);
  if (request.file.empty()) {
    if (emit(text)) return exit_code;
    say("cannot write to standard output");
    return EXIT_USAGE;
  }
  if (core::Status written = drive::write_file_atomically(request.file, text); !written) {
    say(written.error().text);
    return EXIT_USAGE;
  }
  return exit_code;
}

int run_save(const Options& options, const SettingsRequest& request) {
  // A file that cannot be written is said before the drives are read for it.
  if (!request.file.empty()) {
    if (core::Status writable = drive::check_writable(request.file); !writable) {
      say(writable.error().text + "; nothing read");
      return EXIT_USAGE;
    }
  }
  return with_session(options,
                      [&](Session& session, int exit_code) { return save_settings(session, exit_code, request); });
}

}  // namespace zr90
