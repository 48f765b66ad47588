// Values a parameter's width cannot hold, against a simulated drive: parmpoke and
// the workbench refuse them before anything is written, and what they take goes in
// as its two's complement.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_serial_fixture.h"

namespace {

using serialtest::Drive;
using serialtest::Lines;
using testsupport::RunResult;

TEST(WriteLimits, ParmpokeWritesTheTwosComplementAndLeavesARefusedValueUnwritten) {
  const struct {
    std::vector<std::string> args;
    const char* refusal;  // "" where the value is written
    const char* read_back;  // parmpeek h afterwards: the bits written, or the preset kept
  } cases[] = {
      {{"pwm", "-5"}, "", "FFFB"},
      {{"kqp", "-1"}, "", "FFFF"},
      {{"kqi", "-2147483648"}, "", "80000000"},
      {{"pwm", "-70000"}, "too small", "FF88"},
      {{"kqi", "99999999999"}, "too big", "00011170"},
      {{"nvkqi", "-2147483649"}, "too small", "00011170"},
      {{"kqi", "100000000", "h"}, "too big", "00011170"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    Drive drive("ZAL", {});
    ASSERT_TRUE(drive.started());
    const RunResult poked = drive.poke(c.args);
    const std::string refusal = c.refusal;
    const Lines refused{"", std::string("Parameter is ").append(refusal).append(" for ").append(c.args[0])};
    EXPECT_EQ(poked.lines(), refusal.empty() ? Lines{} : refused);
    EXPECT_EQ(poked.exit_code, refusal.empty() ? 0 : 2);
    EXPECT_EQ(drive.peek({c.args[0], "h"}).lines(), Lines{std::string("Data ") + c.read_back});
  }
}

// The workbench checks the range of the type's sign, which lies within what the
// width holds: the last value it takes parmpoke takes too, and it refuses the next.
TEST(WriteLimits, WorkbenchRangesLieWithinTheWidthAtEachEnd) {
  const struct {
    const char* name;
    const char* inside;
    const char* outside;
    const char* range;
  } cases[] = {
      {"kqp", "65535", "65536", "0 to 65535"},
      {"kqp", "0", "-1", "0 to 65535"},
      {"pwm", "-32768", "-32769", "-32768 to 32767 or 0x0000 to 0xFFFF"},
      {"kqi", "4294967295", "4294967296", "0 to 4294967295"},
      {"phasek", "-2147483648", "-2147483649", "-2147483648 to 2147483647 or 0x00000000 to 0xFFFFFFFF"},
      {"nvkqi", "2147483647", "2147483648", "-2147483648 to 2147483647 or 0x00000000 to 0xFFFFFFFF"},
  };
  Drive drive("ZAL", {});
  ASSERT_TRUE(drive.started());
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.inside + " " + c.outside);
    const std::string name = c.name;
    const RunResult taken = drive.run("zr90", {"-q", "set", "-y", name + "=" + c.inside});
    EXPECT_EQ(taken.exit_code, 0) << taken.err;
    EXPECT_EQ(drive.poke({name, c.inside}).exit_code, 0);
    const RunResult refused = drive.run("zr90", {"-q", "set", "-y", name + "=" + c.outside});
    EXPECT_EQ(refused.err, "zr90: " + name + ": " + c.outside + " is out of range (" + c.range + ")\n");
    EXPECT_EQ(refused.exit_code, 2);
  }
}

}  // namespace
