// zr90 console: the watch's table (or chart) above, a log of outcomes and a command
// line below, on one link: values are read, written and watched without leaving it.
// One thread: between keys the samples are taken on their schedule.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/numbers.h"
#include "dictionary/dictionary.h"
#include "drive/atomic_file.h"
#include "platform/console.h"
#include "zr90/axes.h"
#include "zr90/command_steps.h"
#include "zr90/commands.h"
#include "zr90/line_editor.h"
#include "zr90/output.h"
#include "zr90/reading.h"
#include "zr90/watch_view.h"

namespace zr90 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t LOG_LINES = 4;
constexpr char PROMPT[] = "> ";
constexpr int MAX_INTERVAL_MS = 3600000;
constexpr uint8_t RED = 1;

struct CommandInfo {
  std::string_view name;
  std::string_view usage;
};
constexpr CommandInfo COMMANDS[] = {
    {"get", "get NAME..."},         {"set", "set NAME=VALUE..."}, {"add", "add NAME..."},
    {"remove", "remove NAME..."},   {"axes", "axes LIST"},        {"interval", "interval MS"},
    {"plot", "plot on|off"},        {"faults", "faults"},         {"save", "save FILE"},
    {"help", "help"},               {"quit", "quit"},
};
constexpr char KEYS_HELP[] = "Tab completes, up and down recall, Ctrl-C cancels a command; twice, or Ctrl-D, ends";
// The commands whose words are parameter names.
constexpr std::string_view NAME_COMMANDS[] = {"get", "add", "remove", "set"};

bool starts_with_folded(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

// Command names at the start of the line; parameter names after a command that takes
// them (as NAME= after set); on or off after plot.
std::vector<std::string> completions(const std::vector<std::string>& before, std::string_view partial) {
  std::vector<std::string> found;
  if (before.empty()) {
    for (const CommandInfo& command : COMMANDS) {
      if (command.name.starts_with(partial)) found.emplace_back(command.name);
    }
    return found;
  }
  if (before.size() == 1 && before[0] == "plot") {
    for (std::string_view word : {"on", "off"}) {
      if (word.starts_with(partial)) found.emplace_back(word);
    }
    return found;
  }
  if (std::find(std::begin(NAME_COMMANDS), std::end(NAME_COMMANDS), before[0]) == std::end(NAME_COMMANDS)) return found;
  if (partial.find('=') != std::string_view::npos) return found;
  const std::string suffix = before[0] == "set" ? "=" : "";
  for (const dict::ZORNPARAMREC& row : dict::ZORNPARAMS) {
    if (starts_with_folded(row.PARMNAME, partial)) found.push_back(row.PARMNAME + suffix);
  }
  return found;
}

class Console {
 public:
  Console(const Options& options, std::unique_ptr<Session> session, std::vector<drive::Parameter> watched, bool plot)
      : options_(options),
        session_(std::move(session)),
        watched_(std::move(watched)),
        plot_(plot),
        editor_(completions),
        start_(Clock::now()) {
    rebuild_view();
  }

  // Until quit, Ctrl-D, a second Ctrl-C or a request to end; false when standard
  // output failed.
  bool run() {
    const SaidTo said([this](const std::string& text) { log(text, true); });
    const platform::console::ScreenTaken screen;
    size_ = platform::console::screen_size();
    due_ = Clock::now();
    while (!ended_) {
      // The token is reset only once its Ctrl-C was dealt with: none is lost.
      if (platform::console::interrupted()) {
        interrupted_at_prompt();
        continue;
      }
      if (sampling() && Clock::now() >= due_) sample();
      if (!draw()) return false;
      const int key = platform::console::wait_key(wait_ms());
      if (key != platform::console::NO_KEY) take_byte(key);
    }
    return true;
  }

  // Once the screen is the user's again: what is left to say, and the exit code. A
  // trace with holes would mislead whoever reads it: the run failed.
  int finish() const {
    if (!session_) {
      say("the link did not come up again; the console ended");
      return EXIT_FAILED;
    }
    const std::optional<std::string> trouble = session_->trace_trouble();
    if (trouble) say(*trouble);
    return trouble ? EXIT_FAILED : EXIT_DONE;
  }
  void set_interval(int ms) {
    interval_ms_ = ms;
    due_ = Clock::now();
  }

 private:
  struct LogLine {
    std::string text;
    bool error = false;
  };

  bool sampling() const { return !watched_.empty() && !confirming(); }
  bool confirming() const { return !pending_writes_.empty(); }

  void rebuild_view() {
    const drive::LinkDescription link = drive::link_description(session_->link().settings());
    const std::string link_text =
        link.interface_kind + " " + link.protocol + (link.address.empty() ? "" : " " + link.address);
    WatchView::Setup setup{watched_, session_->axes(), link_text,
                           plot_ ? WatchView::Mode::plot : WatchView::Mode::table, options_.hex, "zr90 console"};
    view_ = std::make_unique<WatchView>(setup, start_);
    failing_.clear();
    repaint_ = true;
  }

  int wait_ms() const {
    const Clock::time_point now = Clock::now();
    Clock::duration left = view_->until_next_frame(now);
    if (sampling()) left = std::min(left, due_ - now);
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 0 ? static_cast<int>(ms) : 0;
  }

  // The log, then the command line with the cursor where the editor has it.
  std::vector<screen::Line> footer() const {
    // The log fills from the bottom up, next to the command line.
    std::vector<screen::Line> lines(LOG_LINES - log_.size());
    for (const LogLine& line : log_) {
      lines.push_back({{0, line.text, {.colour = static_cast<uint8_t>(line.error ? RED : 0)}}});
    }
    lines.push_back({{0, prompt() + editor_.text(), {}}});
    return lines;
  }

  std::string prompt() const { return confirming() ? question_ : PROMPT; }

  // A frame when one is due, and the cursor back on the command line; false when
  // standard output failed.
  bool draw() {
    bool repaint = repaint_;
    if (platform::console::screen_needs_repaint()) {
      size_ = platform::console::screen_size();
      repaint = true;
    }
    repaint_ = false;
    view_->set_footer(footer());
    const std::optional<std::string> frame = view_->frame(Clock::now(), size_.columns, size_.rows, repaint);
    if (!frame || frame->empty()) return true;
    const int column = std::min(screen::text_width(prompt()) + static_cast<int>(editor_.cursor()), size_.columns - 1);
    // The view hides the cursor; the command line shows where typing goes.
    return emit(*frame + "\x1b[" + std::to_string(size_.rows) + ";" + std::to_string(column + 1) + "H\x1b[?25h");
  }

  void log(const std::string& text, bool error = false) {
    log_.push_back({text, error});
    if (log_.size() > LOG_LINES) log_.pop_front();
    view_->touch();
  }

  void sample() {
    const std::vector<std::vector<drive::AxisValue>> values = read_on_axes(*session_, watched_);
    // Cut short by Ctrl-C: not a sample; the loop deals with the key.
    if (platform::console::interrupted()) return;
    view_->record(Clock::now(), values);
    for (std::size_t p = 0; p < watched_.size(); ++p) {
      for (const drive::AxisValue& value : values[p]) note_failure(watched_[p], value);
    }
    due_ += std::chrono::milliseconds(interval_ms_);
    // A link slower than the interval samples as fast as it can, with no burst to catch up.
    if (due_ < Clock::now()) due_ = Clock::now();
  }

  // A failed sample is logged once, until that value reads again.
  void note_failure(const drive::Parameter& parameter, const drive::AxisValue& value) {
    const std::string key = std::to_string(value.axis) + ":" + parameter.name;
    if (value.value) {
      failing_.erase(key);
    } else if (failing_.insert(key).second) {
      if (session_->axis_started(value.axis))
        log(access_message(*session_, value.axis, parameter.name, value.value.error()), true);
    }
  }

  // Ctrl-C with nothing running clears the line; on an empty line a second one ends
  // the console. A request to end ends it at once.
  // The token stays set when the console ends: closing the link then waits for nothing.
  void interrupted_at_prompt() {
    if (platform::console::end_requested()) {
      ended_ = true;
      return;
    }
    if (interrupt_armed_ && editor_.text().empty() && !confirming()) {
      ended_ = true;
      return;
    }
    platform::console::interrupt_token().reset();
    if (confirming()) {
      answer("");
      return;
    }
    if (!editor_.text().empty()) {
      editor_.clear();
      view_->touch();
      return;
    }
    interrupt_armed_ = true;
    log("Ctrl-C again, Ctrl-D or quit ends the console");
  }

  void take_byte(int byte) {
    const std::optional<KeyPress> key = decoder_.take(byte);
    if (!key) return;
    interrupt_armed_ = false;
    view_->touch();
    const LineEditor::Outcome outcome = editor_.take(*key);
    if (outcome == LineEditor::Outcome::end_of_input) {
      confirming() ? answer("") : void(ended_ = true);
    } else if (outcome == LineEditor::Outcome::submitted) {
      const std::string line = editor_.take_line();
      confirming() ? answer(line) : run_line(line);
    } else if (!editor_.choices().empty()) {
      show_choices();
    }
  }

  void show_choices() {
    std::string text;
    for (const std::string& choice : editor_.choices()) text += (text.empty() ? "" : "  ") + choice;
    log(text);
  }

  // Each command gets a fresh token: Ctrl-C cancels it, and only it.
  void run_line(const std::string& line) {
    const std::vector<std::string> words = split_words(line);
    if (words.empty()) return;
    run_command(words[0], std::vector<std::string>(words.begin() + 1, words.end()));
    if (platform::console::end_requested()) {
      ended_ = true;
    } else if (platform::console::interrupted()) {
      platform::console::interrupt_token().reset();
      log(words[0] + ": cancelled", true);
    }
  }

  void run_command(const std::string& command, const std::vector<std::string>& arguments) {
    if (command == "quit") {
      ended_ = true;
    } else if (command == "help") {
      help();
    } else if (command == "get") {
      get(arguments);
    } else if (command == "set") {
      set(arguments);
    } else if (command == "add") {
      add(arguments);
    } else if (command == "remove") {
      remove(arguments);
    } else if (command == "axes") {
      axes(arguments);
    } else if (command == "interval") {
      interval(arguments);
    } else if (command == "plot") {
      plot(arguments);
    } else if (command == "faults") {
      faults();
    } else if (command == "save") {
      save(arguments);
    } else {
      log("unknown command \"" + command + "\"; help lists the commands", true);
    }
  }

  // The commands packed into as few log lines as the screen's width allows.
  void help() {
    std::string line;
    for (const CommandInfo& info : COMMANDS) {
      if (!line.empty() && screen::text_width(line) + 2 + static_cast<int>(info.usage.size()) > size_.columns) {
        log(line);
        line.clear();
      }
      line += (line.empty() ? "" : "  ") + std::string(info.usage);
    }
    log(line);
    log(KEYS_HELP);
  }

  bool given(const std::vector<std::string>& arguments, std::string_view usage) {
    if (!arguments.empty()) return true;
    log("give " + std::string(usage), true);
    return false;
  }

  std::string axis_prefix(uint8_t axis) const {
    return session_->several_axes() ? std::to_string(axis) + " " : "";
  }

  void get(const std::vector<std::string>& names) {
    if (!given(names, "get NAME...")) return;
    const std::optional<std::vector<drive::Parameter>> parameters = resolve_names(names);
    if (!parameters) return;
    const std::vector<std::vector<drive::AxisValue>> values = read_on_axes(*session_, *parameters);
    for (std::size_t p = 0; p < parameters->size() && !platform::console::interrupted(); ++p) {
      const drive::Parameter& parameter = (*parameters)[p];
      for (const drive::AxisValue& value : values[p]) {
        if (value.value) {
          log(axis_prefix(value.axis) + parameter.name + " " +
              drive::format_value(parameter.type, *value.value, options_.hex));
        } else if (session_->axis_started(value.axis)) {
          say(access_message(*session_, value.axis, parameter.name, value.value.error()));
        }
      }
    }
  }

  // EEPROM settings persist: asked on the command line first, as zr90 set asks.
  void set(const std::vector<std::string>& texts) {
    if (!given(texts, "set NAME=VALUE...")) return;
    std::optional<std::vector<Assignment>> assignments = parse_assignments(texts);
    if (!assignments) return;
    if (eeprom_count(*assignments) == 0) return write(*assignments);
    question_ = eeprom_question(*assignments, session_->axes());
    pending_writes_ = std::move(*assignments);
  }

  void answer(const std::string& reply) {
    std::vector<Assignment> writes = std::move(pending_writes_);
    pending_writes_.clear();
    if (reply == "y" || reply == "Y") return write(writes);
    log("nothing written");
  }

  void write(const std::vector<Assignment>& assignments) {
    Options verbose = options_;
    verbose.verbose = true;
    verbose.json = false;
    for (const Assignment& assignment : assignments) {
      for (uint8_t axis : session_->live_axes()) {
        if (platform::console::interrupted()) return;
        std::string shown;
        nlohmann::ordered_json unused;
        if (write_one(*session_, verbose, axis, assignment, shown, unused)) {
          if (!shown.empty() && shown.back() == '\n') shown.pop_back();
          log("set " + shown + ", read back");
        }
      }
    }
  }

  void add(const std::vector<std::string>& names) {
    if (!given(names, "add NAME...")) return;
    const std::optional<std::vector<drive::Parameter>> parameters = resolve_names(names);
    if (!parameters) return;
    for (const drive::Parameter& parameter : *parameters) {
      if (!watching(parameter.name)) watched_.push_back(parameter);
    }
    rebuild_view();
  }

  bool watching(const std::string& name) const {
    return std::any_of(watched_.begin(), watched_.end(), [&](const drive::Parameter& p) { return p.name == name; });
  }

  void remove(const std::vector<std::string>& names) {
    if (!given(names, "remove NAME...")) return;
    const std::optional<std::vector<drive::Parameter>> parameters = resolve_names(names);
    if (!parameters) return;
    for (const drive::Parameter& parameter : *parameters) {
      if (!watching(parameter.name)) log(parameter.name + " is not watched", true);
      std::erase_if(watched_, [&](const drive::Parameter& p) { return p.name == parameter.name; });
    }
    rebuild_view();
  }

  // Other axes are another link's start: the session opens again, or the old one
  // comes back when the new one cannot.
  void axes(const std::vector<std::string>& arguments) {
    if (arguments.size() != 1 || !parse_axes(arguments[0])) {
      log("give axes LIST: 2, 0,2,5, 0-3 or all", true);
      return;
    }
    const std::string before = options_.axes;
    options_.axes = arguments[0];
    session_.reset();
    int exit_code = EXIT_DONE;
    std::optional<std::unique_ptr<Session>> reopened = Session::open(options_, exit_code);
    if (!reopened) {
      options_.axes = before;
      reopened = Session::open(options_, exit_code);
      if (!reopened) {
        ended_ = true;
        return;
      }
    }
    session_ = std::move(*reopened);
    rebuild_view();
  }

  void interval(const std::vector<std::string>& arguments) {
    uint32_t ms = 0;
    if (arguments.size() != 1 || !core::parse_unsigned(arguments[0], ms) || ms > MAX_INTERVAL_MS) {
      log("give interval MS: 0 to " + std::to_string(MAX_INTERVAL_MS), true);
      return;
    }
    set_interval(static_cast<int>(ms));
  }

  void plot(const std::vector<std::string>& arguments) {
    if (arguments.size() != 1 || (arguments[0] != "on" && arguments[0] != "off")) {
      log("give plot on or plot off", true);
      return;
    }
    plot_ = arguments[0] == "on";
    rebuild_view();
  }

  void faults() {
    const FaultReport report = read_fault_report(*session_);
    for (std::size_t start = 0; start < report.text.size();) {
      const std::size_t end = report.text.find('\n', start);
      log(report.text.substr(start, end - start), report.any_fault);
      start = end == std::string::npos ? report.text.size() : end + 1;
    }
  }

  void save(const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) {
      log("give save FILE", true);
      return;
    }
    SettingsRequest request;
    request.file = arguments[0];
    if (core::Status writable = drive::check_writable(request.file); !writable) {
      say(writable.error().text + "; nothing read");
      return;
    }
    if (save_settings(*session_, EXIT_DONE, request) != EXIT_USAGE) log("saved to " + request.file);
  }

  Options options_;
  std::unique_ptr<Session> session_;
  std::vector<drive::Parameter> watched_;
  bool plot_;
  std::unique_ptr<WatchView> view_;
  KeyDecoder decoder_;
  LineEditor editor_;
  std::deque<LogLine> log_;  // the last LOG_LINES
  std::set<std::string> failing_;
  std::vector<Assignment> pending_writes_;
  std::string question_;
  Clock::time_point start_;
  Clock::time_point due_;
  int interval_ms_ = 100;
  platform::console::ScreenSize size_;
  bool repaint_ = true;
  bool interrupt_armed_ = false;
  bool ended_ = false;
};

}  // namespace

int run_console(const Options& given, const std::vector<std::string>& names, bool plot) {
  if (!platform::console::input_is_terminal() || !platform::console::output_is_terminal()) {
    say("console needs a terminal on standard input and output; use get, set or watch in scripts");
    return EXIT_USAGE;
  }
  const std::optional<std::vector<drive::Parameter>> parameters = resolve_names(names);
  if (!parameters) return EXIT_USAGE;
  Options options = given;
  // Ctrl-C cuts a command's waits short; the console goes on.
  options.interrupt_ends_waits = true;
  platform::console::catch_interrupts();
  int exit_code = EXIT_USAGE;
  std::optional<std::unique_ptr<Session>> session = Session::open(options, exit_code);
  if (!session) {
    platform::console::stop_key_poll();
    return exit_code;
  }
  platform::console::start_key_poll();
  bool written = false;
  int console_exit = EXIT_DONE;
  {
    // The link closes while Ctrl-C is still the console's: it cuts a slow close short.
    Console console(options, std::move(*session), *parameters, plot);
    console.set_interval(options.interval_ms);
    written = console.run();
    console_exit = console.finish();
  }
  platform::console::stop_key_poll();
  if (!written) {
    say("cannot write to standard output");
    return EXIT_USAGE;
  }
  return console_exit;
}

}  // namespace zr90
