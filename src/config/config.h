// Link settings: read from the environment, or given directly by a front end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/reporter.h"
#include "core/result.h"

namespace config {

enum class INTERFACETYPES : uint8_t { EPP, PCIMEM, PCIPORT, ISAPORT, OSDEVICE, EZAL16, OSZAL };
enum class PROTOCOLTYPES : uint8_t { BUS, HEX, ZAL, SSZAL, DIRECT, INVALID };

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

// Reads the settings from the environment; each default assumed is reported as a
// notice. A malformed value is a failure with its message. Outside Windows, ZR90_COMn
// names the device behind port COMn.
core::Result<LinkSettings> settings_from_environment(core::Reporter& reporter,
                                                     const EnvLookup& lookup = process_environment);

// "COM" followed by a number in one of the accepted number forms (a sign allowed);
// the number, or nothing. The one parser of port names.
bool parse_comport(const std::string& name, int32_t& number);

}  // namespace config
