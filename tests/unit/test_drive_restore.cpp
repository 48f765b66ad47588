#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "drive/reading.h"
#include "drive/restore.h"

namespace {

using namespace drive;

Parameter named(const char* name) {
  core::Result<Parameter> parameter = find_parameter(name);
  EXPECT_TRUE(parameter.ok()) << name;
  return *parameter;
}

struct Fault {
  uint8_t channel = 0;
  const char* name = "";
  bool on_write = true;
  core::FailureKind kind = core::FailureKind::module;
  // A module failure of one drive is its channel's transfer failure; any other ends every channel.
  core::Failure failure() const {
    return kind == core::FailureKind::module ? core::channel_failure(kind, "refused") : core::fail(kind, "refused");
  }
};

// Drives as bytes in memory, so that a long written reads back through the word
// inside it. One access may fail; writes to one parameter may be lost.
class MemoryDrives final : public core::Backend {
 public:
  core::Result<uint64_t> read(uint8_t channel, core::Location location) override {
    ++accesses[channel];
    if (failing(channel, location, false)) return fault->failure();
    uint64_t value = 0;
    for (unsigned i = static_cast<unsigned>(location.width); i-- > 0;) value = value << 8 | byte(channel, location, i);
    return value;
  }
  core::Status write(uint8_t channel, core::Location location, uint64_t value) override {
    ++accesses[channel];
    ++writes;
    if (failing(channel, location, true)) return fault->failure();
    if (lost && lost->location.address == location.address) return {};
    for (unsigned i = 0; i < static_cast<unsigned>(location.width); ++i) byte(channel, location, i) = value >> (8 * i);
    // A drive whose memory shows one location at two addresses.
    if (mirror && mirror->first.location.address == location.address) {
      for (unsigned i = 0; i < static_cast<unsigned>(location.width); ++i) {
        byte(channel, mirror->second.location, i) = value >> (8 * i);
      }
    }
    return {};
  }
  core::Result<std::vector<core::ChannelReading>> read_channels(core::ChannelMask channels,
                                                                core::Location location) override {
    masks.push_back(channels);
    return Backend::read_channels(channels, location);
  }

  std::optional<Fault> fault;
  std::optional<Parameter> lost;
  std::optional<std::pair<Parameter, Parameter>> mirror;
  std::map<uint8_t, int> accesses;
  std::vector<core::ChannelMask> masks;
  int writes = 0;

 private:
  bool failing(uint8_t channel, core::Location location, bool on_write) const {
    return fault && fault->channel == channel && fault->on_write == on_write &&
           named(fault->name).location.address == location.address;
  }
  uint8_t& byte(uint8_t channel, core::Location location, unsigned i) {
    return bytes_[{channel, location.memory, static_cast<uint16_t>(location.address + i)}];
  }

  std::map<std::tuple<uint8_t, core::Memory, uint16_t>, uint8_t> bytes_;
};

DriveSettings settings(std::vector<std::pair<const char*, uint64_t>> values) {
  DriveSettings drive;
  for (const auto& [name, bits] : values) drive.eeprom.push_back({named(name), bits});
  return drive;
}

std::string changes_text(const std::vector<Change>& changes) {
  std::string text;
  for (const Change& c : changes) {
    text += (text.empty() ? "" : ", ") + c.wanted.parameter.name + " " + std::to_string(c.old_bits) + "->" +
            std::to_string(c.wanted.bits);
    if (c.covered_by) text += " (by " + std::to_string(*c.covered_by) + ")";
  }
  return text;
}

TEST(DriveRestore, OnlyWhatDiffersChangesAndAWordInsideAChangedLongIsOnlyReadBack) {
  const DriveSettings live = settings({{"nvkqp", 1}, {"nvkqi", 0}, {"nvkqilo", 0}, {"nvkqihi", 0}, {"nvkdp", 3}});
  struct Case {
    DriveSettings wanted;
    const char* changes;
  };
  const Case cases[] = {
      {settings({{"nvkqp", 1}, {"nvkqi", 5}, {"nvkqilo", 5}, {"nvkqihi", 0}, {"nvkdp", 2}}),
       "nvkqi 0->5, nvkqilo 0->5 (by 0), nvkdp 3->2"},
      // Without the long, the word is written itself.
      {settings({{"nvkqilo", 5}}), "nvkqilo 0->5"},
      {settings({{"nvkqp", 1}}), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(changes_text(changes_for(c.wanted, live)), c.changes);
}

// Outcome letters, axis by axis: Verified, Differs, Unconfirmed, Not written, Overwritten.
std::string outcomes(const std::vector<AxisPlan>& plans) {
  std::string text;
  for (const AxisPlan& plan : plans) {
    if (!text.empty()) text += " | ";
    for (const Change& change : plan.changes) text += "PVDUNO"[static_cast<int>(change.outcome)];
  }
  return text;
}

TEST(DriveRestore, StopRules) {
  struct Case {
    const char* title;
    std::optional<Fault> fault;
    const char* lost;                // writes to it are lost
    int cancel_after;                // changes tried before Ctrl-C; -1 for none
    const char* declined;            // the write the confirmation refuses
    const char* outcomes;
    int writes;
  };
  using core::FailureKind;
  const Case cases[] = {
      {"all verified", std::nullopt, "", -1, "", "VVVV | VVVV", 6},
      {"a drive's failure stops its axis", Fault{0, "nvkqi", true, FailureKind::module}, "", -1, "", "VUNN | VVVV", 5},
      {"a failed read-back is not confirmed", Fault{1, "nvkdp", false, FailureKind::module}, "", -1, "", "VVVV | VVVU", 6},
      {"the link's failure stops every axis", Fault{0, "nvkqi", true, FailureKind::timeout}, "", -1, "", "VUNN | NNNN", 2},
      {"the flag's failure stops every axis", Fault{0, "nvkqi", true, FailureKind::nonvolatile}, "", -1, "",
       "VUNN | NNNN", 2},
      {"a value read back different stops nothing", std::nullopt, "nvkqp", -1, "", "DVVV | DVVV", 6},
      {"a word inside a long shares the long's outcome", std::nullopt, "nvkqi", -1, "", "VDDV | VDDV", 6},
      {"Ctrl-C lets the write in progress finish", std::nullopt, "", 2, "", "VVNN | NNNN", 2},
      {"a declined write is not written, nor what it covers", std::nullopt, "", -1, "nvkqi", "VNNV | VNNV", 4},
  };
  for (const Case& c : cases) {
    MemoryDrives drives;
    drives.fault = c.fault;
    if (*c.lost != '\0') drives.lost = named(c.lost);
    const DriveSettings wanted = settings({{"nvkqp", 1}, {"nvkqi", 0xFFFFFFFB}, {"nvkqilo", 0xFFFB}, {"nvkdp", 2}});
    const DriveSettings live = settings({{"nvkqp", 0}, {"nvkqi", 0}, {"nvkqilo", 0}, {"nvkdp", 0}});
    std::vector<AxisPlan> plans{{0, changes_for(wanted, live)}, {1, changes_for(wanted, live)}};
    int tried = 0;
    RestoreCallbacks callbacks;
    callbacks.cancelled = [&] { return c.cancel_after >= 0 && tried >= c.cancel_after; };
    callbacks.confirm = [&](uint8_t, const Change& change) { return change.wanted.parameter.name != c.declined; };
    callbacks.progress = [&](uint8_t, const Change& change, const WriteOutcome&) {
      ++tried;
      EXPECT_NE(change.outcome, Outcome::not_written) << c.title;
    };
    const RestoreEnd end = apply_restore(drives, plans, callbacks);
    EXPECT_EQ(outcomes(plans), c.outcomes) << c.title;
    EXPECT_EQ(drives.writes, c.writes) << c.title;
    EXPECT_EQ(end, c.cancel_after >= 0 ? RestoreEnd::cancelled : RestoreEnd::finished) << c.title;
  }
}

TEST(DriveReading, AnAxisThatDidNotStartIsNeverAccessed) {
  const std::vector<uint8_t> axes{0, 1, 2};
  const core::ChannelMask not_started = core::channel_bit(1);
  for (const char* name : {"kqp", "nvkqp"}) {
    MemoryDrives drives;
    const std::vector<AxisValue> values = read_on_axes(drives, axes, not_started, named(name));
    ASSERT_EQ(values.size(), 3u) << name;
    EXPECT_TRUE(values[0].value.ok() && values[2].value.ok()) << name;
    EXPECT_EQ(values[1].value.error().text, "the channel did not start") << name;
    EXPECT_EQ(drives.accesses.count(1), 0u) << name;
    // RAM in one transaction on the channels that started; EEPROM axis by axis.
    const bool ram = named(name).location.memory == core::Memory::ram;
    EXPECT_EQ(drives.masks, ram ? std::vector<core::ChannelMask>{0b101} : std::vector<core::ChannelMask>{}) << name;
  }
}

// The last read of a restore finds a setting a later write changed: it is not
// counted as restored.
TEST(DriveRestore, ASettingALaterWriteChangedIsOverwritten) {
  MemoryDrives drives;
  drives.mirror = std::make_pair(named("nvkdp"), named("nvkqp"));
  const DriveSettings wanted = settings({{"nvkqp", 1}, {"nvkdp", 2}});
  const DriveSettings live = settings({{"nvkqp", 0}, {"nvkdp", 0}});
  std::vector<AxisPlan> plans{{0, changes_for(wanted, live)}};
  EXPECT_EQ(apply_restore(drives, plans, {}), RestoreEnd::finished);
  EXPECT_EQ(outcomes(plans), "OV");
}

}  // namespace
