// zr90 get: parameters on each axis, as text, values only, CSV or JSON.
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "zr90/commands.h"
#include "zr90/output.h"
#include "zr90/reading.h"

namespace zr90 {

namespace {

class GetOutput {
 public:
  GetOutput(const Options& options, bool several_axes) : options_(options), several_axes_(several_axes) {
    if (options_.csv) text_ = "axis,name,address,type,value,error\n";
  }

  void add(const drive::Parameter& parameter, const drive::AxisValue& value) {
    if (options_.json) {
      nlohmann::ordered_json row = {{"axis", value.axis},
                            {"name", parameter.name},
                            {"address", drive::address_text(parameter.address)},
                            {"type", drive::type_name(parameter.type)}};
      if (value.value) {
        put_value(row, "value", parameter, *value.value, options_.hex);
      } else {
        row["error"] = describe(value.value.error());
      }
      rows_.push_back(std::move(row));
      return;
    }
    if (options_.csv) {
      text_ += std::to_string(value.axis) + "," + parameter.name + "," + drive::address_text(parameter.address) + "," +
               drive::type_name(parameter.type) + ",";
      text_ += value.value ? drive::format_value(parameter.type, *value.value, options_.hex) + "," : "," + csv_text(describe(value.value.error()));
      text_ += "\n";
      return;
    }
    if (!value.value) return;
    const std::string shown = drive::format_value(parameter.type, *value.value, options_.hex);
    if (options_.value_only) {
      text_ += shown + "\n";
    } else if (several_axes_) {
      text_ += std::to_string(value.axis) + " " + parameter.name + " " + shown + "\n";
    } else {
      text_ += parameter.name + " " + shown + "\n";
    }
  }

  bool finish() { return emit(options_.json ? rows_.dump(2) + "\n" : text_); }

 private:
  static std::string csv_text(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
  }

  const Options& options_;
  bool several_axes_;
  std::string text_;
  nlohmann::ordered_json rows_ = nlohmann::ordered_json::array();
};

int show_values(Session& session, int exit_code, const Options& options,
                const std::vector<drive::Parameter>& parameters) {
  GetOutput output(options, session.several_axes());
  for (const drive::Parameter& parameter : parameters) {
    for (const drive::AxisValue& value : read_on_axes(session, parameter)) {
      if (!value.value) {
        exit_code = EXIT_FAILED;
        if (session.axis_started(value.axis)) {
          say(access_message(session, value.axis, parameter.name, value.value.error()));
        }
      }
      output.add(parameter, value);
    }
  }
  if (!output.finish()) {
    say("cannot write to standard output");
    return EXIT_USAGE;
  }
  return exit_code;
}

}  // namespace

int run_get(const Options& options, const std::vector<std::string>& names) {
  const std::optional<std::vector<drive::Parameter>> parameters = resolve_names(names);
  if (!parameters) return EXIT_USAGE;
  return with_session(options, [&](Session& session, int exit_code) {
    return show_values(session, exit_code, options, *parameters);
  });
}

}  // namespace zr90
