#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/result.h"
#include "core/text.h"

namespace {

using namespace core;

TEST(Text, PadWithSpacesFillsButNeverCuts) {
  EXPECT_EQ(PADWITHSPACES("kqp", 19), "kqp" + std::string(16, ' '));
  const std::string long_name = "abcdefghijklmnopqrstuvwx";
  EXPECT_EQ(PADWITHSPACES(long_name, 19), long_name);
  EXPECT_EQ(PADWITHSPACES("kqp", -5), "kqp");
  EXPECT_EQ(PADWITHSPACES("", 1000).size(), SHORTSTRING_MAX);
}

TEST(Text, ScanAndStripAtDelimiter) {
  EXPECT_EQ(SCANTILLCHAR("kqp+4", '+'), 3);
  EXPECT_EQ(SCANTILLCHAR("+4", '+'), 0);
  EXPECT_EQ(SCANTILLCHAR("kqp", '+'), 3);

  std::string rest = "kqp+4";
  EXPECT_EQ(STRIPTILLCHAR(rest, '+'), "kqp");
  EXPECT_EQ(rest, "+4");
  EXPECT_EQ(STRIPTILLCHAR(rest, '+'), "4");
  EXPECT_EQ(rest, "");

  rest = "kqp";
  EXPECT_EQ(STRIPTILLCHAR(rest, '+'), "kqp");
  EXPECT_EQ(rest, "");

  rest = "++kqp++2";
  EXPECT_EQ(STRIPTILLCHAR(rest, '+'), "kqp");
  EXPECT_EQ(rest, "++2");

  rest = "+++";
  EXPECT_EQ(STRIPTILLCHAR(rest, '+'), "");
  EXPECT_EQ(rest, "");
}

TEST(Text, StripTillCharOnTextLongerThanAShortString) {
  std::string rest = std::string(300, 'a') + "+7";
  EXPECT_EQ(STRIPTILLCHAR(rest, '+').size(), 300u);
  EXPECT_EQ(rest, "+7");
}

TEST(Text, UpStringFoldsOnlyAsciiLetters) {
  EXPECT_EQ(UPSTRING("nvFbs_9+x\xe4z"), "NVFBS_9+X\xe4Z");
}

TEST(Text, HexWordRead) {
  uint16_t v = 99;
  EXPECT_TRUE(HEXWORDREAD("", v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(HEXWORDREAD("ff", v));
  EXPECT_EQ(v, 255);
  EXPECT_TRUE(HEXWORDREAD("aBcD", v));
  EXPECT_EQ(v, 0xABCD);
  EXPECT_TRUE(HEXWORDREAD("12345", v));
  EXPECT_EQ(v, 0x2345);
  EXPECT_FALSE(HEXWORDREAD("0x10", v));
  EXPECT_FALSE(HEXWORDREAD("$10", v));
  EXPECT_FALSE(HEXWORDREAD("1 0", v));
  EXPECT_FALSE(HEXWORDREAD("-1", v));
}

TEST(Text, HexWordReadStopsShiftingAfterBadCharacter) {
  uint16_t v = 0;
  // 1 then shift, 2 then shift, 'x' stops shifting, 3 and 4 are added: 0x120 + 3 + 4.
  EXPECT_FALSE(HEXWORDREAD("12x34", v));
  EXPECT_EQ(v, 0x127);
  EXPECT_FALSE(HEXWORDREAD("0x10", v));
  EXPECT_EQ(v, 1);
}

TEST(Text, HexDoubleRead) {
  int64_t v = 0;
  EXPECT_TRUE(HEXDOUBLEREAD("FFFFFFFFFFFFFFFF", v));
  EXPECT_EQ(v, -1);
  EXPECT_TRUE(HEXDOUBLEREAD("1" + std::string(16, '0'), v));
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(HEXDOUBLEREAD("G" + std::string(16, '0'), v));
  EXPECT_TRUE(HEXDOUBLEREAD("123456789abcdef0", v));
  EXPECT_EQ(v, static_cast<int64_t>(0x123456789ABCDEF0));
  EXPECT_TRUE(HEXDOUBLEREAD("8000000000000000", v));
  EXPECT_EQ(v, INT64_MIN);
  EXPECT_TRUE(HEXDOUBLEREAD("100", v));
  EXPECT_EQ(v, 256);
  EXPECT_TRUE(HEXDOUBLEREAD("", v));
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(HEXDOUBLEREAD("0x5", v));
  EXPECT_FALSE(HEXDOUBLEREAD(" 5", v));
}

TEST(Text, HexString) {
  EXPECT_EQ(HEXSTRING(0xFFFFFFFFu, 4), "FFFF");
  EXPECT_EQ(HEXSTRING(10, 2), "0A");
  EXPECT_EQ(HEXSTRING(0x0812, 4), "0812");
  EXPECT_EQ(HEXSTRING(0xDEADBEEF, 8), "DEADBEEF");
  EXPECT_EQ(HEXSTRING(0xDEADBEEF, 0), "");
  EXPECT_EQ(HEXSTRING(0xDEADBEEF, 10), "00DEADBEEF");
}

using Lines = std::vector<std::string>;

TEST(Text, ControlCharactersAreShownAsEscapes) {
  const struct {
    std::string text;
    const char* shown;
  } cases[] = {{"kqp", "kqp"},
               {"a\nb\tc\r", "a\\nb\\tc\\r"},
               {"\x1b[2J\x07", "\\x1B[2J\\x07"},
               {std::string("nul\0end", 7), "nul\\x00end"},
               {"\x7f\xc3\xa9", "\\x7F\xc3\xa9"}};
  for (const auto& c : cases) EXPECT_EQ(core::escaped_controls(c.text), c.shown);
}

TEST(Text, NearestWordsWithinTheEditLimit) {
  const std::string_view words[] = {"get", "set", "watch", "restore", "save"};
  EXPECT_EQ(core::nearest_words("gte", words, 2), (std::vector<std::string>{"get"}));
  EXPECT_EQ(core::nearest_words("sxt", words, 2), (std::vector<std::string>{"set"}));
  EXPECT_EQ(core::nearest_words("st", words, 1), (std::vector<std::string>{"set"}));
  EXPECT_EQ(core::nearest_words("WACH", words, 2), (std::vector<std::string>{"watch"}));
  EXPECT_TRUE(core::nearest_words("frobnicate", words, 2).empty());
  EXPECT_EQ(core::quoted_choices({"a", "b", "c"}), "\"a\", \"b\" or \"c\"");
}

TEST(Failure, FaithfulLinesInEachForm) {
  EXPECT_EQ(faithful_lines(fail(FailureKind::open, "Setup Mode")), (Lines{"", "Setup Mode"}));
  EXPECT_EQ(faithful_lines(fail(FailureKind::timeout, "Time out waiting for Character", FailureForm::alone)),
            (Lines{"Time out waiting for Character"}));
  // The message is a short string like every other text here.
  EXPECT_EQ(faithful_lines(fail(FailureKind::open, std::string(300, 'x'))), (Lines{"", std::string(255, 'x')}));

  Failure dump = fail(FailureKind::module, "Timeout waiting for done", FailureForm::with_register_dump);
  dump.dump = {"Command Port 1004", "Data Port 00"};
  EXPECT_EQ(faithful_lines(dump), (Lines{"Timeout waiting for done", "Command Port 1004", "Data Port 00"}));

  // A transport failure met half-way through a dump keeps what was already due.
  Failure lost = fail(FailureKind::timeout, "Connection timed out");
  lost.lines_before = {"Timeout waiting for done", "Command Port 1004"};
  EXPECT_EQ(faithful_lines(lost), (Lines{"Timeout waiting for done", "Command Port 1004", "", "Connection timed out"}));
}

TEST(Text, SplitAtKeepsEmptyPieces) {
  EXPECT_EQ(core::split_at("a,,b", ','), (Lines{"a", "", "b"}));
  EXPECT_EQ(core::split_at("", ','), (Lines{""}));
  EXPECT_EQ(core::split_at("a,", ','), (Lines{"a", ""}));
  EXPECT_EQ(core::split_at("10.0.0.1", '.'), (Lines{"10", "0", "0", "1"}));
}

}  // namespace
