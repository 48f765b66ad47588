// A fake card brought to the state the SSZAL initialisation leaves it in: IDROM
// copied, module located at FakeCard::MODULE_BASE, channel layout read (start
// 0x40, stride 0x20). The access record starts empty.
#pragma once

#include <gtest/gtest.h>

#include "card/idrom.h"
#include "card/sserial.h"
#include "link/link.h"
#include "support/fake_card.h"

namespace unittest {

class CardModule : public testing::Test {
 protected:
  void SetUp() override {
    testsupport::IdromImage image;
    image.module(2, card::SSERIALTAG, testsupport::FakeCard::MODULE_BASE, 6);
    fake.install();
    fake.load_idrom(0x0400, image.words);
    fake.ram[4] = 0x40;
    fake.ram[5] = 0x20;
    card::FILLQX3ARRAY();
    ASSERT_TRUE(card::INITIALIZESSBASEADDR());
    card::SSZALCHANNELACCESSINIT();
    drivelink::AXIS = 2;
    fake.accesses.clear();
  }

  testsupport::FakeCard fake;
};

}  // namespace unittest
