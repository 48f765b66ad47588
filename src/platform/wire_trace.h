// The wire trace: one line per frame, datagram or chunk that crosses a transport,
// written as it happens.
//
//   12.345 > 01 42 00 01
//   13.101 < 52 57 0D "RW\r"      (text protocols also show the characters)
//
// Milliseconds since the trace began (at program start), three decimals; ">" sent,
// "<" received; the bytes as upper-case hex pairs.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/serial_port.h"
#include "platform/udp_socket.h"

namespace platform {

class WireTrace {
 public:
  // Truncates or creates the file; false from ok() when it cannot be written.
  explicit WireTrace(const std::string& path);
  ~WireTrace();
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;

  bool ok() const { return file_ != nullptr; }
  // The system's reason for the first line that could not be written; 0 while none failed.
  int write_error() const { return write_error_; }
  // Text protocols: each line also shows the bytes as quoted text.
  void show_text(bool on) { show_text_ = on; }

  void sent(const uint8_t* data, std::size_t size) { line('>', data, size); }
  void received(const uint8_t* data, std::size_t size) { line('<', data, size); }

  // One line in the trace's form, without the line end (also for the simulator).
  static std::string format(double elapsed_ms, char direction, const uint8_t* data, std::size_t size, bool text);

 private:
  void line(char direction, const uint8_t* data, std::size_t size);

  std::FILE* file_ = nullptr;
  std::chrono::steady_clock::time_point start_;
  bool show_text_ = false;
  int write_error_ = 0;
};

// A device or socket whose traffic is traced; the trace must outlive it.
std::unique_ptr<SerialDevice> traced(std::unique_ptr<SerialDevice> device, WireTrace& trace);
std::unique_ptr<UdpSocket> traced(std::unique_ptr<UdpSocket> socket, WireTrace& trace);

}  // namespace platform
