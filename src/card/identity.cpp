#include "card/identity.h"

#include <algorithm>

#include "card/idrom.h"

namespace card {

namespace {

struct TagName {
  uint8_t tag;
  const char* name;
};

constexpr TagName TAG_NAMES[] = {
    {IRQLOGICTAG, "irqlogic"},       {WATCHDOGTAG, "watchdog"},
    {IOPORTTAG, "ioport"},           {QCOUNTTAG, "qcount"},
    {STEPGENTAG, "stepgen"},         {PWMTAG, "pwm"},
    {SPITAG, "spi"},                 {SSITAG, "ssi"},
    {UARTTXTAG, "uarttx"},           {UARTRXTAG, "uartrx"},
    {ADDRXTAG, "addrx"},             {MUXEDQCOUNTTAG, "muxedqcount"},
    {MUXEDQCOUNTSELTAG, "muxedqcountsel"}, {BSPITAG, "bspi"},
    {DBSPITAG, "dbspi"},             {DPLLTAG, "dpll"},
    {MUXEDQCOUNTMIMTAG, "muxedqcountmim"}, {MUXEDQCOUNTSELMIMTAG, "muxedqcountselmim"},
    {TPPWMTAG, "tppwm"},             {WAVEGENTAG, "wavegen"},
    {DAQFIFOTAG, "daqfifo"},         {BINOSCTAG, "binosc"},
    {DMDMATAG, "dmdma"},             {BISSTAG, "biss"},
    {FABSTAG, "fabs"},               {LEDTAG, "led"},
    {RESMODTAG, "resmod"},           {SSERIALTAG, "sserial"},
    {TWIDDLERTAG, "twiddler"},
};

// Four characters per word, lowest byte first, as the ROM stores the name.
std::string board_name(uint32_t low, uint32_t high) {
  std::string name;
  for (uint32_t word : {low, high}) {
    for (int i = 0; i < 4; ++i) name += static_cast<char>((word >> (8 * i)) & 0xFF);
  }
  while (!name.empty() && (name.back() == '\0' || name.back() == ' ')) name.pop_back();
  return name;
}

double mhz(uint32_t hz) { return static_cast<double>(hz) / 1e6; }

}  // namespace

std::string tag_name(uint8_t tag) {
  for (const TagName& row : TAG_NAMES) {
    if (row.tag == tag) return row.name;
  }
  return "tag " + std::to_string(tag);
}

CardIdentity identify_card(const Idrom& idrom) {
  const IDROMHEADERTYPE& h = idrom.header;
  CardIdentity identity;
  identity.board = board_name(h.BOARDNAMELOW, h.BOARDNAMEHIGH);
  identity.fpga_size = h.FPGASIZE;
  identity.fpga_pins = h.FPGAPINS;
  identity.io_ports = h.IOPORTS;
  identity.io_width = h.IOWIDTH;
  identity.port_width = h.PORTWIDTH;
  identity.clock_low_mhz = mhz(h.CLOCKLOW);
  identity.clock_high_mhz = mhz(h.CLOCKHIGH);
  for (const MODULETYPE& m : idrom.modules) {
    if (m.GTAG == NULLTAG) continue;
    identity.modules.push_back({m.GTAG, tag_name(m.GTAG), m.VERSION, m.NUMINSTANCES, m.BASEADDR});
  }
  // The pins are checked against the ROM's I/O width when the masks are set; only
  // those pins are the board's.
  const uint32_t pins = std::min<uint32_t>(h.IOWIDTH & 0xFFFF, MAXPINS);
  for (uint32_t i = 1; i <= pins; ++i) {
    const PINDESCTYPE& pin = idrom.pins[i];
    if (pin.GTAG != SSERIALTAG || pin.CHAN >= core::CHANNEL_COUNT) continue;
    std::vector<uint8_t>& channels = identity.serial_channels;
    if (std::find(channels.begin(), channels.end(), pin.CHAN) == channels.end()) channels.push_back(pin.CHAN);
  }
  std::sort(identity.serial_channels.begin(), identity.serial_channels.end());
  return identity;
}

}  // namespace card
