#include "zr90/output.h"

#include <cstdio>

namespace zr90 {

bool emit(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

void put_value(nlohmann::ordered_json& row, const std::string& key, const drive::Parameter& parameter, uint64_t bits,
               bool hex) {
  row[key] = drive::signed_value(parameter.type, bits);
  if (hex) row[key + "_hex"] = drive::format_value(parameter.type, bits, true);
}

}  // namespace zr90
