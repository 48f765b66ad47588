// zr90 scan and zr90 info end to end: the simulated drive and card found where they
// are and reached with the options the scan gives; nothing reported where nothing
// answers; the identity of a card and of a drive, as text and JSON.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "test_card_fixture.h"
#include "test_serial_fixture.h"

namespace {

using testsupport::Env;
using testsupport::RunResult;
using Json = nlohmann::json;

RunResult zr90(const Env& env, const std::vector<std::string>& args) { return testsupport::run_tool("zr90", args, env); }

std::vector<std::string> words_of(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Runs zr90 with the options a scan gave for a find, then the command.
RunResult reach(const Env& env, const Json& find, const std::vector<std::string>& command) {
  std::vector<std::string> args = words_of(find["options"].get<std::string>());
  args.push_back("-q");
  args.insert(args.end(), command.begin(), command.end());
  return zr90(env, args);
}

Json scan_json(const Env& env, const std::vector<std::string>& args, int expected_exit) {
  std::vector<std::string> all{"--json", "scan"};
  all.insert(all.end(), args.begin(), args.end());
  const RunResult r = zr90(env, all);
  EXPECT_EQ(r.exit_code, expected_exit) << r.err;
  return Json::parse(r.out, nullptr, false);
}

// A pseudo-terminal with nothing behind it: whatever is sent stays unanswered.
class SilentTerminal {
 public:
  SilentTerminal() : master_(posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) path_ = ptsname(master_);
  }
  ~SilentTerminal() {
    if (master_ >= 0) close(master_);
  }
  const std::string& path() const { return path_; }

 private:
  int master_;
  std::string path_;
};

// A block of loopback addresses of this process's own, apart from the 127.0.x.y ones
// the other tests' cards take: a scan of it must meet no other test's card, which
// its probe would start.
std::string own_block_prefix() { return "127.1." + std::to_string(1 + getpid() % 250) + "."; }

bool simulator_takes_a_fixed_rate() {
  const RunResult help = testsupport::run_tool(testsupport::simulator_path(), {"drive", "--help"}, {});
  return help.out.find("--baud") != std::string::npos;
}

// ---- Serial ports ------------------------------------------------------------

TEST(Zr90Scan, FindsADriveOnItsPortWithTheProtocolItSpeaks) {
  const struct {
    const char* protocol;
    std::vector<std::string> sim_args;
    const char* expected_protocol;
    bool crc;
  } rows[] = {
      {"ZAL", {"--crc", "off"}, "ZAL", false},
      {"ZAL", {"--crc", "on"}, "ZAL", true},
      {"HEX", {}, "HEX", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.protocol) + (row.crc ? " with CRC" : ""));
    serialtest::Drive drive(row.protocol, row.sim_args);
    ASSERT_TRUE(drive.started());
    const Env env{{"ZR90_" + drive.port_name(), drive.path()}};
    const Json report = scan_json(env, {"--port", drive.port_name()}, 0);
    ASSERT_EQ(report["finds"].size(), 1u) << report.dump();
    const Json& find = report["finds"][0];
    EXPECT_EQ(find["kind"], "drive");
    EXPECT_EQ(find["port"], drive.port_name());
    EXPECT_EQ(find["protocol"], row.expected_protocol);
    EXPECT_EQ(find["crc"], row.crc);
    EXPECT_EQ(find["baud"], 115200);
    EXPECT_EQ(report["ports"][0]["state"], "found");
    const RunResult got = reach(env, find, {"get", "kqp"});
    EXPECT_EQ(got.out, "kqp 1200\n") << got.err;
  }
}

TEST(Zr90Scan, FindsTheRateADriveAnswersAt) {
  if (!simulator_takes_a_fixed_rate()) GTEST_SKIP() << "zr90sim drive has no --baud";
  serialtest::Drive drive("ZAL", {"--baud", "38400"});
  ASSERT_TRUE(drive.started());
  const Env env{{"ZR90_" + drive.port_name(), drive.path()}};
  const Json report = scan_json(env, {"--port", drive.port_name(), "--baud", "115200,38400,9600"}, 0);
  ASSERT_EQ(report["finds"].size(), 1u) << report.dump();
  EXPECT_EQ(report["finds"][0]["baud"], 38400);
  EXPECT_EQ(reach(env, report["finds"][0], {"get", "kqp"}).out, "kqp 1200\n");
}

TEST(Zr90Scan, FindsACardOnItsHostPortAndItsDrives) {
  for (const char* crc : {"off", "on"}) {
    SCOPED_TRACE(crc);
    auto card = cardtest::pty_card(crc, {"--fault", "nodrive=5"});
    ASSERT_TRUE(card->sim && card->sim->started());
    const std::string port = card->env.at("COMPORT");
    const Env env{{"ZR90_" + port, card->sim->ready_value()}};
    const Json report = scan_json(env, {"--port", port}, 0);
    ASSERT_EQ(report["finds"].size(), 1u) << report.dump();
    const Json& find = report["finds"][0];
    EXPECT_EQ(find["kind"], "card");
    EXPECT_EQ(find["interface"], "OSZAL");
    EXPECT_EQ(find["board"], "ZR90CARD");
    EXPECT_EQ(find["drives"], Json({0, 1, 2, 3, 4, 6, 7}));
    EXPECT_EQ(reach(env, find, {"-a", "6", "get", "unitnumber"}).out, "unitnumber 1007\n");
  }
}

TEST(Zr90Scan, InventsNothingWhereNothingAnswers) {
  SilentTerminal silent;
  ASSERT_FALSE(silent.path().empty());
  const int number = testsupport::unique_com_number();
  const std::string port = "COM" + std::to_string(number);
  const Env env = testsupport::com_port_env(number, silent.path());
  const std::string nowhere = own_block_prefix() + "250";
  const Json report = scan_json(env, {"--port", port, "--baud", "115200,9600", "--ip", nowhere}, 1);
  EXPECT_EQ(report["finds"], Json::array());
  EXPECT_EQ(report["ports"], Json::array({{{"port", port}, {"state", "nothing answered"}}}));
  EXPECT_EQ(report["addresses"], 1);

  const RunResult text = zr90(env, {"scan", "--port", port, "--baud", "9600"});
  EXPECT_EQ(text.exit_code, 1);
  EXPECT_EQ(words_of(text.out), (std::vector<std::string>{port, "nothing", "answered"}));
  EXPECT_EQ(text.err, "zr90: nothing found\n");
}

TEST(Zr90Scan, APortThatCannotBeOpenedSaysWhy) {
  const Json report = scan_json({}, {"--port", "/dev/zr90-no-such-port"}, 1);
  ASSERT_EQ(report["ports"].size(), 1u);
  EXPECT_EQ(report["ports"][0]["state"], "cannot be opened");
  // The system's own words: "No such file or directory"; on Windows "The system
  // cannot find the file specified", under Wine "File not found".
  const std::string reason = report["ports"][0]["reason"].get<std::string>();
  const bool said = testsupport::running_windows_build()
                        ? reason.find("cannot find") != std::string::npos || reason.find("not found") != std::string::npos
                        : reason.find("No such file") != std::string::npos;
  EXPECT_TRUE(said) << reason;
}

// ---- Cards at addresses --------------------------------------------------------

TEST(Zr90Scan, FindsACardAtAnAddressAndInABlock) {
  const std::string prefix = own_block_prefix();
  const std::string address = prefix + "9";
  testsupport::Simulator sim({"card", "--udp", address, "--fault", "nodrive=1"});
  ASSERT_TRUE(sim.started()) << address;
  for (const std::string& given : {address, prefix + "200/32," + address, prefix + "0/24"}) {
    SCOPED_TRACE(given);
    const Json report = scan_json({}, {"--ip", given}, 0);
    ASSERT_EQ(report["finds"].size(), 1u) << report.dump();
    const Json& find = report["finds"][0];
    EXPECT_EQ(find["ip"], address);
    EXPECT_EQ(find["kind"], "card");
    EXPECT_EQ(find["drives"], Json({0, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(find["options"], "--interface EZAL16 --protocol SSZAL --ip " + address);
    EXPECT_EQ(report["ports"], Json::array()) << "--ip alone probes no serial port";
    EXPECT_EQ(reach({}, find, {"-a", "2", "get", "kqp"}).out, "kqp 1200\n");
  }
  EXPECT_EQ(scan_json({}, {"--ip", prefix + "0/24"}, 0)["addresses"], 254);
}

TEST(Zr90Scan, ACardWhoseLinkDoesNotComeUpIsFoundWithTheReason) {
  auto card = cardtest::udp_card({"--fault", "nomodule"});
  ASSERT_TRUE(card->sim && card->sim->started());
  const std::string address = card->env.at("IPADDR");
  const Json report = scan_json({}, {"--ip", address}, 0);
  ASSERT_EQ(report["finds"].size(), 1u) << report.dump();
  EXPECT_EQ(report["finds"][0]["kind"], "card");
  EXPECT_EQ(report["finds"][0]["trouble"], "No SSZAL hardware");
  EXPECT_FALSE(report["finds"][0].contains("drives"));
}

TEST(Zr90Scan, RefusesWhatItCannotScan) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } rows[] = {
      {{"--ip", "10.0.0.0/23"}, "\"10.0.0.0/23\" holds 512 addresses; a scan takes at most 256 (a /24)"},
      {{"--ip", "localhost"}, "\"localhost\" is not an IPv4 address (as 192.168.1.20) or block (as 192.168.1.0/24)"},
      {{"--ip", "10.0.0.0/40"}, "\"10.0.0.0/40\": the prefix length after / must be 0 to 32"},
      {{"--baud", "115200,fast"}, "\"fast\" is not a bit rate (as 115200)"},
      {{"--csv"}, "--csv does not apply to scan; scan takes --json"},
      {{"--trace", "wire.txt"}, "--trace does not apply to scan; trace the link a scan found with another command"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args{"scan"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const RunResult r = zr90({}, args);
    EXPECT_EQ(r.exit_code, 2) << row.message;
    EXPECT_EQ(r.err, "zr90: " + std::string(row.message) + "\n");
    EXPECT_EQ(r.out, "");
  }
}

// ---- info ----------------------------------------------------------------------

TEST(Zr90Info, ACardItsModulesAndTheChannelsWithADrive) {
  auto card = cardtest::udp_card({"--fault", "nodrive=3"});
  ASSERT_TRUE(card->sim && card->sim->started());
  const RunResult text = zr90(card->env, {"-q", "info"});
  EXPECT_EQ(text.exit_code, 0) << text.err;
  const std::vector<std::string> lines = text.lines();
  for (const char* line : {"card          ZR90CARD", "fpga          size 400, 256 pins", "io            6 ports of 24, 144 pins",
                           "clock         33.333333 MHz, 100 MHz", "module        sserial version 0, 1 instance at 0x5000",
                           "module        ioport version 0, 6 instances at 0x1000",
                           "channels      0,1,2,3,4,5,6,7, module revision 3.2", "drives        0,1,2,4,5,6,7",
                           "axis 7", "unitnumber    1008", "fault         0x0000"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << text.out;
  }
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "axis 3"), lines.end());

  const RunResult json = zr90(card->env, {"-q", "--json", "info", "-a", "2,4"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  const Json report = Json::parse(json.out);
  EXPECT_EQ(report["card"]["board"], "ZR90CARD");
  EXPECT_EQ(report["card"]["drives"], Json({0, 1, 2, 4, 5, 6, 7}));
  EXPECT_EQ(report["card"]["modules"].size(), 6u);
  ASSERT_EQ(report["drives"].size(), 2u);
  EXPECT_EQ(report["drives"][1]["axis"], 4);
  EXPECT_EQ(report["drives"][1]["unitnumber"], 1005);
  for (const char* name : {"cputype", "controltype", "swrevision", "hwrevision", "sysclk"}) {
    const RunResult get = zr90(card->env, {"-q", "--value", "-a", "4", "get", name});
    EXPECT_EQ(std::to_string(report["drives"][1][name].get<long long>()) + "\n", get.out) << name;
  }

  const RunResult missing = zr90(card->env, {"-q", "info", "-a", "3"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "zr90: axis 3: the channel did not start; is a drive connected?\n");
}

TEST(Zr90Info, ADirectDriveWithItsFaultBitsNamed) {
  serialtest::Drive drive("ZAL", {"--ram", "0x0852=0x0005"});
  ASSERT_TRUE(drive.started());
  const RunResult json = drive.run("zr90", {"-q", "--json", "info"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  const Json report = Json::parse(json.out);
  EXPECT_FALSE(report.contains("card"));
  ASSERT_EQ(report["drives"].size(), 1u);
  const Json& row = report["drives"][0];
  EXPECT_EQ(row["axis"], 0);
  EXPECT_EQ(row["fault"], 5);
  const RunResult faults = drive.run("zr90", {"-q", "--json", "faults"});
  EXPECT_EQ(row["fault_bits"], Json::parse(faults.out)[0]["bits"]);

  const RunResult text = drive.run("zr90", {"-q", "info"});
  EXPECT_EQ(text.exit_code, 0) << text.err;
  EXPECT_EQ(text.lines().front(), "link          " + drive.port_name());
  EXPECT_EQ(text.lines().back().rfind("fault         0x0005 ", 0), 0u) << text.out;
}

}  // namespace
