// The simulator's moving drive, run at CPU speed on a clock of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "dictionary/dictionary.h"
#include "sim/drive_model.h"
#include "sim/drive_options.h"

namespace {

using namespace std::chrono_literals;

// Reached as a host reaches it, through ZAL transactions, so that every access
// steps the model as far as the test's clock has moved.
class Drive {
 public:
  explicit Drive(bool moving = true) {
    if (moving) model_.set_motion(std::make_unique<sim::DriveMotion>(1, [this] { return now_; }));
  }
  Drive(const Drive&) = delete;  // the model's clock is this object's
  Drive& operator=(const Drive&) = delete;

  int read(int32_t location) {
    uint64_t value = 0;
    model_.execute(0x45, static_cast<uint16_t>(location), 0, value);
    return static_cast<int16_t>(value);
  }
  unsigned bits(int32_t location, unsigned mask) { return static_cast<uint16_t>(read(location)) & mask; }
  void write(int32_t location, int value) {
    uint64_t unused = 0;
    model_.execute(0x65, static_cast<uint16_t>(location), static_cast<uint16_t>(value), unused);
  }
  void wait(sim::DriveMotion::Clock::duration d) { now_ += d; }

 private:
  sim::DriveModel model_;
  sim::DriveMotion::Clock::time_point now_{};
};

TEST(DriveMotion, ALargerKqpFollowsAStepFaster) {
  struct Case {
    int kqp;
    int max_ms;  // to 90 % of the step
    bool overshoots;
  };
  // 1200 is the preloaded gain; near 65535 the loop's one-step delay shows.
  const Case cases[] = {
      {150, 3000, false}, {600, 400, false}, {1200, 200, false}, {4800, 60, false}, {65535, 20, true},
  };
  int slower_ms = 1 << 30;
  for (const Case& c : cases) {
    SCOPED_TRACE("kqp " + std::to_string(c.kqp));
    Drive drive;
    drive.write(dict::KQPLOC, c.kqp);
    drive.write(dict::QSETPOINTLOC, 1000);
    int ms = 0;
    for (; ms <= 3000 && drive.read(dict::IQLOC) < 900; ++ms) drive.wait(1ms);
    EXPECT_LE(ms, c.max_ms);
    EXPECT_LT(ms, slower_ms);
    slower_ms = ms;
    int peak = 0;
    for (int i = 0; i < 500; ++i, drive.wait(1ms)) peak = std::max(peak, drive.read(dict::IQLOC));
    EXPECT_EQ(peak > 1020, c.overshoots) << "peak " << peak;
    // The phases sum to nothing and carry the whole current.
    const double u = drive.read(dict::IULOC), v = drive.read(dict::IVLOC), w = drive.read(dict::IWLOC);
    EXPECT_NEAR(u + v + w, 0, 2);
    EXPECT_NEAR(std::sqrt(2.0 / 3 * (u * u + v * v + w * w)), std::abs(drive.read(dict::IQLOC)), 3);
  }
}

TEST(DriveMotion, NothingMovesWhileTheLoopIsOff) {
  Drive drive;
  drive.write(dict::PIDENALOC, 0);
  drive.write(dict::QSETPOINTLOC, 1000);
  drive.wait(1s);
  EXPECT_EQ(drive.read(dict::IQLOC), 0);
  EXPECT_EQ(drive.read(dict::TEMPERATURELOC), 35);
  // A value the model owns is the model's again at the next access.
  drive.write(dict::IQLOC, 5);
  EXPECT_EQ(drive.read(dict::IQLOC), 0);
}

TEST(DriveMotion, ASustainedCurrentIsLimitedThenTrips) {
  Drive drive;
  drive.write(dict::QSETPOINTLOC, 1400);
  std::optional<int> limited_at, fault_at;
  for (int ms = 0; ms < 60000 && !fault_at; ms += 100, drive.wait(100ms)) {
    if (!limited_at && drive.bits(dict::STATUSLOC, dict::ILIMITEDSTATUS)) limited_at = ms;
    if (drive.bits(dict::FAULTLOC, dict::OVERTEMPFAULT)) fault_at = ms;
  }
  ASSERT_TRUE(limited_at && fault_at);
  EXPECT_LT(*limited_at, *fault_at);
  // The fault switches the bridge off and stays until cleared.
  drive.wait(2s);
  EXPECT_EQ(drive.read(dict::IQLOC), 0);
  EXPECT_TRUE(drive.bits(dict::FAULTLOC, dict::OVERTEMPFAULT));
}

TEST(DriveMotion, TheStaticDriveKeepsItsValues) {
  sim::DriveOptions options;
  std::string error;
  ASSERT_TRUE(sim::parse_drive_options({"--model", "static", "--seed", "9"}, options, error)) << error;
  Drive drive(options.motion.moving);
  drive.write(dict::QSETPOINTLOC, 1000);
  drive.wait(5s);
  const std::pair<int32_t, int> preloaded[] = {
      {dict::IQLOC, 0}, {dict::IULOC, -12}, {dict::BUSVLOC, 3250},
      {dict::STATUSLOC, 1}, {dict::TEMPERATURELOC, 35}, {dict::TEMPILIMITLOC, 0},
  };
  for (const auto& [location, value] : preloaded) EXPECT_EQ(drive.read(location), value) << location;
  EXPECT_FALSE(sim::parse_drive_options({"--model", "fast"}, options, error));
  EXPECT_FALSE(sim::parse_drive_options({"--seed", "4294967296"}, options, error));
}

}  // namespace
