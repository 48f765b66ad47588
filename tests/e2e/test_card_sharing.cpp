// Programs sharing one simulated card, and replies that arrive twice: no program
// may report a value that was not the reply to its own request, nor fail because
// another program used the card at the same time.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_card_fixture.h"

namespace {

using cardtest::Lines;
using testsupport::RunResult;
using testsupport::ToolProcess;

const char ZR90[] = "zr90";

testsupport::Env with_rate(testsupport::Env env) {
  env["BAUDRATE"] = "2500000";
  return env;
}

// A CSV row with a cell left empty: a read that failed.
bool has_empty_cell(const std::string& row) {
  return row.find(",,") != std::string::npos || (!row.empty() && row.back() == ',');
}

// A watch on four channels runs while zr90 and parmpoke write one of them by
// turns: every write and every sample succeeds, and the last value written holds.
TEST(CardSharing, AWatchSetsAndParmpokeShareOneCard) {
  auto card = cardtest::udp_card();
  ASSERT_TRUE(card->sim->started());
  const testsupport::Env env = with_rate(card->env);
  ToolProcess watch(ZR90, {"-a", "0-3", "watch", "kqp", "iq", "--interval", "0", "--csv"}, env);
  ASSERT_TRUE(watch.wait_for_lines(3));
  std::string last;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    last = std::to_string(1300 + round);
    RunResult set = testsupport::run_tool(ZR90, {"-a", "2", "set", "kqp=" + last}, env);
    EXPECT_EQ(set.exit_code, 0) << set.err;
    RunResult poke = testsupport::run_tool("parmpoke", {"kqp", std::to_string(1400 + round), "2"}, env);
    EXPECT_EQ(poke.exit_code, 0) << poke.out;
    if (round % 2 == 1) last = std::to_string(1400 + round);
    else {
      RunResult again = testsupport::run_tool(ZR90, {"-a", "2", "set", "kqp=" + last}, env);
      EXPECT_EQ(again.exit_code, 0) << again.err;
    }
  }
  watch.interrupt();
  const Lines rows = watch.finish().lines();
  ASSERT_GT(rows.size(), 3u);
  // The row the interrupt cut short is left out.
  for (std::size_t i = 1; i + 1 < rows.size(); ++i) EXPECT_FALSE(has_empty_cell(rows[i])) << rows[i];
  RunResult held = testsupport::run_tool(ZR90, {"-a", "2", "get", "kqp", "--value"}, env);
  EXPECT_EQ(held.lines(), Lines{last});
}

// A reply sent twice, the copy at once or a few milliseconds later, at places all
// through the set-up and the reads: each command either gives the values a clean
// card gives, or fails; never a wrong value with success.
TEST(CardSharing, ALateDuplicateReplyNeverGivesAWrongValue) {
  const std::string file = testsupport::temp_path("saved");
  const std::vector<std::vector<std::string>> commands = {
      {"-a", "2", "get", "kqp", "busv", "pwm", "kqi", "nvbaudrate"},
      {"-q", "-a", "2", "save", file},
  };
  // What the command gave: its output, or the file it saved.
  const auto result = [&](const std::vector<std::string>& command, const testsupport::Env& env) {
    RunResult r = testsupport::run_tool(ZR90, command, env);
    if (r.exit_code == 0 && command[3] == "save") r.out = testsupport::read_file(file);
    std::remove(file.c_str());
    return r;
  };
  const auto strip_time = [](const Lines& lines) {
    Lines kept;
    for (const std::string& line : lines)
      if (line.find("saved_at") == std::string::npos && line.find("\"ip\"") == std::string::npos) kept.push_back(line);
    return kept;
  };
  for (const std::vector<std::string>& command : commands) {
    auto clean = cardtest::udp_card();
    ASSERT_TRUE(clean->sim->started());
    RunResult reference = result(command, with_rate(clean->env));
    ASSERT_EQ(reference.exit_code, 0) << reference.err;
    int successes = 0;
    for (const int read : {2, 150, 272, 275, 278, 281, 284, 290, 300}) {
      for (const int ms : {0, 2, 20}) {
        SCOPED_TRACE(command[2] + " " + command[3] + ": reply " + std::to_string(read) + " twice, " + std::to_string(ms) + " ms apart");
        auto card = cardtest::udp_card({"--fault", "dup=" + std::to_string(read) + ":" + std::to_string(ms)});
        ASSERT_TRUE(card->sim->started());
        RunResult r = result(command, with_rate(card->env));
        if (r.exit_code != 0) continue;
        ++successes;
        EXPECT_EQ(strip_time(r.lines()), strip_time(reference.lines()));
      }
    }
    // Repeating an access whose replies slipped makes most runs succeed.
    EXPECT_GT(successes, 20);
  }
}

}  // namespace
