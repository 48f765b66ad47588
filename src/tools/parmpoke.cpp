// parmpoke: writes one value into one named drive parameter.
#include <cstdint>
#include <string>

#include "drive/value_type.h"
#include "platform/console.h"
#include "tools/common/about.h"
#include "tools/common/fatal.h"
#include "tools/common/tools.h"

namespace {

using namespace tools;

constexpr char USAGE_LINE[] = "Usage: parmpoke parm data [axis] [q] [h]";
constexpr int FIRST_FLAG_ARGUMENT = 3;
constexpr int LAST_FLAG_ARGUMENT = 5;

struct Request {
  drive::Parameter parameter;
  int64_t value = 0;
  uint8_t axis = 0;
  bool hex = false;
  bool repeat = false;
};

// A data argument that is no number is a usage error.
Step<int64_t> parse_value(const std::string& text, bool hex) {
  const std::optional<int64_t> value = drive::read_data_value(text, hex);
  if (!value) return usage(USAGE_LINE);
  return *value;
}

Step<Request> parse_command_line(const Arguments& args, const config::LinkSettings& settings) {
  Request request;
  if (args[2].empty()) return usage(USAGE_LINE);
  for (int i = FIRST_FLAG_ARGUMENT; i <= LAST_FLAG_ARGUMENT; ++i) {
    const std::string arg = args[i];
    if (arg.empty()) continue;
    if (is_flag(arg, 'H')) request.hex = true;
    if (is_flag(arg, 'R')) request.repeat = true;
  }
  Step<drive::Parameter> parameter = find_parameter(args[1]);
  if (parameter.ended()) return parameter.ending();
  request.parameter = std::move(*parameter);
  const Step<int64_t> value = parse_value(args[2], request.hex);
  if (value.ended()) return value.ending();
  request.value = *value;
  const Step<uint8_t> axis = axis_argument(args[3], settings);
  if (axis.ended()) return axis.ending();
  request.axis = *axis;
  return request;
}

// One write of the value for the row's type; the range is checked before anything
// goes out.
Step<bool> write_once(drivelink::Link& link, const Request& request) {
  const drive::Parameter& parameter = request.parameter;
  const std::optional<core::Location> location = drive::location_of(parameter.type, parameter.address);
  if (!location) return true;
  switch (drive::data_fit(parameter.type, request.value, request.hex)) {
    case drive::DataFit::too_big: return BUMOUT("Parameter is too big for " + std::string(parameter.row_name));
    case drive::DataFit::too_small: return BUMOUT("Parameter is too small for " + std::string(parameter.row_name));
    case drive::DataFit::fits: break;
  }
  const Step<Outcome> outcome = settle(link.write(request.axis, *location, static_cast<uint64_t>(request.value)));
  if (outcome.ended()) return outcome.ending();
  if (outcome->missed) return BUMOUT("Serial Timeout Error");
  return true;
}

Ending run(const Arguments& args) {
  // The environment is read first: its notices come before any usage message.
  const Step<config::LinkSettings> settings = read_settings();
  if (settings.ended()) return settings.ending();
  const Step<Request> request = parse_command_line(args, *settings);
  if (request.ended()) return request.ending();
  const Step<std::unique_ptr<drivelink::Link>> link = start_link(*settings, request->axis);
  if (link.ended()) return link.ending();
  if (std::optional<Ending> ending = run_passes(request->repeat, [&] { return write_once(**link, *request); })) {
    return *ending;
  }
  return Ending{0};
}

}  // namespace

int main(int argc, char** argv) {
  if (tools::answer_about(tools::PARMPOKE_ABOUT, argc, argv)) return 0;
  platform::console::guard_standard_streams();
  return end_run(run(Arguments(argc, argv)));
}
