// The serial layer: one serial line of a link and its operations (open at a rate,
// receive a character or a string within the silence limit, send, discard what is
// pending, raise RTS). The link owns each line; protocols borrow it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/clock.h"
#include "core/result.h"
#include "platform/serial_port.h"

namespace serial {

// The drive did not close its answer in time, but the access went on: a faithful
// front end shows the value as read, then "Serial Timeout Error".
core::Failure missed_answer(uint64_t value);
// No character came within the silence limit where the access cannot go on.
core::Failure char_timeout();

// Makes the device a line opens, waiting as the line is told to; the link passes the
// platform's, tests a scripted one.
using DeviceFactory = std::function<std::unique_ptr<platform::SerialDevice>(core::Waits)>;

class SerialLine {
 public:
  // Every wait of the line, and of the protocols on it, measures time by the clock
  // of `waits` and gives up when its token is set.
  explicit SerialLine(core::Waits waits, DeviceFactory factory = platform::make_serial_device);
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // Opens "COMn" at baudrate / multiplier bit/s (rounded, a half to the even
  // neighbour) and discards what is pending. The device is the path given, or the
  // platform's own for the name. The failure's text is "COMn open failed"; its
  // detail names the device and the system's reason.
  core::Status open(const std::string& port_name, int32_t baudrate, double multiplier,
                    const std::string& device = {});

  const core::Waits& waits() const { return waits_; }

  // The silence a receive waits, in ms.
  int char_timeout_ms() const { return char_timeout_ms_; }
  void set_char_timeout_ms(int ms) { char_timeout_ms_ = ms; }

  // One character; false (and 0) when none arrives within the silence limit.
  bool receive_char(uint8_t& c);
  // n characters, each silence bounded; false and empty when a silence runs out.
  bool receive_string(std::size_t n, std::string& s);
  // The failure's text is "COMn write failed", its kind timeout when the line would
  // not take the characters in time; the detail names the device and the system's
  // reason. Until a later send goes out, receives give up at once: no answer comes
  // to a command that never went out.
  core::Status send_char(uint8_t c);
  core::Status send_string(const std::string& s);
  // Drops what has arrived and not been read, at once and without waiting for more:
  // it answers nothing that is asked after it.
  void discard_received();
  // Discards everything received so far. False when the line would not fall quiet
  // within a bounded time (it never stops sending): no exchange on it can be trusted.
  bool toss_chars();
  void set_rts_high();

 private:
  // "COMn (device): " before a reason.
  std::string where() const;

  core::Waits waits_;
  DeviceFactory factory_;
  std::string port_name_;
  std::unique_ptr<platform::SerialPort> port_;
  int char_timeout_ms_ = 1000;
  // The last send failed: nothing is waited for until one goes out.
  bool unsent_ = false;
};

}  // namespace serial
