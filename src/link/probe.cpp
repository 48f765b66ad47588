#include "link/probe.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>
#include <utility>

#include "card/card.h"
#include "card/idrom.h"
#include "core/bytes.h"
#include "core/numbers.h"
#include "core/text.h"
#include "link/link.h"
#include "platform/udp_socket.h"

namespace drivelink {

namespace {

using config::INTERFACETYPES;
using config::PROTOCOLTYPES;

// The card's host port runs at this rate only; a card is looked for there alone.
constexpr int32_t CARD_HOST_PORT_RATE = 115200;
constexpr core::ChannelMask EVERY_CHANNEL = 0xFF;
constexpr core::Location COOKIE_REGISTER{core::Memory::ram, core::Width::long_word, card::QX3COOKIEOFFSET};
// Threads at most for the cards that answered: each one waits on its card alone.
constexpr std::size_t MAX_CARD_THREADS = 16;

config::LinkSettings serial_settings(const config::SerialPortName& port, INTERFACETYPES interface_kind,
                                     PROTOCOLTYPES protocol, int32_t rate) {
  config::LinkSettings settings;
  settings.interface_kind = interface_kind;
  settings.protocol = protocol;
  settings.comport = port.comport;
  settings.device = port.device;
  settings.baudrate = rate;
  settings.baudrate_mul = 1.0;
  return settings;
}

bool mentions(const core::Failure& failure, const char* words) {
  return failure.text.find(words) != std::string::npos || failure.detail.find(words) != std::string::npos;
}

std::string reason_of(const core::Failure& failure) { return failure.detail.empty() ? failure.text : failure.detail; }

// A failure of the port itself (its open) ends the port's probe: no other rate or
// protocol can do better. Only the open of the line carries the system's reason; a
// rate the port cannot run at is only that rate's end.
bool port_failure(const core::Failure& failure) {
  if (mentions(failure, "no line rate")) return false;
  return !failure.detail.empty() || mentions(failure, "is in use");
}

// The link's own waits, shortened for probing.
Context probe_context(core::Reporter& reporter, core::Waits waits, const ProbeWaits& limits, bool text) {
  Context context(reporter, waits.clock, waits.cancel);
  context.limits.char_timeout_ms = text ? limits.text_char_timeout_ms : limits.zal_char_timeout_ms;
  context.limits.card_reply_ms = limits.card_reply_ms;
  return context;
}

core::Result<std::unique_ptr<Link>> open_link(const config::LinkSettings& settings, core::Waits waits,
                                              const ProbeWaits& limits, const StartRequest& start = {}) {
  core::SilentReporter reporter;
  const bool text = settings.protocol == PROTOCOLTYPES::HEX;
  return Link::open(settings, probe_context(reporter, waits, limits, text), start);
}

Find found(config::LinkSettings settings, std::string where) {
  Find find;
  find.settings = std::move(settings);
  find.where = std::move(where);
  return find;
}

// Every channel started: the ones that did not start have no drive. A card that
// answered its cookie is a find even when its link does not come up.
Find open_card(const config::LinkSettings& settings, std::string where, core::Waits waits,
               const ProbeWaits& limits) {
  Find find = found(settings, std::move(where));
  core::Result<std::unique_ptr<Link>> link =
      open_link(settings, waits, limits, {card::StartMode::setup, EVERY_CHANNEL, true});
  if (!link) {
    find.trouble = reason_of(link.error());
    return find;
  }
  find.card = (*link)->card_identity();
  find.drives = static_cast<core::ChannelMask>(EVERY_CHANNEL & ~(*link)->not_started());
  return find;
}

// A ZAL answer at the host port's rate may be a card's host port: its identification
// cookie says so.
bool answers_as_card(Link& link) {
  const core::Result<uint64_t> cookie = link.read(0, COOKIE_REGISTER);
  return cookie && *cookie == card::QX3COOKIE;
}

struct Attempt {
  std::optional<Find> find;
  std::optional<core::Failure> port_failure;
};

Attempt try_zal(const config::SerialPortName& port, int32_t rate, core::Waits waits, const ProbeWaits& limits) {
  const config::LinkSettings settings = serial_settings(port, INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::ZAL, rate);
  core::Result<std::unique_ptr<Link>> link = open_link(settings, waits, limits);
  if (!link) return {std::nullopt, port_failure(link.error()) ? std::optional(link.error()) : std::nullopt};
  if (rate == CARD_HOST_PORT_RATE && answers_as_card(**link)) {
    link->reset();  // the card's link opens the port afresh
    const config::LinkSettings card_settings =
        serial_settings(port, INTERFACETYPES::OSZAL, PROTOCOLTYPES::SSZAL, rate);
    return {open_card(card_settings, port.name, waits, limits), std::nullopt};
  }
  Find find = found(settings, port.name);
  find.crc = (*link)->status().find("CRC") != std::string::npos;
  return {std::move(find), std::nullopt};
}

Attempt try_text(const config::SerialPortName& port, int32_t rate, core::Waits waits, const ProbeWaits& limits) {
  const config::LinkSettings settings = serial_settings(port, INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::HEX, rate);
  core::Result<std::unique_ptr<Link>> link = open_link(settings, waits, limits);
  if (link) return {found(settings, port.name), std::nullopt};
  return {std::nullopt, port_failure(link.error()) ? std::optional(link.error()) : std::nullopt};
}

// Runs work(i) for i below count on at most max_threads threads at a time.
template <class Work>
void run_parallel(std::size_t count, std::size_t max_threads, Work work) {
  for (std::size_t first = 0; first < count; first += max_threads) {
    std::vector<std::thread> threads;
    for (std::size_t i = first; i < std::min(count, first + max_threads); ++i) threads.emplace_back(work, i);
    for (std::thread& thread : threads) thread.join();
  }
}

// A dotted IPv4 address of four decimal numbers, each 0 to 255.
std::optional<uint32_t> ipv4_value(const std::string& text) {
  const std::vector<std::string> parts = core::split_at(text, '.');
  if (parts.size() != 4) return std::nullopt;
  uint32_t value = 0;
  for (const std::string& part : parts) {
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    const unsigned long byte = std::strtoul(part.c_str(), nullptr, 10);
    if (byte > 255) return std::nullopt;
    value = value << 8 | static_cast<uint32_t>(byte);
  }
  return value;
}

std::string ipv4_text(uint32_t value) {
  return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 0xFF) + "." +
         std::to_string((value >> 8) & 0xFF) + "." + std::to_string(value & 0xFF);
}

core::Failure bad_scan_option(std::string text) { return core::fail(core::FailureKind::config, std::move(text)); }

// "192.168.1.0/24": every address of the block; the network and broadcast addresses
// of a block of four or more are nobody's, and are left out.
core::Status add_block(const std::string& item, std::vector<std::string>& addresses) {
  const std::size_t slash = item.find('/');
  const std::optional<uint32_t> base = ipv4_value(item.substr(0, slash));
  if (!base) return bad_scan_option("\"" + item + "\" is not an IPv4 address (as 192.168.1.20) or block (as 192.168.1.0/24)");
  uint32_t bits = 32;
  if (slash != std::string::npos) {
    const std::string length = item.substr(slash + 1);
    if (length.empty() || length.size() > 2 || !std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        std::strtoul(length.c_str(), nullptr, 10) > 32) {
      return bad_scan_option("\"" + item + "\": the prefix length after / must be 0 to 32");
    }
    bits = static_cast<uint32_t>(std::strtoul(length.c_str(), nullptr, 10));
  }
  const uint64_t size = uint64_t{1} << (32 - bits);
  if (size > MAX_SCAN_ADDRESSES) {
    return bad_scan_option("\"" + item + "\" holds " + std::to_string(size) + " addresses; a scan takes at most " +
                           std::to_string(MAX_SCAN_ADDRESSES) + " (a /24)");
  }
  const uint32_t first = bits == 0 ? 0 : *base & ~static_cast<uint32_t>(size - 1);
  const uint64_t skip = size >= 4 ? 1 : 0;
  for (uint64_t i = skip; i < size - skip; ++i) {
    const std::string address = ipv4_text(static_cast<uint32_t>(first + i));
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) addresses.push_back(address);
  }
  return {};
}

}  // namespace

core::Result<std::vector<std::string>> scan_addresses(const std::string& text) {
  std::vector<std::string> addresses;
  for (const std::string& item : core::split_at(text, ',')) {
    if (core::Status added = add_block(item, addresses); !added) return added.error();
  }
  if (addresses.size() > MAX_SCAN_ADDRESSES) {
    return bad_scan_option("--ip names " + std::to_string(addresses.size()) + " addresses; a scan takes at most " +
                           std::to_string(MAX_SCAN_ADDRESSES));
  }
  return addresses;
}

core::Result<std::vector<int32_t>> scan_rates(const std::string& text) {
  std::vector<int32_t> rates;
  for (const std::string& item : core::split_at(text, ',')) {
    uint32_t rate = 0;
    if (!core::parse_unsigned(item, rate) || rate == 0 || rate > 0x7FFFFFFF) {
      return bad_scan_option("\"" + item + "\" is not a bit rate (as 115200)");
    }
    if (std::find(rates.begin(), rates.end(), static_cast<int32_t>(rate)) == rates.end()) {
      rates.push_back(static_cast<int32_t>(rate));
    }
  }
  return rates;
}

PortProbe probe_port(const config::SerialPortName& port, std::span<const int32_t> rates, core::Waits waits,
                     const ProbeWaits& limits) {
  PortProbe probe;
  probe.port = port;
  for (int32_t rate : rates) {
    for (auto attempt_at : {try_zal, try_text}) {
      if (waits.cancelled()) return probe;
      Attempt attempt = attempt_at(port, rate, waits, limits);
      if (attempt.find) {
        probe.state = PortState::found;
        probe.find = std::move(attempt.find);
        return probe;
      }
      if (attempt.port_failure) {
        probe.state = mentions(*attempt.port_failure, "is in use") ? PortState::in_use : PortState::unavailable;
        probe.reason = reason_of(*attempt.port_failure);
        return probe;
      }
    }
  }
  return probe;
}

std::vector<PortProbe> probe_ports(std::span<const config::SerialPortName> ports, std::span<const int32_t> rates,
                                   core::Waits waits, const ProbeWaits& limits) {
  std::vector<PortProbe> probes(ports.size());
  // Each port is a device of its own: probing them side by side costs the time of
  // the slowest one.
  run_parallel(ports.size(), ports.size(),
               [&](std::size_t i) { probes[i] = probe_port(ports[i], rates, waits, limits); });
  return probes;
}

std::vector<Find> find_cards(std::span<const std::string> addresses, core::Waits waits, const ProbeWaits& limits) {
  // One socket per address, each connected, so that a reply is known by the socket it
  // arrives on and a refusal (nothing listening) ends that address's wait at once.
  std::vector<std::unique_ptr<platform::UdpSocket>> sockets;
  const std::string request = card::ezal16_read_request(card::QX3COOKIEOFFSET);
  for (const std::string& address : addresses) {
    std::unique_ptr<platform::UdpSocket> socket = platform::make_udp_socket(waits);
    if (!socket->connect(address, card::EZAL16PORT) || !socket->send(request)) socket.reset();
    sockets.push_back(std::move(socket));
  }
  const int64_t deadline = waits.now_ms() + limits.address_reply_ms;
  std::vector<std::size_t> answered;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    if (!sockets[i]) continue;
    const std::string reply = sockets[i]->receive_packet(waits.remaining_ms(deadline));
    if (reply.size() == 4 && core::read_le(reply, 4) == card::QX3COOKIE) answered.push_back(i);
  }
  sockets.clear();

  std::vector<Find> cards(answered.size());
  run_parallel(answered.size(), MAX_CARD_THREADS, [&](std::size_t k) {
    config::LinkSettings settings;
    settings.interface_kind = INTERFACETYPES::EZAL16;
    settings.protocol = PROTOCOLTYPES::SSZAL;
    settings.ip_address = addresses[answered[k]];
    settings.baudrate = config::describe(PROTOCOLTYPES::SSZAL).default_baudrate;
    settings.baudrate_mul = 1.0;
    cards[k] = open_card(settings, settings.ip_address, waits, limits);
  });
  return cards;
}

}  // namespace drivelink
