// Waits that are cut short, and sends that fail: both end the access at once, by the
// test clock, instead of running out a time limit.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "card_fixture.h"
#include "serial/serial.h"
#include "support/manual_clock.h"
#include "support/scripted_serial.h"
#include "texthost/texthost.h"
#include "zal/zal.h"

namespace {

using testsupport::FakeCard;
using testsupport::scripted_line;
using testsupport::test_clock;
using unittest::CardModule;

// What an access ended with, in the words of its failure.
template <class T>
core::Failure failure_of(const core::Result<T>& result) {
  return result ? core::fail(core::FailureKind::open, "(went on)") : result.error();
}

template <class T>
std::string ended_with(const core::Result<T>& result) {
  return failure_of(result).text;
}

struct WaitCase {
  const char* wait;
  std::function<std::string()> run;  // sets the scene, waits, and says how it ended
  std::string ended_with;
  int64_t within_ms;  // on the test clock: far below the wait's own limit
};

void run_cases(const std::vector<WaitCase>& cases) {
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.wait);
    testsupport::test_cancel().reset();
    const int64_t start = test_clock().now_ms();
    EXPECT_EQ(c.run(), c.ended_with);
    EXPECT_LE(test_clock().now_ms() - start, c.within_ms);
  }
}

// The script sets the token 30 ms in; the line's own limits are seconds.
TEST(CancelledWait, ASerialLineGivesUpWhenTheTokenIsSet) {
  const std::unique_ptr<serial::SerialLine> line = testsupport::open_scripted_line(5000);
  ASSERT_TRUE(line);
  run_cases({
      {"a receive",
       [&] {
         scripted_line().cancel_after(30);
         uint8_t c = 0;
         return line->receive_char(c) ? "a character" : "no character";
       },
       "no character", 30},
      {"discarding a line that never falls quiet",
       [&] {
         scripted_line().endless = true;
         scripted_line().cancel_after(30);
         return line->toss_chars() ? "quiet" : "not quiet";
       },
       "not quiet", 32},
  });
}

// The card script sets the token on the third read of the command register.
TEST_F(CardModule, AModuleWaitGivesUpWhenTheTokenIsSet) {
  int command_reads = 0;
  fake.on_access = [&](const testsupport::CardAccess& access) {
    if (!access.write && access.address == FakeCard::COMMAND && ++command_reads == 3) {
      testsupport::test_cancel().cancel();
    }
  };
  run_cases({
      {"polls for a command that never completes",
       [&] {
         command_reads = 0;
         fake.command_never_clears = true;
         return ended_with(module->write_ram(2, 0x22, 1));
       },
       "Interrupted", 0},
      {"polls and pauses for a start that never completes",
       [&] {
         command_reads = 0;
         fake.start_never_completes = true;
         fake.set_command_register(0);
         return ended_with(module->start_setup(0x04));
       },
       "Interrupted", 3},
      {"the reply to a register read",
       [&] {
         command_reads = 2;
         fake.silent = true;
         return ended_with(bus->read32(FakeCard::COMMAND));
       },
       "Interrupted", 0},
  });
}

struct SendCase {
  const char* access;
  std::function<core::Failure()> run;
  core::FailureKind kind;
  std::string text;  // as the faithful programs print it
  std::string detail;
};

// A send the system refuses fails at once and says why; the answer that cannot come
// is not waited for (a character time-out and a card reply wait 1000 ms here).
TEST(FailedSend, SurfacesAtOnceWithTheSystemsReason) {
  const std::string io_error = std::strerror(EIO);
  const std::string unreachable = std::strerror(ENETUNREACH);
  const std::string on_line = "COM1: " + io_error;
  const std::string on_card = "card 10.0.0.9 (UDP port 27181): " + unreachable;
  std::unique_ptr<serial::SerialLine> line;
  std::unique_ptr<zal::ZalLink> zal;
  FakeCard fake;
  const std::unique_ptr<card::HostBus> bus = card::make_ezal16_bus(fake.socket(), "card 10.0.0.9 (UDP port 27181)");
  auto broken_line = [&] {
    line = testsupport::open_scripted_line(1000);
    scripted_line().write_error = io_error;
  };
  const SendCase cases[] = {
      {"a serial line",
       [&] {
         broken_line();
         return failure_of(line->send_string("RW0820\r"));
       },
       core::FailureKind::open, "COM1 write failed", on_line},
      {"a word of the text protocol",
       [&] {
         broken_line();
         return failure_of(texthost::TextHost(*line).read_word(0x0820));
       },
       core::FailureKind::missed_answer, "Serial Timeout Error", on_line},
      {"a ZAL long",
       [&] {
         broken_line();
         zal = std::make_unique<zal::ZalLink>(*line);
         return failure_of(zal->read(core::Width::long_word, 0x0010));
       },
       core::FailureKind::timeout, "Serial Timeout Error Waiting for Long!", on_line},
      {"a ZAL write that awaits no answer",
       [&] {
         broken_line();
         zal = std::make_unique<zal::ZalLink>(*line);
         return failure_of(zal->write(core::Width::word, 0x0010, 1));
       },
       core::FailureKind::open, "COM1 write failed", on_line},
      {"a card register write",
       [&] {
         fake.send_error = ENETUNREACH;
         return failure_of(bus->write32(0x1100, 1));
       },
       core::FailureKind::open, unreachable, on_card},
      {"a card register read",
       [&] {
         fake.send_error = ENETUNREACH;
         return failure_of(bus->read32(0x0100));
       },
       core::FailureKind::open, unreachable, on_card},
  };
  for (const SendCase& c : cases) {
    SCOPED_TRACE(c.access);
    const int64_t start = test_clock().now_ms();
    const core::Failure failure = c.run();
    EXPECT_LT(test_clock().now_ms() - start, 1000) << "waited for an answer to what never went out";
    EXPECT_EQ(failure.kind, c.kind);
    EXPECT_EQ(failure.text, c.text);
    EXPECT_EQ(failure.detail, c.detail);
  }
  EXPECT_TRUE(fake.datagrams.empty());
}

}  // namespace
