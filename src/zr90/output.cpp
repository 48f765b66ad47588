#include "zr90/output.h"

#include <cstdio>

namespace zr90 {

bool emit(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

nlohmann::ordered_json json_value(const drive::Parameter& parameter, uint64_t bits, bool hex) {
  if (hex) return drive::format_value(parameter.type, bits, true);
  return drive::signed_value(parameter.type, bits);
}

}  // namespace zr90
