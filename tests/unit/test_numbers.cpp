#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/numbers.h"

namespace {

using namespace core;

uint32_t unsigned_of(const char* text) {
  uint32_t v = 0xDEADBEEF;
  EXPECT_TRUE(parse_unsigned(text, v)) << text;
  return v;
}

TEST(Numbers, UnsignedForms) {
  EXPECT_EQ(unsigned_of("0"), 0u);
  EXPECT_EQ(unsigned_of("259"), 259u);
  EXPECT_EQ(unsigned_of("+2"), 2u);
  EXPECT_EQ(unsigned_of(" \t 7"), 7u);
  EXPECT_EQ(unsigned_of("$10"), 16u);
  EXPECT_EQ(unsigned_of("0x10"), 16u);
  EXPECT_EQ(unsigned_of("0XfF"), 255u);
  EXPECT_EQ(unsigned_of("x10"), 16u);
  EXPECT_EQ(unsigned_of("X1a"), 26u);
  EXPECT_EQ(unsigned_of("%101"), 5u);
  EXPECT_EQ(unsigned_of("&17"), 15u);
  EXPECT_EQ(unsigned_of("+$10"), 16u);
  EXPECT_EQ(unsigned_of("007"), 7u);
  EXPECT_EQ(unsigned_of("4294967295"), 4294967295u);
  EXPECT_EQ(unsigned_of("$FFFFFFFF"), 4294967295u);
  EXPECT_EQ(unsigned_of("65536"), 65536u);
}

TEST(Numbers, UnsignedRejects) {
  for (const char* bad : {"", " ", "+", "-1", "-0", "++2", "2+2", "$", "0x", "x", "%", "&", "%102",
                          "&8", "$G", "12a", "7 ", "1.0", "4294967296", "$100000000",
                          "99999999999999999999", "$+10", "0x-1", "+ 1"}) {
    uint32_t v = 123;
    EXPECT_FALSE(parse_unsigned(bad, v)) << '"' << bad << '"';
  }
}

TEST(Numbers, SignedFitsInt32) {
  int32_t v = 0;
  EXPECT_TRUE(parse_signed("-7", v));
  EXPECT_EQ(v, -7);
  EXPECT_TRUE(parse_signed(" +$1F", v));
  EXPECT_EQ(v, 31);
  EXPECT_TRUE(parse_signed("2147483647", v));
  EXPECT_EQ(v, INT32_MAX);
  EXPECT_TRUE(parse_signed("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_TRUE(parse_signed("-$80000000", v));
  EXPECT_EQ(v, INT32_MIN);
  for (const char* bad : {"", "-", "2147483648", "-2147483649", "$FFFFFFFF", "--1", "7:", "1e3", "COM1"}) {
    EXPECT_FALSE(parse_signed(bad, v)) << '"' << bad << '"';
  }
}

TEST(Numbers, RealForms) {
  double v = 0;
  EXPECT_TRUE(parse_real("1.5", v));
  EXPECT_DOUBLE_EQ(v, 1.5);
  EXPECT_TRUE(parse_real(" -2e3", v));
  EXPECT_DOUBLE_EQ(v, -2000.0);
  EXPECT_TRUE(parse_real(".5", v));
  EXPECT_DOUBLE_EQ(v, 0.5);
  EXPECT_TRUE(parse_real("5.", v));
  EXPECT_DOUBLE_EQ(v, 5.0);
  EXPECT_TRUE(parse_real("+64", v));
  EXPECT_DOUBLE_EQ(v, 64.0);
  EXPECT_TRUE(parse_real("2.5E-1", v));
  EXPECT_DOUBLE_EQ(v, 0.25);
  for (const char* bad : {"", ".", "-", "e3", "1e", "1e+", "X2", "1.5.2", "1,5", "0x10", "INF", "NAN",
                          "1 ", "1e999"}) {
    EXPECT_FALSE(parse_real(bad, v)) << '"' << bad << '"';
  }
}

struct RoundCase {
  const char* text;
  int64_t value;
};

TEST(Numbers, RoundedHalfToEven) {
  const RoundCase cases[] = {
      {"12.5", 12},      {"13.5", 14},      {"-0.5", 0},        {"-1.5", -2},    {"0.5", 0},
      {"1.5", 2},        {"2.5", 2},        {"2.5000001", 3},   {"2.4999999", 2}, {"-2.5", -2},
      {"-2.51", -3},     {"1e3", 1000},     {"0.00001e5", 1},   {" +7", 7},      {"0", 0},
      {"-0", 0},         {"000123", 123},   {"123.000", 123},   {".5", 0},       {".51", 1},
      {"0.05e1", 0},     {"0.15e1", 2},     {"1e-1", 0},        {"5e-1", 0},     {"6e-1", 1},
      {"1e-999999999999999999999", 0},      {"0e99999999999999999999", 0},
      {"0.000000000000000000000000000000000000000000000000000000000000000000000000000000001e80", 0},
      {"9223372036854775807", INT64_MAX},   {"-9223372036854775808", INT64_MIN},
      {"9223372036854775807.4", INT64_MAX}, {"-9223372036854775808.5", INT64_MIN},
      {"1.23456789012345678e18", 1234567890123456780},
      {"123456789012345678.5", 123456789012345678},
      {"123456789012345679.5", 123456789012345680},
      {"922337203685477580.7e1", INT64_MAX},
  };
  for (const auto& c : cases) {
    int64_t v = 42;
    EXPECT_TRUE(parse_rounded_int64(c.text, v)) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
}

TEST(Numbers, RoundedRejects) {
  for (const char* bad : {"9223372036854775808", "-9223372036854775809", "9223372036854775807.5",
                          "-9223372036854775808.51", "1e19", "99999999999999999999", "1e99999999999999999999",
                          "9999999999999999999.5", "", "-", ".", "1e", "$10", "0x10", "1,5", "12a",
                          "1.2.3", "- 1"}) {
    int64_t v = 0;
    EXPECT_FALSE(parse_rounded_int64(bad, v)) << '"' << bad << '"';
  }
}

TEST(Numbers, RoundedLongTextIsExact) {
  // Far more digits than any floating-point number holds: only exact work gets these right.
  int64_t v = 0;
  EXPECT_TRUE(parse_rounded_int64("2.5" + std::string(400, '0') + "1", v));
  EXPECT_EQ(v, 3);
  EXPECT_TRUE(parse_rounded_int64("2.5" + std::string(400, '0'), v));
  EXPECT_EQ(v, 2);
  EXPECT_TRUE(parse_rounded_int64("0." + std::string(400, '0') + "1e401", v));
  EXPECT_EQ(v, 1);
}

// One parser of port names: the configuration takes any number form, a device only
// plain decimal numbers from 1.
TEST(Numbers, ComPortNames) {
  struct Case {
    const char* name;
    bool parses;
    int32_t number;
    bool plain;
  };
  for (const Case& c : {Case{"COM1", true, 1, true}, Case{"com07", true, 7, true}, Case{"COM123456", true, 123456, true},
                        Case{"COM$1", true, 1, false}, Case{"COM-1", true, -1, false}, Case{"COM0", true, 0, false},
                        Case{"COM1234567", true, 1234567, false}, Case{"COM", false, 0, false},
                        Case{"COMX", false, 0, false}, Case{"CON1", false, 0, false}, Case{"COM7:", false, 0, false}}) {
    const std::optional<core::ComPort> port = core::parse_comport(c.name);
    ASSERT_EQ(port.has_value(), c.parses) << c.name;
    if (!port) continue;
    EXPECT_EQ(port->number, c.number) << c.name;
    EXPECT_EQ(port->plain, c.plain) << c.name;
  }
}

}  // namespace
