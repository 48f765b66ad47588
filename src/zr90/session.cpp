#include "zr90/session.h"

#include <cstdio>

#include "core/text.h"
#include "platform/clock.h"
#include "zr90/axes.h"

namespace zr90 {

namespace {

using config::INTERFACETYPES;
using config::PROTOCOLTYPES;

// The environment, with each option given taking the place of its variable.
config::EnvLookup lookup_with(const Options& options) {
  return [options](const char* name) -> std::string {
    const std::string variable = name;
    auto given = [](const std::optional<std::string>& option, const char* fallback) {
      return option ? *option : config::process_environment(fallback);
    };
    if (variable == "INTERFACE") return given(options.interface_kind, name);
    if (variable == "BAUDRATE") return given(options.baud, name);
    if (variable == "BAUDRATEMUL") return given(options.baud_mul, name);
    if (variable == "IPADDR") return given(options.ip, name);
    if (variable == "COMPORT") {
      // A device path stands in for a port name; the name only has to pass here.
      if (options.port && !options.port->empty() && options.port->front() == '/') return "COM1";
      return given(options.port, name);
    }
    if (variable == "PROTOCOL") {
      const std::string protocol = given(options.protocol, name);
      if (!protocol.empty()) return protocol;
      // On a card only the serial-channel protocol reaches a drive.
      const std::string kind = core::UPSTRING(given(options.interface_kind, "INTERFACE"));
      return kind == "EZAL16" || kind == "OSZAL" ? "SSZAL" : "";
    }
    return config::process_environment(name);
  };
}

bool reaches_one_drive(const config::LinkSettings& settings) {
  return settings.protocol == PROTOCOLTYPES::HEX || settings.protocol == PROTOCOLTYPES::ZAL ||
         settings.interface_kind == INTERFACETYPES::OSDEVICE;
}

// The card's address in the words of a failure that happened while it was reached.
std::string where(const config::LinkSettings& settings) {
  if (settings.interface_kind == INTERFACETYPES::EZAL16) return "card " + settings.ip_address + " (UDP port " + card::EZAL16PORT + ")";
  if (settings.interface_kind == INTERFACETYPES::OSZAL) return "card on " + settings.comport;
  return settings.comport;
}

}  // namespace

void say(const std::string& text) {
  const std::string line = "zr90: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void StderrReporter::notice(std::string_view line) {
  if (!quiet_) say(std::string(line));
}

std::string describe(const core::Failure& failure) { return failure.detail.empty() ? failure.text : failure.detail; }

std::optional<std::vector<uint8_t>> axes_option(const Options& options) {
  std::optional<std::vector<uint8_t>> axes = parse_axes(options.axes);
  if (!axes) say("bad axis list \"" + options.axes + "\": give 2, 0,2,5, 0-3 or all");
  return axes;
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

  core::Result<config::LinkSettings> settings = config::settings_from_environment(session->reporter_, lookup_with(options));
  if (!settings) {
    say(settings.error().text);
    return std::nullopt;
  }
  if (options.port && !options.port->empty() && options.port->front() == '/') settings->device = *options.port;
  if (reaches_one_drive(*settings) && (session->axes_.size() != 1 || session->axes_[0] != 0)) {
    say("axis " + axes_text(session->axes_) + ": this link reaches one drive, axis 0 only");
    return std::nullopt;
  }

  drivelink::Devices devices;
  // --trace wins over ZR90_TRACE, which the other programs read too.
  const std::string trace_path =
      !options.trace_path.empty() ? options.trace_path : config::process_environment("ZR90_TRACE");
  if (!trace_path.empty()) {
    session->trace_ = std::make_unique<platform::WireTrace>(trace_path);
    if (!session->trace_->ok()) {
      say("cannot write the trace file " + trace_path);
      return std::nullopt;
    }
    devices.trace = session->trace_.get();
  }
  const drivelink::StartRequest start{card::StartMode::setup, mask_of(session->axes_), true};
  const drivelink::Context context(session->reporter_, platform::system_clock());
  core::Result<std::unique_ptr<drivelink::Link>> link = drivelink::Link::open(*settings, context, start, devices);
  if (!link) {
    const core::Failure& failure = link.error();
    std::string text = describe(failure);
    if (failure.kind == core::FailureKind::timeout) text = where(*settings) + " does not answer: " + text;
    if (text.find("Permission denied") != std::string::npos) text += "; is your user in the dialout group?";
    say(text);
    return std::nullopt;
  }
  session->link_ = std::move(*link);
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
