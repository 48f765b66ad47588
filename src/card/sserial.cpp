#include "card/sserial.h"

#include "card/hostbus.h"
#include "card/idrom.h"
#include "core/fatal.h"
#include "core/output.h"
#include "core/text.h"
#include "link/link.h"
#include "platform/console.h"

namespace card {

uint8_t SSERIAL = 0;
uint8_t NUMBEROFBASES = 0;
uint16_t COMMANDPORT = 0;
uint16_t OURDATAPORT = 0;
uint16_t CSRPORT = 0;
uint16_t INTERFACEPORT0 = 0;
uint16_t INTERFACEPORT1 = 0;
uint16_t INTERFACEPORT2 = 0;
uint8_t SSZALMAJORREVISION = 0;
uint8_t SSZALMINORREVISION = 0;
uint8_t SSZALCHANNELSTART = 0;
uint8_t SSZALCHANNELSTRIDE = 0;

namespace {

constexpr int DONEPOLLS = 100000;
constexpr int STARTSETUPPOLLS = 200;
constexpr int STARTSETUPPOLLPAUSE_MS = 1;
constexpr uint16_t MODULEINSTANCESTRIDE = 64;
constexpr uint16_t CHANDATAPORTOFFSET = 0x100;

uint16_t port_of(uint16_t base, uint8_t channel) {
  return static_cast<uint16_t>(base + AXISSTRIDE * channel);
}

// One bit of a byte: a channel past the eighth selects nothing.
uint8_t channel_mask(uint8_t channel) {
  return channel <= MAXAXIS ? static_cast<uint8_t>(1u << channel) : 0;
}

uint16_t channel_param(uint8_t channel, uint16_t offset) {
  return static_cast<uint16_t>(SSZALCHANNELSTART + channel * SSZALCHANNELSTRIDE + offset);
}

uint8_t read_data_byte() { return static_cast<uint8_t>(READ32(OURDATAPORT) & 0xFF); }

[[noreturn]] void module_fatal(const char* line) {
  core::write_line(line);
  SSZALDUMP(drivelink::AXIS);
  core::end_run(2);
}

}  // namespace

bool INITIALIZESSBASEADDR() {
  uint16_t module_base = 0;
  uint8_t registers = 0;
  const bool found = GETMODULEINFO(SSERIALTAG, module_base, registers);
  const auto base = static_cast<uint16_t>(module_base + SSERIAL * MODULEINSTANCESTRIDE);
  COMMANDPORT = base;
  OURDATAPORT = static_cast<uint16_t>(base + CHANDATAPORTOFFSET);
  CSRPORT = static_cast<uint16_t>(base + 0x200);
  INTERFACEPORT0 = static_cast<uint16_t>(base + 0x300);
  INTERFACEPORT1 = static_cast<uint16_t>(base + 0x400);
  INTERFACEPORT2 = static_cast<uint16_t>(base + 0x500);
  NUMBEROFBASES = registers;
  return found;
}

void WAITFORDONE() {
  int counter = DONEPOLLS;
  int32_t command = 0;
  do {
    command = READ32(COMMANDPORT);
    --counter;
  } while (command != 0 && counter != 0);
  if (counter == 0) module_fatal("Timeout waiting for done");
}

bool WAITFORSTARTSETUP() {
  int counter = STARTSETUPPOLLS;
  int32_t command = 0;
  do {
    command = READ32(COMMANDPORT);
    --counter;
    platform::console::sleep_ms(STARTSETUPPOLLPAUSE_MS);
  } while (command != 0 && counter != 0);
  return counter != 0;
}

void WRITESSRAM(uint16_t address, uint8_t value) {
  // The module takes the byte from the data register when it sees the command.
  WRITE32(OURDATAPORT, value);
  WRITE32(COMMANDPORT, static_cast<int32_t>(REQUESTBIT + WRITEBIT + address));
  WAITFORDONE();
}

uint8_t READSSRAM(uint16_t address) {
  WRITE32(COMMANDPORT, static_cast<int32_t>(REQUESTBIT + address));
  WAITFORDONE();
  return read_data_byte();
}

void SSZALCHANNELACCESSINIT() {
  SSZALMAJORREVISION = READSSRAM(SSZALMAJORREVISIONLOC);
  SSZALMINORREVISION = READSSRAM(SSZALMINORREVISIONLOC);
  SSZALCHANNELSTART = READSSRAM(SSZALCHANNELSTARTLOC);
  SSZALCHANNELSTRIDE = READSSRAM(SSZALCHANNELSTRIDELOC);
}

void SSZALSETNOCRC(uint8_t channel, uint8_t value) {
  WRITESSRAM(channel_param(channel, CHANDISABLECRCOFFSET), value);
}

void SSZALSETBAUD(uint8_t channel, int32_t rate) {
  const uint16_t p = channel_param(channel, CHANBAUDRATEOFFSET);
  const auto bits = static_cast<uint32_t>(rate);
  for (uint16_t i = 0; i < 4; ++i) {
    WRITESSRAM(static_cast<uint16_t>(p + i), static_cast<uint8_t>(bits >> (8 * i)));
  }
  // The module reads the rate only when a channel starts.
  SSZALSTOPALL();
}

uint8_t STARTSETUP(uint8_t mask) {
  WRITE32(COMMANDPORT, static_cast<int32_t>(STARTSETUPCOMMAND + mask));
  if (!WAITFORSTARTSETUP()) return 0xFF;
  return read_data_byte();
}

bool AXISSTARTSETUP(uint8_t channel) { return STARTSETUP(channel_mask(channel)) == 0; }

void SSZALSTOPALL() {
  WRITE32(COMMANDPORT, static_cast<int32_t>(STOPALLCOMMAND));
  WAITFORDONE();
  for (uint8_t k = 0; k <= MAXAXIS; ++k) WRITE32(port_of(CSRPORT, k), 0);
}

uint8_t DOIT(uint8_t mask) {
  if (READ32(COMMANDPORT) != 0) module_fatal("Not ready for command ");
  WRITE32(COMMANDPORT, static_cast<int32_t>(DOITCOMMAND + mask));
  WAITFORDONE();
  return read_data_byte();
}

bool AXISDOIT(uint8_t channel) {
  const uint8_t mask = channel_mask(channel);
  return (DOIT(mask) & mask) == 0;
}

void SSZALDUMP(uint8_t channel) {
  // Each register is read before its line is written, so that a transport failure
  // during the dump never leaves half a line behind.
  struct Line {
    const char* label;
    uint16_t port;
    uint8_t nibbles;
  };
  const Line lines[] = {
      {"Command Port ", COMMANDPORT, 4},
      {"Data Port ", OURDATAPORT, 2},
      {"CSR Port ", port_of(CSRPORT, channel), 8},
      {"User0 ", port_of(INTERFACEPORT0, channel), 8},
      {"User1 ", port_of(INTERFACEPORT1, channel), 8},
      {"User2 ", port_of(INTERFACEPORT2, channel), 8},
  };
  for (const Line& line : lines) {
    const auto value = static_cast<uint32_t>(READ32(line.port));
    core::write_line(std::string(line.label) + core::HEXSTRING(value, line.nibbles));
  }
}

}  // namespace card
