// The interfaces and protocols a link can be built from, one row each: what the
// configuration and the front ends need to know of a kind without testing for it.
// How each one opens is the link's table (src/link/link.cpp); adding a protocol
// adds a row here and one there, beside the file that implements it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace config {

enum class INTERFACETYPES : uint8_t { EPP, PCIMEM, PCIPORT, ISAPORT, OSDEVICE, EZAL16, OSZAL };
enum class PROTOCOLTYPES : uint8_t { BUS, HEX, ZAL, SSZAL, DIRECT, INVALID };

// What names the far end of an interface in messages and settings files.
enum class Endpoint : uint8_t { none, serial_port, ip_address };

struct InterfaceDescriptor {
  INTERFACETYPES kind;
  std::string_view name;
  Endpoint endpoint;
  // An interface card: drives sit behind its serial-channel module, and the
  // serial-channel protocol is the one that reaches them.
  bool card;
};

// Which drives a protocol's accesses reach.
enum class Reach : uint8_t {
  one_drive,  // the drive on the protocol's own serial line; the axis is not used
  channels,   // one of the card module's eight channels, picked by the axis
  nothing,    // a dry run: any axis, nothing is sent
};

struct ProtocolDescriptor {
  PROTOCOLTYPES kind;
  std::string_view name;
  // Speaks on a serial line of its own (COMPORT, BAUDRATEMUL).
  bool serial_port;
  // The rate assumed when none is given; 0 when the protocol takes no rate.
  int32_t default_baudrate;
  Reach reach;
  // False for a name that is known but has no implementation ("Protocol not supported").
  bool supported;
};

std::span<const InterfaceDescriptor> interfaces();
std::span<const ProtocolDescriptor> protocols();

const InterfaceDescriptor& describe(INTERFACETYPES kind);
const ProtocolDescriptor& describe(PROTOCOLTYPES kind);

// By name in any letter case; nothing for an unknown name.
const InterfaceDescriptor* interface_named(std::string_view name);
const ProtocolDescriptor* protocol_named(std::string_view name);

}  // namespace config
