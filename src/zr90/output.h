// What every command's output shares: the write to standard output and a value as
// JSON.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

#include "drive/parameter.h"

namespace zr90 {

// Writes text to standard output; false when it could not be written (a full disk).
bool emit(const std::string& text);

// A value as JSON: a number (signed where the type is), or with hex its 0x text.
nlohmann::ordered_json json_value(const drive::Parameter& parameter, uint64_t bits, bool hex);

}  // namespace zr90
