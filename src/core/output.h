// All output goes to standard output, line by line.
#pragma once

#include <string_view>

namespace core {

void write(std::string_view text);
// Writes the text and a line end, and flushes so that each line leaves at once.
void write_line(std::string_view text = {});

}  // namespace core
