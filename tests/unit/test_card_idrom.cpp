#include <gtest/gtest.h>

#include <algorithm>

#include "card/card.h"
#include "card/idrom.h"
#include "card_fixture.h"
#include "support/fake_card.h"

namespace {

using testsupport::CardAccess;
using testsupport::FakeCard;
using testsupport::IdromImage;

IdromImage numbered_image() {
  IdromImage image;
  for (std::size_t i = 16; i < image.words.size(); ++i) image.words[i] = 0xA0000000u + static_cast<uint32_t>(i);
  return image;
}

class CardIdrom : public testing::Test {
 protected:
  core::Result<card::Idrom> read() { return card::read_idrom(*bus); }
  // The IDROM read and its output masks set, as opening the card does.
  core::Result<card::Idrom> read_with_masks() {
    core::Result<card::Idrom> idrom = read();
    if (!idrom) return idrom;
    if (core::Status done = card::set_output_masks(*idrom); !done) return done.error();
    return idrom;
  }
  FakeCard fake;
  std::unique_ptr<card::HostBus> bus = card::make_ezal16_bus(fake.socket());
};

TEST_F(CardIdrom, CopiesTheRomInOneFixedOrder) {
  const IdromImage image = numbered_image();
  fake.load_idrom(0x0400, image.words);
  core::Result<card::Idrom> idrom = read();
  ASSERT_TRUE(idrom);

  ASSERT_EQ(fake.accesses.size(), 258u);
  EXPECT_EQ(fake.accesses[0], (CardAccess{false, 0x0100, 0x55AACAFE}));
  EXPECT_EQ(fake.accesses[1], (CardAccess{false, 0x010C, 0x0400}));
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(fake.accesses[2 + i].address, 0x0400 + 4 * i);
    EXPECT_FALSE(fake.accesses[2 + i].write);
  }
  EXPECT_EQ(idrom->offset, 0x0400u);
  EXPECT_TRUE(std::equal(image.words.begin(), image.words.end(), idrom->words.begin()));
  EXPECT_EQ(idrom->header.MODULEPOINTER, 64u);
  EXPECT_EQ(idrom->header.PORTWIDTH, 24u);
  EXPECT_EQ(idrom->module_offset, 16);
  EXPECT_EQ(idrom->pindesc_offset, 112);
}

TEST_F(CardIdrom, RomAddressWrapsAtSixteenBits) {
  fake.load_idrom(0xFF00, numbered_image().words);  // the last 192 words wrap to 0x0000
  fake.set_register(0x0100, 0x55AACAFE);            // the wrapped words cover the cookie
  fake.set_register(0x010C, 0xFF00);                // and the pointer: put them back
  ASSERT_TRUE(read());
  EXPECT_EQ(fake.accesses[2 + 63].address, 0xFFFC);
  EXPECT_EQ(fake.accesses[2 + 64].address, 0x0000);
}

TEST_F(CardIdrom, AWrongCookieFailsAloneAfterOneRead) {
  fake.set_register(0x0100, 0x55AACAFF);
  core::Result<card::Idrom> idrom = read();
  ASSERT_FALSE(idrom);
  EXPECT_EQ(idrom.error().text, "No QX3 Hardware Found");
  EXPECT_EQ(idrom.error().form, core::FailureForm::alone);
  EXPECT_EQ(fake.accesses.size(), 1u);
}

TEST_F(CardIdrom, ATransportFailureStopsTheCopy) {
  fake.load_idrom(0x0400, numbered_image().words);
  fake.replies_left = 10;
  core::Result<card::Idrom> idrom = read();
  ASSERT_FALSE(idrom);
  EXPECT_EQ(idrom.error().text, "Connection timed out");
  EXPECT_EQ(fake.datagrams.size(), 11u);  // nothing after the read that got no answer
}

TEST_F(CardIdrom, TheHighestIndexOfATagWinsWithoutCardAccess) {
  IdromImage image;
  image.module(0, card::IOPORTTAG, 0x1000, 5);
  image.module(3, card::SSERIALTAG, 0x5B00, 4);
  image.module(31, card::SSERIALTAG, 0x6000, 9);
  fake.load_idrom(0x0400, image.words);
  core::Result<card::Idrom> idrom = read();
  ASSERT_TRUE(idrom);
  fake.accesses.clear();

  const std::optional<card::ModuleInfo> found = card::find_module(*idrom, card::SSERIALTAG);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->base, 0x6000);
  EXPECT_EQ(found->registers, 9);
  EXPECT_EQ(idrom->modules[3].BASEADDR, 0x5B00);
  EXPECT_FALSE(card::find_module(*idrom, card::PWMTAG).has_value());
  EXPECT_TRUE(fake.accesses.empty());
}

TEST_F(CardIdrom, OneMaskBitPerOutputPinPortByPort) {
  IdromImage image;
  image.pin(1, 0x81, card::SSERIALTAG);
  image.pin(25, 0x80, card::PWMTAG);
  image.pin(48, 0x85, card::STEPGENTAG);
  image.pin(2, 0x05, card::SSERIALTAG);  // an input: no bit
  image.pin(144, 0x80, card::LEDTAG);
  fake.load_idrom(0x0400, image.words);
  core::Result<card::Idrom> idrom = read_with_masks();
  ASSERT_TRUE(idrom);
  EXPECT_EQ(idrom->output_masks, (std::array<uint32_t, 6>{0x1, 0x800001, 0, 0, 0, 0x800000}));
  EXPECT_EQ(idrom->pins[48].GTAG, card::STEPGENTAG);
}

TEST_F(CardIdrom, NoPinsLeaveEveryMaskZero) {
  IdromImage image;
  image.pin(1, 0x80, card::SSERIALTAG);
  image.words[8] = 0x10000;  // only the low 16 bits count
  fake.load_idrom(0x0400, image.words);
  core::Result<card::Idrom> idrom = read_with_masks();
  ASSERT_TRUE(idrom);
  EXPECT_EQ(idrom->output_masks, (std::array<uint32_t, 6>{}));
}

TEST_F(CardIdrom, NarrowPortsStillFitSixMasks) {
  IdromImage image;
  image.words[8] = 12;
  image.words[9] = 2;
  image.pin(12, 0x80, card::SSERIALTAG);
  fake.load_idrom(0x0400, image.words);
  core::Result<card::Idrom> idrom = read_with_masks();
  ASSERT_TRUE(idrom);
  EXPECT_EQ(idrom->output_masks[5], 0x2u);
}

struct BadRom {
  int word;
  uint32_t value;
  const char* message;
  int word2 = 0;  // a second header word to change, when not 0
  uint32_t value2 = 0;
};

TEST(CardIdromLimits, ARomOutsideTheTablesFailsClearly) {
  const BadRom cases[] = {
      {1, 161 * 4, "Invalid IDROM: module table offset out of range"},
      {1, 0x80000000u, "Invalid IDROM: module table offset out of range"},
      {2, 113 * 4, "Invalid IDROM: pin table offset out of range"},
      {8, 145, "Invalid IDROM: more than 144 I/O pins"},
      {9, 0, "Invalid IDROM: I/O port width is 0"},
      {9, 23, "Invalid IDROM: more than 6 I/O ports"},
      {9, 0, "Invalid IDROM: I/O port width is 0", 8, 0},  // even with no pins
  };
  for (const BadRom& c : cases) {
    SCOPED_TRACE(c.message);
    FakeCard fake;
    auto bus = card::make_ezal16_bus(fake.socket());
    IdromImage image;
    image.module(0, card::SSERIALTAG, FakeCard::MODULE_BASE, 6);
    image.words[static_cast<std::size_t>(c.word)] = c.value;
    if (c.word2 != 0) image.words[static_cast<std::size_t>(c.word2)] = c.value2;
    fake.load_idrom(0x0400, image.words);
    unittest::NoticeLog notices;
    core::Result<card::OpenedCard> opened =
        card::open_card(*bus, {card::StartMode::none}, testsupport::test_waits(), notices);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().text, c.message);
    EXPECT_EQ(opened.error().form, core::FailureForm::after_empty_line);
    EXPECT_EQ(opened.error().kind, core::FailureKind::corrupt);
    EXPECT_EQ(fake.accesses.size(), 258u);  // the copy, and nothing written
  }
}

TEST_F(CardIdrom, TablesAtTheirLastPlaceAreAccepted) {
  IdromImage image;
  image.words[1] = 160 * 4;
  image.words[2] = 112 * 4 + 3;  // truncated to word 112
  image.words[255] = 0x80;       // pin 144
  fake.load_idrom(0x0400, image.words);
  core::Result<card::Idrom> idrom = read_with_masks();
  ASSERT_TRUE(idrom);
  EXPECT_FALSE(card::find_module(*idrom, card::SSERIALTAG).has_value());
  EXPECT_EQ(idrom->output_masks[5], 0x800000u);
}

}  // namespace
