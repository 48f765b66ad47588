// The ways a run of parmpeek or parmpoke ends. A helper that ends the run says what
// there is to say and hands an Ending back up to main, which returns its exit code:
// nothing below main ends the process.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "core/result.h"

namespace tools {

struct Ending {
  int exit_code = 2;
};

// A step's value, or the end of the run in its place.
template <class T>
class [[nodiscard]] Step {
 public:
  Step(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Step(Ending ending) : state_(std::in_place_index<1>, ending) {}

  bool ended() const { return state_.index() == 1; }
  Ending ending() const { return std::get<1>(state_); }
  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }

 private:
  std::variant<T, Ending> state_;
};

// What main returns: the ending's exit code, or 2 when anything written to standard
// output was lost. The terminal is given back.
int end_run(Ending ending);

// The common fatal end: an empty line, the message on its own line; exit code 2.
Ending BUMOUT(const std::string& message);

// A failure of the library, shown as the programs always showed it; exit code 2.
Ending end_with(const core::Failure& failure);

// Exit code 2 once standard output has failed (a notice of the library may have
// been lost during the last operation); nothing while it works.
std::optional<Ending> end_if_output_lost();

}  // namespace tools
