#include "link/link.h"

#include <cstddef>

#include "card/hostbus.h"
#include "card/idrom.h"
#include "card/remote.h"
#include "card/sserial.h"
#include "config/config.h"
#include "core/fatal.h"
#include "core/text.h"
#include "serial/serial.h"
#include "texthost/texthost.h"
#include "zal/zal.h"

namespace drivelink {

uint8_t AXIS = 0;

namespace {

using config::INTERFACETYPES;
using config::PROTOCOLTYPES;

constexpr char SETUPMODE_TEXT[] = "Setup Mode";
constexpr char SETUPMODENOCRC_TEXT[] = "Setup Mode NoCRC";
constexpr int32_t OSZAL_BAUDRATE = 115200;
constexpr uint16_t OUTPUTMASKBANK0 = 0x1100;
constexpr uint16_t OUTPUTMASKBANK1 = 0x1200;
constexpr uint8_t DISABLECRC = 255;

// ---- Interface stages ------------------------------------------------------

bool ezal16_stage(std::string& MESSAGE) {
  MESSAGE = "Using EZAL16 interface";
  card::SOCKET = card::create_socket();
  const bool connected = card::SOCKET->connect(config::IPADDR, card::EZAL16PORT);
  if (connected && card::SOCKET->last_error() == 0) return true;
  MESSAGE = core::shortstring(MESSAGE + ": " + card::SOCKET->last_error_text());
  return false;
}

// The card's host port always runs at 115200 bit/s, whatever was configured.
bool oszal_stage(std::string& MESSAGE) {
  // Without a port name the open below could only say " open failed".
  if (config::THECOMPORT.empty()) {
    MESSAGE = "Comport not in Environment";
    return false;
  }
  config::THEBAUDRATEMUL = 1.0;
  config::THEBAUDRATE = OSZAL_BAUDRATE;
  if (!serial::SEROPEN(MESSAGE)) return false;
  if (!zal::ZALSYNC(MESSAGE)) return false;
  MESSAGE = "Using OSDevice ZAL Interface";
  return true;
}

bool interface_stage(std::string& MESSAGE) {
  switch (config::THEINTERFACE) {
    case INTERFACETYPES::OSDEVICE:
      MESSAGE = "Using OSDevice Interface";
      return true;
    case INTERFACETYPES::EZAL16:
      return ezal16_stage(MESSAGE);
    case INTERFACETYPES::OSZAL:
      return oszal_stage(MESSAGE);
    default:
      // The parallel-port and bus-card kinds have no way to the drive.
      return false;
  }
}

// ---- Protocol stages -------------------------------------------------------

bool hex_stage(std::string& MESSAGE) {
  if (!serial::SEROPEN(MESSAGE)) return false;
  if (!texthost::SERSYNC()) {
    MESSAGE = "Hex Serial Communication failed !";
    return false;
  }
  MESSAGE = "Using Hex Serial Interface";
  return true;
}

bool zal_stage(std::string& MESSAGE) {
  if (!serial::SEROPEN(MESSAGE)) return false;
  return zal::ZALSYNC(MESSAGE);
}

// Lets every pin that the card's descriptors mark as a module output be driven by
// its module.
void write_output_masks() {
  for (int p = 0; p < card::NUMOUTPUTPORTS; ++p) {
    const uint32_t mask = card::OUTPUTMASKS[static_cast<std::size_t>(p)];
    if (mask == 0) continue;
    card::WRITE32(static_cast<uint16_t>(OUTPUTMASKBANK0 + 4 * p), static_cast<int32_t>(mask));
    card::WRITE32(static_cast<uint16_t>(OUTPUTMASKBANK1 + 4 * p), static_cast<int32_t>(mask));
  }
}

bool sszal_stage(std::string& MESSAGE, const std::string& MODESTR) {
  MESSAGE = "No SSZAL hardware";
  card::FILLQX3ARRAY();
  card::ZEROMASKS();
  uint16_t DUMMYWORD = 0;
  uint8_t DUMMYBYTE = 0;
  if (!card::GETMODULEINFO(card::SSERIALTAG, DUMMYWORD, DUMMYBYTE)) return false;
  MESSAGE = "SSZAL hardware found";
  card::INITIALIZESSBASEADDR();
  card::SETALLQX3OUTPUTMASKS();
  write_output_masks();

  const bool nocrc = MODESTR == SETUPMODENOCRC_TEXT;
  if (MODESTR != SETUPMODE_TEXT && !nocrc) return true;
  card::SSZALCHANNELACCESSINIT();
  card::SSZALSETBAUD(AXIS, config::THEBAUDRATE);
  if (nocrc) card::SSZALSETNOCRC(AXIS, DISABLECRC);
  if (card::AXISSTARTSETUP(AXIS)) return true;
  MESSAGE = "SSZAL won't starts";
  return false;
}

bool protocol_stage(std::string& MESSAGE, const std::string& MODESTR) {
  switch (config::PROTOCOL) {
    case PROTOCOLTYPES::HEX:
      return hex_stage(MESSAGE);
    case PROTOCOLTYPES::ZAL:
      return zal_stage(MESSAGE);
    case PROTOCOLTYPES::SSZAL:
      return sszal_stage(MESSAGE, MODESTR);
    case PROTOCOLTYPES::DIRECT:
      return true;
    default:
      return false;
  }
}

// ---- Access helpers ----------------------------------------------------------

PROTOCOLTYPES protocol() { return config::PROTOCOL; }

// The text host protocol addresses RAM words at twice the byte address, above 0x800.
uint16_t hex_word_address(uint16_t ADD, unsigned word_index) {
  return static_cast<uint16_t>(2u * ADD + 0x800u + 2u * word_index);
}

// Composed values: one text command per word, all of them run, and a failure of
// any word leaves SERERROR set so that no half-read value passes as good.
uint64_t hex_read_words(uint16_t ADD, unsigned count) {
  uint64_t value = 0;
  bool failed = false;
  for (unsigned i = 0; i < count; ++i) {
    const uint16_t word = texthost::SERREADPICWORD(hex_word_address(ADD, i));
    failed = failed || serial::SERERROR;
    value |= static_cast<uint64_t>(word) << (16 * i);
  }
  serial::SERERROR = failed;
  return value;
}

void hex_write_words(uint16_t ADD, uint64_t DATA, unsigned count) {
  bool failed = false;
  for (unsigned i = 0; i < count; ++i) {
    texthost::SERWRITEPICWORD(hex_word_address(ADD, i), static_cast<uint16_t>(DATA >> (16 * i)));
    failed = failed || serial::SERERROR;
  }
  serial::SERERROR = failed;
}

// The text host protocol has no command for these accesses; refusing is better than
// reporting a value that was never read or a write that never happened.
[[noreturn]] void hex_refuses(const char* what) {
  core::BUMOUT(std::string("The Hex protocol cannot ") + what);
}

}  // namespace

bool INITIALIZEINTERFACE(std::string& MESSAGE) {
  const std::string MODESTR = MESSAGE.empty() ? "No options" : MESSAGE;
  // The module has eight channels; a larger axis would address registers of
  // whatever lies beyond them.
  if (config::PROTOCOL == PROTOCOLTYPES::SSZAL && AXIS > card::MAXAXIS) {
    core::BUMOUT("Axis must be 0 to 7 for the serial-channel module");
  }
  MESSAGE = "Unable to initialize";
  serial::SERERROR = false;
  const bool IOK = interface_stage(MESSAGE);
  const bool POK = IOK && protocol_stage(MESSAGE, MODESTR);
  return IOK && POK;
}

// ---- Reads -------------------------------------------------------------------

uint8_t READBYTE(uint16_t ADD) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      hex_refuses("read a byte");
    case PROTOCOLTYPES::ZAL:
      return zal::ZALREADBYTE(ADD);
    case PROTOCOLTYPES::SSZAL:
      return card::SSZALREADBYTE(AXIS, ADD);
    default:
      return 0;
  }
}

uint16_t READWORD(uint16_t ADD) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      return texthost::SERREADPICWORD(hex_word_address(ADD, 0));
    case PROTOCOLTYPES::ZAL:
      return zal::ZALREADWORD(ADD);
    case PROTOCOLTYPES::SSZAL:
      return card::SSZALREADWORD(AXIS, ADD);
    default:
      return 0;
  }
}

int32_t READLONG(uint16_t ADD) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      return static_cast<int32_t>(static_cast<uint32_t>(hex_read_words(ADD, 2)));
    case PROTOCOLTYPES::ZAL:
      return zal::ZALREADLONG(ADD);
    case PROTOCOLTYPES::SSZAL:
      return card::SSZALREADLONG(AXIS, ADD);
    default:
      return 0;
  }
}

int64_t READDOUBLE(uint16_t ADD) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      return static_cast<int64_t>(hex_read_words(ADD, 4));
    case PROTOCOLTYPES::ZAL:
      return zal::ZALREADDOUBLE(ADD);
    case PROTOCOLTYPES::SSZAL:
      return card::SSZALREADDOUBLE(AXIS, ADD);
    default:
      return 0;
  }
}

uint8_t READEEPROMBYTE(uint16_t ADD) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      hex_refuses("read an EEPROM byte");
    case PROTOCOLTYPES::ZAL:
      return zal::ZALREADEEPROM(ADD);
    case PROTOCOLTYPES::SSZAL:
      return card::SSZALREADEEPROMBYTE(AXIS, ADD);
    default:
      return 0;
  }
}

uint16_t READEEPROMWORD(uint16_t ADD) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      return texthost::SERREADEEPROMWORD(ADD);
    case PROTOCOLTYPES::ZAL:
      return zal::ZALREADEEPROMWORD(ADD);
    case PROTOCOLTYPES::SSZAL:
      return card::SSZALREADEEPROMWORD(AXIS, ADD);
    default:
      return 0;
  }
}

int32_t READEEPROMLONG(uint16_t ADD) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      hex_refuses("read an EEPROM long");
    case PROTOCOLTYPES::ZAL:
      return zal::ZALREADEEPROMLONG(ADD);
    case PROTOCOLTYPES::SSZAL:
      return card::SSZALREADEEPROMLONG(AXIS, ADD);
    default:
      return 0;
  }
}

// ---- Writes ------------------------------------------------------------------

void WRITEBYTE(uint16_t ADD, uint8_t DATA) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      hex_refuses("write a byte");
    case PROTOCOLTYPES::ZAL:
      zal::ZALWRITEBYTE(ADD, DATA);
      break;
    case PROTOCOLTYPES::SSZAL:
      card::SSZALWRITEBYTE(AXIS, ADD, DATA);
      break;
    default:
      break;
  }
}

void WRITEWORD(uint16_t ADD, uint16_t DATA) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      texthost::SERWRITEPICWORD(hex_word_address(ADD, 0), DATA);
      break;
    case PROTOCOLTYPES::ZAL:
      zal::ZALWRITEWORD(ADD, DATA);
      break;
    case PROTOCOLTYPES::SSZAL:
      card::SSZALWRITEWORD(AXIS, ADD, DATA);
      break;
    default:
      break;
  }
}

void WRITELONG(uint16_t ADD, int32_t DATA) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      hex_write_words(ADD, static_cast<uint32_t>(DATA), 2);
      break;
    case PROTOCOLTYPES::ZAL:
      zal::ZALWRITELONG(ADD, DATA);
      break;
    case PROTOCOLTYPES::SSZAL:
      card::SSZALWRITELONG(AXIS, ADD, DATA);
      break;
    default:
      break;
  }
}

void WRITEDOUBLE(uint16_t ADD, int64_t DATA) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      hex_write_words(ADD, static_cast<uint64_t>(DATA), 4);
      break;
    case PROTOCOLTYPES::ZAL:
      zal::ZALWRITEDOUBLE(ADD, DATA);
      break;
    case PROTOCOLTYPES::SSZAL:
      card::SSZALWRITEDOUBLE(AXIS, ADD, DATA);
      break;
    default:
      break;
  }
}

void WRITEEEPROMBYTE(uint16_t ADD, uint8_t DATA) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      hex_refuses("write an EEPROM byte");
    case PROTOCOLTYPES::ZAL:
      zal::ZALWRITEEEPROM(ADD, DATA);
      break;
    case PROTOCOLTYPES::SSZAL:
      card::SSZALWRITEEEPROMBYTE(AXIS, ADD, DATA);
      break;
    default:
      break;
  }
}

void WRITEEEPROMWORD(uint16_t ADD, uint16_t DATA) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      texthost::SERWRITEEEPROMWORD(ADD, DATA);
      break;
    case PROTOCOLTYPES::ZAL:
      zal::ZALWRITEEEPROMWORD(ADD, DATA);
      break;
    case PROTOCOLTYPES::SSZAL:
      card::SSZALWRITEEEPROMWORD(AXIS, ADD, DATA);
      break;
    default:
      break;
  }
}

void WRITEEEPROMLONG(uint16_t ADD, int32_t DATA) {
  switch (protocol()) {
    case PROTOCOLTYPES::HEX:
      hex_refuses("write an EEPROM long");
    case PROTOCOLTYPES::ZAL:
      zal::ZALWRITEEEPROMLONG(ADD, DATA);
      break;
    case PROTOCOLTYPES::SSZAL:
      card::SSZALWRITEEEPROMLONG(AXIS, ADD, DATA);
      break;
    default:
      break;
  }
}

}  // namespace drivelink
