// parmpeek: reads one named drive parameter and prints its value.
#include <cstdint>
#include <string>

#include "core/text.h"
#include "drive/value_type.h"
#include "platform/console.h"
#include "tools/common/about.h"
#include "tools/common/fatal.h"
#include "tools/common/output.h"
#include "tools/common/tools.h"

namespace {

using dict::PARAMETERTYPE;
using namespace tools;

constexpr char USAGE_LINE[] = "Usage: parmpeek parm [axis] [q] [h] [r] [a]";
constexpr int FIRST_FLAG_ARGUMENT = 2;
constexpr int LAST_FLAG_ARGUMENT = 5;
// Offset of a triple's long behind its double.
constexpr uint16_t TRIPLE_LONG_OFFSET = 8;

struct Request {
  drive::Parameter parameter;
  uint8_t axis = 0;
  bool hex = false;
  bool repeat = false;
  bool show_address = false;
};

Request parse_command_line(const Arguments& args) {
  Request request;
  for (int i = FIRST_FLAG_ARGUMENT; i <= LAST_FLAG_ARGUMENT; ++i) {
    const std::string arg = args[i];
    if (arg.empty()) continue;
    if (is_flag(arg, 'H')) request.hex = true;
    if (is_flag(arg, 'R')) request.repeat = true;
    if (is_flag(arg, 'A')) request.show_address = true;
  }
  if (args[1].empty()) usage(USAGE_LINE);
  std::optional<drive::Parameter> parameter = find_parameter(args[1]);
  if (!parameter) show_parameters(args[1]);
  request.parameter = *parameter;
  return request;
}

std::string hex8(uint32_t value) { return core::HEXSTRING(value, 8); }
std::string hex16(uint64_t bits) { return hex8(static_cast<uint32_t>(bits >> 32)) + hex8(static_cast<uint32_t>(bits)); }

void print_data(const std::string& value) { write_line("Data " + value); }

class Reader {
 public:
  Reader(drivelink::Link& link, const Request& request) : link_(link), request_(request) {}

  // One pass of the read loop. False for the types that have no value to read.
  bool read_once() {
    const drive::Parameter& parameter = request_.parameter;
    if (parameter.type == PARAMETERTYPE::TYPE_TRIPLE) return read_triple();
    const std::optional<core::Location> location = drive::location_of(parameter.type, parameter.address);
    if (!location) return false;
    const Outcome outcome = settle(link_.read(request_.axis, *location));
    missed_ = outcome.missed;
    // A double is not printed from a read that went unanswered.
    if (parameter.type == PARAMETERTYPE::TYPE_DOUBLE) end_on_missed_answer();
    print_data(drive::data_text(parameter.type, outcome.value, request_.hex));
    if (drive::value_type(parameter.type).pauses_after_read) platform::console::sleep_ms(1);
    // A repeat run ends where a single read would: the value as read is shown, then
    // the failure.
    return !missed_;
  }

  void end_on_missed_answer() const {
    if (missed_) BUMOUT("Serial Timeout Error");
  }

 private:
  bool read_triple() {
    const uint16_t address = request_.parameter.address;
    const Outcome big = settle(link_.read(request_.axis, {core::Memory::ram, core::Width::double_word, address}));
    const auto long_address = static_cast<uint16_t>(address + TRIPLE_LONG_OFFSET);
    // The long's read must not hide a failed read of the first eight bytes.
    const Outcome low = settle(link_.read(request_.axis, {core::Memory::ram, core::Width::long_word, long_address}));
    missed_ = big.missed || low.missed;
    end_on_missed_answer();
    if (request_.hex) {
      print_data(hex8(static_cast<uint32_t>(low.value)) + hex16(big.value));
    } else {
      write_line("Use HEX");
    }
    return true;
  }

  drivelink::Link& link_;
  const Request& request_;
  // Whether the last access went unanswered; no pass follows one that did.
  bool missed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (tools::answer_about(tools::PARMPEEK_ABOUT, argc, argv)) return 0;
  platform::console::guard_standard_streams();
  const Arguments args(argc, argv);
  Request request = parse_command_line(args);
  const config::LinkSettings settings = read_settings();
  request.axis = axis_argument(args[2], settings);
  std::unique_ptr<drivelink::Link> link = start_link(settings, request.axis);
  if (request.show_address) write_line("Parm address: " + core::HEXSTRING(request.parameter.address, 4));
  Reader reader(*link, request);
  run_passes(request.repeat, [&reader] { return reader.read_once(); });
  reader.end_on_missed_answer();
  end_run(0);
}
