// Values a parameter's width cannot hold, against a simulated drive: parmpoke and
// the workbench refuse them before anything is written, at each end of each width,
// and what they do take goes in as its two's complement.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_serial_fixture.h"

namespace {

using serialtest::Drive;
using serialtest::Lines;
using testsupport::RunResult;

struct PokeCase {
  const char* name;
  const char* value;
  bool hex;
  // "" where the value is written; else the refusal's text.
  const char* refusal;
  // What parmpeek shows with h afterwards: the bits written, or the preset kept.
  const char* read_back;
};

TEST(WriteLimits, ParmpokeTakesWhatTheWidthHoldsAndRefusesTheRestBeforeWriting) {
  const PokeCase cases[] = {
      // uint and int words: the width read signed or unsigned.
      {"kqp", "65535", false, "", "FFFF"},
      {"kqp", "65536", false, "too big", "04B0"},
      {"kqp", "-1", false, "", "FFFF"},
      {"kqp", "-32768", false, "", "8000"},
      {"kqp", "-32769", false, "too small", "04B0"},
      {"pwm", "-5", false, "", "FFFB"},
      {"pwm", "-70000", false, "too small", "FF88"},
      // ulong and long.
      {"kqi", "4294967295", false, "", "FFFFFFFF"},
      {"kqi", "4294967296", false, "too big", "00011170"},
      {"kqi", "99999999999", false, "too big", "00011170"},
      {"kqi", "-2147483648", false, "", "80000000"},
      {"kqi", "-2147483649", false, "too small", "00011170"},
      {"phasek", "-2147483649", false, "too small", "00030D40"},
      {"phasek", "4294967295", false, "", "FFFFFFFF"},
      // An EEPROM long.
      {"nvkqi", "-2147483648", false, "", "80000000"},
      {"nvkqi", "4294967296", false, "too big", "00011170"},
      // Hexadecimal digits are the bits: beyond the width is too big, never too small.
      {"kqp", "FFFF", true, "", "FFFF"},
      {"kqp", "FFFFFFFFFFFFFFFF", true, "too big", "04B0"},
      {"kqi", "FFFFFFFF", true, "", "FFFFFFFF"},
      {"kqi", "100000000", true, "too big", "00011170"},
      // A double takes anything.
      {"biggercookie", "-9223372036854775808", false, "", "8000000000000000"},
  };
  for (const PokeCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.value + (c.hex ? " h" : ""));
    // A fresh drive each time: what a refused value leaves is the preset.
    Drive drive("ZAL", {});
    ASSERT_TRUE(drive.started());
    std::vector<std::string> args{c.name, c.value};
    if (c.hex) args.push_back("h");
    const RunResult poked = drive.poke(args);
    const std::string refusal = c.refusal;
    if (refusal.empty()) {
      EXPECT_EQ(poked.lines(), Lines{});
      EXPECT_EQ(poked.exit_code, 0);
    } else {
      const std::string message = std::string("Parameter is ").append(refusal).append(" for ").append(c.name);
      EXPECT_EQ(poked.lines(), (Lines{"", message}));
      EXPECT_EQ(poked.exit_code, 2);
    }
    EXPECT_EQ(drive.peek({c.name, "h"}).lines(), Lines{std::string("Data ") + c.read_back});
  }
}

struct SetCase {
  const char* assignment;
  // "" where the workbench writes it; else its refusal on standard error.
  const char* refusal;
};

// The workbench checks the range of the type's sign, which lies within what the
// width holds: whatever it takes, parmpoke takes too.
TEST(WriteLimits, WorkbenchRangesLieWithinTheWidthAtEachEnd) {
  const SetCase cases[] = {
      {"kqp=0", ""},
      {"kqp=65535", ""},
      {"kqp=-1", "-1 is out of range (0 to 65535)"},
      {"kqp=65536", "65536 is out of range (0 to 65535)"},
      {"pwm=-32768", ""},
      {"pwm=32767", ""},
      {"pwm=-32769", "-32769 is out of range (-32768 to 32767 or 0x0000 to 0xFFFF)"},
      {"pwm=32768", "32768 is out of range (-32768 to 32767 or 0x0000 to 0xFFFF)"},
      {"kqi=4294967295", ""},
      {"kqi=4294967296", "4294967296 is out of range (0 to 4294967295)"},
      {"kqi=99999999999", "99999999999 is out of range (0 to 4294967295)"},
      {"phasek=-2147483648", ""},
      {"phasek=2147483647", ""},
      {"phasek=-2147483649", "-2147483649 is out of range (-2147483648 to 2147483647 or 0x00000000 to 0xFFFFFFFF)"},
      {"phasek=2147483648", "2147483648 is out of range (-2147483648 to 2147483647 or 0x00000000 to 0xFFFFFFFF)"},
      {"nvkqi=-2147483648", ""},
      {"nvkqi=2147483648", "2147483648 is out of range (-2147483648 to 2147483647 or 0x00000000 to 0xFFFFFFFF)"},
  };
  Drive drive("ZAL", {});
  ASSERT_TRUE(drive.started());
  for (const SetCase& c : cases) {
    SCOPED_TRACE(c.assignment);
    const std::string assignment = c.assignment;
    const std::string name = assignment.substr(0, assignment.find('='));
    const std::string value = assignment.substr(assignment.find('=') + 1);
    const RunResult set = drive.run("zr90", {"-q", "set", "-y", assignment});
    const std::string refusal = c.refusal;
    if (refusal.empty()) {
      EXPECT_EQ(set.err, "");
      EXPECT_EQ(set.exit_code, 0);
      const RunResult poked = drive.poke({name, value});
      EXPECT_EQ(poked.lines(), Lines{});
      EXPECT_EQ(poked.exit_code, 0);
    } else {
      EXPECT_EQ(set.err, std::string("zr90: ").append(name).append(": ").append(refusal).append("\n"));
      EXPECT_EQ(set.exit_code, 2);
    }
  }
}

}  // namespace
