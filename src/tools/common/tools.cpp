#include "tools/common/tools.h"

#include <cstdio>

#include "core/numbers.h"
#include "core/text.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "tools/common/fatal.h"
#include "tools/common/output.h"

namespace tools {

namespace {

constexpr int16_t NAME_COLUMN_WIDTH = 19;
constexpr int NAMES_PER_LINE = 4;
constexpr int LINES_PER_PAGE = 19;

// An empty line, "Press return to continue", and one line of standard input.
void pause() {
  write_line();
  write_line("Press return to continue");
  platform::console::read_line();
}

}  // namespace

Arguments::Arguments(int argc, char** argv) : argc_(argc), argv_(argv) {}

std::string Arguments::operator[](int i) const {
  if (i < 1 || i >= argc_ || argv_[i] == nullptr) return {};
  return core::shortstring(argv_[i]);
}

std::optional<Parameter> find_parameter(const std::string& text) {
  std::string rest = text;
  const std::string name = core::UPSTRING(core::STRIPTILLCHAR(rest, '+'));

  uint16_t offset = 0;
  if (!rest.empty()) {
    // The offset text keeps its leading plus sign, which the number form allows
    // once: "kqp++2" is therefore refused rather than read as 2.
    uint32_t value = 0;
    if (!core::parse_unsigned(rest, value)) BUMOUT("Can't parse offset");
    offset = static_cast<uint16_t>(value);
  }

  for (const dict::ZORNPARAMREC& row : dict::ZORNPARAMS) {
    if (core::UPSTRING(row.PARMNAME) != name) continue;
    return Parameter{row.PARMNAME, static_cast<uint16_t>(row.PARMLOC + offset), row.PARMTYPE};
  }
  return std::nullopt;
}

void show_parameters(const std::string& text) {
  write_line("No such parameter: " + text);
  write_line("Valid parameters are: ");
  int line_count = 0;
  for (int row = 1; row <= dict::LASTPARM; ++row) {
    if (row % NAMES_PER_LINE == 0) {
      write_line();
      ++line_count;
    }
    if (line_count > LINES_PER_PAGE) {
      pause();
      line_count = 0;
    }
    write(core::PADWITHSPACES(dict::ZORNPARAMS[row - 1].PARMNAME, NAME_COLUMN_WIDTH));
  }
  write_line();
  end_run(2);
}

void usage(const std::string& usage_line) {
  write_line(usage_line);
  write_line();
  end_run(2);
}

uint8_t parse_axis(const std::string& argument) {
  uint32_t value = 0;
  if (argument.empty() || !core::parse_unsigned(argument, value)) return 0;
  return static_cast<uint8_t>(value);
}

uint8_t axis_argument(const std::string& argument, const config::LinkSettings& settings) {
  if (settings.protocol != config::PROTOCOLTYPES::SSZAL) return parse_axis(argument);
  const bool letter = argument.size() == 1 && ((argument[0] >= 'A' && argument[0] <= 'Z') ||
                                              (argument[0] >= 'a' && argument[0] <= 'z'));
  if (argument.empty() || letter) return 0;
  uint32_t value = 0;
  // The whole number is checked: keeping its low bits would turn 258 into channel 2.
  const bool number = core::parse_unsigned(argument, value);
  if (core::Status fits = drivelink::check_axis(settings, value); !number || !fits) {
    end_with(core::fail(core::FailureKind::config, "Axis must be 0 to 7 for the serial-channel module"));
  }
  return static_cast<uint8_t>(value);
}

bool is_flag(const std::string& argument, char flag) {
  return core::UPSTRING(argument) == std::string(1, flag);
}

// Stateless, and alive as long as any link that reports to it.
core::Reporter& reporter() {
  static StdoutReporter instance;
  return instance;
}

config::LinkSettings read_settings() {
  core::Result<config::LinkSettings> settings = config::settings_from_environment(reporter());
  if (!settings) end_with(settings.error());
  return *settings;
}

// ZR90_TRACE=FILE: the wire trace of the run. Standard output stays as it is; a
// trace that cannot be written is said on standard error.
platform::WireTrace* wire_trace() {
  static std::unique_ptr<platform::WireTrace> trace = [] {
    const std::string path = config::process_environment("ZR90_TRACE");
    if (path.empty()) return std::unique_ptr<platform::WireTrace>();
    auto opened = std::make_unique<platform::WireTrace>(path);
    if (!opened->ok()) std::fprintf(stderr, "cannot write the trace file %s\n", path.c_str());
    return opened;
  }();
  return trace.get();
}

// Set by Ctrl-C (or a request to end) during the repeat loop only; alive as long as
// any link that waits on it.
core::CancelToken& cancel_token() {
  static core::CancelToken token;
  return token;
}

std::unique_ptr<drivelink::Link> start_link(const config::LinkSettings& settings, uint8_t axis) {
  if (core::Status fits = drivelink::check_axis(settings, axis); !fits) end_with(fits.error());
  const drivelink::StartRequest start{card::StartMode::setup, core::channel_bit(axis)};
  drivelink::Devices devices;
  devices.trace = wire_trace();
  const drivelink::Context context(reporter(), platform::system_clock(), cancel_token());
  core::Result<std::unique_ptr<drivelink::Link>> link = drivelink::Link::open(settings, context, start, devices);
  if (!link) end_with(link.error());
  // Any failed channel in the module's answer, asked for or not, is a failed start.
  if ((*link)->start_reply() != 0) end_with(drivelink::channel_start_failure());
  return std::move(*link);
}

namespace {

// An access that Ctrl-C cut short in repeat mode ends the run as the loop would
// have ended: nothing more is shown, exit code 0.
void end_if_interrupted(const core::Failure& failure) {
  if (failure.kind == core::FailureKind::interrupted || cancel_token().cancelled()) end_run(0);
}

}  // namespace

Outcome settle(core::Result<uint64_t> result) {
  if (result) return {*result, false};
  end_if_interrupted(result.error());
  if (result.error().kind != core::FailureKind::missed_answer) end_with(result.error());
  return {result.error().value, true};
}

Outcome settle(core::Status status) {
  if (status) return {};
  end_if_interrupted(status.error());
  if (status.error().kind != core::FailureKind::missed_answer) end_with(status.error());
  return {0, true};
}

void run_passes(bool repeat, const std::function<bool()>& pass) {
  if (!repeat) {
    pass();
    return;
  }
  // Ctrl-C must not wait for an access that may take hours (a busy module).
  platform::console::start_key_poll(&cancel_token());
  while (pass() && !platform::console::key_pressed()) {
  }
  platform::console::stop_key_poll();
  // Only the loop's waits are cut short.
  cancel_token().reset();
}

std::string right_aligned(const std::string& digits, std::size_t width) {
  if (digits.size() >= width) return digits;
  return std::string(width - digits.size(), ' ') + digits;
}

}  // namespace tools
