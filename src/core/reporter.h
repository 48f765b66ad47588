// Where the library's notices go: lines that tell the user about an assumed default
// or an oddity of the hardware while the run goes on. The front end decides where
// they are shown (or that they are not).
#pragma once

#include <string_view>

namespace core {

class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void notice(std::string_view line) = 0;
};

// Drops every notice.
class SilentReporter final : public Reporter {
 public:
  void notice(std::string_view) override {}
};

}  // namespace core
