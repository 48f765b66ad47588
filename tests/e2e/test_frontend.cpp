// The front ends as a user runs them. PROTOCOL=DIRECT needs no hardware: reads give
// 0 and writes send nothing, so the command line, the name lookup, the output
// formats, the environment handling and the exit codes can all be checked here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dictionary/dictionary.h"
#include "support/harness.h"

namespace {

using testsupport::Env;
using testsupport::run_tool;
using Lines = std::vector<std::string>;

Env with(Env env, const Env& extra) {
  for (const auto& [name, value] : extra) env[name] = value;
  return env;
}

// The dry-run link: no port, no card.
Env direct(const Env& extra = {}) {
  return with({{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "DIRECT"}}, extra);
}

// A serial link whose port cannot be opened, so that initialisation fails after
// the environment has been read, with a message naming the port.
Env dead_port(const Env& extra = {}) {
  return with({{"ZR90_COM1", "/nonexistent/zr90-port"}, {"ZR90_COM7", "/nonexistent/zr90-port"},
               {"ZR90_COM9", "/nonexistent/zr90-port"}},
              extra);
}

// A fatal ending: an empty line, then the message.
Lines fatal(const std::string& message) { return {"", message}; }

Lines concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Case {
  std::string title;
  std::string tool;
  std::vector<std::string> args;
  Env env;
  Lines lines;
  int exit_code;
};

void run_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const auto result = run_tool(c.tool, c.args, c.env);
    EXPECT_EQ(result.lines(), c.lines);
    EXPECT_EQ(result.exit_code, c.exit_code);
  }
}

const char PEEK[] = "parmpeek";
const char POKE[] = "parmpoke";

const Lines PEEK_USAGE = {"Usage: parmpeek parm [axis] [q] [h] [r] [a]", ""};
const Lines POKE_USAGE = {"Usage: parmpoke parm data [axis] [q] [h]", ""};

Lines address_and_data(const std::string& address, const std::string& data) {
  return {"Parm address: " + address, "Data " + data};
}

// ---- Command line and name lookup -----------------------------------------------

TEST(FrontendUsage, MissingArgumentsGiveTheUsageText) {
  run_cases({
      {"peek without arguments", PEEK, {}, direct(), PEEK_USAGE, 2},
      {"peek with only flags", PEEK, {"", "h"}, direct(), PEEK_USAGE, 2},
      {"poke without arguments", POKE, {}, direct(), POKE_USAGE, 2},
      {"poke without data, valid name", POKE, {"kqp"}, direct(), POKE_USAGE, 2},
      // The reader parses its command line before it reads the environment, the
      // writer the other way round.
      {"peek usage before environment", PEEK, {}, {}, PEEK_USAGE, 2},
      {"poke environment before usage", POKE, {}, {}, fatal("Interface not in Environment"), 2},
      {"poke notices before usage", POKE, {"kqp"}, {{"INTERFACE", "OSDEVICE"}},
       concat({"Protocol not in Environment, assuming Hex", "Comport not in Environment, assuming COM1",
               "BaudrateMul not in Environment, assuming 1", "Baudrate not in Environment, assuming 115200 Baud"},
              POKE_USAGE),
       2},
  });
}

TEST(FrontendNameLookup, NamesAndOffsetsResolveToAddresses) {
  run_cases({
      {"lower case", PEEK, {"kqp", "a"}, direct(), address_and_data("0812", "    0"), 0},
      {"upper case", PEEK, {"KQP", "a"}, direct(), address_and_data("0812", "    0"), 0},
      {"mixed case", PEEK, {"Kqp", "a"}, direct(), address_and_data("0812", "    0"), 0},
      {"leading plus signs dropped", PEEK, {"++kqp", "a"}, direct(), address_and_data("0812", "    0"), 0},
      // kqp+2 is the address of kqi but keeps kqp's word type (width 5, not 10).
      {"decimal offset keeps the type", PEEK, {"kqp+2", "a"}, direct(), address_and_data("0814", "    0"), 0},
      {"0x offset", PEEK, {"kqp+0x10", "a"}, direct(), address_and_data("0822", "    0"), 0},
      {"dollar offset", PEEK, {"kqp+$10", "a"}, direct(), address_and_data("0822", "    0"), 0},
      {"x offset", PEEK, {"kqp+x10", "a"}, direct(), address_and_data("0822", "    0"), 0},
      {"binary offset", PEEK, {"kqp+%10", "a"}, direct(), address_and_data("0814", "    0"), 0},
      {"octal offset", PEEK, {"kqp+&10", "a"}, direct(), address_and_data("081A", "    0"), 0},
      {"offset wraps at 16 bits", PEEK, {"null+65535", "a"}, direct(), address_and_data("07FF", "    0"), 0},
      {"offset of 65536 adds nothing", PEEK, {"null+65536", "a"}, direct(), address_and_data("0800", "    0"), 0},
      {"EEPROM row plus offset", PEEK, {"nvmaxmodulei+$20", "a"}, direct(), address_and_data("0020", "    0"), 0},
      {"double row address", PEEK, {"biggercookie", "a", "h"}, direct(),
       address_and_data("087E", "0000000000000000"), 0},
  });
}

TEST(FrontendNameLookup, BadOffsetsEndTheRun) {
  std::vector<Case> cases;
  for (const char* arg : {"kqp+", "kqp++2", "kqp+2+2", "kqp+-2", "kqp+2x", "kqp+4294967296", "kqp+ "}) {
    cases.push_back({arg, PEEK, {arg}, direct(), fatal("Can't parse offset"), 2});
  }
  cases.push_back({"writer too", POKE, {"kqp+", "5"}, direct(), fatal("Can't parse offset"), 2});
  run_cases(cases);
}

TEST(FrontendNameLookup, UnknownNamesListTheDictionary) {
  for (const auto& [tool, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {PEEK, {"kqp-2"}}, {PEEK, {"kq"}}, {PEEK, {"kqpp+2"}}, {POKE, {"nosuchname", "5"}}}) {
    SCOPED_TRACE(args[0]);
    const auto result = run_tool(tool, args, direct(), "\n\n");
    const Lines lines = result.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "No such parameter: " + args[0]);
    EXPECT_EQ(lines[1], "Valid parameters are: ");
    EXPECT_EQ(result.exit_code, 2);
  }
}

// The list as a reader sees it: the first line holds three names, every later one
// four, each name filled to 19 columns; a pause before rows 80 and 160.
Lines expected_list(const std::string& name) {
  const auto column = [](int row) {
    std::string n = dict::ZORNPARAMS[static_cast<std::size_t>(row - 1)].PARMNAME;
    if (n.size() < 19) n.resize(19, ' ');
    return n;
  };
  Lines lines = {"No such parameter: " + name, "Valid parameters are: "};
  std::string line = column(1) + column(2) + column(3);
  for (int first = 4; first <= dict::LASTPARM; first += 4) {
    lines.push_back(line);
    if (first == 80 || first == 160) {
      lines.push_back("");
      lines.push_back("Press return to continue");
    }
    line.clear();
    for (int row = first; row < first + 4 && row <= dict::LASTPARM; ++row) line += column(row);
  }
  lines.push_back(line);
  return lines;
}

TEST(FrontendNameList, LayoutAndPauses) {
  const auto result = run_tool(PEEK, {"nosuch"}, direct(), "\n\n");
  const Lines lines = result.lines();
  EXPECT_EQ(lines, expected_list("nosuch"));
  ASSERT_EQ(lines.size(), 51u);
  EXPECT_EQ(lines[2].substr(0, 19), "null               ");
  EXPECT_EQ(lines[23], "Press return to continue");
  EXPECT_EQ(lines[24].substr(0, 3), "vq ");  // row 80
  EXPECT_EQ(lines[45], "Press return to continue");
  EXPECT_EQ(result.exit_code, 2);
}

TEST(FrontendNameList, EndOfInputDoesNotHangThePause) {
  const auto result = run_tool(PEEK, {"nosuch"}, direct(), "", 10000);
  EXPECT_EQ(result.lines(), expected_list("nosuch"));
  EXPECT_EQ(result.exit_code, 2);
}

TEST(FrontendNameList, EachPauseWaitsForALine) {
  testsupport::ToolProcess tool(PEEK, {"nosuch"}, direct());
  ASSERT_TRUE(tool.wait_for_lines(24));
  EXPECT_FALSE(tool.wait_for_lines(25, 300)) << "went on without a line of input";
  tool.write_stdin("\n");
  ASSERT_TRUE(tool.wait_for_lines(46));
  EXPECT_FALSE(tool.wait_for_lines(47, 300)) << "went on without a line of input";
  tool.write_stdin("more than return\n");
  const auto result = tool.finish();
  EXPECT_EQ(result.lines(), expected_list("nosuch"));
  EXPECT_EQ(result.exit_code, 2);
}

// ---- Flags and axis ---------------------------------------------------------------

TEST(FrontendFlags, ReaderFlagsStandInPositionsTwoToFive) {
  const Lines hex = {"Data 0000"};
  const Lines decimal = {"Data     0"};
  run_cases({
      {"h in 2", PEEK, {"kqp", "h"}, direct(), hex, 0},
      {"h in 3", PEEK, {"kqp", "1", "H"}, direct(), hex, 0},
      {"h in 4", PEEK, {"kqp", "1", "q", "h"}, direct(), hex, 0},
      {"h in 5", PEEK, {"kqp", "1", "q", "q", "h"}, direct(), hex, 0},
      {"h in 6 is ignored", PEEK, {"kqp", "1", "q", "q", "q", "h"}, direct(), decimal, 0},
      {"q is ignored", PEEK, {"kqp", "q"}, direct(), decimal, 0},
      {"a word is not a flag", PEEK, {"kqp", "hex"}, direct(), decimal, 0},
      {"a in 5", PEEK, {"kqp", "q", "q", "q", "A"}, direct(), address_and_data("0812", "    0"), 0},
      {"a and h", PEEK, {"kqp", "h", "a"}, direct(), address_and_data("0812", "0000"), 0},
  });
}

// Without the h flag "FF" is no decimal number: the usage text shows that the flag
// was not seen.
TEST(FrontendFlags, WriterFlagsStandInPositionsThreeToFive) {
  run_cases({
      {"h in 3", POKE, {"kqp", "FF", "h"}, direct(), {}, 0},
      {"h in 4", POKE, {"kqp", "FF", "1", "H"}, direct(), {}, 0},
      {"h in 5", POKE, {"kqp", "FF", "1", "q", "h"}, direct(), {}, 0},
      {"h in 6 is ignored", POKE, {"kqp", "FF", "1", "q", "q", "h"}, direct(), POKE_USAGE, 2},
      {"h in 2 is the data", POKE, {"kqp", "h", "FF"}, direct(), POKE_USAGE, 2},
  });
}

// The axis only shows where the serial-channel module needs it: an axis above 7 is
// refused before any card access. EPP has no way to the card, so an accepted axis
// ends with "Unable to initialize".
Env sszal(const Env& extra = {}) {
  return with({{"INTERFACE", "EPP"}, {"PROTOCOL", "SSZAL"}, {"BAUDRATE", "2500000"}}, extra);
}
const Lines AXIS_ACCEPTED = fatal("Unable to initialize");
const Lines AXIS_REFUSED = fatal("Axis must be 0 to 7 for the serial-channel module");

TEST(FrontendAxis, ReaderTakesTheAxisFromArgumentTwo) {
  run_cases({
      {"axis 7", PEEK, {"kqp", "7"}, sszal(), AXIS_ACCEPTED, 2},
      {"axis 8", PEEK, {"kqp", "8"}, sszal(), AXIS_REFUSED, 2},
      {"axis in hex", PEEK, {"kqp", "0x8"}, sszal(), AXIS_REFUSED, 2},
      {"259 is not axis 3", PEEK, {"kqp", "259"}, sszal(), AXIS_REFUSED, 2},
      {"264", PEEK, {"kqp", "264"}, sszal(), AXIS_REFUSED, 2},
      {"65544", PEEK, {"kqp", "65544"}, sszal(), AXIS_REFUSED, 2},
      {"a flag in 2 means axis 0", PEEK, {"kqp", "h", "8"}, sszal(), AXIS_ACCEPTED, 2},
      {"a negative number is no axis", PEEK, {"kqp", "-8"}, sszal(), AXIS_REFUSED, 2},
      {"a word is no axis", PEEK, {"kqp", "two"}, sszal(), AXIS_REFUSED, 2},
      {"nor a number with a tail", PEEK, {"kqp", "2x"}, sszal(), AXIS_REFUSED, 2},
      {"axis then flag", PEEK, {"kqp", "8", "h"}, sszal(), AXIS_REFUSED, 2},
  });
}

TEST(FrontendAxis, WriterTakesTheAxisFromArgumentThree) {
  run_cases({
      {"axis 7", POKE, {"kqp", "100", "7"}, sszal(), AXIS_ACCEPTED, 2},
      {"axis 8", POKE, {"kqp", "100", "8"}, sszal(), AXIS_REFUSED, 2},
      {"flag in 3 means axis 0", POKE, {"kqp", "100", "h", "8"}, sszal(), AXIS_ACCEPTED, 2},
      {"258 is not axis 2", POKE, {"kqp", "100", "258"}, sszal(), AXIS_REFUSED, 2},
      {"axis then flag", POKE, {"kqp", "100", "8", "h"}, sszal(), AXIS_REFUSED, 2},
      {"data is not the axis", POKE, {"kqp", "8"}, sszal(), AXIS_ACCEPTED, 2},
  });
}

// ---- Output formats ---------------------------------------------------------------

TEST(FrontendOutputFormats, EveryTypeHasItsWidthAndDigitCount) {
  struct Format {
    const char* name;
    const char* address;
    const char* decimal;
    const char* hex;
  };
  const std::vector<Format> formats = {
      {"kqp", "0812", "    0", "0000"},                                 // word
      {"null", "0800", "    0", "0000"},                                // pointer
      {"pidena", "0804", "    0", "0000"},                              // flag
      {"pwm", "0808", "    0", "0000"},                                 // signed word
      {"kqi", "0814", "         0", "00000000"},                        // unsigned long
      {"phasek", "080A", "         0", "00000000"},                     // long
      {"biggercookie", "087E", "                   0", "0000000000000000"},  // double
      {"nvkqi", "000C", "         0", "00000000"},                      // EEPROM long
      {"nvmaxmodulei", "0000", "    0", "0000"},                        // EEPROM word
  };
  std::vector<Case> cases;
  for (const Format& f : formats) {
    cases.push_back({std::string(f.name) + " decimal", PEEK, {f.name, "a"}, direct(),
                     address_and_data(f.address, f.decimal), 0});
    cases.push_back({std::string(f.name) + " hex", PEEK, {f.name, "h"}, direct(), {std::string("Data ") + f.hex}, 0});
  }
  run_cases(cases);
}

// ---- Environment ----------------------------------------------------------------------

TEST(FrontendEnvironment, NoticesAndFatalMessagesInOrder) {
  const Lines baud_notice = {"Baudrate not in Environment, assuming 115200 Baud"};
  const Env zal_port = dead_port({{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "ZAL"}, {"COMPORT", "COM9"},
                                  {"BAUDRATE", "9600"}, {"BAUDRATEMUL", "1"}});
  run_cases({
      {"interface unset", PEEK, {"kqp"}, {{"PROTOCOL", "DIRECT"}}, fatal("Interface not in Environment"), 2},
      {"interface empty", PEEK, {"kqp"}, {{"INTERFACE", ""}}, fatal("Interface not in Environment"), 2},
      {"osdevice defaults", PEEK, {"kqp"}, dead_port({{"INTERFACE", "osdevice"}}),
       {"Protocol not in Environment, assuming Hex", "Comport not in Environment, assuming COM1",
        "BaudrateMul not in Environment, assuming 1", "Baudrate not in Environment, assuming 115200 Baud", "",
        "COM1 open failed"},
       2},
      {"sszal baud default", PEEK, {"kqp"}, {{"INTERFACE", "EPP"}, {"PROTOCOL", "sszal"}},
       concat({"Baudrate not in Environment, assuming 2500000 Baud"}, fatal("Unable to initialize")), 2},
      {"comport in lower case", PEEK, {"kqp"}, with(zal_port, {{"COMPORT", "com7"}}), fatal("COM7 open failed"), 2},
      {"comport without number", PEEK, {"kqp"}, with(zal_port, {{"COMPORT", "COM"}}),
       fatal("Undecipherable Windows COM port - bail out!"), 2},
      {"comport with junk", PEEK, {"kqp"}, with(zal_port, {{"COMPORT", "COM7:"}}),
       fatal("Undecipherable Windows COM port - bail out!"), 2},
      {"comport as a device path", PEEK, {"kqp"}, with(zal_port, {{"COMPORT", "/dev/ttyS0"}}),
       fatal("Undecipherable Windows COM port - bail out!"), 2},
      {"multiplier 1.5", PEEK, {"kqp"}, with(zal_port, {{"BAUDRATEMUL", "1.5"}}), fatal("COM9 open failed"), 2},
      {"multiplier 0.5", PEEK, {"kqp"}, with(zal_port, {{"BAUDRATEMUL", "0.5"}}),
       fatal("Illegal Baud rate Multiplier - bail out!"), 2},
      {"multiplier 65", PEEK, {"kqp"}, with(zal_port, {{"BAUDRATEMUL", "65"}}),
       fatal("Illegal Baud rate Multiplier - bail out!"), 2},
      {"multiplier x2", PEEK, {"kqp"}, with(zal_port, {{"BAUDRATEMUL", "x2"}}),
       fatal("Illegal Baud rate Multiplier - bail out!"), 2},
      {"baud rate junk", PEEK, {"kqp"}, with(zal_port, {{"BAUDRATE", "fast"}}),
       fatal("Illegal Baud rate - bail out!"), 2},
      {"baud rate negative", PEEK, {"kqp"}, with(zal_port, {{"BAUDRATE", "-9600"}}),
       fatal("Illegal Baud rate - bail out!"), 2},
      {"baud rate zero", PEEK, {"kqp"}, with(zal_port, {{"BAUDRATE", "0"}}), fatal("Illegal Baud rate - bail out!"),
       2},
      {"baud rate missing", PEEK, {"kqp"}, with(zal_port, {{"BAUDRATE", ""}}),
       concat(baud_notice, fatal("COM9 open failed")), 2},
      {"card port junk", PEEK, {"kqp"}, {{"INTERFACE", "OSZAL"}, {"PROTOCOL", "DIRECT"}, {"COMPORT", "COMx"}},
       fatal("Undecipherable Windows COM port - bail out!"), 2},
      {"protocol BUS", PEEK, {"kqp"}, with(zal_port, {{"PROTOCOL", "BUS"}}), fatal("Protocol not supported"), 2},
      {"writer reads the same", POKE, {"kqp", "1"}, with(zal_port, {{"BAUDRATE", "fast"}}),
       fatal("Illegal Baud rate - bail out!"), 2},
  });
}

TEST(FrontendEnvironment, EthernetAddressForms) {
  const Env card = {{"INTERFACE", "EZAL16"}, {"PROTOCOL", "DIRECT"}};
  const Lines refused = fatal("Ethernet protocol but no IP address");
  // With DIRECT the socket is made but no datagram is sent.
  std::vector<Case> cases = {
      {"four parts", PEEK, {"kqp"}, with(card, {{"IPADDR", "127.0.0.1"}}), {"Data     0"}, 0},
      {"edge values", PEEK, {"kqp"}, with(card, {{"IPADDR", "127.255.0.254"}}), {"Data     0"}, 0},
      {"unset", PEEK, {"kqp"}, card, refused, 2},
  };
  for (const char* bad : {"10.0.0", "10.0.0.256", "10.0.+1.1", "10.0.a.1", "localhost", "1.2.3.4.5", "1..2.3"}) {
    cases.push_back({bad, PEEK, {"kqp"}, with(card, {{"IPADDR", bad}}), refused, 2});
  }
  run_cases(cases);
}

TEST(FrontendEnvironment, ParallelPortForms) {
  const Env epp = {{"INTERFACE", "EPP"}, {"PROTOCOL", "DIRECT"}};
  run_cases({
      {"278", PEEK, {"kqp"}, with(epp, {{"EPPPORT", "278"}}), fatal("Unable to initialize"), 2},
      {"27C", PEEK, {"kqp"}, with(epp, {{"EPPPORT", "27C"}}), fatal("Invalid EPP address"), 2},
      {"0x378", PEEK, {"kqp"}, with(epp, {{"EPPPORT", "0x378"}}), fatal("Can't parse EPP address"), 2},
      {"unknown interface is EPP", PEEK, {"kqp"}, {{"INTERFACE", "FOO"}, {"PROTOCOL", "DIRECT"}, {"EPPPORT", "27C"}},
       fatal("Invalid EPP address"), 2},
  });
}

TEST(FrontendInitialisation, InterfacesWithoutAWayToTheDrive) {
  std::vector<Case> cases;
  for (const char* kind : {"EPP", "PCIMEM", "ISAPORT", "FOO", "pcimem"}) {
    cases.push_back({kind, PEEK, {"kqp"}, {{"INTERFACE", kind}, {"PROTOCOL", "DIRECT"}}, fatal("Unable to initialize"), 2});
  }
  cases.push_back({"writer", POKE, {"kqp", "1"}, {{"INTERFACE", "PCIMEM"}, {"PROTOCOL", "DIRECT"}},
                   fatal("Unable to initialize"), 2});
  cases.push_back({"unknown protocol", PEEK, {"kqp"}, {{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "SPI"}},
                   fatal("Using OSDevice Interface"), 2});
  cases.push_back({"card port that cannot open", PEEK, {"kqp"},
                   dead_port({{"INTERFACE", "OSZAL"}, {"PROTOCOL", "DIRECT"}, {"COMPORT", "COM9"}}),
                   fatal("COM9 open failed"), 2});
  // The card's host port has no default: without a port the run says so.
  cases.push_back({"card port missing", PEEK, {"kqp"}, {{"INTERFACE", "OSZAL"}, {"PROTOCOL", "DIRECT"}},
                   fatal("Comport not in Environment"), 2});
  run_cases(cases);
}

// ---- Writer values ---------------------------------------------------------------------

TEST(FrontendWriterValues, RangeChecksAndRounding) {
  const auto ok = [](const char* title, std::vector<std::string> args) {
    return Case{title, POKE, std::move(args), direct(), {}, 0};
  };
  const auto too_big = [](const char* title, std::vector<std::string> args, const std::string& name) {
    return Case{title, POKE, std::move(args), direct(), fatal("Parameter is too big for " + name), 2};
  };
  const auto too_small = [](const char* title, std::vector<std::string> args, const std::string& name) {
    return Case{title, POKE, std::move(args), direct(), fatal("Parameter is too small for " + name), 2};
  };
  const auto usage = [](const char* title, std::vector<std::string> args) {
    return Case{title, POKE, std::move(args), direct(), POKE_USAGE, 2};
  };
  run_cases({
      ok("word at its limit", {"kqp", "65535"}),
      too_big("word above its limit", {"kqp", "65536"}, "kqp"),
      too_big("the row's name as stored", {"KQP", "70000"}, "kqp"),
      ok("negative word", {"kqp", "-1"}),
      too_small("below what a word holds", {"pwm", "-70000"}, "pwm"),
      too_big("signed word", {"pwm", "65536"}, "pwm"),
      too_big("pointer", {"null", "65536"}, "null"),
      too_big("flag", {"pidena", "65536"}, "pidena"),
      ok("half to even, down", {"kqp", "65534.5"}),
      too_big("half to even, up past the limit", {"kqp", "65535.5"}, "kqp"),
      ok("just below a half", {"kqp", "65535.4999"}),
      ok("exponent", {"kqp", "1e3"}),
      too_big("exponent past the limit", {"kqp", "6.6e4"}, "kqp"),
      ok("hex at the limit", {"kqp", "FFFF", "h"}),
      too_big("hex past the limit", {"kqp", "10000", "h"}, "kqp"),
      too_big("hex bits beyond the width", {"kqp", "FFFFFFFFFFFFFFFF", "h"}, "kqp"),
      usage("hex with a prefix", {"kqp", "0x10", "h"}),
      usage("hex with a sign", {"kqp", "-1", "h"}),
      usage("not a number", {"kqp", "abc"}),
      usage("hex digits without h", {"kqp", "FF"}),
      usage("empty after blanks", {"kqp", " "}),
      too_big("int64 maximum", {"kqp", "9223372036854775807"}, "kqp"),
      usage("past int64", {"kqp", "9223372036854775808"}),
      usage("far past int64", {"kqp", "1e30"}),
      too_small("int64 minimum", {"kqp", "-9223372036854775808"}, "kqp"),
      too_big("long past its width", {"kqi", "4294967296"}, "kqi"),
      ok("double, all 64 bits", {"biggercookie", "FFFFFFFFFFFFFFFF", "h"}),
      ok("only the last 16 hex digits count", {"biggercookie", "1FFFFFFFFFFFFFFFF", "h"}),
      usage("a bad digit beyond the 16th", {"biggercookie", "G0000000000000000", "h"}),
      too_big("EEPROM word", {"nvmaxmodulei", "65536"}, "nvmaxmodulei"),
      ok("EEPROM word", {"nvmaxmodulei", "1"}),
      too_big("EEPROM long past its width", {"nvkqi", "4294967296"}, "nvkqi"),
  });
}

// ---- Hostile input -------------------------------------------------------------------

// Arguments are short strings: anything longer is cut, nothing overflows.
TEST(FrontendRobustness, ArgumentsOfAnyLengthAndEmptyOnes) {
  const std::string digits(1000, '9');
  run_cases({
      {"empty everywhere", PEEK, {"", "", "", "", "", ""}, direct(), PEEK_USAGE, 2},
      {"empty data", POKE, {"kqp", "", "h"}, direct(), POKE_USAGE, 2},
      {"huge offset", PEEK, {"kqp+" + digits}, direct(), fatal("Can't parse offset"), 2},
      {"huge axis is refused", PEEK, {"kqp", "8" + digits}, sszal(), AXIS_REFUSED, 2},
      {"long words are no flags", PEEK, {"kqp", std::string(1000, 'h'), std::string(300, 'a')}, direct(),
       {"Data     0"}, 0},
      {"huge decimal data", POKE, {"kqp", digits}, direct(), POKE_USAGE, 2},
      {"huge hexadecimal data", POKE, {"biggercookie", std::string(1000, 'F'), "h"}, direct(), {}, 0},
  });
  const auto listed = run_tool(PEEK, {std::string(1000, 'k')}, direct(), "\n\n");
  ASSERT_FALSE(listed.lines().empty());
  EXPECT_EQ(listed.lines()[0], "No such parameter: " + std::string(255, 'k'));
  EXPECT_EQ(listed.exit_code, 2);
}

// ---- Repeat mode --------------------------------------------------------------------------

TEST(FrontendRepeat, ReaderStopsAtAByteOnStandardInput) {
  testsupport::ToolProcess tool(PEEK, {"kqp", "r"}, direct());
  ASSERT_TRUE(tool.wait_for_lines(3));
  tool.write_stdin("x");
  const auto result = tool.finish();
  EXPECT_EQ(result.exit_code, 0);
  const Lines lines = result.lines();
  EXPECT_GE(lines.size(), 3u);
  for (const auto& line : lines) EXPECT_EQ(line, "Data     0");
}

TEST(FrontendRepeat, EndOfInputIsNotAKey) {
  testsupport::ToolProcess tool(PEEK, {"kqp", "r", "h"}, direct());
  tool.close_stdin();
  ASSERT_TRUE(tool.wait_for_lines(3));
  const std::size_t seen = tool.output_so_far().size();
  ASSERT_TRUE(tool.wait_for_lines(seen / 10 + 5)) << "the loop ended at end of input";
  tool.interrupt();
  const auto result = tool.finish();
  EXPECT_EQ(result.exit_code, 0);
  for (const auto& line : result.lines()) EXPECT_EQ(line, "Data 0000");
}

TEST(FrontendRepeat, InterruptEndsTheLoopNormally) {
  testsupport::ToolProcess tool(PEEK, {"biggercookie", "a", "r"}, direct());
  ASSERT_TRUE(tool.wait_for_lines(3));
  tool.interrupt();
  const auto result = tool.finish();
  EXPECT_EQ(result.exit_code, 0);
  const Lines lines = result.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Parm address: 087E");
  EXPECT_EQ(lines.back(), "Data                    0");
}

TEST(FrontendRepeat, WriterStopsAtAKeyAndEndsWithZero) {
  testsupport::ToolProcess tool(POKE, {"kqp", "5", "q", "r"}, direct());
  EXPECT_FALSE(tool.wait_for_lines(1, 200)) << "the writer printed: " << tool.output_so_far();
  tool.write_stdin("\n");
  const auto result = tool.finish();
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.exit_code, 0);
}

TEST(FrontendRepeat, WriterRangeCheckEndsTheLoop) {
  testsupport::ToolProcess tool(POKE, {"kqp", "65536", "r"}, direct());
  const auto result = tool.finish();
  EXPECT_EQ(result.lines(), fatal("Parameter is too big for kqp"));
  EXPECT_EQ(result.exit_code, 2);
}

}  // namespace
