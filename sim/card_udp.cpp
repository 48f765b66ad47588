// EZAL16: one datagram per register access. A read request is 01 42 and the
// register address (least significant byte first) and is answered by the four
// bytes of the register; a write request is 01 C2, the address and four data bytes,
// and is not answered.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>

#include "card_transport.h"
#include "commands.h"

namespace sim {

namespace {

constexpr uint8_t COMMAND_LOW = 0x01;
constexpr uint8_t READ_HIGH = 0x42;
constexpr uint8_t WRITE_HIGH = 0xC2;
constexpr std::size_t READ_REQUEST_SIZE = 4;
constexpr std::size_t WRITE_REQUEST_SIZE = 8;
const std::string STRAY_DATAGRAM("\xEF\xBE\xAD\xDE", 4);

uint32_t le_value(const std::string& bytes, std::size_t from, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i)
    value |= uint32_t{static_cast<uint8_t>(bytes[from + static_cast<std::size_t>(i)])} << (8 * i);
  return value;
}

class UdpCard {
 public:
  UdpCard(CardModel& card, const CardFaults& faults, Trace& trace, int fd)
      : card_(card), faults_(faults), trace_(trace), fd_(fd) {}

  void handle(const std::string& request, const sockaddr_in& host) {
    trace_.from_host(request);
    bool framed = request.size() >= READ_REQUEST_SIZE && static_cast<uint8_t>(request[0]) == COMMAND_LOW;
    uint8_t kind = framed ? static_cast<uint8_t>(request[1]) : 0;
    if (kind == READ_HIGH) {
      read(static_cast<uint16_t>(le_value(request, 2, 2)), host);
    } else if (kind == WRITE_HIGH && request.size() >= WRITE_REQUEST_SIZE) {
      card_.write(static_cast<uint16_t>(le_value(request, 2, 2)), le_value(request, 4, 4));
    } else {
      trace_.note("datagram not understood, ignored");
    }
  }

 private:
  void read(uint16_t address, const sockaddr_in& host) {
    uint32_t value = card_.read(address);
    if (faults_.silent || (faults_.silent_after >= 0 && reads_answered_ >= faults_.silent_after)) {
      trace_.note("read left unanswered");
      return;
    }
    ++reads_answered_;
    if (faults_.stray && !stray_sent_) {
      send(STRAY_DATAGRAM, host);
      stray_sent_ = true;
    }
    std::string reply;
    for (int i = 0; i < 4; ++i) reply.push_back(static_cast<char>(value >> (8 * i)));
    if (faults_.short_reply) reply.resize(2);
    for (const CardFaults::LateReply& late : faults_.late) {
      if (late.read != reads_answered_) continue;
      hold(reply, host, late.ms);
      return;
    }
    if (faults_.busy_slow_ms > 0 && card_.stuck()) {
      hold(reply, host, faults_.busy_slow_ms);
      return;
    }
    for (const CardFaults::LateReply& dup : faults_.duplicated) {
      if (dup.read != reads_answered_) continue;
      if (dup.ms == 0) {
        send_twice(reply, host);
      } else {
        send(reply, host);
        hold(reply, host, dup.ms);
      }
      return;
    }
    send(reply, host);
  }

  void hold(const std::string& reply, const sockaddr_in& host, int ms) {
    trace_.note("reply held back " + std::to_string(ms) + " ms");
    held_.push_back({Clock::now() + std::chrono::milliseconds(ms), reply, host});
    std::stable_sort(held_.begin(), held_.end(), [](const Held& a, const Held& b) { return a.due < b.due; });
  }

 public:
  // The wait until the next held-back reply is due; -1 when none is held.
  int next_due_ms() const {
    if (held_.empty()) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(held_.front().due - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
  }
  bool holds_replies() const { return !held_.empty(); }
  void release_due() {
    while (!held_.empty() && held_.front().due <= Clock::now()) {
      send(held_.front().bytes, held_.front().host);
      held_.pop_front();
    }
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Held {
    Clock::time_point due;
    std::string bytes;
    sockaddr_in host;
  };

  // Both copies in one call: the tool is not to see the first before the second
  // is queued behind it, as a network that duplicates delivers them.
  void send_twice(const std::string& bytes, const sockaddr_in& host) {
    trace_.to_host(bytes);
    trace_.to_host(bytes);
    iovec part{const_cast<char*>(bytes.data()), bytes.size()};
    mmsghdr messages[2]{};
    for (mmsghdr& message : messages) {
      message.msg_hdr.msg_name = const_cast<sockaddr_in*>(&host);
      message.msg_hdr.msg_namelen = sizeof host;
      message.msg_hdr.msg_iov = &part;
      message.msg_hdr.msg_iovlen = 1;
    }
    sendmmsg(fd_, messages, 2, 0);
  }

  // Traced first: once the reply is out, the tool may be done and the trace read.
  void send(const std::string& bytes, const sockaddr_in& host) {
    trace_.to_host(bytes);
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&host), sizeof host);
  }

  CardModel& card_;
  const CardFaults& faults_;
  Trace& trace_;
  int fd_;
  long reads_answered_ = 0;
  bool stray_sent_ = false;
  std::deque<Held> held_;
};

int bound_socket(const std::string& address, int port) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
    std::fprintf(stderr, "zr90sim card: %s is not an IPv4 address\n", address.c_str());
    return -1;
  }
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    std::fprintf(stderr, "zr90sim card: no UDP socket: %s\n", std::strerror(errno));
    return -1;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    std::fprintf(stderr, "zr90sim card: cannot bind %s port %d: %s\n", address.c_str(), port,
                 std::strerror(errno));
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int serve_card_udp(CardModel& card, const CardFaults& faults, const std::string& address, int port,
                   Trace& trace) {
  int fd = bound_socket(address, port);
  if (fd < 0) return EXIT_NO_ENDPOINT;
  UdpCard server(card, faults, trace, fd);
  announce_ready(address);
  char buffer[2048];
  // Idle is announced once held-back replies have gone out too.
  bool idle_pending = false;
  for (;;) {
    int ready = wait_readable(fd, server.next_due_ms());
    if (ready < 0) break;
    server.release_due();
    // A datagram sent on loopback is queued here before its sendto returns: once
    // the queue is empty, everything a finished tool sent has been dealt with.
    bool idle_wanted = take_idle_request();
    idle_pending = idle_pending || idle_wanted;
    if (ready == 0 && !idle_wanted) {
      if (idle_pending && !server.holds_replies()) {
        idle_pending = false;
        announce_idle();
      }
      continue;
    }
    for (;;) {
      sockaddr_in host{};
      socklen_t host_size = sizeof host;
      ssize_t n = recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&host),
                           &host_size);
      if (n < 0) break;
      server.handle(std::string(buffer, static_cast<std::size_t>(n)), host);
      if (!idle_wanted) break;
    }
    if (idle_pending && !server.holds_replies()) {
      idle_pending = false;
      announce_idle();
    }
  }
  close(fd);
  return 0;
}

}  // namespace sim
