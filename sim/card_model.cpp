#include "card_model.h"

#include <cstdio>

#include "dictionary/dictionary.h"

namespace sim {

namespace {

using namespace card_layout;

// Command words of the serial-channel module, as the module decodes them.
constexpr uint32_t REQUEST_BIT = 0x2000;    // module RAM access, address in bits 12..0
constexpr uint32_t RAM_WRITE_BIT = 0x8000;
constexpr uint32_t RAM_ADDRESS_MASK = 0x1FFF;
constexpr uint32_t RUN_BIT = 0x1000;        // run the prepared transaction, channel mask in bits 7..0
constexpr uint32_t MODE_FIELD = 0xF00;
constexpr uint32_t START_SETUP = 0xF00;     // start in setup mode
constexpr uint32_t START_NORMAL = 0x900;
constexpr uint32_t STOP = 0x800;            // with an empty mask: every channel

std::string hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// Index of a per-channel register within a bank of eight, -1 when outside it.
int channel_index(uint16_t address, uint16_t bank) {
  if (address < bank || address >= bank + 4 * CHANNELS || (address - bank) % 4 != 0) return -1;
  return (address - bank) / 4;
}

int mask_port(uint16_t address, uint16_t bank) {
  if (address < bank || address >= bank + 4 * IO_PORTS || address % 4 != 0) return -1;
  return (address - bank) / 4;
}

}  // namespace

CardModel::CardModel(const CardFaults& faults, const MotionOptions& motion)
    : faults_(faults), idrom_(build_idrom(faults)), ram_(MODULE_RAM_SIZE, 0) {
  ram_[2] = MAJOR_REVISION;
  ram_[3] = MINOR_REVISION;
  ram_[4] = CHANNEL_START;
  ram_[5] = CHANNEL_STRIDE;
  ram_[6] = 1;  // processor type
  ram_[7] = CHANNELS;
  for (int k = 0; k < CHANNELS; ++k) {
    uint16_t block = channel_block(k);
    ram_[block + CHANNEL_ID_OFFSET] = static_cast<uint8_t>(k);
    for (int i = 0; i < 4; ++i)
      ram_[block + CHANNEL_BAUD_OFFSET + i] = static_cast<uint8_t>(CHANNEL_DEFAULT_BAUD >> (8 * i));
    DriveModel& d = drives_[static_cast<std::size_t>(k)];
    if (motion.moving) d.set_motion(std::make_unique<DriveMotion>(static_cast<uint32_t>(motion.seed + k)));
    d.set_nonvol_stuck(faults.nonvol_clears_ignored);
    // Each drive tells its channel by its unit number: 1001 on channel 0, 1008 on 7.
    d.set_ram_word(static_cast<uint16_t>(dict::UNITNUMBERLOC), static_cast<uint16_t>(1001 + k));
  }
}

uint16_t CardModel::channel_block(int k) const {
  return static_cast<uint16_t>(ram_[4] + k * ram_[5]);
}

uint8_t CardModel::module_ram(uint16_t address) const {
  return address < ram_.size() ? ram_[address] : 0;
}

uint32_t CardModel::read(uint16_t address) {
  if (address == COOKIE_ADDRESS) return faults_.bad_cookie ? WRONG_COOKIE : COOKIE;
  if (address == IDROM_POINTER_ADDRESS) return IDROM_ADDRESS;
  if (address >= IDROM_ADDRESS && address < IDROM_ADDRESS + 4 * IDROM_WORDS && address % 4 == 0)
    return idrom_[static_cast<std::size_t>((address - IDROM_ADDRESS) / 4)];
  if (int p = mask_port(address, MASK_BANK0); p >= 0) return masks_[0][static_cast<std::size_t>(p)];
  if (int p = mask_port(address, MASK_BANK1); p >= 0) return masks_[1][static_cast<std::size_t>(p)];
  uint32_t value = 0;
  if (module_read(address, value)) return value;
  auto it = other_.find(address);
  return it == other_.end() ? 0 : it->second;
}

void CardModel::write(uint16_t address, uint32_t value) {
  for (int bank = 0; bank < 2; ++bank) {
    int p = mask_port(address, bank == 0 ? MASK_BANK0 : MASK_BANK1);
    if (p < 0) continue;
    masks_[static_cast<std::size_t>(bank)][static_cast<std::size_t>(p)] = value;
    note("output mask bank " + std::to_string(bank) + " port " + std::to_string(p) + " = " + hex(value, 8));
    return;
  }
  if (module_write(address, value)) return;
  if (address == COOKIE_ADDRESS || address == IDROM_POINTER_ADDRESS ||
      (address >= IDROM_ADDRESS && address < IDROM_ADDRESS + 4 * IDROM_WORDS)) {
    note("write to read-only " + hex(address, 4) + " ignored");
    return;
  }
  other_[address] = value;
}

bool CardModel::module_read(uint16_t address, uint32_t& value) {
  if (address == COMMAND_REGISTER) {
    value = read_command_register();
    return true;
  }
  if (address == DATA_REGISTER) {
    value = data_;
    return true;
  }
  if (int k = channel_index(address, CSR_REGISTERS); k >= 0) value = channels_[static_cast<std::size_t>(k)].csr;
  else if (int k = channel_index(address, INTERFACE0_REGISTERS); k >= 0) value = channels_[static_cast<std::size_t>(k)].interface0;
  else if (int k = channel_index(address, INTERFACE1_REGISTERS); k >= 0) value = channels_[static_cast<std::size_t>(k)].interface1;
  else if (int k = channel_index(address, INTERFACE2_REGISTERS); k >= 0) value = channels_[static_cast<std::size_t>(k)].interface2;
  else return false;
  return true;
}

bool CardModel::module_write(uint16_t address, uint32_t value) {
  if (address == COMMAND_REGISTER) {
    command(value);
    return true;
  }
  if (address == DATA_REGISTER) {
    data_ = value;
    return true;
  }
  if (int k = channel_index(address, CSR_REGISTERS); k >= 0) channels_[static_cast<std::size_t>(k)].csr = value;
  else if (int k = channel_index(address, INTERFACE0_REGISTERS); k >= 0) channels_[static_cast<std::size_t>(k)].interface0 = value;
  else if (int k = channel_index(address, INTERFACE1_REGISTERS); k >= 0) channels_[static_cast<std::size_t>(k)].interface1 = value;
  else if (int k = channel_index(address, INTERFACE2_REGISTERS); k >= 0) channels_[static_cast<std::size_t>(k)].interface2 = value;
  else return false;
  return true;
}

bool CardModel::stays_busy() const {
  return faults_.busy || (faults_.busy_after >= 0 && commands_ > faults_.busy_after);
}

bool CardModel::stuck() const { return command_ != 0 && stays_busy(); }

uint32_t CardModel::read_command_register() {
  if (command_ != 0) return command_;
  if (faults_.stale && last_command_ != 0) {
    if (done_seen_) return last_command_;
    done_seen_ = true;
  }
  return 0;
}

void CardModel::command(uint32_t word) {
  if (command_ != 0) note("command " + hex(word, 4) + " given while " + hex(command_, 4) + " is pending");
  last_command_ = word;
  done_seen_ = false;
  ++commands_;
  if (stays_busy()) {
    note("command " + hex(word, 4) + ": module stays busy");
    command_ = word;
    return;
  }
  command_ = 0;
  if (word == 0) return;
  if (word & REQUEST_BIT) {
    uint16_t address = static_cast<uint16_t>(word & RAM_ADDRESS_MASK);
    if (word & RAM_WRITE_BIT) ram_write(address);
    else ram_read(address);
  } else if (word & RUN_BIT) {
    run_channels(static_cast<uint8_t>(word));
  } else if ((word & MODE_FIELD) == START_SETUP || (word & MODE_FIELD) == START_NORMAL) {
    start_channels(word, static_cast<uint8_t>(word));
  } else if ((word & MODE_FIELD) == STOP) {
    uint8_t mask = static_cast<uint8_t>(word);
    stop_channels(mask == 0 ? 0xFF : mask);
  } else {
    note("command " + hex(word, 4) + " not known, ignored");
  }
}

void CardModel::start_channels(uint32_t word, uint8_t mask) {
  if (faults_.no_start) {
    note("start " + hex(word, 4) + ": never completes");
    command_ = word;
    return;
  }
  for (int k = 0; k < CHANNELS; ++k)
    if (mask & (1u << k)) channels_[static_cast<std::size_t>(k)].started = true;
  data_ = faults_.start_fail ? mask : mask & faults_.no_drive;
  note("start " + hex(word, 4) + ": failed channels " + hex(data_, 2));
}

void CardModel::stop_channels(uint8_t mask) {
  for (int k = 0; k < CHANNELS; ++k)
    if (mask & (1u << k)) channels_[static_cast<std::size_t>(k)].started = false;
  note("stop channels " + hex(mask, 2));
}

void CardModel::run_channels(uint8_t mask) {
  uint32_t failed = 0;
  for (int k = 0; k < CHANNELS; ++k)
    if ((mask & (1u << k)) && !run_channel(k)) failed |= 1u << k;
  data_ = failed;
}

bool CardModel::run_channel(int k) {
  Channel& c = channels_[static_cast<std::size_t>(k)];
  uint8_t zal_command = static_cast<uint8_t>(c.csr >> 24);
  uint16_t address = static_cast<uint16_t>(c.csr);
  std::string what = "run channel " + std::to_string(k) + ": " + hex(zal_command, 2) + " " + hex(address, 4);
  if (!c.started || faults_.run_fail || (faults_.no_drive & (1u << k)) != 0) {
    note(what + (c.started ? " failed" : " not started, failed"));
    return false;
  }
  int request_size = DriveModel::request_data_size(zal_command);
  int reply_size = DriveModel::reply_data_size(zal_command);
  if (request_size < 0 || reply_size < 0) {
    note(what + " not a drive command, failed");
    return false;
  }
  uint64_t request = uint64_t{c.interface0} | uint64_t{c.interface1} << 32;
  if (request_size < 8) request &= (uint64_t{1} << (8 * request_size)) - 1;
  uint64_t reply = 0;
  if (!drives_[static_cast<std::size_t>(k)].execute(zal_command, address, request, reply)) {
    note(what + " refused by the drive, failed");
    return false;
  }
  if (reply_size > 0) {
    c.interface0 = static_cast<uint32_t>(reply);
    c.interface1 = static_cast<uint32_t>(reply >> 32);
    note(what + " -> " + hex(static_cast<uint32_t>(reply >> 32), 8) + hex(static_cast<uint32_t>(reply), 8));
  } else {
    note(what + " <- " + hex(static_cast<uint32_t>(request >> 32), 8) + hex(static_cast<uint32_t>(request), 8));
  }
  return true;
}

void CardModel::ram_read(uint16_t address) {
  data_ = module_ram(address);
  note("module RAM " + hex(address, 4) + " -> " + hex(data_, 2));
}

void CardModel::ram_write(uint16_t address) {
  uint8_t value = static_cast<uint8_t>(data_);
  if (address < ram_.size()) ram_[address] = value;
  note("module RAM " + hex(address, 4) + " <- " + hex(value, 2) +
       (address < ram_.size() ? "" : " (beyond the RAM, lost)"));
}

}  // namespace sim
