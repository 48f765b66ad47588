// The number forms of the command line and the environment: no input may crash
// them, and what they accept must agree with an independent reading.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/numbers.h"
#include "core/text.h"

namespace {

// Plain decimal digits only, the one form every reader must take the same way.
bool plain_decimal(std::string_view text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  uint32_t unsigned_value = 0;
  const bool unsigned_ok = core::parse_unsigned(text, unsigned_value);
  int32_t signed_value = 0;
  core::parse_signed(text, signed_value);
  double real = 0;
  core::parse_real(text, real);
  int64_t rounded = 0;
  core::parse_rounded_int64(text, rounded);
  core::parse_comport(text);
  uint16_t word = 0;
  core::HEXWORDREAD(text, word);
  int64_t wide = 0;
  core::HEXDOUBLEREAD(text, wide);

  if (plain_decimal(text)) {
    const unsigned long expected = std::strtoul(text.c_str(), nullptr, 10);
    if (!unsigned_ok || unsigned_value != expected) std::abort();
    if (!core::parse_rounded_int64(text, rounded) || rounded != static_cast<int64_t>(expected)) std::abort();
  }
  // What the reader accepts, written back plainly, reads as the same number.
  if (unsigned_ok) {
    uint32_t again = 0;
    if (!core::parse_unsigned(std::to_string(unsigned_value), again) || again != unsigned_value) std::abort();
  }
  return 0;
}
