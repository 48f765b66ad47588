#include <gtest/gtest.h>

#include "card/sserial.h"
#include "card_fixture.h"

namespace {

using testsupport::CardAccess;
using testsupport::FakeCard;
using testsupport::IdromImage;
using unittest::CardModule;

constexpr uint16_t CMD = FakeCard::COMMAND;
constexpr uint16_t DATA = FakeCard::DATA;
constexpr uint16_t CSR = FakeCard::CSR;

CardAccess W(uint16_t a, uint32_t v) { return {true, a, v}; }
CardAccess R(uint16_t a, uint32_t v) { return {false, a, v}; }

TEST_F(CardModule, PortsSitAtFixedOffsetsFromTheModuleBase) {
  EXPECT_EQ(module->command_port(), 0x1000);
  EXPECT_EQ(module->data_port(), 0x1100);
  EXPECT_EQ(module->csr_port(0), 0x1200);
  EXPECT_EQ(module->csr_port(7), 0x121C);
  EXPECT_EQ(module->interface_port0(1), 0x1304);
  EXPECT_EQ(module->interface_port1(0), 0x1400);
  EXPECT_EQ(module->interface_port2(2), 0x1508);
  EXPECT_EQ(module->channel_start(), 0x40);
  EXPECT_EQ(module->channel_stride(), 0x20);
}

TEST_F(CardModule, RamAccessLoadsDataBeforeTheCommand) {
  fake.ram[0x21] = 0x7E;
  core::Result<uint8_t> value = module->read_ram(2, 0x21);
  ASSERT_TRUE(value);
  EXPECT_EQ(*value, 0x7E);
  ASSERT_TRUE(module->write_ram(2, 0x22, 0x5A));
  EXPECT_EQ(fake.ram[0x22], 0x5A);
  EXPECT_EQ(fake.accesses, (std::vector<CardAccess>{W(CMD, 0x2021), R(CMD, 0), R(DATA, 0x7E),
                                                     W(DATA, 0x5A), W(CMD, 0xA022), R(CMD, 0)}));
}

TEST_F(CardModule, RateIsFourBytesAndStopAllClearsEveryCsr) {
  ASSERT_TRUE(module->set_baudrate(1, 2500000));  // 0x002625A0
  ASSERT_TRUE(module->stop_all(1));
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

  ASSERT_TRUE(module->set_no_crc(2, 255));
  EXPECT_EQ(fake.ram[0x40 + 2 * 0x20 + 30], 255);
}

// The busy check before a run: always by default; left out, when asked, only while
// the module is known idle (its last command was seen to complete).
TEST_F(CardModule, TheBusyCheckBeforeARunIsLeftOutOnlyWhenTheModuleIsKnownIdle) {
  auto command_reads = [this] {
    long n = 0;
    for (const auto& a : fake.accesses) n += !a.write && a.address == testsupport::FakeCard::COMMAND;
    return n;
  };
  ASSERT_TRUE(module->doit(0x04));
  ASSERT_TRUE(module->doit(0x04));
  EXPECT_EQ(command_reads(), 4) << "a check and a done-poll for each run";

  card::SerialModule quick = *module;
  quick.skip_needless_ready_checks(true);
  fake.accesses.clear();
  // The module's RAM reads of the set-up completed: known idle from the start.
  ASSERT_TRUE(quick.doit(0x04));
  ASSERT_TRUE(quick.doit(0x04));
  EXPECT_EQ(command_reads(), 2) << "the done-polls only";
  fake.busy_reads = 1;  // a command that does not complete at once is still polled for
  ASSERT_TRUE(quick.doit(0x04));
  EXPECT_EQ(command_reads(), 4);
  // A command written and not seen complete: the next run checks again.
  fake.start_never_completes = true;
  ASSERT_TRUE(quick.start_setup(0x04));
  fake.start_never_completes = false;
  fake.set_command_register(0);
  fake.accesses.clear();
  ASSERT_TRUE(quick.doit(0x04));
  ASSERT_FALSE(fake.accesses.empty());
  EXPECT_EQ(fake.accesses.front(), R(CMD, 0)) << "the check comes before the run command";
}

TEST_F(CardModule, StartSetupGivesTheWholeFailureByte) {
  core::Result<uint8_t> failures = module->start_setup(0x04);
  ASSERT_TRUE(failures);
  EXPECT_EQ(*failures, 0);
  EXPECT_EQ(fake.accesses, (std::vector<CardAccess>{W(CMD, 0xF04), R(CMD, 0), R(DATA, 0)}));
  fake.start_failures = 0x01;  // another channel's bit is passed on too
  failures = module->start_setup(0x04);
  ASSERT_TRUE(failures);
  EXPECT_EQ(*failures, 0x01);
  fake.start_failures = 0;
  fake.busy_reads = 5;
  failures = module->start_setup(0x04);
  ASSERT_TRUE(failures);
  EXPECT_EQ(*failures, 0);
}

TEST_F(CardModule, StartSetupGivesUpAfterTwoHundredPolls) {
  fake.command_never_clears = true;
  core::Result<uint8_t> failures = module->start_setup(0x04);
  ASSERT_TRUE(failures);
  EXPECT_EQ(*failures, 0xFF);
  EXPECT_EQ(fake.accesses.size(), 201u);  // the command and 200 polls, no data read
}

TEST_F(CardModule, RunChecksReadinessThenGivesTheFailureByte) {
  fake.run_failures = 0x09;
  core::Result<uint8_t> failures = module->doit(0x0C);
  ASSERT_TRUE(failures);
  EXPECT_EQ(*failures, 0x09);
  EXPECT_EQ(fake.accesses, (std::vector<CardAccess>{R(CMD, 0), W(CMD, 0x100C), R(CMD, 0), R(DATA, 0x09)}));
}

TEST_F(CardModule, DoneWaitAllowsOneHundredThousandPolls) {
  fake.busy_reads = 99998;
  ASSERT_TRUE(module->write_ram(2, 0x10, 1));
  EXPECT_EQ(fake.accesses.size(), 2u + 99999u);
}

TEST_F(CardModule, ABusyModuleFailsWithADumpOfTheChannel) {
  fake.set_register(CSR + 8, 0x45000834);
  fake.set_register(FakeCard::USER0 + 8, 0x12345678);
  fake.set_register(FakeCard::USER1 + 8, 0x9ABCDEF0);
  fake.set_register(FakeCard::USER2 + 8, 0xFFFFFFFF);
  fake.set_register(FakeCard::USER0, 0xBAD);  // channel 0: must not show
  fake.command_never_clears = true;
  core::Status done = module->write_ram(2, 0x4A, 0x5A);
  ASSERT_FALSE(done);
  EXPECT_EQ(done.error().kind, core::FailureKind::module);
  EXPECT_EQ(done.error().form, core::FailureForm::with_register_dump);
  EXPECT_EQ(done.error().text, "Timeout waiting for done");
  EXPECT_EQ(done.error().dump, (std::vector<std::string>{"Command Port A04A", "Data Port 5A", "CSR Port 45000834",
                                                         "User0 12345678", "User1 9ABCDEF0", "User2 FFFFFFFF"}));
  EXPECT_TRUE(done.error().lines_before.empty());

  fake.busy_reads = 99999;  // clears on the last poll: the limit is still reached
  fake.command_never_clears = false;
  core::Result<uint8_t> value = module->read_ram(2, 3);
  ASSERT_FALSE(value);
  EXPECT_EQ(value.error().text, "Timeout waiting for done");
}

TEST_F(CardModule, ATransportFailureDuringTheDumpKeepsTheLinesReadSoFar) {
  fake.command_never_clears = true;
  fake.replies_left = 100000 + 2;  // the polls, then the command and data ports
  core::Status done = module->write_ram(2, 0x4A, 0x5A);
  ASSERT_FALSE(done);
  EXPECT_EQ(done.error().text, "Connection timed out");
  EXPECT_EQ(done.error().form, core::FailureForm::after_empty_line);
  EXPECT_EQ(done.error().lines_before,
            (std::vector<std::string>{"Timeout waiting for done", "Command Port A04A", "Data Port 5A"}));
  EXPECT_EQ(fake.accesses.back(), R(CSR + 8, 0));  // the read that got no answer was the last
}

TEST_F(CardModule, ARunOnABusyModuleIsRefusedWithTheLowestChannelsDump) {
  fake.set_command_register(0x2003);
  fake.set_register(CSR + 8, 0x45000834);
  core::Result<uint8_t> failures = module->doit(0x0C);
  ASSERT_FALSE(failures);
  EXPECT_EQ(failures.error().text, "Not ready for command ");
  EXPECT_EQ(failures.error().dump, (std::vector<std::string>{"Command Port 2003",
                                                             "Data Port 20",  // the stride, the last RAM byte read
                                                             "CSR Port 45000834", "User0 00000000", "User1 00000000",
                                                             "User2 00000000"}));
  EXPECT_EQ(fake.accesses.size(), 1u + 6u);  // no command was written
}

// ---- Opening the card ----------------------------------------------------------

class CardOpen : public testing::Test {
 protected:
  void SetUp() override {
    IdromImage image;
    image.module(2, card::SSERIALTAG, FakeCard::MODULE_BASE, 6);
    image.pin(1, 0x81, card::SSERIALTAG);  // port 0, bit 0
    image.pin(50, 0x82, card::SSERIALTAG);  // port 2, bit 1
    fake.load_idrom(0x0400, image.words);
    fake.ram[4] = 0x40;
    fake.ram[5] = 0x20;
  }
  core::Result<card::OpenedCard> open(card::StartMode mode, core::ChannelMask channels) {
    return card::open_card(*bus, {mode, channels, 0x01020304}, testsupport::test_waits(), notices);
  }
  // The words written to the command register, in order.
  std::vector<uint32_t> commands() const {
    std::vector<uint32_t> words;
    for (const CardAccess& a : fake.accesses_in(CMD, CMD))
      if (a.write) words.push_back(a.value);
    return words;
  }
  FakeCard fake;
  std::unique_ptr<card::HostBus> bus = card::make_ezal16_bus(fake.socket());
  unittest::NoticeLog notices;
};

TEST_F(CardOpen, WithoutAStartOnlyTheOutputMasksAreWritten) {
  core::Result<card::OpenedCard> opened = open(card::StartMode::none, 0x04);
  ASSERT_TRUE(opened);
  ASSERT_NE(opened->backend, nullptr);
  EXPECT_EQ(opened->not_started, 0);
  ASSERT_EQ(fake.accesses.size(), 258u + 4u);
  EXPECT_EQ(std::vector<CardAccess>(fake.accesses.begin() + 258, fake.accesses.end()),
            (std::vector<CardAccess>{W(0x1100, 1), W(0x1200, 1), W(0x1108, 2), W(0x1208, 2)}));
}

TEST_F(CardOpen, OneChannelMakesTheSingleChannelTraffic) {
  core::Result<card::OpenedCard> opened = open(card::StartMode::setup_no_crc, 0x04);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->not_started, 0);
  // Revision and layout, the rate at 0x40 + 2 * 0x20 + 42, stop all, CRC off at +30, start.
  EXPECT_EQ(commands(), (std::vector<uint32_t>{0x2002, 0x2003, 0x2004, 0x2005, 0xA0AA, 0xA0AB, 0xA0AC, 0xA0AD,
                                               0x800, 0xA09E, 0xF04}));
  EXPECT_EQ(fake.ram[0xAA], 0x04);
  EXPECT_EQ(fake.ram[0xAD], 0x01);
}

TEST_F(CardOpen, SeveralChannelsStartWithOneCommandAndReportWhichFailed) {
  fake.start_failures = 0x44;  // channel 2 of the mask, and channel 6 outside it
  core::Result<card::OpenedCard> opened = open(card::StartMode::setup_no_crc, 0x05);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->not_started, 0x04);
  EXPECT_EQ(opened->start_reply, 0x44);
  EXPECT_EQ(commands(), (std::vector<uint32_t>{0x2002, 0x2003, 0x2004, 0x2005, 0xA06A, 0xA06B, 0xA06C, 0xA06D,
                                               0xA0AA, 0xA0AB, 0xA0AC, 0xA0AD, 0x800, 0xA05E, 0xA09E, 0xF05}));
}

TEST_F(CardOpen, AStartThatNeverCompletesLeavesEveryChannelUnstarted) {
  fake.start_never_completes = true;
  core::Result<card::OpenedCard> opened = open(card::StartMode::setup, 0x06);
  ASSERT_TRUE(opened);  // the link decides what an unstarted channel means
  EXPECT_EQ(opened->not_started, 0x06);
  EXPECT_EQ(opened->start_reply, 0xFF);
  EXPECT_EQ(fake.accesses.back(), R(CMD, 0xF06));  // the last poll; the data port is not read
}

TEST_F(CardOpen, NoModuleIsAnOpenFailureAfterTheCopy) {
  IdromImage image;  // no module, and a pin layout that would fail later
  image.words[9] = 0;
  fake.load_idrom(0x0400, image.words);
  core::Result<card::OpenedCard> opened = open(card::StartMode::setup, 0x01);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().text, "No SSZAL hardware");
  EXPECT_EQ(opened.error().kind, core::FailureKind::open);
  EXPECT_EQ(opened.error().form, core::FailureForm::after_empty_line);
  EXPECT_EQ(fake.accesses.size(), 258u);
}

}  // namespace
