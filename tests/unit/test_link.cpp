#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "card/hostbus.h"
#include "card/idrom.h"
#include "card/sserial.h"
#include "config/config.h"
#include "core/text.h"
#include "link/link.h"
#include "serial/serial.h"
#include "support/fake_card.h"
#include "support/scripted_serial.h"
#include "fatal_capture.h"

namespace {

using config::INTERFACETYPES;
using config::PROTOCOLTYPES;
using testsupport::scripted_line;

void use_link(INTERFACETYPES interface, PROTOCOLTYPES protocol) {
  config::THEINTERFACE = interface;
  config::PROTOCOL = protocol;
  drivelink::AXIS = 0;
}

// A text-protocol drive on the scripted line, past its synchronisation.
void hex_drive() {
  ASSERT_TRUE(testsupport::open_scripted_serial());
  use_link(INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::HEX);
}

TEST(LinkHex, WordAddressesAreTwiceThePlus0x800AndWrap) {
  hex_drive();
  scripted_line().expect("RW0820\r", "04B0\r");
  scripted_line().expect("RW0000\r", "0001\r");
  scripted_line().expect("Re007E\r", "5A5A\r");
  EXPECT_EQ(drivelink::READWORD(0x10), 0x04B0);
  EXPECT_EQ(drivelink::READWORD(0xFC00), 0x0001);
  EXPECT_EQ(drivelink::READEEPROMWORD(0x7E), 0x5A5A);
  EXPECT_TRUE(scripted_line().mismatches().empty());
  EXPECT_FALSE(serial::SERERROR);
}

TEST(LinkHex, LongsAndDoublesAreComposedLowWordFirst) {
  hex_drive();
  scripted_line().expect("RW0820\r", "1234\r");
  scripted_line().expect("RW0822\r", "ABCD\r");
  EXPECT_EQ(static_cast<uint32_t>(drivelink::READLONG(0x10)), 0xABCD1234u);

  uint16_t address = 0x18FC;  // 2 * 0x87E + 0x800
  for (const char* word : {"DEF0", "9ABC", "5678", "1234"}) {
    scripted_line().expect("RW" + core::HEXSTRING(address, 4) + "\r", std::string(word) + "\r");
    address = static_cast<uint16_t>(address + 2);
  }
  EXPECT_EQ(drivelink::READDOUBLE(0x87E), 0x123456789ABCDEF0);
  EXPECT_TRUE(scripted_line().mismatches().empty());
  EXPECT_FALSE(serial::SERERROR);
}

TEST(LinkHex, SplitWritesGoOutLowWordFirst) {
  hex_drive();
  for (const char* request : {"WW08207788\r", "WW08225566\r", "WW08243344\r", "WW08261122\r"}) {
    scripted_line().expect(request, "\r");
  }
  drivelink::WRITEDOUBLE(0x10, 0x1122334455667788);
  EXPECT_EQ(scripted_line().written(), "WW08207788\rWW08225566\rWW08243344\rWW08261122\r");
  EXPECT_FALSE(serial::SERERROR);
}

// A value with one word missing is not a value: the failure must survive the words
// that answered after it.
TEST(LinkHex, AFailedWordFailsTheWholeValue) {
  hex_drive();
  scripted_line().expect("RW0820\r", "");
  scripted_line().expect("RW0822\r", "ABCD\r");
  drivelink::READLONG(0x10);
  EXPECT_TRUE(serial::SERERROR);

  scripted_line().expect("WW08201234\r", "");
  scripted_line().expect("WW08220000\r", "\r");
  drivelink::WRITELONG(0x10, 0x1234);
  EXPECT_TRUE(serial::SERERROR);

  scripted_line().expect("WW08205678\r", "\r");
  scripted_line().expect("WW08220000\r", "\r");
  drivelink::WRITELONG(0x10, 0x5678);
  EXPECT_FALSE(serial::SERERROR) << "a good write after a failed one";
}

TEST(LinkHex, AccessesWithoutACommandAreRefusedBeforeSending) {
  const std::vector<std::pair<std::string, std::function<void()>>> refusals = {
      {"read a byte", [] { drivelink::READBYTE(0); }},
      {"read an EEPROM byte", [] { drivelink::READEEPROMBYTE(0); }},
      {"read an EEPROM long", [] { drivelink::READEEPROMLONG(0); }},
      {"write a byte", [] { drivelink::WRITEBYTE(0, 1); }},
      {"write an EEPROM byte", [] { drivelink::WRITEEEPROMBYTE(0, 1); }},
      {"write an EEPROM long", [] { drivelink::WRITEEEPROMLONG(0, 1); }},
  };
  for (const auto& [what, access] : refusals) {
    SCOPED_TRACE(what);
    const std::string out = unittest::output_of_exit(
        [&access] {
          hex_drive();
          access();
          if (!scripted_line().written().empty()) std::_Exit(3);
        },
        2);
    EXPECT_EQ(out, "\nThe Hex protocol cannot " + what + "\n");
  }
}

TEST(LinkDirect, ReadsGiveZeroAndWritesSendNothing) {
  ASSERT_TRUE(testsupport::open_scripted_serial());
  use_link(INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::DIRECT);
  EXPECT_EQ(drivelink::READBYTE(1), 0);
  EXPECT_EQ(drivelink::READWORD(1), 0);
  EXPECT_EQ(drivelink::READLONG(1), 0);
  EXPECT_EQ(drivelink::READDOUBLE(1), 0);
  EXPECT_EQ(drivelink::READEEPROMBYTE(1), 0);
  EXPECT_EQ(drivelink::READEEPROMWORD(1), 0);
  EXPECT_EQ(drivelink::READEEPROMLONG(1), 0);
  drivelink::WRITEBYTE(1, 1);
  drivelink::WRITEWORD(1, 1);
  drivelink::WRITELONG(1, 1);
  drivelink::WRITEDOUBLE(1, 1);
  drivelink::WRITEEEPROMBYTE(1, 1);
  drivelink::WRITEEEPROMWORD(1, 1);
  drivelink::WRITEEEPROMLONG(1, 1);
  EXPECT_EQ(scripted_line().written(), "");
}

// ---- Initialisation -------------------------------------------------------------

struct InitCase {
  const char* title;
  INTERFACETYPES interface;
  PROTOCOLTYPES protocol;
  bool ok;
  const char* message;
};

TEST(LinkInit, StagesAndStatusTexts) {
  const std::vector<InitCase> cases = {
      {"dry run", INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::DIRECT, true, "Using OSDevice Interface"},
      {"unknown protocol", INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::INVALID, false, "Using OSDevice Interface"},
      {"bus protocol", INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::BUS, false, "Using OSDevice Interface"},
      {"EPP", INTERFACETYPES::EPP, PROTOCOLTYPES::DIRECT, false, "Unable to initialize"},
      {"PCIMEM", INTERFACETYPES::PCIMEM, PROTOCOLTYPES::SSZAL, false, "Unable to initialize"},
      {"PCIPORT", INTERFACETYPES::PCIPORT, PROTOCOLTYPES::HEX, false, "Unable to initialize"},
      {"ISAPORT", INTERFACETYPES::ISAPORT, PROTOCOLTYPES::ZAL, false, "Unable to initialize"},
  };
  for (const InitCase& c : cases) {
    SCOPED_TRACE(c.title);
    testsupport::use_scripted_serial();
    use_link(c.interface, c.protocol);
    serial::SERERROR = true;
    std::string message = "Setup Mode";
    EXPECT_EQ(drivelink::INITIALIZEINTERFACE(message), c.ok);
    EXPECT_EQ(message, c.message);
    EXPECT_FALSE(serial::SERERROR);
    // No port is opened for any of these.
    EXPECT_TRUE(scripted_line().opened_names().empty());
  }
}

TEST(LinkInit, HexDriveThatStaysSilent) {
  testsupport::use_scripted_serial();
  use_link(INTERFACETYPES::OSDEVICE, PROTOCOLTYPES::HEX);
  scripted_line().silent = true;
  std::string message;
  EXPECT_FALSE(drivelink::INITIALIZEINTERFACE(message));
  EXPECT_EQ(message, "Hex Serial Communication failed !");
}

TEST(LinkInit, PortThatCannotOpen) {
  for (const PROTOCOLTYPES protocol : {PROTOCOLTYPES::HEX, PROTOCOLTYPES::ZAL}) {
    testsupport::use_scripted_serial();
    use_link(INTERFACETYPES::OSDEVICE, protocol);
    config::THECOMPORT = "COM3";
    scripted_line().open_fails = true;
    std::string message = "Setup Mode";
    EXPECT_FALSE(drivelink::INITIALIZEINTERFACE(message));
    EXPECT_EQ(message, "COM3 open failed");
  }
}

TEST(LinkInit, CardHostPortRunsAt115200) {
  testsupport::use_scripted_serial();
  use_link(INTERFACETYPES::OSZAL, PROTOCOLTYPES::DIRECT);
  config::THEBAUDRATE = 9600;
  config::THEBAUDRATEMUL = 4;
  scripted_line().silent = true;
  std::string message = "Setup Mode";
  EXPECT_FALSE(drivelink::INITIALIZEINTERFACE(message));
  EXPECT_EQ(message, "ZAL Serial Communication failed !");
  EXPECT_EQ(config::THEBAUDRATE, 115200);
  EXPECT_EQ(config::THEBAUDRATEMUL, 1.0);
  EXPECT_EQ(scripted_line().rates(), std::vector<int32_t>{115200});
}

TEST(LinkInit, ChannelAxisAboveSevenIsRefusedFirst) {
  const std::string out = unittest::output_of_exit(
      [] {
        testsupport::use_scripted_serial();
        use_link(INTERFACETYPES::OSZAL, PROTOCOLTYPES::SSZAL);
        drivelink::AXIS = 8;
        std::string message = "Setup Mode";
        drivelink::INITIALIZEINTERFACE(message);
        std::_Exit(0);
      },
      2);
  EXPECT_EQ(out, "\nAxis must be 0 to 7 for the serial-channel module\n");
}

// ---- The card stages ------------------------------------------------------------

testsupport::FakeCard* the_card = nullptr;
std::unique_ptr<platform::UdpSocket> socket_to_the_card() { return the_card->socket(); }

// A card with the serial-channel module, reached over EZAL16, channel 2.
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
    the_card = &fake;
    card::set_socket_factory(socket_to_the_card);
    use_link(INTERFACETYPES::EZAL16, PROTOCOLTYPES::SSZAL);
    drivelink::AXIS = 2;
    config::THEBAUDRATE = 2500000;
  }
  void TearDown() override { card::set_socket_factory(nullptr); }

  // Position of a write in the card traffic, or -1.
  long write_at(uint16_t address, uint32_t value) const {
    for (std::size_t i = 0; i < fake.accesses.size(); ++i) {
      const auto& a = fake.accesses[i];
      if (a.write && a.address == address && a.value == value) return static_cast<long>(i);
    }
    return -1;
  }

  testsupport::FakeCard fake;
};

TEST_F(LinkCard, TheModeDecidesWhatHappensToTheChannel) {
  std::string message;  // "No options": the channel is left alone
  EXPECT_TRUE(drivelink::INITIALIZEINTERFACE(message));
  EXPECT_EQ(message, "SSZAL hardware found");
  EXPECT_TRUE(fake.accesses_in(testsupport::FakeCard::COMMAND, testsupport::FakeCard::COMMAND).empty());

  fake.accesses.clear();
  message = "Setup Mode";
  EXPECT_TRUE(drivelink::INITIALIZEINTERFACE(message));
  EXPECT_EQ(message, "SSZAL hardware found");
  EXPECT_GE(write_at(testsupport::FakeCard::COMMAND, START_CHANNEL_2), 0);
  EXPECT_EQ(fake.ram.count(NOCRC_BYTE), 0u) << "CRC switched off without being asked";

  fake.accesses.clear();
  message = "Setup Mode NoCRC";
  EXPECT_TRUE(drivelink::INITIALIZEINTERFACE(message));
  EXPECT_EQ(fake.ram[NOCRC_BYTE], 255);
  const long nocrc = write_at(testsupport::FakeCard::COMMAND, 0xA000u + NOCRC_BYTE);
  ASSERT_GE(nocrc, 0);
  EXPECT_LT(nocrc, write_at(testsupport::FakeCard::COMMAND, START_CHANNEL_2));
}

// A socket the system refuses to make, with an error text of any length.
class RefusedSocket : public platform::UdpSocket {
 public:
  static inline std::string text;
  bool connect(const std::string&, const std::string&) override { return false; }
  void send(const std::string&) override {}
  std::string receive_packet(int) override { return {}; }
  int last_error() const override { return 97; }
  std::string last_error_text() const override { return text; }
};
std::unique_ptr<platform::UdpSocket> refused_socket() { return std::make_unique<RefusedSocket>(); }

TEST(LinkInit, EthernetSocketFailureNamesTheCause) {
  card::set_socket_factory(refused_socket);
  use_link(INTERFACETYPES::EZAL16, PROTOCOLTYPES::SSZAL);
  RefusedSocket::text = "Address family not supported by protocol";
  std::string message = "Setup Mode";
  EXPECT_FALSE(drivelink::INITIALIZEINTERFACE(message));
  EXPECT_EQ(message, "Using EZAL16 interface: Address family not supported by protocol");

  RefusedSocket::text = std::string(300, 'e');
  message = "Setup Mode";
  EXPECT_FALSE(drivelink::INITIALIZEINTERFACE(message));
  EXPECT_EQ(message.size(), core::SHORTSTRING_MAX);
  card::set_socket_factory(nullptr);
}

}  // namespace
