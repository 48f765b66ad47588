// The front ends over the text host protocol against a simulated drive: wider values
// composed from words, the signed and unsigned forms, and the accesses the text
// protocol has no command for.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/harness.h"

namespace {

using testsupport::Env;
using testsupport::RunResult;
using testsupport::Simulator;
using Lines = std::vector<std::string>;

class HexDrive : public testing::Test {
 protected:
  void start(std::vector<std::string> extra = {}) {
    trace_ = testsupport::temp_path("hexdrive");
    std::vector<std::string> args = {"drive", "--protocol", "hex", "--trace", trace_};
    args.insert(args.end(), extra.begin(), extra.end());
    sim_ = std::make_unique<Simulator>(args);
    ASSERT_TRUE(sim_->started());
    env_ = testsupport::com_port_env(testsupport::unique_com_number(), sim_->ready_value());
    env_["INTERFACE"] = "OSDEVICE";
    env_["PROTOCOL"] = "HEX";
    env_["BAUDRATE"] = "115200";
    env_["BAUDRATEMUL"] = "1";
  }
  void SetUp() override { start(); }

  // Once the drive has taken in what the last tool sent: opening the port flushes
  // it, and on a pseudo-terminal that drops bytes not read yet.
  RunResult run(const std::string& tool, const std::vector<std::string>& args) {
    EXPECT_TRUE(sim_->settle());
    return testsupport::run_tool(tool, args, env_);
  }
  // The requests the tools sent after the link was synchronised.
  std::string requests() {
    EXPECT_TRUE(sim_->settle());
    return testsupport::wire_text(testsupport::read_file(trace_));
  }

  std::unique_ptr<Simulator> sim_;
  Env env_;
  std::string trace_;
};

// A request as the trace shows it: "> " and the bytes in hex, CR included.
std::string request_line(const std::string& text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string line = ">";
  for (const char c : text + "\r") {
    const auto byte = static_cast<unsigned char>(c);
    line += ' ';
    line += digits[byte >> 4];
    line += digits[byte & 15];
  }
  return line + "\n";
}

struct Expect {
  std::vector<std::string> args;
  Lines lines;
};

TEST_F(HexDrive, ValuesPrintInEveryForm) {
  const std::vector<Expect> reads = {
      {{"kqp"}, {"Data  1200"}},
      {{"pwm"}, {"Data  -120"}},
      {{"pwm", "h"}, {"Data FF88"}},
      {{"minusone"}, {"Data    -1"}},
      {{"kqi"}, {"Data      70000"}},
      {{"kqi", "h"}, {"Data 00011170"}},
      {{"phasea"}, {"Data      -5000"}},
      {{"biggercookie"}, {"Data  1311768467463790320"}},
      {{"biggercookie", "h", "a"}, {"Parm address: 087E", "Data 123456789ABCDEF0"}},
      {{"nvmaxmodulei"}, {"Data  2000"}},
      {{"nvcookie", "h"}, {"Data 5A5A"}},
  };
  for (const Expect& e : reads) {
    SCOPED_TRACE(e.args[0]);
    const auto result = run("parmpeek", e.args);
    EXPECT_EQ(result.lines(), e.lines);
    EXPECT_EQ(result.exit_code, 0);
  }
}

TEST_F(HexDrive, WritesAreReadBack) {
  const std::vector<std::pair<std::vector<std::string>, Expect>> cases = {
      {{"kqp", "13.5"}, {{"kqp"}, {"Data    14"}}},
      {{"kqp", "12.5"}, {{"kqp"}, {"Data    12"}}},
      {{"pwm", "-5"}, {{"pwm", "h"}, {"Data FFFB"}}},
      // A count of 2^31 or more stays positive.
      {{"kqi", "-1"}, {{"kqi"}, {"Data 4294967295"}}},
      {{"kqi", "-2147483648"}, {{"kqi"}, {"Data 2147483648"}}},
      {{"phasek", "-2"}, {{"phasek"}, {"Data         -2"}}},
      {{"biggercookie", "1122334455667788", "h"}, {{"biggercookie", "h"}, {"Data 1122334455667788"}}},
      {{"nvmaxmodulei", "1"}, {{"nvmaxmodulei"}, {"Data     1"}}},
  };
  for (const auto& [write, read] : cases) {
    SCOPED_TRACE(write[0] + " " + write[1]);
    const auto poked = run("parmpoke", write);
    EXPECT_EQ(poked.out, "");
    EXPECT_EQ(poked.exit_code, 0);
    const auto peeked = run("parmpeek", read.args);
    EXPECT_EQ(peeked.lines(), read.lines);
  }
}

TEST_F(HexDrive, WordAddressesAndOrder) {
  ASSERT_EQ(run("parmpoke", {"biggercookie", "1122334455667788", "h"}).exit_code, 0);
  ASSERT_EQ(run("parmpeek", {"kqp+0x10"}).exit_code, 0);
  const std::string trace = requests();
  // Bits 0-15 first, at rising word addresses 2 * 0x87E + 0x800 and on.
  const auto w0 = trace.find(request_line("WW18FC7788"));
  const auto w1 = trace.find(request_line("WW18FE5566"));
  const auto w2 = trace.find(request_line("WW19003344"));
  const auto w3 = trace.find(request_line("WW19021122"));
  ASSERT_NE(w0, std::string::npos) << trace;
  EXPECT_LT(w0, w1);
  EXPECT_LT(w1, w2);
  EXPECT_LT(w2, w3);
  EXPECT_NE(trace.find(request_line("RW1844")), std::string::npos) << trace;  // 2 * 0x822 + 0x800
}

TEST_F(HexDrive, AccessesWithoutACommandAreRefused) {
  const std::vector<Expect> refused = {
      {{"nvkqi"}, {"", "The Hex protocol cannot read an EEPROM long"}},
  };
  for (const Expect& e : refused) {
    const auto result = run("parmpeek", e.args);
    EXPECT_EQ(result.lines(), e.lines);
    EXPECT_EQ(result.exit_code, 2);
  }
  const auto poked = run("parmpoke", {"nvkqi", "5"});
  EXPECT_EQ(poked.lines(), Lines({"", "The Hex protocol cannot write an EEPROM long"}));
  EXPECT_EQ(poked.exit_code, 2);
}

class SilentHexDrive : public HexDrive {
 protected:
  void SetUp() override {}
};

TEST_F(SilentHexDrive, ALateWordOfALongFailsTheRead) {
  // The synchronisation takes three answers; the first word of the long is the
  // fourth, the second word gets none.
  start({"--fault", "silent-after=4"});
  const auto result = run("parmpeek", {"kqi"});
  const Lines lines = result.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "");
  EXPECT_EQ(lines.back(), "Serial Timeout Error");
  EXPECT_EQ(result.exit_code, 2);
}

TEST_F(SilentHexDrive, ADriveThatNeverAnswersFailsTheSetUp) {
  start({"--fault", "silent"});
  const auto result = run("parmpoke", {"kqp", "5"});
  EXPECT_EQ(result.lines(), Lines({"", "Hex Serial Communication failed !"}));
  EXPECT_EQ(result.exit_code, 2);
}

}  // namespace
