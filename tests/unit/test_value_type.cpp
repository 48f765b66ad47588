// The value types: each type's limits as the workbench and parmpoke apply them, and
// a value's way from text through the drive's bits back to text in both front ends.
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <utility>
#include <string>

#include "drive/value_type.h"

namespace {

using dict::PARAMETERTYPE;

struct TypeCase {
  PARAMETERTYPE type;
  const char* name;
  core::Memory memory;
  core::Width width;
  // The workbench: its decimal range, and the nearest values it refuses ("" where
  // the number itself is out of reach).
  const char* lowest;
  const char* highest;
  const char* below;
  const char* above;
  // parmpoke's lowest and highest data value, and what parmpeek shows of the -1 it
  // writes: decimal, hex.
  std::optional<std::pair<int64_t, int64_t>> data_range;
  const char* minus_one;
  const char* minus_one_hex;
};

constexpr auto RAM = core::Memory::ram;
constexpr auto EEPROM = core::Memory::eeprom;
using core::Width;

constexpr auto BYTE_DATA = std::pair<int64_t, int64_t>{-128, 255};
constexpr auto WORD_DATA = std::pair<int64_t, int64_t>{-32768, 65535};
constexpr auto LONG_DATA = std::pair<int64_t, int64_t>{-2147483648LL, 4294967295LL};

const TypeCase VALUE_TYPES[] = {
    {PARAMETERTYPE::TYPE_BYTE, "byte", RAM, Width::byte, "0", "255", "-1", "256", BYTE_DATA, "255", "FF"},
    {PARAMETERTYPE::TYPE_PTR, "ptr", RAM, Width::word, "0", "65535", "-1", "65536", WORD_DATA, "65535", "FFFF"},
    {PARAMETERTYPE::TYPE_FLAG, "flag", RAM, Width::word, "0", "65535", "-1", "65536", WORD_DATA, "65535", "FFFF"},
    {PARAMETERTYPE::TYPE_MASK, "mask", RAM, Width::word, "0", "65535", "-1", "65536", WORD_DATA, "65535", "FFFF"},
    {PARAMETERTYPE::TYPE_UINT, "uint", RAM, Width::word, "0", "65535", "-1", "65536", WORD_DATA, "65535", "FFFF"},
    {PARAMETERTYPE::TYPE_INT, "int", RAM, Width::word, "-32768", "32767", "-32769", "32768", WORD_DATA, "   -1", "FFFF"},
    {PARAMETERTYPE::TYPE_ULONG, "ulong", RAM, Width::long_word, "0", "4294967295", "-1", "4294967296", LONG_DATA,
     "4294967295", "FFFFFFFF"},
    {PARAMETERTYPE::TYPE_LONG, "long", RAM, Width::long_word, "-2147483648", "2147483647", "-2147483649", "2147483648",
     LONG_DATA, "        -1", "FFFFFFFF"},
    {PARAMETERTYPE::TYPE_DOUBLE, "double", RAM, Width::double_word, "-9223372036854775808", "9223372036854775807", "",
     "", std::nullopt, "                  -1", "FFFFFFFFFFFFFFFF"},
    {PARAMETERTYPE::TYPE_EBYTE, "ebyte", EEPROM, Width::byte, "0", "255", "-1", "256", BYTE_DATA, "255", "FF"},
    {PARAMETERTYPE::TYPE_EWORD, "eword", EEPROM, Width::word, "0", "65535", "-1", "65536", WORD_DATA, "65535", "FFFF"},
    {PARAMETERTYPE::TYPE_ELONG, "elong", EEPROM, Width::long_word, "-2147483648", "2147483647", "-2147483649",
     "2147483648", LONG_DATA, "        -1", "FFFFFFFF"},
};

std::string workbench_round_trip(PARAMETERTYPE type, const std::string& text, bool hex) {
  const core::Result<uint64_t> bits = drive::parse_bits(type, text);
  return bits ? drive::format_value(type, *bits, hex) : bits.error().text;
}

TEST(ValueTypes, EachTypeKeepsItsLimitsInBothFrontEnds) {
  for (const TypeCase& c : VALUE_TYPES) {
    SCOPED_TRACE(c.name);
    const drive::ValueType& t = drive::value_type(c.type);
    EXPECT_EQ(t.name, c.name);
    const std::optional<core::Location> location = drive::location_of(c.type, 0x0812);
    ASSERT_TRUE(location.has_value());
    EXPECT_EQ(location->width, c.width);
    EXPECT_EQ(location->address, 0x0812);
    EXPECT_EQ(location->memory, c.memory);

    // The workbench: both ends of the range read back as written, the next values
    // out are refused, and every bit pattern of the width goes in as 0x.
    EXPECT_EQ(workbench_round_trip(c.type, c.lowest, false), c.lowest);
    EXPECT_EQ(workbench_round_trip(c.type, c.highest, false), c.highest);
    for (const std::string out : {c.below, c.above}) {
      if (out.empty()) continue;
      EXPECT_EQ(workbench_round_trip(c.type, out, false),
                out + " is out of range (" + drive::range_text(c.type) + ")");
    }
    const std::string all_ones = "0x" + std::string(c.minus_one_hex);
    EXPECT_EQ(workbench_round_trip(c.type, all_ones, true), all_ones);
    if (c.width != Width::double_word) {
      EXPECT_FALSE(drive::parse_bits(c.type, "0x1" + std::string(c.minus_one_hex)).ok());
    }

    // parmpoke takes both ends of what the width holds and refuses the next values
    // out; it writes -1 as the bits of the width, and parmpeek shows them.
    const std::optional<drive::DataRange> range = drive::data_range(c.type);
    ASSERT_EQ(range.has_value(), c.data_range.has_value());
    if (range) {
      EXPECT_EQ(range->lowest, c.data_range->first);
      EXPECT_EQ(range->highest, c.data_range->second);
      EXPECT_EQ(drive::data_fit(c.type, range->lowest, false), drive::DataFit::fits);
      EXPECT_EQ(drive::data_fit(c.type, range->highest, false), drive::DataFit::fits);
      EXPECT_EQ(drive::data_fit(c.type, range->lowest - 1, false), drive::DataFit::too_small);
      EXPECT_EQ(drive::data_fit(c.type, range->highest + 1, false), drive::DataFit::too_big);
    }
    const std::optional<int64_t> minus_one = drive::read_data_value("-1", false);
    ASSERT_EQ(minus_one, -1);
    const uint64_t bits = core::width_bits(c.width, static_cast<uint64_t>(*minus_one));
    EXPECT_EQ(drive::data_text(c.type, bits, false), c.minus_one);
    EXPECT_EQ(drive::data_text(c.type, bits, true), c.minus_one_hex);
    EXPECT_EQ(drive::read_data_value(c.minus_one_hex, true), static_cast<int64_t>(bits));
  }
}

TEST(ValueTypes, TypesWithNoSingleValueAreNeitherReadNorWritten) {
  for (PARAMETERTYPE type : {PARAMETERTYPE::TYPE_EVENT, PARAMETERTYPE::TYPE_TRIPLE, PARAMETERTYPE::TYPE_LIT,
                             PARAMETERTYPE::TYPE_CONST, PARAMETERTYPE::TYPE_ENUM, PARAMETERTYPE::TYPE_BYTETABLE,
                             PARAMETERTYPE::TYPE_WORDTABLE}) {
    SCOPED_TRACE(drive::type_name(type));
    EXPECT_EQ(drive::value_type(type).width, 0);
    EXPECT_FALSE(drive::location_of(type, 0).has_value());
    EXPECT_FALSE(drive::data_range(type).has_value());
  }
  EXPECT_EQ(drive::value_type(PARAMETERTYPE::TYPE_TRIPLE).size, 12);
  EXPECT_EQ(drive::value_type(static_cast<PARAMETERTYPE>(200)).name, "?");
}

// parmpoke's hexadecimal data is the bits: bits beyond the width are too big, and a
// pattern with the top bit of sixteen digits set is no negative number. A double
// takes anything.
TEST(ValueTypes, ParmpokeReadsHexadecimalDataAsBits) {
  struct HexCase {
    PARAMETERTYPE type;
    const char* digits;
    drive::DataFit fit;
  };
  const HexCase cases[] = {
      {PARAMETERTYPE::TYPE_BYTE, "00FF", drive::DataFit::fits},
      {PARAMETERTYPE::TYPE_BYTE, "100", drive::DataFit::too_big},
      {PARAMETERTYPE::TYPE_INT, "FFFF", drive::DataFit::fits},
      {PARAMETERTYPE::TYPE_UINT, "8000000000000000", drive::DataFit::too_big},
      {PARAMETERTYPE::TYPE_ELONG, "FFFFFFFF", drive::DataFit::fits},
      {PARAMETERTYPE::TYPE_ULONG, "100000000", drive::DataFit::too_big},
      {PARAMETERTYPE::TYPE_DOUBLE, "FFFFFFFFFFFFFFFF", drive::DataFit::fits},
  };
  for (const HexCase& c : cases) {
    SCOPED_TRACE(drive::type_name(c.type) + " " + c.digits);
    const std::optional<int64_t> value = drive::read_data_value(c.digits, true);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(drive::data_fit(c.type, *value, true), c.fit);
  }
  for (int64_t any : {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()}) {
    EXPECT_EQ(drive::data_fit(PARAMETERTYPE::TYPE_DOUBLE, any, false), drive::DataFit::fits);
  }
}

TEST(ValueTypes, ParmpeekRightAlignsDecimalsAndKeepsWiderNumbersWhole) {
  EXPECT_EQ(drive::data_text(PARAMETERTYPE::TYPE_UINT, 7, false), "    7");
  EXPECT_EQ(drive::data_text(PARAMETERTYPE::TYPE_INT, 0x8000, false), "-32768");
  // What the link did not trim is trimmed to the width before it is shown.
  EXPECT_EQ(drive::data_text(PARAMETERTYPE::TYPE_BYTE, 0x1FF, false), "255");
  EXPECT_EQ(drive::data_text(PARAMETERTYPE::TYPE_EWORD, 0x12345, true), "2345");
}

TEST(ValueTypes, WidthBitsKeepOnlyTheWidth) {
  EXPECT_EQ(core::width_bits(Width::byte, 0x1234), 0x34u);
  EXPECT_EQ(core::width_bits(Width::word, ~uint64_t{0}), 0xFFFFu);
  EXPECT_EQ(core::width_bits(Width::long_word, 0x123456789), 0x23456789u);
  EXPECT_EQ(core::width_bits(Width::double_word, ~uint64_t{0}), ~uint64_t{0});
}

}  // namespace
