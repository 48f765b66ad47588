// Finding what is attached: drives and cards on serial ports, cards at UDP
// addresses. A probe sends only what the link's own set-up and a register read
// send, with short waits, and reports only what answered as a drive or a card does.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "card/identity.h"
#include "config/config.h"
#include "core/access.h"
#include "core/clock.h"
#include "core/result.h"

namespace drivelink {

// The rates a port is tried at when none are given, the usual one first.
inline constexpr int32_t DEFAULT_SCAN_RATES[] = {115200, 57600, 38400, 19200, 9600, 230400, 460800, 921600};
// At most this many addresses are probed in one scan.
inline constexpr std::size_t MAX_SCAN_ADDRESSES = 256;

// What was found and the settings that reach it.
struct Find {
  config::LinkSettings settings;
  std::string where;  // the port or the address, as a user gives it to the options
  bool crc = false;   // a drive speaking ZAL with CRC bytes
  // A card: what it is and the channels of its serial-channel module with a drive;
  // or, when it answered with its cookie but its link did not come up, why.
  std::optional<card::CardIdentity> card;
  core::ChannelMask drives = 0;
  std::string trouble;

  bool is_card() const { return config::describe(settings.interface_kind).card; }
};

enum class PortState : uint8_t {
  found,
  silent,       // open, but nothing answered at any rate
  in_use,       // another program holds it
  unavailable,  // it could not be opened
};

struct PortProbe {
  config::SerialPortName port;
  PortState state = PortState::silent;
  std::string reason;  // why it is in use or unavailable
  std::optional<Find> find;
};

// How long each probe waits: short, so that a silent port or address costs little.
struct ProbeWaits {
  // Silence on a serial line. The ZAL probes wait a twentieth of it, which must
  // outlast the time a drive takes to drop a partial frame: the probe without CRC
  // bytes is one to a drive that wants them.
  int zal_char_timeout_ms = 600;
  int text_char_timeout_ms = 80;
  int card_reply_ms = 300;    // a card's reply datagram once it has answered
  int address_reply_ms = 600; // the first reply of any address
};

// Tries the port at each rate in turn: ZAL (with and without CRC bytes), then the
// text protocol; at the card host port's rate, a ZAL answer is also asked whether it
// is a card. Stops at the first find.
PortProbe probe_port(const config::SerialPortName& port, std::span<const int32_t> rates, core::Waits waits,
                     const ProbeWaits& limits = {});

// Every port at once, one thread each; in the order of ports.
std::vector<PortProbe> probe_ports(std::span<const config::SerialPortName> ports, std::span<const int32_t> rates,
                                   core::Waits waits, const ProbeWaits& limits = {});

// Asks every address for the card's identification cookie at once, then opens a link
// to each that answered with it, starting every channel to see which have a drive.
// Every card that answered is returned, in the order of addresses.
std::vector<Find> find_cards(std::span<const std::string> addresses, core::Waits waits,
                             const ProbeWaits& limits = {});

// "10.0.0.2,10.0.0.9" or "192.168.1.0/24" (or both, comma-separated) as addresses,
// each once, at most MAX_SCAN_ADDRESSES; the failure says what is wrong.
core::Result<std::vector<std::string>> scan_addresses(const std::string& text);

// "115200,9600" as rates; the failure names the bad one.
core::Result<std::vector<int32_t>> scan_rates(const std::string& text);

}  // namespace drivelink
