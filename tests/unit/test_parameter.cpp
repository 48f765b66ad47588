#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "zr90/axes.h"
#include "drive/parameter.h"

namespace {

using namespace zr90;

std::string lookup_message(const char* text) {
  core::Result<drive::Parameter> parameter = drive::find_parameter(text);
  return parameter ? "found " + parameter->name : parameter.error().text;
}

TEST(Zr90Names, LookupIsCaseInsensitiveAndKeepsTheOffsetAsGiven) {
  core::Result<drive::Parameter> kqp = drive::find_parameter("KQP+0x2");
  ASSERT_TRUE(kqp.ok());
  EXPECT_EQ(kqp->name, "kqp+0x2");
  EXPECT_EQ(kqp->address, 0x0814);
  EXPECT_EQ(kqp->location.memory, core::Memory::ram);
  core::Result<drive::Parameter> nv = drive::find_parameter("NVkqp");
  ASSERT_TRUE(nv.ok());
  EXPECT_EQ(nv->name, "nvkqp");
  EXPECT_EQ(nv->location.memory, core::Memory::eeprom);
  EXPECT_FALSE(drive::find_parameter("kqp+x").ok());
}

TEST(Zr90Names, SuggestionsAreTheNearestWithinTwoEdits) {
  // An adjacent transposition is one edit.
  EXPECT_EQ(lookup_message("kpq"), "unknown parameter \"kpq\"; did you mean \"kqp\"?");
  EXPECT_EQ(lookup_message("temperatur"), "unknown parameter \"temperatur\"; did you mean \"temperature\"?");
  EXPECT_EQ(lookup_message("nonsense"), "unknown parameter \"nonsense\"");
  // Equally near names are all listed, in dictionary order, the last after "or".
  const std::vector<std::string> near = drive::nearest_names("kq");
  ASSERT_GE(near.size(), 2u);
  std::string expected = "unknown parameter \"kq\"; did you mean ";
  for (std::size_t i = 0; i < near.size(); ++i) {
    if (i > 0) expected += i + 1 == near.size() ? " or " : ", ";
    expected += "\"" + near[i] + "\"";
  }
  EXPECT_EQ(lookup_message("kq"), expected + "?");
}

// What a lookup gives by the rules: "name at address", "not found" or the failure's text.
std::string looked_up(const char* text, const drive::LookupRules& rules) {
  core::Result<std::optional<drive::Parameter>> found = drive::look_up(text, rules);
  if (!found) return found.error().text;
  if (!*found) return "not found";
  return (*found)->name + " (" + std::string((*found)->row_name) + ") at " + drive::address_text((*found)->address);
}

TEST(ParameterLookup, EachFrontEndTakesNameAndOffsetByItsRules) {
  struct Case {
    const char* text;
    const char* workbench;
    const char* faithful;
  };
  const Case cases[] = {
      {"KQP+2", "kqp+2 (kqp) at 0x0814", "kqp+2 (kqp) at 0x0814"},
      {"kqp+0xFFFF", "kqp+0xFFFF (kqp) at 0x0811", "kqp+0xFFFF (kqp) at 0x0811"},
      // Above 16 bits: refused, or the address wraps.
      {"kqp+0x10000", "bad offset in \"kqp+0x10000\"", "kqp+0x10000 (kqp) at 0x0812"},
      // The old programs read the offset with its plus, which the number form allows once.
      {"kqp++2", "kqp++2 (kqp) at 0x0814", "Can't parse offset"},
      {"++kqp", "bad offset in \"++kqp\"", "kqp (kqp) at 0x0812"},
      {"kqp+", "bad offset in \"kqp+\"", "Can't parse offset"},
      // The offset is read before the name is looked up.
      {"kpq+x", "bad offset in \"kpq+x\"", "Can't parse offset"},
      {"kpq", "unknown parameter \"kpq\"; did you mean \"kqp\"?", "not found"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(looked_up(c.text, drive::WORKBENCH_LOOKUP), c.workbench) << c.text;
    EXPECT_EQ(looked_up(c.text, drive::FAITHFUL_LOOKUP), c.faithful) << c.text;
  }
  // The old programs' message comes after an empty line.
  EXPECT_EQ(core::faithful_lines(drive::look_up("kqp+x", drive::FAITHFUL_LOOKUP).error()),
            (std::vector<std::string>{"", "Can't parse offset"}));
}

std::string value_of(const char* name, const char* text) {
  core::Result<drive::Parameter> parameter = drive::find_parameter(name);
  if (!parameter) return "no such parameter";
  core::Result<uint64_t> value = drive::parse_value(*parameter, text);
  return value ? drive::format_value(parameter->type, *value, true) : value.error().text;
}

TEST(Zr90Values, EachTypeTakesItsRangeInDecimalOrHex) {
  EXPECT_EQ(value_of("kqp", "65535"), "0xFFFF");
  EXPECT_EQ(value_of("kqp", "0xffff"), "0xFFFF");
  EXPECT_EQ(value_of("kqp", "1e3"), "0x03E8");
  EXPECT_EQ(value_of("kqp", "2.5"), "0x0002");  // half to even
  EXPECT_EQ(value_of("kqp", "-1"), "kqp: -1 is out of range (0 to 65535)");
  EXPECT_EQ(value_of("kqp", "65536"), "kqp: 65536 is out of range (0 to 65535)");
  EXPECT_EQ(value_of("kqp", "abc"), "kqp: \"abc\" is not a number (0 to 65535)");
  EXPECT_EQ(value_of("kqp", ""), "kqp: \"\" is not a number (0 to 65535)");
  EXPECT_EQ(value_of("pwm", "-32768"), "0x8000");
  // A negative value is the bits of its width, as a read gives it back.
  EXPECT_EQ(*drive::parse_value(*drive::find_parameter("nvkqi"), "-7"), 0xFFFFFFF9u);
  EXPECT_EQ(value_of("pwm", "0x8000"), "0x8000");
  EXPECT_EQ(value_of("pwm", "32768"), "pwm: 32768 is out of range (-32768 to 32767 or 0x0000 to 0xFFFF)");
  EXPECT_EQ(value_of("kqi", "4294967295"), "0xFFFFFFFF");
  EXPECT_EQ(value_of("kqi", "0x100000000"), "kqi: 0x100000000 is out of range (0 to 4294967295)");
  EXPECT_EQ(value_of("phasek", "-2147483648"), "0x80000000");
  EXPECT_EQ(value_of("phasek", "2147483648"),
            "phasek: 2147483648 is out of range (-2147483648 to 2147483647 or 0x00000000 to 0xFFFFFFFF)");
  EXPECT_EQ(value_of("biggercookie", "-9223372036854775808"), "0x8000000000000000");
  EXPECT_EQ(value_of("biggercookie", "0xFFFFFFFFFFFFFFFF"), "0xFFFFFFFFFFFFFFFF");
}

TEST(Zr90Values, PrintedSignedWhereTheTypeIs) {
  const drive::Parameter pwm = *drive::find_parameter("pwm");
  EXPECT_EQ(drive::format_value(pwm.type, 0xFF88, false), "-120");
  EXPECT_EQ(drive::signed_value(pwm.type, 0xFF88), -120);
  const drive::Parameter kqi = *drive::find_parameter("kqi");
  EXPECT_EQ(drive::format_value(kqi.type, 0xFFFFFFFF, false), "4294967295");
  const drive::Parameter big = *drive::find_parameter("biggercookie");
  EXPECT_EQ(drive::format_value(big.type, ~uint64_t{0}, false), "-1");
}

TEST(Zr90Axes, ListsRangesAndAll) {
  using Axes = std::vector<uint8_t>;
  EXPECT_EQ(parse_axes("2"), Axes({2}));
  EXPECT_EQ(parse_axes("5,0,2"), Axes({0, 2, 5}));
  EXPECT_EQ(parse_axes("0-3,2"), Axes({0, 1, 2, 3}));
  EXPECT_EQ(parse_axes("all"), Axes({0, 1, 2, 3, 4, 5, 6, 7}));
  for (const char* bad : {"", "8", "3-1", "1,", "-1", "x", "0-8", "1 2", "all,1"}) {
    EXPECT_FALSE(parse_axes(bad).has_value()) << bad;
  }
  EXPECT_EQ(axes_text({2, 5}), "2,5");
}

}  // namespace
