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
  // Where the value is; left as it is for a type with no single value (location_of).
  core::Location location;
  // The dictionary's name alone, without the offset.
  std::string_view row_name;
};

// What a lookup does with a name that is not in the dictionary.
enum class UnknownName : uint8_t {
  suggest,    // fails naming the nearest names: unknown parameter "kpq"; did you mean "kqp"?
  not_found,  // finds nothing, for the front end to say in its own way
};

// Where the front ends take "name+offset" differently.
struct LookupRules {
  // Plus signs before the name are dropped.
  bool skip_leading_plus = false;
  // The offset is read with its plus sign, which the number form allows only once:
  // "kqp++2" is then refused.
  bool offset_keeps_plus = false;
  // An offset above 0xFFFF keeps its low 16 bits instead of being refused.
  bool wrap_offset = false;
  // A malformed offset is "Can't parse offset" after an empty line, not
  // "bad offset in \"kqp+x\"".
  bool faithful_offset_text = false;
  UnknownName unknown_name = UnknownName::suggest;
  // A type with no single value (a triple, a table) is refused rather than found.
  bool single_value_only = true;
};

// The workbench's rules.
inline constexpr LookupRules WORKBENCH_LOOKUP{};
// parmpeek's and parmpoke's rules, as they always took a name.
inline constexpr LookupRules FAITHFUL_LOOKUP{.skip_leading_plus = true,
                                             .offset_keeps_plus = true,
                                             .wrap_offset = true,
                                             .faithful_offset_text = true,
                                             .unknown_name = UnknownName::not_found,
                                             .single_value_only = false};

// "name" or "name+offset", the name in any letter case. Nothing when the name is
// not in the dictionary and the rules leave saying so to the front end.
core::Result<std::optional<Parameter>> look_up(std::string_view text, const LookupRules& rules);

// look_up by the workbench's rules. The failure's text is the whole message:
// unknown parameter "kpq"; did you mean "kqp"?
core::Result<Parameter> find_parameter(std::string_view text);

// The dictionary names nearest to text (case-insensitive edit distance, an adjacent
// transposition counting as one edit), at most two edits away; empty when none is.
std::vector<std::string> nearest_names(std::string_view text);

// A value as the user wrote it, checked against the type's range (see parse_bits).
// The raw bits to write, or the message: "kqp: -1 is out of range (0 to 65535)".
core::Result<uint64_t> parse_value(const Parameter& parameter, std::string_view text);

// nvFBS, nvFGS, nvFPOR: the device's configuration locations, whose addresses take
// more than 16 bits and lie outside the 128-byte EEPROM. Never saved or restored; a
// write asks first.
bool is_configuration_location(std::string_view name);

// An address as the list shows it: 0x0812.
std::string address_text(uint16_t address);

}  // namespace drive
