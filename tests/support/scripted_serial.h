// An in-memory serial line for unit tests: a device that records every byte the
// code under test sends and answers from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "platform/serial_port.h"
#include "serial/serial.h"
#include "support/manual_clock.h"

namespace testsupport {

// Runs on the test clock: delays are its milliseconds, and a wait on the line moves
// it on to the next arrival or the end of the wait.
class ScriptedLine {
 public:
  // Answers the next request: once the bytes sent since the previous matched
  // request make up `request`, `reply` arrives (after delay_ms). A different
  // request is recorded in mismatches() and its reply is not sent.
  void expect(const std::string& request, const std::string& reply, int delay_ms = 0);
  // Bytes that arrive by themselves, now or later.
  void arrive(const std::string& bytes, int delay_ms = 0);
  // The test's token is set delay_ms from now, as a Ctrl-C would set it.
  void cancel_after(int delay_ms);

  // Switches: the device refuses to open or to take a rate; requests go unanswered;
  // the far end sends without pause for ever; the device refuses every write with
  // this reason (when not empty).
  bool open_fails = false;
  bool configure_fails = false;
  bool silent = false;
  bool endless = false;
  char endless_byte = '#';
  std::string write_error;

  const std::string& written() const { return written_; }
  // Forgets what was sent so far (a synchronisation a test needs but does not check).
  void forget_written() { written_.clear(); }
  const std::vector<std::string>& mismatches() const { return mismatches_; }
  const std::vector<int32_t>& rates() const { return rates_; }
  const std::vector<std::string>& opened_names() const { return opened_names_; }
  // The device path each open was given (empty: the platform's own for the name).
  const std::vector<std::string>& opened_devices() const { return opened_devices_; }
  int reads() const { return reads_; }
  int rts_raised() const { return rts_raised_; }
  // Characters that arrived and were not read by anyone.
  std::size_t unread();

  // Device side, used by the scripted device.
  bool claim(const std::string& name, const std::string& device);
  void release() { held_ = false; }
  void record_rate(int32_t rate) { rates_.push_back(rate); }
  std::size_t waiting();
  bool wait(int timeout_ms, core::Waits waits);
  std::size_t take(uint8_t* buffer, std::size_t max);
  void receive_from_host(const uint8_t* data, std::size_t size);
  void flush_input() { incoming_.clear(); }
  void raise_rts() { ++rts_raised_; }

 private:
  struct Rule {
    std::string request;
    std::string reply;
    int delay_ms;
  };
  struct Arrival {
    int64_t at;  // on the test clock
    std::string bytes;
    bool cancels = false;  // sets the test's token instead
  };
  void schedule(Arrival arrival);
  void release_due();

  std::string written_;
  std::string unmatched_;
  std::deque<Rule> rules_;
  std::deque<Arrival> arrivals_;  // in order of arrival time
  std::string incoming_;
  std::vector<std::string> mismatches_;
  std::vector<int32_t> rates_;
  std::vector<std::string> opened_names_;
  std::vector<std::string> opened_devices_;
  int reads_ = 0;
  int rts_raised_ = 0;
  bool held_ = false;
};

// The one scripted line of a test; reset_scripted_line() starts a fresh one and
// clears the test's token.
ScriptedLine& scripted_line();
void reset_scripted_line();

// A device on the scripted line, waiting by the waits given: the factory a
// SerialLine or a link is given.
std::unique_ptr<platform::SerialDevice> make_scripted_device(core::Waits waits);

// A fresh scripted line and a serial line open on it as "COM1" at 115200 bit/s,
// waiting by the test clock, with a short character time-out. Null when the open
// failed.
std::unique_ptr<serial::SerialLine> open_scripted_line(int char_timeout_ms = 50);

}  // namespace testsupport
