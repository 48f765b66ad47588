// The identification ROM of the simulated card: a 144-pin board in six ports of
// 24 pins, with a watchdog, an LED block, I/O ports, counters, PWM generators and
// the serial-channel module.
//
// Output pins (bit 7 of the pin number), and so the output masks the tools derive:
//   port 0  pins 9..16   PWM outputs              mask 0x0000FF00
//   port 1  pins 25..48  serial channel k uses pins 25+3k (receive, input),
//                        26+3k (transmit) and 27+3k (driver enable)
//                                                 mask 0x00DB6DB6
//   port 3  pins 73..76  LEDs                     mask 0x0000000F
//   ports 2, 4, 5        inputs only              mask 0
#include <cstdint>

#include "card/idrom.h"
#include "card_model.h"

namespace sim {

namespace {

constexpr uint32_t MODULE_TABLE_BYTES = 64;
constexpr uint32_t PIN_TABLE_BYTES = 448;
constexpr uint32_t IO_WIDTH = 144;
constexpr uint32_t PORT_WIDTH = 24;

struct ModuleEntry {
  uint8_t tag, version, clock, instances;
  uint16_t base;
  uint8_t registers, strides;
  uint32_t multiple_registers;
};

struct Pin {
  uint8_t number;  // bit 7: output
  uint8_t tag;
  uint8_t channel;
};

uint32_t text_word(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

void put_module(std::array<uint32_t, card_layout::IDROM_WORDS>& rom, int index, const ModuleEntry& m) {
  std::size_t at = MODULE_TABLE_BYTES / 4 + static_cast<std::size_t>(index) * 3;
  rom[at] = m.tag | uint32_t{m.version} << 8 | uint32_t{m.clock} << 16 | uint32_t{m.instances} << 24;
  rom[at + 1] = m.base | uint32_t{m.registers} << 16 | uint32_t{m.strides} << 24;
  rom[at + 2] = m.multiple_registers;
}

Pin pin_function(int pin) {  // pin 1..144
  using namespace card;
  if (pin >= 9 && pin <= 16) return {static_cast<uint8_t>(OUTPUTMARKER | (1 + (pin - 9) % 2)), PWMTAG,
                                     static_cast<uint8_t>((pin - 9) / 2)};
  if (pin >= 1 && pin <= 8) return {static_cast<uint8_t>(1 + (pin - 1) % 2), QCOUNTTAG,
                                    static_cast<uint8_t>((pin - 1) / 2)};
  if (pin >= 25 && pin <= 48) {
    int k = (pin - 25) / 3, role = (pin - 25) % 3;
    uint8_t number = role == 0 ? 1 : static_cast<uint8_t>(OUTPUTMARKER | (role + 1));
    return {number, SSERIALTAG, static_cast<uint8_t>(k)};
  }
  if (pin >= 73 && pin <= 76) return {static_cast<uint8_t>(OUTPUTMARKER | (pin - 72)), LEDTAG, 0};
  return {0, NULLTAG, 0};
}

}  // namespace

std::array<uint32_t, card_layout::IDROM_WORDS> build_idrom(const CardFaults& faults) {
  using namespace card;
  std::array<uint32_t, card_layout::IDROM_WORDS> rom{};

  uint32_t module_pointer = MODULE_TABLE_BYTES, pin_pointer = PIN_TABLE_BYTES;
  uint32_t io_width = IO_WIDTH, port_width = PORT_WIDTH;
  switch (faults.idrom) {
    case IdromDefect::none: break;
    case IdromDefect::module_pointer: module_pointer = 0x0800; break;
    case IdromDefect::pin_pointer: pin_pointer = 0x0500; break;
    case IdromDefect::wide_io: io_width = 200; break;
    case IdromDefect::zero_port_width: port_width = 0; break;
    case IdromDefect::many_ports: port_width = 8; break;
  }
  const uint32_t header[IDROMHEADERSIZE] = {
      3,                   // IDROMTYPE
      module_pointer,      // MODULEPOINTER
      pin_pointer,         // PINDESCPOINTER
      text_word("ZR90"),   // BOARDNAMELOW
      text_word("CARD"),   // BOARDNAMEHIGH
      400,                 // FPGASIZE
      256,                 // FPGAPINS
      IO_WIDTH / PORT_WIDTH,  // IOPORTS
      io_width,            // IOWIDTH
      port_width,          // PORTWIDTH
      33333333,            // CLOCKLOW
      100000000,           // CLOCKHIGH
      4, 64, 256, 4,       // INSTSTRIDE0/1, REGSTRIDE0/1
  };
  for (int i = 0; i < IDROMHEADERSIZE; ++i) rom[static_cast<std::size_t>(i)] = header[i];

  int index = 0;
  put_module(rom, index++, {WATCHDOGTAG, 0, 1, 1, 0x0C00, 3, 0, 0});
  put_module(rom, index++, {IOPORTTAG, 0, 1, 6, 0x1000, 5, 0x1F, 0x1F});
  put_module(rom, index++, {QCOUNTTAG, 2, 1, 4, 0x3000, 5, 0x03, 0x1F});
  put_module(rom, index++, {PWMTAG, 0, 2, 4, 0x4100, 5, 0x00, 0x03});
  if (faults.two_modules)  // the tools must take the last entry with the tag
    put_module(rom, index++, {SSERIALTAG, 0, 2, 1, card_layout::DECOY_MODULE_BASE, 1, 0x12, 0});
  if (!faults.no_module) put_module(rom, index++, {SSERIALTAG, 0, 2, 1, card_layout::MODULE_BASE, 6, 0x12, 0x3C});
  put_module(rom, index++, {LEDTAG, 0, 1, 1, 0x0200, 1, 0, 0});

  for (int pin = 1; pin <= MAXPINS; ++pin) {
    Pin p = pin_function(pin);
    if (faults.zero_masks) p.number &= OUTPUTMASK;
    rom[PIN_TABLE_BYTES / 4 + static_cast<std::size_t>(pin - 1)] =
        p.number | uint32_t{p.tag} << 8 | uint32_t{p.channel} << 16 | uint32_t{IOPORTTAG} << 24;
  }
  return rom;
}

}  // namespace sim
