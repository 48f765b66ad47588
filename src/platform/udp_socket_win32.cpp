// The UDP socket on Windows: Winsock, a connected datagram socket, receives bounded
// by the socket's receive time-out, one slice at a time.
#include "platform/win32.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_error.h"
#include "platform/udp_socket.h"

namespace platform {
namespace {

constexpr std::size_t MAX_DATAGRAM = 64 * 1024;
// A peer that floods the socket must not hold the caller: a request goes out after
// this many datagrams were thrown away, whatever is still coming.
constexpr int MAX_DISCARDED = 1024;

// Winsock is started once for the whole run and left to the process exit.
bool winsock_started() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

class WinsockUdpSocket final : public UdpSocket {
 public:
  explicit WinsockUdpSocket(core::Waits waits) : waits_(waits) {}
  ~WinsockUdpSocket() override {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }

  bool connect(const std::string& address, const std::string& port) override {
    if (!winsock_started()) {
      error_ = WSASYSNOTREADY;
      return false;
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    uint16_t port_number = 0;
    if (!parse_port_text(port, port_number) || inet_pton(AF_INET, address.c_str(), &remote.sin_addr) != 1) {
      error_ = WSAEINVAL;
      return false;
    }
    remote.sin_port = htons(port_number);
    socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket_ == INVALID_SOCKET) return fail();
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == SOCKET_ERROR) {
      return fail();
    }
    error_ = 0;
    return true;
  }

  bool send(const std::string& bytes) override {
    if (::send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0) == SOCKET_ERROR) return fail();
    error_ = 0;
    return true;
  }

  // select() with a zero wait only looks: it never blocks.
  std::size_t discard_pending() override {
    if (socket_ == INVALID_SOCKET) return 0;
    std::vector<char> buffer(MAX_DATAGRAM);
    std::size_t discarded = 0;
    while (discarded < MAX_DISCARDED) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(socket_, &readable);
      timeval none{0, 0};
      if (::select(0, &readable, nullptr, nullptr, &none) != 1) break;
      if (::recv(socket_, buffer.data(), static_cast<int>(buffer.size()), 0) == SOCKET_ERROR) break;
      ++discarded;
    }
    return discarded;
  }

  std::string receive_packet(int timeout_ms) override {
    if (socket_ == INVALID_SOCKET) {
      error_ = WSAENOTSOCK;
      return {};
    }
    std::vector<char> buffer(MAX_DATAGRAM);
    const int64_t deadline = waits_.now_ms() + (timeout_ms > 0 ? timeout_ms : 0);
    // In slices, so that a cancelled wait ends at once.
    for (;;) {
      if (waits_.cancelled()) {
        error_ = CANCELLED;
        return {};
      }
      if (!set_receive_limit(core::wait_slice(waits_.remaining_ms(deadline)))) return {};
      // An unreachable port comes back here (WSAECONNRESET on Windows): it is this
      // receive's failure, not something to wait past.
      const int got = ::recv(socket_, buffer.data(), static_cast<int>(buffer.size()), 0);
      if (got != SOCKET_ERROR) {
        error_ = 0;
        return std::string(buffer.data(), static_cast<std::size_t>(got));
      }
      fail();
      if (error_ != WSAETIMEDOUT) return {};
      if (waits_.now_ms() >= deadline) {
        error_ = TIMED_OUT;
        return {};
      }
    }
  }

  int last_error() const override { return error_; }

  std::string last_error_text() const override {
    // The system's own text for a time-out is missing or worded differently from
    // one Windows to the next; this one is the program's.
    if (error_ == TIMED_OUT || error_ == WSAETIMEDOUT) return "Connection timed out";
    if (error_ == CANCELLED) return "Interrupted";
    if (error_ == 0) return "Success";
    return os_error_text(error_);
  }

 private:
  bool fail() {
    error_ = WSAGetLastError();
    return false;
  }

  // The receive waits in the OS for at most timeout_ms. A receive time-out rather
  // than select(): some Winsock implementations never flag a refused port to
  // select(), only to a receive that is waiting.
  bool set_receive_limit(int timeout_ms) {
    // 0 would mean no limit at all.
    const DWORD limit = timeout_ms > 0 ? static_cast<DWORD>(timeout_ms) : 1;
    if (limit == receive_limit_) return true;
    if (setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit) ==
        SOCKET_ERROR) {
      return fail();
    }
    receive_limit_ = limit;
    return true;
  }

  core::Waits waits_;
  SOCKET socket_ = INVALID_SOCKET;
  DWORD receive_limit_ = 0;
  int error_ = 0;
};

}  // namespace

std::unique_ptr<UdpSocket> make_udp_socket(core::Waits waits) { return std::make_unique<WinsockUdpSocket>(waits); }

}  // namespace platform
