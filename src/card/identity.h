// What a card is, as its identification ROM and its serial-channel module say: the
// board, its FPGA and I/O, the modules it carries and the module's channels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace card {

struct Idrom;

struct ModuleEntry {
  uint8_t tag = 0;
  std::string name;  // "sserial", "pwm", ...; "tag N" for a tag without a name
  uint8_t version = 0;
  uint8_t instances = 0;
  uint16_t base = 0;
};

struct CardIdentity {
  std::string board;  // the two name words as text, NULs and spaces at the end left out
  uint32_t fpga_size = 0;
  uint32_t fpga_pins = 0;
  uint32_t io_ports = 0;
  uint32_t io_width = 0;
  uint32_t port_width = 0;
  double clock_low_mhz = 0;
  double clock_high_mhz = 0;
  std::vector<ModuleEntry> modules;  // in ROM order, the empty entries left out
  // The serial-channel module's channels: those the pin table wires to it.
  std::vector<uint8_t> serial_channels;
  // The module's firmware revision, once a channel was started (0.0 before).
  uint8_t serial_major = 0;
  uint8_t serial_minor = 0;
};

// The name of a module tag ("watchdog", "sserial"), or "tag N".
std::string tag_name(uint8_t tag);

// The identity as the ROM copy holds it; the pin table must have been decoded
// (set_output_masks) for the channels.
CardIdentity identify_card(const Idrom& idrom);

}  // namespace card
