// Short-string helpers shared by both programs: padding, splitting at a delimiter,
// case folding, hexadecimal reading and printing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// Names, messages and frames are short strings: at most 255 characters.
inline constexpr std::size_t SHORTSTRING_MAX = 255;
inline constexpr char HEXCHARS[] = "0123456789ABCDEF";

// Cuts a composed text to the short-string limit.
std::string shortstring(std::string s);

std::string PADWITHSPACES(const std::string& SSTRING, int16_t PADLENGTH);
void STRIPLEADINGCHAR(std::string& ST, char ACHAR);
uint8_t SCANTILLCHAR(const std::string& ASTR, char ACHAR);
std::string STRIPTILLCHAR(std::string& REST, char ACHAR);
std::string UPSTRING(const std::string& S);

bool HEXWORDREAD(const std::string& hexstring, uint16_t& HEXNUMBER);
bool HEXDOUBLEREAD(const std::string& hexstring, int64_t& HEXNUMBER);

std::string HEXSTRING(uint32_t THEDATA, uint8_t NIBBLES);

// Edits between two words, letter case ignored, a swap of neighbours counting as
// one edit (optimal string alignment).
std::size_t edit_distance(std::string_view a, std::string_view b);

// The candidates nearest to text, at most max_edits away; empty when none is. What a
// mistyped word probably meant.
std::vector<std::string> nearest_words(std::string_view text, std::span<const std::string_view> candidates,
                                       std::size_t max_edits);

// The text with its control characters written as escapes (\n, \t, \x1B, ...), so that
// text from a file or the wire shown in a message cannot steer a terminal.
std::string escaped_controls(std::string_view text);

// "a", "b" or "c"
std::string quoted_choices(const std::vector<std::string>& words);

// The pieces of text between the delimiters, empty ones included: "a,,b" gives "a",
// "", "b"; "" gives one empty piece.
std::vector<std::string> split_at(std::string_view text, char delimiter);

}  // namespace core
