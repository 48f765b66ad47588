#include "card_zal_port.h"

#include <cstdio>

#include "zal/zal.h"

namespace sim {

namespace {

constexpr uint8_t COOKIE_READ = 0xDF;
constexpr uint8_t COOKIE_VALUE = 0x5A;
constexpr uint8_t STATUS_READ = 0xC1;
constexpr uint8_t CAPABILITY_READ = 0xD4;
constexpr uint8_t CRC_CAPABLE = 0x01;
constexpr uint8_t WRITE_FLAG = 0x20;
constexpr char STRAY_BYTE = static_cast<char>(0xA5);

bool is_local(uint8_t command) { return (command & 0xC0) == 0xC0; }
bool is_write(uint8_t command) { return (command & WRITE_FLAG) != 0; }
int data_size(uint8_t command) { return 1 << (command & 0x03); }

// Bytes of a frame without its CRC byte, from its command byte; -1 for a command
// the port does not take (FIFO, procedure calls, data commands without address).
int frame_length(uint8_t command) {
  if (is_local(command)) return is_write(command) ? 2 : 1;
  if ((command & 0xDC) != 0x44) return -1;
  return 3 + (is_write(command) ? data_size(command) : 0);
}

std::string le_bytes(uint64_t value, int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  return bytes;
}

uint64_t le_value(const std::string& bytes, std::size_t from, int count) {
  uint64_t value = 0;
  for (int i = 0; i < count; ++i) value |= uint64_t{static_cast<uint8_t>(bytes[from + static_cast<std::size_t>(i)])} << (8 * i);
  return value;
}

std::string hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

}  // namespace

CardZalPort::CardZalPort(CardModel& card, CrcMode mode, const CardFaults& faults)
    : card_(card), mode_(mode), faults_(faults), crc_(mode == CrcMode::on) {}

std::string CardZalPort::receive(const std::string& bytes) {
  pending_ += bytes;
  return decode(false);
}

std::string CardZalPort::silence() { return decode(true); }

std::string CardZalPort::decode(bool line_quiet) {
  std::string out;
  while (!pending_.empty()) {
    uint8_t command = static_cast<uint8_t>(pending_[0]);
    int length = frame_length(command);
    if (length < 0) {
      note("byte " + hex(command, 2) + " starts no frame, dropped");
      pending_.erase(0, 1);
      continue;
    }
    if (mode_ == CrcMode::either && command == COOKIE_READ) {
      // Not waited for: a host sends a frame and its CRC byte in one write, and the
      // line hands that over in one piece. Waiting for silence here would only add
      // a timed wake-up to an answer the host expects within 50 ms.
      crc_ = pending_.size() > 1 && static_cast<uint8_t>(pending_[1]) == zal::crc8(pending_.substr(0, 1));
      pending_.erase(0, crc_ ? 2 : 1);
      note(crc_ ? "cookie read with CRC: CRC mode on" : "cookie read without CRC: CRC mode off");
      out += execute(std::string(1, static_cast<char>(command)));
      continue;
    }
    std::size_t needed = static_cast<std::size_t>(length) + (crc_ ? 1 : 0);
    if (pending_.size() < needed) {
      if (line_quiet) {
        note("partial frame of " + std::to_string(pending_.size()) + " bytes given up");
        pending_.clear();
      }
      break;
    }
    std::string frame = pending_.substr(0, static_cast<std::size_t>(length));
    if (crc_ && static_cast<uint8_t>(pending_[frame.size()]) != zal::crc8(frame)) {
      note("frame with a wrong CRC byte dropped");
      status_ |= zal::ZALCRCERR;
      pending_.erase(0, needed);
      continue;
    }
    pending_.erase(0, needed);
    out += execute(frame);
  }
  return faults_.silent ? std::string() : out;
}

std::string CardZalPort::execute(const std::string& frame) {
  uint8_t command = static_cast<uint8_t>(frame[0]);
  if (is_local(command)) return local(command, frame.size() > 1 ? static_cast<uint8_t>(frame[1]) : 0);
  uint16_t address = static_cast<uint16_t>(le_value(frame, 1, 2));
  if (!is_write(command)) return register_read(command, address);
  register_write(command, address, le_value(frame, 3, data_size(command)));
  return acknowledge();
}

std::string CardZalPort::register_read(uint8_t command, uint16_t address) {
  int size = data_size(command);
  uint64_t value = card_.read(address);
  if (size == 8) value |= uint64_t{card_.read(static_cast<uint16_t>(address + 4))} << 32;
  if (faults_.silent_after >= 0 && reads_answered_ >= faults_.silent_after) {
    note("read of " + hex(address, 4) + " left unanswered");
    return {};
  }
  ++reads_answered_;
  std::string out;
  if (faults_.stray && !stray_sent_) {
    out.push_back(STRAY_BYTE);
    stray_sent_ = true;
  }
  if (faults_.short_reply) return out + le_bytes(value, 2);
  return out + reply(le_bytes(value, size));
}

void CardZalPort::register_write(uint8_t command, uint16_t address, uint64_t value) {
  if (data_size(command) == 8) {
    card_.write(address, static_cast<uint32_t>(value));
    card_.write(static_cast<uint16_t>(address + 4), static_cast<uint32_t>(value >> 32));
  } else {
    card_.write(address, static_cast<uint32_t>(value));
  }
}

std::string CardZalPort::local(uint8_t command, uint8_t value) {
  if (is_write(command)) {
    if ((command & ~WRITE_FLAG) == STATUS_READ) status_ = value;
    return acknowledge();
  }
  uint8_t answer = 0;
  if (command == COOKIE_READ) answer = COOKIE_VALUE;
  else if (command == STATUS_READ) answer = status_;
  else if (command == CAPABILITY_READ) answer = CRC_CAPABLE;
  return reply(std::string(1, static_cast<char>(answer)));
}

std::string CardZalPort::reply(std::string data) const {
  if (crc_) data.push_back(static_cast<char>(zal::crc8(data)));
  return data;
}

// Writes are acknowledged only in CRC mode, by the CRC of the one-byte body 0x00.
std::string CardZalPort::acknowledge() const { return crc_ ? std::string(1, '\0') : std::string(); }

}  // namespace sim
