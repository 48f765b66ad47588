// Number forms of the command line and the environment.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace core {

// Unsigned form: optional blanks or tabs, optional '+', then decimal digits, or hex
// digits after "$", "0x" or "x", binary after "%", octal after "&". Fails on a minus
// sign, any other character, an empty digit run, or a value wider than 32 bits.
bool parse_unsigned(std::string_view text, uint32_t& value);

// Signed form: as parse_unsigned but with an optional '+' or '-' sign; the value
// must fit a signed 32-bit integer.
bool parse_signed(std::string_view text, int32_t& value);

// Decimal real number: optional blanks, optional sign, digits, optional fraction,
// optional exponent ("1.5", "-2e3", ".5").
bool parse_real(std::string_view text, double& value);

// A decimal real number rounded to the nearest integer, a half to the even
// neighbour, computed exactly (no floating point). Fails when the text is not such
// a number or the result lies outside the signed 64-bit range.
bool parse_rounded_int64(std::string_view text, int64_t& value);

// A serial port name: "COM" in any letter case, then a number in one of the signed
// forms above. `plain` tells whether the number is written as one to six decimal
// digits with a value from 1: the only names a device can be opened by.
struct ComPort {
  int32_t number = 0;
  bool plain = false;
};
std::optional<ComPort> parse_comport(std::string_view name);

}  // namespace core
