// Repeat mode with a terminal on standard input: the key poll switches the terminal
// to non-canonical input, and every way out of the run must give the user's
// terminal back as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/harness.h"
#include "test_card_fixture.h"

namespace {

using testsupport::Env;
using Clock = std::chrono::steady_clock;

constexpr tcflag_t CANONICAL_ECHO = ICANON | ECHO;
constexpr unsigned short SCREEN_ROWS = 24;
constexpr unsigned short SCREEN_COLUMNS = 80;

// How the tool is started on the terminal.
enum class Job {
  alone,       // a session of its own, with no controlling terminal
  background,  // in the background of a session the terminal controls, as "tool &" in a shell
  foreground,  // in the foreground of such a session, under a leader that acts as a shell on Ctrl-Z and fg
};

// What the session leader of a background run exits with when its job was stopped.
constexpr int JOB_STOPPED = 99;

// A tool whose standard input is the slave side of a pseudo-terminal and whose
// standard output is a pipe. The test keeps the slave open to read its modes.
class TerminalRun {
 public:
  // with_errors: standard error goes where standard output goes, for a question asked there.
  // output_on_terminal: standard output is the terminal too, read through its master side.
  TerminalRun(const std::string& tool, const std::vector<std::string>& args, const Env& env, Job job = Job::alone,
              bool with_errors = false, bool output_on_terminal = false) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const winsize size{SCREEN_ROWS, SCREEN_COLUMNS, 0, 0};
    ioctl(master_, TIOCSWINSZ, &size);
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (slave_ < 0 || tcgetattr(slave_, &before_) != 0) return;
    int out[2];
    if (pipe(out) != 0) return;
    int job_pid[2];
    if (pipe(job_pid) != 0) return;
    int stops[2];
    if (pipe(stops) != 0 || pipe(resumes_) != 0) return;

    std::vector<std::string> strings = {testsupport::tool_path(tool)};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<std::string> env_strings;
    for (const auto& [name, value] : env) env_strings.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
      setsid();  // the test's own terminal stays out of it
      auto start_tool = [&] {
        dup2(slave_, 0);
        dup2(output_on_terminal ? slave_ : out[1], 1);
        // The tool must not hold the read end itself, or it would never see it closed.
        close(out[0]);
        const int null_fd = open("/dev/null", O_WRONLY);
        if (with_errors) {
          dup2(1, 2);
        } else if (null_fd >= 0) {
          dup2(null_fd, 2);
        }
        // As a shell starts a program.
        for (int s : {SIGINT, SIGPIPE, SIGTTOU, SIGTTIN, SIGQUIT}) signal(s, SIG_DFL);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
      };
      if (job == Job::alone) start_tool();
      // The session leader keeps the terminal's foreground unless the job is the
      // foreground one; the tool gets a process group of its own.
      if (ioctl(slave_, TIOCSCTTY, 0) != 0) _exit(126);
      // As a shell: it hands the terminal over from the background.
      signal(SIGTTOU, SIG_IGN);
      const pid_t tool_pid = fork();
      if (tool_pid == 0) {
        setpgid(0, 0);
        // Both sides make the job the foreground, so that it is before the tool runs.
        if (job == Job::foreground) tcsetpgrp(slave_, getpid());
        start_tool();
      }
      setpgid(tool_pid, tool_pid);
      if (job == Job::foreground) tcsetpgrp(slave_, tool_pid);
      (void)!write(job_pid[1], &tool_pid, sizeof tool_pid);
      for (;;) {
        int status = 0;
        while (waitpid(tool_pid, &status, WUNTRACED) < 0 && errno == EINTR) {
        }
        if (!WIFSTOPPED(status)) _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        if (job != Job::foreground) {
          kill(tool_pid, SIGKILL);
          _exit(JOB_STOPPED);
        }
        // Stopped: the shell takes the terminal, says so, and on "fg" gives it back
        // and continues the job.
        tcsetpgrp(slave_, getpgrp());
        (void)!write(stops[1], "s", 1);
        char fg = 0;
        if (read(resumes_[0], &fg, 1) != 1) _exit(JOB_STOPPED);
        tcsetpgrp(slave_, tool_pid);
        kill(-tool_pid, SIGCONT);
      }
    }
    close(out[1]);
    close(job_pid[1]);
    close(stops[1]);
    close(resumes_[0]);
    resumes_[0] = -1;
    stops_ = stops[0];
    out_ = out[0];
    if (output_on_terminal) {
      close(out_);
      out_ = dup(master_);
      on_terminal_ = true;
    }
    tool_pid_ = pid_;
    if (job != Job::alone) {
      pollfd p{job_pid[0], POLLIN, 0};
      pid_t got = -1;
      if (poll(&p, 1, 10000) == 1 && read(job_pid[0], &got, sizeof got) == static_cast<ssize_t>(sizeof got)) {
        tool_pid_ = got;
      }
    }
    close(job_pid[0]);
  }

  ~TerminalRun() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, out_, stops_, resumes_[1]}) {
      if (fd >= 0) close(fd);
    }
  }

  bool started() const { return pid_ > 0 && out_ >= 0; }

  bool wait_for_lines(std::size_t n, int timeout_ms = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (lines() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || !read_some(static_cast<int>(left))) return false;
    }
    return true;
  }

  tcflag_t local_modes() const {
    termios now{};
    tcgetattr(slave_, &now);
    return now.c_lflag;
  }
  tcflag_t local_modes_before() const { return before_.c_lflag; }

  void type(const std::string& keys) { (void)!write(master_, keys.data(), keys.size()); }
  // What was typed and not taken by the tool, read without waiting.
  std::string unread_input() {
    termios now{};
    tcgetattr(slave_, &now);
    termios raw = now;
    raw.c_lflag &= static_cast<tcflag_t>(~ICANON);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(slave_, TCSANOW, &raw);
    char buf[64];
    const ssize_t got = read(slave_, buf, sizeof buf);
    tcsetattr(slave_, TCSANOW, &now);
    return got > 0 ? std::string(buf, static_cast<std::size_t>(got)) : std::string();
  }
  void send_signal(int signal_number) { kill(tool_pid_, signal_number); }
  // Ctrl-Z as the terminal's own suspend character, typed.
  void suspend() { type(std::string(1, static_cast<char>(before_.c_cc[VSUSP]))); }
  // True once the leader of a foreground job saw it stop.
  bool wait_stopped(int timeout_ms = 10000) {
    pollfd p{stops_, POLLIN, 0};
    char stopped = 0;
    return poll(&p, 1, timeout_ms) == 1 && read(stops_, &stopped, 1) == 1;
  }
  // "fg": the leader gives the job the terminal and continues it.
  void resume_in_foreground() { (void)!write(resumes_[1], "f", 1); }
  // Waits until the local modes have none of the given flags; false after the time limit.
  bool wait_modes_cleared(tcflag_t flags, int timeout_ms = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while ((local_modes() & flags) != 0) {
      if (Clock::now() >= deadline) return false;
      poll(nullptr, 0, 10);
    }
    return true;
  }
  // As "| head -1" does once it has its line.
  void close_output() {
    close(out_);
    out_ = -1;
  }

  // The exit code once the tool has ended (reading what is left of its output),
  // or -1 when a signal ended it or it was still running after the time limit.
  int finish(int timeout_ms = 10000) {
    if (on_terminal_) return finish_on_terminal(timeout_ms);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || !read_some(static_cast<int>(left))) break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int code = testsupport::wait_exit_code(pid_, static_cast<int>(std::max<long long>(left, 0)));
    ended_ = true;
    signal_ = code > 127 ? code - 128 : 0;
    return code > 127 ? -1 : code;
  }
  // The signal that ended the tool, 0 when it exited.
  int ending_signal() const { return signal_; }

  const std::string& output() const { return text_; }

  // Reads the terminal's output until done(output) holds; false after the time limit.
  bool wait_for_output(const std::function<bool(const std::string&)>& done, int timeout_ms = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done(text_)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      read_some(static_cast<int>(left));
    }
    return true;
  }

 private:
  // The test holds the terminal open, so its output never ends: it is read while the
  // tool runs, and what is left once it has ended.
  int finish_on_terminal(int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) read_some(10);
    while (read_some(0)) {
    }
    if (ended != pid_) return -1;
    ended_ = true;
    signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::size_t lines() const {
    std::size_t n = 0;
    for (char c : text_) n += c == '\n';
    return n;
  }
  // False at end of output or when nothing came in time.
  bool read_some(int timeout_ms) {
    if (out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    char buf[4096];
    const ssize_t got = read(out_, buf, sizeof buf);
    if (got <= 0) return false;
    text_.append(buf, static_cast<std::size_t>(got));
    return true;
  }

  int master_ = -1;
  int slave_ = -1;
  int out_ = -1;
  int stops_ = -1;
  int resumes_[2] = {-1, -1};
  pid_t pid_ = -1;
  pid_t tool_pid_ = -1;
  bool ended_ = false;
  bool on_terminal_ = false;
  int signal_ = 0;
  termios before_{};
  std::string text_;
};

Env direct() { return {{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "DIRECT"}}; }

class FrontendTerminal : public testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::running_windows_build()) GTEST_SKIP() << "POSIX terminals only";
  }
};

TEST_F(FrontendTerminal, AKeyEndsTheLoopAndTheTerminalIsGivenBack) {
  for (const char* tool : {"parmpeek", "parmpoke"}) {
    SCOPED_TRACE(tool);
    const std::vector<std::string> args =
        std::string(tool) == "parmpeek" ? std::vector<std::string>{"kqp", "r"} : std::vector<std::string>{"kqp", "5", "r"};
    TerminalRun run(tool, args, direct());
    ASSERT_TRUE(run.started());
    ASSERT_EQ(run.local_modes_before() & CANONICAL_ECHO, CANONICAL_ECHO);
    if (std::string(tool) == "parmpeek") {
      ASSERT_TRUE(run.wait_for_lines(3));
    } else {
      // The writer prints nothing: wait until it has switched the terminal.
      const auto deadline = Clock::now() + std::chrono::seconds(10);
      while ((run.local_modes() & ICANON) != 0 && Clock::now() < deadline) poll(nullptr, 0, 10);
    }
    EXPECT_EQ(run.local_modes() & CANONICAL_ECHO, 0u) << "the key poll needs immediate, silent input";
    run.type("x");
    EXPECT_EQ(run.finish(), 0);
    EXPECT_EQ(run.local_modes(), run.local_modes_before());
  }
}

// Ctrl-C at zr90 restore's question leaves it unanswered: nothing is written, and
// the run ends at once instead of waiting for Return.
TEST_F(FrontendTerminal, CtrlCAtAQuestionWritesNothing) {
  const std::string file = testsupport::temp_path("question") + ".json";
  ASSERT_EQ(testsupport::run_tool("zr90", {"-q", "save", file}, direct()).exit_code, 0);
  std::string text = testsupport::read_file(file);
  const std::size_t value = text.find("\"nvkqp\": 0");
  ASSERT_NE(value, std::string::npos) << text;
  text.replace(value, 10, "\"nvkqp\": 5");
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(text.c_str(), f);
  std::fclose(f);
  TerminalRun run("zr90", {"-q", "restore", file}, direct(), Job::alone, true);
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.wait_for_lines(1)) << "the plan is shown before the question";
  run.send_signal(SIGINT);
  EXPECT_EQ(run.finish(), 1);
  EXPECT_NE(run.output().find("nothing written"), std::string::npos) << run.output();
  EXPECT_EQ(run.local_modes(), run.local_modes_before());
  std::remove(file.c_str());
}

// Ctrl-C, or a request to end (kill), ends the loop like a key.
TEST_F(FrontendTerminal, CtrlCEndsTheLoopNormallyAndTheTerminalIsGivenBack) {
  for (int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    TerminalRun run("parmpeek", {"kqi", "r", "h"}, direct());
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.wait_for_lines(3));
    run.send_signal(signal_number);
    EXPECT_EQ(run.finish(), 0);
    EXPECT_EQ(run.local_modes(), run.local_modes_before());
    EXPECT_EQ(run.output().substr(run.output().rfind("Data ")), "Data 00000000\n");
  }
}

// Signals that end the process their own way still find the terminal given back.
TEST_F(FrontendTerminal, EndingSignalsGiveTheTerminalBackFirst) {
  for (int signal_number : {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM}) {
    SCOPED_TRACE(signal_number);
    TerminalRun run("parmpeek", {"kqp", "r"}, direct());
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.wait_for_lines(2));
    ASSERT_EQ(run.local_modes() & CANONICAL_ECHO, 0u);
    run.send_signal(signal_number);
    EXPECT_EQ(run.finish(), -1);
    EXPECT_EQ(run.ending_signal(), signal_number);
    EXPECT_EQ(run.local_modes(), run.local_modes_before());
  }
}

TEST_F(FrontendTerminal, AReaderThatStopsReadingGivesTheTerminalBack) {
  TerminalRun run("parmpeek", {"kqp", "r"}, direct());
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.wait_for_lines(1));
  run.close_output();
  EXPECT_EQ(run.finish(), -1);
  EXPECT_EQ(run.ending_signal(), SIGPIPE);
  EXPECT_EQ(run.local_modes(), run.local_modes_before());
}

// "parmpeek kqp r > file &": the run goes on in the background without touching the
// terminal (a change would stop it), and a request to end still ends it normally.
TEST_F(FrontendTerminal, ABackgroundRunIsNotStoppedAndLeavesTheTerminalAlone) {
  TerminalRun run("parmpeek", {"kqp", "r"}, direct(), Job::background);
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.wait_for_lines(3)) << "stopped in the background";
  EXPECT_EQ(run.local_modes(), run.local_modes_before());
  run.type("x\n");  // the foreground's input, not a key for the background run
  ASSERT_TRUE(run.wait_for_lines(6));
  run.send_signal(SIGTERM);
  EXPECT_EQ(run.finish(), 0);
  EXPECT_EQ(run.local_modes(), run.local_modes_before());
}

// A fatal end inside the loop: the text protocol has no command for an EEPROM long,
// so the first pass ends the run.
TEST_F(FrontendTerminal, AFatalEndInsideTheLoopGivesTheTerminalBack) {
  testsupport::Simulator sim({"drive", "--protocol", "hex"});
  ASSERT_TRUE(sim.started());
  Env env = testsupport::com_port_env(testsupport::unique_com_number(), sim.ready_value());
  env["INTERFACE"] = "OSDEVICE";
  env["PROTOCOL"] = "HEX";
  env["BAUDRATE"] = "115200";
  env["BAUDRATEMUL"] = "1";
  TerminalRun run("parmpeek", {"nvkqi", "r"}, env);
  ASSERT_TRUE(run.started());
  EXPECT_EQ(run.finish(), 2);
  EXPECT_EQ(run.output(), "\nThe Hex protocol cannot read an EEPROM long\n");
  EXPECT_EQ(run.local_modes(), run.local_modes_before());
}

// zr90 watch: q or Esc ends it and is taken, not left for the shell; Ctrl-C ends it
// too; the terminal comes back as it was either way.
TEST_F(FrontendTerminal, WatchEndsOnQEscapeOrCtrlCAndGivesTheTerminalBack) {
  struct Ending {
    const char* keys;  // typed, or empty for Ctrl-C
  };
  for (const Ending ending : {Ending{"q"}, Ending{"\x1b"}, Ending{""}}) {
    SCOPED_TRACE(*ending.keys == '\0' ? "Ctrl-C" : ending.keys);
    TerminalRun run("zr90", {"-q", "watch", "kqp", "--interval", "20"}, direct());
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.wait_for_lines(3));  // the header and two samples
    EXPECT_EQ(run.local_modes() & CANONICAL_ECHO, 0u);
    if (*ending.keys != '\0') {
      run.type(ending.keys);
    } else {
      run.send_signal(SIGINT);
    }
    EXPECT_EQ(run.finish(), 0);
    EXPECT_EQ(run.local_modes(), run.local_modes_before());
    EXPECT_EQ(run.unread_input(), "");
  }
}

// Ctrl-Z during a key poll gives the shell its terminal as it was; "fg" takes it
// again key by key, so that one key ends the run at once.
TEST_F(FrontendTerminal, CtrlZGivesTheTerminalBackAndFgTakesItAgain) {
  struct Run {
    const char* tool;
    std::vector<std::string> args;
  };
  for (const Run& start : {Run{"parmpeek", {"kqp", "r"}}, Run{"zr90", {"-q", "watch", "kqp", "--interval", "20"}}}) {
    SCOPED_TRACE(start.tool);
    TerminalRun run(start.tool, start.args, direct(), Job::foreground);
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.wait_for_lines(3));
    ASSERT_EQ(run.local_modes() & CANONICAL_ECHO, 0u);
    run.suspend();
    ASSERT_TRUE(run.wait_stopped());
    EXPECT_EQ(run.local_modes(), run.local_modes_before()) << "stopped with the terminal still taken";
    run.resume_in_foreground();
    EXPECT_TRUE(run.wait_modes_cleared(CANONICAL_ECHO)) << "the terminal was not taken again after fg";
    run.type("q");
    EXPECT_EQ(run.finish(), 0);
    EXPECT_EQ(run.local_modes(), run.local_modes_before());
  }
}

// What a terminal shows after the bytes a full-screen view wrote: the sequences such
// a view uses (cursor moves, clears, colours, the alternate screen), a cell per character.
class ScreenModel {
 public:
  explicit ScreenModel(const std::string& bytes) : cells_(SCREEN_ROWS, std::vector<Cell>(SCREEN_COLUMNS)) {
    for (std::size_t i = 0; i < bytes.size();)
      i = bytes.compare(i, 2, "\x1b[") == 0 ? sequence(bytes, i + 2) : put(bytes, i);
  }
  // The first row that starts with prefix (the top one for none), trailing spaces dropped.
  std::string row(const std::string& prefix = "") const {
    for (const std::string& text : rows()) {
      if (text.rfind(prefix, 0) == 0) return text;
    }
    return {};
  }
  bool shows(const std::string& part) const {
    const std::vector<std::string> all = rows();
    return std::any_of(all.begin(), all.end(), [&](const std::string& text) { return text.find(part) != text.npos; });
  }
  // Braille characters drawn in ANSI colour 30 + n.
  int braille_cells(int colour) const {
    int n = 0;
    for (const auto& cells : cells_) {
      for (const Cell& cell : cells) n += cell.colour == colour && cell.text.rfind("\xe2\xa0", 0) == 0;
    }
    return n;
  }
  bool alternate = false;
  bool cursor_shown = true;

 private:
  struct Cell {
    std::string text;
    int colour = 0;
  };
  std::vector<std::string> rows() const {
    std::vector<std::string> all;
    for (const auto& cells : cells_) {
      std::string& text = all.emplace_back();
      for (const Cell& cell : cells) text += cell.text.empty() ? " " : cell.text;
      text.erase(text.find_last_not_of(' ') + 1);
    }
    return all;
  }
  std::size_t put(const std::string& bytes, std::size_t i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (c == '\r' || c == '\n') {
      column_ = c == '\r' ? 0 : column_;
      row_ = c == '\n' ? std::min(row_ + 1, SCREEN_ROWS - 1) : row_;
    } else if (column_ < SCREEN_COLUMNS) {
      cells_[static_cast<std::size_t>(row_)][static_cast<std::size_t>(column_++)] = {bytes.substr(i, length), colour_};
    }
    return i + length;
  }
  std::size_t sequence(const std::string& bytes, std::size_t i) {
    const bool is_private = bytes[i] == '?';
    std::vector<int> n{0};
    for (i += is_private; i < bytes.size() && (std::isdigit(static_cast<unsigned char>(bytes[i])) || bytes[i] == ';');
         ++i) {
      bytes[i] == ';' ? n.push_back(0) : void(n.back() = n.back() * 10 + bytes[i] - '0');
    }
    const char final = i < bytes.size() ? bytes[i] : '\0';
    if (final == 'H') row_ = std::max(n[0], 1) - 1, column_ = std::max(n.size() > 1 ? n[1] : 1, 1) - 1;
    if (final == 'J') cells_.assign(SCREEN_ROWS, std::vector<Cell>(SCREEN_COLUMNS));
    if (final == 'K')
      std::fill(cells_[static_cast<std::size_t>(row_)].begin() + column_, cells_[static_cast<std::size_t>(row_)].end(),
                Cell{});
    for (int code : n) colour_ = final != 'm' ? colour_ : code == 0 ? 0 : code >= 30 && code <= 37 ? code : colour_;
    if (is_private && n[0] == 1049) alternate = final == 'h';
    if (is_private && n[0] == 25) cursor_shown = final == 'h';
    return i + 1;
  }
  std::vector<std::vector<Cell>> cells_;
  int row_ = 0, column_ = 0, colour_ = 0;
};

// The number after label in its row ("iq   512" -> 512), or -1; and the [low high] after it.
long value_in_row(const ScreenModel& screen, const std::string& label, long* low = nullptr, long* high = nullptr) {
  const std::string row = screen.row(label + " ");
  if (row.empty()) return -1;
  if (low != nullptr &&
      (row.find('[') == std::string::npos || std::sscanf(row.c_str() + row.find('['), "[%ld %ld]", low, high) != 2)) {
    return -1;
  }
  return std::strtol(row.c_str() + label.size(), nullptr, 10);
}

// A simulated drive whose iq follows its setpoint: values that change on their own.
class MovingDrive {
 public:
  MovingDrive() : sim_({"drive", "--model", "moving"}) {
    if (!sim_.started()) return;
    env_ = testsupport::com_port_env(testsupport::unique_com_number(), sim_.ready_value());
    env_.insert({{"INTERFACE", "OSDEVICE"}, {"PROTOCOL", "ZAL"}, {"BAUDRATE", "115200"}, {"BAUDRATEMUL", "1"}});
    const testsupport::RunResult set =
        testsupport::run_tool("zr90", {"-q", "set", "-y", "kqp=200", "pidena=1", "qsetpoint=1000"}, env_);
    ready_ = set.exit_code == 0 && sim_.settle();
  }
  bool ready() const { return ready_; }
  Env env_;

 private:
  testsupport::Simulator sim_;
  bool ready_ = false;
};

bool restored(TerminalRun& run) {
  const ScreenModel screen(run.output());
  return !screen.alternate && screen.cursor_shown && run.local_modes() == run.local_modes_before();
}

// Ctrl-Z gives the user's screen back before the stop; after fg the view's screen is
// cleared and drawn again until shown(screen) holds.
void suspend_and_resume(TerminalRun& run, const std::function<bool(const ScreenModel&)>& shown) {
  run.suspend();
  ASSERT_TRUE(run.wait_stopped());
  ASSERT_TRUE(run.wait_for_output([&](const std::string&) { return restored(run); }));
  const std::size_t stopped_at = run.output().size();
  run.resume_in_foreground();
  EXPECT_TRUE(run.wait_for_output([&](const std::string& out) {
    return out.find("\x1b[2J", stopped_at) != std::string::npos && shown(ScreenModel(out));
  })) << "not drawn again after fg";
}

// The table on the terminal: the heading drawn once, the values in place, and the
// keys: space pauses, m shows the minimum and maximum, r resets them, q ends.
TEST_F(FrontendTerminal, WatchDrawsATableInPlaceAndTakesItsKeys) {
  MovingDrive drive;
  ASSERT_TRUE(drive.ready());
  TerminalRun run("zr90", {"-q", "watch", "iq", "busv", "--interval", "20"}, drive.env_, Job::alone, false, true);
  ASSERT_TRUE(run.started());
  // Past the first samples: the iq row written again in place, a changed value marked.
  ASSERT_TRUE(run.wait_for_output([](const std::string& out) {
    return value_in_row(ScreenModel(out), "iq") > 300 && out.find("\x1b[4;") != out.rfind("\x1b[4;") &&
           out.find("\x1b[0;7m") != std::string::npos;
  }));
  const ScreenModel screen(run.output());
  EXPECT_TRUE(screen.alternate && !screen.cursor_shown);
  EXPECT_NE(screen.row("zr90 watch  OSDEVICE ZAL").find("samples/s"), std::string::npos);
  const std::string& out = run.output();
  EXPECT_EQ(out.find("parameter"), out.rfind("parameter")) << "the heading is drawn once";
  EXPECT_NE(out.find("\x1b[4;"), out.rfind("\x1b[4;")) << "the iq row is written again in place";
  EXPECT_NE(out.find("\x1b[0;7m"), std::string::npos) << "a changed value is marked";

  const struct {
    const char* key;
    std::function<bool(const ScreenModel&)> shown;
  } steps[] = {
      {" ", [](const ScreenModel& s) { return s.shows("paused"); }},
      {"m",
       [](const ScreenModel& s) {
         long l, h;
         return value_in_row(s, "iq", &l, &h) >= 0 && l < h;
       }},
      {"r",
       [](const ScreenModel& s) {
         long l, h;
         const long value = value_in_row(s, "iq", &l, &h);
         return value >= 0 && value == l && l == h;
       }},
      {"m", [](const ScreenModel& s) { return s.row("iq ").find('[') == std::string::npos; }},
      {" ", [](const ScreenModel& s) { return !s.shows("paused"); }},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string("key '") + step.key + "'");
    run.type(step.key);
    EXPECT_TRUE(run.wait_for_output([&](const std::string& text) { return step.shown(ScreenModel(text)); }))
        << ScreenModel(run.output()).row() << "\n"
        << ScreenModel(run.output()).row("iq ");
  }
  run.type("q");
  EXPECT_EQ(run.finish(), 0);
  EXPECT_TRUE(restored(run));
}

// q, Esc, Ctrl-C and a request to end each give the user's screen, cursor and terminal back.
TEST_F(FrontendTerminal, WatchOnTheTerminalGivesEverythingBackOnEachEnding) {
  for (const auto& [keys, signal_number] :
       std::vector<std::pair<std::string, int>>{{"q", 0}, {"\x1b", 0}, {"", SIGINT}, {"", SIGTERM}}) {
    SCOPED_TRACE(keys + std::to_string(signal_number));
    TerminalRun run("zr90", {"-q", "watch", "kqp", "fault", "--interval", "20"}, direct(), Job::alone, false, true);
    ASSERT_TRUE(run.wait_for_output([](const std::string& out) {
      return ScreenModel(out).row("fault ").ends_with("0x0000");
    })) << "the fault word in hexadecimal";
    EXPECT_EQ(run.local_modes() & CANONICAL_ECHO, 0u);
    signal_number != 0 ? run.send_signal(signal_number) : run.type(keys);
    EXPECT_EQ(run.finish(), 0);
    EXPECT_TRUE(restored(run));
    EXPECT_EQ(run.unread_input(), "");
  }
}

// Ctrl-Z shows the shell's screen; fg draws the view again, whole.
TEST_F(FrontendTerminal, WatchOnTheTerminalLeavesItsScreenOnCtrlZAndRepaintsAfterFg) {
  TerminalRun run("zr90", {"-q", "watch", "kqp", "--interval", "20"}, direct(), Job::foreground, false, true);
  ASSERT_TRUE(run.wait_for_output([](const std::string& out) { return ScreenModel(out).shows("kqp"); }));
  suspend_and_resume(run, [](const ScreenModel& screen) { return screen.shows("kqp"); });
  if (HasFatalFailure()) return;
  EXPECT_TRUE(ScreenModel(run.output()).alternate);
  run.type("q");
  EXPECT_EQ(run.finish(), 0);
  EXPECT_TRUE(restored(run));
}

// --plot: a line per value in its own colour, and a legend.
TEST_F(FrontendTerminal, WatchPlotDrawsEachSeries) {
  MovingDrive drive;
  ASSERT_TRUE(drive.ready());
  TerminalRun run("zr90", {"-q", "watch", "iq", "busv", "--plot", "--interval", "20"}, drive.env_, Job::alone, false,
                  true);
  EXPECT_TRUE(run.wait_for_output([](const std::string& out) {
    const ScreenModel screen(out);
    return screen.braille_cells(36) > 5 && screen.braille_cells(33) > 5 && screen.shows("━━ iq") &&
           screen.shows("━━ busv");
  })) << "iq in cyan and busv in yellow";
  run.type("q");
  EXPECT_EQ(run.finish(), 0);
  EXPECT_TRUE(restored(run));
}

// The console's command line as the terminal shows it ("> set kqp=").
std::string command_line(const ScreenModel& screen) { return screen.row(">"); }

// One console session typed key by key: completion, a write read back into the table
// and the log, the history, and the watched set changed.
TEST_F(FrontendTerminal, ConsoleWritesWatchesCompletesAndRecalls) {
  MovingDrive drive;
  ASSERT_TRUE(drive.ready());
  TerminalRun run("zr90", {"-q", "console", "kqp", "--interval", "20"}, drive.env_, Job::alone, false, true);
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.wait_for_output([](const std::string& out) { return value_in_row(ScreenModel(out), "kqp") == 200; }));
  EXPECT_NE(ScreenModel(run.output()).row("zr90 console  OSDEVICE ZAL").find("samples/s"), std::string::npos);
  const std::string saved = testsupport::temp_path("console-save") + ".json";

  const struct {
    std::string keys;
    std::function<bool(const ScreenModel&)> shown;
  } steps[] = {
      {"se\t", [](const ScreenModel& s) { return command_line(s) == "> set"; }},
      {"kq\t", [](const ScreenModel& s) { return command_line(s) == "> set kq" && s.shows("kqp=  kqi="); }},
      {"p\t", [](const ScreenModel& s) { return command_line(s) == "> set kqp="; }},
      {"300\r",
       [](const ScreenModel& s) {
         return s.shows("set kqp 200 -> 300, read back") && value_in_row(s, "kqp") == 300 && command_line(s) == ">";
       }},
      {"\x1b[A", [](const ScreenModel& s) { return command_line(s) == "> set kqp=300"; }},
      {"\x01\x1b[C\x1b[C\x7f\x7fg\x05\x15", [](const ScreenModel& s) { return command_line(s) == ">"; }},
      {"add busv\r",
       [](const ScreenModel& s) { return value_in_row(s, "busv") >= 0 && value_in_row(s, "kqp") == 300; }},
      {"remove kqp\r", [](const ScreenModel& s) { return value_in_row(s, "busv") >= 0 && s.row("kqp ").empty(); }},
      {"get kqp\r", [](const ScreenModel& s) { return s.shows("kqp 300"); }},
      {"frob\r", [](const ScreenModel& s) { return s.shows("unknown command \"frob\""); }},
      {"plot o\t", [](const ScreenModel& s) { return command_line(s) == "> plot o" && s.shows("on  off"); }},
      {"n\t\r", [](const ScreenModel& s) { return s.shows("━━ busv") && command_line(s) == ">"; }},
      {"plot off\r", [](const ScreenModel& s) { return value_in_row(s, "busv") >= 0; }},
      {"set nvkqp=900\r", [](const ScreenModel& s) { return s.shows("write 1 EEPROM setting on axes 0? [y/N]"); }},
      {"y\r", [](const ScreenModel& s) { return s.shows("-> 900, read back") && command_line(s) == ">"; }},
      {"set nvkqp=950\r", [](const ScreenModel& s) { return s.shows("write 1 EEPROM setting on axes 0? [y/N]"); }},
      {"\r", [](const ScreenModel& s) { return s.shows("nothing written") && command_line(s) == ">"; }},
      {"faults\r", [](const ScreenModel& s) { return s.shows("no faults"); }},
      // Axes the link cannot reach: said, and the console goes on with the ones it had.
      {"axes 1\r",
       [](const ScreenModel& s) {
         return s.shows("axis 1: this link reaches one drive, axis 0 only") && s.shows("axis 0") &&
                value_in_row(s, "busv") >= 0;
       }},
      {"save " + saved + "\r", [&](const ScreenModel& s) { return s.shows("saved to " + saved); }},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(testing::PrintToString(step.keys));
    run.type(step.keys);
    EXPECT_TRUE(run.wait_for_output([&](const std::string& text) { return step.shown(ScreenModel(text)); }))
        << command_line(ScreenModel(run.output()));
  }
  run.type("quit\r");
  EXPECT_EQ(run.finish(), 0);
  EXPECT_TRUE(restored(run));
  EXPECT_NE(testsupport::read_file(saved).find("\"nvkqp\": 900"), std::string::npos);
  std::remove(saved.c_str());
}

// quit, Ctrl-D on an empty line, Ctrl-C twice and a request to end each end the
// console and give the terminal back.
TEST_F(FrontendTerminal, ConsoleEndsEachWayAndGivesTheTerminalBack) {
  const struct {
    std::string keys;
    std::vector<int> signals;
  } endings[] = {{"quit\r", {}},
                 {"\x04", {}},
                 {"", {SIGTERM}},
                 {"", {SIGINT, SIGINT}},
                 {"get", {SIGINT, SIGINT, SIGINT}}};
  for (const auto& ending : endings) {
    SCOPED_TRACE(testing::PrintToString(ending.keys) + " " + std::to_string(ending.signals.size()) + " signals");
    TerminalRun run("zr90", {"-q", "console", "kqp", "--interval", "20"}, direct(), Job::alone, false, true);
    ASSERT_TRUE(run.wait_for_output([](const std::string& out) { return value_in_row(ScreenModel(out), "kqp") == 0; }));
    run.type(ending.keys);
    if (ending.keys == "get") {
      ASSERT_TRUE(
          run.wait_for_output([](const std::string& out) { return command_line(ScreenModel(out)) == "> get"; }));
    }
    for (int signal_number : ending.signals) {
      // Each Ctrl-C is seen before the next: the first clears the line, then one warns.
      const std::size_t before = run.output().size();
      run.send_signal(signal_number);
      if (signal_number == SIGINT && &signal_number != &ending.signals.back()) {
        EXPECT_TRUE(run.wait_for_output([&](const std::string& out) { return out.size() > before; }));
      }
    }
    EXPECT_EQ(run.finish(), 0);
    EXPECT_TRUE(restored(run));
    EXPECT_EQ(run.unread_input(), "");
  }
}

// A get stuck on a module that stays busy: Ctrl-C cancels it, and the console goes on.
// The setup gives ten commands; the get's first waits for the module forever.
TEST_F(FrontendTerminal, ConsoleCtrlCCancelsTheCommandRunningNotTheConsole) {
  auto card = cardtest::udp_card({"--fault", "busy-after=10", "--fault", "busy-slow=300"});
  ASSERT_TRUE(card->sim->started());
  TerminalRun run("zr90", {"-q", "console"}, card->env, Job::alone, false, true);
  ASSERT_TRUE(run.wait_for_output([](const std::string& out) { return command_line(ScreenModel(out)) == ">"; }));
  run.type("get kqp\r");
  const auto polled_twice = [](const std::string& text) {
    std::size_t held = 0;
    for (std::size_t at = text.find("held back"); at != std::string::npos; at = text.find("held back", at + 1)) ++held;
    return held >= 2;
  };
  ASSERT_TRUE(testsupport::wait_for_file(card->trace_path, polled_twice, 20000));
  run.send_signal(SIGINT);
  EXPECT_TRUE(run.wait_for_output([](const std::string& out) { return ScreenModel(out).shows("get: cancelled"); }));
  run.type("help\r");
  EXPECT_TRUE(run.wait_for_output([](const std::string& out) { return ScreenModel(out).shows("help  quit"); }));
  EXPECT_TRUE(ScreenModel(run.output()).alternate);
  run.type("quit\r");
  // The module still holds the get's poll; a Ctrl-C cuts the close short.
  ASSERT_TRUE(run.wait_for_output([](const std::string& out) { return !ScreenModel(out).alternate; }));
  run.send_signal(SIGINT);
  // Exit 0; or, when the Ctrl-C comes after the console gave the terminal and the
  // signal back (a slow exit), the ending by that Ctrl-C.
  const int code = run.finish();
  EXPECT_TRUE(code == 0 || run.ending_signal() == SIGINT) << code;
  EXPECT_TRUE(restored(run));
}

// Ctrl-Z shows the shell's screen; fg draws the console again, the line typed kept.
TEST_F(FrontendTerminal, ConsoleLeavesItsScreenOnCtrlZAndRepaintsAfterFg) {
  TerminalRun run("zr90", {"-q", "console", "kqp", "--interval", "20"}, direct(), Job::foreground, false, true);
  ASSERT_TRUE(run.wait_for_output([](const std::string& out) { return value_in_row(ScreenModel(out), "kqp") == 0; }));
  run.type("get kq");
  ASSERT_TRUE(run.wait_for_output([](const std::string& out) { return command_line(ScreenModel(out)) == "> get kq"; }));
  suspend_and_resume(run, [](const ScreenModel& screen) { return command_line(screen) == "> get kq"; });
  if (HasFatalFailure()) return;
  run.type("\x15quit\r");
  EXPECT_EQ(run.finish(), 0);
  EXPECT_TRUE(restored(run));
}

TEST_F(FrontendTerminal, ConsoleRefusesToStartWithoutATerminal) {
  const testsupport::RunResult r = testsupport::run_tool("zr90", {"console", "kqp"}, direct());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "zr90: console needs a terminal on standard input and output; use get, set or watch in scripts\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace
