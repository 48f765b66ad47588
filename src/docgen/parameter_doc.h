// Texts made from the dictionary, so that the parameter reference and the shell
// completion cannot drift from what the tools accept.
#pragma once

#include <string>

namespace docgen {

// docs/parameters.md in full.
std::string parameters_markdown();

// The names block of the bash completion: a bash array of every dictionary name.
std::string completion_names_block();

// Replaces the lines between "# BEGIN <marker>" and "# END <marker>" (both kept) by
// block. False when the markers are missing.
bool replace_block(std::string& text, const std::string& marker, const std::string& block);

}  // namespace docgen
