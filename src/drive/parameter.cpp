#include "drive/parameter.h"

#include <algorithm>

#include "core/numbers.h"
#include "core/text.h"

namespace drive {

namespace {

constexpr std::size_t MAX_SUGGESTION_DISTANCE = 2;

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

core::Failure unknown(std::string_view name) {
  std::string text = "unknown parameter \"" + std::string(name) + "\"";
  const std::vector<std::string> near = nearest_names(name);
  if (!near.empty()) text += "; did you mean " + core::quoted_choices(near) + "?";
  return core::fail(core::FailureKind::config, text);
}

struct NameAndOffset {
  std::string_view name;
  std::string_view suffix;  // "+offset" as given; empty without a plus sign
};

NameAndOffset split(std::string_view text, const LookupRules& rules) {
  if (rules.skip_leading_plus) text.remove_prefix(std::min(text.find_first_not_of('+'), text.size()));
  const std::size_t plus = std::min(text.find('+'), text.size());
  return {text.substr(0, plus), text.substr(plus)};
}

core::Result<uint16_t> offset_of(std::string_view text, std::string_view suffix, const LookupRules& rules) {
  if (suffix.empty()) return uint16_t{0};
  uint32_t offset = 0;
  const std::string_view digits = rules.offset_keeps_plus ? suffix : suffix.substr(1);
  if (core::parse_unsigned(digits, offset) && (offset <= 0xFFFF || rules.wrap_offset)) {
    return static_cast<uint16_t>(offset);
  }
  if (rules.faithful_offset_text) return core::fail(core::FailureKind::config, "Can't parse offset");
  return core::fail(core::FailureKind::config, "bad offset in \"" + std::string(text) + "\"");
}

// The first row of that name: the list's order decides between rows of one name.
const dict::ZORNPARAMREC* row_named(std::string_view name) {
  for (const dict::ZORNPARAMREC& row : dict::ZORNPARAMS) {
    if (same_name(name, row.PARMNAME)) return &row;
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> nearest_names(std::string_view text) {
  std::vector<std::string_view> names;
  for (const dict::ZORNPARAMREC& row : dict::ZORNPARAMS) names.emplace_back(row.PARMNAME);
  return core::nearest_words(text, names, MAX_SUGGESTION_DISTANCE);
}

core::Result<std::optional<Parameter>> look_up(std::string_view text, const LookupRules& rules) {
  const NameAndOffset given = split(text, rules);
  core::Result<uint16_t> offset = offset_of(text, given.suffix, rules);
  if (!offset) return offset.error();
  const dict::ZORNPARAMREC* row = row_named(given.name);
  if (row == nullptr) {
    if (rules.unknown_name == UnknownName::suggest) return unknown(given.name);
    return std::optional<Parameter>();
  }
  Parameter parameter;
  parameter.row_name = row->PARMNAME;
  parameter.name = std::string(row->PARMNAME) + std::string(given.suffix);
  parameter.address = static_cast<uint16_t>(row->PARMLOC + *offset);
  parameter.type = row->PARMTYPE;
  const std::optional<core::Location> location = location_of(row->PARMTYPE, parameter.address);
  if (location) {
    parameter.location = *location;
  } else if (rules.single_value_only) {
    return core::fail(core::FailureKind::unsupported, std::string(row->PARMNAME) + " has no single value");
  }
  return std::optional<Parameter>(std::move(parameter));
}

core::Result<Parameter> find_parameter(std::string_view text) {
  core::Result<std::optional<Parameter>> found = look_up(text, WORKBENCH_LOOKUP);
  if (!found) return found.error();
  // The workbench's rules fail on an unknown name: there is always a parameter here.
  return std::move(**found);
}

core::Result<uint64_t> parse_value(const Parameter& parameter, std::string_view text) {
  core::Result<uint64_t> bits = parse_bits(parameter.type, text);
  if (!bits) bits.error().text = parameter.name + ": " + bits.error().text;
  return bits;
}

bool is_configuration_location(std::string_view name) {
  const dict::ZORNPARAMREC* row = row_named(name);
  return row != nullptr && row->PARMLOC > 0xFFFF;
}

std::string address_text(uint16_t address) { return "0x" + core::HEXSTRING(address, 4); }

}  // namespace drive
