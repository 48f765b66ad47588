#include "docgen/parameter_doc.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "dictionary/dictionary.h"
#include "drive/value_type.h"

namespace docgen {

namespace {

using dict::PARAMETERTYPE;

// What a type means to a user of parmpeek and parmpoke: how many bytes, where they
// live, how parmpeek prints them and what parmpoke lets through. It follows the
// read and write dispatch of the two tools; types they do not read or write say so.
struct TypeInfo {
  std::string name;
  int size;
  std::string memory;
  std::string reads_as;
  std::string write_accepts;
};

std::string memory_text(const drive::ValueType& t) {
  if (!t.memory) return "—";
  return *t.memory == core::Memory::eeprom ? "EEPROM" : "RAM";
}

std::string reads_as(const drive::ValueType& t) {
  // parmpeek reads a triple in two parts and shows the twelve bytes in hexadecimal only.
  if (t.type == PARAMETERTYPE::TYPE_TRIPLE) return "hexadecimal only (`h`)";
  if (t.width == 0) return "not read";
  if (t.width == 8) return "signed 64 bits";
  return std::to_string(t.lowest) + " to " + std::to_string(t.highest);
}

std::string write_accepts(const drive::ValueType& t) {
  if (t.width == 0) return "not written";
  if (t.data_range) return std::to_string(t.data_range->lowest) + " to " + std::to_string(t.data_range->highest);
  return "any";
}

TypeInfo type_info(PARAMETERTYPE type) {
  const drive::ValueType& t = drive::value_type(type);
  return {std::string(t.name), t.size, memory_text(t), reads_as(t), write_accepts(t)};
}

std::string hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

std::string address_text(int32_t location) {
  if (location <= 0xFFFF) return hex(static_cast<uint32_t>(location), 4);
  // The tools keep addresses to 16 bits: this is what they reach and print.
  return hex(static_cast<uint32_t>(location), 6) + " (used as " + hex(static_cast<uint32_t>(location) & 0xFFFF, 4) + ")";
}

struct Bit {
  std::string_view name;
  uint16_t value;
};

const std::vector<Bit> FAULT_BITS = {
    {"WATCHDOGFAULT", dict::WATCHDOGFAULT},     {"OVERTEMPFAULT", dict::OVERTEMPFAULT},
    {"HISIDECURRENTFAULT", dict::HISIDECURRENTFAULT}, {"ULOOPCURRENTFAULT", dict::ULOOPCURRENTFAULT},
    {"VLOOPCURRENTFAULT", dict::VLOOPCURRENTFAULT}, {"WLOOPCURRENTFAULT", dict::WLOOPCURRENTFAULT},
    {"BUSHIVFAULT", dict::BUSHIVFAULT},         {"MAXBUSVFAULT", dict::MAXBUSVFAULT},
    {"MODULEFAULT", dict::MODULEFAULT},         {"UNUSEDFAULT1", dict::UNUSEDFAULT1},
    {"UNUSEDFAULT2", dict::UNUSEDFAULT2},       {"OERR", dict::OERR},
    {"FERR", dict::FERR},
};

const std::vector<Bit> STATUS_BITS = {
    {"ILIMITEDSTATUS", dict::ILIMITEDSTATUS}, {"BRAKESTATUS", dict::BRAKESTATUS},
    {"BRAKEWASONSTATUS", dict::BRAKEWASONSTATUS}, {"BUSLOVSTATUS", dict::BUSLOVSTATUS},
    {"WDTO", dict::WDTO}, {"SWR", dict::SWR}, {"TRAP", dict::TRAP}, {"INVALIDSTATUS", dict::INVALIDSTATUS},
};

const std::vector<std::pair<std::string_view, uint8_t>> RATE_CODES = {
    {"9600", dict::BAUD9600},       {"19200", dict::BAUD19200},     {"38400", dict::BAUD38400},
    {"57600", dict::BAUD57600},     {"115200", dict::BAUD115200},   {"230400", dict::BAUD230400},
    {"460800", dict::BAUD460800},   {"921600", dict::BAUD921600},   {"1250000", dict::BAUD1250000},
    {"2500000", dict::BAUD2500000},
};

int bit_number(uint16_t value) {
  int n = 0;
  while (value > 1) {
    value >>= 1;
    ++n;
  }
  return n;
}

std::string bits_table(const std::vector<Bit>& bits) {
  std::string out = "| bit | value | hexadecimal | name |\n|---|---|---|---|\n";
  uint16_t assigned = 0;
  for (const Bit& bit : bits) {
    assigned |= bit.value;
    out += "| " + std::to_string(bit_number(bit.value)) + " | " + std::to_string(bit.value) + " | " +
           hex(bit.value, 4) + " | `" + std::string(bit.name) + "` |\n";
  }
  std::string unassigned;
  const int highest = bit_number(bits.back().value);
  for (int n = 0; n <= highest; ++n) {
    if (assigned & (1u << n)) continue;
    unassigned += (unassigned.empty() ? "" : ", ") + std::to_string(n);
  }
  if (!unassigned.empty()) out += "\nBits " + unassigned + " have no name.\n";
  return out;
}

}  // namespace

std::string parameters_markdown() {
  std::string out =
      "# Drive parameters\n"
      "\n"
      "Every name `parmpeek` and `parmpoke` know, in the order in which they list them\n"
      "when given a name they do not know. A name matches in any letter case.\n"
      "`name+offset` reads or writes at the name's address plus the offset, with the\n"
      "name's type: `parmpeek kqp+2` reads a word. The address is the one\n"
      "`parmpeek NAME a` prints: a byte address in the drive's register space for RAM,\n"
      "a byte address in the EEPROM for EEPROM.\n"
      "\n"
      "This file is made from the tools' own dictionary by\n"
      "`cmake --build build --target update-docs`; a test fails when the two differ.\n"
      "\n"
      "## Types\n"
      "\n"
      "| type | bytes | memory | `parmpeek` prints | `parmpoke` accepts |\n"
      "|---|---|---|---|---|\n";
  std::map<PARAMETERTYPE, bool> used;
  for (const auto& row : dict::ZORNPARAMS) used[row.PARMTYPE] = true;
  for (const auto& [type, _] : used) {
    const TypeInfo t = type_info(type);
    out += "| " + t.name + " | " + std::to_string(t.size) + " | " + t.memory + " | " + t.reads_as + " | " +
           t.write_accepts + " |\n";
  }
  out +=
      "\n"
      "`parmpoke` rounds a decimal value to the nearest integer (a half to the even\n"
      "neighbour) and takes what the width holds as a signed or an unsigned number:\n"
      "above that it refuses with `Parameter is too big for NAME`, below it with\n"
      "`Parameter is too small for NAME`, before anything is written. A negative value\n"
      "writes its two's complement, so `-1` writes `FFFF` into a word. Doubles take any\n"
      "value. With the `h` flag the value is up to 16 hexadecimal digits, the bits\n"
      "themselves: a value with bits set beyond the width is too big. `parmpeek`\n"
      "prints values in decimal unless given `h`; hexadecimal has two digits a byte.\n"
      "\n"
      "## Parameters\n"
      "\n"
      "| name | address | type | memory | `parmpeek` prints | `parmpoke` accepts | note |\n"
      "|---|---|---|---|---|---|---|\n";
  // Several names may share a place (a long and its low word, two names for one
  // current): the note points from the later names to the first.
  std::map<std::pair<std::string, int32_t>, std::string> first_at;
  for (const auto& row : dict::ZORNPARAMS) {
    const TypeInfo t = type_info(row.PARMTYPE);
    const std::string& memory = t.memory;
    std::string note;
    const auto [at, fresh] = first_at.emplace(std::make_pair(memory, row.PARMLOC), row.PARMNAME);
    if (!fresh) note = "same address as `" + at->second + "`";
    out += "| `" + std::string(row.PARMNAME) + "` | " + address_text(row.PARMLOC) + " | " + t.name + " | " + memory +
           " | " + t.reads_as + " | " + t.write_accepts + " | " + note + " |\n";
  }
  out +=
      "\n"
      "## Fault bits\n"
      "\n"
      "The bits of `fault`: `parmpeek fault h` prints them in hexadecimal.\n"
      "\n" +
      bits_table(FAULT_BITS) +
      "\n"
      "## Status bits\n"
      "\n"
      "The bits of `status`.\n"
      "\n" +
      bits_table(STATUS_BITS) +
      "\n"
      "## Bit-rate codes\n"
      "\n"
      "The values of `nvbaudrate` and `nvrembaudrate`.\n"
      "\n"
      "| code | bit/s |\n|---|---|\n";
  for (const auto& [rate, code] : RATE_CODES) out += "| " + std::to_string(code) + " | " + std::string(rate) + " |\n";
  return out;
}

std::string completion_names_block(std::string_view opening, std::string_view closing) {
  std::string out(opening);
  std::string line;
  for (const auto& row : dict::ZORNPARAMS) {
    const std::string name = row.PARMNAME;
    if (!line.empty() && line.size() + 1 + name.size() > 78) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "  " : " ") + name;
  }
  if (!line.empty()) out += line + "\n";
  out += closing;
  return out;
}

bool replace_block(std::string& text, const std::string& marker, const std::string& block) {
  const std::string begin = "# BEGIN " + marker + "\n";
  const std::string end = "# END " + marker + "\n";
  const auto b = text.find(begin);
  if (b == std::string::npos) return false;
  const auto from = b + begin.size();
  const auto e = text.find(end, from);
  if (e == std::string::npos) return false;
  text.replace(from, e - from, block);
  return true;
}

}  // namespace docgen
