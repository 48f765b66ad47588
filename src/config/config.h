// Link settings read from the environment.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace config {

enum class INTERFACETYPES : uint8_t { EPP, PCIMEM, PCIPORT, ISAPORT, OSDEVICE, EZAL16, OSZAL };
enum class PROTOCOLTYPES : uint8_t { BUS, HEX, ZAL, SSZAL, DIRECT, INVALID };

inline constexpr uint16_t DEFAULTEPPBASEPORT = 888;

extern INTERFACETYPES THEINTERFACE;
extern PROTOCOLTYPES PROTOCOL;
extern std::string THECOMPORT;   // "COMn", empty when none was configured
extern int32_t THEBAUDRATE;      // bit/s
extern double THEBAUDRATEMUL;    // rate divisor, 1 to 64
extern std::string IPADDR;       // dotted-decimal IPv4 address of the card
extern uint16_t EPPBASEPORT;
extern int32_t CHARTIMEOUT;      // ms of silence a serial receive waits

// Returns the variable's value, or an empty string when it is unset.
using EnvLookup = std::function<std::string(const char* name)>;
std::string process_environment(const char* name);

// Reads the settings, prints a notice for each default assumed, and ends the run
// through BUMOUT on a malformed value.
void GETOURENV(const EnvLookup& lookup = process_environment);

}  // namespace config
