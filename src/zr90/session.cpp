#include "zr90/session.h"

#include <algorithm>
#include <cstdio>

#include "core/text.h"
#include "drive/links_file.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/os_error.h"
#include "zr90/axes.h"

namespace zr90 {

namespace {

// Where say() goes while a full-screen view holds the terminal; SaidTo is its one owner.
std::function<void(const std::string&)> listener;

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

// The interfaces that have a way to a drive, as a user types them.
std::string interface_choices() {
  std::string text;
  for (const config::InterfaceDescriptor& row : config::interfaces()) {
    if (row.endpoint == config::Endpoint::none) continue;
    text += (text.empty() ? "" : ", ") + std::string(row.name);
  }
  return text;
}

// Said when neither an option, a named link nor the environment names an interface:
// the first thing a new user meets, so it says every way there is.
void say_no_interface(const std::string& links_path) {
  say("no interface given: no --interface, no named link (--link NAME, ZR90_LINK) and no INTERFACE in the "
      "environment");
  say("the interfaces: " + interface_choices() + "; name one with --interface and the link with --protocol, --port, "
      "--baud, --baud-mul or --ip");
  say("or give --link NAME for a link of " + links_path + " ('zr90 links' lists them), or run "
      "'zr90 scan' to look for drives");
}

// The defaults read_settings assumed that could explain a drive that does not answer,
// as "; no rate was given and 115200 bit/s was assumed (give --baud)"; empty when all
// were given. A card's protocol and rate are always right by default: nothing is said.
std::string assumed_defaults(const Options& options, const config::LinkSettings& settings) {
  if (config::describe(settings.interface_kind).card) return {};
  std::string text;
  const config::ProtocolDescriptor& protocol = config::describe(settings.protocol);
  if (!options.protocol && config::process_environment("PROTOCOL").empty()) {
    text += "; no protocol was given and " + std::string(protocol.name) + " was assumed (give --protocol)";
  }
  if (protocol.default_baudrate > 0 && !options.baud && config::process_environment("BAUDRATE").empty()) {
    text += "; no rate was given and " + std::to_string(settings.baudrate) + " bit/s was assumed (give --baud)";
  }
  return text;
}

// A link that did not come up, in the words that say what to do about it.
std::string open_failure_text(const Options& options, const config::LinkSettings& settings,
                              const core::Failure& failure) {
  const std::string endpoint = drivelink::endpoint_text(settings);
  if (const std::optional<std::string> tried = drivelink::unanswered_greeting(settings, failure)) {
    const bool card = config::describe(settings.interface_kind).card;
    const bool device_named = !settings.device.empty() && settings.device != settings.comport;
    return endpoint + (device_named ? " (" + settings.device + ")" : "") + ": no answer in " + *tried +
           assumed_defaults(options, settings) + "\nis the " + (card ? "card" : "drive") +
           " on, and does it speak that protocol at that rate? 'zr90 scan --port " + settings.comport +
           "' tries the others";
  }
  std::string text = describe(failure);
  if (failure.kind == core::FailureKind::timeout) text = endpoint + " does not answer: " + text;
  // Silence and a refusal mean the same over the network: no card at that address.
  const bool over_network = config::describe(settings.interface_kind).endpoint == config::Endpoint::ip_address;
  if (over_network && (failure.kind == core::FailureKind::open || failure.kind == core::FailureKind::timeout)) {
    if (text.rfind(endpoint, 0) != 0) text = endpoint + ": " + text;
    return text + (failure.kind == core::FailureKind::open ? "; nothing answers there: " : "; ") +
           "the card is off or not connected, or the address is not the card's";
  }
  if (failure.kind == core::FailureKind::timeout) return text + assumed_defaults(options, settings);
  if (text.find("Permission denied") != std::string::npos) text += "; is your user in the dialout group?";
  return text;
}

}  // namespace

std::string links_file_path(const Options& options) {
  return !options.links_file.empty() ? options.links_file : drive::default_links_path();
}

bool take_named_link(Options& options) {
  const std::string name = options.link_name ? *options.link_name : config::process_environment("ZR90_LINK");
  if (name.empty()) return true;
  const std::string path = links_file_path(options);
  if (path.empty()) {
    say("no links file: give --links-file FILE (no HOME to find the usual one)");
    return false;
  }
  core::Result<drive::NamedLink> link = drive::find_link(path, name);
  if (!link) {
    say(link.error().text);
    return false;
  }
  // An option given wins over the link, and the link over the environment.
  const std::pair<std::optional<std::string>*, const std::optional<std::string>*> fields[] = {
      {&options.interface_kind, &link->interface_kind}, {&options.protocol, &link->protocol},
      {&options.port, &link->port},                     {&options.baud, &link->baud},
      {&options.baud_mul, &link->baud_mul},             {&options.ip, &link->ip}};
  for (const auto& [option, value] : fields) {
    if (!*option) *option = *value;
  }
  if (!options.axes_given && link->axes) options.axes = *link->axes;
  return true;
}

SaidTo::SaidTo(std::function<void(const std::string&)> to) : before_(std::move(listener)) { listener = std::move(to); }

SaidTo::~SaidTo() { listener = std::move(before_); }

void say(const std::string& text) {
  if (listener) {
    listener(core::escaped_controls(text));
    return;
  }
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
  std::unique_ptr<Session> session;
  if (std::optional<std::unique_ptr<Session>> opened = Session::open(options, exit_code)) session = std::move(*opened);
  if (session) exit_code = body(*session, exit_code);
  // A trace with holes would mislead whoever reads it: said once, and the run failed.
  if (const std::optional<std::string> trouble = session ? session->trace_trouble() : std::nullopt) {
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

  if (!options.interface_kind && config::process_environment("INTERFACE").empty()) {
    say_no_interface(links_file_path(options));
    return std::nullopt;
  }
  // The defaults assumed are said only with -v: said on every run they bury what
  // matters, and where one is the likely cause of a failure, that failure names it.
  core::SilentReporter unsaid;
  core::Reporter& assumptions = options.verbose ? static_cast<core::Reporter&>(session->reporter_) : unsaid;
  core::Result<config::LinkSettings> settings = config::read_settings(given_settings(options), assumptions);
  if (!settings) {
    say(describe(settings.error()));
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
                                      every_channel ? core::ChannelMask{0xFF} : mask_of(session->axes_), true, true};
  if (!options.interrupt_ends_waits) session->start_write_grace();
  const drivelink::Context context(session->reporter_, platform::system_clock(),
                                   options.interrupt_ends_waits ? platform::console::interrupt_token()
                                                                : session->write_cancel_);
  core::Result<std::unique_ptr<drivelink::Link>> link = drivelink::Link::open(*settings, context, start, devices);
  if (!link) {
    // One line each, so that every line starts with the program's name.
    const std::string text = open_failure_text(options, *settings, link.error());
    for (std::size_t start = 0; start <= text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      say(text.substr(start, end - start));
      start = end + 1;
    }
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

// A write cut in half can leave a drive's non-volatile flag set, so that its later
// register writes go to the EEPROM: on Ctrl-C the access in progress is given
// WRITE_GRACE_MS, which a responsive drive needs a fraction of, before its waits
// are cut. A module that stays busy is then given up on, well within 100 ms. The
// signal handler can only set a flag; this thread turns it into the later cut.
void Session::start_write_grace() {
  constexpr int WRITE_GRACE_MS = 50;
  constexpr int LOOK_MS = 10;
  write_grace_ = std::jthread([this](const std::stop_token& stop) {
    const core::CancelToken& interrupt = platform::console::interrupt_token();
    core::Clock& clock = platform::system_clock();
    while (!interrupt.cancelled()) {
      if (stop.stop_requested()) return;
      (void)clock.sleep_ms(LOOK_MS, interrupt);
    }
    for (int waited = 0; waited < WRITE_GRACE_MS && !stop.stop_requested(); waited += LOOK_MS) {
      (void)clock.sleep_ms(LOOK_MS, core::CancelToken::never());
    }
    write_cancel_.cancel();
  });
}

}  // namespace zr90
