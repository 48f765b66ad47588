// The axes (channels of the card's serial-channel module) a run works on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/access.h"
#include "drive/reading.h"

namespace zr90 {

// "2", "0,2,5", "0-3", "all" (0 to 7), and combinations ("0-2,5"); ascending, each
// once. Nothing for any other text.
std::optional<std::vector<uint8_t>> parse_axes(std::string_view text);

using drive::mask_of;

// "2,5"
std::string axes_text(const std::vector<uint8_t>& axes);

}  // namespace zr90
