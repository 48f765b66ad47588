#include "drive_model.h"

#include "dictionary/dictionary.h"

namespace sim {

namespace {

// Register addresses index 16-bit words, so that a value reads the same through
// ZAL (address A) and through the text protocol (word address 2*A + 0x800), and a
// long at A is the words at A and A+1. The store keeps each word little-endian.
constexpr std::size_t RAM_BYTES = DriveModel::RAM_SIZE * 2;

constexpr uint8_t DATA_COMMAND = 0x40;
constexpr uint8_t WRITE_BIT = 0x20;
constexpr uint8_t LOCAL_COMMAND = 0xC0;
constexpr uint8_t FUNCTION_MASK = 0xC0;
constexpr uint8_t LOCAL_NUMBER_MASK = 0x1F;

// Local registers by number (0xC0 + n read, 0xE0 + n write).
constexpr uint8_t LOCAL_STATUS = 0x01;
constexpr uint8_t LOCAL_CRCERRS = 0x03;
constexpr uint8_t LOCAL_NONVOL = 0x0C;
constexpr uint8_t LOCAL_CARDNAME0 = 0x10;
constexpr uint8_t LOCAL_CAPABILITY = 0x14;
constexpr uint8_t LOCAL_VERSION = 0x1A;
constexpr uint8_t LOCAL_COOKIE = 0x1F;
constexpr uint8_t NONVOL_EEPROM = 1;
constexpr uint8_t CAPABLE_CRC_EEPROM = 0x01 | 0x04;

// Data command with two address bytes: 0x44..0x47 and 0x64..0x67.
int data_size(uint8_t command) {
  if ((command & 0xDC) != 0x44) return -1;
  return 1 << (command & 0x03);
}

bool is_local(uint8_t command) { return (command & FUNCTION_MASK) == LOCAL_COMMAND; }
bool is_write(uint8_t command) { return (command & WRITE_BIT) != 0; }

struct Preset {
  int32_t address;
  int width;  // in words
  uint64_t value;
};

// Plausible contents of a drive at rest, at the dictionary's addresses. The
// documentation of zr90sim lists these values; tests rely on some of them.
constexpr Preset RAM_PRESETS[] = {
    {dict::PIDENALOC, 1, 1},
    {dict::PWMLOC, 1, 0xFF88},  // -120
    {dict::PHASEKLOC, 2, 200000},
    {dict::PHASEALOC, 2, 0xFFFFEC78},  // -5000
    {dict::KQPLOC, 1, 1200},
    {dict::KQILOC, 2, 70000},
    {dict::KQILLOC, 1, 32000},
    {dict::KDPLOC, 1, 1000},
    {dict::KDILOC, 2, 50000},
    {dict::KDILLOC, 1, 32000},
    {dict::IULOC, 1, 0xFFF4},  // -12
    {dict::IVLOC, 1, 7},
    {dict::IWLOC, 1, 5},
    {dict::BUSVLOC, 1, 3250},
    {dict::RAWTEMPERATURELOC, 1, 2048},
    {dict::TEMPERATURELOC, 1, 35},
    {dict::GAINLOC, 1, 256},
    {dict::PWMRESLOC, 1, 1000},
    {dict::PWMFACTORLOC, 1, 64},
    {dict::PWMLIMITLOC, 1, 950},
    {dict::HALFPWMLOC, 1, 500},
    {dict::DEADZONELOC, 1, 20},
    {dict::ILIMITMULLOC, 1, 16},
    {dict::FAULTMASKLOC, 1, 0xFFFF},
    {dict::WATCHDOGTIMELOC, 1, 100},
    {dict::BUSUNDERVMINLOC, 1, 1800},
    {dict::BUSUNDERVMAXLOC, 1, 2000},
    {dict::BUSOVERVLOC, 1, 4000},
    {dict::BRAKEONVLOC, 1, 3800},
    {dict::BRAKEOFFVLOC, 1, 3700},
    {dict::STATUSLOC, 1, 0x0001},
    {dict::CPUTYPELOC, 1, 0x3011},
    {dict::CONTROLTYPELOC, 1, 2},
    {dict::SWREVISIONLOC, 1, 0x0123},
    {dict::SYSCLKLOC, 2, 29491200},
    {dict::BIGCOOKIELOC, 2, 0x12345678},
    {dict::BIGGERCOOKIELOC, 4, 0x123456789ABCDEF0},
    {dict::HWREVISIONLOC, 1, 3},
    {dict::ONELOC, 1, 1},
    {dict::TRUELOC, 1, 0xFFFF},
    {dict::MINUSONELOC, 1, 0xFFFF},
    {dict::CAPTURELOC, 1, 0x1000},
    {dict::MAXMODULEILOC, 1, 2000},
    {dict::MAXCURRENTLOC, 1, 1500},
    {dict::INTEGBOUNDLOC, 1, 30000},
    {dict::CURRENTLIMITLOC, 1, 1400},
    {dict::UNITNUMBERLOC, 2, 1001},
};

// EEPROM presets, byte addresses, values little-endian.
constexpr Preset EEPROM_PRESETS[] = {
    {dict::NVMAXMODULEILOC, 1, 2000},
    {dict::NVMAXCURRENTLOC, 1, 1500},
    {dict::NVBAUDRATELOC, 1, 115},
    {dict::NVREMBAUDRATELOC, 1, 115},
    {dict::NVCRCENABLELOC, 1, 0},
    {dict::NVKQPLOC, 1, 1200},
    {dict::NVKQILOC, 2, 70000},
    {dict::NVKQILLOC, 1, 32000},
    {dict::NVKDPLOC, 1, 1000},
    {dict::NVKDILOC, 2, 50000},
    {dict::NVKDILLOC, 1, 32000},
    {dict::NVDEADZONELOC, 1, 20},
    {dict::NVFAULTMASKLOC, 1, 0xFFFF},
    {dict::NVBUSUNDERVMINLOC, 1, 1800},
    {dict::NVBUSUNDERVMAXLOC, 1, 2000},
    {dict::NVBUSOVERVLOC, 1, 4000},
    {dict::NVBRAKEONVLOC, 1, 3800},
    {dict::NVBRAKEOFFVLOC, 1, 3700},
    {dict::NVPWMRATELOC, 1, 20},
    {dict::NVINTEGBOUNDLOC, 1, 30000},
    {dict::NVCURRENTLIMITLOC, 1, 1400},
    {dict::NVCOOKIELOC, 1, 0x5A5A},
};

}  // namespace

DriveModel::DriveModel() : ram_(RAM_BYTES, 0) {
  for (const Preset& p : RAM_PRESETS)
    for (int i = 0; i < p.width; ++i)
      set_ram_word(static_cast<uint16_t>(p.address + i), static_cast<uint16_t>(p.value >> (16 * i)));
  for (const Preset& p : EEPROM_PRESETS)
    for (int i = 0; i < p.width; ++i)
      set_eeprom_word(static_cast<uint16_t>(p.address + 2 * i), static_cast<uint16_t>(p.value >> (16 * i)));
}

int DriveModel::request_data_size(uint8_t command) {
  if (is_local(command)) return is_write(command) ? 1 : 0;
  int size = data_size(command);
  if (size < 0) return -1;
  return is_write(command) ? size : 0;
}

int DriveModel::reply_data_size(uint8_t command) {
  if (is_local(command)) return is_write(command) ? 0 : 1;
  int size = data_size(command);
  if (size < 0) return -1;
  return is_write(command) ? 0 : size;
}

bool DriveModel::has_address(uint8_t command) { return data_size(command) > 0; }

uint16_t DriveModel::ram_word(uint16_t address) const {
  std::size_t at = std::size_t{address} * 2;
  return static_cast<uint16_t>(ram_[at] | (ram_[at + 1] << 8));
}

void DriveModel::set_ram_word(uint16_t address, uint16_t value) {
  std::size_t at = std::size_t{address} * 2;
  ram_[at] = static_cast<uint8_t>(value);
  ram_[at + 1] = static_cast<uint8_t>(value >> 8);
}

uint16_t DriveModel::eeprom_word(uint16_t address) const {
  return static_cast<uint16_t>(eeprom_[address % EEPROM_SIZE] | (eeprom_[(address + 1) % EEPROM_SIZE] << 8));
}

void DriveModel::set_eeprom_word(uint16_t address, uint16_t value) {
  eeprom_[address % EEPROM_SIZE] = static_cast<uint8_t>(value);
  eeprom_[(address + 1) % EEPROM_SIZE] = static_cast<uint8_t>(value >> 8);
}

void DriveModel::set_motion(std::unique_ptr<DriveMotion> motion) {
  motion_ = std::move(motion);
  DriveMotion::preset(*this);
}

void DriveModel::advance() {
  if (motion_) motion_->advance(*this);
}

bool DriveModel::execute(uint8_t command, uint16_t address, uint64_t write_value, uint64_t& read_value) {
  // A write lands after the model has run with the old value up to now; a value the
  // model owns is overwritten again at the next access.
  advance();
  read_value = 0;
  if (is_local(command)) {
    uint8_t reg = command & LOCAL_NUMBER_MASK;
    if (is_write(command))
      write_local(reg, static_cast<uint8_t>(write_value));
    else
      read_value = read_local(reg);
    return true;
  }
  int size = data_size(command);
  if (size < 0) return false;
  if (nonvol_ == NONVOL_EEPROM) {
    if (is_write(command))
      for (int i = 0; i < size; ++i) eeprom_[(address + i) % EEPROM_SIZE] = static_cast<uint8_t>(write_value >> (8 * i));
    else
      for (int i = 0; i < size; ++i) read_value |= uint64_t{eeprom_[(address + i) % EEPROM_SIZE]} << (8 * i);
    return true;
  }
  if (size == 1) {
    // A byte is the low half of the word at its address; the high half is kept.
    uint16_t word = ram_word(address);
    if (is_write(command))
      set_ram_word(address, static_cast<uint16_t>((word & 0xFF00) | (write_value & 0xFF)));
    else
      read_value = word & 0xFF;
    return true;
  }
  for (int i = 0; i < size / 2; ++i) {
    uint16_t at = static_cast<uint16_t>(address + i);
    if (is_write(command))
      set_ram_word(at, static_cast<uint16_t>(write_value >> (16 * i)));
    else
      read_value |= uint64_t{ram_word(at)} << (16 * i);
  }
  return true;
}

void DriveModel::count_crc_error() {
  status_ |= 0x01;
  if (crc_errors_ < 0xFF) ++crc_errors_;
}

uint8_t DriveModel::read_local(uint8_t reg) const {
  switch (reg) {
    case LOCAL_STATUS: return status_;
    case LOCAL_CRCERRS: return crc_errors_;
    case LOCAL_NONVOL: return nonvol_;
    case LOCAL_CAPABILITY: return CAPABLE_CRC_EEPROM;
    case LOCAL_VERSION: return 1;
    case LOCAL_COOKIE: return cookie_;
    default: break;
  }
  if (reg >= LOCAL_CARDNAME0 && reg < LOCAL_CARDNAME0 + 4) return static_cast<uint8_t>("ZR90"[reg - LOCAL_CARDNAME0]);
  return 0;
}

void DriveModel::write_local(uint8_t reg, uint8_t value) {
  if (reg == LOCAL_STATUS) {
    status_ = value;
  } else if (reg == LOCAL_NONVOL) {
    if (value == 0 && nonvol_ != 0 && nonvol_stuck_ != 0) {
      if (nonvol_stuck_ > 0) --nonvol_stuck_;
      return;
    }
    nonvol_ = value;
  }
}

}  // namespace sim
