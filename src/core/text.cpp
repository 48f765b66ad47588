#include "core/text.h"

#include <algorithm>
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


namespace {

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::size_t edit_distance(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  const std::size_t m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = fold(a[i - 1]) == fold(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && fold(a[i - 1]) == fold(b[j - 2]) && fold(a[i - 2]) == fold(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[n][m];
}

std::vector<std::string> nearest_words(std::string_view text, std::span<const std::string_view> candidates,
                                       std::size_t max_edits) {
  std::size_t best = max_edits + 1;
  std::vector<std::string> words;
  for (std::string_view candidate : candidates) {
    const std::size_t d = edit_distance(text, candidate);
    if (d > best) continue;
    if (d < best) words.clear();
    best = d;
    if (std::find(words.begin(), words.end(), candidate) == words.end()) words.emplace_back(candidate);
  }
  return words;
}

std::string escaped_controls(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      shown += c;
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else {
      shown += "\\x";
      shown += HEXCHARS[byte >> 4];
      shown += HEXCHARS[byte & 0xF];
    }
  }
  return shown;
}

std::string quoted_choices(const std::vector<std::string>& words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? " or " : ", ";
    text += '"' + words[i] + '"';
  }
  return text;
}

std::vector<std::string> split_at(std::string_view text, char delimiter) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(delimiter, start);
    pieces.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return pieces;
    start = end + 1;
  }
}

}  // namespace core
