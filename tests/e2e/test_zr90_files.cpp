// The files zr90 writes and the streams it writes to, as a hostile or careless user
// meets them: a save onto a FIFO, a device, a symbolic link or a folder it may not
// write; a trace that would overwrite the settings file, or cannot be written; a
// standard output that is closed.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "test_card_fixture.h"

namespace {

namespace fs = std::filesystem;
using testsupport::RunResult;

RunResult zr90(const testsupport::Env& env, const std::vector<std::string>& args) {
  return testsupport::run_tool("zr90", args, env);
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::running_windows_build()) GTEST_SKIP() << "POSIX files: FIFOs, device nodes, modes";
    folder_ = testsupport::temp_path("files");
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(folder_ + "/locked", fs::perms::owner_all, ignored);
    fs::remove_all(folder_, ignored);
  }
  std::string path(const std::string& name) const { return folder_ + "/" + name; }
  std::string folder_;
};

TEST_F(Files, ASaveFollowsALinkAndWritesIntoWhatIsNotAFile) {
  auto card = cardtest::udp_card();
  // A symbolic link: the file it names is replaced, permissions kept; the link stays.
  std::ofstream(path("target.json")) << "old";
  fs::permissions(path("target.json"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(path("target.json"), path("link.json"));
  ASSERT_EQ(zr90(card->env, {"-q", "save", path("link.json")}).exit_code, 0);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(path("link.json"))));
  EXPECT_NE(testsupport::read_file(path("target.json")).find("zr90-settings"), std::string::npos);
  EXPECT_EQ(fs::status(path("target.json")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // A FIFO: the reader gets the settings, and the FIFO is still one.
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = testsupport::read_file(path("fifo")); });
  const RunResult to_fifo = zr90(card->env, {"-q", "save", path("fifo")});
  reader.join();
  EXPECT_EQ(to_fifo.exit_code, 0) << to_fifo.err;
  EXPECT_NE(received.find("zr90-settings"), std::string::npos);
  EXPECT_TRUE(fs::is_fifo(path("fifo")));

  // A device node of the test's own (a null device), where the system lets us make one.
  if (mknod(path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    EXPECT_EQ(zr90(card->env, {"-q", "save", path("null")}).exit_code, 0);
    EXPECT_TRUE(fs::is_character_file(path("null"))) << "the device was replaced by a file";
  }
}

TEST_F(Files, WhatCannotBeWrittenIsRefusedBeforeTheLinkOpens) {
  auto card = cardtest::udp_card();
  fs::create_directories(path("locked"));
  fs::permissions(path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  const bool enforced = access(path("locked").c_str(), W_OK) != 0;  // root may write anywhere
  std::ofstream(path("line.json")) << "{}";
  const struct {
    std::vector<std::string> args;
    std::string message;
    bool applies;
  } cases[] = {
      {{"save", path("locked/line.json")}, "zr90: cannot write " + path("locked/line.json") + ": Permission denied; nothing read",
       enforced},
      {{"save", folder_}, "zr90: cannot write " + folder_ + ": it is a folder; nothing read", true},
      {{"--trace", path("line.json"), "diff", path("line.json")},
       "zr90: the trace file " + path("line.json") + " is the settings file " + path("line.json") +
           " too; give the trace another name",
       true},
      {{"--trace", folder_ + "/../" + fs::path(folder_).filename().string() + "/line.json", "restore", "-y",
        path("line.json")},
       "zr90: the trace file " + folder_ + "/../" + fs::path(folder_).filename().string() +
           "/line.json is the settings file " + path("line.json") + " too; give the trace another name",
       true},
  };
  for (const auto& c : cases) {
    if (!c.applies) continue;
    const RunResult r = zr90(card->env, c.args);
    EXPECT_EQ(r.exit_code, 2) << c.message;
    EXPECT_EQ(r.err, c.message + "\n");
  }
  EXPECT_TRUE(card->wire().empty()) << "something was sent";
  EXPECT_EQ(testsupport::read_file(path("line.json")), "{}") << "the settings file was overwritten";
}

TEST_F(Files, LostOutputAndALostTraceAreFailedRuns) {
  auto card = cardtest::udp_card();
  std::string environment;
  for (const auto& [name, value] : card->env) environment += name + "=" + value + " ";
  const std::string zr90_path = testsupport::tool_path("zr90");
  const RunResult closed = testsupport::run_tool("/bin/sh", {"-c", environment + zr90_path + " -q get kqp >&-"}, {});
  EXPECT_EQ(closed.exit_code, 2);
  EXPECT_EQ(closed.err, "zr90: standard output is closed; nothing done\n");

  if (!fs::exists("/dev/full")) return;
  const RunResult full = zr90(card->env, {"-q", "--trace", "/dev/full", "get", "kqp"});
  EXPECT_EQ(full.exit_code, 1);
  EXPECT_EQ(full.out, "kqp 1200\n");
  EXPECT_EQ(full.err, "zr90: cannot write the trace file /dev/full: No space left on device; the trace is not whole\n");
}

}  // namespace

namespace {

// A module that stays busy holds every access for minutes: Ctrl-C or a request to
// end still ends a reading command at once, by its own way out.
// A writing command gives the access in progress a moment to finish, then ends
// the same way.
TEST(Zr90Interrupts, EveryCommandEndsAtOnceOnAStuckModule) {
  if (testsupport::running_windows_build()) GTEST_SKIP() << "POSIX signals";
  const std::string settings = testsupport::temp_path("settings") + ".json";
  {
    auto clean = cardtest::udp_card();
    ASSERT_EQ(testsupport::run_tool("zr90", {"-q", "save", settings}, clean->env).exit_code, 0);
  }
  auto card = cardtest::udp_card({"--fault", "busy"});
  const std::string file = testsupport::temp_path("stuck") + ".json";
  const std::vector<std::vector<std::string>> commands = {
      {"-q", "get", "kqp"},          {"-q", "faults"},           {"-q", "save", file},
      {"-q", "watch", "kqp", "--csv"}, {"-q", "set", "kqp=5"}, {"-q", "restore", "-y", settings}};
  for (int signal_number : {SIGINT, SIGTERM}) {
    for (const std::vector<std::string>& command : commands) {
      SCOPED_TRACE(command[1] + " " + std::to_string(signal_number));
      const std::size_t before = card->wire().size();
      testsupport::ToolProcess tool("zr90", command, card->env);
      // Stuck: the module's register is being polled again and again.
      for (int i = 0; i < 2000 && card->wire().size() < before + 40; ++i) poll(nullptr, 0, 5);
      ASSERT_GE(card->wire().size(), before + 40u) << "the command never reached the busy module";
      tool.interrupt(signal_number);
      const RunResult r = tool.finish(2000);
      // The run's own end (exit 2: the link never came up), not the signal's, nor a hang.
      EXPECT_EQ(r.exit_code, 2) << "-1: still running 2 s after the signal; 128+N: ended by the signal";
    }
  }
  EXPECT_FALSE(fs::exists(file)) << "a save that read nothing wrote a file";
  std::remove(settings.c_str());
}

}  // namespace
