#include "drive_protocols.h"

namespace sim {

namespace {

constexpr char CR = '\r';
constexpr std::size_t LONGEST_LINE = 64;

// Exactly four upper-case hexadecimal digits, as the host is to send them.
bool parse_field(const std::string& text, std::size_t at, uint16_t& value) {
  if (text.size() < at + 4) return false;
  value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    char c = text[i];
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return false;
    value = static_cast<uint16_t>(value * 16 + digit);
  }
  return true;
}

std::string hex4(uint16_t value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out(4, '0');
  for (int i = 3; i >= 0; --i, value >>= 4) out[i] = digits[value & 0xF];
  return out;
}

// The RAM register behind a text-protocol word address (2 * register + 0x800).
uint16_t register_of(uint16_t word_address) { return static_cast<uint16_t>((word_address - 0x800) & 0xFFFF) >> 1; }

}  // namespace

TextDevice::TextDevice(DriveModel& model, const DriveOptions& options, DeviceEvents events)
    : model_(model), identity_(options.faults.short_id ? options.identity.substr(0, 3) : options.identity + CR),
      events_(std::move(events)) {}

void TextDevice::receive(uint8_t byte, Clock::time_point) {
  if (byte != CR) {
    line_.push_back(static_cast<char>(byte));
    if (line_.size() > LONGEST_LINE) {
      events_.dropped(line_, "line too long");
      line_.clear();
    }
    return;
  }
  std::string line = line_;
  line_.clear();
  events_.transaction(line + CR, reply_to(line));
}

void TextDevice::host_flushed(Clock::time_point) {
  if (line_.empty()) return;
  events_.dropped(line_, "partial line, host flushed the line");
  line_.clear();
}

std::string TextDevice::reply_to(const std::string& line) {
  model_.advance();
  const std::string nak = std::string("?") + CR;
  std::string command = line.substr(0, 2);
  uint16_t address = 0;
  uint16_t data = 0;
  if (line == "II") return identity_;
  if (line.size() == 6 && parse_field(line, 2, address)) {
    if (command == "RW") return hex4(model_.ram_word(register_of(address))) + CR;
    if (command == "Re") return hex4(model_.eeprom_word(address)) + CR;
  }
  if (line.size() == 10 && parse_field(line, 2, address) && parse_field(line, 6, data)) {
    if (command == "WW") {
      model_.set_ram_word(register_of(address), data);
      return std::string(1, CR);
    }
    if (command == "We") {
      model_.set_eeprom_word(address, data);
      return std::string(1, CR);
    }
  }
  return nak;
}

}  // namespace sim
