// Peers that answer late, in pieces, twice, or not at all, and an output that cannot
// be written: the tools must never show a value that was not read as if it were
// good, and must give control back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "test_card_fixture.h"
#include "test_serial_fixture.h"

namespace {

using serialtest::Drive;
using serialtest::Lines;
using testsupport::RunResult;
using testsupport::ToolProcess;

const Lines TIMED_OUT_WORD{"Data     0", "", "Serial Timeout Error"};

// The link check of the text protocol is three exchanges (x, x, II): the fourth is
// the tool's first access.
TEST(HostileTextDrive, AReplyLaterThanTheSilenceIsAFailedReadNotAZero) {
  Drive drive("HEX", {"--fault", "late=4:1300"});
  ASSERT_TRUE(drive.started());
  RunResult late = drive.peek({"kqp"});
  EXPECT_EQ(late.lines(), TIMED_OUT_WORD);
  EXPECT_EQ(late.exit_code, 2);
  // The late reply's characters do not reach the next run.
  RunResult next = drive.peek({"kqp"});
  EXPECT_EQ(next.lines(), Lines{"Data  1200"});
  EXPECT_EQ(next.exit_code, 0);
}

TEST(HostileTextDrive, AReplyInTwoPieces) {
  {
    // Pieces within the silence limit make a good reply.
    Drive drive("HEX", {"--fault", "split=4:200"});
    RunResult r = drive.peek({"kqp"});
    EXPECT_EQ(r.lines(), Lines{"Data  1200"});
    EXPECT_EQ(r.exit_code, 0);
  }
  {
    Drive drive("HEX", {"--fault", "split=4:1300"});
    RunResult r = drive.peek({"kqp"});
    EXPECT_EQ(r.lines(), TIMED_OUT_WORD);
    EXPECT_EQ(r.exit_code, 2);
  }
}

// The second word of a long is asked for after the first failed: the first word's
// late reply (sent twice over) must not be taken for it, which would show as the
// second word's command being answered with the first one's digits.
TEST(HostileTextDrive, LeftoversOfAFailedWordAreNotTheNextWordsReply) {
  Drive drive("HEX", {"--fault", "late=4:1300", "--fault", "extra=4"});
  ASSERT_TRUE(drive.started());
  RunResult r = drive.peek({"kqi", "h"});
  // kqi holds 70000 (0x00011170): only the high word is read in time.
  EXPECT_EQ(r.lines(), (Lines{"Data 00010000", "", "Serial Timeout Error"}));
  EXPECT_EQ(r.exit_code, 2);
}

// Ctrl-C in repeat mode ends a wait for a slow reply at once, not when the silence
// limit runs out.
TEST(HostileTextDrive, CtrlCEndsTheWaitForAReplyAtOnce) {
  Drive drive("HEX", {"--fault", "late=5:5000"});
  ASSERT_TRUE(drive.started());
  drive.mark();
  ToolProcess peek("parmpeek", {"kqp", "r"}, drive.env());
  const auto second_read_sent = [](const Lines& sent) {
    return std::count_if(sent.begin(), sent.end(), [](const std::string& line) { return line.rfind("52 57", 0) == 0; }) >= 2;
  };
  ASSERT_TRUE(drive.wait_for_sent(second_read_sent));
  const auto start = std::chrono::steady_clock::now();
  peek.interrupt();
  RunResult r = peek.finish(20000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.lines(), Lines{"Data  1200"});
}

// Repeat mode ends at the first failed access, as a single access ends.
TEST(HostileTextDrive, RepeatModeEndsAtTheFirstUnansweredRead) {
  // Three reads answered, the fourth not.
  Drive drive("HEX", {"--fault", "drop=7"});
  ASSERT_TRUE(drive.started());
  ToolProcess peek("parmpeek", {"kqp", "r"}, drive.env());
  RunResult r = peek.finish(20000);
  EXPECT_EQ(r.lines(), (Lines{"Data  1200", "Data  1200", "Data  1200", "Data     0", "", "Serial Timeout Error"}));
  EXPECT_EQ(r.exit_code, 2);
}

TEST(HostileTextDrive, RepeatModeEndsWhenTheDriveGoesAway) {
  auto drive = std::make_unique<Drive>("HEX", std::vector<std::string>{});
  ASSERT_TRUE(drive->started());
  ToolProcess peek("parmpeek", {"kqp", "r"}, drive->env());
  ASSERT_TRUE(peek.wait_for_lines(2));
  drive.reset();
  RunResult r = peek.finish(20000);
  const Lines lines = r.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()), (Lines{"", "Serial Timeout Error"}));
  EXPECT_EQ(r.exit_code, 2);
}

TEST(HostileTextDrive, RepeatWriteEndsAtTheFirstUnansweredWrite) {
  Drive drive("HEX", {"--fault", "drop=6"});
  ASSERT_TRUE(drive.started());
  ToolProcess poke("parmpoke", {"kqp", "5", "r"}, drive.env());
  RunResult r = poke.finish(20000);
  EXPECT_EQ(r.lines(), (Lines{"", "Serial Timeout Error"}));
  EXPECT_EQ(r.exit_code, 2);
}

TEST(Output, AValueThatCannotBeWrittenIsAFailedRun) {
  if (testsupport::running_windows_build()) GTEST_SKIP() << "no /dev/full under Wine";
  Drive drive("HEX", {});
  ASSERT_TRUE(drive.started());
  const testsupport::Env env = drive.env();
  // The harness gives the tool a pipe; a shell points standard output at the full device.
  RunResult r = testsupport::run_tool("/bin/sh", {"-c", "exec \"$0\" kqp > /dev/full", testsupport::tool_path("parmpeek")}, env);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("cannot write to standard output"), std::string::npos) << r.err;
}

// ZR90_COM1=/dev/tty: the programs end through exit(), never closing the port
// themselves, and the terminal must still get its settings back.
TEST(Port, ATerminalGivenAsThePortGetsItsSettingsBack) {
  if (testsupport::running_windows_build()) GTEST_SKIP() << "POSIX terminals only";
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string path = ptsname(master);
  const int keeper = open(path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(keeper, 0);
  termios before{};
  ASSERT_EQ(tcgetattr(keeper, &before), 0);
  testsupport::Env env = testsupport::com_port_env(testsupport::unique_com_number(), path);
  env["INTERFACE"] = "OSDEVICE";
  env["PROTOCOL"] = "HEX";
  env["BAUDRATE"] = "9600";
  env["BAUDRATEMUL"] = "1";
  // Nobody answers on the terminal: the run ends with its failure.
  RunResult r = testsupport::run_tool("parmpeek", {"kqp"}, env);
  EXPECT_EQ(r.exit_code, 2);
  termios after{};
  ASSERT_EQ(tcgetattr(keeper, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&before));
  close(keeper);
  close(master);
}

// The card's register reads are numbered from 1: the cookie, the IDROM pointer,
// then the IDROM's 256 words. A duplicated reply early on would shift every later
// read by one.
// A duplicate that is waiting when the next request goes out is thrown away, so
// it shifts no later read. The duplicated replies here are the last read of a
// repeat pass (the 273 reads of the set-up, then four a pass), after which the
// reader pauses: the copy has arrived by the next request. (A copy that arrives
// only after the next request went out would be taken for its reply; nothing in
// the datagrams tells the two apart.)
TEST(HostileCard, AWaitingDuplicateIsThrownAwayBeforeTheNextRequest) {
  constexpr int SET_UP_READS = 273;
  constexpr int READS_A_PASS = 4;
  auto card = cardtest::udp_card({"--fault", "dup=" + std::to_string(SET_UP_READS + 2 * READS_A_PASS), "--fault",
                                  "dup=" + std::to_string(SET_UP_READS + 5 * READS_A_PASS)});
  ASSERT_TRUE(card->sim->started());
  ToolProcess peek("parmpeek", {"kqp", "2", "r"}, card->env);
  ASSERT_TRUE(peek.wait_for_lines(12));
  peek.write_stdin("x");
  RunResult r = peek.finish();
  EXPECT_EQ(r.exit_code, 0);
  Lines lines = r.lines();
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(lines[0], cardtest::BAUD_NOTICE);
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i], "Data  1200") << "pass " << i;
}

TEST(HostileCard, AReplyPastTheTimeOutFailsThatReadAndNoLaterOne) {
  auto card = cardtest::udp_card({"--fault", "late=3:1500"});
  ASSERT_TRUE(card->sim->started());
  RunResult late = testsupport::run_tool("parmpeek", {"kqp", "2"}, card->env);
  EXPECT_EQ(late.lines(), (Lines{cardtest::BAUD_NOTICE, "", "Connection timed out"}));
  EXPECT_EQ(late.exit_code, 2);
  RunResult next = testsupport::run_tool("parmpeek", {"kqp", "2"}, card->env);
  EXPECT_EQ(next.lines(), (Lines{cardtest::BAUD_NOTICE, "Data  1200"}));
  EXPECT_EQ(next.exit_code, 0);
}

// The setup gives ten commands; from the eleventh on, the module stays busy and
// answers each poll 300 ms late: 100000 polls would take hours.
TEST(HostileCard, CtrlCEndsARunStuckOnABusyModule) {
  for (const bool repeat : {true, false}) {
    SCOPED_TRACE(repeat ? "repeat" : "single");
    auto card = cardtest::udp_card({"--fault", "busy-after=10", "--fault", "busy-slow=300"});
    ASSERT_TRUE(card->sim->started());
    ToolProcess peek("parmpeek", repeat ? std::vector<std::string>{"kqp", "2", "r"} : std::vector<std::string>{"kqp", "2"},
                     card->env);
    const auto polled_twice = [](const std::string& text) {
      std::size_t held = 0;
      for (std::size_t at = text.find("held back"); at != std::string::npos; at = text.find("held back", at + 1)) ++held;
      return held >= 2;
    };
    ASSERT_TRUE(testsupport::wait_for_file(card->trace_path, polled_twice, 20000));
    const auto start = std::chrono::steady_clock::now();
    peek.interrupt();
    RunResult r = peek.finish(20000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    // Repeat mode ends as a key would end it; a single access dies of the signal
    // (on Windows, of the console's own Ctrl-C ending).
    if (repeat) {
      EXPECT_EQ(r.exit_code, 0);
    } else if (!testsupport::running_windows_build()) {
      EXPECT_EQ(r.exit_code, 128 + SIGINT);
    }
    EXPECT_EQ(r.lines(), Lines{cardtest::BAUD_NOTICE});
  }
}

// The simulator runs beside real files and networks: it replaces nothing that is
// not its own and serves only this machine unless told.
TEST(SimulatorSafety, ALinkPathThatIsNotItsOwnIsLeftAlone) {
  if (testsupport::running_windows_build()) GTEST_SKIP() << "the simulator is the Linux one either way";
  const std::string path = testsupport::temp_path("not-a-link");
  {
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("keep me\n", file);
    std::fclose(file);
  }
  for (const char* kind : {"drive", "card"}) {
    SCOPED_TRACE(kind);
    std::vector<std::string> args{kind, "--link", path};
    if (std::string(kind) == "card") args.insert(args.begin() + 1, "--pty");
    RunResult r = testsupport::run_tool(testsupport::simulator_path(), args, {});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("not a link to a pseudo-terminal"), std::string::npos) << r.err;
    EXPECT_EQ(testsupport::read_file(path), "keep me\n");
  }
  std::remove(path.c_str());

  // A link to another file is someone's too.
  const std::string link = testsupport::temp_path("other-link");
  ASSERT_EQ(symlink("/etc/hostname", link.c_str()), 0);
  RunResult r = testsupport::run_tool(testsupport::simulator_path(), {"drive", "--link", link}, {});
  EXPECT_NE(r.exit_code, 0);
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ(target, "/etc/hostname");
  std::remove(link.c_str());
}

TEST(SimulatorSafety, ALinkLeftByAKilledRunIsReplaced) {
  if (testsupport::running_windows_build()) GTEST_SKIP() << "the simulator is the Linux one either way";
  const std::string link = testsupport::temp_path("stale-link");
  ASSERT_EQ(symlink("/dev/pts/99999", link.c_str()), 0);
  {
    testsupport::Simulator sim({"drive", "--link", link});
    ASSERT_TRUE(sim.started());
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim.ready_value());
  }
  std::remove(link.c_str());
}

TEST(SimulatorSafety, ACardServesOnlyLoopbackUnlessAllowed) {
  if (testsupport::running_windows_build()) GTEST_SKIP() << "the simulator is the Linux one either way";
  for (const char* address : {"0.0.0.0", "192.0.2.1"}) {
    SCOPED_TRACE(address);
    RunResult r = testsupport::run_tool(testsupport::simulator_path(), {"card", "--udp", address}, {});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("--allow-remote"), std::string::npos) << r.err;
  }
  // Allowed, it serves; a port of this test's own keeps it clear of other cards.
  const std::string port = std::to_string(40000 + testsupport::unique_com_number() * 50 + getpid() % 50);
  testsupport::Simulator sim({"card", "--udp", "0.0.0.0", "--port", port, "--allow-remote"});
  EXPECT_TRUE(sim.started());
}

}  // namespace
