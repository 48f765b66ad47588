// Link settings: values a front end gives, the rest looked up (in the environment
// unless a front end says otherwise).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/descriptors.h"
#include "core/reporter.h"
#include "core/result.h"

namespace config {

inline constexpr uint16_t DEFAULTEPPBASEPORT = 888;

// Everything a link needs to open, as a plain value.
struct LinkSettings {
  INTERFACETYPES interface_kind = INTERFACETYPES::EPP;
  PROTOCOLTYPES protocol = PROTOCOLTYPES::BUS;
  std::string comport;        // "COMn", empty when none was configured
  // The device behind the port (a USB adapter, a pseudo-terminal); empty for the
  // platform's own for the name: /dev/ttyS<n-1>, or the COM device on Windows.
  std::string device;
  int32_t baudrate = 0;       // bit/s
  double baudrate_mul = 0.0;  // rate divisor, 1 to 64
  std::string ip_address;     // dotted-decimal IPv4 address of the card
  uint16_t epp_base_port = 0;
};

// Returns the variable's value, or an empty string when it is unset.
using EnvLookup = std::function<std::string(const char* name)>;
std::string process_environment(const char* name);

// Values a front end gives in place of the variables (INTERFACE, PROTOCOL, COMPORT,
// BAUDRATE, BAUDRATEMUL, IPADDR), as text; a value given is checked as the
// variable's would be.
struct GivenSettings {
  std::optional<std::string> interface_kind;
  std::optional<std::string> protocol;
  // "COMn", or the path of a serial device (which is used as it is).
  std::optional<std::string> comport;
  std::optional<std::string> baudrate;
  std::optional<std::string> baudrate_mul;
  std::optional<std::string> ip_address;
  // A card interface with no protocol named speaks the one that reaches its
  // drives, without a notice; otherwise the text protocol is assumed, and said.
  bool card_protocol_by_default = false;
};

// The settings from the values given and, for the others, the lookup; each
// default assumed is reported as a notice. A malformed value is a failure with its
// message.
core::Result<LinkSettings> read_settings(const GivenSettings& given, core::Reporter& reporter,
                                         const EnvLookup& lookup = process_environment);

// The same with nothing given: the programs that take the environment only. Outside
// Windows, ZR90_COMn names the device behind port COMn.
core::Result<LinkSettings> settings_from_environment(core::Reporter& reporter,
                                                     const EnvLookup& lookup = process_environment);

// How many drives the link reaches: 1, or the card module's channels.
unsigned reachable_axes(const LinkSettings& settings);

// A serial port as a user names it ("COM3", "/dev/ttyUSB0") and what a link opens
// for it: the COMn name and the device behind it (empty for the platform's own).
struct SerialPortName {
  std::string name;
  std::string comport;
  std::string device;
};

// The port a user names: "COMn" (the device ZR90_COMn names outside Windows) or a
// device path, which stands for itself.
SerialPortName serial_port_named(const std::string& name, const EnvLookup& lookup = process_environment);

// The COMn ports (n from 1 to MAX_MAPPED_PORT) that ZR90_COMn maps to a device;
// none on Windows, where a COM name is all a port takes.
inline constexpr int MAX_MAPPED_PORT = 255;
std::vector<SerialPortName> mapped_serial_ports(const EnvLookup& lookup = process_environment);

// "COM" followed by a number in one of the accepted number forms (a sign allowed);
// the number, or nothing. The one parser of port names.
bool parse_comport(const std::string& name, int32_t& number);

}  // namespace config
