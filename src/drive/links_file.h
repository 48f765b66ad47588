// Named links: a TOML file of [NAME] tables, each holding the link settings a front
// end would otherwise take from its options or the environment. A user names the
// bench once and reaches it by that name from then on.
//
//   [bench]
//   interface = "OSDEVICE"
//   protocol = "ZAL"
//   port = "COM3"
//   baud = 115200
//
// It lives with the drive layer because a link written to the file is replaced whole,
// by the same atomic writer as the settings files.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "core/result.h"

namespace drive {

// One [NAME] table. Every value is kept as the text a front end's option would take,
// so that it is checked exactly as that option's value is.
struct NamedLink {
  std::string name;
  std::optional<std::string> interface_kind;  // interface
  std::optional<std::string> protocol;        // protocol
  std::optional<std::string> port;            // port
  std::optional<std::string> baud;            // baud
  std::optional<std::string> baud_mul;        // baud-mul
  std::optional<std::string> ip;              // ip
  std::optional<std::string> axes;            // axis: the axes a command works on by default
};

// The keys a table may hold, in the order they are written.
std::span<const std::string_view> link_keys();

// Where the file is looked for: $XDG_CONFIG_HOME/zr90/links.toml, else
// ~/.config/zr90/links.toml; %APPDATA%\zr90\links.toml on Windows. Empty when the
// environment names no home at all.
std::string default_links_path(const config::EnvLookup& lookup = config::process_environment);

// The links of a file's text, in the order of the file. A TOML error names the path,
// line and column; a key that is not one of link_keys() is refused with its name and
// line, as is a value that is neither text nor a number.
core::Result<std::vector<NamedLink>> parse_links(std::string_view text, const std::string& path);

// The links of the file at path; a file that does not exist holds none.
core::Result<std::vector<NamedLink>> read_links(const std::string& path);

// The link called name in the file; the failure for an unknown name lists the names
// the file holds.
core::Result<NamedLink> find_link(const std::string& path, const std::string& name);

// text with the link's table in place of the one of the same name, or added at the
// end. Everything else in the text (other tables, comments) stays as it was.
core::Result<std::string> with_link(std::string_view text, const std::string& path, const NamedLink& link);

// The link written into the file at path (created, with its folder, when missing),
// replacing the file whole or not at all.
core::Status save_link(const std::string& path, const NamedLink& link);

// A name as it may be shown on a terminal: printable ASCII as it is, anything else
// (control characters, invisible or look-alike characters) as an escape.
std::string shown_name(std::string_view name);

// What the link reaches, in a line: "OSDEVICE ZAL, COM3 at 115200 bit/s",
// "EZAL16 SSZAL, card 10.0.0.2, axes 0-3"; the settings it leaves to the
// environment are not named.
std::string reach_text(const NamedLink& link);

}  // namespace drive
