#include "texthost/texthost.h"

#include <utility>

#include "core/text.h"
#include "platform/console.h"
#include "serial/serial.h"

namespace texthost {

namespace {

constexpr int16_t WORD_DIGITS = 4;
constexpr int16_t IDENTITY_LENGTH = 4;
// Time the drive gets to finish an answer before the rest of it is discarded.
constexpr int SYNC_ANSWER_MS = 10;

std::string command(const char* letters, uint16_t first) {
  return std::string(letters) + core::HEXSTRING(first, 4);
}

std::string command(const char* letters, uint16_t first, uint16_t second) {
  return command(letters, first) + core::HEXSTRING(second, 4);
}

void send_command(std::string frame) {
  frame.push_back(static_cast<char>(CR));
  serial::SERSENDSTRING(frame);
}

// The character that closes every answer; its value carries nothing.
void receive_terminator() {
  uint8_t RETCHAR = 0;
  if (!serial::SERRECVCHAR(RETCHAR)) serial::SERERROR = true;
}

uint16_t read_word(std::string frame) {
  send_command(std::move(frame));
  std::string reply;
  serial::SERRECVSTRING(WORD_DIGITS, reply);
  receive_terminator();
  uint16_t DATA = 0;
  core::HEXWORDREAD(reply, DATA);
  return DATA;
}

void write_word(std::string frame) {
  send_command(std::move(frame));
  receive_terminator();
}

// "x" and CR as two sends, as a person at a terminal would type them; true when
// an answer came (its first character in RETCHAR) and the line then fell quiet. A
// line that never does is no drive answering, whatever it sends.
bool poke(uint8_t& RETCHAR) {
  serial::SERSENDCHAR('x');
  serial::SERSENDCHAR(CR);
  if (!serial::SERRECVCHAR(RETCHAR)) return false;
  platform::console::sleep_ms(SYNC_ANSWER_MS);
  return serial::SERTOSSCHARS();
}

}  // namespace

std::string INQUIREID() {
  send_command(SERINQUIREIDCOM);
  std::string RSTRING;
  serial::SERRECVSTRING(IDENTITY_LENGTH, RSTRING);
  receive_terminator();
  return RSTRING;
}

uint16_t SERREADPICWORD(uint16_t ADDRESS) { return read_word(command(SERREADPICWORDCOM, ADDRESS)); }

uint16_t SERREADEEPROMWORD(uint16_t ADD) { return read_word(command(SERREADEEPROMWORDCOM, ADD)); }

void SERWRITEPICWORD(uint16_t ADDRESS, uint16_t DATA) {
  write_word(command(SERWRITEPICWORDCOM, ADDRESS, DATA));
}

void SERWRITEEEPROMWORD(uint16_t ADDR, uint16_t DATA) {
  write_word(command(SERWRITEEEPROMWORDCOM, ADDR, DATA));
}

bool SERSYNC() {
  if (!serial::SERTOSSCHARS()) return false;
  serial::SERSETRTSHIGH();
  uint8_t RETCHAR = 0;
  // The first answer may be anything (a prompt, an echo); only the second one
  // proves that the drive parses commands.
  if (!poke(RETCHAR)) return false;
  if (!poke(RETCHAR)) return false;
  if (RETCHAR != NAK) return false;
  const std::string SSTRING = INQUIREID();
  if (SSTRING.size() != static_cast<std::size_t>(IDENTITY_LENGTH)) return false;
  serial::SERERROR = false;
  return true;
}

}  // namespace texthost
