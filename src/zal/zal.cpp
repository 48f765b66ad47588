#include "zal/zal.h"

#include "config/config.h"
#include "core/fatal.h"
#include "dictionary/dictionary.h"
#include "platform/console.h"
#include "serial/serial.h"

namespace zal {

namespace {

constexpr uint8_t CRC8_REFLECTED_POLY = 0x8C;

constexpr std::array<uint8_t, 256> make_crc8_table() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    auto crc = static_cast<uint8_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ CRC8_REFLECTED_POLY) : static_cast<uint8_t>(crc >> 1);
    }
    table[static_cast<std::size_t>(i)] = crc;
  }
  return table;
}

constexpr std::array<uint8_t, 256> CRC8_TABLE_VALUES = make_crc8_table();
static_assert(CRC8_TABLE_VALUES[1] == 0x5E && CRC8_TABLE_VALUES[128] == 0x8C);

// How long the drive is given to settle between the two flushes before the probes.
constexpr int SYNC_SETTLE_MS = 25;
// The probes wait this fraction of the configured character time-out.
constexpr int32_t PROBE_TIMEOUT_DIVISOR = 20;

uint8_t size_code(uint8_t size) {
  switch (size) {
    case 1: return ZALD1_BYTE;
    case 2: return ZALD2_BYTE;
    case 4: return ZALD4_BYTE;
    default: return ZALD8_BYTE;
  }
}

void append_le(std::string& frame, uint64_t value, uint8_t size) {
  for (uint8_t i = 0; i < size; ++i) frame.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The reply bytes least significant first; missing bytes count as zero.
uint64_t from_le(const std::string& body, uint8_t size) {
  uint64_t value = 0;
  for (uint8_t i = 0; i < size && i < body.size(); ++i) {
    value |= static_cast<uint64_t>(static_cast<uint8_t>(body[i])) << (8 * i);
  }
  return value;
}

void send_frame(std::string frame) {
  APPENDCRC(frame);
  serial::SERSENDSTRING(frame);
}

// Sends a register read and gathers its data bytes; false on a time-out.
bool request_read(uint8_t size, uint16_t address, std::string& body) {
  send_frame(read_frame(size, address));
  return serial::SERRECVSTRING(size, body);
}

void register_write(uint8_t size, uint16_t address, uint64_t value) {
  send_frame(write_frame(size, address, value));
  CHECKCRC(std::string(1, '\0'));
}

}  // namespace

const std::array<uint8_t, 256> CRC8TABLE = CRC8_TABLE_VALUES;
bool ZALCRCENABLED = false;
uint8_t ZALCRC = 0;
bool ZALCRCERROR = false;
bool EXITONCRCERROR = false;

uint8_t GETCRC8(uint8_t index) { return CRC8TABLE[index]; }

uint8_t crc8(const std::string& bytes) {
  uint8_t crc = 0;
  for (char b : bytes) crc = GETCRC8(static_cast<uint8_t>(crc ^ static_cast<uint8_t>(b)));
  return crc;
}

void APPENDCRC(std::string& frame) {
  if (!ZALCRCENABLED) return;
  ZALCRC = crc8(frame);
  frame.push_back(static_cast<char>(ZALCRC));
}

bool CHECKCRC(const std::string& body) {
  ZALCRCERROR = false;
  if (!ZALCRCENABLED) return true;
  ZALCRC = crc8(body);
  uint8_t received = 0;
  if (!serial::SERRECVCHAR(received)) {
    if (EXITONCRCERROR) core::BUMOUT("Serial Timeout Error Waiting for CRC!");
    // A reply whose CRC never came has not passed its check either.
    ZALCRCERROR = true;
    return false;
  }
  if (received == ZALCRC) return true;
  ZALCRCERROR = true;
  if (EXITONCRCERROR) core::BUMOUT("CRC Error!");
  return false;
}

std::string read_frame(uint8_t size, uint16_t address) {
  std::string frame;
  frame.push_back(static_cast<char>(ZALCOMMAND_BYTE | ZALA2_BYTE | size_code(size)));
  append_le(frame, address, 2);
  return frame;
}

std::string write_frame(uint8_t size, uint16_t address, uint64_t value) {
  std::string frame;
  frame.push_back(static_cast<char>(ZALCOMMAND_BYTE | ZALWRITE_BYTE | ZALA2_BYTE | size_code(size)));
  append_le(frame, address, 2);
  append_le(frame, value, size);
  return frame;
}

uint8_t ZALREADBYTE(uint16_t address) {
  std::string body;
  serial::SERERROR = !request_read(1, address, body);
  CHECKCRC(body);
  return static_cast<uint8_t>(from_le(body, 1));
}

uint16_t ZALREADWORD(uint16_t address) {
  std::string body;
  if (!request_read(2, address, body) && serial::EXITONTIMEOUT) dict::ERROR(dict::CHARTIMEOUTERR);
  CHECKCRC(body);
  return static_cast<uint16_t>(from_le(body, 2));
}

int32_t ZALREADLONG(uint16_t address) {
  std::string body;
  if (!request_read(4, address, body)) {
    serial::SERERROR = true;
    core::BUMOUT("Serial Timeout Error Waiting for Long!");
  }
  CHECKCRC(body);
  return static_cast<int32_t>(static_cast<uint32_t>(from_le(body, 4)));
}

int64_t ZALREADDOUBLE(uint16_t address) {
  std::string body;
  if (!request_read(8, address, body)) core::BUMOUT("Serial Timeout Error Waiting Double!");
  CHECKCRC(body);
  return static_cast<int64_t>(from_le(body, 8));
}

void ZALWRITEBYTE(uint16_t address, uint8_t data) { register_write(1, address, data); }
void ZALWRITEWORD(uint16_t address, uint16_t data) { register_write(2, address, data); }
void ZALWRITELONG(uint16_t address, int32_t data) {
  register_write(4, address, static_cast<uint32_t>(data));
}
void ZALWRITEDOUBLE(uint16_t address, int64_t data) {
  register_write(8, address, static_cast<uint64_t>(data));
}

uint8_t ZALLOCALREAD(uint8_t reg) {
  send_frame(std::string(1, static_cast<char>(reg)));
  std::string body;
  // The synchronisation probes go by this flag, so a silent drive must leave it set.
  serial::SERERROR = !serial::SERRECVSTRING(1, body);
  CHECKCRC(body);
  return static_cast<uint8_t>(from_le(body, 1));
}

void ZALLOCALWRITE(uint8_t reg, uint8_t value) {
  std::string frame;
  frame.push_back(static_cast<char>(reg | ZALWRITE_BYTE));
  frame.push_back(static_cast<char>(value));
  send_frame(frame);
  CHECKCRC(std::string(1, '\0'));
}

uint8_t ZALREADCOOKIE() { return ZALLOCALREAD(ZALREADCOOKIE_BYTE); }

void ZALCLEARSTATUS() { ZALLOCALWRITE(ZALSTATUS_BYTE, 0); }

bool ZALPROGSYNC() {
  const uint8_t cookie = ZALREADCOOKIE();
  return !serial::SERERROR && cookie == ZALCOOKIECODE_BYTE;
}

namespace {

void select_eeprom(bool on) { ZALLOCALWRITE(ZALNONVOL_FLAG, on ? ZALNONVOLEEPROM_BYTE : 0); }

// The drive acknowledges an EEPROM write only by answering again once it is done.
void finish_eeprom_write(const char* failure) {
  if (!ZALPROGSYNC()) core::BUMOUT(failure);
  select_eeprom(false);
}

}  // namespace

uint8_t ZALREADEEPROM(uint16_t address) {
  select_eeprom(true);
  const uint8_t value = ZALREADBYTE(address);
  select_eeprom(false);
  return value;
}

uint16_t ZALREADEEPROMWORD(uint16_t address) {
  select_eeprom(true);
  const uint16_t value = ZALREADWORD(address);
  select_eeprom(false);
  return value;
}

int32_t ZALREADEEPROMLONG(uint16_t address) {
  select_eeprom(true);
  const int32_t value = ZALREADLONG(address);
  select_eeprom(false);
  return value;
}

void ZALWRITEEEPROM(uint16_t address, uint8_t data) {
  select_eeprom(true);
  ZALWRITEBYTE(address, data);
  finish_eeprom_write("EEPROM Byte Write Sync error");
}

void ZALWRITEEEPROMWORD(uint16_t address, uint16_t data) {
  select_eeprom(true);
  ZALWRITEWORD(address, data);
  finish_eeprom_write("EEPROM Word Write Sync error");
}

void ZALWRITEEEPROMLONG(uint16_t address, int32_t data) {
  select_eeprom(true);
  ZALWRITELONG(address, data);
  finish_eeprom_write("EEPROM Long Write Sync error");
}

namespace {

// The two probes: the cookie without CRC bytes, then with them. CRC mode stays on
// only when the drive answered the second.
bool probe_drive(std::string& MESSAGE) {
  if (ZALPROGSYNC()) {
    MESSAGE = "Using ZAL Serial Interface";
    return true;
  }
  serial::SERERROR = false;
  ZALCRCENABLED = true;
  if (ZALPROGSYNC()) {
    ZALCLEARSTATUS();
    MESSAGE = "Using ZAL Serial Interface With CRCs";
    return true;
  }
  ZALCRCENABLED = false;
  return false;
}

}  // namespace

bool ZALSYNC(std::string& MESSAGE) {
  serial::SERERROR = false;
  serial::EXITONTIMEOUT = false;
  EXITONCRCERROR = false;
  ZALCRCENABLED = false;
  ZALCRC = 0;
  MESSAGE = "ZAL Serial Communication failed !";

  bool quiet = serial::SERTOSSCHARS();
  platform::console::sleep_ms(SYNC_SETTLE_MS);
  quiet = serial::SERTOSSCHARS() && quiet;

  const int32_t saved_timeout = config::CHARTIMEOUT;
  config::CHARTIMEOUT = config::CHARTIMEOUT / PROBE_TIMEOUT_DIVISOR;
  // A line that never falls quiet may carry the cookie's value by chance; that is
  // not a drive answering, so it is not probed at all.
  const bool result = quiet && probe_drive(MESSAGE);
  config::CHARTIMEOUT = saved_timeout;
  serial::EXITONTIMEOUT = true;
  EXITONCRCERROR = true;
  return result;
}

}  // namespace zal
