// Short-string helpers shared by both programs: padding, splitting at a delimiter,
// case folding, hexadecimal reading and printing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

}  // namespace core
