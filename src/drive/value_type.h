// The parameter types in one table: each type's name, where its value lives, how
// wide and whether signed it is, its limits, and the rules by which each front end
// reads a value from text and shows one. Everything else asks this table.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/access.h"
#include "core/result.h"
#include "dictionary/dictionary.h"

namespace drive {

// The data values parmpoke takes for a type: every number the width holds, read as
// signed or unsigned, so that a negative value is written as its two's complement.
struct DataRange {
  int64_t lowest;
  int64_t highest;
};

struct ValueType {
  dict::PARAMETERTYPE type;
  std::string_view name;  // as the workbench lists it: "uint"
  // Nothing for the types that hold no data in the drive (events, literals, tables).
  std::optional<core::Memory> memory;
  // Bytes of the value's one access; 0 where there is no single value (a triple is
  // read in two parts).
  uint8_t width;
  // Bytes the value takes in the drive: a triple is a double and a long.
  uint8_t size;
  bool is_signed;
  // The decimal range the workbench takes; 0x takes every bit pattern of the width.
  int64_t lowest;
  uint64_t highest;
  // parmpoke: the data values it writes. Nothing where any value goes (a double
  // takes all 64 bits).
  std::optional<DataRange> data_range;
  // parmpeek: the decimal form right-aligned in this many characters.
  uint8_t decimal_width;
  // parmpeek: a read of the type waits a millisecond after each pass.
  bool pauses_after_read;
};

// The type's row; a value outside the enumeration gets a row named "?" with no value.
const ValueType& value_type(dict::PARAMETERTYPE type);
// Every row, in the order of dict::PARAMETERTYPE.
std::span<const ValueType> value_types();

// Where a value of the type lives and how wide it is; nothing for the types that have
// no single value (a triple, an event, tables, literals).
std::optional<core::Location> location_of(dict::PARAMETERTYPE type, uint16_t address);

// The workbench's rules.

std::string type_name(dict::PARAMETERTYPE type);
bool is_eeprom(dict::PARAMETERTYPE type);
bool is_signed(dict::PARAMETERTYPE type);
// Hex digits of the type's width.
int hex_digits(dict::PARAMETERTYPE type);

// A value as the user wrote it, checked against the type's range: decimal (a
// fraction or an exponent rounds half to even), 0x hexadecimal, negative where the
// type allows. The raw bits to write, or the reason with the range: "-1 is out of
// range (0 to 65535)".
core::Result<uint64_t> parse_bits(dict::PARAMETERTYPE type, std::string_view text);
// "0 to 65535", "-32768 to 32767 or 0x0000 to 0xFFFF", ...
std::string range_text(dict::PARAMETERTYPE type);

// The value's text: decimal (signed where the type is), or 0x and the type's digits.
std::string format_value(dict::PARAMETERTYPE type, uint64_t bits, bool hex);
// The same as a JSON-able number: signed types sign-extended.
int64_t signed_value(dict::PARAMETERTYPE type, uint64_t bits);

// The faithful programs' rules.

// parmpoke's data argument: a decimal real number rounded half to even, or with hex
// up to 16 hexadecimal digits. Nothing for anything else, a decimal number beyond
// the signed 64-bit range included.
std::optional<int64_t> read_data_value(const std::string& text, bool hex);
// The type's data_range: the values parmpoke writes into it.
std::optional<DataRange> data_range(dict::PARAMETERTYPE type);
// Whether parmpoke writes a data value into the type. A hexadecimal value is the bits
// themselves: it is too big when bits beyond the width are set, and never too small.
enum class DataFit { fits, too_big, too_small };
DataFit data_fit(dict::PARAMETERTYPE type, int64_t value, bool hex);

// parmpeek's text of a value read: the bits of the width as upper-case hex digits,
// or decimal (signed where the type is) right-aligned in the type's decimal width.
std::string data_text(dict::PARAMETERTYPE type, uint64_t raw, bool hex);

}  // namespace drive
