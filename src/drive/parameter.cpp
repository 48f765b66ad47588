#include "drive/parameter.h"

#include <algorithm>
#include <limits>

#include "core/numbers.h"
#include "core/text.h"

namespace drive {

namespace {

using dict::PARAMETERTYPE;

constexpr std::size_t MAX_SUGGESTION_DISTANCE = 2;

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Edit distance where swapping two neighbours is one edit (optimal string alignment).
std::size_t distance(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  const std::size_t m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = fold(a[i - 1]) == fold(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && fold(a[i - 1]) == fold(b[j - 2]) && fold(a[i - 2]) == fold(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[n][m];
}

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

// "a", "b" or "c"
std::string quoted_list(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += '"' + names[i] + '"';
  }
  return text;
}

core::Failure unknown(std::string_view name) {
  std::string text = "unknown parameter \"" + std::string(name) + "\"";
  const std::vector<std::string> near = nearest_names(name);
  if (!near.empty()) text += "; did you mean " + quoted_list(near) + "?";
  return core::fail(core::FailureKind::config, text);
}

struct Range {
  int64_t low;
  uint64_t high;        // the largest decimal value
  uint64_t hex_high;    // the largest 0x value
};

Range range_of(PARAMETERTYPE type) {
  switch (type) {
    case PARAMETERTYPE::TYPE_BYTE:
    case PARAMETERTYPE::TYPE_EBYTE:
      return {0, 0xFF, 0xFF};
    case PARAMETERTYPE::TYPE_INT:
      return {-32768, 32767, 0xFFFF};
    case PARAMETERTYPE::TYPE_LONG:
    case PARAMETERTYPE::TYPE_ELONG:
      return {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 0xFFFFFFFF};
    case PARAMETERTYPE::TYPE_ULONG:
      return {0, 0xFFFFFFFF, 0xFFFFFFFF};
    case PARAMETERTYPE::TYPE_DOUBLE:
      return {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), ~uint64_t{0}};
    default:
      return {0, 0xFFFF, 0xFFFF};
  }
}

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

}  // namespace

std::vector<std::string> nearest_names(std::string_view text) {
  std::size_t best = MAX_SUGGESTION_DISTANCE + 1;
  std::vector<std::string> names;
  for (const dict::ZORNPARAMREC& row : dict::ZORNPARAMS) {
    const std::size_t d = distance(text, row.PARMNAME);
    if (d > best) continue;
    if (d < best) names.clear();
    best = d;
    if (std::find(names.begin(), names.end(), row.PARMNAME) == names.end()) names.emplace_back(row.PARMNAME);
  }
  return names;
}

core::Result<Parameter> find_parameter(std::string_view text) {
  const std::size_t plus = text.find('+');
  const std::string_view name = text.substr(0, plus);
  uint32_t offset = 0;
  if (plus != std::string_view::npos && (!core::parse_unsigned(text.substr(plus + 1), offset) || offset > 0xFFFF)) {
    return core::fail(core::FailureKind::config, "bad offset in \"" + std::string(text) + "\"");
  }
  for (const dict::ZORNPARAMREC& row : dict::ZORNPARAMS) {
    if (!same_name(name, row.PARMNAME)) continue;
    Parameter parameter;
    parameter.name = row.PARMNAME;
    if (plus != std::string_view::npos) parameter.name += std::string(text.substr(plus));
    parameter.address = static_cast<uint16_t>(row.PARMLOC + offset);
    parameter.type = row.PARMTYPE;
    const std::optional<core::Location> location = dict::location_of(row.PARMTYPE, parameter.address);
    if (!location) return core::fail(core::FailureKind::unsupported, std::string(row.PARMNAME) + " has no single value");
    parameter.location = *location;
    return parameter;
  }
  return unknown(name);
}

std::string type_name(PARAMETERTYPE type) {
  switch (type) {
    case PARAMETERTYPE::TYPE_BYTE: return "byte";
    case PARAMETERTYPE::TYPE_PTR: return "ptr";
    case PARAMETERTYPE::TYPE_FLAG: return "flag";
    case PARAMETERTYPE::TYPE_MASK: return "mask";
    case PARAMETERTYPE::TYPE_UINT: return "uint";
    case PARAMETERTYPE::TYPE_INT: return "int";
    case PARAMETERTYPE::TYPE_ULONG: return "ulong";
    case PARAMETERTYPE::TYPE_LONG: return "long";
    case PARAMETERTYPE::TYPE_DOUBLE: return "double";
    case PARAMETERTYPE::TYPE_EVENT: return "event";
    case PARAMETERTYPE::TYPE_TRIPLE: return "triple";
    case PARAMETERTYPE::TYPE_EBYTE: return "ebyte";
    case PARAMETERTYPE::TYPE_EWORD: return "eword";
    case PARAMETERTYPE::TYPE_ELONG: return "elong";
    case PARAMETERTYPE::TYPE_LIT: return "lit";
    case PARAMETERTYPE::TYPE_CONST: return "const";
    case PARAMETERTYPE::TYPE_ENUM: return "enum";
    case PARAMETERTYPE::TYPE_BYTETABLE: return "bytetable";
    case PARAMETERTYPE::TYPE_WORDTABLE: return "wordtable";
  }
  return "?";
}

bool is_eeprom(PARAMETERTYPE type) {
  return type == PARAMETERTYPE::TYPE_EBYTE || type == PARAMETERTYPE::TYPE_EWORD || type == PARAMETERTYPE::TYPE_ELONG;
}

bool is_signed(PARAMETERTYPE type) { return range_of(type).low < 0; }

int hex_digits(PARAMETERTYPE type) {
  const std::optional<core::Location> location = dict::location_of(type, 0);
  return location ? 2 * static_cast<int>(location->width) : 4;
}

std::string range_text(PARAMETERTYPE type) {
  const Range range = range_of(type);
  std::string text = std::to_string(range.low) + " to " + std::to_string(range.high);
  if (range.low < 0 && type != PARAMETERTYPE::TYPE_DOUBLE) {
    text += " or 0x" + std::string(static_cast<std::size_t>(hex_digits(type)), '0') + " to " +
            format_value(type, range.hex_high, true);
  }
  return text;
}

core::Result<uint64_t> parse_value(const Parameter& parameter, std::string_view text) {
  const Range range = range_of(parameter.type);
  const std::string range_note = " (" + range_text(parameter.type) + ")";
  auto refuse = [&](const std::string& why) {
    return core::fail(core::FailureKind::config, parameter.name + ": " + why + range_note);
  };
  if (const std::optional<uint64_t> hex = parse_hex(text)) {
    if (*hex > range.hex_high) return refuse(std::string(text) + " is out of range");
    return *hex;
  }
  int64_t value = 0;
  if (!core::parse_rounded_int64(text, value) || text.empty() || text.front() == ' ' || text.front() == '\t') {
    // Built by appending: "literal" + std::string&& trips a false -Wrestrict in GCC 12.
    std::string why(1, '"');
    why.append(text).append("\" is not a number");
    return refuse(why);
  }
  if (value < range.low || (value > 0 && static_cast<uint64_t>(value) > range.high)) {
    return refuse(std::string(text) + " is out of range");
  }
  // The bits of the type's width: a negative value is its two's complement there,
  // which is also what reads back.
  const unsigned bits = 4u * static_cast<unsigned>(hex_digits(parameter.type));
  const auto raw = static_cast<uint64_t>(value);
  return bits >= 64 ? raw : raw & ((uint64_t{1} << bits) - 1);
}

int64_t signed_value(PARAMETERTYPE type, uint64_t bits) {
  if (!is_signed(type)) return static_cast<int64_t>(bits);
  const unsigned shift = 64u - 4u * static_cast<unsigned>(hex_digits(type));
  return static_cast<int64_t>(bits << shift) >> shift;
}

std::string format_value(PARAMETERTYPE type, uint64_t bits, bool hex) {
  if (hex) {
    const int digits = hex_digits(type);
    std::string text;
    for (int i = digits - 1; i >= 0; --i) text += core::HEXCHARS[(bits >> (4 * i)) & 0xF];
    return "0x" + text;
  }
  if (is_signed(type)) return std::to_string(signed_value(type, bits));
  return std::to_string(bits);
}

std::string address_text(uint16_t address) { return "0x" + core::HEXSTRING(address, 4); }

}  // namespace drive
