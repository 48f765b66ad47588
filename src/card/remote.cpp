#include "card/remote.h"

#include "card/hostbus.h"
#include "card/sserial.h"
#include "core/fatal.h"
#include "core/output.h"
#include "dictionary/dictionary.h"
#include "platform/console.h"
#include "zal/zal.h"

namespace card {
namespace {

constexpr int BUGGYFLAGRETRY_MS = 100;

uint16_t csr_of(uint8_t channel) { return static_cast<uint16_t>(CSRPORT + AXISSTRIDE * channel); }
uint16_t data0_of(uint8_t channel) { return static_cast<uint16_t>(INTERFACEPORT0 + AXISSTRIDE * channel); }
uint16_t data1_of(uint8_t channel) { return static_cast<uint16_t>(INTERFACEPORT1 + AXISSTRIDE * channel); }

uint32_t transaction_word(uint32_t command, uint16_t address) { return command + address; }

uint32_t local_word(uint8_t command_byte) { return static_cast<uint32_t>(command_byte) << COMMANDSHIFT; }

void run(uint8_t channel) {
  // The CSR is left as it is: it shows the failed transaction to whoever looks next.
  if (!AXISDOIT(channel)) dict::ERROR(dict::SSZALTRANSFERFAILED);
}

void finish(uint8_t channel) { WRITE32(csr_of(channel), 0); }

// One read transaction; the value is the channel's data register 0.
uint32_t read_transaction(uint8_t channel, uint32_t word) {
  WRITE32(csr_of(channel), static_cast<int32_t>(word));
  run(channel);
  const auto value = static_cast<uint32_t>(READ32(data0_of(channel)));
  finish(channel);
  return value;
}

void write_transaction(uint8_t channel, uint32_t word, uint32_t value) {
  WRITE32(csr_of(channel), static_cast<int32_t>(word));
  WRITE32(data0_of(channel), static_cast<int32_t>(value));
  run(channel);
  finish(channel);
}

void set_nonvol(uint8_t channel, uint8_t value) { SSZALWRITEZAL(channel, zal::ZALNONVOL_FLAG, value); }

void begin_eeprom(uint8_t channel) { set_nonvol(channel, zal::ZALNONVOLEEPROM_BYTE); }

// Some module firmware fails to clear the drive's non-volatile flag; left set,
// every later register write would go to the EEPROM instead.
void end_eeprom_write(uint8_t channel) {
  set_nonvol(channel, 0);
  if (SSZALREADZAL(channel, zal::ZALNONVOL_FLAG) == 0) return;
  core::write_line("Old buggy bit file in use");
  platform::console::sleep_ms(BUGGYFLAGRETRY_MS);
  set_nonvol(channel, 0);
  if (SSZALREADZAL(channel, zal::ZALNONVOL_FLAG) == 0) return;
  core::write_line("Broken Old buggy bit file in use cycle ZR90 power");
  core::end_run(2);
}

}  // namespace

uint8_t SSZALREADBYTE(uint8_t channel, uint16_t address) {
  return static_cast<uint8_t>(read_transaction(channel, transaction_word(READBYTECOMMAND, address)));
}

uint16_t SSZALREADWORD(uint8_t channel, uint16_t address) {
  return static_cast<uint16_t>(read_transaction(channel, transaction_word(READWORDCOMMAND, address)));
}

int32_t SSZALREADLONG(uint8_t channel, uint16_t address) {
  return static_cast<int32_t>(read_transaction(channel, transaction_word(READLONGCOMMAND, address)));
}

int64_t SSZALREADDOUBLE(uint8_t channel, uint16_t address) {
  WRITE32(csr_of(channel), static_cast<int32_t>(transaction_word(READDOUBLECOMMAND, address)));
  run(channel);
  const auto low = static_cast<uint32_t>(READ32(data0_of(channel)));
  const auto high = static_cast<uint32_t>(READ32(data1_of(channel)));
  finish(channel);
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

void SSZALWRITEBYTE(uint8_t channel, uint16_t address, uint8_t data) {
  write_transaction(channel, transaction_word(WRITEBYTECOMMAND, address), data);
}

void SSZALWRITEWORD(uint8_t channel, uint16_t address, uint16_t data) {
  write_transaction(channel, transaction_word(WRITEWORDCOMMAND, address), data);
}

void SSZALWRITELONG(uint8_t channel, uint16_t address, int32_t data) {
  write_transaction(channel, transaction_word(WRITELONGCOMMAND, address), static_cast<uint32_t>(data));
}

void SSZALWRITEDOUBLE(uint8_t channel, uint16_t address, int64_t data) {
  const auto bits = static_cast<uint64_t>(data);
  WRITE32(csr_of(channel), static_cast<int32_t>(transaction_word(WRITEDOUBLECOMMAND, address)));
  WRITE32(data0_of(channel), static_cast<int32_t>(static_cast<uint32_t>(bits)));
  WRITE32(data1_of(channel), static_cast<int32_t>(static_cast<uint32_t>(bits >> 32)));
  run(channel);
  finish(channel);
}

uint8_t SSZALREADZAL(uint8_t channel, uint8_t reg) {
  return static_cast<uint8_t>(read_transaction(channel, local_word(reg)));
}

void SSZALWRITEZAL(uint8_t channel, uint8_t reg, uint8_t value) {
  write_transaction(channel, local_word(static_cast<uint8_t>(reg + zal::ZALWRITE_BYTE)), value);
}

uint8_t SSZALREADEEPROMBYTE(uint8_t channel, uint16_t address) {
  begin_eeprom(channel);
  const uint8_t value = SSZALREADBYTE(channel, address);
  set_nonvol(channel, 0);
  return value;
}

uint16_t SSZALREADEEPROMWORD(uint8_t channel, uint16_t address) {
  begin_eeprom(channel);
  const uint16_t value = SSZALREADWORD(channel, address);
  set_nonvol(channel, 0);
  return value;
}

int32_t SSZALREADEEPROMLONG(uint8_t channel, uint16_t address) {
  begin_eeprom(channel);
  const int32_t value = SSZALREADLONG(channel, address);
  set_nonvol(channel, 0);
  return value;
}

void SSZALWRITEEEPROMBYTE(uint8_t channel, uint16_t address, uint8_t data) {
  begin_eeprom(channel);
  SSZALWRITEBYTE(channel, address, data);
  end_eeprom_write(channel);
}

void SSZALWRITEEEPROMWORD(uint8_t channel, uint16_t address, uint16_t data) {
  begin_eeprom(channel);
  SSZALWRITEWORD(channel, address, data);
  end_eeprom_write(channel);
}

void SSZALWRITEEEPROMLONG(uint8_t channel, uint16_t address, int32_t data) {
  begin_eeprom(channel);
  SSZALWRITELONG(channel, address, data);
  end_eeprom_write(channel);
}

}  // namespace card
