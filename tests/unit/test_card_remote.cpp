#include <gtest/gtest.h>

#include "card/backend.h"
#include "card_fixture.h"

namespace {

using core::Location;
using core::Memory;
using core::Width;
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

uint16_t csr(int k) { return static_cast<uint16_t>(FakeCard::CSR + 4 * k); }
uint16_t user0(int k) { return static_cast<uint16_t>(FakeCard::USER0 + 4 * k); }
uint16_t user1(int k) { return static_cast<uint16_t>(FakeCard::USER1 + 4 * k); }

Location ram(Width width, uint16_t address) { return {Memory::ram, width, address}; }
Location eeprom(Width width, uint16_t address) { return {Memory::eeprom, width, address}; }

// The seven accesses of one local-register write, and of one local-register read.
std::vector<CardAccess> local_write(int k, uint8_t reg, uint8_t value) {
  return join({{W(csr(k), static_cast<uint32_t>(reg + 0x20) << 24), W(user0(k), value)}, run(0x1000u + (1u << k)),
               {W(csr(k), 0)}});
}
std::vector<CardAccess> local_read(int k, uint8_t reg, uint8_t value) {
  return join({{W(csr(k), static_cast<uint32_t>(reg) << 24)}, run(0x1000u + (1u << k)), {R(user0(k), value), W(csr(k), 0)}});
}

class CardBackend : public CardModule {
 protected:
  uint64_t read(uint8_t channel, Location location) {
    core::Result<uint64_t> value = backend->read(channel, location);
    EXPECT_TRUE(value) << (value ? "" : value.error().text);
    return value ? *value : 0;
  }
  void write(uint8_t channel, Location location, uint64_t value) {
    core::Status done = backend->write(channel, location, value);
    EXPECT_TRUE(done) << (done ? "" : done.error().text);
  }
};

TEST_F(CardBackend, WordReadOnChannelTwo) {
  fake.drive_memory[2][0x0834] = 0x34;
  fake.drive_memory[2][0x0835] = 0x12;
  fake.drive_memory[2][0x0836] = 0xFF;  // beyond the word
  EXPECT_EQ(read(2, ram(Width::word, 0x0834)), 0x1234u);
  EXPECT_EQ(fake.accesses, join({{W(csr(2), 0x45000834)}, run(0x1004), {R(user0(2), 0x1234), W(csr(2), 0)}}));
}

TEST_F(CardBackend, ReadsTakeTheirWidthFromTheDataRegister) {
  for (uint16_t i = 0; i < 8; ++i) fake.drive_memory[2][static_cast<uint16_t>(0x100 + i)] = 0xF1 + i;
  EXPECT_EQ(read(2, ram(Width::byte, 0x100)), 0xF1u);
  EXPECT_EQ(read(2, ram(Width::long_word, 0x100)), 0xF4F3F2F1u);
  fake.accesses.clear();
  EXPECT_EQ(read(2, ram(Width::double_word, 0x100)), 0xF8F7F6F5F4F3F2F1u);
  EXPECT_EQ(fake.accesses, join({{W(csr(2), 0x47000100)},
                                 run(0x1004),
                                 {R(user0(2), 0xF4F3F2F1), R(user1(2), 0xF8F7F6F5), W(csr(2), 0)}}));
}

TEST_F(CardBackend, WritesLoadDataAfterTheCsrAndBeforeTheRun) {
  write(2, ram(Width::byte, 0x0200), 0xFF);
  EXPECT_EQ(fake.accesses, join({{W(csr(2), 0x64000200), W(user0(2), 0x000000FF)}, run(0x1004), {W(csr(2), 0)}}));
  fake.accesses.clear();

  write(2, ram(Width::double_word, 0x0210), 0x8877665544332211);
  EXPECT_EQ(fake.accesses, join({{W(csr(2), 0x67000210), W(user0(2), 0x44332211), W(user1(2), 0x88776655)},
                                 run(0x1004),
                                 {W(csr(2), 0)}}));
  EXPECT_EQ(read(2, ram(Width::double_word, 0x0210)), 0x8877665544332211u);

  write(2, ram(Width::word, 0x0220), 0xFFFFFFFFFFFFBEEF);  // only the word's bits go out
  EXPECT_EQ(fake.accesses[fake.accesses.size() - 6], W(user0(2), 0xBEEF));
  write(2, ram(Width::long_word, 0x0230), 0xFFFFFFFE);
  EXPECT_EQ(read(2, ram(Width::word, 0x0220)), 0xBEEFu);
  EXPECT_EQ(read(2, ram(Width::long_word, 0x0230)), 0xFFFFFFFEu);
}

TEST_F(CardBackend, AFailedTransferFailsAloneAndLeavesTheCsr) {
  fake.run_failures = 0x01;  // another channel's bit: not this channel's failure
  EXPECT_EQ(read(2, ram(Width::word, 0x0812)), 0u);
  fake.run_failures = 0x04;
  fake.accesses.clear();
  core::Result<uint64_t> value = backend->read(2, ram(Width::word, 0x0812));
  ASSERT_FALSE(value);
  EXPECT_EQ(value.error().text, "SSZAL Transfer Failed");
  EXPECT_EQ(value.error().form, core::FailureForm::alone);
  EXPECT_EQ(value.error().kind, core::FailureKind::module);
  EXPECT_EQ(fake.accesses, join({{W(csr(2), 0x45000812)}, run(0x1004, 0x04)}));
  core::Status done = backend->write(2, ram(Width::long_word, 0x0812), 1);
  ASSERT_FALSE(done);
  EXPECT_EQ(done.error().text, "SSZAL Transfer Failed");
}

TEST_F(CardBackend, EepromReadBracketsTheTransferWithTheNonVolatileFlag) {
  fake.drive_memory[2][0x10] = 0xCD;
  fake.drive_memory[2][0x11] = 0xAB;
  EXPECT_EQ(read(2, eeprom(Width::word, 0x10)), 0xABCDu);
  EXPECT_EQ(fake.accesses, join({local_write(2, 0xCC, 1),
                                 {W(csr(2), 0x45000010)},
                                 run(0x1004),
                                 {R(user0(2), 0xABCD), W(csr(2), 0)},
                                 local_write(2, 0xCC, 0)}));
  EXPECT_EQ(fake.drive_locals[2][0xCC], 0);
}

TEST_F(CardBackend, EepromWriteClearsTheFlagAndReadsItBack) {
  write(2, eeprom(Width::long_word, 0x20), 0x01020304);
  EXPECT_EQ(fake.accesses, join({local_write(2, 0xCC, 1),
                                 {W(csr(2), 0x66000020), W(user0(2), 0x01020304)},
                                 run(0x1004),
                                 {W(csr(2), 0)},
                                 local_write(2, 0xCC, 0),
                                 local_read(2, 0xCC, 0)}));
  EXPECT_TRUE(notices.lines.empty());
  EXPECT_EQ(read(2, eeprom(Width::long_word, 0x20)), 0x01020304u);
  EXPECT_EQ(read(2, eeprom(Width::byte, 0x20)), 0x04u);
}

TEST_F(CardBackend, AFlagThatStaysSetOnceIsClearedAgain) {
  fake.nonvol_stuck_clears = 1;
  write(2, eeprom(Width::word, 0x30), 0x1234);
  EXPECT_EQ(notices.lines, std::vector<std::string>{"Old buggy bit file in use"});
  EXPECT_EQ(fake.drive_locals[2][0xCC], 0);
  EXPECT_EQ(fake.drive_memory[2][0x30], 0x34);
}

TEST_F(CardBackend, AFlagThatNeverClearsFailsAfterTheNotice) {
  fake.nonvol_stuck_clears = 1000;
  core::Status done = backend->write(2, eeprom(Width::byte, 0x30), 7);
  ASSERT_FALSE(done);
  EXPECT_EQ(notices.lines, std::vector<std::string>{"Old buggy bit file in use"});
  EXPECT_EQ(done.error().text, "Broken Old buggy bit file in use cycle ZR90 power");
  EXPECT_EQ(done.error().form, core::FailureForm::alone);
  EXPECT_EQ(done.error().kind, core::FailureKind::nonvolatile);
}

TEST_F(CardBackend, RefusalsSendNothing) {
  EXPECT_EQ(backend->read(2, eeprom(Width::double_word, 0)).error().kind, core::FailureKind::unsupported);
  EXPECT_FALSE(backend->write(8, ram(Width::word, 0), 1));
  const Location mixed[] = {eeprom(Width::word, 0), eeprom(Width::double_word, 2)};
  EXPECT_FALSE(backend->read_eeprom_batch(2, mixed));
  EXPECT_TRUE(fake.accesses.empty());
}

// ---- Several channels, one run command ------------------------------------------

TEST_F(CardBackend, OneRunCommandReadsEveryChannelAndNamesTheFailedOne) {
  for (int k : {0, 2, 3}) fake.drive_memory[k][0x40] = static_cast<uint8_t>(0x10 + k);
  fake.run_failures = 0x04;
  auto readings = backend->read_channels(0x0D, ram(Width::word, 0x40));
  ASSERT_TRUE(readings);
  ASSERT_EQ(readings->size(), 3u);
  EXPECT_EQ((*readings)[0].channel, 0);
  EXPECT_EQ(*(*readings)[0].value, 0x10u);
  EXPECT_EQ((*readings)[1].channel, 2);
  ASSERT_FALSE((*readings)[1].value);
  EXPECT_EQ((*readings)[1].value.error().text, "SSZAL Transfer Failed");
  EXPECT_EQ((*readings)[2].channel, 3);
  EXPECT_EQ(*(*readings)[2].value, 0x13u);
  EXPECT_EQ(fake.accesses, join({{W(csr(0), 0x45000040), W(csr(2), 0x45000040), W(csr(3), 0x45000040)},
                                 run(0x100D, 0x04),
                                 {R(user0(0), 0x10), W(csr(0), 0), R(user0(3), 0x13), W(csr(3), 0)}}));
}

// EEPROM on several drives at once: each step is one run command for the channels
// still going; a drive whose transfer fails drops out, yet its flag is cleared too.
TEST_F(CardBackend, EepromOfSeveralChannelsSideBySide) {
  for (int k : {0, 2}) {
    fake.drive_memory[k][0x10] = static_cast<uint8_t>(0x20 + k);
    fake.drive_memory[k][0x12] = static_cast<uint8_t>(0x30 + k);
  }
  fake.run_failures = 0x04;
  const std::vector<Location> locations{eeprom(Width::word, 0x10), eeprom(Width::word, 0x12)};
  auto results = backend->read_eeprom_channels(0x05, locations);
  ASSERT_TRUE(results);
  ASSERT_EQ(results->size(), 2u);
  EXPECT_EQ((*results)[0].channel, 0);
  EXPECT_EQ(*(*results)[0].values, (std::vector<uint64_t>{0x20, 0x30}));
  EXPECT_EQ((*results)[1].channel, 2);
  EXPECT_EQ((*results)[1].values.error().text, "SSZAL Transfer Failed");
  std::vector<uint32_t> runs;
  for (const CardAccess& a : fake.accesses) {
    if (a.write && a.address == FakeCard::COMMAND && (a.value & 0x1000) != 0) runs.push_back(a.value);
  }
  EXPECT_EQ(runs, (std::vector<uint32_t>{0x1005, 0x1001, 0x1001, 0x1005}));
  EXPECT_EQ(fake.drive_locals[0][0xCC], 0);
  EXPECT_EQ(fake.drive_locals[2][0xCC], 0);

  // One channel: exactly the traffic of its own batch.
  fake.run_failures = 0;
  fake.accesses.clear();
  ASSERT_TRUE(backend->read_eeprom_batch(2, locations));
  const std::vector<CardAccess> single = fake.accesses;
  fake.accesses.clear();
  ASSERT_TRUE(backend->read_eeprom_channels(0x04, locations));
  EXPECT_EQ(fake.accesses, single);
}

TEST_F(CardBackend, OneChannelReadsAsASingleRead) {
  fake.drive_memory[5][0x40] = 0x99;
  for (Width width : {Width::word, Width::double_word}) {
    fake.accesses.clear();
    read(5, ram(width, 0x40));
    const std::vector<CardAccess> single = fake.accesses;
    fake.accesses.clear();
    auto readings = backend->read_channels(0x20, ram(width, 0x40));
    ASSERT_TRUE(readings);
    ASSERT_EQ(readings->size(), 1u);
    EXPECT_EQ(*(*readings)[0].value, 0x99u);
    EXPECT_EQ(fake.accesses, single);
  }
}

TEST_F(CardBackend, ABusyModuleEndsEveryChannelsReadWithTheLowestChannelsDump) {
  fake.set_command_register(0x2003);
  auto readings = backend->read_channels(0x0C, ram(Width::word, 0x0834));
  ASSERT_FALSE(readings);
  EXPECT_EQ(readings.error().text, "Not ready for command ");
  EXPECT_EQ(readings.error().dump[2], "CSR Port 45000834");
  EXPECT_EQ(fake.accesses_in(CMD, CMD), (std::vector<CardAccess>{R(CMD, 0x2003), R(CMD, 0x2003)}));
}

// ---- EEPROM batches ---------------------------------------------------------------

TEST_F(CardBackend, AnEepromReadBatchSetsAndClearsTheFlagOnce) {
  fake.drive_memory[2][0x10] = 0x22;
  fake.drive_memory[2][0x20] = 0x44;
  const Location locations[] = {eeprom(Width::word, 0x10), eeprom(Width::long_word, 0x20)};
  auto values = backend->read_eeprom_batch(2, locations);
  ASSERT_TRUE(values);
  EXPECT_EQ(*values, (std::vector<uint64_t>{0x22, 0x44}));
  EXPECT_EQ(fake.accesses, join({local_write(2, 0xCC, 1),
                                 {W(csr(2), 0x45000010)},
                                 run(0x1004),
                                 {R(user0(2), 0x22), W(csr(2), 0)},
                                 {W(csr(2), 0x46000020)},
                                 run(0x1004),
                                 {R(user0(2), 0x44), W(csr(2), 0)},
                                 local_write(2, 0xCC, 0)}));
}

TEST_F(CardBackend, AnEepromWriteBatchClearsTheFlagOnceAndReadsItBack) {
  fake.nonvol_stuck_clears = 1;
  const core::EepromWrite writes[] = {{eeprom(Width::word, 0x10), 0x1234}, {eeprom(Width::byte, 0x20), 0x56}};
  ASSERT_TRUE(backend->write_eeprom_batch(2, writes));
  EXPECT_EQ(fake.drive_memory[2][0x11], 0x12);
  EXPECT_EQ(fake.drive_memory[2][0x20], 0x56);
  EXPECT_EQ(notices.lines, std::vector<std::string>{"Old buggy bit file in use"});
  const std::vector<CardAccess> tail = join({local_write(2, 0xCC, 0), local_read(2, 0xCC, 0)});
  // set, two writes, then the clear and read-back twice (the first clear was ignored)
  ASSERT_EQ(fake.accesses.size(), 7u + 2 * 7u + 2 * tail.size());
  EXPECT_EQ(std::vector<CardAccess>(fake.accesses.begin(), fake.accesses.begin() + 7), local_write(2, 0xCC, 1));
  EXPECT_EQ(std::vector<CardAccess>(fake.accesses.end() - static_cast<long>(tail.size()), fake.accesses.end()), tail);
  std::size_t flag_sets = 0;
  for (const CardAccess& a : fake.accesses)
    if (a == W(csr(2), 0xEC000000)) ++flag_sets;
  EXPECT_EQ(flag_sets, 3u);  // set once, cleared twice
}

}  // namespace
