#include <gtest/gtest.h>

#include <algorithm>

#include "card/idrom.h"
#include "fatal_capture.h"
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

TEST(CardIdrom, CopiesTheRomInOneFixedOrder) {
  FakeCard fake;
  fake.install();
  const IdromImage image = numbered_image();
  fake.load_idrom(0x0400, image.words);
  card::FILLQX3ARRAY();

  ASSERT_EQ(fake.accesses.size(), 258u);
  EXPECT_EQ(fake.accesses[0], (CardAccess{false, 0x0100, 0x55AACAFE}));
  EXPECT_EQ(fake.accesses[1], (CardAccess{false, 0x010C, 0x0400}));
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(fake.accesses[2 + i].address, 0x0400 + 4 * i);
    EXPECT_FALSE(fake.accesses[2 + i].write);
  }
  EXPECT_EQ(card::IDROMOFFSET, 0x0400);
  EXPECT_TRUE(std::equal(image.words.begin(), image.words.end(), card::IDROMASARRAY.begin()));
  EXPECT_EQ(card::IDROMHEADER.MODULEPOINTER, 64u);
  EXPECT_EQ(card::IDROMHEADER.PORTWIDTH, 24u);
  EXPECT_EQ(card::MODULEOFFSET, 16);
  EXPECT_EQ(card::PINDESCOFFSET, 112);
}

TEST(CardIdrom, RomAddressWrapsAtSixteenBits) {
  FakeCard fake;
  fake.install();
  fake.load_idrom(0xFF00, numbered_image().words);  // the last 192 words wrap to 0x0000
  fake.set_register(0x0100, 0x55AACAFE);            // the wrapped words cover the cookie
  fake.set_register(0x010C, 0xFF00);                // and the pointer: put them back
  card::FILLQX3ARRAY();
  EXPECT_EQ(fake.accesses[2 + 63].address, 0xFFFC);
  EXPECT_EQ(fake.accesses[2 + 64].address, 0x0000);
}

TEST(CardIdrom, AWrongCookieEndsTheRunWithoutABlankLine) {
  FakeCard fake;
  fake.install();
  fake.set_register(0x0100, 0x55AACAFF);
  EXPECT_EQ(unittest::output_of_exit([] { card::FILLQX3ARRAY(); }, 2), "No QX3 Hardware Found\n");
}

TEST(CardIdrom, TheHighestIndexOfATagWinsWithoutCardAccess) {
  FakeCard fake;
  fake.install();
  IdromImage image;
  image.module(0, card::IOPORTTAG, 0x1000, 5);
  image.module(3, card::SSERIALTAG, 0x5B00, 4);
  image.module(31, card::SSERIALTAG, 0x6000, 9);
  fake.load_idrom(0x0400, image.words);
  card::FILLQX3ARRAY();
  fake.accesses.clear();

  uint16_t base = 1;
  uint8_t regs = 1;
  EXPECT_TRUE(card::GETMODULEINFO(card::SSERIALTAG, base, regs));
  EXPECT_EQ(base, 0x6000);
  EXPECT_EQ(regs, 9);
  EXPECT_EQ(card::MODULES[3].BASEADDR, 0x5B00);
  EXPECT_FALSE(card::GETMODULEINFO(card::PWMTAG, base, regs));
  EXPECT_EQ(base, 0);
  EXPECT_EQ(regs, 0);
  EXPECT_TRUE(fake.accesses.empty());
}

class CardMasks : public testing::Test {
 protected:
  void build(const IdromImage& image) {
    fake.install();
    fake.load_idrom(0x0400, image.words);
    card::FILLQX3ARRAY();
    card::ZEROMASKS();
    card::SETALLQX3OUTPUTMASKS();
  }
  FakeCard fake;
};

TEST_F(CardMasks, OneBitPerOutputPinPortByPort) {
  IdromImage image;
  image.pin(1, 0x81, card::SSERIALTAG);
  image.pin(25, 0x80, card::PWMTAG);
  image.pin(48, 0x85, card::STEPGENTAG);
  image.pin(2, 0x05, card::SSERIALTAG);  // an input: no bit
  image.pin(144, 0x80, card::LEDTAG);
  build(image);
  EXPECT_EQ(card::OUTPUTMASKS, (std::array<uint32_t, 6>{0x1, 0x800001, 0, 0, 0, 0x800000}));
  EXPECT_EQ(card::PINDESCS[48].GTAG, card::STEPGENTAG);
}

TEST_F(CardMasks, NoPinsLeaveEveryMaskZero) {
  IdromImage image;
  image.pin(1, 0x80, card::SSERIALTAG);
  image.words[8] = 0x10000;  // only the low 16 bits count
  build(image);
  EXPECT_EQ(card::OUTPUTMASKS, (std::array<uint32_t, 6>{}));
}

TEST_F(CardMasks, NarrowPortsStillFitSixMasks) {
  IdromImage image;
  image.words[8] = 12;
  image.words[9] = 2;
  image.pin(12, 0x80, card::SSERIALTAG);
  build(image);
  EXPECT_EQ(card::OUTPUTMASKS[5], 0x2u);
}

struct BadRom {
  int word;
  uint32_t value;
  const char* message;
  int word2 = 0;  // a second header word to change, when not 0
  uint32_t value2 = 0;
};

TEST(CardIdromLimits, ARomOutsideTheTablesEndsTheRunClearly) {
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
    fake.install();
    IdromImage image;
    image.words[static_cast<std::size_t>(c.word)] = c.value;
    if (c.word2 != 0) image.words[static_cast<std::size_t>(c.word2)] = c.value2;
    fake.load_idrom(0x0400, image.words);
    const std::string out = unittest::output_of_exit(
        [] {
          card::FILLQX3ARRAY();
          card::ZEROMASKS();
          card::SETALLQX3OUTPUTMASKS();
        },
        2);
    EXPECT_EQ(out, "\n" + std::string(c.message) + "\n");
  }
}

TEST(CardIdromLimits, TablesAtTheirLastPlaceAreAccepted) {
  FakeCard fake;
  fake.install();
  IdromImage image;
  image.words[1] = 160 * 4;
  image.words[2] = 112 * 4 + 3;  // truncated to word 112
  image.words[255] = 0x80;       // pin 144
  fake.load_idrom(0x0400, image.words);
  card::FILLQX3ARRAY();
  card::ZEROMASKS();
  card::SETALLQX3OUTPUTMASKS();
  uint16_t base = 0;
  uint8_t regs = 0;
  EXPECT_FALSE(card::GETMODULEINFO(card::SSERIALTAG, base, regs));
  EXPECT_EQ(card::OUTPUTMASKS[5], 0x800000u);
}

}  // namespace
