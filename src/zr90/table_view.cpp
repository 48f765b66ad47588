#include "zr90/table_view.h"

#include <algorithm>

namespace zr90::screen {

namespace {

constexpr int GAP = 2;

std::string right_aligned(const std::string& text, int width) {
  const int pad = width - text_width(text);
  return pad > 0 ? std::string(static_cast<std::size_t>(pad), ' ') + text : text;
}

}  // namespace

void TableLayout::widen(std::size_t index, const std::string& text) {
  if (widths_.size() <= index) widths_.resize(index + 1, 0);
  widths_[index] = std::max(widths_[index], text_width(text));
}

std::vector<Line> TableLayout::lines(const TableModel& table) {
  widen(0, table.corner);
  for (std::size_t c = 0; c < table.columns.size(); ++c) widen(c + 1, table.columns[c]);
  for (const TableRow& row : table.rows) {
    widen(0, row.label);
    for (std::size_t c = 0; c < row.cells.size(); ++c) widen(c + 1, row.cells[c].text);
  }
  std::vector<int> starts{0};
  for (std::size_t c = 1; c < widths_.size(); ++c) starts.push_back(starts.back() + widths_[c - 1] + GAP);

  std::vector<Line> lines;
  Line heading{{0, table.corner, {.bold = true}}};
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    heading.push_back({starts[c + 1], right_aligned(table.columns[c], widths_[c + 1]), {.bold = true}});
  }
  lines.push_back(std::move(heading));
  for (const TableRow& row : table.rows) {
    Line line{{0, row.label, {}}};
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      const Cell blank;
      const Cell& cell = c < row.cells.size() ? row.cells[c] : blank;
      line.push_back({starts[c + 1], right_aligned(cell.text, widths_[c + 1]), cell.style});
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace zr90::screen
