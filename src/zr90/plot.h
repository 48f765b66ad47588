// Values over time as lines: the scale of an axis, a terminal chart of braille dots,
// and an SVG chart of a whole recording.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/result.h"
#include "zr90/screen.h"

namespace zr90::plot {

// An axis from low to high with a tick every step, each a round number (1, 2 or 5
// times a power of ten).
struct Scale {
  double low = 0;
  double high = 1;
  double step = 1;
};
// The smallest such axis that holds low to high with about ticks steps; a single
// value gets a range around it.
Scale nice_scale(double low, double high, int ticks);
// The ticks of a scale, low first.
std::vector<double> ticks(const Scale& scale);
// A tick's text with as many decimals as the step needs: 2.5, 1000, -0.25.
std::string tick_text(double value, double step);

// One line of a chart. A value that is NaN was not read: the line has a gap there.
struct Series {
  std::string name;
  std::span<const double> values;
  uint8_t colour = 0;  // ANSI colour, as screen::Style has it
};

// The ANSI colour of the series at index.
uint8_t series_colour(std::size_t index);

// The last values of each series in braille dots, the newest at the right edge, one
// value per dot column (two per character), scaled to what is shown; the y axis
// labelled on the left. rows lines of columns characters.
std::vector<screen::Line> braille_chart(std::span<const Series> series, int columns, int rows);

// Samples taken together: a time each and a value per series (NaN: not read).
struct Recording {
  std::vector<std::string> names;
  std::vector<double> ms;                   // since the first sample's start
  std::vector<std::vector<double>> values;  // [series][sample]
};

// An SVG image of the recording: time in seconds along the bottom, the values up
// the left, a polyline per series through every value read, a legend.
std::string svg_chart(const Recording& recording);

// The CSV zr90 watch writes (an optional time column, then ms, then a column per
// value; an empty cell where a read failed; decimal or 0x hexadecimal values).
core::Result<Recording> read_watch_csv(std::string_view text);

}  // namespace zr90::plot
