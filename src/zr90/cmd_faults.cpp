// zr90 faults: the fault and status words of each axis, decoded into bit names. An
// axis without a fault is one line; the exit code says whether any axis has one.
#include <nlohmann/json.hpp>

#include <span>
#include <string>
#include <vector>

#include "drive/faults.h"
#include "zr90/command_steps.h"
#include "zr90/commands.h"
#include "zr90/output.h"
#include "zr90/reading.h"

namespace zr90 {

namespace {

constexpr std::size_t NAME_COLUMN = 14;

// "faultmask     0x0014 leaves out WATCHDOGFAULT ..."
std::string word_line(const drive::FaultWord& word, const drive::Parameter& parameter, uint16_t value) {
  std::string line = std::string(word.name) + std::string(NAME_COLUMN - word.name.size(), ' ') +
                     drive::format_value(parameter.type, value, true);
  if (word.role == drive::WordRole::mask) {
    const std::vector<std::string> left_out = drive::left_out_bit_names(value, word.bits);
    if (!left_out.empty()) line += " leaves out";
    for (const std::string& bit : left_out) line += " " + bit;
    return line;
  }
  for (const std::string& bit : drive::set_bit_names(value, word.bits)) line += " " + bit;
  return line;
}

int show_faults(Session& session, int exit_code, const Options& options) {
  const FaultReport report = read_fault_report(session);
  if (!report.read_all) exit_code = EXIT_FAILED;
  if (!emit(options.json ? report.rows.dump(2) + "\n" : report.text)) {
    say("cannot write to standard output");
    return EXIT_USAGE;
  }
  return exit_code == EXIT_DONE && report.any_fault ? EXIT_FAILED : exit_code;
}

}  // namespace

FaultReport read_fault_report(Session& session) {
  std::vector<drive::Parameter> parameters;
  for (const drive::FaultWord& word : drive::fault_words()) parameters.push_back(*drive::find_parameter(word.name));
  const std::span<const drive::FaultWord> words = drive::fault_words();
  // Rows by word, then by axis.
  const std::vector<std::vector<drive::AxisValue>> values = read_on_axes(session, parameters);
  FaultReport report;
  for (std::size_t a = 0; a < session.axes().size(); ++a) {
    const uint8_t axis = values[0][a].axis;
    const std::string prefix = session.several_axes() ? std::to_string(axis) + " " : "";
    std::string lines;
    bool read_all = true;
    bool faulty = false;
    for (std::size_t w = 0; w < words.size(); ++w) {
      const drive::AxisValue& value = values[w][a];
      if (!value.value) {
        read_all = false;
        if (session.axis_started(axis)) say(access_message(session, axis, parameters[w].name, value.value.error()));
        continue;
      }
      const auto word = static_cast<uint16_t>(*value.value);
      faulty = faulty || drive::shows_fault(words[w], word);
      report.rows.push_back({{"axis", axis}, {"name", words[w].name}, {"value", word},
                             {"bits", drive::set_bit_names(word, words[w].bits)}});
      lines += prefix + word_line(words[w], parameters[w], word) + "\n";
    }
    report.any_fault = report.any_fault || faulty;
    report.read_all = report.read_all && read_all;
    // A drive that is well is one line; one with a fault shows every word.
    report.text += read_all && !faulty ? prefix + "no faults\n" : lines;
  }
  return report;
}

int run_faults(const Options& options) {
  return with_session(options,
                      [&](Session& session, int exit_code) { return show_faults(session, exit_code, options); });
}

}  // namespace zr90
