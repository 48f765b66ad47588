// A fake card brought to the state opening the card leaves it in: IDROM read,
// module located at FakeCard::MODULE_BASE, channel layout read (start 0x40,
// stride 0x20), a card backend over an EZAL16 bus. The access record starts empty.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "card/backend.h"
#include "card/card.h"
#include "card/idrom.h"
#include "card/sserial.h"
#include "support/fake_card.h"
#include "support/manual_clock.h"

namespace unittest {

class NoticeLog final : public core::Reporter {
 public:
  void notice(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

class CardModule : public testing::Test {
 protected:
  void SetUp() override {
    testsupport::IdromImage image;
    image.module(2, card::SSERIALTAG, testsupport::FakeCard::MODULE_BASE, 6);
    fake.load_idrom(0x0400, image.words);
    fake.ram[4] = 0x40;
    fake.ram[5] = 0x20;
    bus = card::make_ezal16_bus(fake.socket());
    core::Result<card::Idrom> idrom = card::read_idrom(*bus);
    ASSERT_TRUE(idrom);
    const std::optional<card::ModuleInfo> found = card::find_module(*idrom, card::SSERIALTAG);
    ASSERT_TRUE(found.has_value());
    module.emplace(*bus, found->base, testsupport::test_waits());
    ASSERT_TRUE(module->channel_access_init(2));
    backend = card::make_card_backend(*module, notices);
    fake.accesses.clear();
  }

  testsupport::FakeCard fake;
  std::unique_ptr<card::HostBus> bus;
  std::optional<card::SerialModule> module;
  NoticeLog notices;
  std::unique_ptr<core::Backend> backend;
};

}  // namespace unittest
