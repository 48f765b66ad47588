#include <gtest/gtest.h>

#include "card/remote.h"
#include "card_fixture.h"
#include "fatal_capture.h"

namespace {

using testsupport::CardAccess;
using testsupport::FakeCard;
using unittest::CardModule;

constexpr uint16_t CMD = FakeCard::COMMAND;
constexpr uint16_t DATA = FakeCard::DATA;

CardAccess W(uint16_t a, uint32_t v) { return {true, a, v}; }
CardAccess R(uint16_t a, uint32_t v) { return {false, a, v}; }

// The accesses a run command makes when the module takes it at once.
std::vector<CardAccess> run(uint32_t command, uint32_t failures = 0) {
  return {R(CMD, 0), W(CMD, command), R(CMD, 0), R(DATA, failures)};
}

std::vector<CardAccess> join(std::initializer_list<std::vector<CardAccess>> parts) {
  std::vector<CardAccess> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

constexpr uint16_t CSR2 = FakeCard::CSR + 8;
constexpr uint16_t USER0_2 = FakeCard::USER0 + 8;
constexpr uint16_t USER1_2 = FakeCard::USER1 + 8;

TEST_F(CardModule, WordReadOnChannelTwo) {
  fake.drive_memory[2][0x0834] = 0x34;
  fake.drive_memory[2][0x0835] = 0x12;
  fake.drive_memory[2][0x0836] = 0xFF;  // beyond the word
  EXPECT_EQ(card::SSZALREADWORD(2, 0x0834), 0x1234);
  EXPECT_EQ(fake.accesses, join({{W(CSR2, 0x45000834)}, run(0x1004), {R(USER0_2, 0x1234), W(CSR2, 0)}}));
}

TEST_F(CardModule, ReadsTakeTheirWidthFromTheDataRegister) {
  for (uint16_t i = 0; i < 8; ++i) fake.drive_memory[2][static_cast<uint16_t>(0x100 + i)] = 0xF1 + i;
  EXPECT_EQ(card::SSZALREADBYTE(2, 0x100), 0xF1);
  EXPECT_EQ(card::SSZALREADLONG(2, 0x100), static_cast<int32_t>(0xF4F3F2F1));
  fake.accesses.clear();
  EXPECT_EQ(card::SSZALREADDOUBLE(2, 0x100), static_cast<int64_t>(0xF8F7F6F5F4F3F2F1));
  EXPECT_EQ(fake.accesses, join({{W(CSR2, 0x47000100)},
                                 run(0x1004),
                                 {R(USER0_2, 0xF4F3F2F1), R(USER1_2, 0xF8F7F6F5), W(CSR2, 0)}}));
}

TEST_F(CardModule, WritesLoadDataAfterTheCsrAndBeforeTheRun) {
  card::SSZALWRITEBYTE(2, 0x0200, 0xFF);
  EXPECT_EQ(fake.accesses, join({{W(CSR2, 0x64000200), W(USER0_2, 0x000000FF)}, run(0x1004), {W(CSR2, 0)}}));
  fake.accesses.clear();

  card::SSZALWRITEDOUBLE(2, 0x0210, static_cast<int64_t>(0x8877665544332211));
  EXPECT_EQ(fake.accesses, join({{W(CSR2, 0x67000210), W(USER0_2, 0x44332211), W(USER1_2, 0x88776655)},
                                 run(0x1004),
                                 {W(CSR2, 0)}}));
  EXPECT_EQ(card::SSZALREADDOUBLE(2, 0x0210), static_cast<int64_t>(0x8877665544332211));

  card::SSZALWRITEWORD(2, 0x0220, 0xBEEF);
  card::SSZALWRITELONG(2, 0x0230, -2);
  EXPECT_EQ(card::SSZALREADWORD(2, 0x0220), 0xBEEF);
  EXPECT_EQ(card::SSZALREADLONG(2, 0x0230), -2);
}

TEST_F(CardModule, LocalRegistersUseTheCommandByteAlone) {
  card::SSZALWRITEZAL(0, 0xCC, 1);
  EXPECT_EQ(fake.accesses, join({{W(FakeCard::CSR, 0xEC000000), W(FakeCard::USER0, 1)},
                                 run(0x1001),
                                 {W(FakeCard::CSR, 0)}}));
  fake.drive_locals[0][0xD5] = 0x42;
  EXPECT_EQ(card::SSZALREADZAL(0, 0xD5), 0x42);
  EXPECT_EQ(fake.accesses[fake.accesses.size() - 7], W(FakeCard::CSR, 0xD5000000));
}

TEST_F(CardModule, AFailedChannelEndsTheRun) {
  fake.run_failures = 0x04;
  EXPECT_EQ(unittest::output_of_exit([] { card::SSZALREADWORD(2, 0x0812); }, 2), "SSZAL Transfer Failed\n");
  EXPECT_EQ(unittest::output_of_exit([] { card::SSZALWRITELONG(2, 0x0812, 1); }, 2), "SSZAL Transfer Failed\n");
}

TEST_F(CardModule, EepromAccessBracketsTheTransferWithTheNonVolatileFlag) {
  fake.drive_memory[2][0x10] = 0xCD;
  fake.drive_memory[2][0x11] = 0xAB;
  EXPECT_EQ(card::SSZALREADEEPROMWORD(2, 0x10), 0xABCD);
  const auto& a = fake.accesses;
  ASSERT_EQ(a.size(), 7u + 7u + 7u);
  EXPECT_EQ(a[0], W(CSR2, 0xEC000000));
  EXPECT_EQ(a[1], W(USER0_2, 1));
  EXPECT_EQ(a[7], W(CSR2, 0x45000010));
  EXPECT_EQ(a[14], W(CSR2, 0xEC000000));
  EXPECT_EQ(a[15], W(USER0_2, 0));
  EXPECT_EQ(fake.drive_locals[2][0xCC], 0);

  testing::internal::CaptureStdout();
  card::SSZALWRITEEEPROMLONG(2, 0x20, 0x01020304);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(card::SSZALREADEEPROMLONG(2, 0x20), 0x01020304);
  EXPECT_EQ(card::SSZALREADEEPROMBYTE(2, 0x20), 0x04);
}

TEST_F(CardModule, AFlagThatStaysSetOnceIsClearedAgain) {
  fake.nonvol_stuck_clears = 1;
  testing::internal::CaptureStdout();
  card::SSZALWRITEEEPROMWORD(2, 0x30, 0x1234);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Old buggy bit file in use\n");
  EXPECT_EQ(fake.drive_locals[2][0xCC], 0);
  EXPECT_EQ(fake.drive_memory[2][0x30], 0x34);
}

TEST_F(CardModule, AFlagThatNeverClearsEndsTheRun) {
  fake.nonvol_stuck_clears = 1000;
  EXPECT_EQ(unittest::output_of_exit([] { card::SSZALWRITEEEPROMBYTE(2, 0x30, 7); }, 2),
            "Old buggy bit file in use\nBroken Old buggy bit file in use cycle ZR90 power\n");
}

}  // namespace
