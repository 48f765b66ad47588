// What a full-screen view shows, as lines of styled text, and the terminal sequences
// that bring the terminal from the last frame drawn to the next one. The terminal
// is written only where the frame changed, so that a steady table costs next to
// nothing to keep up to date and a slow terminal is not flooded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zr90::screen {

// SGR attributes; colour 0 is the terminal's own, 1 to 7 the ANSI colours.
struct Style {
  bool bold = false;
  bool reverse = false;
  bool dim = false;
  uint8_t colour = 0;
  bool operator==(const Style&) const = default;
};

// Text starting at a column (0-based), drawn in one style. Spans of a line are in
// column order and do not overlap.
struct Span {
  int column = 0;
  std::string text;  // UTF-8, one column per character
  Style style;
  bool operator==(const Span&) const = default;
};

using Line = std::vector<Span>;
using Frame = std::vector<Line>;

// Columns text takes on the screen: its characters, not its bytes.
int text_width(std::string_view text);
// At most width columns of text.
std::string clip(std::string_view text, int width);

// A terminal's picture of what it shows. draw() returns the sequences that turn the
// last frame into the next; nothing is written to any device here.
class Screen {
 public:
  // The next draw starts from a cleared screen: the picture was lost or the size changed.
  void invalidate() { whole_ = true; }
  std::string draw(const Frame& frame, int columns, int rows);
  // The last frame drawn as plain text, a line each, trailing spaces dropped.
  std::string plain_text() const;

 private:
  std::string draw_line(int row, const Line& line, const Line* before, int columns) const;

  Frame shown_;
  bool whole_ = true;
};

// The SGR sequence that starts style (after a reset).
std::string style_sequence(const Style& style);

}  // namespace zr90::screen
