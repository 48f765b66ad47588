#include "config/config.h"

#include <cstdlib>
#include <string_view>

#include "core/fatal.h"
#include "core/numbers.h"
#include "core/output.h"
#include "core/text.h"

namespace config {

INTERFACETYPES THEINTERFACE = INTERFACETYPES::EPP;
PROTOCOLTYPES PROTOCOL = PROTOCOLTYPES::BUS;
std::string THECOMPORT;
int32_t THEBAUDRATE = 0;
double THEBAUDRATEMUL = 0.0;
std::string IPADDR;
uint16_t EPPBASEPORT = 0;
int32_t CHARTIMEOUT = 0;

std::string process_environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

namespace {

struct Environment {
  std::string interface_name;
  std::string comport;
  std::string baudrate;
  std::string baudratemul;
  std::string ipaddr;
  std::string protocol;
  std::string eppport;
};

Environment read_environment(const EnvLookup& lookup) {
  Environment env;
  env.interface_name = core::UPSTRING(lookup("INTERFACE"));
  env.comport = core::UPSTRING(lookup("COMPORT"));
  env.baudrate = core::UPSTRING(lookup("BAUDRATE"));
  env.baudratemul = core::UPSTRING(lookup("BAUDRATEMUL"));
  env.ipaddr = core::UPSTRING(lookup("IPADDR"));
  env.protocol = core::UPSTRING(lookup("PROTOCOL"));
  env.eppport = core::UPSTRING(lookup("EPPPORT"));
  return env;
}

// Every run starts from the program-start state, so a second reading (tests do
// that) sees nothing of the first.
void reset_state() {
  THEINTERFACE = INTERFACETYPES::EPP;
  PROTOCOL = PROTOCOLTYPES::BUS;
  THECOMPORT.clear();
  THEBAUDRATE = 0;
  THEBAUDRATEMUL = 0.0;
  IPADDR.clear();
  EPPBASEPORT = 0;
  CHARTIMEOUT = 0;
}

void select_interface(const std::string& name) {
  if (name.empty()) core::BUMOUT("Interface not in Environment");
  // An unknown name falls back to EPP without a word, like the first entry.
  if (name == "EPP") THEINTERFACE = INTERFACETYPES::EPP;
  if (name == "PCIMEM") THEINTERFACE = INTERFACETYPES::PCIMEM;
  if (name == "ISAPORT") THEINTERFACE = INTERFACETYPES::ISAPORT;
  if (name == "OSDEVICE") THEINTERFACE = INTERFACETYPES::OSDEVICE;
  if (name == "EZAL16") THEINTERFACE = INTERFACETYPES::EZAL16;
  if (name == "OSZAL") THEINTERFACE = INTERFACETYPES::OSZAL;
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

// "COM" followed by a signed number in any of the accepted number forms.
bool valid_comport(const std::string& name) {
  if (name.rfind("COM", 0) != 0) return false;
  int32_t number = 0;
  return core::parse_signed(std::string_view(name).substr(3), number);
}

void select_protocol(const std::string& name) {
  PROTOCOL = PROTOCOLTYPES::INVALID;
  if (name.empty()) {
    core::write_line("Protocol not in Environment, assuming Hex");
    PROTOCOL = PROTOCOLTYPES::HEX;
    return;
  }
  if (name == "BUS") PROTOCOL = PROTOCOLTYPES::BUS;
  if (name == "HEX") PROTOCOL = PROTOCOLTYPES::HEX;
  if (name == "ZAL") PROTOCOL = PROTOCOLTYPES::ZAL;
  if (name == "SSZAL") PROTOCOL = PROTOCOLTYPES::SSZAL;
  if (name == "DIRECT") PROTOCOL = PROTOCOLTYPES::DIRECT;
}

void read_port_settings(Environment& env, std::string& port_name) {
  if (env.comport.empty()) {
    core::write_line("Comport not in Environment, assuming COM1");
    env.comport = "COM1";
  }
  if (!valid_comport(env.comport)) core::BUMOUT("Undecipherable Windows COM port - bail out!");
  port_name = env.comport;

  if (env.baudratemul.empty()) {
    core::write_line("BaudrateMul not in Environment, assuming 1");
    THEBAUDRATEMUL = 1.0;
    return;
  }
  double multiplier = 0.0;
  if (!core::parse_real(env.baudratemul, multiplier) || multiplier < 1.0 || multiplier > 64.0) {
    core::BUMOUT("Illegal Baud rate Multiplier - bail out!");
  }
  THEBAUDRATEMUL = multiplier;
}

void read_baudrate(const std::string& text) {
  if (text.empty()) {
    THEBAUDRATE = PROTOCOL == PROTOCOLTYPES::SSZAL ? 2500000 : 115200;
    core::write_line("Baudrate not in Environment, assuming " + std::to_string(THEBAUDRATE) + " Baud");
    return;
  }
  // A rate of zero or one that is not a number would only surface later as a port
  // that cannot be opened, or a channel that never answers.
  int32_t rate = 0;
  if (!core::parse_signed(text, rate) || rate <= 0) core::BUMOUT("Illegal Baud rate - bail out!");
  THEBAUDRATE = rate;
}

void read_epp_port(const std::string& text) {
  EPPBASEPORT = DEFAULTEPPBASEPORT;
  if (text.empty()) return;
  if (!core::HEXWORDREAD(text, EPPBASEPORT)) core::BUMOUT("Can't parse EPP address");
  if ((EPPBASEPORT & 7) != 0) core::BUMOUT("Invalid EPP address");
}

}  // namespace

void GETOURENV(const EnvLookup& lookup) {
  reset_state();
  Environment env = read_environment(lookup);
  std::string port_name;

  select_interface(env.interface_name);

  if (THEINTERFACE == INTERFACETYPES::EZAL16 && !canonical_ipv4(env.ipaddr, IPADDR)) {
    core::BUMOUT("Ethernet protocol but no IP address");
  }

  if (THEINTERFACE == INTERFACETYPES::OSZAL && env.comport.rfind("COM", 0) == 0) {
    if (!valid_comport(env.comport)) core::BUMOUT("Undecipherable Windows COM port - bail out!");
    port_name = env.comport;
  }

  select_protocol(env.protocol);

  if (PROTOCOL == PROTOCOLTYPES::BUS) core::BUMOUT("Protocol not supported");
  if (PROTOCOL == PROTOCOLTYPES::HEX || PROTOCOL == PROTOCOLTYPES::ZAL) read_port_settings(env, port_name);

  if (PROTOCOL == PROTOCOLTYPES::HEX || PROTOCOL == PROTOCOLTYPES::ZAL || PROTOCOL == PROTOCOLTYPES::SSZAL) {
    read_baudrate(env.baudrate);
  }

  if (THEINTERFACE == INTERFACETYPES::EPP) read_epp_port(env.eppport);

  CHARTIMEOUT = 1000;
  THECOMPORT = port_name;
}

}  // namespace config
