#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "card/card.h"
#include "card_fixture.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "support/fake_card.h"
#include "support/scripted_serial.h"
#include "zal/zal.h"

namespace {

using testsupport::FakeCard;

// A real socket's waits run on the system's clock, and nothing cancels them.
core::Waits system_waits() { return {platform::system_clock(), core::CancelToken::never()}; }

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

TEST(CardHostBus, DatagramsAreLittleEndianByteForByte) {
  EXPECT_EQ(card::ezal16_write_request(0x0100, 0x55AACAFE), bytes({0x01, 0xC2, 0x00, 0x01, 0xFE, 0xCA, 0xAA, 0x55}));
  EXPECT_EQ(card::ezal16_read_request(0x010C), bytes({0x01, 0x42, 0x0C, 0x01}));
  EXPECT_EQ(card::ezal16_read_request(0xFFFC), bytes({0x01, 0x42, 0xFC, 0xFF}));
}

TEST(CardHostBus, ReadSendsOneRequestAndDecodesTheReply) {
  FakeCard fake;
  auto bus = card::make_ezal16_bus(fake.socket());
  fake.set_register(0x010C, 0x55AACAFE);
  core::Result<uint32_t> value = bus->read32(0x010C);
  ASSERT_TRUE(value);
  EXPECT_EQ(*value, 0x55AACAFEu);
  ASSERT_EQ(fake.datagrams.size(), 1u);
  EXPECT_EQ(fake.datagrams[0], bytes({0x01, 0x42, 0x0C, 0x01}));

  fake.reply_size = 9;  // only the first four bytes count
  fake.set_register(0x0200, 0x80000001);
  value = bus->read32(0x0200);
  ASSERT_TRUE(value);
  EXPECT_EQ(*value, 0x80000001u);
}

TEST(CardHostBus, ADuplicatedReplyDoesNotAnswerTheNextRead) {
  FakeCard fake;
  auto bus = card::make_ezal16_bus(fake.socket());
  fake.duplicate_replies = true;
  fake.set_register(0x0200, 1);
  fake.set_register(0x0204, 2);
  fake.set_register(0x0208, 3);
  EXPECT_EQ(bus->read32(0x0200).value(), 1u);
  EXPECT_TRUE(bus->write32(0x0300, 9));
  EXPECT_EQ(bus->read32(0x0204).value(), 2u);
  EXPECT_EQ(bus->read32(0x0208).value(), 3u);
}

TEST(CardHostBus, WriteSendsOneDatagramAndWaitsForNothing) {
  FakeCard fake;
  auto bus = card::make_ezal16_bus(fake.socket());
  fake.silent = true;  // a write that waited would time out here
  EXPECT_TRUE(bus->write32(0x0100, 0x55AACAFE));
  ASSERT_EQ(fake.datagrams.size(), 1u);
  EXPECT_EQ(fake.datagrams[0], bytes({0x01, 0xC2, 0x00, 0x01, 0xFE, 0xCA, 0xAA, 0x55}));
  EXPECT_EQ(fake.reg(0x0100), 0x55AACAFEu);
}

TEST(CardHostBus, FailedReadsAreFailuresAfterAnEmptyLine) {
  struct Case {
    int reply_size;
    bool silent;
    int receive_error;
    core::FailureKind kind;
    std::string text;
  };
  const Case cases[] = {
      {3, false, 0, core::FailureKind::corrupt, "Short reply from card: 3 bytes"},
      {0, false, 0, core::FailureKind::corrupt, "Short reply from card: 0 bytes"},
      {4, true, 0, core::FailureKind::timeout, "Connection timed out"},
      {4, true, ECONNREFUSED, core::FailureKind::open, std::strerror(ECONNREFUSED)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FakeCard fake;
    auto bus = card::make_ezal16_bus(fake.socket());
    fake.reply_size = c.reply_size;
    fake.silent = c.silent;
    fake.receive_error = c.receive_error;
    core::Result<uint32_t> value = bus->read32(0x0100);
    ASSERT_FALSE(value);
    EXPECT_EQ(value.error().kind, c.kind);
    EXPECT_EQ(value.error().text, c.text);
    EXPECT_EQ(value.error().form, core::FailureForm::after_empty_line);
  }
}

TEST(CardHostBus, ABusWithoutAPathReadsZeroSoNoCardIsFound) {
  auto bus = card::make_null_bus();
  core::Result<uint32_t> value = bus->read32(0x0100);
  ASSERT_TRUE(value);
  EXPECT_EQ(*value, 0u);
  EXPECT_TRUE(bus->write32(0x0100, 7));

  unittest::NoticeLog notices;
  core::Result<card::OpenedCard> opened = card::open_card(*bus, {}, testsupport::test_waits(), notices);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().text, "No QX3 Hardware Found");
  EXPECT_EQ(opened.error().form, core::FailureForm::alone);
  EXPECT_EQ(opened.error().kind, core::FailureKind::open);
}

TEST(CardHostBus, TheHostPortBusMakesLongZalAccesses) {
  auto line = testsupport::open_scripted_line();
  ASSERT_TRUE(line);
  zal::ZalLink zal(*line);
  testsupport::scripted_line().expect(bytes({0xDF}), bytes({0x5A}));  // a port without CRC bytes
  ASSERT_TRUE(zal.sync());
  testsupport::scripted_line().forget_written();
  auto bus = card::make_oszal_bus(zal);

  testsupport::scripted_line().expect(bytes({0x46, 0x00, 0x01}), bytes({0xFE, 0xCA, 0xAA, 0x55}));
  core::Result<uint32_t> value = bus->read32(0x0100);
  ASSERT_TRUE(value);
  EXPECT_EQ(*value, 0x55AACAFEu);
  EXPECT_TRUE(bus->write32(0x1100, 0x80000005));
  EXPECT_EQ(testsupport::scripted_line().written(),
            bytes({0x46, 0x00, 0x01, 0x66, 0x00, 0x11, 0x05, 0x00, 0x00, 0x80}));
  EXPECT_TRUE(testsupport::scripted_line().mismatches().empty());
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
  auto socket = platform::make_udp_socket(system_waits());
  ASSERT_TRUE(socket->connect("127.0.0.1", peer.port()));
  EXPECT_EQ(socket->last_error(), 0);

  socket->send(bytes({0x01, 0x42, 0x0C, 0x01}));
  EXPECT_EQ(peer.echo(bytes({0xFE, 0xCA, 0xAA, 0x55, 0x00})), bytes({0x01, 0x42, 0x0C, 0x01}));
  EXPECT_EQ(socket->receive_packet(1000), bytes({0xFE, 0xCA, 0xAA, 0x55, 0x00}));
  EXPECT_EQ(socket->last_error(), 0);
}

TEST(UdpSocketPosix, DiscardingTakesWhatWaitsAndNothingThatComesLater) {
  LoopbackPeer peer;
  auto socket = platform::make_udp_socket(system_waits());
  ASSERT_TRUE(socket->connect("127.0.0.1", peer.port()));
  socket->discard_pending();  // nothing waiting: returns at once
  socket->send("a");
  EXPECT_EQ(peer.echo("stale"), "a");
  socket->send("b");
  EXPECT_EQ(peer.echo("stale too"), "b");
  // Both replies are queued by now: a loopback send returns once it is delivered.
  socket->discard_pending();
  EXPECT_EQ(socket->receive_packet(50), "");
  EXPECT_EQ(socket->last_error(), platform::UdpSocket::TIMED_OUT);
  socket->send("c");
  EXPECT_EQ(peer.echo("fresh"), "c");
  EXPECT_EQ(socket->receive_packet(1000), "fresh");
}

TEST(UdpSocketPosix, SilenceTimesOutAfterTheGivenWait) {
  LoopbackPeer peer;
  auto socket = platform::make_udp_socket(system_waits());
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
  auto socket = platform::make_udp_socket(system_waits());
  ASSERT_TRUE(socket->connect("127.0.0.1", port));
  socket->send(bytes({0x01, 0x42, 0x00, 0x01}));
  EXPECT_EQ(socket->receive_packet(1000), "");
  EXPECT_EQ(socket->last_error(), ECONNREFUSED);
  EXPECT_EQ(socket->last_error_text(), std::strerror(ECONNREFUSED));
}

TEST(UdpSocketPosix, ABadEndpointFailsToConnect) {
  auto socket = platform::make_udp_socket(system_waits());
  EXPECT_FALSE(socket->connect("127.0.0.1", "port"));
  EXPECT_NE(socket->last_error(), 0);
}

}  // namespace
