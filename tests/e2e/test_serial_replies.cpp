// Replies that are not what was asked, from a simulated drive: a stray byte after a
// good reply answers nothing later, and a text reply that is not four hexadecimal
// digits and CR is a failed read, shown with the value as read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_serial_fixture.h"

namespace {

using serialtest::Drive;
using serialtest::Lines;
using testsupport::RunResult;

struct StrayCase {
  const char* protocol;
  // The reply the stray byte follows: the link check of ZAL is one cookie read, of
  // the text protocol three exchanges (x, x, II).
  const char* stray;
  const char* tool;
  std::vector<std::string> args;
  Lines expected;
};

TEST(SerialReplies, AStrayByteAfterAReplyDoesNotShiftTheNextOnes) {
  const StrayCase cases[] = {
      {"ZAL", "stray=1", "parmpeek", {"kqp"}, {"Data  1200"}},
      {"ZAL", "stray=1", "parmpeek", {"kqi"}, {"Data      70000"}},
      {"ZAL", "stray=2", "zr90", {"-q", "get", "kqp", "kqi", "pwm"}, {"kqp 1200", "kqi 70000", "pwm -120"}},
      {"HEX", "stray=4", "parmpeek", {"kqi"}, {"Data      70000"}},
      {"HEX", "stray=5", "parmpeek", {"biggercookie", "h"}, {"Data 123456789ABCDEF0"}},
      {"HEX", "stray=4", "zr90", {"-q", "get", "kqp", "kqi", "pwm"}, {"kqp 1200", "kqi 70000", "pwm -120"}},
  };
  for (const StrayCase& c : cases) {
    SCOPED_TRACE(std::string(c.protocol) + " " + c.stray + " " + c.tool + " " + c.args.back());
    Drive drive(c.protocol, {"--fault", c.stray});
    ASSERT_TRUE(drive.started());
    const RunResult r = drive.run(c.tool, c.args);
    EXPECT_EQ(r.lines(), c.expected);
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }
}

struct GarbledCase {
  const char* reply;
  // parmpeek's line of the value as read.
  const char* data;
};

TEST(SerialReplies, ATextReplyThatIsNotFourHexDigitsAndCrIsAFailedRead) {
  const GarbledCase cases[] = {
      {"ZZZZ", "Data     0"},
      {"12G4", "Data   292"},   // the digits up to the bad one, then the last
      {"12", "Data     0"},     // short: the fourth character never comes
      {"12345", "Data  4660"},  // a fifth digit where CR belongs
  };
  for (const GarbledCase& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.reply + "\"");
    // The fourth exchange is parmpeek's read.
    Drive drive("HEX", {"--fault", std::string("garble=4:") + c.reply});
    ASSERT_TRUE(drive.started());
    const RunResult garbled = drive.peek({"kqp"});
    EXPECT_EQ(garbled.lines(), (Lines{c.data, "", "Serial Timeout Error"}));
    EXPECT_EQ(garbled.exit_code, 2);
    const RunResult next = drive.peek({"kqp"});
    EXPECT_EQ(next.lines(), Lines{"Data  1200"});
    EXPECT_EQ(next.exit_code, 0);
  }
}

}  // namespace
