// zr90 watch: parameters read again and again on a steady schedule, a row per sample.
#include <nlohmann/json.hpp>

#include <chrono>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/console.h"
#include "zr90/commands.h"
#include "zr90/output.h"
#include "zr90/reading.h"

namespace zr90 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int ESCAPE = 27;
constexpr std::size_t MIN_COLUMN_WIDTH = 8;

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

class Table {
 public:
  Table(std::vector<Column> columns, bool csv) : columns_(std::move(columns)), csv_(csv) {}

  std::string header() const {
    std::vector<std::string> cells{"ms"};
    for (const Column& column : columns_) cells.push_back(column.label);
    return row(cells);
  }

  std::string row(const std::vector<std::string>& cells) const {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (csv_) {
        line += (i > 0 ? "," : "") + cells[i];
        continue;
      }
      const std::size_t width = i == 0 ? MIN_COLUMN_WIDTH : std::max(MIN_COLUMN_WIDTH, columns_[i - 1].label.size());
      line += (i > 0 ? "  " : "") + std::string(width > cells[i].size() ? width - cells[i].size() : 0, ' ') + cells[i];
    }
    return line + "\n";
  }

  const std::vector<Column>& columns() const { return columns_; }

 private:
  std::vector<Column> columns_;
  bool csv_;
};

class Watcher {
 public:
  Watcher(Session& session, const Options& options, const std::vector<drive::Parameter>& parameters)
      : session_(session), options_(options), parameters_(parameters), table_(columns_of(parameters, session), options.csv) {}

  int run() {
    // JSON is one object per sample, a line each: nothing before the first.
    if (!options_.json && !emit(table_.header())) return EXIT_USAGE;
    const Clock::time_point start = Clock::now();
    for (long sample = 0; !options_.count || sample < *options_.count; ++sample) {
      if (sample > 0 && !wait_until(start + std::chrono::milliseconds(int64_t{options_.interval_ms} * sample))) break;
      if (!emit(sample_row(start))) return EXIT_USAGE;
      if (platform::console::interrupted()) break;
    }
    return any_failed_ ? EXIT_FAILED : EXIT_DONE;
  }

 private:
  // Sleeps until the next sample is due; false when the user ended the watch.
  bool wait_until(Clock::time_point due) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
      const int key = platform::console::wait_key(left > 0 ? static_cast<int>(left) : 0);
      if (platform::console::interrupted() || key == 'q' || key == 'Q' || key == ESCAPE) return false;
      if (key == platform::console::NO_KEY && Clock::now() >= due) return true;
    }
  }

  std::string sample_row(Clock::time_point start) {
    std::map<std::pair<const drive::Parameter*, uint8_t>, std::string> cells;
    const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    const std::vector<std::vector<drive::AxisValue>> values = read_on_axes(session_, parameters_);
    if (options_.json) return sample_json(at, values);
    for (std::size_t p = 0; p < parameters_.size(); ++p) {
      for (const drive::AxisValue& value : values[p]) {
        cells[{&parameters_[p], value.axis}] = cell(parameters_[p], value);
      }
    }
    std::vector<std::string> row{std::to_string(at)};
    for (const Column& column : table_.columns()) row.push_back(cells[{column.parameter, column.axis}]);
    return table_.row(row);
  }

  // {"ms": 100, "values": [{"axis": 0, "name": "kqp", "value": 1200}, ...]}, a failed read
  // with "error" in place of "value".
  std::string sample_json(int64_t at, const std::vector<std::vector<drive::AxisValue>>& values) {
    nlohmann::ordered_json sample = {{"ms", at}, {"values", nlohmann::ordered_json::array()}};
    for (std::size_t p = 0; p < parameters_.size(); ++p) {
      for (const drive::AxisValue& value : values[p]) {
        nlohmann::ordered_json entry = {{"axis", value.axis}, {"name", parameters_[p].name}};
        const std::string shown = cell(parameters_[p], value);
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

  // A failed read shows in its cell and is said once until that value reads again.
  std::string cell(const drive::Parameter& parameter, const drive::AxisValue& value) {
    const std::string key = std::to_string(value.axis) + ":" + parameter.name;
    if (value.value) {
      failing_.erase(key);
      return drive::format_value(parameter.type, *value.value, options_.hex);
    }
    any_failed_ = true;
    if (failing_.insert(key).second && session_.axis_started(value.axis)) {
      say(access_message(session_, value.axis, parameter.name, value.value.error()));
    }
    return options_.csv ? "" : "error";
  }

  Session& session_;
  const Options& options_;
  const std::vector<drive::Parameter>& parameters_;
  Table table_;
  std::set<std::string> failing_;
  bool any_failed_ = false;
};

}  // namespace

int run_watch(const Options& options, const std::vector<std::string>& names) {
  const std::optional<std::vector<drive::Parameter>> parameters = resolve_names(names);
  if (!parameters) return EXIT_USAGE;
  return with_session(options, [&](Session& session, int exit_code) {
    platform::console::start_key_poll();
    const int watched = Watcher(session, options, *parameters).run();
    platform::console::stop_key_poll();
    if (watched == EXIT_USAGE) say("cannot write to standard output");
    return watched != EXIT_DONE ? watched : exit_code;
  });
}

}  // namespace zr90
