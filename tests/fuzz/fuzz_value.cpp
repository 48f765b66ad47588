// A value's text by each front end's rules and the range of each parameter type: no
// input may crash the reading; what parmpoke accepts, written back, reads as the
// same value; plain numbers read as an independent reading says; each type's range
// is what its width holds; what parmpeek and the workbench print of a
// value reads back as the same bits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "dictionary/dictionary.h"
#include "drive/value_type.h"

namespace {

bool all_of(const std::string& text, const char* allowed, std::size_t from) {
  return text.size() > from && text.find_first_not_of(allowed, from) == std::string::npos;
}

// Up to 18 decimal digits with an optional minus, or up to 16 hexadecimal digits:
// forms the C library reads the same way. Nothing for any other text.
std::optional<int64_t> independent_reading(const std::string& text, bool hex) {
  if (hex) {
    if (text.size() > 16 || !all_of(text, "0123456789abcdefABCDEF", 0)) return std::nullopt;
    return static_cast<int64_t>(std::strtoull(text.c_str(), nullptr, 16));
  }
  const std::size_t from = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() - from > 18 || !all_of(text, "0123456789", from)) return std::nullopt;
  return std::strtoll(text.c_str(), nullptr, 10);
}

std::string written_back(int64_t value, bool hex) {
  if (!hex) return std::to_string(value);
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llX", static_cast<unsigned long long>(value));
  return digits;
}

// The smallest signed and the largest unsigned number of the width where the type's
// value is a byte, a word or a long; nothing where it is wider or there is no single
// value.
std::optional<std::pair<int64_t, int64_t>> width_range(dict::PARAMETERTYPE type) {
  const std::optional<core::Location> location = drive::location_of(type, 0);
  if (!location || location->width > core::Width::long_word) return std::nullopt;
  const int bits = 8 * static_cast<int>(location->width);
  return std::pair{-(int64_t{1} << (bits - 1)), (int64_t{1} << bits) - 1};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool hex = (data[0] & 1) != 0;
  constexpr int type_count = static_cast<int>(dict::PARAMETERTYPE::TYPE_WORDTABLE) + 1;
  const auto type = static_cast<dict::PARAMETERTYPE>((data[0] >> 1) % type_count);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::optional<drive::DataRange> range = drive::data_range(type);
  const std::optional<std::pair<int64_t, int64_t>> expected_range = width_range(type);
  if (range.has_value() != expected_range.has_value()) std::abort();
  if (range && (range->lowest != expected_range->first || range->highest != expected_range->second)) std::abort();

  const std::optional<int64_t> value = drive::read_data_value(text, hex);
  if (const std::optional<int64_t> expected = independent_reading(text, hex)) {
    if (value != expected) std::abort();
  }
  if (value && drive::read_data_value(written_back(*value, hex), hex) != value) std::abort();

  const std::optional<core::Location> location = drive::location_of(type, 0);
  if (value && location) {
    const uint64_t bits = core::width_bits(location->width, static_cast<uint64_t>(*value));
    const std::optional<int64_t> shown = drive::read_data_value(drive::data_text(type, bits, true), true);
    if (!shown || static_cast<uint64_t>(*shown) != bits) std::abort();
  }
  if (const core::Result<uint64_t> bits = drive::parse_bits(type, text); bits && location) {
    const core::Result<uint64_t> again = drive::parse_bits(type, drive::format_value(type, *bits, hex));
    if (!again || *again != *bits) std::abort();
  }
  return 0;
}
