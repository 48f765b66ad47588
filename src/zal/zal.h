// ZAL: the drive's binary register protocol, its CRC-8 layer and the register,
// local-register and EEPROM operations over the serial layer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/access.h"
#include "core/result.h"
#include "serial/serial.h"

namespace zal {

// Command byte vocabulary.
inline constexpr uint8_t ZALFUNCTIONMASK_BYTE = 0xC0;
inline constexpr uint8_t ZALCOMMAND_BYTE = 0x40;
inline constexpr uint8_t ZALWRITE_BYTE = 0x20;
inline constexpr uint8_t ZALD1_BYTE = 0;
inline constexpr uint8_t ZALD2_BYTE = 1;
inline constexpr uint8_t ZALD4_BYTE = 2;
inline constexpr uint8_t ZALD8_BYTE = 3;
inline constexpr uint8_t ZALA0_BYTE = 0;
inline constexpr uint8_t ZALA2_BYTE = 4;
inline constexpr uint8_t ZALINC_BYTE = 8;
inline constexpr uint8_t ZALADDDATA_BYTE = 0;
inline constexpr uint8_t ZALRPCINCDATA_BYTE = 0x10;
inline constexpr uint8_t ZALFIFO_BYTE = 0x50;
inline constexpr uint8_t ZALFIFOSELMASK_BYTE = 7;
inline constexpr uint8_t ZALRPC_BYTE = 0x80;
inline constexpr uint8_t ZALRPCNUMMASK_BYTE = 0x3F;
inline constexpr uint8_t ZALRPCEND_BYTE = 0;
inline constexpr uint8_t ZALLOCAL_BYTE = 0xC0;
inline constexpr uint8_t ZALLOCALNUMMASK_BYTE = 0x1F;
inline constexpr uint8_t ZALLOCALSPECIAL_BYTE = 16;
inline constexpr uint8_t ZALRWMASK_BYTE = 0xF0;

inline constexpr uint8_t ZALQRH_BYTE = 0;
inline constexpr uint8_t ZALQRE_BYTE = 1;
inline constexpr uint8_t ZALIRH_BYTE = 2;
inline constexpr uint8_t ZALIRE_BYTE = 3;
inline constexpr uint8_t ZALQFH_BYTE = 4;
inline constexpr uint8_t ZALQFF_BYTE = 5;
inline constexpr uint8_t ZALIFH_BYTE = 6;
inline constexpr uint8_t ZALIFF_BYTE = 7;

// Local registers (read form).
inline constexpr uint8_t ZALLISTEN_BYTE = 0xC0;
inline constexpr uint8_t ZALSTATUS_BYTE = 0xC1;
inline constexpr uint8_t ZALENACRC_FLAG = 0xC2;
inline constexpr uint8_t ZALCRCERRS_BYTE = 0xC3;
inline constexpr uint8_t ZALREMSWMODE_BYTE = 0xC6;
inline constexpr uint8_t ZALREMCLRFAULT_FLAG = 0xC7;
inline constexpr uint8_t ZALRPCMEM_FLAG = 0xCA;
inline constexpr uint8_t ZALCHARTIMEOUT_BYTE = 0xCB;
inline constexpr uint8_t ZALNONVOL_FLAG = 0xCC;
inline constexpr uint8_t ZALCARDNAME0_BYTE = 0xD0;
inline constexpr uint8_t ZALCARDNAME1_BYTE = 0xD1;
inline constexpr uint8_t ZALCARDNAME2_BYTE = 0xD2;
inline constexpr uint8_t ZALCARDNAME3_BYTE = 0xD3;
inline constexpr uint8_t ZALCAPABILITY_BYTE = 0xD4;
inline constexpr uint8_t ZALREMREVISION_BYTE = 0xD5;
inline constexpr uint8_t ZALREMHWMODE_BYTE = 0xD6;
inline constexpr uint8_t ZALREMFAULT_BYTE = 0xD7;
inline constexpr uint8_t ZALADDRESSL_BYTE = 0xD8;
inline constexpr uint8_t ZALADDRESSH_BYTE = 0xD9;
inline constexpr uint8_t ZALVERSION_BYTE = 0xDA;
inline constexpr uint8_t ZALUNITID_BYTE = 0xDB;
inline constexpr uint8_t ZALRPCPITCH_BYTE = 0xDC;
inline constexpr uint8_t ZALRPCSIZEL_BYTE = 0xDD;
inline constexpr uint8_t ZALRPCSIZEH_BYTE = 0xDE;
inline constexpr uint8_t ZALREADCOOKIE_BYTE = 0xDF;
inline constexpr uint8_t ZALSETLEDS_BYTE = 0xF7;
inline constexpr uint8_t ZALSETADDRESSL_BYTE = 0xF8;
inline constexpr uint8_t ZALSETADDRESSH_BYTE = 0xF9;
inline constexpr uint8_t ZALADDADDRESS_BYTE = 0xFA;
inline constexpr uint8_t ZALSETUNITID_BYTE = 0xFD;
inline constexpr uint8_t ZALPROCRESET_BYTE = 0xFE;
inline constexpr uint8_t ZALWRITERESET_BYTE = 0xFF;

inline constexpr uint8_t ZALCOOKIECODE_BYTE = 0x5A;
inline constexpr uint8_t ZALRESETCODE_BYTE = 0x5A;
inline constexpr uint8_t ZALTRUE_FLAG = 0xFF;
inline constexpr uint8_t ZALFALSE_FLAG = 0;
inline constexpr uint8_t ZALNONVOLEEPROM_BYTE = 1;
inline constexpr uint8_t ZALNONVOLFLASH_BYTE = 2;
inline constexpr uint8_t ZALFLASHERASE_BYTE = 254;
inline constexpr uint8_t ZALFLASHWRITE_BYTE = 253;
inline constexpr uint16_t ZALFLASHOFFSET_PTR = 0x8000;
inline constexpr uint16_t ZALFLASHERASESIZE_PTR = 0x8004;
inline constexpr uint16_t ZALFLASHWRITESIZE_PTR = 0x8005;
inline constexpr uint16_t ZALFLASHCOMMIT_PTR = 0x8007;

inline constexpr uint8_t ZALCRCCAPABLE = 1;
inline constexpr uint8_t ZALFIFOCAPABLE = 2;
inline constexpr uint8_t ZALEEPROMCAPABLE = 4;
inline constexpr uint8_t ZALFLASHCAPABLE = 8;
inline constexpr uint8_t ZALINDIRECTCAPABLE = 16;

inline constexpr uint8_t ZALCRCERR = 1;
inline constexpr uint8_t ZALWDOGERR = 8;
inline constexpr uint8_t ZALBUFFERERR = 16;
inline constexpr uint8_t ZALINVALIDADDERR = 32;
inline constexpr uint8_t ZALTIMEOUTERR = 64;
inline constexpr uint8_t ZALFIFOTIMEOUTERR = 128;

// CRC-8 (reflected polynomial 0x8C, initial 0, no final inversion).
extern const std::array<uint8_t, 256> CRC8TABLE;
uint8_t GETCRC8(uint8_t index);
// CRC of a byte string, for frame building and the simulator.
uint8_t crc8(const std::string& bytes);

// Request frames, without the CRC byte. size is the number of data bytes: 1, 2, 4 or 8.
std::string read_frame(uint8_t size, uint16_t address);
std::string write_frame(uint8_t size, uint16_t address, uint64_t value);

// The ZAL protocol on one serial line: CRC mode, synchronisation and the register,
// local-register and EEPROM operations. It borrows the line; the link owns both.
class ZalLink {
 public:
  explicit ZalLink(serial::SerialLine& line);
  ZalLink(const ZalLink&) = delete;
  ZalLink& operator=(const ZalLink&) = delete;

  // Synchronises with the drive (or the card's host port) and settles the CRC mode.
  // The value is the status text ("Using ZAL Serial Interface With CRCs"); the
  // failure's text is "ZAL Serial Communication failed !".
  core::Result<std::string> sync();
  bool crc_enabled() const { return crc_enabled_; }

  // Values are the raw bits of their width. A byte or local register whose reply
  // did not come is a missed_answer (the access went on); a word, long or double
  // whose reply did not come is abandoned, each with its own text. In CRC mode a
  // wrong or missing CRC byte abandons any access. A command the line would not send
  // fails the same way at once, with the system's reason in the failure's detail; a
  // write that awaits no answer fails with the line's own failure. Once the link is
  // up, what arrived before a command is sent is no answer to it: it is discarded.
  core::Result<uint64_t> read(core::Width width, uint16_t address);
  core::Status write(core::Width width, uint16_t address, uint64_t value);
  core::Result<uint8_t> local_read(uint8_t reg);
  core::Status local_write(uint8_t reg, uint8_t value);
  // EEPROM accesses: the non-volatile flag set, the access, the flag cleared. A
  // write is confirmed by the drive answering the cookie once it is done. A failure
  // that abandons the access leaves the flag set.
  core::Result<uint64_t> read_eeprom(core::Width width, uint16_t address);
  core::Status write_eeprom(core::Width width, uint16_t address, uint64_t value);
  // The same with the flag set once and cleared once for all of them; each write is
  // still confirmed. The first failure ends the batch, and the flag is cleared
  // even then.
  core::Result<std::vector<uint64_t>> read_eeprom_batch(std::span<const core::Location> locations);
  core::Status write_eeprom_batch(std::span<const core::EepromWrite> writes);

 private:
  core::Status send_frame(std::string frame);
  core::Result<uint64_t> read_reply(core::Width width);
  core::Status receive_crc(const std::string& body, bool& answered);
  core::Result<uint64_t> finish_read(const std::string& body, uint8_t size, bool answered);
  core::Status receive_ack();
  core::Result<bool> cookie_answered();
  core::Status select_eeprom(bool on);
  core::Status write_eeprom_selected(core::Width width, uint16_t address, uint64_t value);
  std::optional<std::string> probe_drive();

  serial::SerialLine& line_;
  bool crc_enabled_ = false;
  // Off while synchronising: time-outs and CRC failures are then answers, not failures.
  bool strict_ = false;
};

// The backend of a drive on a direct serial line speaking ZAL.
std::unique_ptr<core::Backend> make_zal_backend(ZalLink& zal);

}  // namespace zal
