#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/access.h"
#include "core/result.h"
#include "core/text.h"
#include "serial/serial.h"
#include "support/manual_clock.h"
#include "support/scripted_serial.h"
#include "texthost/texthost.h"

namespace {

using core::FailureKind;
using core::Memory;
using core::Width;
using testsupport::scripted_line;

template <class T>
core::Failure failure_of(const core::Result<T>& result) {
  EXPECT_FALSE(result.ok());
  return result.ok() ? core::Failure{} : result.error();
}

class TextHost : public testing::Test {
 protected:
  void SetUp() override { open(); }
  void TearDown() override { EXPECT_TRUE(scripted_line().mismatches().empty()); }

  void open() {
    line_ = testsupport::open_scripted_line();
    ASSERT_TRUE(line_);
    host_ = std::make_unique<texthost::TextHost>(*line_);
    backend_ = texthost::make_texthost_backend(*host_);
  }

  std::unique_ptr<serial::SerialLine> line_;
  std::unique_ptr<texthost::TextHost> host_;
  std::unique_ptr<core::Backend> backend_;
};

TEST_F(TextHost, ReadRamWord) {
  scripted_line().expect("RW0820\r", "00ff\r");
  EXPECT_EQ(host_->read_word(0x0820).value(), 255);
  EXPECT_EQ(scripted_line().written(), "RW0820\r");
}

TEST_F(TextHost, ReadEepromWordUsesItsOwnLetters) {
  scripted_line().expect("Re007E\r", "BEEF\r");
  EXPECT_EQ(host_->read_eeprom_word(0x007E).value(), 0xBEEF);
}

TEST_F(TextHost, WritesSendAddressThenDataAndWaitForOneCharacter) {
  scripted_line().expect("WW0A0212AB\r", "!");
  EXPECT_TRUE(host_->write_word(0x0A02, 0x12AB));
  scripted_line().expect("We007E0001\r", "\r");
  EXPECT_TRUE(host_->write_eeprom_word(0x007E, 1));
  EXPECT_EQ(scripted_line().written(), "WW0A0212AB\rWe007E0001\r");
}

TEST_F(TextHost, UnacknowledgedWriteIsAMissedAnswer) {
  const core::Failure missed = failure_of(host_->write_word(0x0A02, 0x12AB));
  EXPECT_EQ(missed.kind, FailureKind::missed_answer);
  EXPECT_EQ(core::faithful_lines(missed), (std::vector<std::string>{"", "Serial Timeout Error"}));
}

// Only the closing character decides; the value is what the digits gave.
TEST_F(TextHost, UnclosedReplyIsAMissedAnswerCarryingTheValueAsRead) {
  scripted_line().expect("RW0820\r", "00f");
  const core::Failure short_reply = failure_of(host_->read_word(0x0820));
  EXPECT_EQ(short_reply.kind, FailureKind::missed_answer);
  EXPECT_EQ(short_reply.value, 0u);

  scripted_line().expect("RW0820\r", "1234");
  const core::Failure unclosed = failure_of(host_->read_word(0x0820));
  EXPECT_EQ(unclosed.kind, FailureKind::missed_answer);
  EXPECT_EQ(unclosed.value, 0x1234u);
}

// The fixture's silence limit is 50 ms: a reply 80 ms late arrives while the
// terminator is waited for, and must neither pass for a value nor shift the next.
TEST_F(TextHost, ALateReplyFailsAndItsLeftoversDoNotReachTheNextExchange) {
  scripted_line().expect("RW0820\r", "04B0\r", 80);
  const core::Failure late = failure_of(host_->read_word(0x0820));
  EXPECT_EQ(late.kind, FailureKind::missed_answer);
  EXPECT_EQ(late.value, 0u);

  scripted_line().expect("RW0822\r", "1234\r");
  EXPECT_EQ(host_->read_word(0x0822).value(), 0x1234);
  scripted_line().expect("WW08220001\r", "\r");
  EXPECT_TRUE(host_->write_word(0x0822, 1));
}

TEST_F(TextHost, AReplyCutByASilenceFailsEvenWhenItsRestArrivesLater) {
  scripted_line().expect("RW0820\r", "04");
  scripted_line().arrive("B0\r", 80);
  EXPECT_EQ(failure_of(host_->read_word(0x0820)).kind, FailureKind::missed_answer);
  scripted_line().expect("Re007E\r", "5A5A\r");
  EXPECT_EQ(host_->read_eeprom_word(0x007E).value(), 0x5A5A);
}

TEST_F(TextHost, LeftoversOfAFailedWriteAreDiscardedToo) {
  scripted_line().expect("WW08200001\r", "\r", 120);
  EXPECT_EQ(failure_of(host_->write_word(0x0820, 1)).kind, FailureKind::missed_answer);
  scripted_line().arrive("junk\r", 0);
  scripted_line().expect("RW0820\r", "0001\r");
  EXPECT_EQ(host_->read_word(0x0820).value(), 1);
}

// What follows a good reply answers nothing asked later: a stray character or a
// whole second reply is gone before the next command goes out, without a wait.
TEST_F(TextHost, WhatFollowsAGoodReplyIsDiscardedBeforeTheNextCommand) {
  for (const char* stray : {"7", "1234\r"}) {
    SCOPED_TRACE(stray);
    scripted_line().expect("RW0820\r", std::string("04B0\r") + stray);
    EXPECT_EQ(host_->read_word(0x0820).value(), 0x04B0);
    const int64_t before = testsupport::test_clock().now_ms();
    scripted_line().expect("RW0822\r", "0007\r");
    EXPECT_EQ(host_->read_word(0x0822).value(), 7);
    EXPECT_EQ(testsupport::test_clock().now_ms(), before);
  }
}

// Anything but four hex digits and CR is no value: the value as read goes with
// the failure, and the leftovers do not reach the next exchange.
TEST_F(TextHost, AReplyThatIsNotFourDigitsAndCrIsAMissedAnswer) {
  struct Case {
    const char* reply;
    uint64_t value_as_read;
  };
  for (const Case& c : {Case{"ZZZZ\r", 0}, Case{"12G4\r", 0x124}, Case{"12345\r", 0x1234}, Case{"04B0\n", 0x04B0}}) {
    SCOPED_TRACE(c.reply);
    scripted_line().expect("RW0820\r", c.reply);
    const core::Failure bad = failure_of(host_->read_word(0x0820));
    EXPECT_EQ(bad.kind, FailureKind::missed_answer);
    EXPECT_EQ(bad.value, c.value_as_read);
    scripted_line().expect("RW0822\r", "0001\r");
    EXPECT_EQ(host_->read_word(0x0822).value(), 1);
  }
  EXPECT_TRUE(texthost::is_word_reply("00ff", '\r'));
  EXPECT_FALSE(texthost::is_word_reply("00f", '\r'));
  EXPECT_FALSE(texthost::is_word_reply("00 f", '\r'));
}

TEST_F(TextHost, InquireId) {
  scripted_line().expect("II\r", "ZR90\r");
  EXPECT_EQ(host_->inquire_id(), "ZR90");
  scripted_line().expect("II\r", "ZR90");
  EXPECT_EQ(host_->inquire_id(), "ZR90");
}

TEST_F(TextHost, SyncJudgesOnlyTheSecondAnswer) {
  scripted_line().expect("x\r", "hello\r\n>");
  scripted_line().expect("x\r", "?\r\n>");
  scripted_line().expect("II\r", "ZR90\r");
  EXPECT_TRUE(host_->sync());
  EXPECT_EQ(scripted_line().written(), "x\rx\rII\r");
  EXPECT_GE(scripted_line().rts_raised(), 1);
}

TEST_F(TextHost, SyncRejectsAnEchoingLine) {
  scripted_line().expect("x\r", "x\r");
  scripted_line().expect("x\r", "x\r");
  EXPECT_FALSE(host_->sync());
  EXPECT_EQ(scripted_line().written(), "x\rx\r");
}

TEST_F(TextHost, SyncFailsOnSilenceAndOnAShortIdentity) {
  EXPECT_FALSE(host_->sync());
  EXPECT_EQ(scripted_line().written(), "x\r");

  open();
  scripted_line().expect("x\r", ">");
  scripted_line().expect("x\r", "?");
  scripted_line().expect("II\r", "ZR9");
  EXPECT_FALSE(host_->sync());
}

TEST_F(TextHost, SyncFailsOnALineThatNeverFallsQuietEvenWhenItTalksInNaks) {
  scripted_line().endless = true;
  scripted_line().endless_byte = '?';
  const int64_t start = testsupport::test_clock().now_ms();
  EXPECT_FALSE(host_->sync());
  EXPECT_LT(testsupport::test_clock().now_ms() - start, 30000);  // no hang
}

// ---- the backend: RAM words at twice the address above 0x800 ----

TEST_F(TextHost, BackendWordAddressesAreTwiceThePlus0x800AndWrap) {
  scripted_line().expect("RW0820\r", "04B0\r");
  scripted_line().expect("RW0000\r", "0001\r");
  scripted_line().expect("Re007E\r", "5A5A\r");
  EXPECT_EQ(backend_->read(0, {Memory::ram, Width::word, 0x10}).value(), 0x04B0u);
  EXPECT_EQ(backend_->read(4, {Memory::ram, Width::word, 0xFC00}).value(), 0x0001u);
  EXPECT_EQ(backend_->read(0, {Memory::eeprom, Width::word, 0x7E}).value(), 0x5A5Au);
  scripted_line().expect("We007E1234\r", "\r");
  EXPECT_TRUE(backend_->write(0, {Memory::eeprom, Width::word, 0x7E}, 0x1234));
}

TEST_F(TextHost, BackendComposesLongsAndDoublesLowWordFirst) {
  scripted_line().expect("RW0820\r", "1234\r");
  scripted_line().expect("RW0822\r", "ABCD\r");
  EXPECT_EQ(backend_->read(0, {Memory::ram, Width::long_word, 0x10}).value(), 0xABCD1234u);

  uint16_t address = 0x18FC;  // 2 * 0x87E + 0x800
  for (const char* word : {"DEF0", "9ABC", "5678", "1234"}) {
    scripted_line().expect("RW" + core::HEXSTRING(address, 4) + "\r", std::string(word) + "\r");
    address = static_cast<uint16_t>(address + 2);
  }
  EXPECT_EQ(backend_->read(0, {Memory::ram, Width::double_word, 0x87E}).value(), 0x123456789ABCDEF0u);

  for (const char* request : {"WW08207788\r", "WW08225566\r", "WW08243344\r", "WW08261122\r"}) {
    scripted_line().expect(request, "\r");
  }
  scripted_line().forget_written();
  EXPECT_TRUE(backend_->write(0, {Memory::ram, Width::double_word, 0x10}, 0x1122334455667788));
  EXPECT_EQ(scripted_line().written(), "WW08207788\rWW08225566\rWW08243344\rWW08261122\r");
}

// A value with one word missing is not a value: the failure must survive the words
// that answered after it, and every word is still asked for.
TEST_F(TextHost, BackendFailsAComposedValueWhenAnyWordIsMissed) {
  scripted_line().expect("RW0820\r", "");
  scripted_line().expect("RW0822\r", "ABCD\r");
  const core::Failure read = failure_of(backend_->read(0, {Memory::ram, Width::long_word, 0x10}));
  EXPECT_EQ(read.kind, FailureKind::missed_answer);
  EXPECT_EQ(read.value, 0xABCD0000u);

  scripted_line().expect("WW08201234\r", "");
  scripted_line().expect("WW08220000\r", "\r");
  EXPECT_EQ(failure_of(backend_->write(0, {Memory::ram, Width::long_word, 0x10}, 0x1234)).kind,
            FailureKind::missed_answer);

  scripted_line().expect("WW08205678\r", "\r");
  scripted_line().expect("WW08220000\r", "\r");
  EXPECT_TRUE(backend_->write(0, {Memory::ram, Width::long_word, 0x10}, 0x5678)) << "a good write after a failed one";
}

TEST_F(TextHost, BackendRefusesAccessesWithoutACommandBeforeSending) {
  const std::vector<std::pair<std::string, core::Location>> reads = {
      {"read a byte", {Memory::ram, Width::byte, 0}},
      {"read an EEPROM byte", {Memory::eeprom, Width::byte, 0}},
      {"read an EEPROM long", {Memory::eeprom, Width::long_word, 0}},
  };
  for (const auto& [what, location] : reads) {
    const core::Failure refused = failure_of(backend_->read(0, location));
    EXPECT_EQ(refused.kind, FailureKind::unsupported);
    EXPECT_EQ(core::faithful_lines(refused), (std::vector<std::string>{"", "The Hex protocol cannot " + what}));
  }
  const std::vector<std::pair<std::string, core::Location>> writes = {
      {"write a byte", {Memory::ram, Width::byte, 0}},
      {"write an EEPROM byte", {Memory::eeprom, Width::byte, 0}},
      {"write an EEPROM long", {Memory::eeprom, Width::long_word, 0}},
  };
  for (const auto& [what, location] : writes) {
    const core::Failure refused = failure_of(backend_->write(0, location, 1));
    EXPECT_EQ(refused.kind, FailureKind::unsupported);
    EXPECT_EQ(refused.text, "The Hex protocol cannot " + what);
  }
  EXPECT_EQ(scripted_line().written(), "");
}

}  // namespace
