// zr90 watch: parameters read again and again on a steady schedule, a row per sample,
// or on a terminal a table (or a chart) drawn in place.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "drive/atomic_file.h"
#include "drive/settings_file.h"
#include "platform/console.h"
#include "zr90/commands.h"
#include "zr90/output.h"
#include "zr90/plot.h"
#include "zr90/reading.h"
#include "zr90/watch_view.h"

namespace zr90 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int ESCAPE = 27;
constexpr std::size_t MIN_COLUMN_WIDTH = 8;
constexpr char TIME_HEADING[] = "time";
constexpr std::size_t TIME_WIDTH = 24;  // 2026-12-08T20:46:36.123Z

struct Column {
  const drive::Parameter* parameter;
  uint8_t axis;
  std::string label;  // kqp, or 2:kqp with several axes
};

std::vector<Column> columns_of(const std::vector<drive::Parameter>& parameters, const Session& session) {
  std::vector<Column> columns;
  for (const drive::Parameter& parameter : parameters) {
    for (uint8_t axis : session.axes()) {
      const std::string label = session.several_axes() ? std::to_string(axis) + ":" + parameter.name : parameter.name;
      columns.push_back({&parameter, axis, label});
    }
  }
  return columns;
}

// The wall-clock time of a sample: UTC, to the millisecond.
std::string utc_milliseconds(std::chrono::system_clock::time_point at) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  char text[40] = {};
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", std::gmtime(&seconds));
  std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

// The rows of the text and CSV forms: the time (with --timestamps), the elapsed
// milliseconds, then a cell per column.
class Table {
 public:
  Table(const std::vector<Column>& columns, bool csv, bool timestamps) : csv_(csv) {
    if (timestamps) headings_.push_back(TIME_HEADING), widths_.push_back(TIME_WIDTH);
    headings_.push_back("ms");
    widths_.push_back(MIN_COLUMN_WIDTH);
    for (const Column& column : columns) {
      headings_.push_back(column.label);
      widths_.push_back(std::max(MIN_COLUMN_WIDTH, column.label.size()));
    }
  }

  std::string header() const { return row(headings_); }

  std::string row(const std::vector<std::string>& cells) const {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (csv_) {
        line += (i > 0 ? "," : "") + cells[i];
        continue;
      }
      const std::size_t width = widths_[i];
      line += (i > 0 ? "  " : "") + std::string(width > cells[i].size() ? width - cells[i].size() : 0, ' ') + cells[i];
    }
    return line + "\n";
  }

 private:
  std::vector<std::string> headings_;
  std::vector<std::size_t> widths_;
  bool csv_;
};

class Watcher {
 public:
  Watcher(Session& session, const Options& options, const WatchRequest& request,
          const std::vector<drive::Parameter>& parameters)
      : session_(session),
        options_(options),
        request_(request),
        parameters_(parameters),
        columns_(columns_of(parameters, session)),
        table_(columns_, options.csv, request.timestamps) {
    for (const Column& column : columns_) recording_.names.push_back(column.label);
    recording_.values.resize(columns_.size());
  }

  int run() {
    const Clock::time_point start = Clock::now();
    std::unique_ptr<platform::console::ScreenTaken> screen;
    if (request_.live) {
      screen = start_view(start);
    } else if (!options_.json && !emit(table_.header())) {
      // JSON is one object per sample, a line each: nothing before the first.
      return EXIT_USAGE;
    }
    const std::optional<long> taken = take_samples(start);
    if (!taken) return EXIT_USAGE;
    // A run that ran its count leaves its last picture on the user's screen.
    if (view_ && !end_view(std::move(screen), options_.count && *taken >= *options_.count)) return EXIT_USAGE;
    return any_failed_ ? EXIT_FAILED : EXIT_DONE;
  }

  // Every sample read, for --svg.
  const plot::Recording& recording() const { return recording_; }

 private:
  std::unique_ptr<platform::console::ScreenTaken> start_view(Clock::time_point start) {
    const WatchView::Mode mode = request_.plot ? WatchView::Mode::plot : WatchView::Mode::table;
    const drive::LinkDescription link = drive::link_description(session_.link().settings());
    const std::string link_text =
        link.interface_kind + " " + link.protocol + (link.address.empty() ? "" : " " + link.address);
    view_ = std::make_unique<WatchView>(WatchView::Setup{parameters_, session_.axes(), link_text, mode, options_.hex},
                                        start);
    size_ = platform::console::screen_size();
    return std::make_unique<platform::console::ScreenTaken>();
  }

  // The samples on their schedule until the count, a key or a signal ends them; how
  // many were taken, or nothing when standard output failed.
  std::optional<long> take_samples(Clock::time_point start) {
    Clock::time_point due = start;
    long sample = 0;
    for (; !options_.count || sample < *options_.count; ++sample) {
      if (sample > 0 && !wait_until(due)) break;
      if (!take_sample(start)) return std::nullopt;
      if (platform::console::interrupted()) break;
      due += std::chrono::milliseconds(options_.interval_ms);
    }
    if (output_failed_) return std::nullopt;
    return sample;
  }

  // The user's screen back, with the last picture when asked; the failed reads said
  // where they stay. False when standard output failed.
  bool end_view(std::unique_ptr<platform::console::ScreenTaken> screen, bool keep_picture) {
    if (keep_picture && !draw(Clock::now(), true)) return false;
    screen.reset();
    if (keep_picture && !emit(view_->plain_text())) return false;
    for (const std::string& message : said_later_) say(message);
    return true;
  }

  // Draws a frame when one is due (or repaint); false when standard output failed.
  bool draw(Clock::time_point now, bool repaint = false) {
    if (platform::console::screen_needs_repaint()) {
      size_ = platform::console::screen_size();
      repaint = true;
    }
    const std::optional<std::string> frame = view_->frame(now, size_.columns, size_.rows, repaint);
    if (frame && !frame->empty() && !emit(*frame)) output_failed_ = true;
    return !output_failed_;
  }

  // Waits until the next sample is due, drawing and taking keys meanwhile; false when
  // the user ended the watch (or the screen could not be written).
  bool wait_until(Clock::time_point& due) {
    for (;;) {
      const Clock::time_point now = Clock::now();
      if (view_ && !draw(now)) return false;
      Clock::duration left = due - now;
      if (view_) left = view_->paused() ? view_->until_next_frame(now) : std::min(left, view_->until_next_frame(now));
      const auto left_ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      const int key = platform::console::wait_key(left_ms > 0 ? static_cast<int>(left_ms) : 0);
      if (platform::console::interrupted() || key == 'q' || key == 'Q' || key == ESCAPE) return false;
      if (key != platform::console::NO_KEY) {
        const bool was_paused = view_ && view_->paused();
        if (view_) view_->take_key(key, Clock::now());
        // The schedule starts again from the resumption: no burst of missed samples.
        if (was_paused && !view_->paused()) due = Clock::now();
        continue;
      }
      if ((!view_ || !view_->paused()) && Clock::now() >= due) return true;
    }
  }

  // Reads one sample and shows it; false when standard output could not be written.
  bool take_sample(Clock::time_point start) {
    const auto wall = std::chrono::system_clock::now();
    const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    const std::vector<std::vector<drive::AxisValue>> values = read_on_axes(session_, parameters_);
    // A sample that Ctrl-C or SIGTERM cut short is no sample: the user ended the
    // watch, and its reads did not fail.
    if (platform::console::interrupted()) return true;
    std::map<std::pair<const drive::Parameter*, uint8_t>, std::string> cells;
    for (std::size_t p = 0; p < parameters_.size(); ++p) {
      for (const drive::AxisValue& value : values[p])
        cells[{&parameters_[p], value.axis}] = cell(parameters_[p], value);
    }
    if (!request_.svg.empty()) keep(at, values);
    if (view_) {
      view_->record(Clock::now(), values);
      return draw(Clock::now());
    }
    if (options_.json) return emit(sample_json(at, wall, values));
    std::vector<std::string> row;
    if (request_.timestamps) row.push_back(utc_milliseconds(wall));
    row.push_back(std::to_string(at));
    for (const Column& column : columns_) row.push_back(cells[{column.parameter, column.axis}]);
    return emit(table_.row(row));
  }

  // The sample into the recording an SVG chart is made of.
  void keep(int64_t at, const std::vector<std::vector<drive::AxisValue>>& values) {
    recording_.ms.push_back(static_cast<double>(at));
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const std::size_t p = static_cast<std::size_t>(columns_[c].parameter - parameters_.data());
      double number = std::numeric_limits<double>::quiet_NaN();
      for (const drive::AxisValue& value : values[p]) {
        if (value.axis == columns_[c].axis && value.value) {
          number = static_cast<double>(drive::signed_value(parameters_[p].type, *value.value));
        }
      }
      recording_.values[c].push_back(number);
    }
  }

  // {"ms": 100, "values": [{"axis": 0, "name": "kqp", "value": 1200}, ...]}, a failed read
  // with "error" in place of "value"; with --timestamps "time" first.
  std::string sample_json(int64_t at, std::chrono::system_clock::time_point wall,
                          const std::vector<std::vector<drive::AxisValue>>& values) {
    nlohmann::ordered_json sample = nlohmann::ordered_json::object();
    if (request_.timestamps) sample["time"] = utc_milliseconds(wall);
    sample["ms"] = at;
    sample["values"] = nlohmann::ordered_json::array();
    for (std::size_t p = 0; p < parameters_.size(); ++p) {
      for (const drive::AxisValue& value : values[p]) {
        nlohmann::ordered_json entry = {{"axis", value.axis}, {"name", parameters_[p].name}};
        if (value.value) {
          put_value(entry, "value", parameters_[p], *value.value, options_.hex);
        } else {
          entry["error"] = describe(value.value.error());
        }
        sample["values"].push_back(std::move(entry));
      }
    }
    return sample.dump() + "\n";
  }

  // A failed read shows in its cell and is said once until that value reads again: on
  // standard error, or on a terminal view's status line (and once the view ends).
  std::string cell(const drive::Parameter& parameter, const drive::AxisValue& value) {
    const std::string key = std::to_string(value.axis) + ":" + parameter.name;
    if (value.value) {
      failing_.erase(key);
      return drive::format_value(parameter.type, *value.value, options_.hex);
    }
    any_failed_ = true;
    if (failing_.insert(key).second && session_.axis_started(value.axis)) {
      const std::string message = access_message(session_, value.axis, parameter.name, value.value.error());
      if (view_) {
        view_->set_status(message);
        said_later_.push_back(message);
      } else {
        say(message);
      }
    }
    return options_.csv ? "" : "error";
  }

  Session& session_;
  const Options& options_;
  const WatchRequest& request_;
  const std::vector<drive::Parameter>& parameters_;
  std::vector<Column> columns_;
  Table table_;
  std::set<std::string> failing_;
  bool any_failed_ = false;
  bool output_failed_ = false;
  std::unique_ptr<WatchView> view_;
  platform::console::ScreenSize size_;
  std::vector<std::string> said_later_;
  plot::Recording recording_;
};

}  // namespace

int run_watch(const Options& options, const std::vector<std::string>& names, WatchRequest request) {
  const std::optional<std::vector<drive::Parameter>> parameters = resolve_names(names);
  if (!parameters) return EXIT_USAGE;
  request.live = platform::console::output_is_terminal() && !options.csv && !options.json;
  if (request.plot && !request.live) {
    say("--plot draws on a terminal: standard output is not one, or --csv or --json was given");
    return EXIT_USAGE;
  }
  // A chart that cannot be written is said before the drives are read for it.
  if (!request.svg.empty()) {
    if (core::Status writable = drive::check_writable(request.svg); !writable) {
      say(writable.error().text + "; nothing read");
      return EXIT_USAGE;
    }
  }
  return with_session(options, [&](Session& session, int exit_code) {
    platform::console::start_key_poll();
    Watcher watcher(session, options, request, *parameters);
    const int watched = watcher.run();
    platform::console::stop_key_poll();
    if (watched == EXIT_USAGE) {
      say("cannot write to standard output");
      return watched;
    }
    if (!request.svg.empty()) {
      if (core::Status written = drive::write_file_atomically(request.svg, plot::svg_chart(watcher.recording()));
          !written) {
        say(written.error().text);
        return EXIT_USAGE;
      }
    }
    return watched != EXIT_DONE ? watched : exit_code;
  });
}

}  // namespace zr90
