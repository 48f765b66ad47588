// The serial port of a run: an OS device behind a receive store.
//
// SerialDevice is the thin OS part (POSIX termios2, Win32 comm API, or a scripted
// device in unit tests). SerialPort adds what is the same on every platform: the
// receive store and the receives whose time-out bounds each silence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/clock.h"

namespace platform {

enum class SerialError { none, timeout, failed };

// Owns an OS handle: never copied.
class SerialDevice {
 public:
  SerialDevice() = default;
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;
  virtual ~SerialDevice() = default;

  // Opens the port exclusively: raw 8N1, no flow control, DTR and RTS raised, both
  // directions flushed. The device is the path given, or when none is, the
  // platform's own for "COMn" (any letter case). False leaves the device closed.
  virtual bool open(const std::string& name, const std::string& device) = 0;
  // Sets the line rate in bit/s with 8 data bits, no parity, one stop bit.
  virtual bool configure(int32_t rate) = 0;
  // Characters received by the OS and not yet read; 0 on failure.
  virtual std::size_t bytes_waiting() = 0;
  // Blocks in the OS until characters are waiting or timeout_ms pass. True when
  // characters are waiting.
  virtual bool wait_readable(int timeout_ms) = 0;
  // Reads, without blocking, up to max of the characters waiting.
  virtual std::size_t read_waiting(uint8_t* buffer, std::size_t max) = 0;
  // Sends all bytes: failed when the OS refused them, timeout when timeout_ms passed
  // or the wait was cancelled (the pending transmission is then abandoned).
  virtual SerialError write_all(const uint8_t* data, std::size_t size, int timeout_ms) = 0;
  // Discards what the OS holds in both directions.
  virtual void purge() = 0;
  // Asserts RTS. A line without modem control (a pseudo-terminal) is not a failure.
  virtual bool set_rts() = 0;
  // The last OS error as text, for diagnostics.
  virtual std::string last_error_text() const = 0;
  // The last open failed because another program holds the port; last_error_text()
  // then says so, naming the program where the system tells.
  virtual bool in_use() const { return false; }
  // The device the last open chose for its name, for diagnostics; empty when the
  // name stood for none.
  virtual std::string path() const { return {}; }
};

// The platform's real device; its waits measure time by the clock given and give up
// when the token is set.
std::unique_ptr<SerialDevice> make_serial_device(core::Waits waits);

class SerialPort {
 public:
  static constexpr int SEND_LIMIT_MS = 30000;
  static constexpr std::size_t INPUT_QUEUE_SIZE = 4096;

  explicit SerialPort(std::unique_ptr<SerialDevice> device);
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // The device as SerialDevice::open takes it: a path, or empty for the name's own.
  bool CONNECT(const std::string& name, const std::string& device = {});
  bool CONFIG(int32_t rate);
  // Characters the OS holds that the store has not taken yet.
  std::size_t WAITINGDATA();
  // Characters pending anywhere: in the store or in the OS.
  std::size_t pending();
  // One character, from the store first; 0 and a time-out error when none
  // arrives within timeout_ms.
  uint8_t RECVBYTE(int timeout_ms);
  // n characters; each silence is bounded by timeout_ms. On a time-out the result
  // is empty and what was gathered is discarded.
  std::string RECVBUFFERSTR(std::size_t n, int timeout_ms);
  // False when the characters did not all go out; last_error() and the device's
  // last_error_text() say why.
  bool SENDBYTE(uint8_t c);
  bool SENDSTRING(const std::string& s);
  // Empties the receive store and the OS queues.
  void purge();
  void SETRTSF(bool on);

  SerialError last_error() const { return last_error_; }
  SerialDevice& device() { return *device_; }

 private:
  // Moves what the OS holds into the store; waits up to timeout_ms for it first
  // when nothing is waiting. False at time-out.
  bool fill_store(int timeout_ms);

  std::unique_ptr<SerialDevice> device_;
  std::string store_;
  std::size_t store_head_ = 0;
  bool open_ = false;
  SerialError last_error_ = SerialError::none;
};

}  // namespace platform
