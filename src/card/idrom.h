// The card's identification ROM: cookie check, copy, module lookup, output masks.
// The layout types and their fields keep their defined names.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "card/card.h"
#include "core/result.h"

namespace card {

inline constexpr uint16_t QX3COOKIEOFFSET = 0x0100;
inline constexpr uint16_t IDOFFSET = 0x0100;
inline constexpr uint16_t IDROMPOINTER = 0x010C;
inline constexpr uint32_t QX3COOKIE = 0x55AACAFE;
inline constexpr int IDROMSIZE = 256;
inline constexpr int IDROMHEADERSIZE = 16;
inline constexpr int MAXMODULES = 32;
inline constexpr int MAXPINS = 144;
inline constexpr int NUMOUTPUTPORTS = 6;
inline constexpr uint8_t OUTPUTMARKER = 128;
inline constexpr uint8_t OUTPUTMASK = 127;

inline constexpr uint8_t NULLTAG = 0;
inline constexpr uint8_t IRQLOGICTAG = 1;
inline constexpr uint8_t WATCHDOGTAG = 2;
inline constexpr uint8_t IOPORTTAG = 3;
inline constexpr uint8_t QCOUNTTAG = 4;
inline constexpr uint8_t STEPGENTAG = 5;
inline constexpr uint8_t PWMTAG = 6;
inline constexpr uint8_t SPITAG = 7;
inline constexpr uint8_t SSITAG = 8;
inline constexpr uint8_t UARTTXTAG = 9;
inline constexpr uint8_t UARTRXTAG = 10;
inline constexpr uint8_t ADDRXTAG = 11;
inline constexpr uint8_t MUXEDQCOUNTTAG = 12;
inline constexpr uint8_t MUXEDQCOUNTSELTAG = 13;
inline constexpr uint8_t BSPITAG = 14;
inline constexpr uint8_t DBSPITAG = 15;
inline constexpr uint8_t DPLLTAG = 16;
inline constexpr uint8_t MUXEDQCOUNTMIMTAG = 17;
inline constexpr uint8_t MUXEDQCOUNTSELMIMTAG = 18;
inline constexpr uint8_t TPPWMTAG = 19;
inline constexpr uint8_t WAVEGENTAG = 20;
inline constexpr uint8_t DAQFIFOTAG = 21;
inline constexpr uint8_t BINOSCTAG = 22;
inline constexpr uint8_t DMDMATAG = 23;
inline constexpr uint8_t BISSTAG = 24;
inline constexpr uint8_t FABSTAG = 25;
inline constexpr uint8_t LEDTAG = 128;
inline constexpr uint8_t RESMODTAG = 192;
inline constexpr uint8_t SSERIALTAG = 193;
inline constexpr uint8_t TWIDDLERTAG = 194;

struct IDROMHEADERTYPE {
  uint32_t IDROMTYPE, MODULEPOINTER, PINDESCPOINTER, BOARDNAMELOW, BOARDNAMEHIGH, FPGASIZE,
      FPGAPINS, IOPORTS, IOWIDTH, PORTWIDTH, CLOCKLOW, CLOCKHIGH, INSTSTRIDE0, INSTSTRIDE1,
      REGSTRIDE0, REGSTRIDE1;
};

struct MODULETYPE {
  uint8_t GTAG, VERSION, CLOCK, NUMINSTANCES;
  uint16_t BASEADDR;
  uint8_t NUMREGISTERS, STRIDES;
  uint32_t MULTREGS;
};

struct PINDESCTYPE {
  uint8_t PNUMBER, GTAG, CHAN, PTAG;
};

// The card's identification ROM as read when the card was opened: the 256-word
// copy, its header and tables decoded, and the output masks its pins call for.
struct Idrom {
  uint32_t offset = 0;  // where the card keeps it (IDROMPOINTER)
  std::array<uint32_t, IDROMSIZE> words{};
  IDROMHEADERTYPE header{};
  // Word indexes of the module and pin tables inside the copy.
  int32_t module_offset = 0;
  int32_t pindesc_offset = 0;
  std::array<MODULETYPE, MAXMODULES> modules{};
  std::array<PINDESCTYPE, MAXPINS + 1> pins{};  // indexed 1 to MAXPINS; set with the masks
  std::array<uint32_t, NUMOUTPUTPORTS> output_masks{};
};

struct ModuleInfo {
  uint16_t base = 0;
  uint8_t registers = 0;
};

// Checks the identification cookie, then copies the ROM: 258 register reads in a
// fixed order. Fails "No QX3 Hardware Found" (alone) on a wrong cookie, or with an
// "Invalid IDROM: ..." text when a table would lie outside the copy.
core::Result<Idrom> read_idrom(HostBus& bus);

// The module with the tag; with the tag listed twice, the later entry.
std::optional<ModuleInfo> find_module(const Idrom& idrom, uint8_t tag);

// Decodes the pin table and sets one mask bit per output pin, port by port. Fails
// with an "Invalid IDROM: ..." text when the pins do not fit the masks.
core::Status set_output_masks(Idrom& idrom);

}  // namespace card
