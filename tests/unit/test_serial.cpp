#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>

#include "config/config.h"
#include "serial/serial.h"
#include "support/scripted_serial.h"
#include "fatal_capture.h"

namespace {

using testsupport::scripted_line;
using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

struct RateCase {
  int32_t nominal;
  double divisor;
  int32_t line;
};

// Shown in test listings as "115200/1.5->76800".
void PrintTo(const RateCase& c, std::ostream* out) { *out << c.nominal << "/" << c.divisor << "->" << c.line; }

class SerOpenRate : public testing::TestWithParam<RateCase> {};

TEST_P(SerOpenRate, DividesAndRoundsHalfToEven) {
  testsupport::use_scripted_serial();
  config::THEBAUDRATE = GetParam().nominal;
  config::THEBAUDRATEMUL = GetParam().divisor;
  std::string message;
  ASSERT_TRUE(serial::SEROPEN(message));
  EXPECT_EQ(message, " open ok");
  ASSERT_EQ(scripted_line().rates().size(), 1u);
  EXPECT_EQ(scripted_line().rates()[0], GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Rates, SerOpenRate,
                         testing::Values(RateCase{2500000, 64, 39062}, RateCase{115200, 1.5, 76800},
                                         RateCase{115200, 3, 38400}, RateCase{115200, 1, 115200},
                                         RateCase{5, 2, 2}, RateCase{7, 2, 4}));

TEST(SerOpen, FailureNamesThePort) {
  testsupport::use_scripted_serial();
  config::THECOMPORT = "COM3";
  scripted_line().open_fails = true;
  std::string message;
  EXPECT_FALSE(serial::SEROPEN(message));
  EXPECT_EQ(message, "COM3 open failed");
  EXPECT_EQ(scripted_line().opened_names(), std::vector<std::string>{"COM3"});

  testsupport::use_scripted_serial();
  config::THECOMPORT = "COM4";
  scripted_line().configure_fails = true;
  EXPECT_FALSE(serial::SEROPEN(message));
  EXPECT_EQ(message, "COM4 open failed");
}

TEST(SerOpen, SecondOpenFailsBecauseTheFirstStillHoldsTheLine) {
  std::string message;
  ASSERT_TRUE(testsupport::open_scripted_serial());
  EXPECT_FALSE(serial::SEROPEN(message));
  EXPECT_EQ(message, "COM1 open failed");
}

TEST(SerOpen, StaleInputIsDiscarded) {
  testsupport::use_scripted_serial();
  scripted_line().arrive("junk");
  std::string message;
  ASSERT_TRUE(serial::SEROPEN(message));
  EXPECT_EQ(scripted_line().unread(), 0u);
}

TEST(SerRecvChar, TimeOutLeavesErrorSetAndCharZero) {
  ASSERT_TRUE(testsupport::open_scripted_serial());
  scripted_line().arrive("Q");
  uint8_t c = 0;
  EXPECT_TRUE(serial::SERRECVCHAR(c));
  EXPECT_EQ(c, 'Q');
  EXPECT_FALSE(serial::SERERROR);

  c = 7;
  const auto start = Clock::now();
  EXPECT_FALSE(serial::SERRECVCHAR(c));
  EXPECT_GE(elapsed_ms(start), 45);
  EXPECT_EQ(c, 0);
  EXPECT_TRUE(serial::SERERROR);
}

TEST(SerRecvChar, TimeOutEndsTheRunWhenAsked) {
  ASSERT_TRUE(testsupport::open_scripted_serial());
  serial::EXITONTIMEOUT = true;
  const std::string out = unittest::output_of_exit(
      [] {
        uint8_t c = 0;
        serial::SERRECVCHAR(c);
      },
      2);
  EXPECT_EQ(out, "Time out waiting for Character\n");
}

TEST(SerRecvString, TimeOutIsReportedButNeverFatalNorFlagged) {
  ASSERT_TRUE(testsupport::open_scripted_serial());
  serial::EXITONTIMEOUT = true;
  serial::SERERROR = false;
  scripted_line().arrive("AB");
  std::string s = "old";
  EXPECT_FALSE(serial::SERRECVSTRING(3, s));
  EXPECT_EQ(s, "");
  EXPECT_FALSE(serial::SERERROR);

  EXPECT_TRUE(serial::SERRECVSTRING(0, s));
  EXPECT_EQ(s, "");

  scripted_line().arrive(std::string("\x00\xFF\r", 3));
  EXPECT_TRUE(serial::SERRECVSTRING(3, s));
  EXPECT_EQ(s, std::string("\x00\xFF\r", 3));
}

TEST(SerSend, CharactersGoOutUnchanged) {
  ASSERT_TRUE(testsupport::open_scripted_serial());
  serial::SERSENDCHAR(0);
  serial::SERSENDSTRING(std::string("\xFF\x0D\x0A", 3));
  serial::SERSETRTSHIGH();
  EXPECT_EQ(scripted_line().written(), std::string("\x00\xFF\x0D\x0A", 4));
  EXPECT_EQ(scripted_line().rts_raised(), 1);
}

TEST(SerTossChars, DiscardsWhatIsStoredAndWaitingButNotWhatComesLater) {
  ASSERT_TRUE(testsupport::open_scripted_serial());
  scripted_line().arrive("XYZ");
  uint8_t c = 0;
  ASSERT_TRUE(serial::SERRECVCHAR(c));  // Y and Z now sit in the receive store
  scripted_line().arrive("more");
  serial::SERTOSSCHARS();
  scripted_line().arrive("N", 5);
  ASSERT_TRUE(serial::SERRECVCHAR(c));
  EXPECT_EQ(c, 'N');
}

TEST(SerTossChars, ABacklogKeepsWatchingForTheRestOfTheAnswer) {
  ASSERT_TRUE(testsupport::open_scripted_serial());
  scripted_line().arrive(std::string(20, '.'));
  scripted_line().arrive("late", 15);
  EXPECT_TRUE(serial::SERTOSSCHARS());
  uint8_t c = 0;
  EXPECT_FALSE(serial::SERRECVCHAR(c)) << "left over: " << c;
}

TEST(SerTossChars, QuietLineCostsAboutTwoMilliseconds) {
  ASSERT_TRUE(testsupport::open_scripted_serial());
  const auto start = Clock::now();
  EXPECT_TRUE(serial::SERTOSSCHARS());
  EXPECT_LT(elapsed_ms(start), 500);
}

TEST(SerTossChars, GivesUpOnALineThatNeverStops) {
  ASSERT_TRUE(testsupport::open_scripted_serial());
  scripted_line().endless = true;
  const auto start = Clock::now();
  EXPECT_FALSE(serial::SERTOSSCHARS());
  const long took = elapsed_ms(start);
  EXPECT_GE(took, 1900);
  EXPECT_LT(took, 4000);
}

}  // namespace
