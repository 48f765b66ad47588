#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/access.h"
#include "core/result.h"
#include "serial/serial.h"
#include "support/manual_clock.h"
#include "support/scripted_serial.h"
#include "zal/zal.h"

namespace {

using core::FailureKind;
using core::Location;
using core::Memory;
using core::Width;
using testsupport::scripted_line;
using Lines = std::vector<std::string>;

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

template <class T>
core::Failure failure_of(const core::Result<T>& result) {
  EXPECT_FALSE(result.ok());
  return result.ok() ? core::Failure{} : result.error();
}

Lines lines_of(const core::Failure& failure) { return core::faithful_lines(failure); }

// ---- CRC-8 and frames: plain functions over bytes ----

TEST(Crc8, KnownAnswers) {
  EXPECT_EQ(zal::crc8("123456789"), 0xA1);
  EXPECT_EQ(zal::crc8(bytes({0x44, 0x34, 0x12})), 0x98);
  EXPECT_EQ(zal::crc8(""), 0);
  EXPECT_EQ(zal::GETCRC8(0), 0x00);
  EXPECT_EQ(zal::GETCRC8(1), 0x5E);
  EXPECT_EQ(zal::GETCRC8(128), 0x8C);
  EXPECT_EQ(zal::GETCRC8(255), 0x35);
}

TEST(ZalFrames, LayoutsAreLittleEndian) {
  EXPECT_EQ(zal::read_frame(1, 0x1234), bytes({0x44, 0x34, 0x12}));
  EXPECT_EQ(zal::read_frame(2, 0x1234), bytes({0x45, 0x34, 0x12}));
  EXPECT_EQ(zal::read_frame(4, 0x0100), bytes({0x46, 0x00, 0x01}));
  EXPECT_EQ(zal::read_frame(8, 0xFFFF), bytes({0x47, 0xFF, 0xFF}));
  EXPECT_EQ(zal::write_frame(1, 0x0002, 0x1FF), bytes({0x64, 0x02, 0x00, 0xFF}));
  EXPECT_EQ(zal::write_frame(2, 0x1234, 0xBEEF), bytes({0x65, 0x34, 0x12, 0xEF, 0xBE}));
  EXPECT_EQ(zal::write_frame(4, 0x0010, 0x12345678), bytes({0x66, 0x10, 0x00, 0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(zal::write_frame(8, 0x0010, 0x8877665544332211ULL),
            bytes({0x67, 0x10, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
}

// ---- operations over the scripted line ----

class Zal : public testing::Test {
 protected:
  void SetUp() override { open(50); }
  void TearDown() override { EXPECT_TRUE(scripted_line().mismatches().empty()); }

  void open(int char_timeout_ms) {
    line_ = testsupport::open_scripted_line(char_timeout_ms);
    ASSERT_TRUE(line_);
    zal_ = std::make_unique<zal::ZalLink>(*line_);
  }

  // Brings the link up against a drive that speaks with or without CRC bytes; what
  // the synchronisation sent is forgotten.
  void synchronise(bool crc) {
    if (crc) {
      scripted_line().expect(bytes({0xDF}), "");
      scripted_line().expect(bytes({0xDF, 0x16}), bytes({0x5A, 0xA5}));
      scripted_line().expect(bytes({0xE1, 0x00, 0xB1}), bytes({0x00}));
    } else {
      scripted_line().expect(bytes({0xDF}), bytes({0x5A}));
    }
    ASSERT_TRUE(zal_->sync());
    ASSERT_EQ(zal_->crc_enabled(), crc);
    scripted_line().forget_written();
  }

  std::unique_ptr<serial::SerialLine> line_;
  std::unique_ptr<zal::ZalLink> zal_;
};

TEST_F(Zal, WordWriteWithoutCrcReadsNothing) {
  synchronise(false);
  const int reads = scripted_line().reads();
  EXPECT_TRUE(zal_->write(Width::word, 0x1234, 0xBEEF));
  EXPECT_EQ(scripted_line().written(), bytes({0x65, 0x34, 0x12, 0xEF, 0xBE}));
  EXPECT_EQ(scripted_line().reads(), reads);
}

TEST_F(Zal, WritesInCrcModeWaitForAZeroAcknowledge) {
  synchronise(true);
  scripted_line().expect(bytes({0x65, 0x34, 0x12, 0xEF, 0xBE, 0xC0}), bytes({0x00}));
  EXPECT_TRUE(zal_->write(Width::word, 0x1234, 0xBEEF));
  EXPECT_EQ(scripted_line().unread(), 0u);

  scripted_line().expect(bytes({0x65, 0x34, 0x12, 0xEF, 0xBE, 0xC0}), bytes({0x01}));
  const core::Failure wrong = failure_of(zal_->write(Width::word, 0x1234, 0xBEEF));
  EXPECT_EQ(wrong.kind, FailureKind::corrupt);
  EXPECT_EQ(lines_of(wrong), (Lines{"", "CRC Error!"}));

  const core::Failure missing = failure_of(zal_->write(Width::word, 0x1234, 0xBEEF));
  EXPECT_EQ(missing.kind, FailureKind::timeout);
  EXPECT_EQ(lines_of(missing), (Lines{"Time out waiting for Character"}));
}

TEST_F(Zal, ReadsTakeReplyLeastSignificantFirst) {
  synchronise(false);
  scripted_line().expect(bytes({0x46, 0x00, 0x01}), bytes({0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(zal_->read(Width::long_word, 0x0100).value(), 0x12345678u);
  scripted_line().expect(bytes({0x47, 0x00, 0x01}), bytes({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(zal_->read(Width::double_word, 0x0100).value(), 0xFFFFFFFFFFFFFFFEu);
  scripted_line().expect(bytes({0x45, 0x34, 0x12}), bytes({0xEF, 0xBE}));
  EXPECT_EQ(zal_->read(Width::word, 0x1234).value(), 0xBEEFu);
  scripted_line().expect(bytes({0x44, 0x34, 0x12}), bytes({0x81}));
  EXPECT_EQ(zal_->read(Width::byte, 0x1234).value(), 0x81u);
}

// Without CRC bytes nothing marks where a reply ends: a stray byte after one is
// discarded before the next command, or it would shift every later reply.
TEST_F(Zal, WhatFollowsAReplyIsDiscardedBeforeTheNextCommand) {
  synchronise(false);
  scripted_line().expect(bytes({0x45, 0x09, 0x04}), bytes({0xB0, 0x04, 0x37}));
  EXPECT_EQ(zal_->read(Width::word, 0x0409).value(), 0x04B0u);
  scripted_line().expect(bytes({0x45, 0x0A, 0x04}), bytes({0x01, 0x00}));
  EXPECT_EQ(zal_->read(Width::word, 0x040A).value(), 1u);
  scripted_line().arrive(bytes({0x55, 0x55}), 0);
  scripted_line().expect(bytes({0xDF}), bytes({0x5A}));
  EXPECT_EQ(zal_->local_read(zal::ZALREADCOOKIE_BYTE).value(), 0x5A);
}

TEST_F(Zal, CrcModeReadsCheckTheReplyCrc) {
  synchronise(true);
  scripted_line().expect(bytes({0x45, 0x34, 0x12, 0x33}), bytes({0xEF, 0xBE, 0x40}));
  EXPECT_EQ(zal_->read(Width::word, 0x1234).value(), 0xBEEFu);

  scripted_line().expect(bytes({0x45, 0x34, 0x12, 0x33}), bytes({0xEF, 0xBE, 0x41}));
  const core::Failure wrong = failure_of(zal_->read(Width::word, 0x1234));
  EXPECT_EQ(wrong.kind, FailureKind::corrupt);
  EXPECT_EQ(lines_of(wrong), (Lines{"", "CRC Error!"}));

  scripted_line().expect(bytes({0x45, 0x34, 0x12, 0x33}), bytes({0xEF, 0xBE}));
  EXPECT_EQ(lines_of(failure_of(zal_->read(Width::word, 0x1234))), (Lines{"Time out waiting for Character"}));
}

// A silent drive: only a byte read goes on, with the value as far as it came.
TEST_F(Zal, ByteReadTimeOutIsAMissedAnswer) {
  synchronise(false);
  const core::Failure missed = failure_of(zal_->read(Width::byte, 0x0010));
  EXPECT_EQ(missed.kind, FailureKind::missed_answer);
  EXPECT_EQ(missed.value, 0u);
  EXPECT_EQ(lines_of(missed), (Lines{"", "Serial Timeout Error"}));

  scripted_line().expect(bytes({0x44, 0x10, 0x00}), bytes({0x07}));
  EXPECT_EQ(zal_->read(Width::byte, 0x0010).value(), 7u) << "the next answer owes nothing to the missed one";
}

TEST_F(Zal, ByteReadTimeOutInCrcModeEndsOnTheMissingCrc) {
  synchronise(true);
  const core::Failure failure = failure_of(zal_->read(Width::byte, 0x0010));
  EXPECT_EQ(failure.kind, FailureKind::timeout);
  EXPECT_EQ(lines_of(failure), (Lines{"Time out waiting for Character"}));
}

TEST_F(Zal, WiderReadsAreAbandonedOnSilence) {
  synchronise(false);
  const core::Failure word = failure_of(zal_->read(Width::word, 0x0010));
  EXPECT_EQ(word.kind, FailureKind::timeout);
  EXPECT_EQ(lines_of(word), (Lines{"Time out waiting for Character"}));
  const core::Failure long_word = failure_of(zal_->read(Width::long_word, 0x0010));
  EXPECT_EQ(long_word.kind, FailureKind::timeout);
  EXPECT_EQ(lines_of(long_word), (Lines{"", "Serial Timeout Error Waiting for Long!"}));
  EXPECT_EQ(lines_of(failure_of(zal_->read(Width::double_word, 0x0010))),
            (Lines{"", "Serial Timeout Error Waiting Double!"}));
}

TEST_F(Zal, LocalReadMissesOnSilenceAndReadsTheAnswer) {
  synchronise(false);
  EXPECT_EQ(failure_of(zal_->local_read(0xDF)).kind, FailureKind::missed_answer);
  scripted_line().expect(bytes({0xDF}), bytes({0x5A}));
  EXPECT_EQ(zal_->local_read(0xDF).value(), 0x5A);
  EXPECT_TRUE(zal_->local_write(zal::ZALSTATUS_BYTE, 0));
  EXPECT_EQ(scripted_line().written(), bytes({0xDF, 0xDF, 0xE1, 0x00}));
}

// ---- EEPROM: the non-volatile flag around each access ----

TEST_F(Zal, EepromWriteIsConfirmedByTheCookie) {
  synchronise(false);
  scripted_line().expect(bytes({0xEC, 0x01, 0x65, 0x7E, 0x00, 0x34, 0x12, 0xDF}), bytes({0x5A}));
  EXPECT_TRUE(zal_->write_eeprom(Width::word, 0x007E, 0x1234));
  EXPECT_EQ(scripted_line().written(), bytes({0xEC, 0x01, 0x65, 0x7E, 0x00, 0x34, 0x12, 0xDF, 0xEC, 0x00}));
}

TEST_F(Zal, EepromReadWrapsTheReadInTheFlag) {
  synchronise(false);
  scripted_line().expect(bytes({0xEC, 0x01, 0x46, 0x10, 0x00}), bytes({0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(zal_->read_eeprom(Width::long_word, 0x0010).value(), 0x04030201u);
  EXPECT_EQ(scripted_line().written(), bytes({0xEC, 0x01, 0x46, 0x10, 0x00, 0xEC, 0x00}));
}

TEST_F(Zal, MissedEepromByteStillClearsTheFlag) {
  synchronise(false);
  EXPECT_EQ(failure_of(zal_->read_eeprom(Width::byte, 0x0010)).kind, FailureKind::missed_answer);
  EXPECT_EQ(scripted_line().written(), bytes({0xEC, 0x01, 0x44, 0x10, 0x00, 0xEC, 0x00}));
}

TEST_F(Zal, AbandonedEepromAccessLeavesTheFlagSet) {
  synchronise(false);
  scripted_line().expect(bytes({0xEC, 0x01, 0x66, 0x10, 0x00, 0x01, 0x00, 0x00, 0x00, 0xDF}), bytes({0x00}));
  const core::Failure unconfirmed = failure_of(zal_->write_eeprom(Width::long_word, 0x0010, 1));
  EXPECT_EQ(lines_of(unconfirmed), (Lines{"", "EEPROM Long Write Sync error"}));
  EXPECT_EQ(lines_of(failure_of(zal_->write_eeprom(Width::byte, 0x0010, 1))),
            (Lines{"", "EEPROM Byte Write Sync error"}));
  EXPECT_EQ(lines_of(failure_of(zal_->read_eeprom(Width::word, 0x0010))), (Lines{"Time out waiting for Character"}));
  EXPECT_EQ(scripted_line().written(), bytes({0xEC, 0x01, 0x66, 0x10, 0x00, 0x01, 0x00, 0x00, 0x00, 0xDF,  //
                                              0xEC, 0x01, 0x64, 0x10, 0x00, 0x01, 0xDF,                    //
                                              0xEC, 0x01, 0x45, 0x10, 0x00}));
}

TEST_F(Zal, BackendRoutesByMemoryAndIgnoresTheChannel) {
  synchronise(false);
  const std::unique_ptr<core::Backend> backend = zal::make_zal_backend(*zal_);
  scripted_line().expect(bytes({0x46, 0x00, 0x01}), bytes({0x01, 0x00, 0x00, 0x80}));
  EXPECT_EQ(backend->read(3, {Memory::ram, Width::long_word, 0x0100}).value(), 0x80000001u);
  scripted_line().expect(bytes({0xEC, 0x01, 0x64, 0x10, 0x00, 0x07, 0xDF}), bytes({0x5A}));
  EXPECT_TRUE(backend->write(5, {Memory::eeprom, Width::byte, 0x0010}, 7));
  EXPECT_EQ(scripted_line().written(), bytes({0x46, 0x00, 0x01, 0xEC, 0x01, 0x64, 0x10, 0x00, 0x07, 0xDF, 0xEC, 0x00}));
}

TEST_F(Zal, EepromBatchSetsAndClearsTheFlagOnce) {
  synchronise(true);
  const std::unique_ptr<core::Backend> backend = zal::make_zal_backend(*zal_);
  scripted_line().expect(bytes({0xEC, 0x01, 0x66}), bytes({0x00}));
  scripted_line().expect(bytes({0x45, 0x10, 0x00, 0xE8}), bytes({0x34, 0x12, zal::crc8(bytes({0x34, 0x12}))}));
  scripted_line().expect(bytes({0x46, 0x20, 0x00, 0x21}),
                         bytes({0x04, 0x03, 0x02, 0x01, zal::crc8(bytes({0x04, 0x03, 0x02, 0x01}))}));
  scripted_line().expect(bytes({0xEC, 0x00, 0x38}), bytes({0x00}));
  const std::vector<Location> locations{{Memory::eeprom, Width::word, 0x0010},
                                        {Memory::eeprom, Width::long_word, 0x0020}};
  EXPECT_EQ(backend->read_eeprom_batch(0, locations).value(), (std::vector<uint64_t>{0x1234, 0x01020304}));
  EXPECT_EQ(scripted_line().unread(), 0u);
}

TEST_F(Zal, EepromWriteBatchConfirmsEachWriteAndClearsTheFlagEvenAfterAFailure) {
  synchronise(false);
  const std::unique_ptr<core::Backend> backend = zal::make_zal_backend(*zal_);
  const std::vector<core::EepromWrite> writes{{{Memory::eeprom, Width::word, 0x0010}, 0x1234},
                                              {{Memory::eeprom, Width::word, 0x0012}, 0x5678},
                                              {{Memory::eeprom, Width::word, 0x0014}, 0x9ABC}};
  scripted_line().expect(bytes({0xEC, 0x01, 0x65, 0x10, 0x00, 0x34, 0x12, 0xDF}), bytes({0x5A}));
  scripted_line().expect(bytes({0x65, 0x12, 0x00, 0x78, 0x56, 0xDF}), bytes({0x00}));
  EXPECT_EQ(failure_of(backend->write_eeprom_batch(0, writes)).text, "EEPROM Word Write Sync error");
  EXPECT_EQ(scripted_line().written(), bytes({0xEC, 0x01, 0x65, 0x10, 0x00, 0x34, 0x12, 0xDF,  //
                                              0x65, 0x12, 0x00, 0x78, 0x56, 0xDF, 0xEC, 0x00}));
}

TEST_F(Zal, EepromBatchThatStraysIntoRamGoesOneAccessAtATime) {
  synchronise(false);
  const std::unique_ptr<core::Backend> backend = zal::make_zal_backend(*zal_);
  scripted_line().expect(bytes({0xEC, 0x01, 0x45, 0x10, 0x00}), bytes({0x01, 0x00}));
  scripted_line().expect(bytes({0xEC, 0x00, 0x45, 0x20, 0x00}), bytes({0x02, 0x00}));
  const std::vector<Location> locations{{Memory::eeprom, Width::word, 0x0010}, {Memory::ram, Width::word, 0x0020}};
  EXPECT_EQ(backend->read_eeprom_batch(0, locations).value(), (std::vector<uint64_t>{1, 2}));
}

// ---- synchronisation ----

class ZalSync : public Zal {
 protected:
  void SetUp() override { open(1000); }
  void expect_settings_restored() { EXPECT_EQ(line_->char_timeout_ms(), 1000); }
};

TEST_F(ZalSync, PlainDrive) {
  scripted_line().expect(bytes({0xDF}), bytes({0x5A}));
  EXPECT_EQ(zal_->sync().value(), "Using ZAL Serial Interface");
  EXPECT_FALSE(zal_->crc_enabled());
  EXPECT_EQ(scripted_line().written(), bytes({0xDF}));
  expect_settings_restored();
}

TEST_F(ZalSync, CrcOnlyDrive) {
  scripted_line().expect(bytes({0xDF}), "");
  scripted_line().expect(bytes({0xDF, 0x16}), bytes({0x5A, 0xA5}));
  scripted_line().expect(bytes({0xE1, 0x00, 0xB1}), bytes({0x00}));
  EXPECT_EQ(zal_->sync().value(), "Using ZAL Serial Interface With CRCs");
  EXPECT_TRUE(zal_->crc_enabled());
  EXPECT_EQ(scripted_line().unread(), 0u);
  expect_settings_restored();

  scripted_line().forget_written();
  scripted_line().expect(bytes({0xDF}), bytes({0x5A}));
  EXPECT_TRUE(zal_->sync());
  EXPECT_EQ(scripted_line().written(), bytes({0xDF})) << "a new synchronisation probes without CRC bytes first";
}

// While probing, the cookie decides; its CRC must come but need not be right.
TEST_F(ZalSync, CrcProbeNeedsTheCrcByteButNotARightOne) {
  scripted_line().expect(bytes({0xDF}), "");
  scripted_line().expect(bytes({0xDF, 0x16}), bytes({0x5A, 0x00}));
  scripted_line().expect(bytes({0xE1, 0x00, 0xB1}), bytes({0x00}));
  EXPECT_TRUE(zal_->sync());

  scripted_line().expect(bytes({0xDF}), "");
  scripted_line().expect(bytes({0xDF, 0x16}), bytes({0x5A}));
  EXPECT_FALSE(zal_->sync());
  EXPECT_FALSE(zal_->crc_enabled());
}

TEST_F(ZalSync, SilentLineFailsQuickly) {
  const int64_t start = testsupport::test_clock().now_ms();
  const core::Failure failure = failure_of(zal_->sync());
  // The probes wait a twentieth of the character time-out: with the full 1000 ms
  // they would take 2000 ms.
  EXPECT_LT(testsupport::test_clock().now_ms() - start, 1500);
  EXPECT_EQ(failure.kind, FailureKind::open);
  EXPECT_EQ(lines_of(failure), (Lines{"", "ZAL Serial Communication failed !"}));
  EXPECT_FALSE(zal_->crc_enabled());
  EXPECT_EQ(scripted_line().written(), bytes({0xDF, 0xDF, 0x16}));
  expect_settings_restored();

  line_->set_char_timeout_ms(20);
  EXPECT_EQ(failure_of(zal_->read(Width::word, 0x0010)).kind, FailureKind::timeout)
      << "after a failed synchronisation a lost reply is a failure again";
}

TEST_F(ZalSync, WrongCookieFailsBothProbes) {
  scripted_line().expect(bytes({0xDF}), bytes({0x5B}));
  scripted_line().expect(bytes({0xDF, 0x16}), bytes({0x5B, 0x00}));
  EXPECT_FALSE(zal_->sync());
  EXPECT_FALSE(zal_->crc_enabled());
  expect_settings_restored();
}

TEST_F(ZalSync, EndlessTalkerFailsWithinSecondsEvenWhenItTalksInCookies) {
  scripted_line().endless = true;
  scripted_line().endless_byte = 0x5A;
  const int64_t start = testsupport::test_clock().now_ms();
  EXPECT_EQ(failure_of(zal_->sync()).text, "ZAL Serial Communication failed !");
  EXPECT_LT(testsupport::test_clock().now_ms() - start, 30000);  // no hang
  EXPECT_FALSE(zal_->crc_enabled());
  expect_settings_restored();
}

}  // namespace
