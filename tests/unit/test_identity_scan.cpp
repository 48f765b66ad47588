// What a card's ROM and a drive's parameters say it is, and the address and rate
// lists a scan takes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "card/identity.h"
#include "card/idrom.h"
#include "drive/identity.h"
#include "link/probe.h"

namespace {

// ---- Addresses and rates -----------------------------------------------------------

TEST(ScanLists, AddressesFromSingleOnesAndBlocks) {
  const struct {
    const char* given;
    std::size_t count;
    const char* first;
    const char* last;
  } rows[] = {
      {"10.0.0.7", 1, "10.0.0.7", "10.0.0.7"},
      {"10.0.0.7,10.0.0.7", 1, "10.0.0.7", "10.0.0.7"},
      {"10.0.0.9/30", 2, "10.0.0.9", "10.0.0.10"},  // the block's network and broadcast are nobody's
      {"10.0.0.5/31", 2, "10.0.0.4", "10.0.0.5"},
      {"192.168.1.77/24", 254, "192.168.1.1", "192.168.1.254"},
      {"10.0.0.1,192.168.1.0/24", 255, "10.0.0.1", "192.168.1.254"},
  };
  for (const auto& row : rows) {
    const core::Result<std::vector<std::string>> addresses = drivelink::scan_addresses(row.given);
    ASSERT_TRUE(addresses) << row.given << ": " << addresses.error().text;
    EXPECT_EQ(addresses->size(), row.count) << row.given;
    EXPECT_EQ(addresses->front(), row.first) << row.given;
    EXPECT_EQ(addresses->back(), row.last) << row.given;
  }
}

TEST(ScanLists, RefusesWhatIsNoAddressOrTooMany) {
  for (const char* given : {"", "10.0.0", "10.0.0.256", "10.0.0.1.2", "10.0.0.-1", "10.0.0.1/", "10.0.0.1/33",
                            "10.0.0.1/2x", "10.0.0.0/23", "10.0.0.0/24,10.0.1.0/24", "10.0.0.1,,10.0.0.2"}) {
    EXPECT_FALSE(drivelink::scan_addresses(given)) << given;
  }
}

TEST(ScanLists, Rates) {
  EXPECT_EQ(*drivelink::scan_rates("115200,9600,115200"), (std::vector<int32_t>{115200, 9600}));
  for (const char* given : {"", "0", "fast", "9600,", "-9600", "4294967296"}) {
    EXPECT_FALSE(drivelink::scan_rates(given)) << given;
  }
}

// ---- A card's identity ----------------------------------------------------------

card::Idrom rom_with(std::initializer_list<card::MODULETYPE> modules,
                     std::initializer_list<std::pair<int, card::PINDESCTYPE>> pins) {
  card::Idrom idrom;
  idrom.header.BOARDNAMELOW = 0x3039525A;   // "ZR90"
  idrom.header.BOARDNAMEHIGH = 0x00004243;  // "CB" and two NULs
  idrom.header.IOWIDTH = 48;
  idrom.header.CLOCKLOW = 33333333;
  idrom.header.CLOCKHIGH = 100000000;
  std::size_t m = 0;
  for (const card::MODULETYPE& module : modules) idrom.modules[m++] = module;
  for (const auto& [number, pin] : pins) idrom.pins[static_cast<std::size_t>(number)] = pin;
  return idrom;
}

TEST(CardIdentity, NamesTheBoardTheModulesAndTheSerialChannels) {
  const card::Idrom idrom = rom_with(
      {{card::WATCHDOGTAG, 0, 1, 1, 0x0C00, 3, 0, 0}, {card::SSERIALTAG, 2, 2, 1, 0x5000, 6, 0, 0}, {99, 1, 0, 2, 0x6000, 1, 0, 0}},
      {{1, {1, card::SSERIALTAG, 3, 0}},
       {2, {2, card::SSERIALTAG, 0, 0}},
       {3, {3, card::SSERIALTAG, 3, 0}},
       {4, {4, card::PWMTAG, 1, 0}},
       {60, {1, card::SSERIALTAG, 6, 0}}});  // beyond the ROM's 48 I/O pins: not the board's
  const card::CardIdentity identity = card::identify_card(idrom);
  EXPECT_EQ(identity.board, "ZR90CB");
  EXPECT_DOUBLE_EQ(identity.clock_high_mhz, 100.0);
  ASSERT_EQ(identity.modules.size(), 3u);
  EXPECT_EQ(identity.modules[0].name, "watchdog");
  EXPECT_EQ(identity.modules[1].name, "sserial");
  EXPECT_EQ(identity.modules[1].version, 2);
  EXPECT_EQ(identity.modules[1].base, 0x5000);
  EXPECT_EQ(identity.modules[2].name, "tag 99");
  EXPECT_EQ(identity.serial_channels, (std::vector<uint8_t>{0, 3}));
}

// ---- A drive's identity ---------------------------------------------------------

// Answers each read with its address, until the read numbered fail_at, which fails
// with the given scope.
class CountingDrive final : public core::Backend {
 public:
  CountingDrive(int fail_at, core::FailureScope scope) : fail_at_(fail_at), scope_(scope) {}
  core::Result<uint64_t> read(uint8_t, core::Location location) override {
    if (++reads == fail_at_) {
      core::Failure failure = core::fail(core::FailureKind::timeout, "no answer");
      failure.scope = scope_;
      return failure;
    }
    return location.address == 0x0852 ? uint64_t{0x0001} : uint64_t{location.address};
  }
  core::Status write(uint8_t, core::Location, uint64_t) override { return {}; }
  int reads = 0;

 private:
  int fail_at_;
  core::FailureScope scope_;
};

TEST(DriveIdentity, ReadsEachValueAndStopsAtAFailureThatEndsTheLink) {
  const struct {
    int fail_at;
    core::FailureScope scope;
    int reads;
    std::size_t failed;
    bool fault_read;
  } rows[] = {
      {0, core::FailureScope::link, 7, 0, true},
      {2, core::FailureScope::channel, 7, 1, true},
      {2, core::FailureScope::link, 2, 5, false},
  };
  for (const auto& row : rows) {
    CountingDrive drive(row.fail_at, row.scope);
    const drive::DriveIdentity identity = drive::read_drive_identity(drive, 3);
    EXPECT_EQ(drive.reads, row.reads) << row.fail_at;
    EXPECT_EQ(identity.axis, 3);
    ASSERT_EQ(identity.values.size(), drive::identity_names().size());
    std::size_t failed = 0;
    for (const drive::IdentityValue& value : identity.values) failed += value.value ? 0 : 1;
    EXPECT_EQ(failed, row.failed) << row.fail_at;
    EXPECT_EQ(identity.fault.ok(), row.fault_read) << row.fail_at;
    EXPECT_EQ(identity.fault_bits.size(), row.fault_read ? 1u : 0u) << row.fail_at;
  }
}

}  // namespace
