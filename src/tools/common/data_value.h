// The value a write puts into a parameter: the data argument as typed and the
// largest value the parameter's type takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "dictionary/dictionary.h"

namespace tools {

// A decimal real number rounded half to even, or with hex up to 16 hexadecimal
// digits. Nothing for anything else, a decimal number beyond the signed 64-bit
// range included.
std::optional<int64_t> read_data_value(const std::string& text, bool hex);

// The largest value the type takes; negative values pass and their low bits are
// written. Longs and doubles take any value, and so do the types that have no
// single value (nothing is written to them).
std::optional<int64_t> upper_limit(dict::PARAMETERTYPE type);

}  // namespace tools
