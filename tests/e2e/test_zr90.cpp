// zr90 end to end: every command against the simulated card (UDP and its serial
// host port) and a simulated drive on a pseudo-terminal; several axes in one run,
// an axis without a drive, the refusals that must send nothing, the output forms.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "test_card_fixture.h"
#include "test_serial_fixture.h"

namespace {

using cardtest::Card;
using cardtest::Lines;
using testsupport::Env;
using testsupport::RunResult;

constexpr char ZR90[] = "zr90";
constexpr uint16_t COMMAND = 0x5000;

RunResult zr90(const Env& env, const std::vector<std::string>& args, const std::string& input = "") {
  return testsupport::run_tool(ZR90, args, env, input);
}

Lines lines_of(const std::string& text) { return Card::lines_of(text); }

long count_of(const Lines& lines, const std::string& line) { return std::count(lines.begin(), lines.end(), line); }

// ---- Through the card over UDP ------------------------------------------------

TEST(Zr90Card, ManyParametersOnManyAxesInOneRun) {
  auto card = cardtest::udp_card();
  const RunResult r = zr90(card->env, {"-q", "-a", "0,2", "get", "kqp", "pwm", "nvkqp"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.lines(), (Lines{"0 kqp 1200", "2 kqp 1200", "0 pwm -120", "2 pwm -120", "0 nvkqp 1200", "2 nvkqp 1200"}));
  EXPECT_EQ(r.err, "");
  // Both channels start with one command, and each RAM parameter is one run
  // command for both of them.
  const Lines requests = card->requests();
  EXPECT_EQ(count_of(requests, cardtest::write_request(COMMAND, 0xF05)), 1);
  EXPECT_EQ(count_of(requests, cardtest::write_request(COMMAND, 0x1005)), 2);
  EXPECT_EQ(count_of(requests, cardtest::write_request(COMMAND, 0xF01)), 0);
}

TEST(Zr90Card, OutputForms) {
  auto card = cardtest::udp_card();
  const RunResult json = zr90(card->env, {"-q", "--json", "-a", "1", "get", "kqp", "pwm"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  const nlohmann::json rows = nlohmann::json::parse(json.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], nlohmann::json({{"axis", 1}, {"name", "kqp"}, {"address", "0x0812"}, {"type", "uint"}, {"value", 1200}}));
  EXPECT_EQ(rows[1]["value"], -120);

  // Hexadecimal comes beside the number, which stays a number.
  const RunResult hex = zr90(card->env, {"-q", "--json", "--hex", "get", "pwm"});
  EXPECT_EQ(nlohmann::json::parse(hex.out)[0]["value"], -120);
  EXPECT_EQ(nlohmann::json::parse(hex.out)[0]["value_hex"], "0xFF88");

  EXPECT_EQ(zr90(card->env, {"-q", "--csv", "get", "kqp"}).lines(),
            (Lines{"axis,name,address,type,value,error", "0,kqp,0x0812,uint,1200,"}));
  EXPECT_EQ(zr90(card->env, {"-q", "--value", "get", "kqp", "pwm", "--hex"}).lines(), (Lines{"0x04B0", "0xFF88"}));
  const Lines offset = zr90(card->env, {"-q", "get", "KQP+2"}).lines();
  ASSERT_EQ(offset.size(), 1u);
  EXPECT_EQ(offset[0].rfind("kqp+2 ", 0), 0u) << "the name as the dictionary writes it, the offset as given";
}

TEST(Zr90Card, AnAxisWithoutADriveFailsAloneAndTheOthersGoOn) {
  auto card = cardtest::udp_card({"--fault", "nodrive=4"});
  const RunResult r = zr90(card->env, {"-q", "-a", "3-5", "get", "kqp"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.lines(), (Lines{"3 kqp 1200", "5 kqp 1200"}));
  EXPECT_EQ(r.err, "zr90: axis 4: the channel did not start; is a drive connected?\n");

  const RunResult json = zr90(card->env, {"-q", "-a", "3-5", "--json", "get", "kqp"});
  EXPECT_EQ(json.exit_code, 1);
  const nlohmann::json rows = nlohmann::json::parse(json.out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1]["axis"], 4);
  EXPECT_EQ(rows[1]["error"], "the channel did not start");
  EXPECT_FALSE(rows[1].contains("value"));
}

TEST(Zr90Card, SetWritesReadsBackAndShowsOldAndNew) {
  auto card = cardtest::udp_card();
  const RunResult set = zr90(card->env, {"-q", "-a", "1,2", "set", "-v", "-y", "kqp=300", "nvkqp=0x20"});
  EXPECT_EQ(set.exit_code, 0) << set.err;
  EXPECT_EQ(set.lines(), (Lines{"1 kqp 1200 -> 300", "2 kqp 1200 -> 300", "1 nvkqp 1200 -> 32", "2 nvkqp 1200 -> 32"}));
  EXPECT_EQ(zr90(card->env, {"-q", "-a", "0-2", "--value", "get", "kqp"}).lines(), (Lines{"1200", "300", "300"}));
  EXPECT_EQ(zr90(card->env, {"-q", "-a", "2", "get", "nvkqp"}).lines(), (Lines{"nvkqp 32"}));
}

TEST(Zr90Card, RefusedValuesAndEepromWritesWithoutConsentSendNothing) {
  auto card = cardtest::udp_card();
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"set", "kqp=-1"}, "zr90: kqp: -1 is out of range (0 to 65535)\n"},
      {{"set", "pwm=100", "kqp=70000"}, "zr90: kqp: 70000 is out of range (0 to 65535)\n"},
      {{"set", "pwm=x"}, "zr90: pwm: \"x\" is not a number (-32768 to 32767 or 0x0000 to 0xFFFF)\n"},
      {{"set", "kqp=5", "nvkqp=5"},
       "zr90: refusing to write EEPROM settings without a terminal to confirm them; give -y to write them\n"},
      {{"get", "kpq"}, "zr90: unknown parameter \"kpq\"; did you mean \"kqp\"?\n"},
      {{"-a", "9", "get", "kqp"},
       "zr90: bad axis list \"9\": axes are 0 to 7; give one (2), a list (0,2,5), a range (0-3) or all\n"},
      {{"set", "kqp", "1300"}, "zr90: \"kqp\" is not NAME=VALUE; write kqp=1300\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = zr90(card->env, c.args);
    EXPECT_EQ(r.exit_code, 2) << c.message;
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(card->wire().empty()) << "something was sent";
}

TEST(Zr90Card, FaultWordsDecodedAndAFaultIsExitOne) {
  auto card = cardtest::udp_card();
  ASSERT_EQ(zr90(card->env, {"-q", "set", "faultmask=0x0014", "status=0x0201"}).exit_code, 0);
  const RunResult well = zr90(card->env, {"-q", "faults"});
  EXPECT_EQ(well.exit_code, 0) << well.err;
  EXPECT_EQ(well.lines(), (Lines{"no faults"}));

  ASSERT_EQ(zr90(card->env, {"-q", "-a", "1", "set", "fault=0x0204"}).exit_code, 0);
  const RunResult r = zr90(card->env, {"-q", "-a", "0-2", "faults"});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.lines(), (Lines{"0 no faults", "1 fault         0x0204 OVERTEMPFAULT BUSHIVFAULT",
                              "1 faultmask     0xFFFF", "1 startupstatus 0x0000", "1 status        0x0001 ILIMITEDSTATUS",
                              "2 no faults"}));
  // The mask by the faults it leaves out, not by every name it lets through.
  ASSERT_EQ(zr90(card->env, {"-q", "set", "fault=4"}).exit_code, 0);
  EXPECT_EQ(zr90(card->env, {"-q", "faults"}).lines()[1],
            "faultmask     0x0014 leaves out WATCHDOGFAULT ULOOPCURRENTFAULT VLOOPCURRENTFAULT WLOOPCURRENTFAULT "
            "BUSHIVFAULT MAXBUSVFAULT MODULEFAULT UNUSEDFAULT1 UNUSEDFAULT2 OERR FERR");
  const nlohmann::json rows = nlohmann::json::parse(zr90(card->env, {"-q", "--json", "faults"}).out);
  EXPECT_EQ(rows[3], nlohmann::json({{"axis", 0}, {"name", "status"}, {"value", 0x0201}, {"bits", {"ILIMITEDSTATUS", "bit 9"}}}));
}

TEST(Zr90Card, SetAndWatchSpeakJson) {
  auto card = cardtest::udp_card({"--fault", "nodrive=3"});
  const RunResult set = zr90(card->env, {"-q", "--json", "-a", "2", "set", "kqp=1300", "pwm=-5"});
  EXPECT_EQ(set.exit_code, 0) << set.err;
  EXPECT_EQ(nlohmann::json::parse(set.out),
            nlohmann::json::parse(R"([{"axis": 2, "name": "kqp", "old": 1200, "new": 1300, "outcome": "verified"},
                                      {"axis": 2, "name": "pwm", "old": -120, "new": -5, "outcome": "verified"}])"));

  const RunResult watch = zr90(card->env, {"-q", "--json", "-a", "2,3", "watch", "kqp", "--interval", "0", "--count", "2"});
  EXPECT_EQ(watch.exit_code, 1) << "axis 3 has no drive";
  ASSERT_EQ(watch.lines().size(), 2u) << watch.out;
  for (const std::string& line : watch.lines()) {
    const nlohmann::json sample = nlohmann::json::parse(line);
    EXPECT_TRUE(sample["ms"].is_number());
    EXPECT_EQ(sample["values"][0], nlohmann::json({{"axis", 2}, {"name", "kqp"}, {"value", 1300}}));
    EXPECT_EQ(sample["values"][1]["axis"], 3);
    EXPECT_TRUE(sample["values"][1]["error"].is_string());
  }
}

TEST(Zr90Card, WatchSamplesOnASchedule) {
  auto card = cardtest::udp_card();
  const RunResult r = zr90(card->env, {"-q", "-a", "0,2", "watch", "kqp", "pwm", "--csv", "--interval", "20", "--count", "3"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const Lines lines = r.lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "ms,0:kqp,2:kqp,0:pwm,2:pwm");
  const std::regex row("(\\d+),1200,1200,-120,-120");
  long previous = -1;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, row)) << lines[i];
    const long ms = std::stol(m[1]);
    // Samples keep their schedule: never early.
    EXPECT_GE(ms, 20 * static_cast<long>(i - 1));
    EXPECT_GT(ms, previous);
    previous = ms;
  }
}

TEST(Zr90Card, TheWireTraceOfARun) {
  auto card = cardtest::udp_card();
  const std::string trace = testsupport::temp_path("zr90-trace");
  ASSERT_EQ(zr90(card->env, {"-q", "--trace", trace, "get", "kqp"}).exit_code, 0);
  const Lines lines = lines_of(testsupport::read_file(trace));
  ASSERT_FALSE(lines.empty());
  const std::regex form("\\d+\\.\\d{3} [<>]( [0-9A-F]{2})+");
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, form)) << line;
  EXPECT_EQ(lines[0].substr(lines[0].find(' ')), " > 01 42 00 01");
  // The tool's lines and the simulator's are the same datagrams.
  EXPECT_EQ(lines.size(), card->wire().size());

  // ZR90_TRACE does the same for every program, and --trace wins over it; the
  // programs' output does not change.
  const std::string by_env = testsupport::temp_path("env-trace");
  Env env = card->env;
  env["ZR90_TRACE"] = by_env;
  EXPECT_EQ(testsupport::run_tool("parmpeek", {"kqp", "0"}, env).lines(),
            (Lines{cardtest::BAUD_NOTICE, "Data  1200"}));
  const Lines peek_lines = lines_of(testsupport::read_file(by_env));
  ASSERT_FALSE(peek_lines.empty());
  EXPECT_TRUE(std::regex_match(peek_lines.back(), form)) << peek_lines.back();
  ASSERT_EQ(zr90(env, {"-q", "--trace", trace, "get", "kqp"}).exit_code, 0);
  EXPECT_EQ(lines_of(testsupport::read_file(by_env)), peek_lines) << "--trace wins";
  EXPECT_FALSE(lines_of(testsupport::read_file(trace)).empty());
  std::remove(by_env.c_str());
  std::remove(trace.c_str());
}

// ---- The card on its serial host port, and a drive on a serial line ----------------

TEST(Zr90Serial, TheCardOnItsHostPort) {
  auto card = cardtest::pty_card("either");
  const RunResult r = zr90(card->env, {"-q", "-a", "0,1", "get", "kqp"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.lines(), (Lines{"0 kqp 1200", "1 kqp 1200"}));
}

TEST(Zr90Serial, ADriveOnADirectLineInEachProtocol) {
  for (const char* protocol : {"ZAL", "HEX"}) {
    SCOPED_TRACE(protocol);
    serialtest::Drive drive(protocol, {});
    ASSERT_TRUE(drive.started());
    Env env = drive.env();
    EXPECT_EQ(testsupport::run_tool(ZR90, {"-q", "set", "kqp=777"}, env).exit_code, 0);
    drive.trace();
    EXPECT_EQ(testsupport::run_tool(ZR90, {"-q", "get", "kqp"}, env).lines(), (Lines{"kqp 777"}));
    drive.trace();
    if (!testsupport::running_windows_build()) {
      // A device path in place of the port name.
      env.erase("COMPORT");
      EXPECT_EQ(testsupport::run_tool(ZR90, {"-q", "--port", drive.path(), "get", "kqp"}, env).lines(),
                (Lines{"kqp 777"}));
      drive.trace();
    }
    // One drive only: another axis is refused before the port is opened.
    drive.mark();
    const RunResult refused = testsupport::run_tool(ZR90, {"-q", "-a", "1", "get", "kqp"}, drive.env());
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_EQ(refused.err, "zr90: axis 1: this link reaches one drive, axis 0 only\n");
    EXPECT_TRUE(drive.sent_since_mark().empty());
  }
}

TEST(Zr90Serial, APortThatDoesNotOpenIsNamedWithItsDevice) {
  if (testsupport::running_windows_build()) GTEST_SKIP() << "device paths are the Linux names";
  Env env{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "ZAL"}, {"COMPORT", "COM3"}, {"ZR90_COM3", "/nonexistent/tty"}};
  const RunResult r = zr90(env, {"-q", "get", "kqp"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "zr90: COM3 (/nonexistent/tty): No such file or directory\n");
}

// ---- Without a link -------------------------------------------------------------------

TEST(Zr90Local, ListHelpVersionAndCompletion) {
  const Env none;
  EXPECT_EQ(zr90(none, {"list", "kqp"}).lines(), (Lines{"kqp               0x0812  uint   ram"}));
  const nlohmann::json nv = nlohmann::json::parse(zr90(none, {"list", "NV*", "--json"}).out);
  ASSERT_GE(nv.size(), 30u);
  for (const auto& row : nv) EXPECT_EQ(row["memory"], "eeprom") << row;

  const RunResult help = zr90(none, {"--help"});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* command : {"list", "get", "set", "watch", "faults", "completion"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
  EXPECT_NE(zr90(none, {"help", "set"}).out.find("--no-verify"), std::string::npos);
  EXPECT_EQ(zr90(none, {"help", "nonsense"}).exit_code, 2);
  EXPECT_EQ(zr90(none, {"frobnicate"}).exit_code, 2);
  EXPECT_EQ(zr90(none, {"-V"}).out.rfind("zr90 ", 0), 0u);

  if (testsupport::running_windows_build()) return;
  const std::string script = testsupport::temp_path("completion");
  {
    std::FILE* f = std::fopen(script.c_str(), "w");
    ASSERT_NE(f, nullptr);
    const std::string text = zr90(none, {"completion", "bash"}).out;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  const std::string probe = "source " + script +
                            "; COMP_WORDS=(parmpeek kq); COMP_CWORD=1; _zr90_parm; echo \"${COMPREPLY[*]}\";"
                            " COMP_WORDS=(zr90 ge); COMP_CWORD=1; _zr90; echo \"${COMPREPLY[*]}\"";
  const RunResult bash = testsupport::run_tool("/bin/bash", {"-c", probe}, none);
  std::remove(script.c_str());
  EXPECT_EQ(bash.lines(), (Lines{"kqp kqi kqil", "get"}));
}

}  // namespace
