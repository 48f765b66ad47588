// The environment, through its lookup seam: every variable the link settings come
// from takes the input's values ("NAME=value" lines). No input may crash the
// reading, and the same variables always read the same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "config/config.h"
#include "core/reporter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::map<std::string, std::string> variables;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) variables[line.substr(0, equals)] = line.substr(equals + 1);
    start = end + 1;
  }
  const config::EnvLookup lookup = [&variables](const char* name) {
    const auto found = variables.find(name);
    return found == variables.end() ? std::string() : found->second;
  };
  core::SilentReporter quiet;
  const core::Result<config::LinkSettings> settings = config::settings_from_environment(quiet, lookup);
  const core::Result<config::LinkSettings> again = config::settings_from_environment(quiet, lookup);
  if (settings.ok() != again.ok()) std::abort();
  if (settings.ok() && (settings->protocol != again->protocol || settings->interface_kind != again->interface_kind))
    std::abort();
  return 0;
}
