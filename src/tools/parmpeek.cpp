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

Step<Request> parse_command_line(const Arguments& args) {
  Request request;
  for (int i = FIRST_FLAG_ARGUMENT; i <= LAST_FLAG_ARGUMENT; ++i) {
    const std::string arg = args[i];
    if (arg.empty()) continue;
    if (is_flag(arg, 'H')) request.hex = true;
    if (is_flag(arg, 'R')) request.repeat = true;
    if (is_flag(arg, 'A')) request.show_address = true;
  }
  if (args[1].empty()) return usage(USAGE_LINE);
  Step<drive::Parameter> parameter = find_parameter(args[1]);
  if (parameter.ended()) return parameter.ending();
  request.parameter = std::move(*parameter);
  return request;
}

std::string hex8(uint32_t value) { return core::HEXSTRING(value, 8); }
std::string hex16(uint64_t bits) { return hex8(static_cast<uint32_t>(bits >> 32)) + hex8(static_cast<uint32_t>(bits)); }

// A line that cannot be shown ends the run.
std::optional<Ending> print_line(const std::string& line) {
  if (!write_line(line)) return Ending{2};
  return std::nullopt;
}

std::optional<Ending> print_data(const std::string& value) { return print_line("Data " + value); }

class Reader {
 public:
  Reader(drivelink::Link& link, const Request& request) : link_(link), request_(request) {}

  // One pass of the read loop. False for the types that have no value to read.
  Step<bool> read_once() {
    const drive::Parameter& parameter = request_.parameter;
    if (parameter.type == PARAMETERTYPE::TYPE_TRIPLE) return read_triple();
    const std::optional<core::Location> location = drive::location_of(parameter.type, parameter.address);
    if (!location) return false;
    const Step<Outcome> outcome = settle(link_.read(request_.axis, *location));
    if (outcome.ended()) return outcome.ending();
    missed_ = outcome->missed;
    // A double is not printed from a read that went unanswered.
    if (parameter.type == PARAMETERTYPE::TYPE_DOUBLE && missed_) return timeout_ending();
    if (std::optional<Ending> ending = print_data(drive::data_text(parameter.type, outcome->value, request_.hex))) {
      return *ending;
    }
    if (drive::value_type(parameter.type).pauses_after_read) platform::console::sleep_ms(1);
    // A repeat run ends where a single read would: the value as read is shown, then
    // the failure.
    return !missed_;
  }

  // After the last pass: a read that went unanswered ends the run with its failure.
  std::optional<Ending> end_on_missed_answer() const {
    if (missed_) return timeout_ending();
    return std::nullopt;
  }

 private:
  static Ending timeout_ending() { return BUMOUT("Serial Timeout Error"); }

  Step<bool> read_triple() {
    const uint16_t address = request_.parameter.address;
    const Step<Outcome> big = settle(link_.read(request_.axis, {core::Memory::ram, core::Width::double_word, address}));
    if (big.ended()) return big.ending();
    const auto long_address = static_cast<uint16_t>(address + TRIPLE_LONG_OFFSET);
    // The long's read must not hide a failed read of the first eight bytes.
    const Step<Outcome> low =
        settle(link_.read(request_.axis, {core::Memory::ram, core::Width::long_word, long_address}));
    if (low.ended()) return low.ending();
    missed_ = big->missed || low->missed;
    if (missed_) return timeout_ending();
    const std::optional<Ending> ending =
        request_.hex ? print_data(hex8(static_cast<uint32_t>(low->value)) + hex16(big->value)) : print_line("Use HEX");
    if (ending) return *ending;
    return true;
  }

  drivelink::Link& link_;
  const Request& request_;
  // Whether the last access went unanswered; no pass follows one that did.
  bool missed_ = false;
};

Ending run(const Arguments& args) {
  Step<Request> request = parse_command_line(args);
  if (request.ended()) return request.ending();
  const Step<config::LinkSettings> settings = read_settings();
  if (settings.ended()) return settings.ending();
  const Step<uint8_t> axis = axis_argument(args[2], *settings);
  if (axis.ended()) return axis.ending();
  request->axis = *axis;
  const Step<std::unique_ptr<drivelink::Link>> link = start_link(*settings, request->axis);
  if (link.ended()) return link.ending();
  if (request->show_address) {
    if (std::optional<Ending> ending = print_line("Parm address: " + core::HEXSTRING(request->parameter.address, 4))) {
      return *ending;
    }
  }
  Reader reader(**link, *request);
  if (std::optional<Ending> ending = run_passes(request->repeat, [&reader] { return reader.read_once(); })) {
    return *ending;
  }
  if (std::optional<Ending> ending = reader.end_on_missed_answer()) return *ending;
  return Ending{0};
}

}  // namespace

int main(int argc, char** argv) {
  if (tools::answer_about(tools::PARMPEEK_ABOUT, argc, argv)) return 0;
  platform::console::guard_standard_streams();
  return end_run(run(Arguments(argc, argv)));
}
