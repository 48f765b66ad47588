// zr90 faults: the fault and status words of each axis, decoded into bit names.
#include <nlohmann/json.hpp>

#include <span>
#include <string>
#include <vector>

#include "zr90/commands.h"
#include "zr90/output.h"
#include "zr90/reading.h"

namespace zr90 {

namespace {

struct Word {
  const char* name;
  std::span<const dict::BITNAME> bits;
};

std::vector<std::string> set_bits(uint16_t value, std::span<const dict::BITNAME> names) {
  std::vector<std::string> set;
  for (unsigned bit = 0; bit < 16; ++bit) {
    const auto mask = static_cast<uint16_t>(1u << bit);
    if ((value & mask) == 0) continue;
    std::string name = "bit " + std::to_string(bit);
    for (const dict::BITNAME& known : names) {
      if (known.BIT == mask) name = known.NAME;
    }
    set.push_back(name);
  }
  return set;
}

int show_faults(Session& session, int exit_code, const Options& options, std::span<const Word> words,
                const std::vector<drive::Parameter>& parameters) {
  // Rows by axis, then by word.
  const std::vector<std::vector<drive::AxisValue>> values = read_on_axes(session, parameters);
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  std::string text;
  for (std::size_t a = 0; a < session.axes().size(); ++a) {
    for (std::size_t w = 0; w < parameters.size(); ++w) {
      const drive::AxisValue& value = values[w][a];
      if (!value.value) {
        exit_code = EXIT_FAILED;
        if (session.axis_started(value.axis)) {
          say(access_message(session, value.axis, parameters[w].name, value.value.error()));
        }
        continue;
      }
      const auto word = static_cast<uint16_t>(*value.value);
      const std::vector<std::string> bits = set_bits(word, words[w].bits);
      if (options.json) {
        rows.push_back({{"axis", value.axis}, {"name", words[w].name}, {"value", word}, {"bits", bits}});
        continue;
      }
      std::string line = session.several_axes() ? std::to_string(value.axis) + " " : "";
      line += std::string(words[w].name) + std::string(14 - std::string(words[w].name).size(), ' ') +
              drive::format_value(parameters[w].type, word, true);
      for (const std::string& bit : bits) line += " " + bit;
      text += line + "\n";
    }
  }
  if (!emit(options.json ? rows.dump(2) + "\n" : text)) {
    say("cannot write to standard output");
    return EXIT_USAGE;
  }
  return exit_code;
}

}  // namespace

int run_faults(const Options& options) {
  const Word words[] = {{"fault", dict::FAULTBITS}, {"faultmask", dict::FAULTBITS},
                        {"startupstatus", dict::FAULTBITS}, {"status", dict::STATUSBITS}};
  std::vector<drive::Parameter> parameters;
  for (const Word& word : words) parameters.push_back(*drive::find_parameter(word.name));

  return with_session(options, [&](Session& session, int exit_code) {
    return show_faults(session, exit_code, options, words, parameters);
  });
}

}  // namespace zr90
