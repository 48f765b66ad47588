// A serial device for fuzzing: the far end's answer to each command is the next
// scripted chunk, there at once when the command goes out; a silence ends at once,
// so that no input costs real waiting. A text command ends at its CR; a binary
// frame has no terminator, so a device for those takes each write as one command.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "core/clock.h"
#include "platform/serial_port.h"

namespace fuzzing {

// Time that passes only when a wait asks it to: no input costs real waiting.
class InstantClock final : public core::Clock {
 public:
  int64_t now_ms() const override { return now_; }
  bool sleep_ms(int ms, const core::CancelToken& cancel) override {
    if (cancel.cancelled()) return false;
    if (ms > 0) now_ += ms;
    return true;
  }

 private:
  int64_t now_ = 0;
};

// The waits of a fuzzed line: the instant clock, never cancelled.
inline core::Waits instant_waits() {
  static InstantClock clock;
  return {clock, core::CancelToken::never()};
}

struct Script {
  std::deque<std::string> answers;
  std::string pending;
};

enum class CommandEnd { carriage_return, each_write };

class InstantDevice final : public platform::SerialDevice {
 public:
  explicit InstantDevice(Script& script, CommandEnd end = CommandEnd::carriage_return)
      : script_(script), end_(end) {}
  bool open(const std::string&, const std::string&) override { return true; }
  bool configure(int32_t) override { return true; }
  std::size_t bytes_waiting() override { return script_.pending.size(); }
  bool wait_readable(int) override { return !script_.pending.empty(); }
  std::size_t read_waiting(uint8_t* buffer, std::size_t max) override {
    const std::size_t n = max < script_.pending.size() ? max : script_.pending.size();
    std::memcpy(buffer, script_.pending.data(), n);
    script_.pending.erase(0, n);
    return n;
  }
  platform::SerialError write_all(const uint8_t* data, std::size_t size, int) override {
    if (end_ == CommandEnd::each_write) {
      answer();
      return platform::SerialError::none;
    }
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] == '\r') answer();
    }
    return platform::SerialError::none;
  }
  void purge() override { script_.pending.clear(); }
  bool set_rts() override { return true; }
  std::string last_error_text() const override { return {}; }

 private:
  void answer() {
    if (script_.answers.empty()) return;
    script_.pending += script_.answers.front();
    script_.answers.pop_front();
  }

  Script& script_;
  CommandEnd end_;
};

// Splits the input at 0xFF bytes into at most max_chunks chunks of at most
// max_size bytes each.
inline std::deque<std::string> chunks_of(const uint8_t* data, std::size_t size, std::size_t max_chunks,
                                         std::size_t max_size) {
  std::deque<std::string> out(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF) {
      if (out.size() == max_chunks) break;
      out.emplace_back();
      continue;
    }
    if (out.back().size() < max_size) out.back().push_back(static_cast<char>(data[i]));
  }
  return out;
}

}  // namespace fuzzing
