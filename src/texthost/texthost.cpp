#include "texthost/texthost.h"

#include <utility>

#include "core/text.h"

namespace texthost {

namespace {

constexpr std::size_t WORD_DIGITS = 4;
constexpr std::size_t IDENTITY_LENGTH = 4;
// Time the drive gets to finish an answer before the rest of it is discarded.
constexpr int SYNC_ANSWER_MS = 10;

std::string command(const char* letters, uint16_t first) {
  return std::string(letters) + core::HEXSTRING(first, 4);
}

std::string command(const char* letters, uint16_t first, uint16_t second) {
  return command(letters, first) + core::HEXSTRING(second, 4);
}

}  // namespace

bool is_word_reply(const std::string& digits, uint8_t terminator) {
  uint16_t value = 0;
  return digits.size() == WORD_DIGITS && core::HEXWORDREAD(digits, value) && terminator == CR;
}

TextHost::TextHost(serial::SerialLine& line) : line_(line) {}

// What is left of a failed exchange (a late reply, the rest of one cut short) would
// be read as the answer to the next command, and may still be on its way: the line
// is watched until it falls quiet. After a good exchange nothing is waited for, so
// the line costs no time. A failure when the line will not fall quiet (the command
// is then not sent at all) or would not take the command.
core::Status TextHost::send_command(std::string frame) {
  if (spoiled_ && !line_.toss_chars()) return serial::missed_answer(0);
  spoiled_ = false;
  frame.push_back(static_cast<char>(CR));
  return line_.send_string(frame);
}

// The exchange goes on as if unanswered; a command that did not go out says why.
core::Failure TextHost::failed_exchange(uint64_t value, const core::Status& sent) {
  spoiled_ = true;
  core::Failure failure = serial::missed_answer(value);
  if (!sent) failure.detail = sent.error().detail;
  return failure;
}

// A stray character after a good reply would otherwise be read as the first of the
// next reply and shift every one after it; what has already arrived is dropped at
// no cost. Synchronising keeps its own discarding.
core::Status TextHost::send_register_command(std::string frame) {
  line_.discard_received();
  return send_command(std::move(frame));
}

bool TextHost::receive_terminator(uint8_t& terminator) { return line_.receive_char(terminator); }

// All four digits must come within the silence limit: a reply that starts late
// would otherwise give its first digit to the terminator and read as 0. The
// terminator is still waited for, so that a late reply has arrived whole by the
// time it is discarded before the next command.
core::Result<uint16_t> TextHost::exchange_word(std::string frame) {
  if (core::Status sent = send_register_command(std::move(frame)); !sent) return failed_exchange(0, sent);
  std::string reply;
  const bool whole = line_.receive_string(WORD_DIGITS, reply);
  uint8_t terminator = 0;
  const bool closed = receive_terminator(terminator);
  uint16_t value = 0;
  core::HEXWORDREAD(reply, value);
  if (!whole || !closed || !is_word_reply(reply, terminator)) return failed_exchange(value);
  return value;
}

// The character that closes a write's answer carries nothing but its arrival.
core::Status TextHost::exchange_write(std::string frame) {
  if (core::Status sent = send_register_command(std::move(frame)); !sent) return failed_exchange(0, sent);
  uint8_t terminator = 0;
  if (!receive_terminator(terminator)) return failed_exchange(0);
  return {};
}

std::string TextHost::inquire_id() {
  if (!send_command(SERINQUIREIDCOM)) return {};
  std::string identity;
  line_.receive_string(IDENTITY_LENGTH, identity);
  uint8_t terminator = 0;
  receive_terminator(terminator);
  return identity;
}

core::Result<uint16_t> TextHost::read_word(uint16_t address) {
  return exchange_word(command(SERREADPICWORDCOM, address));
}

core::Result<uint16_t> TextHost::read_eeprom_word(uint16_t address) {
  return exchange_word(command(SERREADEEPROMWORDCOM, address));
}

core::Status TextHost::write_word(uint16_t address, uint16_t value) {
  return exchange_write(command(SERWRITEPICWORDCOM, address, value));
}

core::Status TextHost::write_eeprom_word(uint16_t address, uint16_t value) {
  return exchange_write(command(SERWRITEEEPROMWORDCOM, address, value));
}

// "x" and CR as two sends, as a person at a terminal would type them; true when
// an answer came (its first character in `first`) and the line then fell quiet. A
// line that never does is no drive answering, whatever it sends.
bool TextHost::poke(uint8_t& first) {
  if (!line_.send_char('x') || !line_.send_char(CR)) return false;
  if (!line_.receive_char(first)) return false;
  return line_.waits().sleep_ms(SYNC_ANSWER_MS) && line_.toss_chars();
}

bool TextHost::sync() {
  if (!line_.toss_chars()) return false;
  spoiled_ = false;
  line_.set_rts_high();
  uint8_t first = 0;
  // The first answer may be anything (a prompt, an echo); only the second one
  // proves that the drive parses commands.
  if (!poke(first)) return false;
  if (!poke(first)) return false;
  if (first != NAK) return false;
  return inquire_id().size() == IDENTITY_LENGTH;
}

namespace {

// RAM words sit at twice their byte address above 0x800, one command per word.
uint16_t word_address(uint16_t address, unsigned word_index) {
  return static_cast<uint16_t>(2u * address + 0x800u + 2u * word_index);
}

uint16_t value_as_read(const core::Result<uint16_t>& word) {
  return word ? *word : static_cast<uint16_t>(word.error().value);
}

core::Failure refusal(const char* what) {
  return core::fail(core::FailureKind::unsupported, std::string("The Hex protocol cannot ") + what);
}

unsigned word_count(core::Width width) { return static_cast<unsigned>(width) / 2; }

// One drive on the line: channels mean nothing here. The protocol moves one word
// per command; accesses it has no command for are refused before anything is sent.
class TextHostBackend final : public core::Backend {
 public:
  explicit TextHostBackend(TextHost& host) : host_(host) {}

  core::Result<uint64_t> read(uint8_t, core::Location location) override {
    if (location.memory == core::Memory::eeprom) return read_eeprom(location);
    if (location.width == core::Width::byte) return refusal("read a byte");
    return read_words(location.address, word_count(location.width));
  }

  core::Status write(uint8_t, core::Location location, uint64_t value) override {
    if (location.memory == core::Memory::eeprom) return write_eeprom(location, value);
    if (location.width == core::Width::byte) return refusal("write a byte");
    return write_words(location.address, value, word_count(location.width));
  }

 private:
  core::Result<uint64_t> read_eeprom(core::Location location) {
    switch (location.width) {
      case core::Width::byte: return refusal("read an EEPROM byte");
      case core::Width::word: return widen(host_.read_eeprom_word(location.address));
      case core::Width::long_word: return refusal("read an EEPROM long");
      default: return refusal("read an EEPROM double");
    }
  }

  core::Status write_eeprom(core::Location location, uint64_t value) {
    switch (location.width) {
      case core::Width::byte: return refusal("write an EEPROM byte");
      case core::Width::word: return host_.write_eeprom_word(location.address, static_cast<uint16_t>(value));
      case core::Width::long_word: return refusal("write an EEPROM long");
      default: return refusal("write an EEPROM double");
    }
  }

  static core::Result<uint64_t> widen(const core::Result<uint16_t>& word) {
    if (!word) return word.error();
    return uint64_t{*word};
  }

  // Composed values, low word first: every word is asked for, and a word that was
  // not answered in time spoils the whole value, whatever the later words did.
  core::Result<uint64_t> read_words(uint16_t address, unsigned count) {
    uint64_t value = 0;
    bool missed = false;
    for (unsigned i = 0; i < count; ++i) {
      const core::Result<uint16_t> word = host_.read_word(word_address(address, i));
      missed = missed || !word;
      value |= static_cast<uint64_t>(value_as_read(word)) << (16 * i);
    }
    if (missed) return serial::missed_answer(value);
    return value;
  }

  core::Status write_words(uint16_t address, uint64_t value, unsigned count) {
    bool missed = false;
    for (unsigned i = 0; i < count; ++i) {
      const core::Status done = host_.write_word(word_address(address, i), static_cast<uint16_t>(value >> (16 * i)));
      missed = missed || !done;
    }
    if (missed) return serial::missed_answer(0);
    return {};
  }

  TextHost& host_;
};

}  // namespace

std::unique_ptr<core::Backend> make_texthost_backend(TextHost& host) {
  return std::make_unique<TextHostBackend>(host);
}

}  // namespace texthost
