// End-to-end support: run the real programs as a user would, start zr90sim.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

using Env = std::map<std::string, std::string>;

struct RunResult {
  std::string out;   // standard output, CR LF folded to LF
  std::string err;   // standard error, likewise
  int exit_code = -1;
  std::vector<std::string> lines() const;  // out split at line ends
};

// Path of a built program: "parmpeek", "parmpoke" (the Windows .exe under Wine when
// the tests run against the Windows build).
std::string tool_path(const std::string& tool);
bool running_windows_build();

// Runs a tool with exactly the given environment (plus what the platform needs to
// start it), feeding stdin_data on standard input and closing it. Kills the tool
// after timeout_ms.
RunResult run_tool(const std::string& tool, const std::vector<std::string>& args, const Env& env,
                   const std::string& stdin_data = "", int timeout_ms = 30000);

// The exit code of a started child (128 + the signal when one ended it); -1 when it
// was still running after timeout_ms, and it is then killed.
int wait_exit_code(pid_t pid, int timeout_ms);

// A tool started in the background with a standard input pipe kept open: for repeat
// mode, where a byte written to standard input ends the loop.
class ToolProcess {
 public:
  ToolProcess(const std::string& tool, const std::vector<std::string>& args, const Env& env);
  ~ToolProcess();
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  // Waits until standard output holds at least n lines (false after timeout_ms).
  bool wait_for_lines(std::size_t n, int timeout_ms = 10000);
  void write_stdin(const std::string& bytes);
  void close_stdin();
  void interrupt(int signal_number = SIGINT);
  // Waits for the end and returns everything printed and the exit code.
  RunResult finish(int timeout_ms = 10000);
  std::string output_so_far();

 private:
  void drain(int timeout_ms);
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  std::string out_;
};

// zr90sim started with the given arguments. The constructor waits for its ready
// line ("ready <value>") and keeps the value: the pseudo-terminal path or the
// address it serves. The destructor ends it by its process id.
class Simulator {
 public:
  explicit Simulator(const std::vector<std::string>& args, int timeout_ms = 10000);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  const std::string& ready_value() const { return ready_; }
  bool started() const { return !ready_.empty(); }
  // Waits until the simulator has taken in and dealt with everything sent to it so
  // far (its "idle" answer to SIGUSR1). A tool that ends right after its last write
  // leaves those bytes unread; the next tool's flush of the port would drop them,
  // and the trace does not show them yet. False after timeout_ms.
  bool settle(int timeout_ms = 10000);
  // Everything the simulator printed after its ready line, once it has ended
  // ("idle" answers left out).
  std::string stop();

 private:
  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  std::string ready_;
  std::string rest_;
  std::string partial_line_;
};

// The simulator program (ZR90_SIM, or the one built beside the tools).
std::string simulator_path();

// The environment that makes the tools open the given pseudo-terminal as port COMn.
// Under Wine the port is linked into the prefix's dosdevices.
Env com_port_env(int n, const std::string& pty_path);

// A COM port number of its own (10 to 249), so that tests under Wine, where the
// port is a link in the shared prefix, do not take each other's port.
int unique_com_number();

// A loopback address of its own for a test's simulated card: 127.0.0.x.
std::string unique_loopback_address();

// A wire trace line of the simulator or a tool without its time stamp and its quoted
// text ("12.345 > 52 57 0D \"RW\\r\"" -> "> 52 57 0D"); other lines as they are. And a
// whole trace so.
std::string wire_line(const std::string& line);
std::string wire_text(const std::string& text);

// A fresh temporary file path (for wire traces).
std::string temp_path(const std::string& stem);
std::string read_file(const std::string& path);
// Waits until the file's content satisfies done (checked at once, then whenever the
// file is written); false after timeout_ms.
bool wait_for_file(const std::string& path, const std::function<bool(const std::string&)>& done,
                   int timeout_ms = 10000);

}  // namespace testsupport
