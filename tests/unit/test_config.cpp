#include <gtest/gtest.h>

#include <map>
#include <string>

#include "config/config.h"

namespace {

using namespace config;
using Env = std::map<std::string, std::string>;

EnvLookup lookup_in(const Env& env) {
  return [env](const char* name) {
    const auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
  };
}

class NoticeLines final : public core::Reporter {
 public:
  void notice(std::string_view line) override { text.append(line).append("\n"); }
  std::string text;
};

LinkSettings last;

// Reads the environment, keeps the settings in `last` and returns the notices.
std::string read_env(const Env& env) {
  NoticeLines notices;
  core::Result<LinkSettings> settings = settings_from_environment(notices, lookup_in(env));
  EXPECT_TRUE(settings.ok()) << settings.error().text;
  if (settings) last = *settings;
  return notices.text;
}

// Reading must fail: returns the notices and the failure as the programs print them.
std::string fatal_env(const Env& env) {
  NoticeLines notices;
  core::Result<LinkSettings> settings = settings_from_environment(notices, lookup_in(env));
  if (settings) return "(no failure)";
  EXPECT_EQ(settings.error().kind, core::FailureKind::config);
  for (const std::string& line : core::faithful_lines(settings.error())) notices.text += line + "\n";
  return notices.text;
}

std::string bumout(const std::string& message) { return "\n" + message + "\n"; }

TEST(Config, DirectSerialDefaultsAndTheirNoticesInOrder) {
  EXPECT_EQ(read_env({{"INTERFACE", "osdevice"}}),
            "Protocol not in Environment, assuming Hex\n"
            "Comport not in Environment, assuming COM1\n"
            "BaudrateMul not in Environment, assuming 1\n"
            "Baudrate not in Environment, assuming 115200 Baud\n");
  EXPECT_EQ(last.interface_kind, INTERFACETYPES::OSDEVICE);
  EXPECT_EQ(last.protocol, PROTOCOLTYPES::HEX);
  EXPECT_EQ(last.comport, "COM1");
  EXPECT_EQ(last.baudrate, 115200);
  EXPECT_EQ(last.baudrate_mul, 1.0);
  EXPECT_EQ(last.device, "");
}

TEST(Config, ExplicitSerialSettings) {
  EXPECT_EQ(read_env({{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "zal"}, {"COMPORT", "com7"},
                      {"BAUDRATE", "76800"}, {"BAUDRATEMUL", "1.5"}}),
            "");
  EXPECT_EQ(last.protocol, PROTOCOLTYPES::ZAL);
  EXPECT_EQ(last.comport, "COM7");
  EXPECT_EQ(last.baudrate, 76800);
  EXPECT_DOUBLE_EQ(last.baudrate_mul, 1.5);

  read_env({{"INTERFACE", "OSDEVICE"}, {"COMPORT", "COM$A"}, {"BAUDRATE", "$1C200"}, {"BAUDRATEMUL", "64"}});
  EXPECT_EQ(last.comport, "COM$A");
  EXPECT_EQ(last.baudrate, 115200);
  EXPECT_DOUBLE_EQ(last.baudrate_mul, 64.0);
}

TEST(Config, SszalOverEthernet) {
  EXPECT_EQ(read_env({{"INTERFACE", "ezal16"}, {"PROTOCOL", "sszal"}, {"IPADDR", "192.168.1.121"},
                      {"COMPORT", "nonsense"}, {"BAUDRATEMUL", "nonsense"}}),
            "Baudrate not in Environment, assuming 2500000 Baud\n");
  EXPECT_EQ(last.interface_kind, INTERFACETYPES::EZAL16);
  EXPECT_EQ(last.ip_address, "192.168.1.121");
  EXPECT_EQ(last.baudrate, 2500000);
  EXPECT_EQ(last.comport, "");

  read_env({{"INTERFACE", "EZAL16"}, {"PROTOCOL", "SSZAL"}, {"IPADDR", "010.0.0.255"}, {"BAUDRATE", "9600"}});
  EXPECT_EQ(last.ip_address, "10.0.0.255");
  EXPECT_EQ(last.baudrate, 9600);
}

TEST(Config, SszalOverTheCardSerialPortTakesItsComport) {
  EXPECT_EQ(read_env({{"INTERFACE", "oszal"}, {"PROTOCOL", "sszal"}, {"COMPORT", "com3"}}),
            "Baudrate not in Environment, assuming 2500000 Baud\n");
  EXPECT_EQ(last.interface_kind, INTERFACETYPES::OSZAL);
  EXPECT_EQ(last.comport, "COM3");

  // A port name without "COM" is not this interface's business: it is passed over.
  read_env({{"INTERFACE", "OSZAL"}, {"PROTOCOL", "SSZAL"}, {"COMPORT", "/dev/ttyS0"}});
  EXPECT_EQ(last.comport, "");
}

// ZR90_COMn names the device behind a plain COMn, on a direct line and on the card's
// host port alike.
TEST(Config, PortDevicesAreNamedByTheirVariable) {
  struct Case {
    Env env;
    const char* device;
  };
  const Case cases[] = {
      {{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "ZAL"}, {"COMPORT", "com3"}, {"ZR90_COM3", "/dev/ttyUSB0"}},
       "/dev/ttyUSB0"},
      {{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "HEX"}, {"ZR90_COM1", "/dev/pts/4"}}, "/dev/pts/4"},  // COM1 assumed
      {{{"INTERFACE", "OSZAL"}, {"PROTOCOL", "SSZAL"}, {"COMPORT", "COM2"}, {"ZR90_COM2", "/tmp/card"}}, "/tmp/card"},
      {{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "ZAL"}, {"COMPORT", "COM3"}, {"ZR90_COM4", "/dev/ttyUSB0"}}, ""},
      {{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "ZAL"}, {"COMPORT", "COM$3"}, {"ZR90_COM3", "/dev/ttyUSB0"}}, ""},
      {{{"INTERFACE", "EZAL16"}, {"PROTOCOL", "SSZAL"}, {"IPADDR", "10.0.0.1"}, {"ZR90_COM1", "/dev/ttyS0"}}, ""},
  };
  for (const Case& c : cases) {
    read_env(c.env);
    EXPECT_EQ(last.device, c.device) << last.comport;
  }
}

TEST(Config, UnknownNamesFallBackSilently) {
  EXPECT_EQ(read_env({{"INTERFACE", "FOO"}, {"PROTOCOL", "DIRECT"}}), "");
  EXPECT_EQ(last.interface_kind, INTERFACETYPES::EPP);
  EXPECT_EQ(last.epp_base_port, DEFAULTEPPBASEPORT);
  EXPECT_EQ(read_env({{"INTERFACE", "pcimem"}, {"PROTOCOL", "gopher"}}), "");
  EXPECT_EQ(last.interface_kind, INTERFACETYPES::PCIMEM);
  EXPECT_EQ(last.protocol, PROTOCOLTYPES::INVALID);
  EXPECT_EQ(last.baudrate, 0);
}

TEST(Config, EppPortIsReadAsHexWords) {
  read_env({{"INTERFACE", "EPP"}, {"PROTOCOL", "DIRECT"}, {"EPPPORT", "278"}});
  EXPECT_EQ(last.epp_base_port, 632);
  read_env({{"INTERFACE", "EPP"}, {"PROTOCOL", "DIRECT"}, {"EPPPORT", "3bc8"}});
  EXPECT_EQ(last.epp_base_port, 0x3BC8);
}

TEST(ConfigRefusal, MissingInterfaceComesFirst) {
  EXPECT_EQ(fatal_env({}), bumout("Interface not in Environment"));
  EXPECT_EQ(fatal_env({{"PROTOCOL", "BUS"}, {"COMPORT", "X"}}), bumout("Interface not in Environment"));
}

TEST(ConfigRefusal, BusIsRefusedEvenWhenAllElseIsValid) {
  EXPECT_EQ(fatal_env({{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "bus"}, {"COMPORT", "COM1"}, {"BAUDRATE", "9600"},
                       {"BAUDRATEMUL", "1"}}),
            bumout("Protocol not supported"));
}

TEST(ConfigRefusal, BadComPorts) {
  const std::string message = bumout("Undecipherable Windows COM port - bail out!");
  for (const char* port : {"COM", "COM7:", "/dev/ttyS0", "COMX", "COM 7 ", "COM99999999999"}) {
    EXPECT_EQ(fatal_env({{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "HEX"}, {"COMPORT", port}}), message) << port;
  }
  EXPECT_EQ(fatal_env({{"INTERFACE", "OSZAL"}, {"PROTOCOL", "SSZAL"}, {"COMPORT", "COMX"}}), message);
}

TEST(ConfigRefusal, BadBaudRateMultipliers) {
  for (const char* mul : {"0.5", "65", "x2", "0", "-2", "64.01"}) {
    EXPECT_EQ(fatal_env({{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "ZAL"}, {"BAUDRATEMUL", mul}}),
              "Comport not in Environment, assuming COM1\n" + bumout("Illegal Baud rate Multiplier - bail out!"))
        << mul;
  }
}

TEST(ConfigRefusal, BadBaudRates) {
  for (const char* rate : {"fast", "0", "-9600", "1.5", "115200 Baud", "99999999999"}) {
    EXPECT_EQ(fatal_env({{"INTERFACE", "EZAL16"}, {"IPADDR", "127.0.0.1"}, {"PROTOCOL", "SSZAL"}, {"BAUDRATE", rate}}),
              bumout("Illegal Baud rate - bail out!"))
        << rate;
  }
}

TEST(ConfigRefusal, BadIpAddresses) {
  for (const char* addr : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1.2.+3.4", "1.2.-3.4", "1.2.3.4a", "a.b.c.d",
                           "localhost", "1..2.3", "1.2.3.4.", " 1.2.3.4", "1.2.3.99999999999999"}) {
    EXPECT_EQ(fatal_env({{"INTERFACE", "EZAL16"}, {"PROTOCOL", "SSZAL"}, {"IPADDR", addr}}),
              bumout("Ethernet protocol but no IP address"))
        << addr;
  }
}

TEST(ConfigRefusal, BadEppPorts) {
  EXPECT_EQ(fatal_env({{"INTERFACE", "EPP"}, {"PROTOCOL", "DIRECT"}, {"EPPPORT", "27C"}}),
            bumout("Invalid EPP address"));
  EXPECT_EQ(fatal_env({{"INTERFACE", "EPP"}, {"PROTOCOL", "DIRECT"}, {"EPPPORT", "0x378"}}),
            bumout("Can't parse EPP address"));
}

}  // namespace

namespace {

TEST(Descriptors, EveryKindIsFoundByItsNameInAnyCase) {
  for (const InterfaceDescriptor& row : interfaces()) {
    std::string lower(row.name);
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    ASSERT_NE(interface_named(lower), nullptr) << row.name;
    EXPECT_EQ(interface_named(lower)->kind, row.kind);
    EXPECT_EQ(describe(row.kind).name, row.name);
  }
  for (const ProtocolDescriptor& row : protocols()) {
    if (row.name.empty()) continue;
    ASSERT_NE(protocol_named(row.name), nullptr) << row.name;
    EXPECT_EQ(describe(protocol_named(row.name)->kind).name, row.name);
  }
  EXPECT_EQ(interface_named("OSDEVICE2"), nullptr);
  EXPECT_EQ(protocol_named(""), nullptr);
}

TEST(Descriptors, AxesALinkReaches) {
  const struct {
    Env env;
    unsigned axes;
  } cases[] = {
      {{{"INTERFACE", "EZAL16"}, {"IPADDR", "127.0.0.1"}, {"PROTOCOL", "SSZAL"}}, 8},
      {{{"INTERFACE", "OSZAL"}, {"COMPORT", "COM2"}, {"PROTOCOL", "SSZAL"}}, 8},
      // A dry run on a card answers every channel; on a serial line there is one drive.
      {{{"INTERFACE", "EZAL16"}, {"IPADDR", "127.0.0.1"}, {"PROTOCOL", "DIRECT"}}, 8},
      {{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "DIRECT"}}, 1},
      {{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "SSZAL"}}, 1},
      {{{"INTERFACE", "EZAL16"}, {"IPADDR", "127.0.0.1"}, {"PROTOCOL", "ZAL"}}, 1},
      {{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "HEX"}}, 1},
  };
  for (const auto& c : cases) {
    read_env(c.env);
    EXPECT_EQ(reachable_axes(last), c.axes) << c.env.at("INTERFACE") << " " << c.env.at("PROTOCOL");
  }
}

// Values a front end gives win over the environment, are checked as the variables
// are, and a card's protocol is the serial-channel one without a word.
TEST(GivenSettings, WinOverTheEnvironment) {
  const Env env{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "HEX"}, {"COMPORT", "COM4"}, {"BAUDRATE", "9600"},
                {"BAUDRATEMUL", "2"}, {"IPADDR", "10.0.0.1"}};
  NoticeLines notices;
  GivenSettings given;
  given.interface_kind = "ezal16";
  given.ip_address = "10.0.0.9";
  given.card_protocol_by_default = true;
  Env unnamed = env;
  unnamed.erase("PROTOCOL");
  core::Result<LinkSettings> card = read_settings(given, notices, lookup_in(unnamed));
  ASSERT_TRUE(card.ok()) << card.error().text;
  EXPECT_EQ(card->protocol, PROTOCOLTYPES::SSZAL);
  EXPECT_EQ(card->ip_address, "10.0.0.9");
  EXPECT_EQ(card->baudrate, 9600);
  EXPECT_EQ(notices.text, "");

  GivenSettings port;
  port.protocol = "zal";
  port.comport = "/dev/ttyUSB3";
  port.baudrate = "57600";
  core::Result<LinkSettings> line = read_settings(port, notices, lookup_in(env));
  ASSERT_TRUE(line.ok()) << line.error().text;
  EXPECT_EQ(line->protocol, PROTOCOLTYPES::ZAL);
  EXPECT_EQ(line->comport, "/dev/ttyUSB3");
  EXPECT_EQ(line->baudrate, 57600);
  EXPECT_DOUBLE_EQ(line->baudrate_mul, 2.0);

  GivenSettings bad;
  bad.baudrate = "fast";
  core::Result<LinkSettings> refused = read_settings(bad, notices, lookup_in(env));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().text, "Illegal Baud rate - bail out!");
}

}  // namespace
