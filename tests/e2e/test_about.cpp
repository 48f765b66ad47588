// -h/--help and -V/--version: answered only when they are the one argument, on
// standard output with exit code 0, before the environment or the link is looked
// at; any other command line keeps the answer it always had.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dictionary/dictionary.h"
#include "support/harness.h"

namespace {

using testsupport::Env;
using testsupport::run_tool;

const std::vector<std::string> TOOLS = {"parmpeek", "parmpoke"};

// Every variable that chooses the link: a user reading --help must find each one.
const std::vector<std::string> LINK_VARIABLES = {"INTERFACE", "PROTOCOL", "COMPORT",
                                                 "BAUDRATE",  "BAUDRATEMUL", "IPADDR"};

// A link that would fail at once if it were opened: the answers must not need it.
Env dead_link() {
  return {{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "ZAL"}, {"COMPORT", "COM9"},
          {"ZR90_COM9", "/nonexistent/zr90-port"}};
}

std::string version_line(const std::string& program) {
  return program + " " ZR90_EXPECTED_VERSION " (ZR90 service tools)";
}

TEST(AboutHelp, UsageFlagsAndEnvironmentOnStandardOutput) {
  for (const auto& tool : TOOLS) {
    for (const std::string option : {"-h", "--help"}) {
      // Without any environment: parmpoke reads it before its arguments otherwise.
      for (const Env& env : {Env{}, dead_link()}) {
        SCOPED_TRACE(tool + " " + option);
        const auto result = run_tool(tool, {option}, env);
        EXPECT_EQ(result.exit_code, 0);
        const auto lines = result.lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].rfind("Usage: " + tool + " parm ", 0), 0u) << lines[0];
        for (const auto& variable : LINK_VARIABLES)
          EXPECT_NE(result.out.find("  " + variable + " "), std::string::npos) << variable;
        EXPECT_EQ(result.out.find("Press return"), std::string::npos);
        EXPECT_EQ(result.out.find("No such parameter"), std::string::npos);
      }
    }
  }
}

TEST(AboutHelp, NamesTheFlagsOfEachTool) {
  const auto peek = run_tool("parmpeek", {"--help"}, {});
  for (const std::string flag : {"  h ", "  r ", "  a ", "  axis "})
    EXPECT_NE(peek.out.find(flag), std::string::npos) << flag;
  const auto poke = run_tool("parmpoke", {"--help"}, {});
  for (const std::string flag : {"  h ", "  r ", "  data ", "  axis "})
    EXPECT_NE(poke.out.find(flag), std::string::npos) << flag;
}

TEST(AboutVersion, OneLineWithTheProjectVersion) {
  for (const auto& tool : TOOLS) {
    for (const std::string option : {"-V", "--version"}) {
      SCOPED_TRACE(tool + " " + option);
      const auto result = run_tool(tool, {option}, dead_link());
      EXPECT_EQ(result.lines(), std::vector<std::string>{version_line(tool)});
      EXPECT_EQ(result.exit_code, 0);
    }
  }
}

TEST(AboutVersion, SimulatorHasTheSameVersion) {
  if (testsupport::running_windows_build()) GTEST_SKIP() << "zr90sim is a Linux program";
  const auto result = run_tool("zr90sim", {"--version"}, {});
  EXPECT_EQ(result.lines(), std::vector<std::string>{version_line("zr90sim")});
  EXPECT_EQ(result.exit_code, 0);
}

// The options are recognised only alone and only in these spellings: with another
// argument, or spelt otherwise, the word is a parameter name as it always was and
// the answer is the one any unknown name gets.
TEST(AboutOnlyAlone, OtherCommandLinesKeepTheirAnswer) {
  const Env direct{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "DIRECT"}};
  const std::vector<std::vector<std::string>> peek_lines = {
      {"--help", "h"}, {"-V", "2"}, {"--version", "a"}, {"-H"}, {"--HELP"}, {"-v"}, {"-help"}, {"--help="}};
  for (const auto& args : peek_lines) {
    SCOPED_TRACE("parmpeek " + args[0] + (args.size() > 1 ? " " + args[1] : ""));
    auto with_unknown = args;
    with_unknown[0] = "nosuch";
    const auto expected = run_tool("parmpeek", with_unknown, direct, "\n\n");
    const auto result = run_tool("parmpeek", args, direct, "\n\n");
    auto expected_lines = expected.lines();
    ASSERT_FALSE(expected_lines.empty());
    expected_lines[0] = "No such parameter: " + args[0];
    EXPECT_EQ(result.lines(), expected_lines);
    EXPECT_EQ(result.exit_code, 2);
  }
  // parmpoke with one argument other than the options: the usage line, as before.
  const auto usage = run_tool("parmpoke", {"-H"}, direct);
  EXPECT_EQ(usage.lines(), (std::vector<std::string>{"Usage: parmpoke parm data [axis] [q] [h]", ""}));
  EXPECT_EQ(usage.exit_code, 2);
  const auto value = run_tool("parmpoke", {"--version", "5"}, direct, "\n\n");
  ASSERT_FALSE(value.lines().empty());
  EXPECT_EQ(value.lines()[0], "No such parameter: --version");
  EXPECT_EQ(value.exit_code, 2);
}

// The rule above is safe only while no dictionary name starts with '-'.
TEST(AboutOnlyAlone, NoParameterNameLooksLikeAnOption) {
  for (const auto& row : dict::ZORNPARAMS) EXPECT_NE(row.PARMNAME[0], '-') << row.PARMNAME;
}

}  // namespace
