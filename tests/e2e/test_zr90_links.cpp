// zr90 as it first meets a user's setup: links named in a links file, the messages
// of a link that does not come up, and a drive that answers at one rate only.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_serial_fixture.h"

namespace {

using serialtest::Drive;
using testsupport::Env;
using testsupport::RunResult;
using Lines = std::vector<std::string>;

constexpr char ZR90[] = "zr90";

// A folder of the test's own, removed at the end.
class Folder {
 public:
  Folder() : path_(testsupport::temp_path("links")) { std::filesystem::create_directories(path_); }
  ~Folder() { std::filesystem::remove_all(path_); }
  // Writes text to the file name (folders made) and returns its path.
  std::string write(const std::string& name, const std::string& text) const {
    const std::filesystem::path file = std::filesystem::path(path_) / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return file.string();
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

bool holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The environment that reaches the drive's port and nothing else of the link.
Env port_only(Drive& drive) {
  Env env = drive.env();
  for (const char* name : {"INTERFACE", "PROTOCOL", "COMPORT", "BAUDRATE", "BAUDRATEMUL"}) env.erase(name);
  return env;
}

TEST(Zr90Links, AnOptionWinsOverTheLinkAndTheLinkOverTheEnvironment) {
  // The drive answers ZAL at 115200 bit/s only: each case reaches it only when the
  // right source wins.
  Drive drive("ZAL", {"--baud", "115200"});
  ASSERT_TRUE(drive.started());
  Folder folder;
  const struct {
    const char* what;
    Env environment;
    std::string table;
    std::vector<std::string> options;
    bool reaches;
  } cases[] = {
      {"the link over the environment", {{"PROTOCOL", "HEX"}, {"BAUDRATE", "9600"}},
       "protocol = \"ZAL\"\nbaud = 115200\n", {}, true},
      {"an option over the link", {}, "protocol = \"HEX\"\nbaud = \"9600\"\n", {"--protocol", "ZAL", "--baud", "115200"},
       true},
      {"the environment where the link is silent", {{"PROTOCOL", "ZAL"}, {"BAUDRATE", "115200"}}, "", {}, true},
      {"the link's rate, not the environment's", {{"PROTOCOL", "ZAL"}, {"BAUDRATE", "115200"}}, "baud = 57600\n", {},
       false},
  };
  for (const auto& c : cases) {
    const std::string file =
        folder.write("links.toml", "[bench]\ninterface = \"OSDEVICE\"\nport = \"" + drive.port_name() + "\"\n" + c.table);
    Env env = port_only(drive);
    for (const auto& [name, value] : c.environment) env[name] = value;
    std::vector<std::string> args{"-q", "--links-file", file, "--link", "bench"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {"get", "kqp"});
    drive.trace();
    const RunResult r = testsupport::run_tool(ZR90, args, env);
    EXPECT_EQ(r.exit_code, c.reaches ? 0 : 2) << c.what << ": " << r.err;
    EXPECT_EQ(r.out, c.reaches ? "kqp 1200\n" : "") << c.what;
  }
}

TEST(Zr90Links, TheLinkFileIsFoundUnderXdgConfigHome) {
  if (testsupport::running_windows_build()) GTEST_SKIP() << "Windows keeps it under %APPDATA%";
  Drive drive("ZAL", {});
  ASSERT_TRUE(drive.started());
  Folder folder;
  folder.write("zr90/links.toml",
               "[bench]\ninterface = \"OSDEVICE\"\nprotocol = \"ZAL\"\nport = \"" + drive.port_name() + "\"\n");
  Env env = port_only(drive);
  env.insert({{"XDG_CONFIG_HOME", folder.path()}, {"HOME", "/nonexistent"}});
  EXPECT_EQ(testsupport::run_tool(ZR90, {"-q", "--link", "bench", "get", "kqp"}, env).out, "kqp 1200\n");
  env.insert({{"ZR90_LINK", "bench"}});
  drive.trace();
  EXPECT_EQ(testsupport::run_tool(ZR90, {"-q", "get", "kqp"}, env).out, "kqp 1200\n");
}

TEST(Zr90Links, AFileThatCannotBeUsedSaysWhereAndWhy) {
  Folder folder;
  const struct {
    std::string text;
    std::string message;  // the first line on standard error, PATH for the file's
  } cases[] = {
      {"[a]\nport = \"COM1\"\nbaud = \n", "zr90: PATH: line 3, column 8: "},
      {"[a]\n  bauds = 1\n",
       "zr90: PATH: line 2, column 3: unknown key \"bauds\" in [a]; the keys are interface, protocol, port, baud, "
       "baud-mul, ip, axis"},
      {"[a]\nbaud = true\n", "zr90: PATH: line 2, column 8: baud in [a] must be text or a number"},
      {"[bench]\n[\"l\\u001bne\"]\n", "zr90: no link \"a\" in PATH; the links there: \"bench\", \"l\\x1Bne\""},
  };
  for (const auto& c : cases) {
    const std::string file = folder.write("links.toml", c.text);
    const std::string message = c.message.substr(0, c.message.find("PATH")) + file + c.message.substr(c.message.find("PATH") + 4);
    const RunResult r = testsupport::run_tool(ZR90, {"--links-file", file, "--link", "a", "get", "kqp"}, {});
    EXPECT_EQ(r.exit_code, 2) << c.text;
    EXPECT_EQ(first_line(r.err).rfind(message, 0), 0u) << r.err;
  }
}

TEST(Zr90Links, LinksListsEachLinkWithWhatItReaches) {
  Folder folder;
  const std::string file = folder.write(
      "links.toml", "# the line\n[line2]\ninterface = \"EZAL16\"\nip = \"10.0.0.2\"\naxis = \"0-3\"\n\n"
                    "[bench]\ninterface = \"osdevice\"\nprotocol = \"ZAL\"\nport = \"COM3\"\nbaud = 57600\n");
  const RunResult text = testsupport::run_tool(ZR90, {"--links-file", file, "links"}, {});
  EXPECT_EQ(text.lines(), (Lines{"line2  EZAL16, card 10.0.0.2, axes 0-3", "bench  OSDEVICE ZAL, COM3 at 57600 bit/s"}));
  const RunResult json = testsupport::run_tool(ZR90, {"--links-file", file, "links", "--json"}, {});
  EXPECT_EQ(nlohmann::json::parse(json.out)[1],
            nlohmann::json({{"name", "bench"}, {"interface", "osdevice"}, {"protocol", "ZAL"}, {"port", "COM3"},
                            {"baud", "57600"}, {"reaches", "OSDEVICE ZAL, COM3 at 57600 bit/s"}}));
  const RunResult none = testsupport::run_tool(ZR90, {"--links-file", folder.path() + "/none.toml", "links"}, {});
  EXPECT_EQ(none.exit_code, 0);
  EXPECT_EQ(none.err, "zr90: no named links in " + folder.path() + "/none.toml\n");
}

// ---- The first contact: what is wrong, and what to do ----------------------------

TEST(Zr90FirstContact, ALinkThatCannotBeBuiltSaysWhatIsMissing) {
  const std::string address = testsupport::unique_loopback_address();  // where nothing listens
  const struct {
    Env env;
    std::vector<std::string> args;
    std::vector<std::string> says;  // parts of standard error
  } cases[] = {
      {{}, {"get", "kqp"},
       {"zr90: no interface given: no --interface, no named link (--link NAME, ZR90_LINK) and no INTERFACE",
        "OSDEVICE, EZAL16, OSZAL", "--protocol, --port, --baud, --baud-mul or --ip", "--link NAME", "'zr90 scan'"}},
      {{{"INTERFACE", "EZAL16"}, {"IPADDR", "127.0.0.300"}}, {"get", "kqp"},
       {"zr90: the card's address \"127.0.0.300\" is not a dotted IPv4 address: give four numbers 0 to 255, as "
        "192.168.1.20\n"}},
      {{{"INTERFACE", "EZAL16"}}, {"--ip", "localhost", "faults"},
       {"zr90: the card's address \"localhost\" is not a dotted IPv4 address"}},
      {{{"INTERFACE", "EZAL16"}, {"IPADDR", address}}, {"-q", "get", "kqp"},
       {"zr90: card " + address + " (UDP port 27181)",
        "the card is off or not connected, or the address is not the card's\n"}},
  };
  for (const auto& c : cases) {
    const RunResult r = testsupport::run_tool(ZR90, c.args, c.env);
    EXPECT_EQ(r.exit_code, 2);
    for (const std::string& part : c.says) EXPECT_TRUE(holds(r.err, part)) << part << "\n" << r.err;
  }
}

TEST(Zr90FirstContact, ADriveAtAnotherRateIsSilentAndTheMessageSaysWhatWasTried) {
  Drive drive("ZAL", {"--baud", "57600"});
  ASSERT_TRUE(drive.started());
  const std::string port = drive.port_name();
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> says;  // parts of standard error; none: it answered
  } cases[] = {
      {{"--protocol", "ZAL", "--baud", "57600", "get", "kqp"}, {}},
      {{"--protocol", "ZAL", "--baud", "19200", "get", "kqp"},
       {"zr90: " + port, ": no answer in the ZAL protocol at 19200 bit/s\n",
        "zr90: is the drive on, and does it speak that protocol at that rate? 'zr90 scan --port " + port +
            "' tries the others\n"}},
      {{"--protocol", "HEX", "get", "kqp"},
       {"no answer in the HEX protocol at 115200 bit/s; no rate was given and 115200 bit/s was assumed (give --baud)"}},
  };
  Env env = port_only(drive);
  env.insert({{"INTERFACE", "OSDEVICE"}, {"COMPORT", port}});
  for (const auto& c : cases) {
    drive.trace();
    const RunResult r = testsupport::run_tool(ZR90, c.args, env);
    EXPECT_EQ(r.exit_code, c.says.empty() ? 0 : 2) << r.err;
    for (const std::string& part : c.says) EXPECT_TRUE(holds(r.err, part)) << part << "\n" << r.err;
  }
}

TEST(Zr90FirstContact, DefaultsAreSaidOnlyWhenAskedFor) {
  Drive drive("ZAL", {});
  ASSERT_TRUE(drive.started());
  Env env = port_only(drive);
  env.insert({{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "ZAL"}, {"COMPORT", drive.port_name()}});
  for (const bool verbose : {false, true}) {
    drive.trace();
    const RunResult r = testsupport::run_tool(ZR90, verbose ? Lines{"-v", "get", "kqp"} : Lines{"get", "kqp"}, env);
    EXPECT_EQ(r.out, "kqp 1200\n");
    EXPECT_EQ(r.err, verbose ? "zr90: BaudrateMul not in Environment, assuming 1\n"
                               "zr90: Baudrate not in Environment, assuming 115200 Baud\n"
                             : "");
  }
}

}  // namespace
