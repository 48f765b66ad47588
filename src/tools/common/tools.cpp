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

// An empty line, "Press return to continue", and one line of standard input. False,
// with nothing read, when standard output has failed.
bool pause() {
  if (!write_line() || !write_line("Press return to continue")) return false;
  platform::console::read_line();
  return true;
}

}  // namespace

Arguments::Arguments(int argc, char** argv) : argc_(argc), argv_(argv) {}

std::string Arguments::operator[](int i) const {
  if (i < 1 || i >= argc_ || argv_[i] == nullptr) return {};
  return core::shortstring(argv_[i]);
}

Step<drive::Parameter> find_parameter(const std::string& text) {
  core::Result<std::optional<drive::Parameter>> found = drive::look_up(text, drive::FAITHFUL_LOOKUP);
  if (!found) return end_with(found.error());
  if (!*found) return show_parameters(text);
  return std::move(**found);
}

Ending show_parameters(const std::string& text) {
  if (!write_line("No such parameter: " + text) || !write_line("Valid parameters are: ")) return Ending{2};
  int line_count = 0;
  for (int row = 1; row <= dict::LASTPARM; ++row) {
    if (row % NAMES_PER_LINE == 0) {
      if (!write_line()) return Ending{2};
      ++line_count;
    }
    if (line_count > LINES_PER_PAGE) {
      if (!pause()) return Ending{2};
      line_count = 0;
    }
    write(core::PADWITHSPACES(dict::ZORNPARAMS[row - 1].PARMNAME, NAME_COLUMN_WIDTH));
  }
  (void)write_line();
  return Ending{2};
}

Ending usage(const std::string& usage_line) {
  if (write_line(usage_line)) (void)write_line();
  return Ending{2};
}

uint8_t parse_axis(const std::string& argument) {
  uint32_t value = 0;
  if (argument.empty() || !core::parse_unsigned(argument, value)) return 0;
  return static_cast<uint8_t>(value);
}

Step<uint8_t> axis_argument(const std::string& argument, const config::LinkSettings& settings) {
  if (config::describe(settings.protocol).reach != config::Reach::channels) return parse_axis(argument);
  const bool letter = argument.size() == 1 && ((argument[0] >= 'A' && argument[0] <= 'Z') ||
                                              (argument[0] >= 'a' && argument[0] <= 'z'));
  if (argument.empty() || letter) return uint8_t{0};
  uint32_t value = 0;
  // The whole number is checked: keeping its low bits would turn 258 into channel 2.
  if (!core::parse_unsigned(argument, value)) return end_with(card::bad_channel());
  if (core::Status fits = drivelink::check_axis(settings, value); !fits) return end_with(fits.error());
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

Step<config::LinkSettings> read_settings() {
  core::Result<config::LinkSettings> settings = config::settings_from_environment(reporter());
  if (std::optional<Ending> lost = end_if_output_lost()) return *lost;
  if (!settings) return end_with(settings.error());
  return std::move(*settings);
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

// The console's: set by Ctrl-C (or a request to end) during the repeat loop only.
core::CancelToken& cancel_token() { return platform::console::interrupt_token(); }

Step<std::unique_ptr<drivelink::Link>> start_link(const config::LinkSettings& settings, uint8_t axis) {
  if (core::Status fits = drivelink::check_axis(settings, axis); !fits) return end_with(fits.error());
  const drivelink::StartRequest start{card::StartMode::setup, core::channel_bit(axis)};
  drivelink::Devices devices;
  devices.trace = wire_trace();
  const drivelink::Context context(reporter(), platform::system_clock(), cancel_token());
  core::Result<std::unique_ptr<drivelink::Link>> link = drivelink::Link::open(settings, context, start, devices);
  if (std::optional<Ending> lost = end_if_output_lost()) return *lost;
  if (!link) return end_with(link.error());
  // Any failed channel in the module's answer, asked for or not, is a failed start.
  if ((*link)->start_reply() != 0) return end_with(drivelink::channel_start_failure());
  return std::move(*link);
}

namespace {

// A failed access: Ctrl-C cutting it short in repeat mode ends the run as the loop
// would have ended (exit code 0); a missed answer goes on with the value as read;
// anything else ends the run with its text.
Step<Outcome> settle_failure(const core::Failure& failure, uint64_t value_as_read) {
  if (failure.kind == core::FailureKind::interrupted || cancel_token().cancelled()) return Ending{0};
  if (failure.kind != core::FailureKind::missed_answer) return end_with(failure);
  return Outcome{value_as_read, true};
}

}  // namespace

Step<Outcome> settle(core::Result<uint64_t> result) {
  if (std::optional<Ending> lost = end_if_output_lost()) return *lost;
  if (!result) return settle_failure(result.error(), result.error().value);
  return Outcome{*result, false};
}

Step<Outcome> settle(core::Status status) {
  if (std::optional<Ending> lost = end_if_output_lost()) return *lost;
  if (!status) return settle_failure(status.error(), 0);
  return Outcome{};
}

std::optional<Ending> run_passes(bool repeat, const Pass& pass) {
  if (!repeat) {
    Step<bool> done = pass();
    if (done.ended()) return done.ending();
    return std::nullopt;
  }
  // Ctrl-C must not wait for an access that may take hours (a busy module).
  platform::console::start_key_poll();
  std::optional<Ending> ending;
  while (!ending) {
    Step<bool> go_on = pass();
    if (go_on.ended()) {
      ending = go_on.ending();
    } else if (!*go_on || platform::console::key_pressed()) {
      break;
    }
  }
  platform::console::stop_key_poll();
  // Only the loop's waits are cut short.
  cancel_token().reset();
  return ending;
}

}  // namespace tools
