#include "zr90/screen.h"

#include <algorithm>

namespace zr90::screen {

namespace {

constexpr char CLEAR_SCREEN[] = "\x1b[H\x1b[2J";
constexpr char CLEAR_TO_END_OF_LINE[] = "\x1b[K";
constexpr char RESET[] = "\x1b[0m";

bool starts_character(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

// Row and column are 0-based here, 1-based on the terminal.
std::string move_to(int row, int column) {
  return "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(column + 1) + "H";
}

// The span as far as it fits before the right edge; empty when it starts beyond it.
std::string fitted(const Span& span, int columns) {
  if (span.column >= columns) return {};
  return clip(span.text, columns - span.column);
}

std::string styled(const Span& span, int columns) {
  const std::string text = fitted(span, columns);
  if (text.empty()) return {};
  if (span.style == Style{}) return text;
  return style_sequence(span.style) + text + RESET;
}

// The same spans at the same places, each as wide as before: only their text and
// style may differ, so each can be drawn over its old self.
bool same_layout(const Line& a, const Line& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].column != b[i].column || text_width(a[i].text) != text_width(b[i].text)) return false;
  }
  return true;
}

}  // namespace

int text_width(std::string_view text) {
  return static_cast<int>(std::count_if(text.begin(), text.end(), starts_character));
}

std::string clip(std::string_view text, int width) {
  int seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!starts_character(text[i])) continue;
    if (seen++ == width) return std::string(text.substr(0, i));
  }
  return std::string(text);
}

std::string style_sequence(const Style& style) {
  std::string sequence = "\x1b[0";
  if (style.bold) sequence += ";1";
  if (style.dim) sequence += ";2";
  if (style.reverse) sequence += ";7";
  if (style.colour != 0) sequence.append(";3").push_back(static_cast<char>('0' + style.colour % 10));
  sequence.push_back('m');
  return sequence;
}

std::string Screen::draw_line(int row, const Line& line, const Line* before, int columns) const {
  std::string out;
  if (before != nullptr && same_layout(line, *before)) {
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == (*before)[i] || line[i].column >= columns) continue;
      out += move_to(row, line[i].column) + styled(line[i], columns);
    }
    return out;
  }
  out += move_to(row, 0);
  int at = 0;
  for (const Span& span : line) {
    if (span.column >= columns) break;
    if (span.column > at) out += std::string(static_cast<std::size_t>(span.column - at), ' ');
    out += styled(span, columns);
    at = std::max(at, span.column + text_width(fitted(span, columns)));
  }
  // A line that reaches the right edge leaves nothing to clear (and the cursor may
  // wait there to wrap).
  if (at < columns) out += CLEAR_TO_END_OF_LINE;
  return out;
}

std::string Screen::draw(const Frame& frame, int columns, int rows) {
  std::string out;
  if (whole_) {
    out += CLEAR_SCREEN;
    shown_.clear();
  }
  const int lines = std::min(static_cast<int>(frame.size()), rows);
  for (int row = 0; row < lines; ++row) {
    const Line* before = row < static_cast<int>(shown_.size()) ? &shown_[static_cast<std::size_t>(row)] : nullptr;
    const Line& line = frame[static_cast<std::size_t>(row)];
    if (before != nullptr && *before == line) continue;
    if (before == nullptr && line.empty()) continue;
    out += draw_line(row, line, before, columns);
  }
  // Lines the last frame had and this one does not.
  for (int row = lines; row < static_cast<int>(shown_.size()) && row < rows; ++row) {
    if (!shown_[static_cast<std::size_t>(row)].empty()) out += move_to(row, 0) + CLEAR_TO_END_OF_LINE;
  }
  shown_.assign(frame.begin(), frame.begin() + lines);
  whole_ = false;
  return out;
}

std::string Screen::plain_text() const {
  std::string text;
  for (const Line& line : shown_) {
    std::string row;
    int at = 0;
    for (const Span& span : line) {
      if (span.column > at) row += std::string(static_cast<std::size_t>(span.column - at), ' ');
      row += span.text;
      at = std::max(at, span.column + text_width(span.text));
    }
    row.erase(row.find_last_not_of(' ') + 1);
    text += row + "\n";
  }
  return text;
}

}  // namespace zr90::screen
