// The receive store and per-silence time-outs over a scripted device, and the real
// POSIX device against a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/clock.h"
#include "platform/serial_port.h"
#include "support/manual_clock.h"
#include "support/scripted_serial.h"

namespace {

using platform::SerialError;
using platform::SerialPort;
using testsupport::scripted_line;

// The scripted device's waits run on the test clock.
int64_t elapsed_ms(int64_t since) { return testsupport::test_clock().now_ms() - since; }
int64_t now() { return testsupport::test_clock().now_ms(); }

// The real device's waits run on the system's clock, and nothing cancels them.
core::Waits system_waits() { return {platform::system_clock(), core::CancelToken::never()}; }
using SystemClock = std::chrono::steady_clock;
long real_elapsed_ms(SystemClock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(SystemClock::now() - since).count());
}

class ReceiveStore : public testing::Test {
 protected:
  void SetUp() override {
    testsupport::reset_scripted_line();
    port_ = std::make_unique<SerialPort>(testsupport::make_scripted_device(testsupport::test_waits()));
    ASSERT_TRUE(port_->CONNECT("COM1"));
  }
  std::unique_ptr<SerialPort> port_;
};

TEST_F(ReceiveStore, BurstServesSurplusWithoutAnotherRead) {
  scripted_line().arrive("ABCDE");
  EXPECT_EQ(port_->RECVBUFFERSTR(4, 50), "ABCD");
  EXPECT_EQ(scripted_line().reads(), 1);
  const auto start = now();
  EXPECT_EQ(port_->RECVBYTE(1000), 'E');
  EXPECT_EQ(port_->last_error(), SerialError::none);
  EXPECT_LT(elapsed_ms(start), 500);  // far below the 1000 ms it would wait
  EXPECT_EQ(scripted_line().reads(), 1);
}

TEST_F(ReceiveStore, SilenceDiscardsPartialReplyAndNextReceiveWaitsAfresh) {
  scripted_line().arrive("ABC");
  auto start = now();
  EXPECT_EQ(port_->RECVBUFFERSTR(4, 50), "");
  EXPECT_EQ(port_->last_error(), SerialError::timeout);
  EXPECT_GE(elapsed_ms(start), 45);

  start = now();
  EXPECT_EQ(port_->RECVBYTE(50), 0);
  EXPECT_EQ(port_->last_error(), SerialError::timeout);
  EXPECT_GE(elapsed_ms(start), 45);
}

TEST_F(ReceiveStore, ZeroCountWaitsForNothing) {
  const auto start = now();
  EXPECT_EQ(port_->RECVBUFFERSTR(0, 1000), "");
  EXPECT_EQ(port_->last_error(), SerialError::none);
  EXPECT_LT(elapsed_ms(start), 500);  // far below the 1000 ms it would wait
}

TEST_F(ReceiveStore, TimeOutBoundsEachSilenceNotTheWholeReply) {
  for (int i = 0; i < 5; ++i) scripted_line().arrive(std::string(1, static_cast<char>('1' + i)), 30 * (i + 1));
  EXPECT_EQ(port_->RECVBUFFERSTR(5, 50), "12345");
  EXPECT_EQ(port_->last_error(), SerialError::none);
}

TEST_F(ReceiveStore, PendingCountsStoreAndOsAndPurgeEmptiesBoth) {
  scripted_line().arrive("ABCDEF");
  EXPECT_EQ(port_->RECVBYTE(50), 'A');
  scripted_line().arrive("GH");
  EXPECT_EQ(port_->pending(), 7u);
  port_->purge();
  EXPECT_EQ(port_->pending(), 0u);
  EXPECT_EQ(port_->RECVBYTE(20), 0);
  EXPECT_EQ(port_->last_error(), SerialError::timeout);
}

TEST(SerialPortOpen, FailedConnectLeavesPortUnusable) {
  testsupport::reset_scripted_line();
  scripted_line().open_fails = true;
  SerialPort port(testsupport::make_scripted_device(testsupport::test_waits()));
  EXPECT_FALSE(port.CONNECT("COM2"));
  EXPECT_FALSE(port.CONFIG(115200));
  EXPECT_EQ(port.pending(), 0u);
  port.SENDSTRING("x");
  EXPECT_EQ(scripted_line().written(), "");
}

// ---- the real device on a pseudo-terminal ----

class PtyLine : public testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_path_ = ptsname(master_);
    // Held open so that the line survives the device closing, as a simulator's does.
    keeper_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(keeper_, 0);
  }
  void TearDown() override {
    if (keeper_ >= 0) close(keeper_);
    if (master_ >= 0) close(master_);
  }

  std::string read_master(std::size_t n, int timeout_ms = 1000) {
    std::string got;
    const auto start = SystemClock::now();
    while (got.size() < n && real_elapsed_ms(start) < timeout_ms) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char buffer[64];
      const ssize_t r = read(master_, buffer, sizeof buffer);
      if (r > 0) got.append(buffer, static_cast<std::size_t>(r));
    }
    return got;
  }

  int master_ = -1;
  int keeper_ = -1;
  std::string slave_path_;
};

TEST_F(PtyLine, OpensByComNameAndTakesOddRates) {
  auto device = platform::make_serial_device(system_waits());
  ASSERT_TRUE(device->open("com7", slave_path_)) << device->last_error_text();
  EXPECT_TRUE(device->configure(76800)) << device->last_error_text();
  EXPECT_TRUE(device->configure(39062)) << device->last_error_text();
  EXPECT_TRUE(device->configure(2500000)) << device->last_error_text();
  EXPECT_TRUE(device->set_rts());
}

TEST_F(PtyLine, SecondOpenOfHeldLineFails) {
  auto first = platform::make_serial_device(system_waits());
  ASSERT_TRUE(first->open("COM7", slave_path_));
  auto second = platform::make_serial_device(system_waits());
  EXPECT_FALSE(second->open("COM7", slave_path_));
  // Another opener that asks for the lock is refused as well.
  const int other = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (other >= 0) {
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
  }
  first.reset();
  auto third = platform::make_serial_device(system_waits());
  EXPECT_TRUE(third->open("COM7", slave_path_)) << "the line must be free again once its holder closed it";
}

// A port may be a terminal someone goes on using: it is made raw while open only.
TEST_F(PtyLine, ATerminalGetsItsSettingsBackWhenClosed) {
  termios before{};
  ASSERT_EQ(tcgetattr(keeper_, &before), 0);
  ASSERT_NE(before.c_lflag & ICANON, 0u);
  {
    auto device = platform::make_serial_device(system_waits());
    ASSERT_TRUE(device->open("COM7", slave_path_));
    ASSERT_TRUE(device->configure(9600));
    termios during{};
    ASSERT_EQ(tcgetattr(keeper_, &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
  }
  termios after{};
  ASSERT_EQ(tcgetattr(keeper_, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
}

TEST_F(PtyLine, UnknownPortFails) {
  auto device = platform::make_serial_device(system_waits());
  EXPECT_FALSE(device->open("COM250", ""));
  EXPECT_FALSE(device->open("LPT1", ""));
  EXPECT_FALSE(device->open("COM", ""));
}

TEST_F(PtyLine, BytesTravelBothWaysThroughThePort) {
  SerialPort port(platform::make_serial_device(system_waits()));
  ASSERT_TRUE(port.CONNECT("COM7", slave_path_));
  ASSERT_TRUE(port.CONFIG(76800));

  const std::string all_values = [] {
    std::string s;
    for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
    return s;
  }();
  port.SENDSTRING(all_values);
  EXPECT_EQ(port.last_error(), SerialError::none);
  EXPECT_EQ(read_master(all_values.size()), all_values);

  ASSERT_EQ(write(master_, all_values.data(), all_values.size()), 256);
  EXPECT_EQ(port.RECVBUFFERSTR(256, 1000), all_values);

  const auto start = SystemClock::now();
  EXPECT_EQ(port.RECVBYTE(100), 0);
  EXPECT_EQ(port.last_error(), SerialError::timeout);
  EXPECT_GE(real_elapsed_ms(start), 95);
}

TEST_F(PtyLine, WaitBlocksUntilTheFirstCharacter) {
  auto device = platform::make_serial_device(system_waits());
  ASSERT_TRUE(device->open("COM7", slave_path_));
  EXPECT_EQ(device->bytes_waiting(), 0u);
  EXPECT_FALSE(device->wait_readable(30));
  ASSERT_EQ(write(master_, "Z", 1), 1);
  EXPECT_TRUE(device->wait_readable(1000));
  EXPECT_EQ(device->bytes_waiting(), 1u);
  device->purge();
  EXPECT_EQ(device->bytes_waiting(), 0u);
}

}  // namespace
