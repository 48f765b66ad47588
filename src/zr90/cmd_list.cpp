// zr90 list: the dictionary as a table or as JSON; no link.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "core/text.h"
#include "zr90/commands.h"
#include "drive/parameter.h"

namespace zr90 {

namespace {

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A shell wildcard ('*', '?', '[...]'), case-insensitive.
bool matches(const char* pattern, const char* text) {
  for (; *pattern != '\0'; ++pattern, ++text) {
    if (*pattern == '*') {
      for (const char* rest = text;; ++rest) {
        if (matches(pattern + 1, rest)) return true;
        if (*rest == '\0') return false;
      }
    }
    if (*text == '\0') return false;
    if (*pattern == '[') {
      const char* close = pattern + 1;
      while (*close != '\0' && *close != ']') ++close;
      if (*close == ']') {
        bool hit = false;
        for (const char* c = pattern + 1; c < close; ++c) {
          if (c + 2 < close && c[1] == '-') {
            hit = hit || (fold(*text) >= fold(*c) && fold(*text) <= fold(c[2]));
            c += 2;
          } else {
            hit = hit || fold(*c) == fold(*text);
          }
        }
        if (!hit) return false;
        pattern = close;
        continue;
      }
    }
    if (*pattern != '?' && fold(*pattern) != fold(*text)) return false;
  }
  return *text == '\0';
}

bool selected(const std::vector<std::string>& patterns, const char* name) {
  if (patterns.empty()) return true;
  for (const std::string& pattern : patterns) {
    if (matches(pattern.c_str(), name)) return true;
  }
  return false;
}

const char* memory_name(dict::PARAMETERTYPE type) { return drive::is_eeprom(type) ? "eeprom" : "ram"; }

}  // namespace

int run_list(const Options& options, const std::vector<std::string>& patterns) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  std::string table;
  for (const dict::ZORNPARAMREC& row : dict::ZORNPARAMS) {
    if (!selected(patterns, row.PARMNAME)) continue;
    const std::string address = drive::address_text(static_cast<uint16_t>(row.PARMLOC));
    if (options.json) {
      rows.push_back({{"name", row.PARMNAME}, {"address", address}, {"type", drive::type_name(row.PARMTYPE)},
                      {"memory", memory_name(row.PARMTYPE)}});
    } else {
      table += core::PADWITHSPACES(row.PARMNAME, 17) + " " + address + "  " + core::PADWITHSPACES(drive::type_name(row.PARMTYPE), 7) +
               memory_name(row.PARMTYPE) + "\n";
    }
  }
  if (table.empty() && rows.empty()) {
    // A pattern is a whole name: "kq" matches nothing, "kq*" what was probably meant.
    std::string text = "no parameter name matches";
    for (const std::string& pattern : patterns) text += " \"" + pattern + "\"";
    if (patterns.size() == 1 && patterns[0].find('*') == std::string::npos) text += "; try \"" + patterns[0] + "*\"";
    say(text);
    return EXIT_FAILED;
  }
  if (options.json) table = rows.dump(2) + "\n";
  std::fputs(table.c_str(), stdout);
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? EXIT_DONE : EXIT_USAGE;
}

}  // namespace zr90
