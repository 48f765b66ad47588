// A connected UDP socket: one datagram out, one datagram in with a time-out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class UdpSocket {
 public:
  // The code last_error() gives for a receive that timed out.
  static constexpr int TIMED_OUT = -1;

  UdpSocket() = default;
  // Owns an OS socket: never copied.
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  virtual ~UdpSocket() = default;
  // Creates the OS socket and sets the remote endpoint from an IPv4 text and a
  // port text. No datagram is sent. Failure shows in last_error().
  virtual bool connect(const std::string& address, const std::string& port) = 0;
  // Throws away the datagrams already waiting, without waiting for more.
  virtual void discard_pending() = 0;
  // Sends the bytes as one datagram.
  virtual void send(const std::string& bytes) = 0;
  // The bytes of one datagram that is waiting or arrives within timeout_ms; empty
  // with last_error() == TIMED_OUT when none arrives.
  virtual std::string receive_packet(int timeout_ms) = 0;
  // 0 after success, TIMED_OUT, or the OS error code.
  virtual int last_error() const = 0;
  // "Connection timed out" for TIMED_OUT; the system's own text otherwise.
  virtual std::string last_error_text() const = 0;
};

std::unique_ptr<UdpSocket> make_udp_socket();

// A port given as text: decimal digits only, 1 to 65535.
bool parse_port_text(const std::string& text, uint16_t& port);

}  // namespace platform
