#include "link/link.h"

#include <sstream>
#include <utility>

#include "serial/serial.h"
#include "texthost/texthost.h"
#include "zal/zal.h"

namespace drivelink {

namespace {

using config::INTERFACETYPES;
using config::PROTOCOLTYPES;
using core::Failure;
using core::FailureKind;

// The card's host port always runs at this rate, whatever was configured.
constexpr int32_t OSZAL_BAUDRATE = 115200;
// What the faithful programs say when a drive (or the card's host port) does not
// answer the protocol's greeting.
constexpr char HEX_UNANSWERED[] = "Hex Serial Communication failed !";
constexpr char ZAL_UNANSWERED[] = "ZAL Serial Communication failed !";

Failure open_failure(std::string text) { return core::fail(FailureKind::open, std::move(text)); }

// The card as every program on the host names it: its address, or the device of
// its host port.
std::string card_lock_key(const config::LinkSettings& settings) {
  if (config::describe(settings.interface_kind).endpoint == config::Endpoint::ip_address) {
    return "udp-" + settings.ip_address + "-" + card::EZAL16PORT;
  }
  return settings.device.empty() ? settings.comport : settings.device;
}

// A drive that is not there: reads give 0 and writes send nothing (a dry run).
class DirectBackend final : public core::Backend {
 public:
  core::Result<uint64_t> read(uint8_t, Location) override { return uint64_t{0}; }
  core::Status write(uint8_t, Location, uint64_t) override { return {}; }
};

}  // namespace

// Everything the link owns, declared in the order it is built, so that it is taken
// down in the reverse order: the backend before what it borrows.
struct Link::Parts {
  std::unique_ptr<platform::CardLock> card_lock;  // borrowed by the card backend
  std::unique_ptr<serial::SerialLine> host_port;  // the card's host port (OSZAL)
  std::unique_ptr<zal::ZalLink> host_port_zal;
  std::unique_ptr<card::HostBus> bus;
  std::unique_ptr<serial::SerialLine> drive_line;  // a drive on a direct serial line
  std::unique_ptr<zal::ZalLink> drive_zal;
  std::unique_ptr<texthost::TextHost> text_host;
  std::unique_ptr<core::Backend> backend;
};

namespace {

// Opens a line on the configured port and rate; the link keeps every line it opened
// for the whole run, so that a second open of the same port fails as it must.
core::Result<serial::SerialLine*> open_line(std::unique_ptr<serial::SerialLine>& owner,
                                            const config::LinkSettings& settings, const Context& context,
                                            const Devices& devices) {
  owner = std::make_unique<serial::SerialLine>(context.waits(), [devices](core::Waits waits) {
    std::unique_ptr<platform::SerialDevice> device = devices.serial_device(waits);
    return devices.trace != nullptr ? platform::traced(std::move(device), *devices.trace) : std::move(device);
  });
  owner->set_char_timeout_ms(context.limits.char_timeout_ms);
  core::Status opened = owner->open(settings.comport, settings.baudrate, settings.baudrate_mul, settings.device);
  if (!opened) return opened.error();
  return owner.get();
}

}  // namespace

class LinkBuilder {
 public:
  LinkBuilder(Link& link, const Context& context, const StartRequest& start, const Devices& devices)
      : link_(link), parts_(*link.parts_), context_(context), start_(start), devices_(devices) {}

  // The interface stage: what carries the card's registers, if anything.
  core::Status interface_stage() {
    const InterfaceOpener* opener = opener_of(INTERFACE_OPENERS, link_.settings_.interface_kind);
    // The parallel-port and bus-card kinds have no way to the drive.
    if (opener == nullptr) return open_failure("Unable to initialize");
    return (this->*(opener->open))();
  }

  // The protocol stage: the backend every access goes through.
  core::Status protocol_stage() {
    const ProtocolOpener* opener = opener_of(PROTOCOL_OPENERS, link_.settings_.protocol);
    // Nothing speaks it; the interface's status is all there is to say.
    if (opener == nullptr) return open_failure(link_.status_);
    return (this->*(opener->open))();
  }

 private:
  // How each kind opens: one row per interface or protocol that has a way to the
  // drive. What else is known of a kind is its descriptor (config/descriptors.h).
  struct InterfaceOpener {
    INTERFACETYPES kind;
    core::Status (LinkBuilder::*open)();
  };
  struct ProtocolOpener {
    PROTOCOLTYPES kind;
    core::Status (LinkBuilder::*open)();
  };
  static const InterfaceOpener INTERFACE_OPENERS[3];
  static const ProtocolOpener PROTOCOL_OPENERS[4];

  template <class Row, std::size_t N, class Kind>
  static const Row* opener_of(const Row (&rows)[N], Kind kind) {
    for (const Row& row : rows) {
      if (row.kind == kind) return &row;
    }
    return nullptr;
  }

  core::Status osdevice_stage() {
    link_.status_ = "Using OSDevice Interface";
    parts_.bus = card::make_null_bus();
    return {};
  }

  core::Status direct_stage() {
    parts_.backend = std::make_unique<DirectBackend>();
    return {};
  }

  core::Status ezal16_stage() {
    std::unique_ptr<platform::UdpSocket> socket = devices_.udp_socket(context_.waits());
    if (devices_.trace != nullptr) socket = platform::traced(std::move(socket), *devices_.trace);
    const std::string& address = link_.settings_.ip_address;
    const bool connected = socket->connect(address, card::EZAL16PORT);
    if (!connected || socket->last_error() != 0) {
      return open_failure("Using EZAL16 interface: " + socket->last_error_text());
    }
    link_.status_ = "Using EZAL16 interface";
    const std::string peer = "card " + address + " (UDP port " + card::EZAL16PORT + ")";
    parts_.bus = card::make_ezal16_bus(std::move(socket), peer, context_.limits.card_reply_ms);
    return {};
  }

  core::Status oszal_stage() {
    config::LinkSettings& settings = link_.settings_;
    // Without a port name the open could only say " open failed".
    if (settings.comport.empty()) return open_failure("Comport not in Environment");
    // The rate of the host port also becomes the rate the channels are started at.
    settings.baudrate_mul = 1.0;
    settings.baudrate = OSZAL_BAUDRATE;
    core::Result<serial::SerialLine*> line = open_line(parts_.host_port, settings, context_, devices_);
    if (!line) return line.error();
    parts_.host_port_zal = std::make_unique<zal::ZalLink>(**line);
    core::Result<std::string> synced = parts_.host_port_zal->sync();
    if (!synced) return synced.error();
    link_.status_ = "Using OSDevice ZAL Interface";
    parts_.bus = card::make_oszal_bus(*parts_.host_port_zal);
    return {};
  }

  core::Status hex_stage() {
    if (devices_.trace != nullptr) devices_.trace->show_text(true);
    core::Result<serial::SerialLine*> line = open_line(parts_.drive_line, link_.settings_, context_, devices_);
    if (!line) return line.error();
    parts_.text_host = std::make_unique<texthost::TextHost>(**line);
    if (!parts_.text_host->sync()) return open_failure(HEX_UNANSWERED);
    link_.status_ = "Using Hex Serial Interface";
    parts_.backend = texthost::make_texthost_backend(*parts_.text_host);
    return {};
  }

  core::Status zal_stage() {
    core::Result<serial::SerialLine*> line = open_line(parts_.drive_line, link_.settings_, context_, devices_);
    if (!line) return line.error();
    parts_.drive_zal = std::make_unique<zal::ZalLink>(**line);
    core::Result<std::string> synced = parts_.drive_zal->sync();
    if (!synced) return synced.error();
    link_.status_ = *synced;
    parts_.backend = zal::make_zal_backend(*parts_.drive_zal);
    return {};
  }

  core::Status card_stage() {
    core::Result<std::unique_ptr<platform::CardLock>> lock = devices_.card_lock(card_lock_key(link_.settings_));
    if (!lock) return lock.error();
    parts_.card_lock = std::move(*lock);
    card::CardStart card_start{start_.mode, start_.channels, link_.settings_.baudrate, start_.fewest_exchanges};
    card_start.sharing = {parts_.card_lock.get(), start_.share_carefully, start_.share_carefully};
    core::Result<card::OpenedCard> opened =
        card::open_card(*parts_.bus, card_start, context_.waits(), context_.reporter);
    if (!opened) return opened.error();
    link_.status_ = "SSZAL hardware found";
    link_.not_started_ = opened->not_started;
    link_.start_reply_ = opened->start_reply;
    link_.card_identity_ = std::move(opened->identity);
    parts_.backend = std::move(opened->backend);
    return {};
  }

  Link& link_;
  Link::Parts& parts_;
  const Context& context_;
  const StartRequest& start_;
  const Devices& devices_;
};

const LinkBuilder::InterfaceOpener LinkBuilder::INTERFACE_OPENERS[3] = {
    {INTERFACETYPES::OSDEVICE, &LinkBuilder::osdevice_stage},
    {INTERFACETYPES::EZAL16, &LinkBuilder::ezal16_stage},
    {INTERFACETYPES::OSZAL, &LinkBuilder::oszal_stage},
};

const LinkBuilder::ProtocolOpener LinkBuilder::PROTOCOL_OPENERS[4] = {
    {PROTOCOLTYPES::HEX, &LinkBuilder::hex_stage},
    {PROTOCOLTYPES::ZAL, &LinkBuilder::zal_stage},
    {PROTOCOLTYPES::SSZAL, &LinkBuilder::card_stage},
    {PROTOCOLTYPES::DIRECT, &LinkBuilder::direct_stage},
};

Link::Link(config::LinkSettings settings) : settings_(std::move(settings)), parts_(std::make_unique<Parts>()) {}

Link::~Link() = default;

core::Result<std::unique_ptr<Link>> Link::open(const config::LinkSettings& settings, const Context& context,
                                               const StartRequest& start, const Devices& devices) {
  std::unique_ptr<Link> link(new Link(settings));
  LinkBuilder builder(*link, context, start, devices);
  if (core::Status up = builder.interface_stage(); !up) return up.error();
  if (core::Status up = builder.protocol_stage(); !up) return up.error();
  return link;
}

core::Status check_axis(const config::LinkSettings& settings, unsigned axis) {
  // The module has eight channels; a larger axis would address registers of
  // whatever lies beyond them.
  if (config::describe(settings.protocol).reach == config::Reach::channels && axis > card::MAXAXIS) {
    return card::bad_channel();
  }
  return {};
}

Failure channel_start_failure() { return open_failure("SSZAL won't starts"); }

std::string endpoint_text(const config::LinkSettings& settings) {
  const config::InterfaceDescriptor& interface_row = config::describe(settings.interface_kind);
  if (interface_row.endpoint == config::Endpoint::ip_address) {
    return "card " + settings.ip_address + " (UDP port " + card::EZAL16PORT + ")";
  }
  if (interface_row.card) return "card on " + settings.comport;
  return settings.comport;
}

std::optional<std::string> unanswered_greeting(const config::LinkSettings& settings, const core::Failure& failure) {
  if (failure.text != HEX_UNANSWERED && failure.text != ZAL_UNANSWERED) return std::nullopt;
  // The card's host port always runs at its own rate, whatever was asked for the channels.
  const bool host_port = config::describe(settings.interface_kind).card;
  const int32_t rate = host_port ? OSZAL_BAUDRATE : settings.baudrate;
  const double divisor = host_port ? 1.0 : settings.baudrate_mul;
  std::string text = "the " + std::string(failure.text == HEX_UNANSWERED ? "HEX" : "ZAL") + " protocol at " +
                     std::to_string(rate) + " bit/s";
  if (divisor != 1.0) {
    std::ostringstream shown;
    shown << divisor;
    text += " divided by " + shown.str();
  }
  return text;
}

namespace {

core::Result<uint64_t> trimmed(core::Result<uint64_t> result, Width width) {
  if (result) return core::width_bits(width, *result);
  result.error().value = core::width_bits(width, result.error().value);
  return result;
}

}  // namespace

core::Result<uint64_t> Link::read(uint8_t channel, Location location) {
  return trimmed(parts_->backend->read(channel, location), location.width);
}

core::Status Link::write(uint8_t channel, Location location, uint64_t value) {
  return parts_->backend->write(channel, location, core::width_bits(location.width, value));
}

core::Result<std::vector<core::ChannelReading>> Link::read_channels(ChannelMask channels, Location location) {
  core::Result<std::vector<core::ChannelReading>> readings = parts_->backend->read_channels(channels, location);
  if (!readings) return readings;
  for (core::ChannelReading& reading : *readings) reading.value = trimmed(std::move(reading.value), location.width);
  return readings;
}

core::Result<std::vector<uint64_t>> Link::read_eeprom_batch(uint8_t channel, std::span<const Location> locations) {
  return parts_->backend->read_eeprom_batch(channel, locations);
}

core::Result<std::vector<core::ChannelValues>> Link::read_eeprom_channels(ChannelMask channels,
                                                                          std::span<const Location> locations) {
  core::Result<std::vector<core::ChannelValues>> results = parts_->backend->read_eeprom_channels(channels, locations);
  if (!results) return results;
  for (core::ChannelValues& result : *results) {
    if (!result.values) continue;
    for (std::size_t i = 0; i < result.values->size() && i < locations.size(); ++i) {
      (*result.values)[i] = core::width_bits(locations[i].width, (*result.values)[i]);
    }
  }
  return results;
}

core::Status Link::write_eeprom_batch(uint8_t channel, std::span<const core::EepromWrite> writes) {
  std::vector<core::EepromWrite> trimmed_writes(writes.begin(), writes.end());
  for (core::EepromWrite& w : trimmed_writes) w.value = core::width_bits(w.location.width, w.value);
  return parts_->backend->write_eeprom_batch(channel, trimmed_writes);
}

}  // namespace drivelink
