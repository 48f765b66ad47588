// A file replaced whole or not at all.
#pragma once

#include <string>
#include <string_view>

#include "core/result.h"

namespace drive {

// The text in a temporary file next to path, then renamed over it: the file is
// there whole or not at all.
core::Status write_file_atomically(const std::string& path, std::string_view text);

}  // namespace drive
