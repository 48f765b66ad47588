// What parmpeek and parmpoke share: the command line, the name lookup with its
// offset, the list of names, the usage end, the link start, the access of a
// parameter by its type and the repeat loop. Each step that can end the run gives
// back a Step or an Ending for main to return.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "config/config.h"
#include "core/access.h"
#include "core/result.h"
#include "dictionary/dictionary.h"
#include "drive/parameter.h"
#include "link/link.h"
#include "tools/common/fatal.h"

namespace tools {

// The command line as short strings: argument i (1-based), empty when not given.
class Arguments {
 public:
  Arguments(int argc, char** argv);
  std::string operator[](int i) const;

 private:
  int argc_;
  char** argv_;
};

// The dictionary row of "name" or "name+offset" by the programs' rules (the address
// kept to 16 bits). An offset that is not a number ends the run with "Can't parse
// offset"; a name that is not in the dictionary with the list of names.
Step<drive::Parameter> find_parameter(const std::string& text);

// Reports a name that is not in the dictionary and lists every name (pausing for
// the reader every 20 lines); exit code 2.
Ending show_parameters(const std::string& text);

// The usage line and an empty line; exit code 2.
Ending usage(const std::string& usage_line);

// The axis argument: a number keeps its low 8 bits; anything else, or nothing, is 0.
uint8_t parse_axis(const std::string& argument);

// The axis argument for the link's protocol. With the serial-channel module it picks
// one of eight channels, so it must be a number 0 to 7 as typed, or a one-letter
// word (a flag in that place, axis 0); anything else ends the run before the card
// is touched. Other protocols take parse_axis's reading.
Step<uint8_t> axis_argument(const std::string& argument, const config::LinkSettings& settings);

// True when an upper-cased argument is the one-letter flag.
bool is_flag(const std::string& argument, char flag);

// The link settings from the environment, its notices printed; a bad setting ends
// the run.
Step<config::LinkSettings> read_settings();

// Brings the link up for one axis with its channel started in setup mode; any
// failure ends the run with its text.
Step<std::unique_ptr<drivelink::Link>> start_link(const config::LinkSettings& settings, uint8_t axis);

// The faithful programs' view of an access: a missed answer still gives its value
// (the run ends with "Serial Timeout Error" later); any other failure ends the run,
// as does Ctrl-C in a repeat loop (exit code 0) and a notice of the access that
// could not be written.
struct Outcome {
  uint64_t value = 0;
  bool missed = false;
};
Step<Outcome> settle(core::Result<uint64_t> result);
Step<Outcome> settle(core::Status status);

// One pass of a run: true to go on, false when the loop is done, or the end of the run.
using Pass = std::function<Step<bool>()>;

// Runs one pass, or with repeat passes until a key is pressed (or Ctrl-C) or a pass
// is the last. The terminal is given back on every way out of the loop.
std::optional<Ending> run_passes(bool repeat, const Pass& pass);

}  // namespace tools
