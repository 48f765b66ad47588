#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "serial/serial.h"
#include "support/scripted_serial.h"
#include "texthost/texthost.h"

namespace {

using testsupport::scripted_line;

class TextHost : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::open_scripted_serial());
    serial::SERERROR = true;
  }
  void TearDown() override { EXPECT_TRUE(scripted_line().mismatches().empty()); }
};

TEST_F(TextHost, ReadRamWord) {
  scripted_line().expect("RW0820\r", "00ff\r");
  EXPECT_EQ(texthost::SERREADPICWORD(0x0820), 255);
  EXPECT_FALSE(serial::SERERROR);
  EXPECT_EQ(scripted_line().written(), "RW0820\r");
}

TEST_F(TextHost, ReadEepromWordUsesItsOwnLetters) {
  scripted_line().expect("Re007E\r", "BEEF>");
  EXPECT_EQ(texthost::SERREADEEPROMWORD(0x007E), 0xBEEF);
  EXPECT_FALSE(serial::SERERROR);
}

TEST_F(TextHost, WritesSendAddressThenDataAndWaitForOneCharacter) {
  scripted_line().expect("WW0A0212AB\r", "!");
  texthost::SERWRITEPICWORD(0x0A02, 0x12AB);
  EXPECT_FALSE(serial::SERERROR);
  scripted_line().expect("We007E0001\r", "\r");
  texthost::SERWRITEEEPROMWORD(0x007E, 1);
  EXPECT_FALSE(serial::SERERROR);
  EXPECT_EQ(scripted_line().written(), "WW0A0212AB\rWe007E0001\r");
}

TEST_F(TextHost, UnacknowledgedWriteSetsTheFlag) {
  texthost::SERWRITEPICWORD(0x0A02, 0x12AB);
  EXPECT_TRUE(serial::SERERROR);
}

TEST_F(TextHost, ShortReadReplyGivesZeroAndTheFlag) {
  scripted_line().expect("RW0820\r", "00f");
  EXPECT_EQ(texthost::SERREADPICWORD(0x0820), 0);
  EXPECT_TRUE(serial::SERERROR);
}

TEST_F(TextHost, FourDigitsWithoutTerminatorKeepTheValueAndSetTheFlag) {
  scripted_line().expect("RW0820\r", "1234");
  EXPECT_EQ(texthost::SERREADPICWORD(0x0820), 0x1234);
  EXPECT_TRUE(serial::SERERROR);
}

TEST_F(TextHost, InquireId) {
  scripted_line().expect("II\r", "ZR90\r");
  EXPECT_EQ(texthost::INQUIREID(), "ZR90");
  EXPECT_FALSE(serial::SERERROR);
  scripted_line().expect("II\r", "ZR90");
  EXPECT_EQ(texthost::INQUIREID(), "ZR90");
  EXPECT_TRUE(serial::SERERROR);
}

TEST_F(TextHost, SyncJudgesOnlyTheSecondAnswer) {
  scripted_line().expect("x\r", "hello\r\n>");
  scripted_line().expect("x\r", "?\r\n>");
  scripted_line().expect("II\r", "ZR90\r");
  EXPECT_TRUE(texthost::SERSYNC());
  EXPECT_FALSE(serial::SERERROR);
  EXPECT_EQ(scripted_line().written(), "x\rx\rII\r");
  EXPECT_GE(scripted_line().rts_raised(), 1);
}

TEST_F(TextHost, SyncRejectsAnEchoingLine) {
  scripted_line().expect("x\r", "x\r");
  scripted_line().expect("x\r", "x\r");
  EXPECT_FALSE(texthost::SERSYNC());
  EXPECT_EQ(scripted_line().written(), "x\rx\r");
}

TEST_F(TextHost, SyncFailsOnSilenceAndOnAShortIdentity) {
  EXPECT_FALSE(texthost::SERSYNC());
  EXPECT_TRUE(serial::SERERROR);
  EXPECT_EQ(scripted_line().written(), "x\r");

  ASSERT_TRUE(testsupport::open_scripted_serial());
  scripted_line().expect("x\r", ">");
  scripted_line().expect("x\r", "?");
  scripted_line().expect("II\r", "ZR9");
  EXPECT_FALSE(texthost::SERSYNC());
}

TEST_F(TextHost, SyncFailsOnALineThatNeverFallsQuietEvenWhenItTalksInNaks) {
  scripted_line().endless = true;
  scripted_line().endless_byte = '?';
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(texthost::SERSYNC());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // no hang
}

}  // namespace
