// The simulator's moving drive seen through zr90: iq follows a step of its setpoint,
// on a drive of its own and on a channel of the card.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/harness.h"
#include "test_card_fixture.h"

namespace {

using Args = std::vector<std::string>;
using Zr90 = std::function<testsupport::RunResult(const Args&)>;

// A sixth of the preloaded kqp: iq takes about 700 ms to 90 %, so that the watch
// sees it rise however long the programs take to start.
void expect_iq_rises(const Zr90& zr90, const Args& axis) {
  Args set = axis, watch = axis;
  set.insert(set.end(), {"set", "-y", "kqp=200", "pidena=1", "qsetpoint=1000"});
  ASSERT_EQ(zr90(set).exit_code, 0);
  watch.insert(watch.end(), {"watch", "iq", "--csv", "--count", "20", "--interval", "20"});
  const testsupport::RunResult r = zr90(watch);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const Args lines = r.lines();
  ASSERT_EQ(lines.size(), 21u);
  std::vector<int> iq;
  for (std::size_t i = 1; i < lines.size(); ++i) iq.push_back(std::stoi(lines[i].substr(lines[i].find(',') + 1)));
  for (std::size_t i = 1; i < iq.size(); ++i) EXPECT_GE(iq[i], iq[i - 1]) << "sample " << i;
  EXPECT_GT(iq.back(), iq.front());
  EXPECT_GT(iq.back(), 300);
  EXPECT_LE(iq.back(), 1000);
}

TEST(MovingDrive, IqFollowsAStepOnADriveOfItsOwn) {
  testsupport::Simulator sim({"drive", "--model", "moving"});
  ASSERT_TRUE(sim.started());
  testsupport::Env env = testsupport::com_port_env(testsupport::unique_com_number(), sim.ready_value());
  env.insert({{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "ZAL"}, {"BAUDRATE", "115200"}, {"BAUDRATEMUL", "1"}});
  // Each run once the drive has read all the last one sent: a tool's flush of the
  // line on opening it would drop the rest.
  expect_iq_rises(
      [&](const Args& args) {
        EXPECT_TRUE(sim.settle());
        return testsupport::run_tool("zr90", args, env);
      },
      {"-q"});
}

TEST(MovingDrive, IqFollowsAStepOnAChannelOfTheCard) {
  auto card = cardtest::udp_card({"--model", "moving", "--seed", "5"});
  ASSERT_TRUE(card->sim && card->sim->started());
  expect_iq_rises([&](const Args& args) { return testsupport::run_tool("zr90", args, card->env); }, {"-q", "-a", "3"});
}

}  // namespace
