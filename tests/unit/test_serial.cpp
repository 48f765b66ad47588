#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "core/result.h"
#include "serial/serial.h"
#include "support/manual_clock.h"
#include "support/scripted_serial.h"

namespace {

using testsupport::scripted_line;
using Lines = std::vector<std::string>;

// The scripted line's waits run on the test clock.
int64_t now() { return testsupport::test_clock().now_ms(); }
int64_t elapsed_ms(int64_t since) { return now() - since; }

// A line on a fresh scripted device, not yet open.
std::unique_ptr<serial::SerialLine> fresh_line() {
  testsupport::reset_scripted_line();
  return std::make_unique<serial::SerialLine>(testsupport::test_waits(), testsupport::make_scripted_device);
}

struct RateCase {
  int32_t nominal;
  double divisor;
  int32_t line;
};

// Shown in test listings as "115200/1.5->76800".
void PrintTo(const RateCase& c, std::ostream* out) { *out << c.nominal << "/" << c.divisor << "->" << c.line; }

class SerialOpenRate : public testing::TestWithParam<RateCase> {};

TEST_P(SerialOpenRate, DividesAndRoundsHalfToEven) {
  const auto line = fresh_line();
  ASSERT_TRUE(line->open("COM1", GetParam().nominal, GetParam().divisor));
  ASSERT_EQ(scripted_line().rates().size(), 1u);
  EXPECT_EQ(scripted_line().rates()[0], GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Rates, SerialOpenRate,
                         testing::Values(RateCase{2500000, 64, 39062}, RateCase{115200, 1.5, 76800},
                                         RateCase{115200, 3, 38400}, RateCase{115200, 1, 115200},
                                         RateCase{5, 2, 2}, RateCase{7, 2, 4}));

TEST(SerialOpen, FailureNamesThePortAndSaysWhyInTheDetail) {
  const auto line = fresh_line();
  scripted_line().open_fails = true;
  core::Status opened = line->open("COM3", 115200, 1);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().kind, core::FailureKind::open);
  EXPECT_EQ(core::faithful_lines(opened.error()), (Lines{"", "COM3 open failed"}));
  EXPECT_EQ(opened.error().detail, "COM3: not open");
  EXPECT_EQ(scripted_line().opened_names(), std::vector<std::string>{"COM3"});

  const auto other = fresh_line();
  scripted_line().configure_fails = true;
  opened = other->open("COM4", 115200, 1);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().text, "COM4 open failed");

  const auto no_rate = fresh_line();
  opened = no_rate->open("COM5", 115200, 0);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().text, "COM5 open failed");
  EXPECT_NE(opened.error().detail.find("115200"), std::string::npos) << opened.error().detail;
}

TEST(SerialOpen, StaleInputIsDiscardedEvenWhenTheRateIsRefused) {
  const auto line = fresh_line();
  scripted_line().arrive("junk");
  ASSERT_TRUE(line->open("COM1", 115200, 1));
  EXPECT_EQ(scripted_line().unread(), 0u);

  const auto refused = fresh_line();
  scripted_line().configure_fails = true;
  scripted_line().arrive("junk");
  ASSERT_FALSE(refused->open("COM1", 115200, 1));
  EXPECT_EQ(scripted_line().unread(), 0u);
}

TEST(SerialOpen, APortHeldByAnotherLineCannotBeOpenedButReopeningALineCan) {
  const std::unique_ptr<serial::SerialLine> first = testsupport::open_scripted_line();
  ASSERT_TRUE(first);
  serial::SerialLine second(testsupport::test_waits(), testsupport::make_scripted_device);
  EXPECT_FALSE(second.open("COM1", 115200, 1));
  EXPECT_TRUE(first->open("COM1", 115200, 1)) << "the line's earlier port gives the device back";
}

TEST(SerialReceive, CharTimeOutGivesZeroAfterTheSilenceLimit) {
  const std::unique_ptr<serial::SerialLine> line = testsupport::open_scripted_line(50);
  scripted_line().arrive("Q");
  uint8_t c = 0;
  EXPECT_TRUE(line->receive_char(c));
  EXPECT_EQ(c, 'Q');

  c = 7;
  const auto start = now();
  EXPECT_FALSE(line->receive_char(c));
  EXPECT_GE(elapsed_ms(start), 45);
  EXPECT_EQ(c, 0);
}

TEST(SerialReceive, StringTimeOutLosesThePartialString) {
  const std::unique_ptr<serial::SerialLine> line = testsupport::open_scripted_line();
  scripted_line().arrive("AB");
  std::string s = "old";
  EXPECT_FALSE(line->receive_string(3, s));
  EXPECT_EQ(s, "");

  EXPECT_TRUE(line->receive_string(0, s));
  EXPECT_EQ(s, "");

  scripted_line().arrive(std::string("\x00\xFF\r", 3));
  EXPECT_TRUE(line->receive_string(3, s));
  EXPECT_EQ(s, std::string("\x00\xFF\r", 3));
}

TEST(SerialReceive, FailuresReadAsTheFrontEndsShowThem) {
  const core::Failure missed = serial::missed_answer(0x1234);
  EXPECT_EQ(missed.kind, core::FailureKind::missed_answer);
  EXPECT_EQ(missed.value, 0x1234u);
  EXPECT_EQ(core::faithful_lines(missed), (Lines{"", "Serial Timeout Error"}));

  const core::Failure timeout = serial::char_timeout();
  EXPECT_EQ(timeout.kind, core::FailureKind::timeout);
  EXPECT_EQ(core::faithful_lines(timeout), (Lines{"Time out waiting for Character"}));
}

TEST(SerialSend, CharactersGoOutUnchanged) {
  const std::unique_ptr<serial::SerialLine> line = testsupport::open_scripted_line();
  EXPECT_TRUE(line->send_char(0));
  EXPECT_TRUE(line->send_string(std::string("\xFF\x0D\x0A", 3)));
  line->set_rts_high();
  EXPECT_EQ(scripted_line().written(), std::string("\x00\xFF\x0D\x0A", 4));
  EXPECT_EQ(scripted_line().rts_raised(), 1);
}

TEST(SerialTossChars, DiscardsWhatIsStoredAndWaitingButNotWhatComesLater) {
  const std::unique_ptr<serial::SerialLine> line = testsupport::open_scripted_line();
  scripted_line().arrive("XYZ");
  uint8_t c = 0;
  ASSERT_TRUE(line->receive_char(c));  // Y and Z now sit in the receive store
  scripted_line().arrive("more");
  line->toss_chars();
  scripted_line().arrive("N", 5);
  ASSERT_TRUE(line->receive_char(c));
  EXPECT_EQ(c, 'N');
}

TEST(SerialTossChars, ABacklogKeepsWatchingForTheRestOfTheAnswer) {
  const std::unique_ptr<serial::SerialLine> line = testsupport::open_scripted_line();
  scripted_line().arrive(std::string(20, '.'));
  scripted_line().arrive("late", 15);
  EXPECT_TRUE(line->toss_chars());
  uint8_t c = 0;
  EXPECT_FALSE(line->receive_char(c)) << "left over: " << c;
}

TEST(SerialTossChars, QuietLineCostsLittle) {
  const std::unique_ptr<serial::SerialLine> line = testsupport::open_scripted_line();
  const auto start = now();
  EXPECT_TRUE(line->toss_chars());
  EXPECT_LT(elapsed_ms(start), 500);
}

TEST(SerialTossChars, GivesUpOnALineThatNeverStops) {
  const std::unique_ptr<serial::SerialLine> line = testsupport::open_scripted_line();
  scripted_line().endless = true;
  const auto start = now();
  EXPECT_FALSE(line->toss_chars());
  const long took = elapsed_ms(start);
  EXPECT_GE(took, 1900);
  EXPECT_LT(took, 4000);
}

}  // namespace
