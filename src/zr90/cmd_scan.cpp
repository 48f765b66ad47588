// zr90 scan: what answers on the serial ports of this machine (or those given) and
// at the addresses given, with the options that reach each find.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/descriptors.h"
#include "core/text.h"
#include "link/link.h"
#include "link/probe.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/serial_ports.h"
#include "zr90/axes.h"
#include "zr90/commands.h"
#include "drive/links_file.h"
#include "zr90/output.h"

namespace zr90 {

namespace {

using drivelink::Find;
using drivelink::PortProbe;
using drivelink::PortState;

constexpr std::size_t WHERE_COLUMN = 16;
constexpr std::size_t WHAT_COLUMN = 40;

// The ports given, or without --port and --ip every port of the machine and every
// COMn that ZR90_COMn names; a device listed twice is probed once.
std::vector<config::SerialPortName> ports_to_probe(const Options& options) {
  std::vector<config::SerialPortName> ports;
  if (options.port) {
    for (const std::string& name : core::split_at(*options.port, ',')) {
      if (!name.empty()) ports.push_back(config::serial_port_named(name));
    }
    return ports;
  }
  if (options.ip) return ports;
  for (const std::string& path : platform::serial_port_names()) ports.push_back(config::serial_port_named(path));
  for (const config::SerialPortName& mapped : config::mapped_serial_ports()) {
    const bool listed = std::any_of(ports.begin(), ports.end(),
                                    [&](const config::SerialPortName& p) { return p.device == mapped.device; });
    if (!listed) ports.push_back(mapped);
  }
  return ports;
}

std::string interface_name(const Find& find) { return std::string(config::describe(find.settings.interface_kind).name); }
std::string protocol_name(const Find& find) { return std::string(config::describe(find.settings.protocol).name); }

bool over_udp(const Find& find) {
  return config::describe(find.settings.interface_kind).endpoint == config::Endpoint::ip_address;
}

// The zr90 options that reach the find.
std::string reach_options(const Find& find) {
  std::string text = "--interface " + interface_name(find) + " --protocol " + protocol_name(find);
  if (over_udp(find)) return text + " --ip " + find.where;
  text += " --port " + find.where;
  if (!find.is_card()) text += " --baud " + std::to_string(find.settings.baudrate);
  return text;
}

std::vector<uint8_t> drive_channels(const Find& find) {
  std::vector<uint8_t> channels;
  for (uint8_t channel = 0; channel < core::CHANNEL_COUNT; ++channel) {
    if (find.drives & core::channel_bit(channel)) channels.push_back(channel);
  }
  return channels;
}

// "drive, ZAL with CRC, 115200 bit/s" or "card ZR90CARD, drives on 0,2"
std::string what_text(const Find& find) {
  if (!find.trouble.empty()) return "card, its link does not come up: " + find.trouble;
  if (find.card) {
    const std::vector<uint8_t> channels = drive_channels(find);
    return "card " + find.card->board + (channels.empty() ? ", no drive" : ", drives on " + axes_text(channels));
  }
  return "drive, " + protocol_name(find) + (find.crc ? " with CRC" : "") + ", " +
         std::to_string(find.settings.baudrate) + " bit/s";
}

std::string state_text(const PortProbe& probe) {
  switch (probe.state) {
    case PortState::found: return "found";
    case PortState::silent: return "nothing answered";
    case PortState::in_use: return "in use";
    case PortState::unavailable: return "cannot be opened";
  }
  return {};
}

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text + " ";
}

std::string find_line(const Find& find) {
  return padded(find.where, WHERE_COLUMN) + padded(what_text(find), WHAT_COLUMN) + reach_options(find) + "\n";
}

std::string table(const std::vector<PortProbe>& probes, const std::vector<Find>& cards) {
  std::string text;
  for (const PortProbe& probe : probes) {
    if (probe.find) {
      text += find_line(*probe.find);
      continue;
    }
    std::string line = padded(probe.port.name, WHERE_COLUMN) + state_text(probe);
    if (!probe.reason.empty()) line += ": " + probe.reason;
    text += line + "\n";
  }
  for (const Find& card : cards) text += find_line(card);
  return text;
}

nlohmann::ordered_json find_json(const Find& find) {
  nlohmann::ordered_json row;
  row["kind"] = find.is_card() ? "card" : "drive";
  row[over_udp(find) ? "ip" : "port"] = find.where;
  row["interface"] = interface_name(find);
  row["protocol"] = protocol_name(find);
  if (find.card) {
    row["board"] = find.card->board;
    row["drives"] = drive_channels(find);
  } else if (find.is_card()) {
    row["trouble"] = find.trouble;
  } else {
    row["baud"] = find.settings.baudrate;
    row["crc"] = find.crc;
  }
  row["options"] = reach_options(find);
  return row;
}

std::string json_report(const std::vector<PortProbe>& probes, const std::vector<Find>& cards, std::size_t addresses) {
  nlohmann::ordered_json finds = nlohmann::ordered_json::array();
  nlohmann::ordered_json ports = nlohmann::ordered_json::array();
  for (const PortProbe& probe : probes) {
    if (probe.find) finds.push_back(find_json(*probe.find));
    nlohmann::ordered_json port{{"port", probe.port.name}, {"state", state_text(probe)}};
    if (!probe.reason.empty()) port["reason"] = probe.reason;
    ports.push_back(port);
  }
  for (const Find& card : cards) finds.push_back(find_json(card));
  nlohmann::ordered_json report{{"finds", finds}, {"ports", ports}, {"addresses", addresses}};
  return report.dump(2) + "\n";
}

// The settings a named link keeps for the find: what its options say.
drive::NamedLink found_link(const std::string& name, const Find& find) {
  drive::NamedLink link;
  link.name = name;
  link.interface_kind = interface_name(find);
  link.protocol = protocol_name(find);
  if (over_udp(find)) {
    link.ip = find.where;
  } else {
    link.port = find.where;
    if (!find.is_card()) link.baud = std::to_string(find.settings.baudrate);
  }
  return link;
}

// What a scan probes: the rates, the addresses and the ports.
struct ScanPlan {
  std::vector<int32_t> rates;
  std::vector<std::string> addresses;
  std::vector<config::SerialPortName> ports;
};

// What the options ask for; nothing when they are refused (said).
std::optional<ScanPlan> scan_plan(const Options& options) {
  // A scan opens many links at once; one trace of them all would read as nonsense.
  if (!options.trace_path.empty()) {
    say("--trace does not apply to scan; trace the link a scan found with another command");
    return std::nullopt;
  }
  ScanPlan plan;
  plan.rates.assign(std::begin(drivelink::DEFAULT_SCAN_RATES), std::end(drivelink::DEFAULT_SCAN_RATES));
  if (options.baud) {
    core::Result<std::vector<int32_t>> given = drivelink::scan_rates(*options.baud);
    if (!given) {
      say(given.error().text);
      return std::nullopt;
    }
    plan.rates = std::move(*given);
  }
  if (options.ip) {
    core::Result<std::vector<std::string>> given = drivelink::scan_addresses(*options.ip);
    if (!given) {
      say(given.error().text);
      return std::nullopt;
    }
    plan.addresses = std::move(*given);
  }
  plan.ports = ports_to_probe(options);
  return plan;
}

struct ScanResult {
  std::vector<PortProbe> probes;
  std::vector<Find> cards;
  std::vector<const Find*> finds() const {
    std::vector<const Find*> all;
    for (const PortProbe& probe : probes) {
      if (probe.find) all.push_back(&*probe.find);
    }
    for (const Find& card : cards) all.push_back(&card);
    return all;
  }
};

ScanResult run_probes(const ScanPlan& plan, core::Waits waits) {
  ScanResult result;
  // The addresses and the ports wait on different things: side by side, the scan
  // takes as long as the slower of them.
  std::thread network([&] { result.cards = drivelink::find_cards(plan.addresses, waits); });
  result.probes = drivelink::probe_ports(plan.ports, plan.rates, waits);
  network.join();
  return result;
}

int save_first(const Options& options, const std::string& name, const Find& find) {
  if (core::Status saved = drive::save_link(links_file_path(options), found_link(name, find)); !saved) {
    say("cannot save the link " + name + ": " + describe(saved.error()));
    return EXIT_FAILED;
  }
  if (!options.quiet) say("saved " + find.where + " as the link " + name);
  return EXIT_DONE;
}

}  // namespace

int run_scan(const Options& options, const ScanRequest& request) {
  const std::optional<ScanPlan> plan = scan_plan(options);
  if (!plan) return EXIT_USAGE;
  platform::console::catch_interrupts();
  const core::Waits waits{platform::system_clock(), platform::console::interrupt_token()};
  const ScanResult result = run_probes(*plan, waits);
  if (waits.cancelled()) {
    say("scan interrupted");
    return EXIT_FAILED;
  }
  const std::string report = options.json ? json_report(result.probes, result.cards, plan->addresses.size())
                                          : table(result.probes, result.cards);
  if (!emit(report)) {
    say("cannot write to standard output");
    return EXIT_USAGE;
  }
  const std::vector<const Find*> finds = result.finds();
  if (finds.empty()) {
    if (!options.json) say("nothing found");
    return EXIT_FAILED;
  }
  return request.save_name.empty() ? EXIT_DONE : save_first(options, request.save_name, *finds.front());
}

}  // namespace zr90
