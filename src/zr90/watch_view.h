// zr90 watch on a terminal: the values of each parameter on each axis as a table
// drawn in place, or as lines over the last samples, with the link, the rate and
// the time running above and the last error below.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/parameter.h"
#include "drive/reading.h"
#include "zr90/screen.h"
#include "zr90/table_view.h"

namespace zr90 {

class WatchView {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Mode : uint8_t { table, plot };

  struct Setup {
    std::span<const drive::Parameter> parameters;
    std::vector<uint8_t> axes;
    std::string link;  // "OSDEVICE ZAL COM1"
    Mode mode = Mode::table;
    bool hex = false;  // every value in hexadecimal, not only the fault and status words
    std::string title = "zr90 watch";
  };

  WatchView(const Setup& setup, Clock::time_point start);

  // One sample: a row per parameter, a value per axis, as the drive layer reads them.
  void record(Clock::time_point at, const std::vector<std::vector<drive::AxisValue>>& values);
  // The reason of the last failed read, for the status line.
  void set_status(std::string text);
  // Lines kept at the bottom of the screen in place of the keys (a log and a command
  // line below the view); none: the keys.
  void set_footer(std::vector<screen::Line> lines);
  // Something outside the values changed: the next frame is due as after a sample.
  void touch() { changed_ = true; }

  // Space pauses and resumes, m shows the minimum and maximum, r resets them. False
  // for a key the view does not take.
  bool take_key(int key, Clock::time_point now);
  bool paused() const { return paused_; }

  // The terminal sequences of the next frame, or nothing when no frame is due yet:
  // at most one per MIN_FRAME_GAP, and one per IDLE_FRAME_GAP while no sample came
  // (the time running, a mark that ends). repaint draws the whole screen.
  std::optional<std::string> frame(Clock::time_point now, int columns, int rows, bool repaint);
  // How long until frame() has something to draw.
  Clock::duration until_next_frame(Clock::time_point now) const;
  // The last frame drawn as plain text, without the keys, which no longer apply.
  std::string plain_text() const;

  static constexpr auto MIN_FRAME_GAP = std::chrono::milliseconds(50);
  static constexpr auto IDLE_FRAME_GAP = std::chrono::milliseconds(250);
  static constexpr auto MARK_TIME = std::chrono::seconds(1);
  static constexpr std::size_t HISTORY = 1024;

 private:
  // One parameter on one axis.
  struct Value {
    std::string label;  // kqp, or 2:kqp with several axes
    dict::PARAMETERTYPE type = dict::PARAMETERTYPE::TYPE_UINT;
    bool hex = false;
    std::optional<uint64_t> bits;  // nothing: the last read failed
    bool ever_read = false;
    Clock::time_point changed{};
    int64_t low = 0, high = 0;  // since the start, or the last reset
    uint64_t low_bits = 0, high_bits = 0;
    std::deque<double> history;  // NaN where a read failed
  };

  void take(Value& value, Clock::time_point at, std::optional<uint64_t> bits);
  void count_sample(Clock::time_point at);
  screen::Frame compose(Clock::time_point now, int columns, int rows);
  screen::Line header(Clock::time_point now) const;
  screen::TableModel table(Clock::time_point now) const;
  std::vector<screen::Line> chart(int columns, int rows) const;
  screen::Line legend() const;
  std::string shown(const Value& value, uint64_t bits) const;
  void reset_extremes();

  Setup setup_;
  std::vector<Value> values_;  // parameter by parameter, axis by axis
  Clock::time_point start_;
  long samples_ = 0;
  // The rate: samples since the mark, renewed each second.
  long samples_at_mark_ = 0;
  Clock::time_point mark_;
  double rate_ = 0;
  std::string status_;
  std::vector<screen::Line> footer_;
  bool paused_ = false;
  bool extremes_ = false;
  bool changed_ = true;
  Clock::time_point last_frame_{};
  screen::Screen screen_;
  screen::TableLayout layout_;
};

}  // namespace zr90
