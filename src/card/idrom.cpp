#include "card/idrom.h"

namespace card {

namespace {

constexpr int MODULEWORDS = 3;
// Highest word index at which each table still fits inside the 256-word copy.
constexpr int32_t MAXMODULEOFFSET = IDROMSIZE - MAXMODULES * MODULEWORDS;  // 160
constexpr int32_t MAXPINDESCOFFSET = IDROMSIZE - MAXPINS;                   // 112

uint8_t byte_of(uint32_t word, int n) { return static_cast<uint8_t>(word >> (8 * n)); }

core::Failure invalid(const char* what) {
  return core::fail(core::FailureKind::corrupt, std::string("Invalid IDROM: ") + what);
}

// Reads the copy; indexes outside it read as 0 so that no table copy can run off
// the end, whatever the card put in its header.
uint32_t idrom_word(const Idrom& idrom, int32_t index) {
  if (index < 0 || index >= IDROMSIZE) return 0;
  return idrom.words[static_cast<std::size_t>(index)];
}

IDROMHEADERTYPE header_of(const std::array<uint32_t, IDROMSIZE>& words) {
  return {words[0], words[1], words[2],  words[3],  words[4],  words[5],  words[6],  words[7],
          words[8], words[9], words[10], words[11], words[12], words[13], words[14], words[15]};
}

// The table pointers are byte offsets; division truncates toward zero as a signed value.
int32_t word_offset(uint32_t byte_pointer) { return static_cast<int32_t>(byte_pointer) / 4; }

core::Status check_table_offsets(const Idrom& idrom) {
  if (idrom.module_offset < 0 || idrom.module_offset > MAXMODULEOFFSET) {
    return invalid("module table offset out of range");
  }
  if (idrom.pindesc_offset < 0 || idrom.pindesc_offset > MAXPINDESCOFFSET) {
    return invalid("pin table offset out of range");
  }
  return {};
}

void decode_modules(Idrom& idrom) {
  for (int m = 0; m < MAXMODULES; ++m) {
    const int32_t first = idrom.module_offset + m * MODULEWORDS;
    const uint32_t w0 = idrom_word(idrom, first);
    const uint32_t w1 = idrom_word(idrom, first + 1);
    MODULETYPE& d = idrom.modules[static_cast<std::size_t>(m)];
    d.GTAG = byte_of(w0, 0);
    d.VERSION = byte_of(w0, 1);
    d.CLOCK = byte_of(w0, 2);
    d.NUMINSTANCES = byte_of(w0, 3);
    d.BASEADDR = static_cast<uint16_t>(w1 & 0xFFFF);
    d.NUMREGISTERS = byte_of(w1, 2);
    d.STRIDES = byte_of(w1, 3);
    d.MULTREGS = idrom_word(idrom, first + 2);
  }
}

// The mask loop indexes the pins by number and the masks by port, and divides by
// the port width: all three must stay inside their tables.
core::Status check_pin_layout(const Idrom& idrom, uint16_t pins) {
  if (pins > MAXPINS) return invalid("more than 144 I/O pins");
  if (idrom.header.PORTWIDTH == 0) return invalid("I/O port width is 0");
  if (pins > 0 && (pins - 1u) / idrom.header.PORTWIDTH >= NUMOUTPUTPORTS) return invalid("more than 6 I/O ports");
  return {};
}

}  // namespace

core::Result<Idrom> read_idrom(HostBus& bus) {
  core::Result<uint32_t> cookie = bus.read32(QX3COOKIEOFFSET);
  if (!cookie) return cookie.error();
  if (*cookie != QX3COOKIE) {
    return core::fail(core::FailureKind::open, "No QX3 Hardware Found", core::FailureForm::alone);
  }
  core::Result<uint32_t> offset = bus.read32(IDROMPOINTER);
  if (!offset) return offset.error();
  Idrom idrom;
  idrom.offset = *offset;
  for (int i = 0; i < IDROMSIZE; ++i) {
    const auto address = static_cast<uint16_t>(idrom.offset + 4u * static_cast<uint32_t>(i));
    core::Result<uint32_t> word = bus.read32(address);
    if (!word) return word.error();
    idrom.words[static_cast<std::size_t>(i)] = *word;
  }
  idrom.header = header_of(idrom.words);
  idrom.module_offset = word_offset(idrom.header.MODULEPOINTER);
  idrom.pindesc_offset = word_offset(idrom.header.PINDESCPOINTER);
  if (core::Status checked = check_table_offsets(idrom); !checked) return checked.error();
  decode_modules(idrom);
  return idrom;
}

std::optional<ModuleInfo> find_module(const Idrom& idrom, uint8_t tag) {
  std::optional<ModuleInfo> found;
  // No early stop: with a tag listed twice, the later entry is the one used.
  for (const MODULETYPE& d : idrom.modules) {
    if (d.GTAG == tag) found = ModuleInfo{d.BASEADDR, d.NUMREGISTERS};
  }
  return found;
}

core::Status set_output_masks(Idrom& idrom) {
  idrom.output_masks.fill(0);
  for (int i = 1; i <= MAXPINS; ++i) {
    const uint32_t w = idrom_word(idrom, idrom.pindesc_offset + i - 1);
    idrom.pins[static_cast<std::size_t>(i)] = {byte_of(w, 0), byte_of(w, 1), byte_of(w, 2), byte_of(w, 3)};
  }
  const auto pins = static_cast<uint16_t>(idrom.header.IOWIDTH & 0xFFFF);
  if (core::Status checked = check_pin_layout(idrom, pins); !checked) return checked;
  const uint32_t width = idrom.header.PORTWIDTH;
  uint32_t bit = 1;
  for (uint32_t i = 1; i <= pins; ++i) {
    if ((i - 1) % width == 0) bit = 1;
    if (idrom.pins[i].PNUMBER & OUTPUTMARKER) idrom.output_masks[(i - 1) / width] |= bit;
    bit <<= 1;
  }
  return {};
}

}  // namespace card
