// docs/parameters.md against the tools themselves: for one name of each type, the
// write range it states is the one parmpoke enforces, and the address it states is
// the one parmpeek prints.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/harness.h"

namespace {

using testsupport::Env;
using testsupport::run_tool;

struct Row {
  std::string name, address, type, accepts;
};

std::vector<Row> reference_rows() {
  std::ifstream in(ZR90_SOURCE_DIR "/docs/parameters.md");
  std::vector<Row> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::stringstream cells_in(line.substr(1));
    for (std::string cell; std::getline(cells_in, cell, '|');) {
      const auto first = cell.find_first_not_of(' ');
      const auto last = cell.find_last_not_of(' ');
      cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    rows.push_back({cells[0].substr(1, cells[0].size() - 2), cells[1], cells[2], cells[5]});
  }
  return rows;
}

const Env DIRECT{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "DIRECT"}};

TEST(ParameterReference, WriteRangeOfEachTypeIsWhatParmpokeEnforces) {
  std::set<std::string> seen;
  for (const Row& row : reference_rows()) {
    if (!seen.insert(row.type).second) continue;
    SCOPED_TRACE(row.name + " (" + row.type + "): " + row.accepts);
    const auto to = row.accepts.find(" to ");
    if (to == std::string::npos) {
      ASSERT_EQ(row.accepts, "any");
      for (const char* extreme : {"9223372036854775807", "-9223372036854775808"}) {
        const auto huge = run_tool("parmpoke", {row.name, extreme}, DIRECT);
        EXPECT_EQ(huge.lines(), std::vector<std::string>{});
        EXPECT_EQ(huge.exit_code, 0);
      }
      continue;
    }
    const int64_t lowest = std::stoll(row.accepts.substr(0, to));
    const int64_t highest = std::stoll(row.accepts.substr(to + 4));
    for (const int64_t inside : {lowest, int64_t{-1}, highest}) {
      const auto written = run_tool("parmpoke", {row.name, std::to_string(inside)}, DIRECT);
      EXPECT_EQ(written.exit_code, 0) << inside;
    }
    const auto above = run_tool("parmpoke", {row.name, std::to_string(highest + 1)}, DIRECT);
    EXPECT_EQ(above.lines(), (std::vector<std::string>{"", "Parameter is too big for " + row.name}));
    EXPECT_EQ(above.exit_code, 2);
    const auto below = run_tool("parmpoke", {row.name, std::to_string(lowest - 1)}, DIRECT);
    EXPECT_EQ(below.lines(), (std::vector<std::string>{"", "Parameter is too small for " + row.name}));
    EXPECT_EQ(below.exit_code, 2);
  }
  EXPECT_GE(seen.size(), 5u);
}

TEST(ParameterReference, AddressIsTheOneParmpeekPrints) {
  const auto rows = reference_rows();
  ASSERT_FALSE(rows.empty());
  // The first and last row, and the ones whose address is more than 16 bits wide.
  for (const Row& row : rows) {
    const bool wide = row.address.find("used as") != std::string::npos;
    if (&row != &rows.front() && &row != &rows.back() && !wide) continue;
    SCOPED_TRACE(row.name);
    const std::string printed = wide ? row.address.substr(row.address.size() - 5, 4) : row.address;
    const auto result = run_tool("parmpeek", {row.name, "a"}, DIRECT);
    ASSERT_FALSE(result.lines().empty());
    EXPECT_EQ(result.lines()[0], "Parm address: " + printed);
  }
}

}  // namespace
