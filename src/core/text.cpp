#include "core/text.h"

#include <utility>


namespace core {

namespace {

// Position of c in HEXCHARS after upper-casing, or -1.
int hex_digit_value(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (int i = 0; i < 16; ++i) {
    if (HEXCHARS[i] == c) return i;
  }
  return -1;
}

}  // namespace

std::string shortstring(std::string s) {
  if (s.size() > SHORTSTRING_MAX) s.resize(SHORTSTRING_MAX);
  return s;
}

std::string PADWITHSPACES(const std::string& SSTRING, int16_t PADLENGTH) {
  const long shortfall = static_cast<long>(PADLENGTH) - static_cast<long>(SSTRING.size());
  if (shortfall <= 0) return SSTRING;
  return shortstring(SSTRING + std::string(static_cast<std::size_t>(shortfall), ' '));
}

void STRIPLEADINGCHAR(std::string& ST, char ACHAR) {
  std::size_t n = 0;
  while (n < ST.size() && ST[n] == ACHAR) ++n;
  ST.erase(0, n);
}

uint8_t SCANTILLCHAR(const std::string& ASTR, char ACHAR) {
  std::size_t pos = ASTR.find(ACHAR);
  if (pos == std::string::npos) pos = ASTR.size();
  // A count of a short string always fits; anything longer is held at the limit.
  return static_cast<uint8_t>(pos < SHORTSTRING_MAX ? pos : SHORTSTRING_MAX);
}

std::string STRIPTILLCHAR(std::string& REST, char ACHAR) {
  STRIPLEADINGCHAR(REST, ACHAR);
  // The position is taken in full so that a text longer than a short string still
  // splits at its delimiter instead of at a wrapped count.
  std::size_t n = REST.find(ACHAR);
  if (n == std::string::npos) n = REST.size();
  std::string token = REST.substr(0, n);
  REST.erase(0, n);
  return token;
}

std::string UPSTRING(const std::string& S) {
  std::string up = S;
  for (char& c : up) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return up;
}

bool HEXWORDREAD(const std::string& hexstring, uint16_t& HEXNUMBER) {
  HEXNUMBER = 0;
  bool valid = true;
  for (char c : hexstring) {
    // Once a bad character has been met the shift stops, so later digits pile up in
    // the low nibble; callers that ignore the result see exactly that value.
    if (valid) HEXNUMBER = static_cast<uint16_t>(HEXNUMBER << 4);
    const int digit = hex_digit_value(c);
    if (digit < 0) {
      valid = false;
    } else {
      HEXNUMBER = static_cast<uint16_t>(HEXNUMBER + digit);
    }
  }
  return valid;
}

bool HEXDOUBLEREAD(const std::string& hexstring, int64_t& HEXNUMBER) {
  uint16_t words[4] = {0, 0, 0, 0};
  bool valid = true;
  std::size_t p = 0;  // position counted from the right, 0 for the last character
  for (auto it = hexstring.rbegin(); it != hexstring.rend(); ++it, ++p) {
    const int digit = hex_digit_value(*it);
    if (digit < 0) {
      valid = false;
      continue;
    }
    if (p < 16) {
      uint16_t& word = words[p / 4];
      word = static_cast<uint16_t>(word + (digit << (4 * (p % 4))));
    }
  }
  uint64_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 16) | words[i];
  HEXNUMBER = static_cast<int64_t>(value);
  return valid;
}

std::string HEXSTRING(uint32_t THEDATA, uint8_t NIBBLES) {
  std::string digits;
  for (int shift = 4 * (NIBBLES - 1); shift >= 0; shift -= 4) {
    // Digits above the 32 bits of the value are zero.
    const uint32_t part = shift < 32 ? (THEDATA >> shift) : 0;
    digits += HEXCHARS[part & 15];
  }
  return shortstring(std::move(digits));
}


}  // namespace core
