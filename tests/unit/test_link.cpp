#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "card/idrom.h"
#include "card/sserial.h"
#include "core/text.h"
#include "link/link.h"
#include "platform/wire_trace.h"
#include "support/fake_card.h"
#include "support/manual_clock.h"
#include "support/scripted_serial.h"

namespace {

using config::INTERFACETYPES;
using config::LinkSettings;
using config::PROTOCOLTYPES;
using drivelink::Link;
using testsupport::scripted_line;

LinkSettings settings_for(INTERFACETYPES interface_kind, PROTOCOLTYPES protocol) {
  LinkSettings settings;
  settings.interface_kind = interface_kind;
  settings.protocol = protocol;
  settings.comport = "COM1";
  settings.baudrate = 115200;
  settings.baudrate_mul = 1.0;
  settings.ip_address = "127.0.0.1";
  return settings;
}

// The test clock and token, and a short character time-out.
drivelink::Context test_context(core::Reporter& reporter) {
  drivelink::Context context(reporter, testsupport::test_clock(), testsupport::test_cancel());
  context.limits.char_timeout_ms = 50;
  return context;
}

// Opens a link whose serial lines are the scripted one.
core::Result<std::unique_ptr<Link>> open_scripted(const LinkSettings& settings,
                                                  const drivelink::StartRequest& start = {}) {
  drivelink::Devices devices;
  devices.serial_device = testsupport::make_scripted_device;
  core::SilentReporter quiet;
  return Link::open(settings, test_context(quiet), start, devices);
}

std::string failure_text(const core::Result<std::unique_ptr<Link>>& link) {
  return link ? "(opened: " + (*link)->status() + ")" : link.error().text;
}

TEST(LinkInit, StagesAndTheirTexts) {
  struct Case {
    const char* title;
    INTERFACETYPES interface_kind;
    PROTOCOLTYPES protocol;
    const char* text;  // the status, or the failure
  };
  for (const Case& c : {Case{"dry run", INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::DIRECT, "(opened: Using OSDevice Interface)"},
                        Case{"unknown protocol", INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::INVALID, "Using OSDevice Interface"},
                        Case{"bus protocol", INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::BUS, "Using OSDevice Interface"},
                        Case{"EPP", INTERFACETYPES::EPP, PROTOCOLTYPES::DIRECT, "Unable to initialize"},
                        Case{"PCIMEM", INTERFACETYPES::PCIMEM, PROTOCOLTYPES::SSZAL, "Unable to initialize"},
                        Case{"PCIPORT", INTERFACETYPES::PCIPORT, PROTOCOLTYPES::HEX, "Unable to initialize"},
                        Case{"ISAPORT", INTERFACETYPES::ISAPORT, PROTOCOLTYPES::ZAL, "Unable to initialize"},
                        // A card protocol on a direct line finds no card at all.
                        Case{"no card", INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::SSZAL, "No QX3 Hardware Found"}}) {
    SCOPED_TRACE(c.title);
    testsupport::reset_scripted_line();
    EXPECT_EQ(failure_text(open_scripted(settings_for(c.interface_kind, c.protocol))), c.text);
    // No port is opened for any of these.
    EXPECT_TRUE(scripted_line().opened_names().empty());
  }
}

TEST(LinkInit, SerialFailuresAndTheDeviceBehindThem) {
  testsupport::reset_scripted_line();
  scripted_line().silent = true;
  EXPECT_EQ(failure_text(open_scripted(settings_for(INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::HEX))),
            "Hex Serial Communication failed !");

  for (const PROTOCOLTYPES protocol : {PROTOCOLTYPES::HEX, PROTOCOLTYPES::ZAL}) {
    testsupport::reset_scripted_line();
    scripted_line().open_fails = true;
    LinkSettings settings = settings_for(INTERFACETYPES::OSDEVICE, protocol);
    settings.comport = "COM3";
    settings.device = "/dev/ttyUSB3";
    const core::Result<std::unique_ptr<Link>> link = open_scripted(settings);
    ASSERT_FALSE(link.ok());
    EXPECT_EQ(link.error().text, "COM3 open failed");
    EXPECT_EQ(link.error().form, core::FailureForm::after_empty_line);
    EXPECT_EQ(scripted_line().opened_devices(), std::vector<std::string>{"/dev/ttyUSB3"});
  }
}

// The time limits the faithful programs always had, unless a front end says otherwise.
TEST(LinkInit, DefaultLimits) {
  const drivelink::Limits limits;
  EXPECT_EQ(limits.char_timeout_ms, 1000);
  EXPECT_EQ(limits.card_reply_ms, 1000);
}

TEST(LinkInit, TheCardHostPortRunsAt115200AndSoDoTheChannels) {
  testsupport::reset_scripted_line();
  scripted_line().silent = true;
  LinkSettings settings = settings_for(INTERFACETYPES::OSZAL, PROTOCOLTYPES::DIRECT);
  settings.baudrate = 9600;
  settings.baudrate_mul = 4;
  EXPECT_EQ(failure_text(open_scripted(settings)), "ZAL Serial Communication failed !");
  EXPECT_EQ(scripted_line().rates(), std::vector<int32_t>{115200});

  testsupport::reset_scripted_line();
  settings.comport.clear();
  EXPECT_EQ(failure_text(open_scripted(settings)), "Comport not in Environment");
}

TEST(LinkInit, AnAxisTheProtocolCannotReachIsRefused) {
  const LinkSettings card = settings_for(INTERFACETYPES::EZAL16, PROTOCOLTYPES::SSZAL);
  const core::Status refused = drivelink::check_axis(card, 8);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().text, "Axis must be 0 to 7 for the serial-channel module");
  EXPECT_TRUE(drivelink::check_axis(card, 7).ok());
  // A direct line has no channels: the axis is not its business.
  EXPECT_TRUE(drivelink::check_axis(settings_for(INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::ZAL), 258).ok());
}

TEST(LinkDirect, ReadsGiveZeroAndWritesSendNothing) {
  testsupport::reset_scripted_line();
  core::Result<std::unique_ptr<Link>> link = open_scripted(settings_for(INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::DIRECT));
  ASSERT_TRUE(link.ok());
  for (const core::Memory memory : {core::Memory::ram, core::Memory::eeprom}) {
    for (const core::Width width : {core::Width::byte, core::Width::word, core::Width::long_word, core::Width::double_word}) {
      const core::Location location{memory, width, 1};
      core::Result<uint64_t> value = (*link)->read(0, location);
      ASSERT_TRUE(value.ok());
      EXPECT_EQ(*value, 0u);
      EXPECT_TRUE((*link)->write(0, location, 1).ok());
    }
  }
  EXPECT_EQ(scripted_line().written(), "");
}

// A link keeps values to their width, whatever a caller hands it.
TEST(LinkZal, ValuesTravelAsTheBitsOfTheirWidth) {
  testsupport::reset_scripted_line();
  scripted_line().expect(std::string("\xDF", 1), "\x5A");  // the synchronisation's cookie
  core::Result<std::unique_ptr<Link>> link = open_scripted(settings_for(INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::ZAL));
  ASSERT_TRUE(link.ok()) << link.error().text;
  EXPECT_EQ((*link)->status(), "Using ZAL Serial Interface");
  scripted_line().forget_written();
  // A word write of -1 sends two bytes of FF, not eight.
  ASSERT_TRUE((*link)->write(0, {core::Memory::ram, core::Width::word, 0x0812}, ~uint64_t{0}).ok());
  EXPECT_EQ(scripted_line().written(), std::string("\x65\x12\x08\xFF\xFF", 5));
}

// ---- The card -------------------------------------------------------------------

class LinkCard : public testing::Test {
 protected:
  static constexpr uint16_t NOCRC_BYTE = 0x40 + 2 * 0x20 + card::CHANDISABLECRCOFFSET;
  static constexpr uint32_t START_CHANNEL_2 = card::STARTSETUPCOMMAND + 4;

  void SetUp() override {
    testsupport::IdromImage image;
    image.module(2, card::SSERIALTAG, testsupport::FakeCard::MODULE_BASE, 6);
    fake.load_idrom(0x0400, image.words);
    fake.ram[4] = 0x40;  // first channel's parameters
    fake.ram[5] = 0x20;  // stride
  }

  core::Result<std::unique_ptr<Link>> open(card::StartMode mode, core::ChannelMask channels = core::channel_bit(2)) {
    drivelink::Devices devices;
    devices.udp_socket = [this](core::Waits) { return fake.socket(); };
    LinkSettings settings = settings_for(INTERFACETYPES::EZAL16, PROTOCOLTYPES::SSZAL);
    settings.baudrate = 2500000;
    return Link::open(settings, test_context(quiet), {mode, channels}, devices);
  }

  // Position of a write in the card traffic, or -1.
  long write_at(uint16_t address, uint32_t value) const {
    for (std::size_t i = 0; i < fake.accesses.size(); ++i) {
      const auto& a = fake.accesses[i];
      if (a.write && a.address == address && a.value == value) return static_cast<long>(i);
    }
    return -1;
  }

  testsupport::FakeCard fake;
  core::SilentReporter quiet;
};

TEST_F(LinkCard, TheModeDecidesWhatHappensToTheChannel) {
  {
    core::Result<std::unique_ptr<Link>> link = open(card::StartMode::none);
    ASSERT_TRUE(link.ok());
    EXPECT_EQ((*link)->status(), "SSZAL hardware found");
    EXPECT_TRUE(fake.accesses_in(testsupport::FakeCard::COMMAND, testsupport::FakeCard::COMMAND).empty());
  }
  fake.accesses.clear();
  {
    core::Result<std::unique_ptr<Link>> link = open(card::StartMode::setup);
    ASSERT_TRUE(link.ok());
    EXPECT_GE(write_at(testsupport::FakeCard::COMMAND, START_CHANNEL_2), 0);
    EXPECT_EQ(fake.ram.count(NOCRC_BYTE), 0u) << "CRC switched off without being asked";
  }
  fake.accesses.clear();
  {
    core::Result<std::unique_ptr<Link>> link = open(card::StartMode::setup_no_crc);
    ASSERT_TRUE(link.ok());
    EXPECT_EQ(fake.ram[NOCRC_BYTE], 255);
    const long nocrc = write_at(testsupport::FakeCard::COMMAND, 0xA000u + NOCRC_BYTE);
    ASSERT_GE(nocrc, 0);
    EXPECT_LT(nocrc, write_at(testsupport::FakeCard::COMMAND, START_CHANNEL_2));
  }
}

TEST_F(LinkCard, ChannelsThatDidNotStartAreTold) {
  fake.start_failures = 0x24;  // channels 2 and 5
  core::Result<std::unique_ptr<Link>> link = open(card::StartMode::setup, 0x26);
  ASSERT_TRUE(link.ok());
  EXPECT_EQ((*link)->not_started(), 0x24);
  EXPECT_EQ((*link)->start_reply(), 0x24);
}

// A socket the system refuses to make, with an error text of any length.
class RefusedSocket : public platform::UdpSocket {
 public:
  explicit RefusedSocket(std::string text) : text_(std::move(text)) {}
  bool connect(const std::string&, const std::string&) override { return false; }
  std::size_t discard_pending() override { return 0; }
  bool send(const std::string&) override { return false; }
  std::string receive_packet(int) override { return {}; }
  int last_error() const override { return 97; }
  std::string last_error_text() const override { return text_; }

 private:
  std::string text_;
};

TEST(LinkInit, EthernetSocketFailureNamesTheCause) {
  for (const std::string& cause : {std::string("Address family not supported by protocol"), std::string(300, 'e')}) {
    drivelink::Devices devices;
    devices.udp_socket = [cause](core::Waits) { return std::make_unique<RefusedSocket>(cause); };
    core::SilentReporter quiet;
    const core::Result<std::unique_ptr<Link>> link =
        Link::open(settings_for(INTERFACETYPES::EZAL16, PROTOCOLTYPES::SSZAL), test_context(quiet), {}, devices);
    ASSERT_FALSE(link.ok());
    const std::vector<std::string> lines = core::faithful_lines(link.error());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], core::shortstring("Using EZAL16 interface: " + cause));
  }
}

// ---- The wire trace ---------------------------------------------------------------

TEST(WireTrace, LinesShowTimeDirectionBytesAndText) {
  const uint8_t frame[] = {'R', 'W', '0', '8', '2', '0', '\r'};
  EXPECT_EQ(platform::WireTrace::format(12.3456, '>', frame, sizeof frame, false), "12.346 > 52 57 30 38 32 30 0D");
  EXPECT_EQ(platform::WireTrace::format(0, '<', frame, sizeof frame, true),
            "0.000 < 52 57 30 38 32 30 0D \"RW0820\\r\"");
  const uint8_t odd[] = {0x00, '"', '\\', 0x7F, '\n'};
  EXPECT_EQ(platform::WireTrace::format(1, '<', odd, sizeof odd, true),
            "1.000 < 00 22 5C 7F 0A \"\\x00\\\"\\\\\\x7F\\n\"");
}

}  // namespace
