#include "drive/parameter.h"

#include <algorithm>

#include "core/numbers.h"
#include "core/text.h"

namespace drive {

namespace {

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
    const std::optional<core::Location> location = location_of(row.PARMTYPE, parameter.address);
    if (!location) return core::fail(core::FailureKind::unsupported, std::string(row.PARMNAME) + " has no single value");
    parameter.location = *location;
    return parameter;
  }
  return unknown(name);
}

core::Result<uint64_t> parse_value(const Parameter& parameter, std::string_view text) {
  core::Result<uint64_t> bits = parse_bits(parameter.type, text);
  if (!bits) bits.error().text = parameter.name + ": " + bits.error().text;
  return bits;
}

std::string address_text(uint16_t address) { return "0x" + core::HEXSTRING(address, 4); }

}  // namespace drive
