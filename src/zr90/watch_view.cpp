#include "zr90/watch_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "drive/faults.h"
#include "zr90/plot.h"

namespace zr90 {

namespace {

constexpr int SPACE = ' ';
constexpr char KEYS_HELP[] = "q quit  space pause  m min/max  r reset";
constexpr uint8_t RED = 1;
// The header, a blank line, ..., a blank line, the status line and the keys.
constexpr int LINES_AROUND = 5;

std::string running_time(WatchView::Clock::duration elapsed) {
  const long seconds = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

std::string one_decimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

WatchView::WatchView(const Setup& setup, Clock::time_point start) : setup_(setup), start_(start), mark_(start) {
  for (const drive::Parameter& parameter : setup_.parameters) {
    // Fault and status words are bits, which only hexadecimal shows.
    const bool word = drive::fault_word(parameter.row_name) != nullptr;
    for (uint8_t axis : setup_.axes) {
      Value value;
      value.label = setup_.axes.size() > 1 ? std::to_string(axis) + ":" + parameter.name : parameter.name;
      value.type = parameter.type;
      value.hex = setup_.hex || word;
      values_.push_back(std::move(value));
    }
  }
}

void WatchView::record(Clock::time_point at, const std::vector<std::vector<drive::AxisValue>>& values) {
  std::size_t index = 0;
  for (const std::vector<drive::AxisValue>& row : values) {
    for (const drive::AxisValue& read : row) {
      if (index >= values_.size()) return;
      take(values_[index++], at, read.value ? std::optional<uint64_t>(*read.value) : std::nullopt);
    }
  }
  count_sample(at);
  changed_ = true;
}

void WatchView::take(Value& value, Clock::time_point at, std::optional<uint64_t> bits) {
  if (bits && value.bits && *bits != *value.bits) value.changed = at;
  value.bits = bits;
  if (!bits) {
    value.history.push_back(std::numeric_limits<double>::quiet_NaN());
  } else {
    const int64_t number = drive::signed_value(value.type, *bits);
    value.history.push_back(static_cast<double>(number));
    if (!value.ever_read || number < value.low) value.low = number, value.low_bits = *bits;
    if (!value.ever_read || number > value.high) value.high = number, value.high_bits = *bits;
    value.ever_read = true;
  }
  if (value.history.size() > HISTORY) value.history.pop_front();
}

// The rate counts the gaps between samples: from the first one on, renewed each second.
void WatchView::count_sample(Clock::time_point at) {
  if (samples_++ == 0) {
    samples_at_mark_ = 1;
    mark_ = at;
  } else if (samples_at_mark_ == 1 && at > mark_) {
    rate_ = static_cast<double>(samples_ - samples_at_mark_) / std::chrono::duration<double>(at - mark_).count();
  }
  if (at - mark_ >= std::chrono::seconds(1)) {
    rate_ = static_cast<double>(samples_ - samples_at_mark_) / std::chrono::duration<double>(at - mark_).count();
    samples_at_mark_ = samples_;
    mark_ = at;
  }
}

void WatchView::set_status(std::string text) {
  status_ = std::move(text);
  changed_ = true;
}

void WatchView::set_footer(std::vector<screen::Line> lines) {
  // Set before every frame: only a change makes one due.
  if (lines == footer_) return;
  footer_ = std::move(lines);
  changed_ = true;
}

void WatchView::reset_extremes() {
  for (Value& value : values_) {
    value.ever_read = value.bits.has_value();
    if (!value.bits) continue;
    value.low = value.high = drive::signed_value(value.type, *value.bits);
    value.low_bits = value.high_bits = *value.bits;
  }
}

bool WatchView::take_key(int key, Clock::time_point now) {
  switch (key) {
    case SPACE:
      paused_ = !paused_;
      // The rate counts from the resumption, not across the pause.
      samples_at_mark_ = samples_;
      mark_ = now;
      break;
    case 'm':
    case 'M':
      extremes_ = !extremes_;
      break;
    case 'r':
    case 'R':
      reset_extremes();
      break;
    default:
      return false;
  }
  changed_ = true;
  return true;
}

WatchView::Clock::duration WatchView::until_next_frame(Clock::time_point now) const {
  const Clock::time_point next = last_frame_ + (changed_ ? Clock::duration(MIN_FRAME_GAP) : IDLE_FRAME_GAP);
  return std::max(Clock::duration::zero(), next - now);
}

std::optional<std::string> WatchView::frame(Clock::time_point now, int columns, int rows, bool repaint) {
  if (repaint) screen_.invalidate();
  if (!repaint && until_next_frame(now) > Clock::duration::zero()) return std::nullopt;
  last_frame_ = now;
  changed_ = false;
  return screen_.draw(compose(now, columns, rows), columns, rows);
}

std::string WatchView::plain_text() const {
  std::string text = screen_.plain_text();
  const std::size_t keys = text.rfind(KEYS_HELP);
  if (keys != std::string::npos) text.erase(keys);
  while (text.size() > 1 && text.ends_with("\n\n")) text.pop_back();
  return text;
}

std::string WatchView::shown(const Value& value, uint64_t bits) const {
  return drive::format_value(value.type, bits, value.hex);
}

screen::Line WatchView::header(Clock::time_point now) const {
  screen::Line line{{0,
                     setup_.title + "  " + setup_.link + "  " + one_decimal(paused_ ? 0 : rate_) + " samples/s  " +
                         running_time(now - start_),
                     {.bold = true}}};
  if (paused_) line.push_back({screen::text_width(line[0].text) + 2, "paused", {.reverse = true}});
  return line;
}

screen::TableModel WatchView::table(Clock::time_point now) const {
  screen::TableModel model;
  model.corner = "parameter";
  for (uint8_t axis : setup_.axes) model.columns.push_back("axis " + std::to_string(axis));
  const std::size_t axes = setup_.axes.size();
  for (std::size_t p = 0; p < setup_.parameters.size(); ++p) {
    screen::TableRow row{setup_.parameters[p].name, {}};
    for (std::size_t a = 0; a < axes; ++a) {
      const Value& value = values_[p * axes + a];
      screen::Cell cell;
      if (value.bits) {
        cell.text = shown(value, *value.bits);
        cell.style.reverse = value.changed != Clock::time_point{} && now - value.changed < MARK_TIME;
      } else if (value.history.empty()) {
        cell.text = "";
      } else {
        cell.text = "error";
        cell.style.colour = RED;
      }
      if (extremes_ && value.ever_read) {
        cell.text += " [" + shown(value, value.low_bits) + " " + shown(value, value.high_bits) + "]";
      }
      row.cells.push_back(std::move(cell));
    }
    model.rows.push_back(std::move(row));
  }
  return model;
}

screen::Line WatchView::legend() const {
  screen::Line line;
  int at = 0;
  for (std::size_t i = 0; i < values_.size(); ++i) {
    const Value& value = values_[i];
    std::string text = "━━ " + value.label + " ";
    text += value.bits ? shown(value, *value.bits) : value.history.empty() ? "" : "error";
    if (extremes_ && value.ever_read)
      text += " [" + shown(value, value.low_bits) + " " + shown(value, value.high_bits) + "]";
    line.push_back({at, text, {.colour = plot::series_colour(i)}});
    at += screen::text_width(text) + 3;
  }
  return line;
}

std::vector<screen::Line> WatchView::chart(int columns, int rows) const {
  // The chart wants its values in one piece; a deque keeps them in pieces.
  std::vector<std::vector<double>> histories;
  for (const Value& value : values_) histories.emplace_back(value.history.begin(), value.history.end());
  std::vector<plot::Series> series;
  for (std::size_t i = 0; i < values_.size(); ++i) {
    series.push_back({values_[i].label, histories[i], plot::series_colour(i)});
  }
  return plot::braille_chart(series, columns, rows);
}

screen::Frame WatchView::compose(Clock::time_point now, int columns, int rows) {
  // A footer of several lines takes rows from the chart, and keeps to the bottom.
  const int footer_rows = footer_.empty() ? 1 : static_cast<int>(footer_.size());
  screen::Frame frame{header(now), {}};
  if (setup_.mode == Mode::table) {
    for (screen::Line& line : layout_.lines(table(now))) frame.push_back(std::move(line));
  } else {
    frame.push_back(legend());
    for (screen::Line& line : chart(columns, std::max(2, rows - LINES_AROUND - footer_rows))) {
      frame.push_back(std::move(line));
    }
  }
  frame.emplace_back();
  frame.push_back(status_.empty() ? screen::Line{} : screen::Line{{0, status_, {.colour = RED}}});
  if (footer_.empty()) {
    frame.push_back({{0, KEYS_HELP, {.dim = true}}});
    return frame;
  }
  // A table taller than the screen gives up its last rows, never the command line.
  frame.resize(static_cast<std::size_t>(std::max(1, rows - footer_rows)));
  for (const screen::Line& line : footer_) frame.push_back(line);
  return frame;
}

}  // namespace zr90
