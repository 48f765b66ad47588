// zr90 info: what is at the end of the link. A card's identification ROM and the
// channels with a drive; each drive's identity and fault word.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "card/identity.h"
#include "drive/identity.h"
#include "drive/value_type.h"
#include "link/link.h"
#include "zr90/axes.h"
#include "zr90/commands.h"
#include "zr90/output.h"
#include "zr90/reading.h"

namespace zr90 {

namespace {

constexpr std::size_t NAME_COLUMN = 14;

std::string field(const std::string& name, const std::string& value) {
  return name + std::string(name.size() < NAME_COLUMN ? NAME_COLUMN - name.size() : 1, ' ') + value + "\n";
}

// 33.333333 MHz as "33.333333", 100 MHz as "100".
std::string mhz_text(double mhz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", mhz);
  std::string out = text;
  while (out.back() == '0') out.pop_back();
  if (out.back() == '.') out.pop_back();
  return out;
}

std::string hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

std::string revision_text(const card::CardIdentity& card) {
  return std::to_string(card.serial_major) + "." + std::to_string(card.serial_minor);
}

std::vector<uint8_t> drive_channels(const Session& session) {
  std::vector<uint8_t> channels;
  for (uint8_t channel = 0; channel < core::CHANNEL_COUNT; ++channel) {
    if (session.axis_started(channel)) channels.push_back(channel);
  }
  return channels;
}

std::string card_text(const card::CardIdentity& card, const std::vector<uint8_t>& drives) {
  std::string text = field("card", card.board);
  text += field("fpga", "size " + std::to_string(card.fpga_size) + ", " + std::to_string(card.fpga_pins) + " pins");
  text += field("io", std::to_string(card.io_ports) + " ports of " + std::to_string(card.port_width) + ", " +
                          std::to_string(card.io_width) + " pins");
  text += field("clock", mhz_text(card.clock_low_mhz) + " MHz, " + mhz_text(card.clock_high_mhz) + " MHz");
  for (const card::ModuleEntry& module : card.modules) {
    text += field("module", module.name + " version " + std::to_string(module.version) + ", " +
                                std::to_string(module.instances) + (module.instances == 1 ? " instance" : " instances") +
                                " at " + hex4(module.base));
  }
  text += field("channels", axes_text(card.serial_channels) + ", module revision " + revision_text(card));
  text += field("drives", drives.empty() ? "none" : axes_text(drives));
  return text;
}

nlohmann::ordered_json card_json(const card::CardIdentity& card, const std::vector<uint8_t>& drives) {
  nlohmann::ordered_json modules = nlohmann::ordered_json::array();
  for (const card::ModuleEntry& module : card.modules) {
    modules.push_back({{"tag", module.tag}, {"name", module.name}, {"version", module.version},
                       {"instances", module.instances}, {"base", hex4(module.base)}});
  }
  return {{"board", card.board},           {"fpga_size", card.fpga_size},    {"fpga_pins", card.fpga_pins},
          {"io_ports", card.io_ports},     {"io_width", card.io_width},      {"port_width", card.port_width},
          {"clock_low_mhz", card.clock_low_mhz}, {"clock_high_mhz", card.clock_high_mhz},
          {"modules", modules},            {"channels", card.serial_channels},
          {"module_revision", revision_text(card)}, {"drives", drives}};
}

// The lines of one drive; each value that could not be read is said and left out.
std::string drive_text(const Session& session, const drive::DriveIdentity& drive, bool& failed) {
  std::string text;
  for (const drive::IdentityValue& entry : drive.values) {
    if (!entry.value) {
      failed = true;
      say(access_message(session, drive.axis, entry.parameter.name, entry.value.error()));
      continue;
    }
    text += field(entry.parameter.name, drive::format_value(entry.parameter.type, *entry.value, false));
  }
  if (!drive.fault) {
    failed = true;
    say(access_message(session, drive.axis, "fault", drive.fault.error()));
    return text;
  }
  std::string fault = hex4(*drive.fault);
  for (const std::string& bit : drive.fault_bits) fault += " " + bit;
  return text + field("fault", fault);
}

nlohmann::ordered_json drive_json(const drive::DriveIdentity& drive) {
  nlohmann::ordered_json row{{"axis", drive.axis}};
  for (const drive::IdentityValue& entry : drive.values) {
    if (entry.value) {
      row[entry.parameter.name] = drive::signed_value(entry.parameter.type, *entry.value);
    } else {
      row[entry.parameter.name] = nullptr;
    }
  }
  row["fault"] = drive.fault ? nlohmann::ordered_json(*drive.fault) : nlohmann::ordered_json(nullptr);
  row["fault_bits"] = drive.fault_bits;
  return row;
}

int show_info(Session& session, int exit_code, const Options& options) {
  drivelink::Link& link = session.link();
  const std::optional<card::CardIdentity>& card = link.card_identity();
  const std::vector<uint8_t> drives = card ? drive_channels(session) : std::vector<uint8_t>{};
  std::string text = field("link", drivelink::endpoint_text(link.settings()));
  nlohmann::ordered_json report{{"link", drivelink::endpoint_text(link.settings())}};
  if (card) {
    text += card_text(*card, drives);
    report["card"] = card_json(*card, drives);
  }
  nlohmann::ordered_json drive_rows = nlohmann::ordered_json::array();
  bool failed = false;
  for (uint8_t axis : session.live_axes()) {
    const drive::DriveIdentity drive = drive::read_drive_identity(link, axis);
    if (card) text += "axis " + std::to_string(axis) + "\n";
    text += drive_text(session, drive, failed);
    drive_rows.push_back(drive_json(drive));
  }
  report["drives"] = drive_rows;
  if (!emit(options.json ? report.dump(2) + "\n" : text)) {
    say("cannot write to standard output");
    return EXIT_USAGE;
  }
  return failed ? EXIT_FAILED : exit_code;
}

}  // namespace

int run_info(const Options& options) {
  Options every = options;
  every.every_channel = true;
  return with_session(every, [&](Session& session, int exit_code) { return show_info(session, exit_code, options); });
}

}  // namespace zr90
