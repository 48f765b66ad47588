#include "tools/common/data_value.h"

#include "core/numbers.h"
#include "core/text.h"

namespace tools {

namespace {

constexpr int64_t BYTE_LIMIT = 0xFF;
constexpr int64_t WORD_LIMIT = 0xFFFF;

}  // namespace

std::optional<int64_t> read_data_value(const std::string& text, bool hex) {
  int64_t value = 0;
  const bool ok = hex ? core::HEXDOUBLEREAD(text, value) : core::parse_rounded_int64(text, value);
  if (!ok) return std::nullopt;
  return value;
}

std::optional<int64_t> upper_limit(dict::PARAMETERTYPE type) {
  using dict::PARAMETERTYPE;
  switch (type) {
    case PARAMETERTYPE::TYPE_BYTE:
    case PARAMETERTYPE::TYPE_EBYTE:
      return BYTE_LIMIT;
    case PARAMETERTYPE::TYPE_UINT:
    case PARAMETERTYPE::TYPE_INT:
    case PARAMETERTYPE::TYPE_PTR:
    case PARAMETERTYPE::TYPE_MASK:
    case PARAMETERTYPE::TYPE_FLAG:
    case PARAMETERTYPE::TYPE_EWORD:
      return WORD_LIMIT;
    default:
      return std::nullopt;
  }
}

}  // namespace tools
