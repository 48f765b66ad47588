// The drive processor's text host protocol: two-letter commands with four-digit
// hexadecimal fields, one 16-bit word per command.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/access.h"
#include "core/result.h"
#include "serial/serial.h"

namespace texthost {

inline constexpr uint8_t CR = 13;
inline constexpr uint8_t NAK = '?';
inline constexpr char SERINQUIREIDCOM[] = "II";
inline constexpr char SERREADPICWORDCOM[] = "RW";
inline constexpr char SERREADEEPROMWORDCOM[] = "Re";
inline constexpr char SERWRITEPICWORDCOM[] = "WW";
inline constexpr char SERWRITEEEPROMWORDCOM[] = "We";

// A word's reply: four hexadecimal digits and CR. Anything else is no value, however
// much of it came in time.
bool is_word_reply(const std::string& digits, uint8_t terminator);

// The protocol on one serial line, which it borrows.
class TextHost {
 public:
  explicit TextHost(serial::SerialLine& line);
  TextHost(const TextHost&) = delete;
  TextHost& operator=(const TextHost&) = delete;

  // True when a drive answers and identifies itself.
  bool sync();
  std::string inquire_id();
  // A word whose four digits and terminator did not all come in time, or are not
  // digits and CR, is a missed_answer failure that carries the value as read; so is,
  // at once, a command the line would not send, with the system's reason in the
  // detail. What arrived before a command was sent is no answer to it: it is
  // discarded first.
  core::Result<uint16_t> read_word(uint16_t address);
  core::Result<uint16_t> read_eeprom_word(uint16_t address);
  core::Status write_word(uint16_t address, uint16_t value);
  core::Status write_eeprom_word(uint16_t address, uint16_t value);

 private:
  core::Status send_command(std::string frame);
  core::Status send_register_command(std::string frame);
  core::Failure failed_exchange(uint64_t value, const core::Status& sent = {});
  bool receive_terminator(uint8_t& terminator);
  core::Result<uint16_t> exchange_word(std::string frame);
  core::Status exchange_write(std::string frame);
  bool poke(uint8_t& first);

  serial::SerialLine& line_;
  // The last exchange failed: its leftovers are still to be discarded.
  bool spoiled_ = false;
};

// The backend of a drive on a direct serial line speaking the text protocol.
std::unique_ptr<core::Backend> make_texthost_backend(TextHost& host);

}  // namespace texthost
