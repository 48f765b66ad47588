// The text protocol against a drive that answers anything: no input may crash it,
// a read succeeds only when four characters and a terminator came, and after a
// failed exchange nothing of it reaches the next one.
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

  bool failed = false;
  std::size_t left_over = 0;  // characters of earlier answers not taken yet
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const std::string& answer = answers[i];
    // What a failed exchange left is discarded before the next command; what a
    // good one left is read as the start of the next answer.
    if (failed) left_over = 0;
    const bool clean = left_over == 0;
    const std::size_t available = left_over + answer.size();
    if (i == 2) {
      const core::Status written = host.write_word(0x0820, 0x1234);
      if (clean && written.ok() != !answer.empty()) std::abort();
      failed = !written.ok();
      left_over = available >= 1 ? available - 1 : 0;
      continue;
    }
    const core::Result<uint16_t> word = host.read_word(0x0820);
    if (clean) {
      if (word.ok() != (answer.size() >= 5)) std::abort();
      if (word.ok() && digits_value(answer) >= 0 && *word != digits_value(answer)) std::abort();
    }
    failed = !word.ok();
    left_over = available >= 5 ? available - 5 : 0;
  }
  return 0;
}
