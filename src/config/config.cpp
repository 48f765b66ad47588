#include "config/config.h"

#include <cstdlib>
#include <optional>
#include <string_view>

#include "core/numbers.h"
#include "core/text.h"

namespace config {

std::string process_environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

bool parse_comport(const std::string& name, int32_t& number) {
  const std::optional<core::ComPort> port = core::parse_comport(name);
  if (!port) return false;
  number = port->number;
  return true;
}

namespace {

using core::Failure;
using core::FailureKind;

struct Environment {
  std::string interface_name;
  std::string comport;
  std::string baudrate;
  std::string baudratemul;
  std::string ipaddr;
  std::string protocol;
  std::string eppport;
};

Environment read_environment(const GivenSettings& given, const EnvLookup& lookup) {
  auto value = [&lookup](const std::optional<std::string>& option, const char* name) {
    return core::UPSTRING(option ? *option : lookup(name));
  };
  Environment env;
  env.interface_name = value(given.interface_kind, "INTERFACE");
  env.comport = value(given.comport, "COMPORT");
  env.baudrate = value(given.baudrate, "BAUDRATE");
  env.baudratemul = value(given.baudrate_mul, "BAUDRATEMUL");
  env.ipaddr = value(given.ip_address, "IPADDR");
  env.protocol = value(given.protocol, "PROTOCOL");
  env.eppport = core::UPSTRING(lookup("EPPPORT"));
  return env;
}

Failure refused(const char* text) { return core::fail(FailureKind::config, text); }

// An unknown name falls back to EPP without a word, like the first entry.
INTERFACETYPES interface_kind_named(const std::string& name) {
  const InterfaceDescriptor* known = interface_named(name);
  return known != nullptr ? known->kind : INTERFACETYPES::EPP;
}

PROTOCOLTYPES protocol_kind_named(const std::string& name) {
  const ProtocolDescriptor* known = protocol_named(name);
  return known != nullptr ? known->kind : PROTOCOLTYPES::INVALID;
}

// Four dot-separated parts of decimal digits, each 0 to 255. The address is kept
// without leading zeros, so that no later reader mistakes "010" for octal.
bool canonical_ipv4(const std::string& text, std::string& canonical) {
  std::string result;
  int parts = 0;
  std::size_t pos = 0;
  while (true) {
    const std::size_t dot = text.find('.', pos);
    const std::size_t end = dot == std::string::npos ? text.size() : dot;
    if (end == pos) return false;
    unsigned value = 0;
    for (std::size_t i = pos; i < end; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      if (value > 255) return false;
    }
    if (++parts > 4) return false;
    if (!result.empty()) result += '.';
    result += std::to_string(value);
    if (dot == std::string::npos) break;
    pos = dot + 1;
  }
  if (parts != 4) return false;
  canonical = result;
  return true;
}

bool valid_comport(const std::string& name) {
  int32_t number = 0;
  return parse_comport(name, number);
}

core::Status read_port_settings(Environment& env, LinkSettings& settings, core::Reporter& reporter) {
  if (env.comport.empty()) {
    reporter.notice("Comport not in Environment, assuming COM1");
    env.comport = "COM1";
  }
  if (!valid_comport(env.comport)) return refused("Undecipherable Windows COM port - bail out!");
  settings.comport = env.comport;

  if (env.baudratemul.empty()) {
    reporter.notice("BaudrateMul not in Environment, assuming 1");
    settings.baudrate_mul = 1.0;
    return {};
  }
  double multiplier = 0.0;
  if (!core::parse_real(env.baudratemul, multiplier) || multiplier < 1.0 || multiplier > 64.0) {
    return refused("Illegal Baud rate Multiplier - bail out!");
  }
  settings.baudrate_mul = multiplier;
  return {};
}

core::Status read_baudrate(const std::string& text, LinkSettings& settings, core::Reporter& reporter) {
  if (text.empty()) {
    settings.baudrate = describe(settings.protocol).default_baudrate;
    reporter.notice("Baudrate not in Environment, assuming " + std::to_string(settings.baudrate) + " Baud");
    return {};
  }
  // A rate of zero or one that is not a number would only surface later as a port
  // that cannot be opened, or a channel that never answers.
  int32_t rate = 0;
  if (!core::parse_signed(text, rate) || rate <= 0) return refused("Illegal Baud rate - bail out!");
  settings.baudrate = rate;
  return {};
}

core::Status read_epp_port(const std::string& text, LinkSettings& settings) {
  settings.epp_base_port = DEFAULTEPPBASEPORT;
  if (text.empty()) return {};
  if (!core::HEXWORDREAD(text, settings.epp_base_port)) return refused("Can't parse EPP address");
  if ((settings.epp_base_port & 7) != 0) return refused("Invalid EPP address");
  return {};
}

bool uses_serial_port(PROTOCOLTYPES protocol) { return describe(protocol).serial_port; }

bool takes_rate(PROTOCOLTYPES protocol) { return describe(protocol).default_baudrate > 0; }

// A front end may name the device itself instead of a COMn port.
bool is_device_path(const std::optional<std::string>& port) { return port && !port->empty() && port->front() == '/'; }

// On Windows a port's name is all it takes; elsewhere the device behind COMn may be
// anything (a USB adapter, a pseudo-terminal), named by ZR90_COMn.
#ifdef _WIN32
constexpr bool PORT_DEVICES_NAMED = false;
#else
constexpr bool PORT_DEVICES_NAMED = true;
#endif

// The device ZR90_COMn names for a plain "COMn"; empty for none.
std::string device_for(const std::string& comport, const EnvLookup& lookup) {
  const std::optional<core::ComPort> port = core::parse_comport(comport);
  if (!PORT_DEVICES_NAMED || !port || !port->plain) return {};
  const std::string variable = "ZR90_COM" + std::to_string(port->number);
  return lookup(variable.c_str());
}

}  // namespace

core::Result<LinkSettings> read_settings(const GivenSettings& given, core::Reporter& reporter, const EnvLookup& lookup) {
  Environment env = read_environment(given, lookup);
  LinkSettings settings;
  // A device path passes the port checks as the first port, then takes its place.
  if (is_device_path(given.comport)) env.comport = "COM1";

  if (env.interface_name.empty()) return refused("Interface not in Environment");
  settings.interface_kind = interface_kind_named(env.interface_name);
  const InterfaceDescriptor& interface_row = describe(settings.interface_kind);

  if (interface_row.endpoint == Endpoint::ip_address && !canonical_ipv4(env.ipaddr, settings.ip_address)) {
    Failure failure = refused("Ethernet protocol but no IP address");
    // An address was given, only not in the one form the card is reached by.
    if (!env.ipaddr.empty()) {
      const std::string typed = given.ip_address ? *given.ip_address : lookup("IPADDR");
      failure.detail = "the card's address \"" + typed +
                       "\" is not a dotted IPv4 address: give four numbers 0 to 255, as 192.168.1.20";
    }
    return failure;
  }
  if (interface_row.card && interface_row.endpoint == Endpoint::serial_port && env.comport.rfind("COM", 0) == 0) {
    if (!valid_comport(env.comport)) return refused("Undecipherable Windows COM port - bail out!");
    settings.comport = env.comport;
  }

  if (!env.protocol.empty()) {
    settings.protocol = protocol_kind_named(env.protocol);
  } else if (given.card_protocol_by_default && interface_row.card) {
    settings.protocol = PROTOCOLTYPES::SSZAL;
  } else {
    reporter.notice("Protocol not in Environment, assuming Hex");
    settings.protocol = PROTOCOLTYPES::HEX;
  }
  if (!describe(settings.protocol).supported) return refused("Protocol not supported");

  if (uses_serial_port(settings.protocol)) {
    if (core::Status done = read_port_settings(env, settings, reporter); !done) return done.error();
  }
  if (takes_rate(settings.protocol)) {
    if (core::Status done = read_baudrate(env.baudrate, settings, reporter); !done) return done.error();
  }
  if (settings.interface_kind == INTERFACETYPES::EPP) {
    if (core::Status done = read_epp_port(env.eppport, settings); !done) return done.error();
  }
  if (is_device_path(given.comport)) {
    // The device given stands for the port in every message too.
    settings.comport = *given.comport;
    settings.device = *given.comport;
  } else {
    settings.device = device_for(settings.comport, lookup);
  }
  return settings;
}

SerialPortName serial_port_named(const std::string& name, const EnvLookup& lookup) {
  if (is_device_path(name)) return {name, name, name};
  return {name, name, device_for(name, lookup)};
}

std::vector<SerialPortName> mapped_serial_ports(const EnvLookup& lookup) {
  std::vector<SerialPortName> ports;
  if (!PORT_DEVICES_NAMED) return ports;
  for (int n = 1; n <= MAX_MAPPED_PORT; ++n) {
    const std::string name = "COM" + std::to_string(n);
    const std::string device = device_for(name, lookup);
    if (!device.empty()) ports.push_back({name, name, device});
  }
  return ports;
}

core::Result<LinkSettings> settings_from_environment(core::Reporter& reporter, const EnvLookup& lookup) {
  return read_settings({}, reporter, lookup);
}

unsigned reachable_axes(const LinkSettings& settings) {
  const bool through_card = describe(settings.interface_kind).card;
  return through_card && describe(settings.protocol).reach != Reach::one_drive ? 8 : 1;
}

}  // namespace config
