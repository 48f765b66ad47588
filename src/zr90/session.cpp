#include "zr90/session.h"

#include <cstdio>

#include "core/text.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/os_error.h"
#include "zr90/axes.h"

namespace zr90 {

namespace {

// The link options as values that win over the environment's variables.
config::GivenSettings given_settings(const Options& options) {
  config::GivenSettings given;
  given.interface_kind = options.interface_kind;
  given.protocol = options.protocol;
  given.comport = options.port;
  given.baudrate = options.baud;
  given.baudrate_mul = options.baud_mul;
  given.ip_address = options.ip;
  // On a card only the serial-channel protocol reaches a drive.
  given.card_protocol_by_default = true;
  return given;
}

}  // namespace

void say(const std::string& text) {
  // Messages carry names and values from files and the wire: none may reach the
  // terminal as a control sequence.
  const std::string line = "zr90: " + core::escaped_controls(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void StderrReporter::notice(std::string_view line) {
  if (!quiet_) say(std::string(line));
}

std::string describe(const core::Failure& failure) { return failure.detail.empty() ? failure.text : failure.detail; }

std::optional<std::vector<uint8_t>> axes_option(const Options& options) {
  std::optional<std::vector<uint8_t>> axes = parse_axes(options.axes);
  if (!axes) say("bad axis list \"" + options.axes + "\": axes are 0 to 7; give one (2), a list (0,2,5), a range (0-3) or all");
  return axes;
}

int with_session(const Options& options, const std::function<int(Session& session, int exit_code)>& body) {
  // From here on an interrupt is the run's to handle: it ends the run the way the
  // command says, with what was done reported and the terminal as it was.
  platform::console::catch_interrupts();
  int exit_code = EXIT_USAGE;
  std::optional<std::unique_ptr<Session>> session = Session::open(options, exit_code);
  if (session) exit_code = body(**session, exit_code);
  // A trace with holes would mislead whoever reads it: said once, and the run failed.
  if (const std::optional<std::string> trouble = session ? (*session)->trace_trouble() : std::nullopt) {
    say(*trouble);
    if (exit_code == EXIT_DONE) exit_code = EXIT_FAILED;
  }
  session.reset();
  platform::console::stop_key_poll();
  return exit_code;
}

std::optional<std::string> Session::trace_trouble() const {
  if (!trace_ || trace_->write_error() == 0) return std::nullopt;
  return "cannot write the trace file " + trace_path_ + ": " + platform::os_error_text(trace_->write_error()) +
         "; the trace is not whole";
}

bool Session::axis_started(uint8_t axis) const {
  return (link_->not_started() & core::channel_bit(axis)) == 0;
}

std::optional<std::unique_ptr<Session>> Session::open(const Options& options, int& exit_code) {
  exit_code = EXIT_USAGE;
  std::unique_ptr<Session> session(new Session);
  session->reporter_ = StderrReporter(options.quiet);
  std::optional<std::vector<uint8_t>> axes = axes_option(options);
  if (!axes) return std::nullopt;
  session->axes_ = *axes;

  core::Result<config::LinkSettings> settings = config::read_settings(given_settings(options), session->reporter_);
  if (!settings) {
    say(settings.error().text);
    return std::nullopt;
  }
  if (config::reachable_axes(*settings) == 1 && (session->axes_.size() != 1 || session->axes_[0] != 0)) {
    say("axis " + axes_text(session->axes_) + ": this link reaches one drive, axis 0 only");
    return std::nullopt;
  }

  drivelink::Devices devices;
  // --trace wins over ZR90_TRACE, which the other programs read too.
  const std::string trace_path =
      !options.trace_path.empty() ? options.trace_path : config::process_environment("ZR90_TRACE");
  if (!trace_path.empty()) {
    session->trace_ = std::make_unique<platform::WireTrace>(trace_path);
    session->trace_path_ = trace_path;
    if (!session->trace_->ok()) {
      say("cannot write the trace file " + trace_path);
      return std::nullopt;
    }
    devices.trace = session->trace_.get();
  }
  const bool every_channel = options.every_channel && config::reachable_axes(*settings) > 1;
  const drivelink::StartRequest start{card::StartMode::setup,
                                      every_channel ? core::ChannelMask{0xFF} : mask_of(session->axes_), true};
  const drivelink::Context context(session->reporter_, platform::system_clock(),
                                   options.interrupt_ends_waits ? platform::console::interrupt_token()
                                                                : core::CancelToken::never());
  core::Result<std::unique_ptr<drivelink::Link>> link = drivelink::Link::open(*settings, context, start, devices);
  if (!link) {
    const core::Failure& failure = link.error();
    std::string text = describe(failure);
    if (failure.kind == core::FailureKind::timeout) text = drivelink::endpoint_text(*settings) + " does not answer: " + text;
    if (text.find("Permission denied") != std::string::npos) text += "; is your user in the dialout group?";
    say(text);
    return std::nullopt;
  }
  session->link_ = std::move(*link);
  if (every_channel && !options.axes_given) {
    // No channel was asked for: those without a drive are no failure.
    session->axes_.clear();
    for (uint8_t channel = 0; channel < core::CHANNEL_COUNT; ++channel) {
      if (session->axis_started(channel)) session->axes_.push_back(channel);
    }
  }
  for (uint8_t axis : session->axes_) {
    if (session->axis_started(axis)) {
      session->live_axes_.push_back(axis);
    } else {
      say("axis " + std::to_string(axis) + ": the channel did not start; is a drive connected?");
    }
  }
  exit_code = session->live_axes_.size() == session->axes_.size() ? EXIT_DONE : EXIT_FAILED;
  return session;
}

}  // namespace zr90
