#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/os_error.h"
#include "platform/udp_socket.h"

namespace platform {
namespace {

constexpr std::size_t MAX_DATAGRAM = 64 * 1024;
// A peer that floods the socket must not hold the caller: a request goes out after
// this many datagrams were thrown away, whatever is still coming.
constexpr int MAX_DISCARDED = 1024;

class PosixUdpSocket final : public UdpSocket {
 public:
  explicit PosixUdpSocket(core::Waits waits) : waits_(waits) {}
  ~PosixUdpSocket() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool connect(const std::string& address, const std::string& port) override {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    uint16_t port_number = 0;
    if (!parse_port_text(port, port_number) || inet_pton(AF_INET, address.c_str(), &remote.sin_addr) != 1) {
      error_ = EINVAL;
      return false;
    }
    remote.sin_port = htons(port_number);
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return fail();
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) return fail();
    error_ = 0;
    return true;
  }

  bool send(const std::string& bytes) override {
    ssize_t sent;
    do {
      sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    error_ = sent < 0 ? errno : 0;
    return sent >= 0;
  }

  std::size_t discard_pending() override {
    if (fd_ < 0) return 0;
    if (buffer_.empty()) buffer_.resize(MAX_DATAGRAM);
    std::size_t discarded = 0;
    while (discarded < MAX_DISCARDED) {
      const ssize_t got = ::recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
      if (got >= 0) {
        ++discarded;
      } else if (errno != EINTR) {
        break;  // nothing waiting, or an error the next receive meets afresh
      }
    }
    return discarded;
  }

  std::string receive_packet(int timeout_ms) override {
    if (!wait_readable(timeout_ms)) return {};
    // Kept between receives: clearing 64 KiB for every register read would cost a
    // noticeable part of a loopback exchange.
    if (buffer_.empty()) buffer_.resize(MAX_DATAGRAM);
    ssize_t got;
    do {
      got = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      fail();
      return {};
    }
    error_ = 0;
    return std::string(buffer_.data(), static_cast<std::size_t>(got));
  }

  int last_error() const override { return error_; }

  std::string last_error_text() const override {
    if (error_ == TIMED_OUT) return "Connection timed out";
    if (error_ == CANCELLED) return "Interrupted";
    if (error_ == 0) return "Success";
    return os_error_text(error_);
  }

 private:
  bool fail() {
    error_ = errno;
    return false;
  }

  // Waits in the OS until a datagram (or an error such as a refused port) is
  // pending; a signal only shortens the wait by the time already spent. The wait
  // goes in slices, so that a cancelled wait ends at once.
  bool wait_readable(int timeout_ms) {
    const int64_t deadline = waits_.now_ms() + timeout_ms;
    pollfd pfd{fd_, POLLIN, 0};
    for (;;) {
      if (waits_.cancelled()) {
        error_ = CANCELLED;
        return false;
      }
      const int ready = ::poll(&pfd, 1, core::wait_slice(waits_.remaining_ms(deadline)));
      if (ready > 0) return true;
      if (ready == 0 && waits_.now_ms() >= deadline) {
        error_ = TIMED_OUT;
        return false;
      }
      if (ready < 0 && errno != EINTR) return fail();
    }
  }

  core::Waits waits_;
  int fd_ = -1;
  int error_ = 0;
  std::vector<char> buffer_;
};

}  // namespace

std::unique_ptr<UdpSocket> make_udp_socket(core::Waits waits) { return std::make_unique<PosixUdpSocket>(waits); }

}  // namespace platform
