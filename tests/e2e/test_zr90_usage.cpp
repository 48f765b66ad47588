// zr90's command line as a new user meets it: the help, a mistyped command, a
// missing argument and output options that do not fit the command. None of these
// opens a link: the environment names none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/harness.h"

namespace {

using testsupport::RunResult;

RunResult zr90(const std::vector<std::string>& args) { return testsupport::run_tool("zr90", args, {}); }

TEST(Zr90Usage, MistakesAreNamedWithTheirFix) {
  const struct {
    std::vector<std::string> args;
    std::string message;  // the first line on standard error
  } cases[] = {
      {{"gte", "kqp"}, "zr90: unknown command \"gte\"; did you mean \"get\"?"},
      {{"-a", "2", "--ip", "10.0.0.1", "wach", "kqp"}, "zr90: unknown command \"wach\"; did you mean \"watch\"?"},
      {{"frobnicate"}, "zr90: unknown command \"frobnicate\""},
      {{"help", "restor"}, "zr90: unknown command \"restor\"; did you mean \"restore\"?"},
      {{}, "zr90: a command is required: list, get, set, watch, faults, save, diff, restore, completion, help"},
      {{"diff"}, "zr90: diff: FILE is required"},
      {{"get"}, "zr90: get: NAME is required"},
      {{"--csv", "faults"}, "zr90: --csv does not apply to faults; faults takes --json"},
      {{"--csv", "list"}, "zr90: --csv does not apply to list; list takes --json"},
      {{"--value", "set", "kqp=1"}, "zr90: --value does not apply to set; set takes --json, --hex"},
      {{"--hex", "save"}, "zr90: --hex does not apply to save; save takes no output option"},
      {{"--json", "--csv", "get", "kqp"}, "zr90: give one of --json, --csv and --value"},
      {{"--value", "--csv", "get", "kqp"}, "zr90: give one of --json, --csv and --value"},
  };
  for (const auto& c : cases) {
    const RunResult r = zr90(c.args);
    EXPECT_EQ(r.exit_code, 2) << c.message;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.message);
    EXPECT_EQ(r.out, "") << c.message;
  }
  // A missing argument comes with the command's usage, as its help writes it.
  EXPECT_NE(zr90({"diff"}).err.find("\nUsage: zr90 diff [OPTIONS] FILE [OTHER]\n"), std::string::npos);
}

TEST(Zr90Usage, AListPatternThatMatchesNothingSaysSo) {
  const RunResult r = zr90({"list", "kq"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "zr90: no parameter name matches \"kq\"; try \"kq*\"\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(zr90({"list", "kq*"}).exit_code, 0);
}

TEST(Zr90Usage, HelpListsTheCommandsAndEachCommandsUsageStartsWithZr90) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"help"}, {"--help"}}) {
    const RunResult r = zr90(args);
    EXPECT_EQ(r.exit_code, 0);
    for (const char* command : {"list", "get", "set", "watch", "faults", "save", "diff", "restore", "completion"}) {
      EXPECT_NE(r.out.find("\n  " + std::string(command) + " "), std::string::npos) << command;
    }
  }
  for (const char* command : {"get", "restore", "diff"}) {
    const RunResult r = zr90({"help", command});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("Usage: zr90 " + std::string(command) + " "), std::string::npos) << r.out;
  }
}

}  // namespace
