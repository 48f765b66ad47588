// parmpoke: writes one value into one named drive parameter.
#include <cstdint>
#include <string>

#include "config/config.h"
#include "core/fatal.h"
#include "core/numbers.h"
#include "core/text.h"
#include "link/link.h"
#include "platform/console.h"
#include "serial/serial.h"
#include "tools/common/about.h"
#include "tools/common/tools.h"

namespace {

using dict::PARAMETERTYPE;
using namespace tools;

constexpr char USAGE_LINE[] = "Usage: parmpoke parm data [axis] [q] [h]";
constexpr int FIRST_FLAG_ARGUMENT = 3;
constexpr int LAST_FLAG_ARGUMENT = 5;

int64_t PARAMETER = 0;

// The data argument: a decimal real number rounded half to even, or with the h flag
// up to 16 hexadecimal digits. Anything else, a decimal number beyond the signed
// 64-bit range included, is a usage error.
int64_t parse_value(const std::string& text) {
  int64_t value = 0;
  const bool ok = USEHEX ? core::HEXDOUBLEREAD(text, value) : core::parse_rounded_int64(text, value);
  if (!ok) USAGE(USAGE_LINE);
  return value;
}

void GETPARAMETER(const Arguments& args) {
  config::GETOURENV();
  USEHEX = false;
  if (args[2].empty()) USAGE(USAGE_LINE);
  for (int i = FIRST_FLAG_ARGUMENT; i <= LAST_FLAG_ARGUMENT; ++i) {
    const std::string arg = args[i];
    if (arg.empty()) continue;
    if (is_flag(arg, 'H')) USEHEX = true;
    if (is_flag(arg, 'R')) DOREPEAT = true;
  }
  if (!FINDPARM(args[1])) SHOWPARAMETERS(args[1]);
  drivelink::AXIS = 0;
  PARAMETER = parse_value(args[2]);
  set_axis(args[3]);
}

void check_range(int64_t limit) {
  if (PARAMETER > limit) core::BUMOUT("Parameter is too big for " + PARMNAME);
}

constexpr int64_t BYTE_LIMIT = 0xFF;
constexpr int64_t WORD_LIMIT = 0xFFFF;

// One write of the value for the row's type; the range is checked before anything
// goes out. Negative values pass and their low bits are written.
void write_once() {
  const auto bits = static_cast<uint64_t>(PARAMETER);
  const auto byte = static_cast<uint8_t>(bits);
  const auto word = static_cast<uint16_t>(bits);
  const auto LONG = static_cast<int32_t>(static_cast<uint32_t>(bits));
  switch (PARMTYPE) {
    case PARAMETERTYPE::TYPE_BYTE:
      check_range(BYTE_LIMIT);
      drivelink::WRITEBYTE(PARMLOC, byte);
      break;
    case PARAMETERTYPE::TYPE_UINT:
    case PARAMETERTYPE::TYPE_INT:
    case PARAMETERTYPE::TYPE_PTR:
    case PARAMETERTYPE::TYPE_MASK:
    case PARAMETERTYPE::TYPE_FLAG:
      check_range(WORD_LIMIT);
      drivelink::WRITEWORD(PARMLOC, word);
      break;
    case PARAMETERTYPE::TYPE_ELONG:
      drivelink::WRITEEEPROMLONG(PARMLOC, LONG);
      break;
    case PARAMETERTYPE::TYPE_EWORD:
      check_range(WORD_LIMIT);
      drivelink::WRITEEEPROMWORD(PARMLOC, word);
      break;
    case PARAMETERTYPE::TYPE_EBYTE:
      check_range(BYTE_LIMIT);
      drivelink::WRITEEEPROMBYTE(PARMLOC, byte);
      break;
    case PARAMETERTYPE::TYPE_ULONG:
    case PARAMETERTYPE::TYPE_LONG:
      drivelink::WRITELONG(PARMLOC, LONG);
      break;
    case PARAMETERTYPE::TYPE_DOUBLE:
      drivelink::WRITEDOUBLE(PARMLOC, PARAMETER);
      break;
    default:
      break;
  }
  if (serial::SERERROR) core::BUMOUT("Serial Timeout Error");
}

void write_loop() {
  if (!DOREPEAT) {
    write_once();
    return;
  }
  platform::console::start_key_poll();
  do {
    write_once();
  } while (!platform::console::key_pressed());
  platform::console::stop_key_poll();
}

}  // namespace

int main(int argc, char** argv) {
  if (tools::answer_about(tools::PARMPOKE_ABOUT, argc, argv)) return 0;
  platform::console::guard_standard_streams();
  GETPARAMETER(Arguments(argc, argv));
  start_link();
  write_loop();
  core::end_run(0);
}
