#include <gtest/gtest.h>

#include "card/sserial.h"
#include "card_fixture.h"
#include "fatal_capture.h"

namespace {

using testsupport::CardAccess;
using testsupport::FakeCard;
using unittest::CardModule;

constexpr uint16_t CMD = FakeCard::COMMAND;
constexpr uint16_t DATA = FakeCard::DATA;
constexpr uint16_t CSR = FakeCard::CSR;

CardAccess W(uint16_t a, uint32_t v) { return {true, a, v}; }
CardAccess R(uint16_t a, uint32_t v) { return {false, a, v}; }

TEST_F(CardModule, PortsSitAtFixedOffsetsFromTheModuleBase) {
  EXPECT_EQ(card::COMMANDPORT, 0x1000);
  EXPECT_EQ(card::OURDATAPORT, 0x1100);
  EXPECT_EQ(card::CSRPORT, 0x1200);
  EXPECT_EQ(card::INTERFACEPORT0, 0x1300);
  EXPECT_EQ(card::INTERFACEPORT1, 0x1400);
  EXPECT_EQ(card::INTERFACEPORT2, 0x1500);
  EXPECT_EQ(card::NUMBEROFBASES, 6);
  EXPECT_EQ(card::SSZALCHANNELSTART, 0x40);
  EXPECT_EQ(card::SSZALCHANNELSTRIDE, 0x20);
}

TEST(CardModuleMissing, PortsFallBackToOffsetsFromZero) {
  FakeCard fake;
  fake.install();
  fake.load_idrom(0x0400, testsupport::IdromImage().words);
  card::FILLQX3ARRAY();
  EXPECT_FALSE(card::INITIALIZESSBASEADDR());
  EXPECT_EQ(card::COMMANDPORT, 0);
  EXPECT_EQ(card::INTERFACEPORT2, 0x500);
}

TEST_F(CardModule, RamAccessLoadsDataBeforeTheCommand) {
  fake.ram[0x21] = 0x7E;
  EXPECT_EQ(card::READSSRAM(0x21), 0x7E);
  card::WRITESSRAM(0x22, 0x5A);
  EXPECT_EQ(fake.ram[0x22], 0x5A);
  EXPECT_EQ(fake.accesses, (std::vector<CardAccess>{W(CMD, 0x2021), R(CMD, 0), R(DATA, 0x7E),
                                                     W(DATA, 0x5A), W(CMD, 0xA022), R(CMD, 0)}));
}

TEST_F(CardModule, SetBaudWritesFourRateBytesThenStopsAll) {
  card::SSZALSETBAUD(1, 2500000);  // 0x002625A0
  EXPECT_EQ(fake.ram[0x8A], 0xA0);
  EXPECT_EQ(fake.ram[0x8B], 0x25);
  EXPECT_EQ(fake.ram[0x8C], 0x26);
  EXPECT_EQ(fake.ram[0x8D], 0x00);
  std::vector<CardAccess> expected;
  const uint8_t rate_bytes[] = {0xA0, 0x25, 0x26, 0x00};
  for (uint32_t i = 0; i < 4; ++i) {
    expected.push_back(W(DATA, rate_bytes[i]));
    expected.push_back(W(CMD, 0xA08A + i));
    expected.push_back(R(CMD, 0));
  }
  expected.push_back(W(CMD, 0x800));
  expected.push_back(R(CMD, 0));
  for (uint16_t k = 0; k < 8; ++k) expected.push_back(W(CSR + 4 * k, 0));
  EXPECT_EQ(fake.accesses, expected);

  card::SSZALSETNOCRC(2, 255);
  EXPECT_EQ(fake.ram[0x40 + 2 * 0x20 + 30], 255);
}

TEST_F(CardModule, StartSetupNeedsTheWholeFailureByteClear) {
  EXPECT_TRUE(card::AXISSTARTSETUP(2));
  EXPECT_EQ(fake.accesses, (std::vector<CardAccess>{W(CMD, 0xF04), R(CMD, 0), R(DATA, 0)}));
  fake.start_failures = 0x01;  // another channel failed: still a failure here
  EXPECT_FALSE(card::AXISSTARTSETUP(2));
  fake.start_failures = 0;
  fake.busy_reads = 5;
  EXPECT_TRUE(card::AXISSTARTSETUP(2));
}

TEST_F(CardModule, StartSetupGivesUpAfterTwoHundredPolls) {
  fake.command_never_clears = true;
  EXPECT_EQ(card::STARTSETUP(0x04), 0xFF);
  EXPECT_EQ(fake.accesses.size(), 201u);  // the command and 200 polls, no data read
}

TEST_F(CardModule, RunCountsOnlyTheChannelsOwnFailureBit) {
  fake.run_failures = 0x01;
  EXPECT_TRUE(card::AXISDOIT(2));
  EXPECT_EQ(fake.accesses, (std::vector<CardAccess>{R(CMD, 0), W(CMD, 0x1004), R(CMD, 0), R(DATA, 0x01)}));
  fake.run_failures = 0x04;
  EXPECT_FALSE(card::AXISDOIT(2));
  fake.run_failures = 0x08;
  EXPECT_FALSE(card::AXISDOIT(3));
  EXPECT_EQ(fake.accesses.back(), R(DATA, 0x08));
  EXPECT_EQ(fake.accesses[fake.accesses.size() - 3], W(CMD, 0x1008));
}

TEST_F(CardModule, DoneWaitAllowsOneHundredThousandPolls) {
  fake.busy_reads = 99998;
  card::WRITESSRAM(0x10, 1);
  EXPECT_EQ(fake.accesses.size(), 2u + 99999u);
}

TEST_F(CardModule, ABusyModuleEndsTheRunWithADumpOfTheSelectedChannel) {
  fake.set_register(CSR + 8, 0x45000834);
  fake.set_register(FakeCard::USER0 + 8, 0x12345678);
  fake.set_register(FakeCard::USER1 + 8, 0x9ABCDEF0);
  fake.set_register(FakeCard::USER2 + 8, 0xFFFFFFFF);
  fake.set_register(FakeCard::USER0, 0xBAD);  // channel 0: must not show
  fake.command_never_clears = true;
  EXPECT_EQ(unittest::output_of_exit([] { card::WRITESSRAM(0x4A, 0x5A); }, 2),
            "Timeout waiting for done\n"
            "Command Port A04A\n"
            "Data Port 5A\n"
            "CSR Port 45000834\n"
            "User0 12345678\n"
            "User1 9ABCDEF0\n"
            "User2 FFFFFFFF\n");

  fake.busy_reads = 99999;  // clears on the last poll: the limit is still reached
  fake.command_never_clears = false;
  EXPECT_EQ(unittest::output_of_exit([] { card::READSSRAM(3); }, 2).substr(0, 25), "Timeout waiting for done\n");
}

TEST_F(CardModule, ARunOnABusyModuleIsRefused) {
  fake.set_command_register(0x2003);
  EXPECT_EQ(unittest::output_of_exit([] { card::AXISDOIT(2); }, 2),
            "Not ready for command \n"
            "Command Port 2003\n"
            "Data Port 20\n"  // the channel stride, the last RAM byte read
            "CSR Port 00000000\n"
            "User0 00000000\n"
            "User1 00000000\n"
            "User2 00000000\n");
}

}  // namespace
