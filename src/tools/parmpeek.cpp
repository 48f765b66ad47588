// parmpeek: reads one named drive parameter and prints its value.
#include <cstdint>
#include <string>

#include "config/config.h"
#include "core/fatal.h"
#include "core/output.h"
#include "core/text.h"
#include "link/link.h"
#include "platform/console.h"
#include "serial/serial.h"
#include "tools/common/about.h"
#include "tools/common/tools.h"

namespace {

using dict::PARAMETERTYPE;
using namespace tools;

constexpr char USAGE_LINE[] = "Usage: parmpeek parm [axis] [q] [h] [r] [a]";
constexpr int FIRST_FLAG_ARGUMENT = 2;
constexpr int LAST_FLAG_ARGUMENT = 5;

void GETPARAMETER(const Arguments& args) {
  USEHEX = false;
  DOREPEAT = false;
  GETADDRESS = false;
  for (int i = FIRST_FLAG_ARGUMENT; i <= LAST_FLAG_ARGUMENT; ++i) {
    const std::string arg = args[i];
    if (arg.empty()) continue;
    if (is_flag(arg, 'H')) USEHEX = true;
    if (is_flag(arg, 'R')) DOREPEAT = true;
    if (is_flag(arg, 'A')) GETADDRESS = true;
  }
  if (args[1].empty()) USAGE(USAGE_LINE);
  if (!FINDPARM(args[1])) SHOWPARAMETERS(args[1]);
  set_axis(args[2]);
}

void print_data(const std::string& value) { core::write_line("Data " + value); }

// The value line: the hexadecimal digits, or the decimal number right-aligned.
template <typename Number>
void print_value(const std::string& hex_digits, Number value, std::size_t width) {
  print_data(USEHEX ? hex_digits : right_aligned(std::to_string(value), width));
}

std::string hex8(uint32_t value) { return core::HEXSTRING(value, 8); }
std::string hex8(int32_t value) { return hex8(static_cast<uint32_t>(value)); }
std::string hex16(int64_t value) {
  const auto bits = static_cast<uint64_t>(value);
  return hex8(static_cast<uint32_t>(bits >> 32)) + hex8(static_cast<uint32_t>(bits));
}

void end_on_serial_error() {
  if (serial::SERERROR) core::BUMOUT("Serial Timeout Error");
}

// One pass of the read loop for the row's type. False for the types that have no
// value to read.
bool read_once() {
  switch (PARMTYPE) {
    case PARAMETERTYPE::TYPE_BYTE: {
      const uint8_t BYTEDATA = drivelink::READBYTE(PARMLOC);
      print_value(core::HEXSTRING(BYTEDATA, 2), unsigned{BYTEDATA}, 3);
      platform::console::sleep_ms(1);
      return true;
    }
    case PARAMETERTYPE::TYPE_UINT:
    case PARAMETERTYPE::TYPE_PTR:
    case PARAMETERTYPE::TYPE_MASK:
    case PARAMETERTYPE::TYPE_FLAG: {
      const uint16_t WORDDATA = drivelink::READWORD(PARMLOC);
      print_value(core::HEXSTRING(WORDDATA, 4), unsigned{WORDDATA}, 5);
      platform::console::sleep_ms(1);
      return true;
    }
    case PARAMETERTYPE::TYPE_INT: {
      const uint16_t word = drivelink::READWORD(PARMLOC);
      const auto INTDATA = static_cast<int16_t>(word);
      print_value(core::HEXSTRING(word, 4), int{INTDATA}, 5);
      return true;
    }
    case PARAMETERTYPE::TYPE_ULONG: {
      // A count: a value of 2^31 or more must not print negative.
      const int32_t LONGDATA = drivelink::READLONG(PARMLOC);
      print_value(hex8(LONGDATA), static_cast<uint32_t>(LONGDATA), 10);
      return true;
    }
    case PARAMETERTYPE::TYPE_LONG: {
      const int32_t LONGDATA = drivelink::READLONG(PARMLOC);
      print_value(hex8(LONGDATA), LONGDATA, 10);
      return true;
    }
    case PARAMETERTYPE::TYPE_DOUBLE: {
      const int64_t BIGDATA = drivelink::READDOUBLE(PARMLOC);
      end_on_serial_error();
      print_value(hex16(BIGDATA), BIGDATA, 20);
      return true;
    }
    case PARAMETERTYPE::TYPE_TRIPLE: {
      const int64_t BIGDATA = drivelink::READDOUBLE(PARMLOC);
      // The long's read must not hide a failed read of the first eight bytes.
      const bool double_failed = serial::SERERROR;
      const int32_t LONGDATA = drivelink::READLONG(static_cast<uint16_t>(PARMLOC + 8));
      serial::SERERROR = serial::SERERROR || double_failed;
      end_on_serial_error();
      if (USEHEX) {
        print_data(hex8(LONGDATA) + hex16(BIGDATA));
      } else {
        core::write_line("Use HEX");
      }
      return true;
    }
    case PARAMETERTYPE::TYPE_ELONG: {
      const int32_t LONGDATA = drivelink::READEEPROMLONG(PARMLOC);
      print_value(hex8(LONGDATA), LONGDATA, 10);
      return true;
    }
    case PARAMETERTYPE::TYPE_EWORD: {
      const uint16_t WORDDATA = drivelink::READEEPROMWORD(PARMLOC);
      print_value(core::HEXSTRING(WORDDATA, 4), unsigned{WORDDATA}, 5);
      return true;
    }
    case PARAMETERTYPE::TYPE_EBYTE: {
      const uint16_t WORDDATA = drivelink::READEEPROMBYTE(PARMLOC);
      print_value(core::HEXSTRING(WORDDATA, 2), unsigned{WORDDATA}, 3);
      return true;
    }
    default:
      return false;
  }
}

void read_loop() {
  if (!DOREPEAT) {
    read_once();
    return;
  }
  platform::console::start_key_poll();
  while (read_once() && !platform::console::key_pressed()) {
  }
  platform::console::stop_key_poll();
}

}  // namespace

int main(int argc, char** argv) {
  if (tools::answer_about(tools::PARMPEEK_ABOUT, argc, argv)) return 0;
  platform::console::guard_standard_streams();
  GETPARAMETER(Arguments(argc, argv));
  config::GETOURENV();
  start_link();
  if (GETADDRESS) {
    core::write("Parm address: ");
    core::HEXPRINT(PARMLOC, 4);
    core::write_line();
  }
  read_loop();
  end_on_serial_error();
  core::end_run(0);
}
