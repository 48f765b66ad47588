// A connected UDP socket: one datagram out, one datagram in with a time-out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/clock.h"

namespace platform {

class UdpSocket {
 public:
  // The codes last_error() gives for a receive that timed out, and for one whose
  // wait was cancelled.
  static constexpr int TIMED_OUT = -1;
  static constexpr int CANCELLED = -2;

  UdpSocket() = default;
  // Owns an OS socket: never copied.
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  virtual ~UdpSocket() = default;
  // Creates the OS socket and sets the remote endpoint from an IPv4 text and a
  // port text. No datagram is sent. Failure shows in last_error().
  virtual bool connect(const std::string& address, const std::string& port) = 0;
  // Throws away the datagrams already waiting, without waiting for more; how many.
  virtual std::size_t discard_pending() = 0;
  // Sends the bytes as one datagram; false when the system refused it (last_error()
  // says why).
  virtual bool send(const std::string& bytes) = 0;
  // The bytes of one datagram that is waiting or arrives within timeout_ms; empty
  // with last_error() == TIMED_OUT when none arrives.
  virtual std::string receive_packet(int timeout_ms) = 0;
  // 0 after success, TIMED_OUT, or the OS error code.
  virtual int last_error() const = 0;
  // "Connection timed out" for TIMED_OUT, "Interrupted" for CANCELLED; the system's
  // own text otherwise.
  virtual std::string last_error_text() const = 0;
};

// The platform's socket; its receives measure time by the clock given and give up
// when the token is set.
std::unique_ptr<UdpSocket> make_udp_socket(core::Waits waits);

// A port given as text: decimal digits only, 1 to 65535.
bool parse_port_text(const std::string& text, uint16_t& port);

}  // namespace platform
