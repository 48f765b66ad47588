// Texts made from the dictionary, so that the parameter reference and the shell
// completion cannot drift from what the tools accept.
#pragma once

#include <string>
#include <string_view>

namespace docgen {

// docs/parameters.md in full.
std::string parameters_markdown();

// The names block of a completion script: every dictionary name, wrapped, between
// the lines that open and close the script's list of names.
std::string completion_names_block(std::string_view opening, std::string_view closing);

// Replaces the lines between "# BEGIN <marker>" and "# END <marker>" (both kept) by
// block. False when the markers are missing.
bool replace_block(std::string& text, const std::string& marker, const std::string& block);

}  // namespace docgen
