#include "drive_motion.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "dictionary/dictionary.h"
#include "drive_model.h"

namespace sim {

namespace {

constexpr double STEP_SECONDS = std::chrono::duration<double>(DriveMotion::STEP).count();

// The motor: L/R of its windings. With the loop's default gains (kqp 1200, kqi
// 70000) the integral's zero sits close to it, so that a step of the setpoint is
// followed along one exponential, to 90 % in about 110 ms.
constexpr double MOTOR_TIME_CONSTANT = 0.12;
const double MOTOR_DECAY = std::exp(-STEP_SECONDS / MOTOR_TIME_CONSTANT);

// The loop's gains as fixed-point numbers: kqp / 512 volts (in current units) per
// unit of error, kqi / 2^23 of that per step added to the integral, which kqil / 16
// bounds. The integral acts on the proportional gain's output (series form), so a
// larger kqp speeds the whole response up and a smaller one slows it down.
constexpr double PROPORTIONAL_SCALE = 512;
constexpr double INTEGRAL_SCALE = 8388608;
constexpr double INTEGRAL_LIMIT_SCALE = 16;
// The most voltage the loop can apply, per unit of bus voltage: enough that the
// gains, not the bus, set how fast the current follows.
constexpr double VOLTAGE_PER_BUS = 4;

// The bus: a stiff supply that sags with the current drawn and ripples at twice a
// 50 Hz mains frequency, with a little noise on every reading.
constexpr double BUS_NOMINAL = 3250;
constexpr double BUS_SAG = 0.1;  // per unit of current
constexpr double RIPPLE_AMPLITUDE = 4;
constexpr double RIPPLE_HZ = 100;
constexpr int BUS_NOISE = 2;

// Losses grow with the square of the current: 1000 units would settle 100 degrees
// above ambient. Seconds rather than minutes, so that a test of the limits is short.
constexpr double HEATING = 1e-4;
constexpr double THERMAL_TIME_CONSTANT = 5;

// The rotor turns with the torque current: 1000 units of iq settle at two electrical
// turns a second, slow enough to see the phase currents swing in a watch.
constexpr double TURNS_PER_CURRENT = 0.002;
constexpr double MECHANICAL_TIME_CONSTANT = 0.5;
constexpr double ANGLE_FULL_TURN = 65536;

// A derating that a sustained current at the limit (currentlimit 1400) outruns: the
// over-temperature fault follows after some seconds.
constexpr uint16_t PRESET_TEMPILIMIT = 80;
constexpr uint16_t PRESET_TEMPISLOPE = 20;

uint16_t at(int32_t location) { return static_cast<uint16_t>(location); }

uint16_t rounded_int(double value) {
  return static_cast<uint16_t>(static_cast<int16_t>(std::clamp(std::round(value), -32768.0, 32767.0)));
}

uint16_t rounded_uint(double value) { return static_cast<uint16_t>(std::clamp(std::round(value), 0.0, 65535.0)); }

bool parse_unsigned(const std::string& text, unsigned long long max, unsigned long long& value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits[0] == '-' || digits[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoull(digits.c_str(), &end, hex ? 16 : 10);
  return errno == 0 && *end == '\0' && value <= max;
}

}  // namespace

bool parse_motion_model(const std::string& text, bool& moving) {
  if (text != "static" && text != "moving") return false;
  moving = text == "moving";
  return true;
}

bool parse_motion_seed(const std::string& text, uint32_t& seed) {
  unsigned long long value = 0;
  if (!parse_unsigned(text, 0xFFFFFFFF, value)) return false;
  seed = static_cast<uint32_t>(value);
  return true;
}

DriveMotion::DriveMotion(uint32_t seed, TimeSource now) : now_(std::move(now)), random_(seed) {}

void DriveMotion::preset(DriveModel& drive) {
  drive.set_ram_word(at(dict::TEMPILIMITLOC), PRESET_TEMPILIMIT);
  drive.set_ram_word(at(dict::TEMPISLOPELOC), PRESET_TEMPISLOPE);
}

void DriveMotion::advance(DriveModel& drive) {
  const Clock::time_point now = now_();
  if (!started_) {
    started_ = true;
    last_ = now;
  }
  pending_ = std::min(pending_ + (now - last_), MAX_CATCH_UP);
  last_ = now;
  Inputs in = read_inputs(drive);
  for (; pending_ >= STEP; pending_ -= STEP) step(in);
  write_outputs(drive, in);
}

DriveMotion::Inputs DriveMotion::read_inputs(const DriveModel& drive) {
  auto word = [&](int32_t location) { return drive.ram_word(at(location)); };
  auto signed_word = [&](int32_t location) { return static_cast<double>(static_cast<int16_t>(word(location))); };
  auto long_word = [&](int32_t location) {
    return static_cast<double>(uint32_t{word(location)} | uint32_t{word(location + 1)} << 16);
  };
  auto gains = [](double p, double i, double limit) {
    return Gains{p / PROPORTIONAL_SCALE, i / INTEGRAL_SCALE, limit / INTEGRAL_LIMIT_SCALE};
  };
  Inputs in;
  in.enabled = word(dict::PIDENALOC) != 0;
  in.d_setpoint = signed_word(dict::DSETPOINTLOC);
  in.q_setpoint = signed_word(dict::QSETPOINTLOC);
  in.d_gains = gains(word(dict::KDPLOC), long_word(dict::KDILOC), word(dict::KDILLOC));
  in.q_gains = gains(word(dict::KQPLOC), long_word(dict::KQILOC), word(dict::KQILLOC));
  in.current_limit = word(dict::CURRENTLIMITLOC);
  in.temp_limit = word(dict::TEMPILIMITLOC);
  in.temp_slope = word(dict::TEMPISLOPELOC);
  in.fault_mask = word(dict::FAULTMASKLOC);
  in.fault = word(dict::FAULTLOC);
  return in;
}

void DriveMotion::step(Inputs& in) {
  // A fault the mask lets through switches the bridge off, as pidena 0 does.
  const bool bridge_on = in.enabled && (in.fault & in.fault_mask) == 0;
  const double limit = current_limit(in);
  double d = in.d_setpoint;
  double q = in.q_setpoint;
  if (const double asked = std::hypot(d, q); asked > limit) {
    d *= limit / asked;
    q *= limit / asked;
  }
  const double voltage_limit = VOLTAGE_PER_BUS * bus_voltage();
  step_axis(d_, d, in.d_gains, bridge_on, voltage_limit);
  step_axis(q_, q, in.q_gains, bridge_on, voltage_limit);

  const double settled = AMBIENT + HEATING * (d_.current * d_.current + q_.current * q_.current);
  temperature_ += (settled - temperature_) * STEP_SECONDS / THERMAL_TIME_CONSTANT;
  speed_ += (TURNS_PER_CURRENT * q_.current - speed_) * STEP_SECONDS / MECHANICAL_TIME_CONSTANT;
  angle_ = std::fmod(angle_ + speed_ * STEP_SECONDS + 1, 1);
  time_ += STEP_SECONDS;
  // Latched, as a drive's fault word is: it stays until the host clears it.
  if (temperature_ > in.temp_limit + OVERTEMP_MARGIN) in.fault |= dict::OVERTEMPFAULT;
}

// currentlimit, lowered by tempislope for every degree past tempilimit.
double DriveMotion::current_limit(const Inputs& in) const {
  const double over = std::max(0.0, temperature_ - in.temp_limit);
  return std::max(0.0, in.current_limit - in.temp_slope * over);
}

bool DriveMotion::limited(const Inputs& in) const {
  return temperature_ > in.temp_limit || (in.enabled && std::hypot(in.d_setpoint, in.q_setpoint) > current_limit(in));
}

void DriveMotion::step_axis(Axis& axis, double reference, const Gains& gains, bool bridge_on,
                            double voltage_limit) const {
  double command = 0;
  if (bridge_on) {
    const double error = reference - axis.current;
    axis.integral = std::clamp(axis.integral + gains.proportional * gains.integral * error, -gains.integral_limit,
                               gains.integral_limit);
    command = std::clamp(gains.proportional * error + axis.integral, -voltage_limit, voltage_limit);
  } else {
    axis.integral = 0;
  }
  // The current moves towards what the voltage of the last step drives.
  axis.current = axis.applied + (axis.current - axis.applied) * MOTOR_DECAY;
  axis.applied = command;
}

double DriveMotion::bus_voltage() const { return BUS_NOMINAL - BUS_SAG * std::hypot(d_.current, q_.current); }

void DriveMotion::write_outputs(DriveModel& drive, const Inputs& in) {
  drive.set_ram_word(at(dict::IDLOC), rounded_int(d_.current));
  drive.set_ram_word(at(dict::IQLOC), rounded_int(q_.current));
  // The phase currents: inverse Park at the rotor's angle, then inverse Clarke.
  const double theta = 2 * std::numbers::pi * angle_;
  const double alpha = d_.current * std::cos(theta) - q_.current * std::sin(theta);
  const double beta = d_.current * std::sin(theta) + q_.current * std::cos(theta);
  const double half_sqrt3 = std::numbers::sqrt3 / 2;
  drive.set_ram_word(at(dict::IULOC), rounded_int(alpha));
  drive.set_ram_word(at(dict::IVLOC), rounded_int(-alpha / 2 + half_sqrt3 * beta));
  drive.set_ram_word(at(dict::IWLOC), rounded_int(-alpha / 2 - half_sqrt3 * beta));
  drive.set_ram_word(at(dict::ANGLELOC), static_cast<uint16_t>(static_cast<uint32_t>(angle_ * ANGLE_FULL_TURN)));
  drive.set_ram_word(at(dict::TEMPERATURELOC), rounded_uint(temperature_));
  const double ripple = RIPPLE_AMPLITUDE * std::sin(2 * std::numbers::pi * RIPPLE_HZ * time_);
  drive.set_ram_word(at(dict::BUSVLOC), rounded_uint(bus_voltage() + ripple + noise()));
  const uint16_t status = drive.ram_word(at(dict::STATUSLOC)) & ~dict::ILIMITEDSTATUS;
  drive.set_ram_word(at(dict::STATUSLOC), static_cast<uint16_t>(status | (limited(in) ? dict::ILIMITEDSTATUS : 0)));
  drive.set_ram_word(at(dict::FAULTLOC), in.fault);
}

// splitmix64: the same sequence for a seed on every platform and library.
int DriveMotion::noise() {
  uint64_t z = (random_ += 0x9E3779B97F4A7C15);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
  z ^= z >> 31;
  return static_cast<int>(z % (2 * BUS_NOISE + 1)) - BUS_NOISE;
}

}  // namespace sim
