// A drive that moves: its current loop, the motor it drives, the motor's temperature
// and the bus voltage, stepped in simulated time whenever a host reads or writes the
// drive. Illustrative only: the scaling is chosen so that tuning the loop with the
// tools shows an effect within a fraction of a second, not to match a real drive.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace sim {

class DriveModel;

// Which drive the simulator plays: one whose values stay as preloaded or written
// (static, the default), or one that moves.
struct MotionOptions {
  bool moving = false;
  uint32_t seed = 1;  // of the bus voltage's noise
};

// "static" or "moving"; a seed from 0 to 4294967295. False for anything else.
bool parse_motion_model(const std::string& text, bool& moving);
bool parse_motion_seed(const std::string& text, uint32_t& seed);

class DriveMotion {
 public:
  using Clock = std::chrono::steady_clock;
  using TimeSource = std::function<Clock::time_point()>;

  // The loop's period, and the most simulated time one access catches up: after a
  // longer pause the model goes on as if it had been paused for the excess.
  static constexpr Clock::duration STEP = std::chrono::milliseconds(1);
  static constexpr Clock::duration MAX_CATCH_UP = std::chrono::seconds(30);

  // Ambient temperature, and how far past tempilimit the over-temperature fault
  // comes, in degrees.
  static constexpr double AMBIENT = 35;
  static constexpr double OVERTEMP_MARGIN = 20;

  // A test passes a clock of its own, to run simulated time at CPU speed.
  explicit DriveMotion(uint32_t seed, TimeSource now = Clock::now);

  // Registers only the moving drive uses (tempilimit, tempislope), set when the
  // motion is attached: the static drive leaves them 0.
  static void preset(DriveModel& drive);
  // Runs the drive from the last call up to now, in whole steps, and writes what it
  // modelled into its RAM. The first call only starts the clock.
  void advance(DriveModel& drive);

 private:
  // One current-loop axis (d or q): the current, the loop's integral term and the
  // voltage it computed, both in current units (the current the voltage drives once
  // settled). The voltage computed in one step is applied in the next, as a drive's
  // PWM does, which is what makes a very large gain overshoot.
  struct Axis {
    double current = 0;
    double integral = 0;
    double applied = 0;
  };
  struct Gains {
    double proportional = 0;
    double integral = 0;  // per step
    double integral_limit = 0;
  };
  // The registers the model reads, taken once per advance; the fault word changes
  // as it steps.
  struct Inputs {
    bool enabled = false;
    double d_setpoint = 0;
    double q_setpoint = 0;
    Gains d_gains;
    Gains q_gains;
    double current_limit = 0;
    double temp_limit = 0;
    double temp_slope = 0;
    uint16_t fault_mask = 0;
    uint16_t fault = 0;
  };

  static Inputs read_inputs(const DriveModel& drive);
  void step(Inputs& in);
  double current_limit(const Inputs& in) const;
  // The status word's ILIMITEDSTATUS: derated by temperature, or asked for more than the limit.
  bool limited(const Inputs& in) const;
  void step_axis(Axis& axis, double reference, const Gains& gains, bool bridge_on, double voltage_limit) const;
  void write_outputs(DriveModel& drive, const Inputs& in);
  double bus_voltage() const;
  int noise();

  TimeSource now_;
  bool started_ = false;
  Clock::time_point last_{};
  Clock::duration pending_{};  // elapsed time not yet stepped: less than one step
  double time_ = 0;            // simulated seconds
  Axis d_;
  Axis q_;
  double temperature_ = AMBIENT;
  double speed_ = 0;  // electrical turns per second
  double angle_ = 0;  // electrical turns, 0 to 1
  uint64_t random_;
};

}  // namespace sim
