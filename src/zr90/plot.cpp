#include "zr90/plot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string_view>

#include "core/text.h"

namespace zr90::plot {

namespace {

constexpr double NO_VALUE = std::numeric_limits<double>::quiet_NaN();
// Distinct on a dark and a light background; red last, as it also marks errors.
constexpr std::array<uint8_t, 6> COLOURS{6, 3, 2, 5, 4, 1};
constexpr std::array<const char*, 6> SVG_COLOURS{"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b"};

// A braille character is two dots wide and four high; bit of the dot at (x, y).
constexpr int DOTS_WIDE = 2;
constexpr int DOTS_HIGH = 4;
constexpr uint8_t DOT_BITS[DOTS_HIGH][DOTS_WIDE] = {{0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};
constexpr char32_t BRAILLE_BLANK = 0x2800;
constexpr int Y_TICKS = 4;

std::string utf8(char32_t code) {
  std::string text;
  text += static_cast<char>(0xE0 | (code >> 12));
  text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  text += static_cast<char>(0x80 | (code & 0x3F));
  return text;
}

struct Range {
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
  void take(double value) {
    if (std::isnan(value)) return;
    low = std::min(low, value);
    high = std::max(high, value);
  }
  bool empty() const { return low > high; }
};

// The dots of one chart, each cell with the colour of the series that drew last in it.
class Canvas {
 public:
  Canvas(int columns, int rows)
      : columns_(columns), rows_(rows), bits_(static_cast<std::size_t>(columns * rows)), colours_(bits_.size()) {}

  int dots_wide() const { return columns_ * DOTS_WIDE; }
  int dots_high() const { return rows_ * DOTS_HIGH; }

  void set(int x, int y, uint8_t colour) {
    if (x < 0 || y < 0 || x >= dots_wide() || y >= dots_high()) return;
    const std::size_t cell = static_cast<std::size_t>((y / DOTS_HIGH) * columns_ + x / DOTS_WIDE);
    bits_[cell] |= DOT_BITS[y % DOTS_HIGH][x % DOTS_WIDE];
    colours_[cell] = colour;
  }

  // The row's characters as spans, one per run of a colour, from column start on.
  screen::Line line(int row, int start) const {
    screen::Line spans;
    for (int c = 0; c < columns_; ++c) {
      const std::size_t cell = static_cast<std::size_t>(row * columns_ + c);
      const uint8_t colour = bits_[cell] != 0 ? colours_[cell] : 0;
      const std::string text = bits_[cell] != 0 ? utf8(BRAILLE_BLANK + bits_[cell]) : " ";
      if (spans.empty() || spans.back().style.colour != colour) spans.push_back({start + c, "", {.colour = colour}});
      spans.back().text += text;
    }
    return spans;
  }

 private:
  int columns_;
  int rows_;
  std::vector<uint8_t> bits_;
  std::vector<uint8_t> colours_;
};

// The dot row of value: the top of the scale at 0.
int dot_row(double value, const Scale& scale, int dots_high) {
  const double share = (scale.high - value) / (scale.high - scale.low);
  return static_cast<int>(std::lround(share * (dots_high - 1)));
}

void draw_series(Canvas& canvas, const Series& series, const Scale& scale) {
  const std::size_t shown = std::min(series.values.size(), static_cast<std::size_t>(canvas.dots_wide()));
  const std::span<const double> last = series.values.last(shown);
  const int first_x = canvas.dots_wide() - static_cast<int>(shown);
  constexpr int NONE = -1;
  int before = NONE;  // the dot row of the value before, when it was read
  for (std::size_t i = 0; i < last.size(); ++i) {
    const int x = first_x + static_cast<int>(i);
    if (std::isnan(last[i])) {
      before = NONE;
      continue;
    }
    const int y = dot_row(last[i], scale, canvas.dots_high());
    // A step is drawn as a vertical stroke, so that the line stays unbroken.
    const int from = before != NONE ? std::min(before, y) : y;
    const int to = before != NONE ? std::max(before, y) : y;
    for (int dot = from; dot <= to; ++dot) canvas.set(x, dot, series.colour);
    before = y;
  }
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string xml_escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A cell of the CSV: empty for a failed read, decimal, or 0x hexadecimal bits.
std::optional<double> cell_value(const std::string& cell) {
  if (cell.empty()) return NO_VALUE;
  char* end = nullptr;
  const bool hex = cell.size() > 2 && cell[0] == '0' && (cell[1] == 'x' || cell[1] == 'X');
  const double value =
      hex ? static_cast<double>(std::strtoull(cell.c_str() + 2, &end, 16)) : std::strtod(cell.c_str(), &end);
  if (end == cell.c_str() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

core::Failure refused(std::size_t line, const std::string& text) {
  return core::fail(core::FailureKind::config, "line " + std::to_string(line) + ": " + text);
}

}  // namespace

Scale nice_scale(double low, double high, int ticks) {
  if (!(low <= high)) return {};
  if (low == high) {
    const double around = std::max(1.0, std::abs(low) / 10);
    low -= around;
    high += around;
  }
  const double rough = (high - low) / std::max(1, ticks);
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power * 10;
  for (double factor : {1.0, 2.0, 5.0}) {
    if (power * factor >= rough) {
      step = power * factor;
      break;
    }
  }
  return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

std::vector<double> ticks(const Scale& scale) {
  std::vector<double> values;
  const int steps = static_cast<int>(std::lround((scale.high - scale.low) / scale.step));
  for (int i = 0; i <= steps; ++i) values.push_back(scale.low + i * scale.step);
  return values;
}

std::string tick_text(double value, double step) {
  const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, std::abs(value) < step / 2 ? 0.0 : value);
  return text;
}

uint8_t series_colour(std::size_t index) { return COLOURS[index % COLOURS.size()]; }

std::vector<screen::Line> braille_chart(std::span<const Series> series, int columns, int rows) {
  rows = std::max(rows, 1);
  Range range;
  for (const Series& one : series) {
    const std::size_t shown = std::min(one.values.size(), static_cast<std::size_t>(columns * DOTS_WIDE));
    for (double value : one.values.last(shown)) range.take(value);
  }
  const Scale scale = range.empty() ? Scale{} : nice_scale(range.low, range.high, Y_TICKS);
  // The labels: each tick at the row it falls on.
  std::vector<std::string> labels(static_cast<std::size_t>(rows));
  int label_width = 0;
  for (double tick : ticks(scale)) {
    const int row = dot_row(tick, scale, rows * DOTS_HIGH) / DOTS_HIGH;
    labels[static_cast<std::size_t>(row)] = tick_text(tick, scale.step);
    label_width = std::max(label_width, screen::text_width(labels[static_cast<std::size_t>(row)]));
  }
  const int start = label_width + 1;
  Canvas canvas(std::max(1, columns - start), rows);
  for (const Series& one : series) draw_series(canvas, one, scale);
  std::vector<screen::Line> lines;
  for (int row = 0; row < rows; ++row) {
    const std::string& label = labels[static_cast<std::size_t>(row)];
    screen::Line line{
        {0,
         std::string(static_cast<std::size_t>(label_width - screen::text_width(label)), ' ') + label + "┤",
         {.dim = true}}};
    for (screen::Span& span : canvas.line(row, start)) line.push_back(std::move(span));
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string svg_chart(const Recording& recording) {
  constexpr double WIDTH = 960, HEIGHT = 480, LEFT = 80, RIGHT = 180, TOP = 20, BOTTOM = 50;
  const double plot_width = WIDTH - LEFT - RIGHT, plot_height = HEIGHT - TOP - BOTTOM;
  Range values;
  for (const std::vector<double>& series : recording.values) {
    for (double value : series) values.take(value);
  }
  const Scale y = values.empty() ? Scale{} : nice_scale(values.low, values.high, 6);
  const double last_s = recording.ms.empty() ? 0 : recording.ms.back() / 1000;
  const Scale x = nice_scale(0, std::max(last_s, 1e-3), 8);
  auto px = [&](double ms) { return LEFT + (ms / 1000 - x.low) / (x.high - x.low) * plot_width; };
  auto py = [&](double value) { return TOP + (y.high - value) / (y.high - y.low) * plot_height; };

  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg +=
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"960\" height=\"480\" viewBox=\"0 0 960 480\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect width=\"960\" height=\"480\" fill=\"white\"/>\n";
  svg += "<g class=\"axes\" stroke=\"#888\" stroke-width=\"1\">\n";
  svg += "<line x1=\"" + number(LEFT) + "\" y1=\"" + number(TOP + plot_height) + "\" x2=\"" +
         number(LEFT + plot_width) + "\" y2=\"" + number(TOP + plot_height) + "\"/>\n";
  svg += "<line x1=\"" + number(LEFT) + "\" y1=\"" + number(TOP) + "\" x2=\"" + number(LEFT) + "\" y2=\"" +
         number(TOP + plot_height) + "\"/>\n</g>\n";
  svg += "<g class=\"ticks\" fill=\"#333\">\n";
  for (double tick : ticks(x)) {
    const double at = px(tick * 1000);
    svg += "<line x1=\"" + number(at) + "\" y1=\"" + number(TOP + plot_height) + "\" x2=\"" + number(at) + "\" y2=\"" +
           number(TOP + plot_height + 5) + "\" stroke=\"#888\"/>";
    svg += "<text x=\"" + number(at) + "\" y=\"" + number(TOP + plot_height + 18) + "\" text-anchor=\"middle\">" +
           tick_text(tick, x.step) + "</text>\n";
  }
  for (double tick : ticks(y)) {
    const double at = py(tick);
    svg += "<line x1=\"" + number(LEFT - 5) + "\" y1=\"" + number(at) + "\" x2=\"" + number(LEFT + plot_width) +
           "\" y2=\"" + number(at) + "\" stroke=\"#ddd\"/>";
    svg += "<text x=\"" + number(LEFT - 8) + "\" y=\"" + number(at + 4) + "\" text-anchor=\"end\">" +
           tick_text(tick, y.step) + "</text>\n";
  }
  svg += "<text x=\"" + number(LEFT + plot_width / 2) + "\" y=\"" + number(HEIGHT - 10) +
         "\" text-anchor=\"middle\">time (s)</text>\n</g>\n";
  svg += "<g class=\"series\" fill=\"none\" stroke-width=\"1.5\">\n";
  for (std::size_t s = 0; s < recording.names.size(); ++s) {
    std::string points;
    for (std::size_t i = 0; i < recording.ms.size() && i < recording.values[s].size(); ++i) {
      if (std::isnan(recording.values[s][i])) continue;
      if (!points.empty()) points.push_back(' ');
      points.append(number(px(recording.ms[i]))).append(",").append(number(py(recording.values[s][i])));
    }
    svg += "<polyline data-series=\"" + xml_escaped(recording.names[s]) + "\" stroke=\"" +
           SVG_COLOURS[s % SVG_COLOURS.size()] + "\" points=\"" + points + "\"/>\n";
  }
  svg += "</g>\n<g class=\"legend\">\n";
  for (std::size_t s = 0; s < recording.names.size(); ++s) {
    const double at = TOP + 10 + static_cast<double>(s) * 20;
    const double from = LEFT + plot_width + 20;
    svg += "<line x1=\"" + number(from) + "\" y1=\"" + number(at) + "\" x2=\"" + number(from + 24) + "\" y2=\"" +
           number(at) + "\" stroke=\"" + SVG_COLOURS[s % SVG_COLOURS.size()] + "\" stroke-width=\"3\"/>";
    svg += "<text x=\"" + number(from + 30) + "\" y=\"" + number(at + 4) + "\">" + xml_escaped(recording.names[s]) +
           "</text>\n";
  }
  svg += "</g>\n</svg>\n";
  return svg;
}

core::Result<Recording> read_watch_csv(std::string_view text) {
  std::vector<std::string> lines = core::split_at(text, '\n');
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  if (lines.empty()) return refused(1, "empty; expected the header of zr90 watch --csv (ms,NAME,...)");
  const std::vector<std::string> header = core::split_at(lines[0], ',');
  const std::size_t ms_column = header.size() > 1 && header[0] == "time" ? 1 : 0;
  if (header[ms_column] != "ms" || header.size() <= ms_column + 1) {
    return refused(1, "not the header of zr90 watch --csv (ms,NAME,... or time,ms,NAME,...)");
  }
  Recording recording;
  recording.names.assign(header.begin() + static_cast<std::ptrdiff_t>(ms_column + 1), header.end());
  recording.values.resize(recording.names.size());
  for (std::size_t n = 1; n < lines.size(); ++n) {
    const std::vector<std::string> cells = core::split_at(lines[n], ',');
    if (cells.size() != header.size()) {
      return refused(n + 1,
                     std::to_string(cells.size()) + " cells where the header has " + std::to_string(header.size()));
    }
    const std::optional<double> ms = cell_value(cells[ms_column]);
    if (!ms || std::isnan(*ms)) return refused(n + 1, "\"" + cells[ms_column] + "\" is not a time in ms");
    recording.ms.push_back(*ms);
    for (std::size_t s = 0; s < recording.names.size(); ++s) {
      const std::optional<double> value = cell_value(cells[ms_column + 1 + s]);
      if (!value) return refused(n + 1, "\"" + cells[ms_column + 1 + s] + "\" is not a number");
      recording.values[s].push_back(*value);
    }
  }
  return recording;
}

}  // namespace zr90::plot
