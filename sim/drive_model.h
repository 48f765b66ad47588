// The simulated drive: RAM register space, EEPROM, local registers, and the
// execution of one ZAL transaction at register level. Used by the drive on a
// pseudo-terminal and by every channel of the simulated card.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drive_motion.h"

namespace sim {

class DriveModel {
 public:
  static constexpr std::size_t RAM_SIZE = 0x10000;
  static constexpr std::size_t EEPROM_SIZE = 128;
  static constexpr uint8_t COOKIE = 0x5A;

  // RAM preloaded with plausible values at the dictionary's addresses, EEPROM with
  // plausible settings, the non-volatile flag clear.
  DriveModel();

  // Bytes of data a ZAL command carries in its request (writes, local writes) and
  // in its reply (reads, local reads). -1 for a command the drive does not know.
  static int request_data_size(uint8_t command);
  static int reply_data_size(uint8_t command);
  // True for data commands with two address bytes (0x44..0x47, 0x64..0x67).
  static bool has_address(uint8_t command);

  // Makes this a drive that moves (see drive_motion.h), presetting the registers
  // only it uses. Given before any other preset, so that those override its own.
  void set_motion(std::unique_ptr<DriveMotion> motion);
  // Brings the modelled values up to now; a no-op for a static drive. Every host
  // access does this first: execute() itself, the text protocol by calling it.
  void advance();

  // Runs one transaction. For reads the value is returned in read_value (least
  // significant byte first on the wire). While the non-volatile flag holds 1, data
  // commands address the EEPROM (cut to its 128 bytes) instead of RAM.
  // False for a command the drive does not know.
  bool execute(uint8_t command, uint16_t address, uint64_t write_value, uint64_t& read_value);

  // Direct access for the text protocol and for tests. RAM register addresses index
  // 16-bit words (a long at A is the words at A and A+1, low word first), so a value
  // reads the same through ZAL at A and through the text protocol at 2*A + 0x800.
  // EEPROM addresses index bytes; a word is two bytes, low byte first.
  uint16_t ram_word(uint16_t address) const;
  void set_ram_word(uint16_t address, uint16_t value);
  uint16_t eeprom_word(uint16_t address) const;
  void set_eeprom_word(uint16_t address, uint16_t value);
  uint8_t nonvol_flag() const { return nonvol_; }

  // Fault: the non-volatile flag ignores the given number of clears (-1: for ever).
  void set_nonvol_stuck(int clears_ignored) { nonvol_stuck_ = clears_ignored; }
  // A request dropped for a wrong CRC byte: sets the status register's CRC error
  // bit and counts it in the CRC error register (0xC3).
  void count_crc_error();
  uint8_t crc_errors() const { return crc_errors_; }

  // Fault: the cookie register answers this value instead of 0x5A.
  void set_cookie(uint8_t cookie) { cookie_ = cookie; }

 private:
  uint8_t read_local(uint8_t reg) const;
  void write_local(uint8_t reg, uint8_t value);

  std::vector<uint8_t> ram_;
  std::array<uint8_t, EEPROM_SIZE> eeprom_{};
  uint8_t nonvol_ = 0;
  uint8_t status_ = 0;
  uint8_t crc_errors_ = 0;
  uint8_t cookie_ = COOKIE;
  int nonvol_stuck_ = 0;
  std::unique_ptr<DriveMotion> motion_;
};

}  // namespace sim
