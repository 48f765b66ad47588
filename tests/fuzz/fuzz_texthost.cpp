// The text protocol against a drive that answers anything: no input may crash it,
// a read succeeds only when four hexadecimal digits and a carriage return came, and
// nothing of one exchange reaches the next: what waits unread is discarded before
// each command.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "instant_line.h"
#include "serial/serial.h"
#include "texthost/texthost.h"

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The value four hex digits give; -1 when they are not all hex digits.
long digits_value(const std::string& answer) {
  long value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const int digit = hex_digit(answer[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzzing::Script script;
  serial::SerialLine line(fuzzing::instant_waits(),
                          [&script](core::Waits) { return std::make_unique<fuzzing::InstantDevice>(script); });
  if (!line.open("COM1", 115200, 1)) std::abort();
  texthost::TextHost host(line);
  // Short answers keep the discarding after a failure (a pause per character) quick.
  script.answers = fuzzing::chunks_of(data, size, 4, 12);
  const std::deque<std::string> answers = script.answers;

  for (std::size_t i = 0; i < answers.size(); ++i) {
    const std::string& answer = answers[i];
    if (i == 2) {
      const core::Status written = host.write_word(0x0820, 0x1234);
      if (written.ok() != !answer.empty()) std::abort();
      continue;
    }
    const core::Result<uint16_t> word = host.read_word(0x0820);
    const bool reply = answer.size() >= 5 && digits_value(answer) >= 0 && answer[4] == '\r';
    if (word.ok() != reply) std::abort();
    if (word.ok() && *word != digits_value(answer)) std::abort();
  }
  return 0;
}
