#include "core/numbers.h"

#include <charconv>
#include <cstddef>
#include <limits>
#include <string>
#include <system_error>

namespace core {

namespace {

std::string_view skip_blanks(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  return text.substr(i);
}

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The digits after any sign: a base prefix, then a non-empty run of digits of that
// base and nothing else. Values above the 32-bit range fail.
bool parse_magnitude(std::string_view text, uint32_t& value) {
  unsigned base = 10;
  if (!text.empty() && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && (text[0] == 'x' || text[0] == 'X')) {
    base = 16;
    text.remove_prefix(1);
  } else if (!text.empty() && text[0] == '%') {
    base = 2;
    text.remove_prefix(1);
  } else if (!text.empty() && text[0] == '&') {
    base = 8;
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  uint64_t acc = 0;
  for (char c : text) {
    const int d = digit_value(c);
    if (d < 0 || static_cast<unsigned>(d) >= base) return false;
    acc = acc * base + static_cast<unsigned>(d);
    if (acc > std::numeric_limits<uint32_t>::max()) return false;
  }
  value = static_cast<uint32_t>(acc);
  return true;
}

// A decimal real number taken apart: the value is (negative ? -1 : 1) * digits * 10^exponent.
struct DecimalParts {
  bool negative = false;
  std::string digits;    // significant digits, no leading or trailing zeros; empty for zero
  int64_t exponent = 0;
};

// Written exponents are held at this size: far beyond any value that can fit, and
// small enough that adding the count of fraction digits cannot overflow.
constexpr int64_t EXPONENT_LIMIT = 1'000'000'000;

std::size_t count_digits(std::string_view text, std::size_t from) {
  std::size_t i = from;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  return i - from;
}

// Checks the form (blanks, sign, digits, optional fraction, optional exponent, at least
// one mantissa digit, nothing after) and returns the text without blanks and plus sign.
bool check_real_form(std::string_view text, std::string_view& body, bool& negative) {
  text = skip_blanks(text);
  negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  std::size_t i = 0;
  const std::size_t int_digits = count_digits(text, i);
  i += int_digits;
  std::size_t frac_digits = 0;
  if (i < text.size() && text[i] == '.') {
    frac_digits = count_digits(text, i + 1);
    i += 1 + frac_digits;
  }
  if (int_digits + frac_digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    const std::size_t exp_digits = count_digits(text, j);
    if (exp_digits == 0) return false;
    i = j + exp_digits;
  }
  if (i != text.size()) return false;
  body = text;
  return true;
}

bool split_decimal(std::string_view text, DecimalParts& parts) {
  std::string_view body;
  if (!check_real_form(text, body, parts.negative)) return false;
  std::string digits;
  int64_t exponent = 0;
  const std::size_t point = body.find('.');
  std::size_t i = 0;
  for (; i < body.size() && body[i] != 'e' && body[i] != 'E'; ++i) {
    if (i == point) continue;
    digits += body[i];
    if (point != std::string_view::npos && i > point) --exponent;  // a fraction digit
  }
  if (i < body.size()) {
    ++i;  // the 'e'
    bool exp_negative = false;
    if (body[i] == '+' || body[i] == '-') exp_negative = body[i++] == '-';
    int64_t written = 0;
    for (; i < body.size(); ++i) {
      written = written * 10 + (body[i] - '0');
      if (written > EXPONENT_LIMIT) written = EXPONENT_LIMIT;
    }
    exponent += exp_negative ? -written : written;
  }
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    parts.digits.clear();
    parts.exponent = 0;
    return true;
  }
  const std::size_t last = digits.find_last_not_of('0');
  exponent += static_cast<int64_t>(digits.size() - 1 - last);
  parts.digits = digits.substr(first, last - first + 1);
  parts.exponent = exponent;
  return true;
}

// Rounds digits * 10^exponent to an integer, a half to the even
// neighbour. Fails when the integer part has more than 19 digits.
bool round_to_magnitude(const DecimalParts& parts, uint64_t& magnitude) {
  const int64_t n = static_cast<int64_t>(parts.digits.size());
  const int64_t int_len = n + parts.exponent;  // digits in front of the decimal point
  if (int_len > 19) return false;
  uint64_t whole = 0;
  if (parts.exponent >= 0) {
    for (char c : parts.digits) whole = whole * 10 + static_cast<uint64_t>(c - '0');
    for (int64_t k = 0; k < parts.exponent; ++k) whole *= 10;
    magnitude = whole;
    return true;
  }
  for (int64_t k = 0; k < int_len; ++k) {
    whole = whole * 10 + static_cast<uint64_t>(parts.digits[static_cast<std::size_t>(k)] - '0');
  }
  // The fraction starts with -int_len implied zeros when int_len is negative.
  const int first_fraction = int_len < 0 ? 0 : parts.digits[static_cast<std::size_t>(int_len)] - '0';
  // Trailing zeros were stripped, so any digit after the first fraction digit is non-zero.
  const bool more_after_first = int_len < 0 || n - int_len > 1;
  bool round_up = false;
  if (first_fraction > 5 || (first_fraction == 5 && more_after_first)) {
    round_up = true;
  } else if (first_fraction == 5) {
    round_up = (whole % 2) == 1;
  }
  magnitude = whole + (round_up ? 1 : 0);
  return true;
}

}  // namespace

bool parse_unsigned(std::string_view text, uint32_t& value) {
  text = skip_blanks(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  return parse_magnitude(text, value);
}

bool parse_signed(std::string_view text, int32_t& value) {
  text = skip_blanks(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  uint32_t magnitude = 0;
  if (!parse_magnitude(text, magnitude)) return false;
  const uint32_t limit = negative ? 2147483648u : 2147483647u;
  if (magnitude > limit) return false;
  value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
  return true;
}

bool parse_real(std::string_view text, double& value) {
  std::string_view body;
  bool negative = false;
  if (!check_real_form(text, body, negative)) return false;
  double magnitude = 0.0;
  const auto result = std::from_chars(body.data(), body.data() + body.size(), magnitude);
  if (result.ec != std::errc() || result.ptr != body.data() + body.size()) return false;
  value = negative ? -magnitude : magnitude;
  return true;
}

bool parse_rounded_int64(std::string_view text, int64_t& value) {
  DecimalParts parts;
  if (!split_decimal(text, parts)) return false;
  if (parts.digits.empty()) {
    value = 0;
    return true;
  }
  uint64_t magnitude = 0;
  if (!round_to_magnitude(parts, magnitude)) return false;
  constexpr uint64_t max_positive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (parts.negative) {
    if (magnitude > max_positive + 1) return false;
    value = magnitude == max_positive + 1 ? std::numeric_limits<int64_t>::min()
                                          : -static_cast<int64_t>(magnitude);
  } else {
    if (magnitude > max_positive) return false;
    value = static_cast<int64_t>(magnitude);
  }
  return true;
}

std::optional<ComPort> parse_comport(std::string_view name) {
  if (name.size() < 3) return std::nullopt;
  for (std::size_t i = 0; i < 3; ++i) {
    if ((name[i] & ~0x20) != "COM"[i]) return std::nullopt;
  }
  const std::string_view digits = name.substr(3);
  ComPort port;
  if (!parse_signed(digits, port.number)) return std::nullopt;
  constexpr std::size_t MAX_PORT_DIGITS = 6;
  port.plain = !digits.empty() && digits.size() <= MAX_PORT_DIGITS && port.number >= 1 &&
               digits.find_first_not_of("0123456789") == std::string_view::npos;
  return port;
}

}  // namespace core
