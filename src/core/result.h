// Failures as values: every library operation that can fail returns Result<T>,
// holding either its value or a Failure. Nothing below a front end prints or ends
// the process; a front end decides how a Failure is shown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace core {

enum class FailureKind : uint8_t {
  config,         // a setting is missing or malformed
  open,           // the link could not be brought up (port, socket, synchronisation, card)
  missed_answer,  // the drive did not answer in time, but the access went on (see Failure::value)
  timeout,        // no answer in time: the access was abandoned
  corrupt,        // an answer arrived but cannot be trusted (CRC, short datagram, invalid IDROM)
  module,         // the card's serial-channel module failed a command or a transfer
  unsupported,    // the protocol has no command for this access
  nonvolatile,    // the drive's non-volatile flag would not clear
  interrupted,    // Ctrl-C (or a request to end) cut a wait short where the front end allows it
};

// How the faithful front ends show a failure.
enum class FailureForm : uint8_t {
  after_empty_line,    // an empty line, then the text
  alone,               // the text alone on its line
  with_register_dump,  // the text, then the module's register dump lines
};

// Whose accesses a failure ends: one channel's (its drive failed a transfer, or the
// access is not possible there), or every channel's (the transport, the card's
// module, the link itself). Decided where the failure is met.
enum class FailureScope : uint8_t { channel, link };

struct Failure {
  FailureKind kind = FailureKind::open;
  FailureScope scope = FailureScope::link;
  std::string text;
  FailureForm form = FailureForm::after_empty_line;
  // with_register_dump: the dump lines, each read before it was added.
  std::vector<std::string> dump;
  // Lines that were already due when this failure was met (a transport failure
  // while the module's registers were being dumped).
  std::vector<std::string> lines_before;
  // missed_answer: the value as far as it was read (bytes that never came are 0).
  uint64_t value = 0;
  // What a front end that is not bound to the old texts may say instead: the
  // device path and the system's reason, for example. Empty when text says it all.
  std::string detail;
};

// The scope is the kind's usual one: the transport, the module and the link's own
// failures end every channel's access; the others concern the channel.
Failure fail(FailureKind kind, std::string text, FailureForm form = FailureForm::after_empty_line);
// The same for a failure that concerns only the channel it was met on.
Failure channel_failure(FailureKind kind, std::string text, FailureForm form = FailureForm::after_empty_line);
bool ends_the_link(const Failure& failure);

// The lines a faithful front end prints for the failure, in order.
std::vector<std::string> faithful_lines(const Failure& failure);

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }
  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  Failure& error() { return std::get<1>(state_); }
  const Failure& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Failure> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : failure_(std::move(failure)) {}

  bool ok() const { return !failure_.has_value(); }
  explicit operator bool() const { return ok(); }
  Failure& error() { return *failure_; }
  const Failure& error() const { return *failure_; }

 private:
  std::optional<Failure> failure_;
};

using Status = Result<void>;

}  // namespace core
