// A table for a full-screen view: a heading row, then a row per item with a label
// and a cell per column. Laid out into screen lines; not tied to any one command.
#pragma once

#include <string>
#include <vector>

#include "zr90/screen.h"

namespace zr90::screen {

struct Cell {
  std::string text;
  Style style;
};

struct TableRow {
  std::string label;
  std::vector<Cell> cells;  // one per column; a missing one is left blank
};

struct TableModel {
  std::string corner;                // above the labels
  std::vector<std::string> columns;  // the headings
  std::vector<TableRow> rows;
};

// Labels left-aligned, cells right-aligned under their headings, two spaces apart.
// A column keeps the widest width it has had, so that a value that gets shorter
// does not move its neighbours: the layout lives as long as the view.
class TableLayout {
 public:
  std::vector<Line> lines(const TableModel& table);

 private:
  void widen(std::size_t index, const std::string& text);

  std::vector<int> widths_;  // the label column first
};

}  // namespace zr90::screen
