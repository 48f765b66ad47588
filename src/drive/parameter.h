// Parameters by name: lookup with suggestions for a mistyped name. What a value of
// each type is (ranges, the forms it is printed in) is in drive/value_type.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/access.h"
#include "core/result.h"
#include "dictionary/dictionary.h"
#include "drive/value_type.h"

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

// A value as the user wrote it, checked against the type's range (see parse_bits).
// The raw bits to write, or the message: "kqp: -1 is out of range (0 to 65535)".
core::Result<uint64_t> parse_value(const Parameter& parameter, std::string_view text);

// An address as the list shows it: 0x0812.
std::string address_text(uint16_t address);

}  // namespace drive
