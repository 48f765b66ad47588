// -h/--help and -V/--version, the same way in every program of the suite.
#pragma once

#include <string>
#include <string_view>

namespace tools {

struct About {
  std::string_view program;
  // The text of --help: usage, what the program does, its flags and environment.
  std::string_view help;
};

extern const About PARMPEEK_ABOUT;
extern const About PARMPOKE_ABOUT;

// Only a command line whose one argument is -h, --help, -V or --version is an
// answer request: the help or the version goes to standard output and the result
// is true, so that main returns 0 at once. Every other command line is left to the
// program exactly as before, so a parameter name is never taken for an option.
bool answer_about(const About& about, int argc, const char* const* argv);

// "<program> <version> (ZR90 service tools)"
std::string version_line(std::string_view program);

}  // namespace tools
