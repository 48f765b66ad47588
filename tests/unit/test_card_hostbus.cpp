#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "card/hostbus.h"
#include "config/config.h"
#include "fatal_capture.h"
#include "platform/udp_socket.h"
#include "support/fake_card.h"

namespace {

using testsupport::CardAccess;
using testsupport::FakeCard;

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

TEST(CardHostBus, DatagramsAreLittleEndianByteForByte) {
  EXPECT_EQ(card::ezal16_write_request(0x0100, static_cast<int32_t>(0x55AACAFE)),
            bytes({0x01, 0xC2, 0x00, 0x01, 0xFE, 0xCA, 0xAA, 0x55}));
  EXPECT_EQ(card::ezal16_read_request(0x010C), bytes({0x01, 0x42, 0x0C, 0x01}));
  EXPECT_EQ(card::ezal16_read_request(0xFFFC), bytes({0x01, 0x42, 0xFC, 0xFF}));
}

TEST(CardHostBus, ReadSendsOneRequestAndDecodesTheReply) {
  FakeCard fake;
  fake.install();
  fake.set_register(0x010C, 0x55AACAFE);
  EXPECT_EQ(static_cast<uint32_t>(card::READ32(0x010C)), 0x55AACAFEu);
  ASSERT_EQ(fake.datagrams.size(), 1u);
  EXPECT_EQ(fake.datagrams[0], bytes({0x01, 0x42, 0x0C, 0x01}));

  fake.reply_size = 9;  // only the first four bytes count
  fake.set_register(0x0200, 0x80000001);
  EXPECT_EQ(card::READ32(0x0200), static_cast<int32_t>(0x80000001));
}

TEST(CardHostBus, WriteSendsOneDatagramAndWaitsForNothing) {
  FakeCard fake;
  fake.install();
  fake.silent = true;  // a write that waited would time out here
  card::WRITE32(0x0100, static_cast<int32_t>(0x55AACAFE));
  ASSERT_EQ(fake.datagrams.size(), 1u);
  EXPECT_EQ(fake.datagrams[0], bytes({0x01, 0xC2, 0x00, 0x01, 0xFE, 0xCA, 0xAA, 0x55}));
  EXPECT_EQ(fake.reg(0x0100), 0x55AACAFEu);
}

TEST(CardHostBus, FailedReadsEndTheRun) {
  FakeCard fake;
  fake.install();
  fake.reply_size = 3;
  EXPECT_EQ(unittest::output_of_exit([] { card::READ32(0x0100); }, 2),
            "\nShort reply from card: 3 bytes\n");
  fake.reply_size = 0;
  EXPECT_EQ(unittest::output_of_exit([] { card::READ32(0x0100); }, 2),
            "\nShort reply from card: 0 bytes\n");
  fake.reply_size = 4;
  fake.silent = true;
  EXPECT_EQ(unittest::output_of_exit([] { card::READ32(0x0100); }, 2), "\nConnection timed out\n");
  fake.receive_error = ECONNREFUSED;
  EXPECT_EQ(unittest::output_of_exit([] { card::READ32(0x0100); }, 2),
            "\n" + std::string(std::strerror(ECONNREFUSED)) + "\n");
}

TEST(CardHostBus, TransportsWithoutAPathReadZeroAndWriteNothing) {
  FakeCard fake;
  fake.install();
  fake.set_register(0x0100, 0x55AACAFE);
  for (auto kind : {config::INTERFACETYPES::EPP, config::INTERFACETYPES::PCIMEM, config::INTERFACETYPES::PCIPORT,
                    config::INTERFACETYPES::ISAPORT, config::INTERFACETYPES::OSDEVICE}) {
    config::THEINTERFACE = kind;
    EXPECT_EQ(card::READ32(0x0100), 0);
    card::WRITE32(0x0100, 7);
  }
  EXPECT_TRUE(fake.datagrams.empty());
  config::THEINTERFACE = config::INTERFACETYPES::EZAL16;
}

// A UDP peer on the loopback interface, bound to a port the system chooses.
class LoopbackPeer {
 public:
  LoopbackPeer() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~LoopbackPeer() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  std::string port() const { return std::to_string(port_); }
  // Receives one datagram and answers it with reply.
  std::string echo(const std::string& reply) {
    char buf[256];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return "recv failed";
    ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    return std::string(buf, static_cast<std::size_t>(n));
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

TEST(UdpSocketPosix, ExchangesDatagramsWithALoopbackPeer) {
  LoopbackPeer peer;
  auto socket = platform::make_udp_socket();
  ASSERT_TRUE(socket->connect("127.0.0.1", peer.port()));
  EXPECT_EQ(socket->last_error(), 0);

  socket->send(bytes({0x01, 0x42, 0x0C, 0x01}));
  EXPECT_EQ(peer.echo(bytes({0xFE, 0xCA, 0xAA, 0x55, 0x00})), bytes({0x01, 0x42, 0x0C, 0x01}));
  EXPECT_EQ(socket->receive_packet(1000), bytes({0xFE, 0xCA, 0xAA, 0x55, 0x00}));
  EXPECT_EQ(socket->last_error(), 0);
}

TEST(UdpSocketPosix, SilenceTimesOutAfterTheGivenWait) {
  LoopbackPeer peer;
  auto socket = platform::make_udp_socket();
  ASSERT_TRUE(socket->connect("127.0.0.1", peer.port()));
  socket->send("x");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(socket->receive_packet(200), "");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(socket->last_error(), platform::UdpSocket::TIMED_OUT);
  EXPECT_EQ(socket->last_error_text(), "Connection timed out");
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  EXPECT_LT(waited, std::chrono::seconds(5));  // bounded, not the peer's patience
}

TEST(UdpSocketPosix, AClosedPortIsReportedWithTheSystemText) {
  LoopbackPeer peer;
  const std::string port = peer.port();
  peer.close();  // nothing listens there any more
  auto socket = platform::make_udp_socket();
  ASSERT_TRUE(socket->connect("127.0.0.1", port));
  socket->send(bytes({0x01, 0x42, 0x00, 0x01}));
  EXPECT_EQ(socket->receive_packet(1000), "");
  EXPECT_EQ(socket->last_error(), ECONNREFUSED);
  EXPECT_EQ(socket->last_error_text(), std::strerror(ECONNREFUSED));
}

TEST(UdpSocketPosix, ABadEndpointFailsToConnect) {
  auto socket = platform::make_udp_socket();
  EXPECT_FALSE(socket->connect("127.0.0.1", "port"));
  EXPECT_NE(socket->last_error(), 0);
}

}  // namespace
