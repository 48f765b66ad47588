// A link to the drives: opened once from LinkSettings, it owns its transport (serial
// line or socket), its protocol state and the backend chosen for the protocol, and
// runs every access through that backend.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "card/card.h"
#include "config/config.h"
#include "core/access.h"
#include "core/clock.h"
#include "core/result.h"
#include "link/context.h"
#include "platform/serial_port.h"
#include "platform/udp_socket.h"
#include "platform/wire_trace.h"

namespace drivelink {

using core::ChannelMask;
using core::Location;
using core::Memory;
using core::Width;

// What the link creates its devices with, each given the waits of the link's context:
// the platform's by default, scripted ones in unit tests; and the wire trace they
// report to, if any (it must outlive the link).
struct Devices {
  std::function<std::unique_ptr<platform::SerialDevice>(core::Waits)> serial_device = platform::make_serial_device;
  std::function<std::unique_ptr<platform::UdpSocket>(core::Waits)> udp_socket = platform::make_udp_socket;
  std::function<core::Result<std::unique_ptr<platform::CardLock>>(const std::string& key)> card_lock =
      platform::open_card_lock;
  platform::WireTrace* trace = nullptr;
};

// Which channels of the card's serial-channel module to start, and how. Links that
// reach one drive directly ignore it.
struct StartRequest {
  card::StartMode mode = card::StartMode::setup;
  ChannelMask channels = 1;
  // Fewer exchanges where the protocol allows it, at the price of traffic that
  // differs from the faithful programs'.
  bool fewest_exchanges = false;
  // On a card: check that every access's replies answered its own requests, stop
  // and start only the requested channels, and start again a channel that another
  // program's set-up stopped. Traffic differs from the faithful programs'.
  bool share_carefully = false;
};

// The link is itself a core::Backend: the drive layer runs on a link, and in unit
// tests on a backend of the test's own.
class Link final : public core::Backend {
 public:
  // Brings the interface up, then the protocol. Every wait of the link, then and
  // later, runs on the context's clock and limits and gives up when its token is
  // set. The failure is the one that stopped it, with the text parmpeek and parmpoke
  // print ("Unable to initialize", "COM1 open failed", "No QX3 Hardware Found", ...).
  static core::Result<std::unique_ptr<Link>> open(const config::LinkSettings& settings, const Context& context,
                                                  const StartRequest& start = {}, const Devices& devices = {});

  ~Link() override;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // The status text of the open ("Using ZAL Serial Interface With CRCs", ...).
  const std::string& status() const { return status_; }
  const config::LinkSettings& settings() const { return settings_; }
  // Requested channels that did not start (card links only).
  ChannelMask not_started() const { return not_started_; }
  // The module's whole answer to the start command: a bit for each channel that
  // failed, requested or not, or 0xFF when the start never completed. 0 elsewhere.
  uint8_t start_reply() const { return start_reply_; }
  // What the card at the far end is; nothing for links that reach a drive directly.
  const std::optional<card::CardIdentity>& card_identity() const { return card_identity_; }

  core::Result<uint64_t> read(uint8_t channel, Location location) override;
  core::Status write(uint8_t channel, Location location, uint64_t value) override;
  core::Result<std::vector<core::ChannelReading>> read_channels(ChannelMask channels, Location location) override;
  core::Result<std::vector<uint64_t>> read_eeprom_batch(uint8_t channel, std::span<const Location> locations) override;
  core::Status write_eeprom_batch(uint8_t channel, std::span<const core::EepromWrite> writes) override;
  core::Result<std::vector<core::ChannelValues>> read_eeprom_channels(ChannelMask channels,
                                                                      std::span<const Location> locations) override;

 private:
  friend class LinkBuilder;
  struct Parts;
  explicit Link(config::LinkSettings settings);

  config::LinkSettings settings_;
  std::unique_ptr<Parts> parts_;
  std::string status_;
  ChannelMask not_started_ = 0;
  uint8_t start_reply_ = 0;
  std::optional<card::CardIdentity> card_identity_;
};

// Refuses, before anything is opened, an axis the link's protocol cannot reach.
core::Status check_axis(const config::LinkSettings& settings, unsigned axis);

// The failure the faithful programs end with when their channel did not start.
core::Failure channel_start_failure();

// The far end of the link in a user's words: "card 10.0.0.2 (UDP port 27181)",
// "card on COM3", or the port.
std::string endpoint_text(const config::LinkSettings& settings);

// What an open that met silence on a serial line had tried, in a user's words: "the
// ZAL protocol at 115200 bit/s". Nothing for any other failure (a port that would not
// open, a card that answered but is not one).
std::optional<std::string> unanswered_greeting(const config::LinkSettings& settings, const core::Failure& failure);

}  // namespace drivelink
