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

// A value in a JSON row under key: a number (signed where the type is), and with hex
// also its 0x text under key + "_hex", so that a script reads the number either way.
void put_value(nlohmann::ordered_json& row, const std::string& key, const drive::Parameter& parameter, uint64_t bits,
               bool hex);

}  // namespace zr90
