#include <gtest/gtest.h>

#include <string>

#include "config/config.h"
#include "serial/serial.h"
#include "support/scripted_serial.h"
#include "zal/zal.h"
#include "fatal_capture.h"

namespace {

using testsupport::scripted_line;

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

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

TEST(Crc8, AppendOnlyInCrcMode) {
  zal::ZALCRCENABLED = false;
  std::string frame = bytes({0x44, 0x34, 0x12});
  zal::APPENDCRC(frame);
  EXPECT_EQ(frame, bytes({0x44, 0x34, 0x12}));

  zal::ZALCRCENABLED = true;
  zal::APPENDCRC(frame);
  zal::ZALCRCENABLED = false;
  EXPECT_EQ(frame, bytes({0x44, 0x34, 0x12, 0x98}));
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

class ZalLink : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(testsupport::open_scripted_serial()); }
  void TearDown() override { EXPECT_TRUE(scripted_line().mismatches().empty()); }
  // The state a run has after synchronising.
  static void synchronised(bool crc) {
    zal::ZALCRCENABLED = crc;
    serial::EXITONTIMEOUT = true;
    zal::EXITONCRCERROR = true;
  }
};

TEST_F(ZalLink, WordWriteWithoutCrcReadsNothing) {
  synchronised(false);
  zal::ZALWRITEWORD(0x1234, 0xBEEF);
  EXPECT_EQ(scripted_line().written(), bytes({0x65, 0x34, 0x12, 0xEF, 0xBE}));
  EXPECT_EQ(scripted_line().reads(), 0);
}

TEST_F(ZalLink, WritesInCrcModeWaitForAZeroAcknowledge) {
  synchronised(true);
  scripted_line().expect(bytes({0x65, 0x34, 0x12, 0xEF, 0xBE, 0xC0}), bytes({0x00}));
  zal::ZALWRITEWORD(0x1234, 0xBEEF);
  EXPECT_FALSE(zal::ZALCRCERROR);
  EXPECT_EQ(scripted_line().unread(), 0u);
}

TEST_F(ZalLink, ReadsTakeReplyLeastSignificantFirst) {
  synchronised(false);
  scripted_line().expect(bytes({0x46, 0x00, 0x01}), bytes({0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(zal::ZALREADLONG(0x0100), 0x12345678);
  scripted_line().expect(bytes({0x47, 0x00, 0x01}), bytes({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(zal::ZALREADDOUBLE(0x0100), -2);
  scripted_line().expect(bytes({0x45, 0x34, 0x12}), bytes({0xEF, 0xBE}));
  EXPECT_EQ(zal::ZALREADWORD(0x1234), 0xBEEF);
  scripted_line().expect(bytes({0x44, 0x34, 0x12}), bytes({0x81}));
  EXPECT_EQ(zal::ZALREADBYTE(0x1234), 0x81);
  EXPECT_FALSE(serial::SERERROR);
}

TEST_F(ZalLink, CrcModeReadChecksTheReplyCrc) {
  synchronised(true);
  scripted_line().expect(bytes({0x45, 0x34, 0x12, 0x33}), bytes({0xEF, 0xBE, 0x40}));
  EXPECT_EQ(zal::ZALREADWORD(0x1234), 0xBEEF);
  EXPECT_FALSE(zal::ZALCRCERROR);
  EXPECT_FALSE(serial::SERERROR);
}

TEST_F(ZalLink, WrongReplyCrcEndsTheRun) {
  synchronised(true);
  scripted_line().expect(bytes({0x45, 0x34, 0x12, 0x33}), bytes({0xEF, 0xBE, 0x41}));
  EXPECT_EQ(unittest::output_of_exit([] { zal::ZALREADWORD(0x1234); }, 2), "\nCRC Error!\n");
}

TEST_F(ZalLink, WrongCrcBeforeSynchronisationIsOnlyFlagged) {
  zal::ZALCRCENABLED = true;
  scripted_line().expect(bytes({0xDF, 0x16}), bytes({0x5A, 0x00}));
  EXPECT_EQ(zal::ZALLOCALREAD(0xDF), 0x5A);
  EXPECT_TRUE(zal::ZALCRCERROR);

  scripted_line().expect(bytes({0xDF, 0x16}), bytes({0x5A}));
  EXPECT_EQ(zal::ZALLOCALREAD(0xDF), 0x5A);
  EXPECT_TRUE(zal::ZALCRCERROR) << "a CRC byte that never came is no passed check";
  EXPECT_TRUE(serial::SERERROR);
}

TEST_F(ZalLink, MissingCrcByteEndsTheRunWithItsOwnMessageWhenTimeOutsDoNot) {
  zal::ZALCRCENABLED = true;
  zal::EXITONCRCERROR = true;
  serial::EXITONTIMEOUT = false;
  scripted_line().expect(bytes({0x45, 0x34, 0x12, 0x33}), bytes({0xEF, 0xBE}));
  EXPECT_EQ(unittest::output_of_exit([] { zal::ZALREADWORD(0x1234); }, 2),
            "\nSerial Timeout Error Waiting for CRC!\n");
}

// Each read reacts to a silent drive in its own way.
TEST_F(ZalLink, ByteReadTimeOutSetsTheFlagAndGoesOn) {
  synchronised(false);
  serial::SERERROR = false;
  zal::ZALREADBYTE(0x0010);
  EXPECT_TRUE(serial::SERERROR);
}

TEST_F(ZalLink, ByteReadTimeOutInCrcModeEndsOnTheMissingCrc) {
  synchronised(true);
  EXPECT_EQ(unittest::output_of_exit([] { zal::ZALREADBYTE(0x0010); }, 2), "Time out waiting for Character\n");
}

TEST_F(ZalLink, WordReadTimeOutEndsTheRunAfterSynchronisation) {
  synchronised(false);
  EXPECT_EQ(unittest::output_of_exit([] { zal::ZALREADWORD(0x0010); }, 2), "Time out waiting for Character\n");
}

TEST_F(ZalLink, WordReadTimeOutBeforeSynchronisationGoesOnUnflagged) {
  serial::SERERROR = false;
  zal::ZALREADWORD(0x0010);
  EXPECT_FALSE(serial::SERERROR);
}

TEST_F(ZalLink, LongReadTimeOutAlwaysEndsTheRun) {
  EXPECT_EQ(unittest::output_of_exit([] { zal::ZALREADLONG(0x0010); }, 2),
            "\nSerial Timeout Error Waiting for Long!\n");
}

TEST_F(ZalLink, DoubleReadTimeOutAlwaysEndsTheRun) {
  EXPECT_EQ(unittest::output_of_exit([] { zal::ZALREADDOUBLE(0x0010); }, 2),
            "\nSerial Timeout Error Waiting Double!\n");
}

TEST_F(ZalLink, LocalReadFlagsSilenceAndClearsOnAnswer) {
  serial::SERERROR = false;
  zal::ZALLOCALREAD(0xDF);
  EXPECT_TRUE(serial::SERERROR);
  scripted_line().expect(bytes({0xDF}), bytes({0x5A}));
  EXPECT_TRUE(zal::ZALPROGSYNC());
  EXPECT_FALSE(serial::SERERROR);
}

TEST_F(ZalLink, EepromWordWriteSequence) {
  synchronised(false);
  scripted_line().expect(bytes({0xEC, 0x01, 0x65, 0x7E, 0x00, 0x34, 0x12, 0xDF}), bytes({0x5A}));
  zal::ZALWRITEEEPROMWORD(0x007E, 0x1234);
  EXPECT_EQ(scripted_line().written(), bytes({0xEC, 0x01, 0x65, 0x7E, 0x00, 0x34, 0x12, 0xDF, 0xEC, 0x00}));
}

TEST_F(ZalLink, EepromReadWrapsTheReadInTheNonVolatileFlag) {
  synchronised(false);
  scripted_line().expect(bytes({0xEC, 0x01, 0x46, 0x10, 0x00}), bytes({0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(zal::ZALREADEEPROMLONG(0x0010), 0x04030201);
  EXPECT_EQ(scripted_line().written(), bytes({0xEC, 0x01, 0x46, 0x10, 0x00, 0xEC, 0x00}));
}

TEST_F(ZalLink, EepromWriteSyncFailureEndsTheRunWithTheFlagStillSet) {
  synchronised(false);
  scripted_line().expect(bytes({0xEC, 0x01, 0x66, 0x10, 0x00, 0x01, 0x00, 0x00, 0x00, 0xDF}), bytes({0x00}));
  EXPECT_EQ(unittest::output_of_exit([] { zal::ZALWRITEEEPROMLONG(0x0010, 1); }, 2),
            "\nEEPROM Long Write Sync error\n");
  testsupport::open_scripted_serial();
  synchronised(false);
  EXPECT_EQ(unittest::output_of_exit([] { zal::ZALWRITEEEPROM(0x0010, 1); }, 2), "\nEEPROM Byte Write Sync error\n");
}

// ---- synchronisation ----

class ZalSync : public ZalLink {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::open_scripted_serial(1000));
    serial::SERERROR = true;
  }
  void expect_after_sync() {
    EXPECT_EQ(config::CHARTIMEOUT, 1000);
    EXPECT_TRUE(serial::EXITONTIMEOUT);
    EXPECT_TRUE(zal::EXITONCRCERROR);
  }
};

TEST_F(ZalSync, PlainDrive) {
  scripted_line().expect(bytes({0xDF}), bytes({0x5A}));
  std::string message;
  EXPECT_TRUE(zal::ZALSYNC(message));
  EXPECT_EQ(message, "Using ZAL Serial Interface");
  EXPECT_FALSE(zal::ZALCRCENABLED);
  EXPECT_EQ(scripted_line().written(), bytes({0xDF}));
  expect_after_sync();
}

TEST_F(ZalSync, CrcOnlyDrive) {
  scripted_line().expect(bytes({0xDF}), "");
  scripted_line().expect(bytes({0xDF, 0x16}), bytes({0x5A, 0xA5}));
  scripted_line().expect(bytes({0xE1, 0x00, 0xB1}), bytes({0x00}));
  std::string message;
  EXPECT_TRUE(zal::ZALSYNC(message));
  EXPECT_EQ(message, "Using ZAL Serial Interface With CRCs");
  EXPECT_TRUE(zal::ZALCRCENABLED);
  EXPECT_EQ(scripted_line().unread(), 0u);
  expect_after_sync();
}

TEST_F(ZalSync, SilentLineFailsQuicklyAndQuietly) {
  const auto start = std::chrono::steady_clock::now();
  std::string message;
  EXPECT_FALSE(zal::ZALSYNC(message));
  // The probes wait a twentieth of the character time-out: with the full 1000 ms
  // they would take 2000 ms.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_EQ(message, "ZAL Serial Communication failed !");
  EXPECT_FALSE(zal::ZALCRCENABLED);
  EXPECT_EQ(scripted_line().written(), bytes({0xDF, 0xDF, 0x16}));
  expect_after_sync();
}

TEST_F(ZalSync, WrongCookieFailsBothProbes) {
  scripted_line().expect(bytes({0xDF}), bytes({0x5B}));
  scripted_line().expect(bytes({0xDF, 0x16}), bytes({0x5B, 0x00}));
  std::string message;
  EXPECT_FALSE(zal::ZALSYNC(message));
  EXPECT_FALSE(zal::ZALCRCENABLED);
  expect_after_sync();
}

TEST_F(ZalSync, EndlessTalkerFailsWithinSecondsEvenWhenItTalksInCookies) {
  scripted_line().endless = true;
  scripted_line().endless_byte = 0x5A;
  const auto start = std::chrono::steady_clock::now();
  std::string message;
  EXPECT_FALSE(zal::ZALSYNC(message));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // no hang
  EXPECT_EQ(message, "ZAL Serial Communication failed !");
  EXPECT_FALSE(zal::ZALCRCENABLED);
  expect_after_sync();
}

}  // namespace
