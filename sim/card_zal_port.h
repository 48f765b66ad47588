// The card's ZAL serial host port: 32-bit register reads and writes, the cookie
// local register and the status clear, with or without CRC-8. The port decodes the
// frames itself, byte by byte, as the card's firmware does.
#pragma once

#include <cstdint>
#include <string>

#include "card_faults.h"
#include "card_model.h"

namespace sim {

enum class CrcMode {
  off,     // frames and replies carry no CRC byte
  on,      // every frame ends with its CRC byte, every reply carries one
  either,  // each cookie read settles it: followed at once (in the same piece
           // of input) by its CRC byte, CRC mode is on until the next cookie
           // read; alone, it is off
};

class CardZalPort {
 public:
  // How long the line must be quiet for a partial frame to be given up.
  static constexpr int SILENCE_MS = 15;

  CardZalPort(CardModel& card, CrcMode mode, const CardFaults& faults);

  // Bytes from the host in; the bytes to send back out.
  std::string receive(const std::string& bytes);
  // The line has been quiet for SILENCE_MS: a partial frame is given up.
  std::string silence();
  bool frame_pending() const { return !pending_.empty(); }

  void set_note_sink(CardModel::NoteSink sink) { note_ = std::move(sink); }

 private:
  std::string decode(bool line_quiet);
  std::string execute(const std::string& frame);
  std::string register_read(uint8_t command, uint16_t address);
  void register_write(uint8_t command, uint16_t address, uint64_t value);
  std::string local(uint8_t command, uint8_t value);
  std::string reply(std::string data) const;
  std::string acknowledge() const;
  void note(const std::string& text) const {
    if (note_) note_(text);
  }

  CardModel& card_;
  CrcMode mode_;
  CardFaults faults_;
  bool crc_ = false;
  std::string pending_;
  long reads_answered_ = 0;
  bool stray_sent_ = false;
  uint8_t status_ = 0;
  CardModel::NoteSink note_;
};

}  // namespace sim
