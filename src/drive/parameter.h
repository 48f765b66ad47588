// Parameters by name: lookup with suggestions for a mistyped
// name, type names, value ranges and the forms a value is printed in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/access.h"
#include "core/result.h"
#include "dictionary/dictionary.h"

namespace drive {

struct Parameter {
  std::string name;  // as the dictionary writes it, with "+OFFSET" as given
  uint16_t address = 0;
  dict::PARAMETERTYPE type = dict::PARAMETERTYPE::TYPE_UINT;
  core::Location location;
};

// "name" or "name+offset", case-insensitive. The failure's text is the whole
// message: unknown parameter "kpq"; did you mean "kqp"?
core::Result<Parameter> find_parameter(std::string_view text);

// The dictionary names nearest to text (case-insensitive edit distance, an adjacent
// transposition counting as one edit), at most two edits away; empty when none is.
std::vector<std::string> nearest_names(std::string_view text);

std::string type_name(dict::PARAMETERTYPE type);
bool is_eeprom(dict::PARAMETERTYPE type);
bool is_signed(dict::PARAMETERTYPE type);
// Hex digits of the type's width.
int hex_digits(dict::PARAMETERTYPE type);

// A value as the user wrote it, checked against the type's range: decimal (a
// fraction or an exponent rounds half to even), 0x hexadecimal, negative where the
// type allows. The raw bits to write, or the message.
core::Result<uint64_t> parse_value(const Parameter& parameter, std::string_view text);
// "0 to 65535", "-32768 to 32767 or 0x0000 to 0xFFFF", ...
std::string range_text(dict::PARAMETERTYPE type);

// The value's text: decimal (signed where the type is), or 0x and the type's digits.
std::string format_value(dict::PARAMETERTYPE type, uint64_t bits, bool hex);
// The same as a JSON-able number: signed types sign-extended.
int64_t signed_value(dict::PARAMETERTYPE type, uint64_t bits);

// An address as the list shows it: 0x0812.
std::string address_text(uint16_t address);

}  // namespace drive
