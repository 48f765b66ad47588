// Watch's records away from a terminal: the wall-clock column, and the SVG charts
// of a watch (--svg) and of its recorded CSV (zr90 plot).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/harness.h"

namespace {

using testsupport::Env;
using testsupport::RunResult;

Env direct() { return {{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "DIRECT"}}; }

RunResult zr90(const std::vector<std::string>& args) { return testsupport::run_tool("zr90", args, direct()); }

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// The points of each polyline, by its series.
std::vector<std::pair<std::string, std::size_t>> polylines(const std::string& svg) {
  std::vector<std::pair<std::string, std::size_t>> lines;
  const std::regex polyline("<polyline data-series=\"([^\"]*)\"[^>]* points=\"([^\"]*)\"");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), polyline); it != std::sregex_iterator(); ++it) {
    lines.emplace_back((*it)[1].str(), occurrences((*it)[2].str(), ","));
  }
  return lines;
}

// Parsed by an XML reader where python3 is there; the structure is checked either way.
void expect_xml(const std::string& path) {
  if (std::system("python3 -c 'import xml.dom.minidom' 2>/dev/null") != 0) return;
  const std::string check = "python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' " + path;
  EXPECT_EQ(std::system(check.c_str()), 0) << path << " is not well-formed XML";
}

class Chart : public testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::running_windows_build()) GTEST_SKIP() << "files checked with POSIX tools";
  }
  std::string path(const std::string& name) { return testsupport::temp_path("chart") + name; }
};

TEST_F(Chart, TimestampsComeFirstAsUtcToTheMillisecond) {
  const std::string stamp = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z";
  const struct {
    std::vector<std::string> args;
    std::string header;
    std::string row;  // a regular expression
  } cases[] = {
      {{"--csv"}, "time,ms,kqp,busv", stamp + ",\\d+,0,0"},
      {{}, "                    time        ms       kqp      busv", stamp + " +\\d+ +0 +0"},
      {{"--json"}, "", "\\{\"time\":\"" + stamp + "\",\"ms\":\\d+,\"values\":.*"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"-q", "watch", "kqp", "busv", "--count", "3", "--interval", "10", "--timestamps"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = zr90(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> lines = r.lines();
    if (!c.header.empty()) {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.front(), c.header);
      lines.erase(lines.begin());
    }
    ASSERT_EQ(lines.size(), 3u) << r.out;
    for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, std::regex(c.row))) << line;
  }
}

// The chart --svg writes is the one plot makes of the CSV of the same run.
TEST_F(Chart, WatchWritesAChartOfEverySampleAndPlotMakesItFromTheCsv) {
  const std::string svg = path(".svg");
  const RunResult r = zr90({"-q", "watch", "kqp", "busv", "--csv", "--count", "7", "--interval", "5", "--svg", svg});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.lines().size(), 8u) << "the CSV as without --svg";
  const std::string chart = testsupport::read_file(svg);
  const std::vector<std::pair<std::string, std::size_t>> expected{{"kqp", 7}, {"busv", 7}};
  EXPECT_EQ(polylines(chart), expected);
  EXPECT_NE(chart.find(">busv</text>"), std::string::npos) << "the legend";
  expect_xml(svg);
  const std::string csv = path(".csv");
  std::ofstream(csv) << r.out;
  ASSERT_EQ(zr90({"plot", csv, "-o", svg}).exit_code, 0);
  EXPECT_EQ(testsupport::read_file(svg), chart);
  EXPECT_EQ(zr90({"plot", csv}).out, chart) << "standard output without -o";
  std::filesystem::remove(csv);
  std::filesystem::remove(svg);
}

TEST_F(Chart, RefusalsComeBeforeAnythingIsRead) {
  const std::string csv = path(".csv");
  {
    std::ofstream out(csv);
    out << "kqp\n1\n";
  }
  const struct {
    std::vector<std::string> args;
    std::string error;  // the start of standard error
  } cases[] = {
      {{"watch", "kqp", "--plot"}, "zr90: --plot draws on a terminal"},
      {{"watch", "kqp", "--count", "1", "--svg", "/"}, "zr90: cannot write /: it is a folder; nothing read"},
      {{"watch", "kqp", "--count", "1", "--svg", "/nonexistent-folder/x.svg"},
       "zr90: cannot write /nonexistent-folder/x.svg"},
      {{"plot", csv}, "zr90: " + csv + ": line 1: not the header"},
      {{"plot", "/nonexistent-folder/x.csv"}, "zr90: /nonexistent-folder/x.csv: cannot be read"},
      {{"--json", "plot", csv}, "zr90: --json does not apply to plot"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const RunResult r = zr90(c.args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err.rfind(c.error, 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  std::filesystem::remove(csv);
}

}  // namespace
