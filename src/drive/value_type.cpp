#include "drive/value_type.h"

#include <array>
#include <limits>

#include "core/numbers.h"
#include "core/text.h"

namespace drive {

namespace {

using dict::PARAMETERTYPE;
using core::Memory;

constexpr auto RAM = Memory::ram;
constexpr auto EEPROM = Memory::eeprom;
constexpr std::optional<Memory> NOWHERE = std::nullopt;
constexpr int64_t INT16_LOW = std::numeric_limits<int16_t>::min();
constexpr int64_t INT32_LOW = std::numeric_limits<int32_t>::min();
constexpr int64_t INT64_LOW = std::numeric_limits<int64_t>::min();
constexpr uint64_t INT16_HIGH = std::numeric_limits<int16_t>::max();
constexpr uint64_t INT32_HIGH = std::numeric_limits<int32_t>::max();
constexpr uint64_t INT64_HIGH = std::numeric_limits<int64_t>::max();

// parmpoke takes whatever the width holds as a signed or an unsigned number.
constexpr std::optional<DataRange> BYTE_DATA = DataRange{std::numeric_limits<int8_t>::min(), 0xFF};
constexpr std::optional<DataRange> WORD_DATA = DataRange{INT16_LOW, 0xFFFF};
constexpr std::optional<DataRange> LONG_DATA = DataRange{INT32_LOW, 0xFFFFFFFF};
constexpr std::optional<DataRange> ANY = std::nullopt;

// Only RAM bytes and unsigned RAM words pause after a
// read in parmpeek: signed words and EEPROM reads never did.
constexpr std::array<ValueType, 19> TYPES = {{
    // type, name, memory, width, size, signed, lowest, highest, data range, decimal width, pauses
    {PARAMETERTYPE::TYPE_BYTE, "byte", RAM, 1, 1, false, 0, 0xFF, BYTE_DATA, 3, true},
    {PARAMETERTYPE::TYPE_PTR, "ptr", RAM, 2, 2, false, 0, 0xFFFF, WORD_DATA, 5, true},
    {PARAMETERTYPE::TYPE_FLAG, "flag", RAM, 2, 2, false, 0, 0xFFFF, WORD_DATA, 5, true},
    {PARAMETERTYPE::TYPE_MASK, "mask", RAM, 2, 2, false, 0, 0xFFFF, WORD_DATA, 5, true},
    {PARAMETERTYPE::TYPE_UINT, "uint", RAM, 2, 2, false, 0, 0xFFFF, WORD_DATA, 5, true},
    {PARAMETERTYPE::TYPE_INT, "int", RAM, 2, 2, true, INT16_LOW, INT16_HIGH, WORD_DATA, 5, false},
    {PARAMETERTYPE::TYPE_ULONG, "ulong", RAM, 4, 4, false, 0, 0xFFFFFFFF, LONG_DATA, 10, false},
    {PARAMETERTYPE::TYPE_LONG, "long", RAM, 4, 4, true, INT32_LOW, INT32_HIGH, LONG_DATA, 10, false},
    {PARAMETERTYPE::TYPE_DOUBLE, "double", RAM, 8, 8, true, INT64_LOW, INT64_HIGH, ANY, 20, false},
    {PARAMETERTYPE::TYPE_EVENT, "event", NOWHERE, 0, 0, false, 0, 0, ANY, 0, false},
    {PARAMETERTYPE::TYPE_TRIPLE, "triple", RAM, 0, 12, false, 0, 0, ANY, 0, false},
    {PARAMETERTYPE::TYPE_EBYTE, "ebyte", EEPROM, 1, 1, false, 0, 0xFF, BYTE_DATA, 3, false},
    {PARAMETERTYPE::TYPE_EWORD, "eword", EEPROM, 2, 2, false, 0, 0xFFFF, WORD_DATA, 5, false},
    {PARAMETERTYPE::TYPE_ELONG, "elong", EEPROM, 4, 4, true, INT32_LOW, INT32_HIGH, LONG_DATA, 10, false},
    {PARAMETERTYPE::TYPE_LIT, "lit", NOWHERE, 0, 0, false, 0, 0, ANY, 0, false},
    {PARAMETERTYPE::TYPE_CONST, "const", NOWHERE, 0, 0, false, 0, 0, ANY, 0, false},
    {PARAMETERTYPE::TYPE_ENUM, "enum", NOWHERE, 0, 0, false, 0, 0, ANY, 0, false},
    {PARAMETERTYPE::TYPE_BYTETABLE, "bytetable", NOWHERE, 0, 0, false, 0, 0, ANY, 0, false},
    {PARAMETERTYPE::TYPE_WORDTABLE, "wordtable", NOWHERE, 0, 0, false, 0, 0, ANY, 0, false},
}};

constexpr bool in_enumeration_order() {
  for (std::size_t i = 0; i < TYPES.size(); ++i) {
    if (static_cast<std::size_t>(TYPES[i].type) != i) return false;
  }
  return static_cast<std::size_t>(PARAMETERTYPE::TYPE_WORDTABLE) + 1 == TYPES.size();
}
static_assert(in_enumeration_order(), "one row per parameter type, in the order of the enumeration");

// Both front ends write the same drive: nothing the workbench takes may be refused by
// parmpoke's width check.
constexpr bool workbench_within_data_range() {
  for (const ValueType& t : TYPES) {
    if (!t.data_range) continue;
    if (t.lowest < t.data_range->lowest || t.highest > static_cast<uint64_t>(t.data_range->highest)) return false;
  }
  return true;
}
static_assert(workbench_within_data_range(), "the workbench's range lies within what parmpoke writes");

constexpr ValueType UNKNOWN_TYPE{PARAMETERTYPE::TYPE_EVENT, "?", NOWHERE, 0, 0, false, 0, 0, ANY, 0, false};

core::Width width_of(const ValueType& t) { return static_cast<core::Width>(t.width); }

// 0x and one to sixteen hex digits.
std::optional<uint64_t> parse_hex(std::string_view text) {
  if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') || text.size() > 18) return std::nullopt;
  uint64_t value = 0;
  for (char c : text.substr(2)) {
    const char u = static_cast<char>(c & ~0x20);
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (u >= 'A' && u <= 'F') digit = u - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<uint64_t>(digit);
  }
  return value;
}

// The type's digits, upper case, without a prefix.
std::string hex_text(const ValueType& t, uint64_t bits) {
  std::string text;
  for (int i = 2 * t.width - 1; i >= 0; --i) text += core::HEXCHARS[(bits >> (4 * i)) & 0xF];
  return text;
}

std::string right_aligned(const std::string& digits, std::size_t width) {
  if (digits.size() >= width) return digits;
  return std::string(width - digits.size(), ' ') + digits;
}

}  // namespace

const ValueType& value_type(PARAMETERTYPE type) {
  const auto index = static_cast<std::size_t>(type);
  return index < TYPES.size() ? TYPES[index] : UNKNOWN_TYPE;
}

std::span<const ValueType> value_types() { return TYPES; }

std::optional<core::Location> location_of(PARAMETERTYPE type, uint16_t address) {
  const ValueType& t = value_type(type);
  if (t.width == 0 || !t.memory) return std::nullopt;
  return core::Location{*t.memory, width_of(t), address};
}

std::string type_name(PARAMETERTYPE type) { return std::string(value_type(type).name); }

bool is_eeprom(PARAMETERTYPE type) { return value_type(type).memory == EEPROM; }

bool is_signed(PARAMETERTYPE type) { return value_type(type).is_signed; }

int hex_digits(PARAMETERTYPE type) { return 2 * value_type(type).width; }

std::string range_text(PARAMETERTYPE type) {
  const ValueType& t = value_type(type);
  std::string text = std::to_string(t.lowest) + " to " + std::to_string(t.highest);
  // A double's 0x range is every 64-bit pattern and goes without saying.
  if (t.is_signed && t.width < 8) {
    text += " or 0x" + std::string(2u * t.width, '0') + " to " + format_value(type, ~uint64_t{0}, true);
  }
  return text;
}

core::Result<uint64_t> parse_bits(PARAMETERTYPE type, std::string_view text) {
  const ValueType& t = value_type(type);
  auto refuse = [&](const std::string& why) {
    return core::fail(core::FailureKind::config, why + " (" + range_text(type) + ")");
  };
  if (const std::optional<uint64_t> hex = parse_hex(text)) {
    if (*hex != core::width_bits(width_of(t), *hex)) return refuse(std::string(text) + " is out of range");
    return *hex;
  }
  int64_t value = 0;
  if (!core::parse_rounded_int64(text, value) || text.empty() || text.front() == ' ' || text.front() == '\t') {
    // Built by appending: "literal" + std::string&& trips a false -Wrestrict in GCC 12.
    std::string why(1, '"');
    why.append(text).append("\" is not a number");
    return refuse(why);
  }
  if (value < t.lowest || (value > 0 && static_cast<uint64_t>(value) > t.highest)) {
    return refuse(std::string(text) + " is out of range");
  }
  // A negative value is its two's complement in the width, which is also what reads back.
  return core::width_bits(width_of(t), static_cast<uint64_t>(value));
}

int64_t signed_value(PARAMETERTYPE type, uint64_t bits) {
  const ValueType& t = value_type(type);
  if (!t.is_signed) return static_cast<int64_t>(bits);
  const unsigned shift = 64u - 8u * t.width;
  return static_cast<int64_t>(bits << shift) >> shift;
}

std::string format_value(PARAMETERTYPE type, uint64_t bits, bool hex) {
  if (hex) return "0x" + hex_text(value_type(type), bits);
  if (is_signed(type)) return std::to_string(signed_value(type, bits));
  return std::to_string(bits);
}

std::optional<int64_t> read_data_value(const std::string& text, bool hex) {
  int64_t value = 0;
  const bool ok = hex ? core::HEXDOUBLEREAD(text, value) : core::parse_rounded_int64(text, value);
  if (!ok) return std::nullopt;
  return value;
}

std::optional<DataRange> data_range(PARAMETERTYPE type) { return value_type(type).data_range; }

DataFit data_fit(PARAMETERTYPE type, int64_t value, bool hex) {
  const std::optional<DataRange> range = data_range(type);
  if (!range) return DataFit::fits;
  // Sixteen hex digits may set the top bit: the bits are compared, never a sign.
  const bool too_big = hex ? static_cast<uint64_t>(value) > static_cast<uint64_t>(range->highest)
                           : value > range->highest;
  if (too_big) return DataFit::too_big;
  if (hex) return DataFit::fits;
  if (value < range->lowest) return DataFit::too_small;
  return DataFit::fits;
}

std::string data_text(PARAMETERTYPE type, uint64_t raw, bool hex) {
  const ValueType& t = value_type(type);
  const uint64_t bits = core::width_bits(width_of(t), raw);
  if (hex) return hex_text(t, bits);
  return right_aligned(format_value(type, bits, false), t.decimal_width);
}

}  // namespace drive
