#include "tools/common/tools.h"

#include "core/fatal.h"
#include "core/numbers.h"
#include "core/output.h"
#include "core/text.h"
#include "link/link.h"
#include "platform/console.h"

namespace tools {

std::string PARMNAME;
uint16_t PARMLOC = 0;
dict::PARAMETERTYPE PARMTYPE = dict::PARAMETERTYPE::TYPE_BYTE;
bool USEHEX = false;
bool DOREPEAT = false;
bool GETADDRESS = false;
int16_t RETCODE = 0;
std::string MESSAGE;

namespace {

constexpr int16_t NAME_COLUMN_WIDTH = 19;
constexpr int NAMES_PER_LINE = 4;
constexpr int LINES_PER_PAGE = 19;

}  // namespace

Arguments::Arguments(int argc, char** argv) : argc_(argc), argv_(argv) {}

std::string Arguments::operator[](int i) const {
  if (i < 1 || i >= argc_ || argv_[i] == nullptr) return {};
  return core::shortstring(argv_[i]);
}

bool FINDPARM(const std::string& ANAME) {
  std::string rest = ANAME;
  const std::string name = core::UPSTRING(core::STRIPTILLCHAR(rest, '+'));

  uint16_t offset = 0;
  if (!rest.empty()) {
    // The offset text keeps its leading plus sign, which the number form allows
    // once: "kqp++2" is therefore refused rather than read as 2.
    uint32_t value = 0;
    if (!core::parse_unsigned(rest, value)) core::BUMOUT("Can't parse offset");
    offset = static_cast<uint16_t>(value);
  }

  for (const dict::ZORNPARAMREC& row : dict::ZORNPARAMS) {
    if (core::UPSTRING(row.PARMNAME) != name) continue;
    PARMLOC = static_cast<uint16_t>(row.PARMLOC + offset);
    PARMTYPE = row.PARMTYPE;
    PARMNAME = row.PARMNAME;
    return true;
  }
  return false;
}

void PAUSE() {
  core::write_line();
  core::write_line("Press return to continue");
  platform::console::read_line();
}

void SHOWPARAMETERS(const std::string& S) {
  core::write_line("No such parameter: " + S);
  core::write_line("Valid parameters are: ");
  int line_count = 0;
  for (int row = 1; row <= dict::LASTPARM; ++row) {
    if (row % NAMES_PER_LINE == 0) {
      core::write_line();
      ++line_count;
    }
    if (line_count > LINES_PER_PAGE) {
      PAUSE();
      line_count = 0;
    }
    core::write(core::PADWITHSPACES(dict::ZORNPARAMS[row - 1].PARMNAME, NAME_COLUMN_WIDTH));
  }
  core::write_line();
  core::end_run(2);
}

void USAGE(const std::string& usage_line) {
  core::write_line(usage_line);
  core::write_line();
  core::end_run(2);
}

void set_axis(const std::string& argument) {
  drivelink::AXIS = 0;
  if (argument.empty()) return;
  uint32_t value = 0;
  const bool converted = core::parse_unsigned(argument, value);
  RETCODE = converted ? 0 : 1;
  if (!converted) return;
  const auto TEMP = static_cast<uint16_t>(value);
  drivelink::AXIS = static_cast<uint8_t>(TEMP);
}

bool is_flag(const std::string& argument, char flag) {
  return core::UPSTRING(argument) == std::string(1, flag);
}

void start_link() {
  MESSAGE = "Setup Mode";
  if (!drivelink::INITIALIZEINTERFACE(MESSAGE)) core::BUMOUT(MESSAGE);
}

std::string right_aligned(const std::string& digits, std::size_t width) {
  if (digits.size() >= width) return digits;
  return std::string(width - digits.size(), ' ') + digits;
}

}  // namespace tools
