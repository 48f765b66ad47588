#include "card/idrom.h"

#include "card/hostbus.h"
#include "core/fatal.h"
#include "core/output.h"

namespace card {

int32_t IDROMOFFSET = 0;
std::array<uint32_t, IDROMSIZE> IDROMASARRAY{};
IDROMHEADERTYPE IDROMHEADER{};
int32_t MODULEOFFSET = 0;
int32_t PINDESCOFFSET = 0;
std::array<MODULETYPE, MAXMODULES> MODULES{};
std::array<PINDESCTYPE, MAXPINS + 1> PINDESCS{};
std::array<uint32_t, NUMOUTPUTPORTS> OUTPUTMASKS{};

namespace {

constexpr int MODULEWORDS = 3;
// Highest word index at which each table still fits inside the 256-word copy.
constexpr int32_t MAXMODULEOFFSET = IDROMSIZE - MAXMODULES * MODULEWORDS;  // 160
constexpr int32_t MAXPINDESCOFFSET = IDROMSIZE - MAXPINS;                   // 112

uint8_t byte_of(uint32_t word, int n) { return static_cast<uint8_t>(word >> (8 * n)); }

// Reads the copy; indexes outside it read as 0 so that no table copy can run off
// the end, whatever the card put in its header.
uint32_t idrom_word(int32_t index) {
  if (index < 0 || index >= IDROMSIZE) return 0;
  return IDROMASARRAY[static_cast<std::size_t>(index)];
}

void copy_header() {
  uint32_t* fields[IDROMHEADERSIZE] = {
      &IDROMHEADER.IDROMTYPE,   &IDROMHEADER.MODULEPOINTER, &IDROMHEADER.PINDESCPOINTER,
      &IDROMHEADER.BOARDNAMELOW, &IDROMHEADER.BOARDNAMEHIGH, &IDROMHEADER.FPGASIZE,
      &IDROMHEADER.FPGAPINS,    &IDROMHEADER.IOPORTS,       &IDROMHEADER.IOWIDTH,
      &IDROMHEADER.PORTWIDTH,   &IDROMHEADER.CLOCKLOW,      &IDROMHEADER.CLOCKHIGH,
      &IDROMHEADER.INSTSTRIDE0, &IDROMHEADER.INSTSTRIDE1,   &IDROMHEADER.REGSTRIDE0,
      &IDROMHEADER.REGSTRIDE1};
  for (int i = 0; i < IDROMHEADERSIZE; ++i) *fields[i] = IDROMASARRAY[static_cast<std::size_t>(i)];
}

// The table pointers are byte offsets; division truncates toward zero as a signed value.
int32_t word_offset(uint32_t byte_pointer) { return static_cast<int32_t>(byte_pointer) / 4; }

void check_table_offsets() {
  if (MODULEOFFSET < 0 || MODULEOFFSET > MAXMODULEOFFSET) {
    core::BUMOUT("Invalid IDROM: module table offset out of range");
  }
  if (PINDESCOFFSET < 0 || PINDESCOFFSET > MAXPINDESCOFFSET) {
    core::BUMOUT("Invalid IDROM: pin table offset out of range");
  }
}

// The mask loop indexes PINDESCS by pin and OUTPUTMASKS by port, and divides by
// the port width: all three must stay inside their tables.
void check_pin_layout(uint16_t pins) {
  if (pins > MAXPINS) core::BUMOUT("Invalid IDROM: more than 144 I/O pins");
  if (IDROMHEADER.PORTWIDTH == 0) core::BUMOUT("Invalid IDROM: I/O port width is 0");
  if (pins > 0 && (pins - 1u) / IDROMHEADER.PORTWIDTH >= NUMOUTPUTPORTS) {
    core::BUMOUT("Invalid IDROM: more than 6 I/O ports");
  }
}

}  // namespace

void FILLQX3ARRAY() {
  if (static_cast<uint32_t>(READ32(QX3COOKIEOFFSET)) != QX3COOKIE) {
    core::write_line("No QX3 Hardware Found");
    core::end_run(2);
  }
  IDROMOFFSET = READ32(IDROMPOINTER);
  for (int i = 0; i < IDROMSIZE; ++i) {
    const auto address = static_cast<uint16_t>(static_cast<uint32_t>(IDROMOFFSET) + 4u * i);
    IDROMASARRAY[static_cast<std::size_t>(i)] = static_cast<uint32_t>(READ32(address));
  }
  copy_header();
  MODULEOFFSET = word_offset(IDROMHEADER.MODULEPOINTER);
  PINDESCOFFSET = word_offset(IDROMHEADER.PINDESCPOINTER);
  check_table_offsets();
}

bool GETMODULEINFO(uint8_t MODULE, uint16_t& BASE, uint8_t& NUMREGS) {
  BASE = 0;
  NUMREGS = 0;
  bool found = false;
  for (int m = 0; m < MAXMODULES; ++m) {
    const int32_t first = MODULEOFFSET + m * MODULEWORDS;
    const uint32_t w0 = idrom_word(first);
    const uint32_t w1 = idrom_word(first + 1);
    MODULETYPE& d = MODULES[static_cast<std::size_t>(m)];
    d.GTAG = byte_of(w0, 0);
    d.VERSION = byte_of(w0, 1);
    d.CLOCK = byte_of(w0, 2);
    d.NUMINSTANCES = byte_of(w0, 3);
    d.BASEADDR = static_cast<uint16_t>(w1 & 0xFFFF);
    d.NUMREGISTERS = byte_of(w1, 2);
    d.STRIDES = byte_of(w1, 3);
    d.MULTREGS = idrom_word(first + 2);
    // No early stop: with a tag listed twice, the later entry is the one used.
    if (d.GTAG == MODULE) {
      found = true;
      BASE = d.BASEADDR;
      NUMREGS = d.NUMREGISTERS;
    }
  }
  return found;
}

void ZEROMASKS() { OUTPUTMASKS.fill(0); }

void SETALLQX3OUTPUTMASKS() {
  for (int i = 1; i <= MAXPINS; ++i) {
    const uint32_t w = idrom_word(PINDESCOFFSET + i - 1);
    PINDESCS[static_cast<std::size_t>(i)] = {byte_of(w, 0), byte_of(w, 1), byte_of(w, 2), byte_of(w, 3)};
  }
  const auto pins = static_cast<uint16_t>(IDROMHEADER.IOWIDTH & 0xFFFF);
  check_pin_layout(pins);
  const uint32_t width = IDROMHEADER.PORTWIDTH;
  uint32_t bit = 1;
  for (uint32_t i = 1; i <= pins; ++i) {
    if ((i - 1) % width == 0) bit = 1;
    if (PINDESCS[i].PNUMBER & OUTPUTMARKER) OUTPUTMASKS[(i - 1) / width] |= bit;
    bit <<= 1;
  }
}

}  // namespace card
