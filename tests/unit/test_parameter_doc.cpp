// The parameter reference and the completion's names, as made from the dictionary.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dictionary/dictionary.h"
#include "docgen/parameter_doc.h"

namespace {

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The rows of the parameter table, by name, as their cells.
std::map<std::string, std::vector<std::string>> parameter_rows(const std::string& markdown,
                                                               std::vector<std::string>& order) {
  std::map<std::string, std::vector<std::string>> rows;
  for (const auto& line : split_lines(markdown)) {
    if (line.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::string cell;
    for (char c : line.substr(2)) {
      if (c == '|') {
        while (!cell.empty() && cell.back() == ' ') cell.pop_back();
        while (!cell.empty() && cell.front() == ' ') cell.erase(cell.begin());
        cells.push_back(cell);
        cell.clear();
      } else {
        cell += c;
      }
    }
    const std::string name = cells[0].substr(1, cells[0].size() - 2);
    order.push_back(name);
    rows[name] = cells;
  }
  return rows;
}

TEST(ParameterDoc, OneRowPerNameInListOrder) {
  std::vector<std::string> order;
  parameter_rows(docgen::parameters_markdown(), order);
  ASSERT_EQ(order.size(), static_cast<std::size_t>(dict::LASTPARM));
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], dict::ZORNPARAMS[i].PARMNAME);
}

TEST(ParameterDoc, RowsSayAddressTypeMemoryAndWriteRange) {
  std::vector<std::string> order;
  const auto rows = parameter_rows(docgen::parameters_markdown(), order);
  using Cells = std::vector<std::string>;
  // name, address, type, memory, prints, accepts, note
  EXPECT_EQ(rows.at("kqp"), (Cells{"`kqp`", "0812", "uint", "RAM", "0 to 65535", "-32768 to 65535", ""}));
  EXPECT_EQ(rows.at("qsetpoint"),
            (Cells{"`qsetpoint`", "0860", "int", "RAM", "-32768 to 32767", "-32768 to 65535", ""}));
  EXPECT_EQ(rows.at("kqi")[4], "0 to 4294967295");
  EXPECT_EQ(rows.at("kqi")[5], "-2147483648 to 4294967295");
  EXPECT_EQ(rows.at("biggercookie")[2], "double");
  EXPECT_EQ(rows.at("nvkqp"), (Cells{"`nvkqp`", "000A", "eword", "EEPROM", "0 to 65535", "-32768 to 65535", ""}));
  EXPECT_EQ(rows.at("nvkqi")[2], "elong");
  EXPECT_EQ(rows.at("nvkqi")[3], "EEPROM");
}

TEST(ParameterDoc, SharedAddressesPointToTheFirstName) {
  std::vector<std::string> order;
  const auto rows = parameter_rows(docgen::parameters_markdown(), order);
  EXPECT_EQ(rows.at("dummyhi")[6], "same address as `dummy`");
  EXPECT_EQ(rows.at("nvkqilo")[6], "same address as `nvkqi`");
  EXPECT_EQ(rows.at("dummy")[6], "");
  // RAM and EEPROM are different memories: equal numbers are not the same place.
  for (const auto& [name, cells] : rows) {
    if (cells[6].empty()) continue;
    const std::string first = cells[6].substr(cells[6].find('`') + 1, cells[6].rfind('`') - cells[6].find('`') - 1);
    EXPECT_EQ(rows.at(first)[1], cells[1]) << name;
    EXPECT_EQ(rows.at(first)[3], cells[3]) << name;
  }
}

TEST(ParameterDoc, AddressesBeyond16BitsShowWhatTheToolsUse) {
  std::vector<std::string> order;
  const auto rows = parameter_rows(docgen::parameters_markdown(), order);
  EXPECT_EQ(rows.at("nvFBS")[1], "F7AC00 (used as AC00)");
  EXPECT_EQ(rows.at("nvinvalid")[1], "FFFF");
}

TEST(ParameterDoc, FaultAndStatusBitsWithTheUnnamedOnes) {
  const std::string doc = docgen::parameters_markdown();
  EXPECT_NE(doc.find("| 0 | 1 | 0001 | `WATCHDOGFAULT` |"), std::string::npos);
  EXPECT_NE(doc.find("| 15 | 32768 | 8000 | `FERR` |"), std::string::npos);
  EXPECT_NE(doc.find("Bits 1, 3, 8 have no name."), std::string::npos);
  EXPECT_NE(doc.find("| 7 | 128 | 0080 | `INVALIDSTATUS` |"), std::string::npos);
  EXPECT_NE(doc.find("| 9 | 2500000 |"), std::string::npos);
}

TEST(CompletionNames, EveryNameOnceInShortLines) {
  const std::string block = docgen::completion_names_block("_zr90_parameter_names=(\n", ")\n");
  const auto lines = split_lines(block);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front(), "_zr90_parameter_names=(");
  EXPECT_EQ(lines.back(), ")");
  std::vector<std::string> words;
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 80u);
    std::istringstream in(lines[i]);
    for (std::string word; in >> word;) words.push_back(word);
  }
  ASSERT_EQ(words.size(), static_cast<std::size_t>(dict::LASTPARM));
  for (std::size_t i = 0; i < words.size(); ++i) EXPECT_EQ(words[i], dict::ZORNPARAMS[i].PARMNAME);
}

TEST(CompletionNames, BlockReplacedBetweenItsMarkersOnly) {
  std::string text = "head\n# BEGIN X\nold\nlines\n# END X\ntail\n";
  EXPECT_TRUE(docgen::replace_block(text, "X", "new\n"));
  EXPECT_EQ(text, "head\n# BEGIN X\nnew\n# END X\ntail\n");
  EXPECT_TRUE(docgen::replace_block(text, "X", "new\n"));
  EXPECT_EQ(text, "head\n# BEGIN X\nnew\n# END X\ntail\n");
  std::string unmarked = "head\n# BEGIN X\nold\n";
  EXPECT_FALSE(docgen::replace_block(unmarked, "X", "new\n"));
  EXPECT_EQ(unmarked, "head\n# BEGIN X\nold\n");
}

}  // namespace
