// Both tools through the simulated FPGA card over EZAL16 datagrams on loopback:
// the exact card traffic, every value type on several channels, writes read back,
// EEPROM access and repeat mode.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_card_fixture.h"

namespace {

using namespace cardtest;
using testsupport::run_tool;

// The simulated card reports these; the tools must follow them.
constexpr uint16_t IDROM = 0x0400;
constexpr uint16_t COMMAND = 0x5000;
constexpr uint16_t DATA = 0x5100;
constexpr uint16_t CSR = 0x5200;
constexpr uint16_t USER0 = 0x5300;
constexpr uint16_t CHANNEL_START = 0x40;
constexpr uint16_t CHANNEL_STRIDE = 0x40;

// Card traffic of the initialisation for a channel, requests only.
Lines setup_requests(int axis, uint32_t baud) {
  Lines r{read_request(0x0100), read_request(0x010C)};
  for (int i = 0; i < 256; ++i) r.push_back(read_request(static_cast<uint16_t>(IDROM + 4 * i)));
  const std::pair<uint16_t, uint32_t> masks[] = {{0, 0x0000FF00}, {1, 0x00DB6DB6}, {3, 0x0000000F}};
  for (auto [port, mask] : masks) {
    r.push_back(write_request(static_cast<uint16_t>(0x1100 + 4 * port), mask));
    r.push_back(write_request(static_cast<uint16_t>(0x1200 + 4 * port), mask));
  }
  for (uint16_t location = 2; location <= 5; ++location) {
    r.push_back(write_request(COMMAND, 0x2000u + location));
    r.push_back(read_request(COMMAND));
    r.push_back(read_request(DATA));
  }
  uint16_t rate_at = static_cast<uint16_t>(CHANNEL_START + axis * CHANNEL_STRIDE + 42);
  for (int i = 0; i < 4; ++i) {
    r.push_back(write_request(DATA, (baud >> (8 * i)) & 0xFF));
    r.push_back(write_request(COMMAND, 0xA000u + rate_at + static_cast<uint32_t>(i)));
    r.push_back(read_request(COMMAND));
  }
  r.push_back(write_request(COMMAND, 0x800));
  r.push_back(read_request(COMMAND));
  for (int k = 0; k < 8; ++k) r.push_back(write_request(static_cast<uint16_t>(CSR + 4 * k), 0));
  r.push_back(write_request(COMMAND, 0xF00u + (1u << axis)));
  r.push_back(read_request(COMMAND));
  r.push_back(read_request(DATA));
  return r;
}

Lines read_requests(int axis, uint32_t transaction) {
  uint16_t csr = static_cast<uint16_t>(CSR + 4 * axis);
  return {write_request(csr, transaction),
          read_request(COMMAND),
          write_request(COMMAND, 0x1000u + (1u << axis)),
          read_request(COMMAND),
          read_request(DATA),
          read_request(static_cast<uint16_t>(USER0 + 4 * axis)),
          write_request(csr, 0)};
}

Lines concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(CardUdp, WordReadOnChannelTwoMakesExactlyTheSpecifiedTraffic) {
  auto card = udp_card();
  auto result = run_tool(PEEK, {"kqp", "2"}, card->env);
  EXPECT_EQ(result.lines(), (Lines{BAUD_NOTICE, "Data  1200"}));
  EXPECT_EQ(result.exit_code, 0);

  EXPECT_EQ(card->requests(), concat(setup_requests(2, 2500000), read_requests(2, 0x45000812)));
  Lines wire = card->wire();
  ASSERT_GE(wire.size(), 4u);
  EXPECT_EQ(wire[0], "> 01 42 00 01");
  EXPECT_EQ(wire[1], "< FE CA AA 55");
  EXPECT_EQ(wire[2], "> 01 42 0C 01");
  // The value comes from the channel's data register.
  auto at = std::find(wire.begin(), wire.end(), "> " + read_request(USER0 + 8));
  ASSERT_NE(at, wire.end());
  ASSERT_NE(at + 1, wire.end());
  EXPECT_EQ(*(at + 1), "< B0 04 00 00");
}

TEST(CardUdp, ConfiguredBaudRateGoesToTheChannel) {
  auto card = udp_card();
  Env env = card->env;
  env["BAUDRATE"] = "115200";
  auto result = run_tool(PEEK, {"kqp", "7"}, env);
  EXPECT_EQ(result.lines(), (Lines{"Data  1200"}));
  EXPECT_EQ(card->requests(), concat(setup_requests(7, 115200), read_requests(7, 0x45000812)));
}

struct Reading {
  std::vector<std::string> args;  // without the axis
  std::string line;
};

// Every value type the dictionary uses; the unit number tells which channel's
// drive answered (the simulator numbers them 1001 + channel).
TEST(CardUdp, ReadsEveryValueTypeOnSeveralChannels) {
  auto card = udp_card();
  for (int axis : {0, 2, 7}) {
    const Reading readings[] = {
        {{"kqp"}, "Data  1200"},                                   // TYPE_UINT
        {{"kqp", "h"}, "Data 04B0"},
        {{"pwm"}, "Data  -120"},                                   // TYPE_INT
        {{"pwm", "h"}, "Data FF88"},
        {{"pidena"}, "Data     1"},                                // TYPE_FLAG
        {{"capture"}, "Data  4096"},                               // TYPE_PTR
        {{"kqi"}, "Data      70000"},                              // TYPE_ULONG
        {{"phasea"}, "Data      -5000"},                           // TYPE_LONG
        {{"phasea", "h"}, "Data FFFFEC78"},
        {{"biggercookie"}, "Data  1311768467463790320"},           // TYPE_DOUBLE
        {{"biggercookie", "h"}, "Data 123456789ABCDEF0"},
        {{"nvmaxmodulei"}, "Data  2000"},                          // TYPE_EWORD
        {{"nvkqp", "h"}, "Data 04B0"},
        {{"nvkqi"}, "Data      70000"},                            // TYPE_ELONG
        {{"unitnumber"}, "Data       " + std::to_string(1001 + axis)},
    };
    for (const Reading& r : readings) {
      std::vector<std::string> args{r.args[0], std::to_string(axis)};
      args.insert(args.end(), r.args.begin() + 1, r.args.end());
      SCOPED_TRACE(args[0] + " on axis " + std::to_string(axis));
      auto result = run_tool(PEEK, args, card->env);
      EXPECT_EQ(result.lines(), (Lines{BAUD_NOTICE, r.line}));
      EXPECT_EQ(result.exit_code, 0);
    }
  }
}

TEST(CardUdp, AddressFlagPrecedesTheValue) {
  auto card = udp_card();
  auto result = run_tool(PEEK, {"biggercookie", "3", "h", "a"}, card->env);
  EXPECT_EQ(result.lines(), (Lines{BAUD_NOTICE, "Parm address: 087E", "Data 123456789ABCDEF0"}));
}

struct Poke {
  std::vector<std::string> poke;  // parmpoke arguments
  std::vector<std::string> peek;  // parmpeek arguments
  std::string line;
};

TEST(CardUdp, ValuesWrittenByParmpokeAreReadBackOnTheSameChannelOnly) {
  auto card = udp_card();
  const Poke pokes[] = {
      {{"kqp", "4321", "7"}, {"kqp", "7"}, "Data  4321"},
      {{"pwm", "-5", "7"}, {"pwm", "7"}, "Data    -5"},
      {{"capture", "2000", "7", "h"}, {"capture", "7"}, "Data  8192"},
      {{"pidena", "0", "7"}, {"pidena", "7"}, "Data     0"},
      {{"kqi", "4000000000", "7"}, {"kqi", "7"}, "Data 4000000000"},
      {{"phasea", "-70000", "7"}, {"phasea", "7"}, "Data     -70000"},
      {{"biggercookie", "1122334455667788", "7", "h"}, {"biggercookie", "7", "h"}, "Data 1122334455667788"},
      {{"nvkqp", "777", "7"}, {"nvkqp", "7"}, "Data   777"},
      {{"nvkqi", "123456", "7"}, {"nvkqi", "7"}, "Data     123456"},
      // Channel 0's drive keeps its own values.
      {{"kqp", "1234", "0"}, {"kqp", "0"}, "Data  1234"},
  };
  for (const Poke& p : pokes) {
    SCOPED_TRACE(p.poke[0] + " " + p.poke[1]);
    auto written = run_tool(POKE, p.poke, card->env);
    EXPECT_EQ(written.lines(), (Lines{BAUD_NOTICE}));
    EXPECT_EQ(written.exit_code, 0);
    auto read = run_tool(PEEK, p.peek, card->env);
    EXPECT_EQ(read.lines(), (Lines{BAUD_NOTICE, p.line}));
  }
  EXPECT_EQ(run_tool(PEEK, {"kqp", "7"}, card->env).lines(), (Lines{BAUD_NOTICE, "Data  4321"}));
  EXPECT_EQ(run_tool(PEEK, {"nvkqp", "0"}, card->env).lines(), (Lines{BAUD_NOTICE, "Data  1200"}));
  EXPECT_EQ(run_tool(PEEK, {"pwm", "2"}, card->env).lines(), (Lines{BAUD_NOTICE, "Data  -120"}));
}

// Only the traffic of one channel's registers and the run command, after the set-up.
Lines channel_traffic(const Lines& requests, int axis) {
  const std::string csr = hex_bytes(static_cast<uint16_t>(CSR + 4 * axis), 2);
  const std::string user0 = hex_bytes(static_cast<uint16_t>(USER0 + 4 * axis), 2);
  const std::string user1 = hex_bytes(static_cast<uint16_t>(0x5400 + 4 * axis), 2);
  const std::string run = write_request(COMMAND, 0x1000u + (1u << axis));
  Lines out;
  bool started = false;
  for (const std::string& r : requests) {
    if (r == write_request(COMMAND, 0xF00u + (1u << axis))) started = true;
    if (!started) continue;
    std::string address = r.substr(6, 5);
    if (address == csr || address == user0 || address == user1 || r == run) out.push_back(r);
  }
  return out;
}

TEST(CardUdp, EepromWriteSetsTheFlagWritesClearsAndReadsTheFlagBack) {
  auto card = udp_card();
  auto result = run_tool(POKE, {"nvkqp", "777", "2"}, card->env);
  EXPECT_EQ(result.lines(), (Lines{BAUD_NOTICE}));
  EXPECT_EQ(result.exit_code, 0);
  const uint16_t csr = CSR + 8, user0 = USER0 + 8;
  const std::string run = write_request(COMMAND, 0x1004);
  EXPECT_EQ(channel_traffic(card->requests(), 2),
            (Lines{write_request(csr, 0xEC000000), write_request(user0, 1), run, write_request(csr, 0),
                   write_request(csr, 0x6500000A), write_request(user0, 777), run, write_request(csr, 0),
                   write_request(csr, 0xEC000000), write_request(user0, 0), run, write_request(csr, 0),
                   write_request(csr, 0xCC000000), run, read_request(user0), write_request(csr, 0)}));
}

TEST(CardUdp, EightByteValuesTravelLowHalfFirst) {
  auto card = udp_card();
  ASSERT_EQ(run_tool(POKE, {"biggercookie", "1122334455667788", "1", "h"}, card->env).exit_code, 0);
  const uint16_t csr = CSR + 4, user0 = USER0 + 4, user1 = 0x5404;
  const std::string run = write_request(COMMAND, 0x1002);
  EXPECT_EQ(channel_traffic(card->requests(), 1),
            (Lines{write_request(csr, 0x6700087E), write_request(user0, 0x55667788),
                   write_request(user1, 0x11223344), run, write_request(csr, 0)}));
}

TEST(CardUdp, RepeatModeReadsUntilAKeyIsPressed) {
  auto card = udp_card();
  testsupport::ToolProcess peek(PEEK, {"kqp", "2", "r"}, card->env);
  ASSERT_TRUE(peek.wait_for_lines(4));
  peek.write_stdin("x");
  auto result = peek.finish();
  EXPECT_EQ(result.exit_code, 0);
  Lines lines = result.lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], BAUD_NOTICE);
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i], "Data  1200") << "line " << i;
  // One initialisation, then one transaction per line.
  Lines requests = card->requests();
  EXPECT_EQ(std::count(requests.begin(), requests.end(), read_request(0x0100)), 1);
  EXPECT_EQ(std::count(requests.begin(), requests.end(), write_request(CSR + 8, 0x45000812)),
            static_cast<long>(lines.size() - 1));
}

TEST(CardUdp, RepeatModeWritesUntilAKeyIsPressed) {
  auto card = udp_card();
  testsupport::ToolProcess poke(POKE, {"kqp", "99", "3", "r"}, card->env);
  ASSERT_TRUE(poke.wait_for_lines(1));
  const std::string write = write_request(CSR + 12, 0x65000812);
  EXPECT_TRUE(card->wait_for_requests(
      [&](const Lines& requests) { return std::count(requests.begin(), requests.end(), write) >= 2; }));
  poke.write_stdin("x");
  auto result = poke.finish();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.lines(), (Lines{BAUD_NOTICE}));
  Lines requests = card->requests();
  EXPECT_GE(std::count(requests.begin(), requests.end(), write), 2);
  EXPECT_EQ(run_tool(PEEK, {"kqp", "3"}, card->env).lines(), (Lines{BAUD_NOTICE, "Data    99"}));
}

TEST(CardUdp, AxisAboveSevenIsRefusedBeforeAnyCardTraffic) {
  auto card = udp_card();
  for (const char* tool : {PEEK, POKE}) {
    SCOPED_TRACE(tool);
    std::vector<std::string> args = tool == PEEK ? std::vector<std::string>{"kqp", "8"}
                                                 : std::vector<std::string>{"kqp", "5", "8"};
    auto result = run_tool(tool, args, card->env);
    EXPECT_EQ(result.exit_code, 2);
    Lines lines = result.lines();
    ASSERT_EQ(lines.size(), 3u) << result.out;
    EXPECT_EQ(lines[1], "");
    EXPECT_NE(lines[2].find('7'), std::string::npos) << lines[2];
  }
  EXPECT_TRUE(card->wire().empty());
}

}  // namespace
