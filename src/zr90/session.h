// What every command of the workbench shares: its options, the messages on standard
// error, the link settings (environment overridden by options) and the link itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "core/reporter.h"
#include "core/result.h"
#include "link/link.h"
#include "platform/wire_trace.h"

namespace zr90 {

// Exit codes of every command.
inline constexpr int EXIT_DONE = 0;
inline constexpr int EXIT_FAILED = 1;  // an access, an axis or a verification failed; diff: differences
inline constexpr int EXIT_USAGE = 2;   // usage, a refused value, a file, or a link that cannot come up

struct Options {
  std::string axes = "0";
  std::optional<std::string> interface_kind;
  std::optional<std::string> protocol;
  std::optional<std::string> port;
  std::optional<std::string> baud;
  std::optional<std::string> baud_mul;
  std::optional<std::string> ip;
  // --link NAME, else ZR90_LINK: a table of the links file that fills in the link
  // options not given (--links-file FILE, else the file of default_links_path()).
  std::optional<std::string> link_name;
  std::string links_file;
  bool axes_given = false;  // --axis was on the command line
  bool json = false;
  bool csv = false;
  bool value_only = false;
  bool hex = false;
  bool quiet = false;
  bool verbose = false;
  bool yes = false;
  bool no_verify = false;
  std::string trace_path;
  int interval_ms = 100;
  std::optional<long> count;
  // Ctrl-C and SIGTERM end the link's waits at once (commands that only read); the
  // others finish the access in progress, so that no write is cut in half.
  bool interrupt_ends_waits = false;
  // Start every channel of a card, to learn which have a drive; without --axis the
  // run's axes are then the channels that started.
  bool every_channel = false;
};

// "zr90: text" on standard error, or the text to the listener while one is in place.
void say(const std::string& text);

// While it lives, what is said goes to listener instead of standard error: a view
// that holds the screen shows it in its own place.
class SaidTo {
 public:
  explicit SaidTo(std::function<void(const std::string&)> listener);
  ~SaidTo();
  SaidTo(const SaidTo&) = delete;
  SaidTo& operator=(const SaidTo&) = delete;

 private:
  std::function<void(const std::string&)> before_;
};

// Notices of the library on standard error, or nowhere with --quiet.
class StderrReporter final : public core::Reporter {
 public:
  explicit StderrReporter(bool quiet) : quiet_(quiet) {}
  void notice(std::string_view line) override;

 private:
  bool quiet_;
};

// A run's link and the axes it works on.
class Session {
 public:
  // Settings, axes and the link; a failure has been said and carries the exit code.
  static std::optional<std::unique_ptr<Session>> open(const Options& options, int& exit_code);

  drivelink::Link& link() { return *link_; }
  const std::vector<uint8_t>& axes() const { return axes_; }
  // The axes whose channel started; the others have been reported once.
  const std::vector<uint8_t>& live_axes() const { return live_axes_; }
  bool axis_started(uint8_t axis) const;
  bool several_axes() const { return axes_.size() > 1; }
  // "cannot write the trace file X: reason" once a trace line was lost; nothing else.
  std::optional<std::string> trace_trouble() const;

 private:
  Session() = default;

  // Cuts the waits of a writing command short once Ctrl-C or SIGTERM came and the
  // access in progress had its grace (see open()).
  void start_write_grace();

  std::unique_ptr<platform::WireTrace> trace_;
  std::string trace_path_;
  StderrReporter reporter_{false};
  // The token a writing command's link waits by, and the thread that sets it;
  // both outlive the link.
  core::CancelToken write_cancel_;
  std::jthread write_grace_;
  std::unique_ptr<drivelink::Link> link_;
  std::vector<uint8_t> axes_;
  std::vector<uint8_t> live_axes_;
};

// Opens the run's session and hands it to body with the run's exit code so far
// (EXIT_FAILED when an axis did not start). The run's exit code: what body returns,
// or the open's when the session could not open (the failure has been said).
int with_session(const Options& options, const std::function<int(Session& session, int exit_code)>& body);

// The named link's settings in options where no option gave one; false once the
// failure (an unreadable file, an unknown name) has been said.
bool take_named_link(Options& options);

// The links file zr90 reads: --links-file, else the user's default one.
std::string links_file_path(const Options& options);

// The axes of --axis, or the usage message said and nothing.
std::optional<std::vector<uint8_t>> axes_option(const Options& options);

// A failure in the user's terms: the text, or its detail where that says more.
std::string describe(const core::Failure& failure);

}  // namespace zr90
