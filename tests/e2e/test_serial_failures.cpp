// Every way a serial link can fail, end to end: the port, the synchronisation, and
// time-outs and CRC errors in the middle of an access. Each ends with its message
// and exit code 2, never with a value that was not read.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>

#include "test_serial_fixture.h"

namespace {

using namespace serialtest;
using testsupport::run_tool;
using testsupport::ToolProcess;

struct Expect {
  std::string title;
  std::string tool;
  std::vector<std::string> args;
  Lines lines;
};

void expect_failure(Drive& drive, const Expect& e) {
  SCOPED_TRACE(e.title);
  RunResult r = drive.run(e.tool, e.args);
  EXPECT_EQ(r.lines(), e.lines);
  EXPECT_EQ(r.exit_code, 2);
}

const std::string TIMEOUT_CHAR = "Time out waiting for Character";

TEST(SerialFailures, PortMissing) {
  for (const char* protocol : {"ZAL", "HEX"}) {
    SCOPED_TRACE(protocol);
    Env env{{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", protocol}, {"COMPORT", "COM9"},
            {"ZR90_COM9", "/nonexistent/zr90-port"}, {"BAUDRATE", "115200"}, {"BAUDRATEMUL", "1"}};
    for (const char* tool : {"parmpeek", "parmpoke"}) {
      RunResult r = run_tool(tool, {"kqp", "1"}, env);
      EXPECT_EQ(r.lines(), fatal("COM9 open failed"));
      EXPECT_EQ(r.exit_code, 2);
    }
  }
}

TEST(SerialFailures, PortBusy) {
  if (testsupport::running_windows_build()) GTEST_SKIP() << "Wine lets a second program open a COM port";
  Drive drive("ZAL", {});
  ASSERT_TRUE(drive.started());
  {
    // A tool in repeat mode holds the port.
    ToolProcess holder("parmpeek", {"kqp", "r"}, drive.env());
    ASSERT_TRUE(holder.wait_for_lines(1));
    RunResult r = drive.peek({"kqp"});
    EXPECT_EQ(r.lines(), fatal(drive.port_name() + " open failed"));
    EXPECT_EQ(r.exit_code, 2);
    // zr90 says who holds it.
    RunResult workbench = drive.run("zr90", {"get", "kqp"});
    EXPECT_NE(workbench.err.find(drive.port_name() + " (" + drive.path() + ") is in use by another program (parmpeek, process "),
              std::string::npos) << workbench.err;
    EXPECT_EQ(workbench.exit_code, 2);
    holder.write_stdin("q");
    EXPECT_EQ(holder.finish().exit_code, 0);
  }
  {
    // Another program holds it with a lock.
    int fd = open(drive.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    RunResult r = drive.poke({"kqp", "5"});
    EXPECT_EQ(r.lines(), fatal(drive.port_name() + " open failed"));
    RunResult workbench = drive.run("zr90", {"set", "kqp=5"});
    EXPECT_NE(workbench.err.find("is in use by another program (e2e_tests, process " + std::to_string(getpid()) + ")"),
              std::string::npos) << workbench.err;
    close(fd);
  }
  // Free again: the port is usable, and the failed runs wrote nothing.
  RunResult r = drive.peek({"kqp"});
  EXPECT_EQ(r.lines(), Lines{"Data  1200"});
}

TEST(SerialFailures, ZalDriveThatDoesNotSynchronise) {
  for (const char* fault : {"silent", "echo", "badcookie", "babble"}) {
    for (const char* crc : {"off", "on"}) {
      Drive drive("ZAL", {"--crc", crc, "--fault", fault});
      ASSERT_TRUE(drive.started());
      auto start = std::chrono::steady_clock::now();
      expect_failure(drive, {std::string(fault) + " crc " + crc, "parmpeek", {"kqp"},
                             fatal("ZAL Serial Communication failed !")});
      // A line that never stops sending must not hold the tool for ever (the bound
      // is generous: it guards against a hang, not a speed).
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << fault;
    }
  }
  // With CRC, a reply that lacks its CRC byte fails the probe too.
  Drive drive("ZAL", {"--crc", "on", "--fault", "partial"});
  expect_failure(drive, {"partial", "parmpoke", {"kqp", "1"}, fatal("ZAL Serial Communication failed !")});
}

TEST(SerialFailures, TextDriveThatDoesNotSynchronise) {
  for (const char* fault : {"silent", "echo", "babble", "shortid"}) {
    Drive drive("HEX", {"--fault", fault});
    ASSERT_TRUE(drive.started());
    auto start = std::chrono::steady_clock::now();
    expect_failure(drive, {fault, "parmpeek", {"kqp"}, fatal("Hex Serial Communication failed !")});
    expect_failure(drive, {fault, "parmpoke", {"kqp", "3"}, fatal("Hex Serial Communication failed !")});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(40)) << fault;
  }
}

// A drive that falls silent after the given number of transactions; each case
// needs a fresh one, since silence lasts for the rest of the simulator's run.
void expect_after_silence(const std::string& protocol, std::vector<std::string> sim_args, const Expect& e) {
  Drive drive(protocol, std::move(sim_args));
  ASSERT_TRUE(drive.started());
  expect_failure(drive, e);
}

TEST(SerialFailures, ZalDriveFallsSilentDuringAnAccess) {
  // The link check is one cookie read.
  const std::vector<std::string> after_sync{"--fault", "silent-after=1"};
  expect_after_silence("ZAL", after_sync, {"word", "parmpeek", {"kqp"}, {TIMEOUT_CHAR}});
  expect_after_silence("ZAL", after_sync, {"long", "parmpeek", {"kqi"}, fatal("Serial Timeout Error Waiting for Long!")});
  expect_after_silence("ZAL", after_sync,
                       {"double", "parmpeek", {"biggercookie"}, fatal("Serial Timeout Error Waiting Double!")});
  expect_after_silence("ZAL", after_sync,
                       {"eeprom long", "parmpeek", {"nvkqi"}, fatal("Serial Timeout Error Waiting for Long!")});
  // A write outside CRC mode expects no answer, so silence goes unnoticed.
  Drive drive("ZAL", after_sync);
  RunResult r = drive.poke({"kqp", "1"});
  EXPECT_EQ(r.lines(), Lines{});
  EXPECT_EQ(r.exit_code, 0);
}

TEST(SerialFailures, ZalEepromWriteWhoseSyncFails) {
  // Link check, flag on, write: the cookie read after the write goes unanswered.
  Drive word("ZAL", {"--fault", "silent-after=3"});
  expect_failure(word, {"word", "parmpoke", {"nvkqp", "1"}, fatal("EEPROM Word Write Sync error")});
  Drive wide("ZAL", {"--fault", "silent-after=3"});
  expect_failure(wide, {"long", "parmpoke", {"nvkqi", "1"}, fatal("EEPROM Long Write Sync error")});
}

TEST(SerialFailures, ZalCrcFailures) {
  Drive bad("ZAL", {"--crc", "on", "--fault", "badcrc"});
  ASSERT_TRUE(bad.started());
  expect_failure(bad, {"read", "parmpeek", {"kqp"}, fatal("CRC Error!")});
  expect_failure(bad, {"write", "parmpoke", {"kqp", "9"}, fatal("CRC Error!")});

  // Probe, cookie with CRC, status clear: the next acknowledge never comes.
  Drive quiet("ZAL", {"--crc", "on", "--fault", "silent-after=2"});
  expect_failure(quiet, {"write ack", "parmpoke", {"kqp", "9"}, {TIMEOUT_CHAR}});
  // A reply without its CRC byte.
  Drive cut("ZAL", {"--crc", "on", "--fault", "drop=3"});
  expect_failure(cut, {"read", "parmpeek", {"kqi"}, fatal("Serial Timeout Error Waiting for Long!")});
}

TEST(SerialFailures, TextDriveFallsSilentDuringAnAccess) {
  // The link check is three exchanges: x, x, II.
  const std::vector<std::string> after_sync{"--fault", "silent-after=3"};
  expect_after_silence("HEX", after_sync, {"word write", "parmpoke", {"kqp", "1"}, fatal("Serial Timeout Error")});
  expect_after_silence("HEX", after_sync,
                       {"eeprom write", "parmpoke", {"nvkqp", "1"}, fatal("Serial Timeout Error")});
  expect_after_silence("HEX", after_sync,
                       {"word read", "parmpeek", {"kqp"}, {"Data     0", "", "Serial Timeout Error"}});
  expect_after_silence("HEX", {"--fault", "silent-after=6"},
                       {"double, last word", "parmpeek", {"biggercookie"}, fatal("Serial Timeout Error")});
  // Only the first word is lost: the value must not pass as good.
  {
    Drive drive("HEX", {"--fault", "drop=4"});
    RunResult r = drive.peek({"kqi"});
    Lines lines = r.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()), fatal("Serial Timeout Error"));
    EXPECT_EQ(r.exit_code, 2);
  }
  expect_after_silence("HEX", {"--fault", "drop=4"},
                       {"double, first word", "parmpeek", {"biggercookie"}, fatal("Serial Timeout Error")});
  expect_after_silence("HEX", {"--fault", "drop=4"},
                       {"long write, first word", "parmpoke", {"kqi", "1"}, fatal("Serial Timeout Error")});
  // Four digits but no terminating character: the value arrived, the exchange did not end.
  expect_after_silence("HEX", {"--fault", "partial"},
                       {"no fifth character", "parmpeek", {"kqp"}, {"Data  1200", "", "Serial Timeout Error"}});
}

}  // namespace
