#include "support/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/personality.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// What a started program needs besides the test's own variables.
Env full_environment(const Env& env) {
  Env all = env;
  for (const char* name : {"PATH", "HOME", "WINEPREFIX", "WINEDEBUG", "WINESERVER", "WINELOADER",
                           "WINEDLLOVERRIDES", "DISPLAY", "TMPDIR"}) {
    const char* value = std::getenv(name);
    if (value && !all.count(name)) all[name] = value;
  }
  if (running_windows_build() && !all.count("WINEDEBUG")) all["WINEDEBUG"] = "-all";
  return all;
}

#ifndef ZR90_DEFAULT_TOOLS_DIR
#define ZR90_DEFAULT_TOOLS_DIR "."
#endif
#ifndef ZR90_DEFAULT_SIM
#define ZR90_DEFAULT_SIM "./zr90sim"
#endif

// ZR90_WINDOWS_BIN_DIR selects the Windows programs in that folder, run by Wine.
std::string windows_bin_dir() { return env_or("ZR90_WINDOWS_BIN_DIR", ""); }

std::string runner() {
  return env_or("ZR90_RUNNER", windows_bin_dir().empty() ? "" : "/usr/lib/wine/wine64");
}

std::vector<std::string> command_line(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  std::string runner = testsupport::runner();
  if (!runner.empty()) argv.push_back(runner);
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

enum class Role { tool, simulator };

// Starts a process with pipes on its standard input and output; standard error
// goes to a pipe of its own when stderr_fd is given, else to /dev/null unless
// ZR90_TEST_STDERR is set.
pid_t spawn(const std::vector<std::string>& argv, const Env& env, int& stdin_fd, int& stdout_fd,
            Role role = Role::tool, int* stderr_fd = nullptr) {
  int in[2], out[2], err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return -1;
  if (stderr_fd != nullptr && pipe2(err, O_CLOEXEC) != 0) return -1;
  std::vector<std::string> env_strings;
  for (const auto& [k, v] : full_environment(env)) env_strings.push_back(k + "=" + v);
  std::vector<char*> cargv, cenv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const auto& e : env_strings) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);
  bool keep_stderr = std::getenv("ZR90_TEST_STDERR") != nullptr;
  const bool under_wine = !runner().empty() && argv.front() == runner();

  pid_t pid = fork();
  if (pid == 0) {
    // Wine maps the Windows shared user data at a fixed address; with a randomised
    // layout something of Linux's own lands there now and then and the program ends
    // at once with exit 1 ("failed to map the shared user data"), about one start in
    // a few hundred. A fixed layout gives Wine the address every time.
    if (under_wine) personality(ADDR_NO_RANDOMIZE);
    if (role == Role::simulator) {
      // The simulator stands in for hardware, which answers at once; the tools give
      // a cookie probe 50 ms. Behind CPU hogs of equal rank a woken simulator can
      // wait longer than that, so it gets a scheduling group of its own (a session:
      // its own autogroup) and, where the system allows it, a better nice value.
      setsid();
      setpriority(PRIO_PROCESS, 0, -10);
    } else {
      setpgid(0, 0);
    }
    dup2(in[0], 0);
    dup2(out[1], 1);
    if (err[1] >= 0) {
      dup2(err[1], 2);
    } else if (!keep_stderr) {
      int null_fd = open("/dev/null", O_WRONLY);
      if (null_fd >= 0) dup2(null_fd, 2);
    }
    signal(SIGINT, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    execve(cargv[0], cargv.data(), cenv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (err[1] >= 0) close(err[1]);
  if (pid < 0) {
    close(in[1]);
    close(out[0]);
    if (err[0] >= 0) close(err[0]);
    return -1;
  }
  stdin_fd = in[1];
  stdout_fd = out[0];
  if (stderr_fd != nullptr) *stderr_fd = err[0];
  return pid;
}

// Reads what is available into out until the pipe closes or the time runs out.
// True when the pipe closed.
bool read_until_closed(int fd, std::string& out, Clock::time_point deadline) {
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    out.append(buf, static_cast<std::size_t>(n));
  }
}

// Both pipes read as their data comes, so that neither fills while the other is
// waited on.
void read_both_until_closed(int out_fd, int err_fd, std::string& out, std::string& err, Clock::time_point deadline) {
  bool out_open = true, err_open = true;
  char buf[4096];
  while (out_open || err_open) {
    pollfd p[2] = {{out_open ? out_fd : -1, POLLIN, 0}, {err_open ? err_fd : -1, POLLIN, 0}};
    int ready = poll(p, 2, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    for (int i = 0; i < 2; ++i) {
      if (p[i].revents == 0) continue;
      ssize_t n = read(p[i].fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        (i == 0 ? out_open : err_open) = false;
        continue;
      }
      (i == 0 ? out : err).append(buf, static_cast<std::size_t>(n));
    }
  }
}

// Waits in poll on a process descriptor, which becomes readable when the process ends.
int wait_exit(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  int pid_fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  bool ended = false;
  if (pid_fd >= 0) {
    for (;;) {
      pollfd p{pid_fd, POLLIN, 0};
      int ready = poll(&p, 1, remaining_ms(deadline));
      if (ready < 0 && errno == EINTR) continue;
      ended = ready > 0;
      break;
    }
    close(pid_fd);
  } else {
    // A kernel without process descriptors (before 5.3): look again every few
    // milliseconds, sleeping in between.
    while (!(ended = waitpid(pid, &status, WNOHANG) == pid) && Clock::now() < deadline) usleep(2000);
    if (ended) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  if (!ended) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string fold_crlf(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

void write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

std::vector<std::string> RunResult::lines() const {
  std::vector<std::string> result;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) result.push_back(line);
  return result;
}

bool running_windows_build() { return !windows_bin_dir().empty(); }

int wait_exit_code(pid_t pid, int timeout_ms) {
  return wait_exit(pid, Clock::now() + std::chrono::milliseconds(timeout_ms));
}

std::string tool_path(const std::string& tool) {
  if (!tool.empty() && tool.front() == '/') return tool;  // a program of the system's
  if (running_windows_build()) return windows_bin_dir() + "/" + tool + ".exe";
  return env_or("ZR90_TOOLS_DIR", ZR90_DEFAULT_TOOLS_DIR) + "/" + tool;
}

RunResult run_tool(const std::string& tool, const std::vector<std::string>& args, const Env& env,
                   const std::string& stdin_data, int timeout_ms) {
  signal(SIGPIPE, SIG_IGN);
  RunResult result;
  int in_fd = -1, out_fd = -1, err_fd = -1;
  pid_t pid = spawn(command_line(tool_path(tool), args), env, in_fd, out_fd, Role::tool, &err_fd);
  if (pid < 0) return result;
  write_all(in_fd, stdin_data);
  close(in_fd);
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  read_both_until_closed(out_fd, err_fd, result.out, result.err, deadline);
  close(out_fd);
  close(err_fd);
  result.exit_code = wait_exit(pid, deadline);
  result.out = fold_crlf(result.out);
  result.err = fold_crlf(result.err);
  return result;
}

ToolProcess::ToolProcess(const std::string& tool, const std::vector<std::string>& args, const Env& env) {
  signal(SIGPIPE, SIG_IGN);
  pid_ = spawn(command_line(tool_path(tool), args), env, stdin_fd_, stdout_fd_);
}

ToolProcess::~ToolProcess() {
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stdin_fd_ >= 0) close(stdin_fd_);
  if (stdout_fd_ >= 0) close(stdout_fd_);
}

void ToolProcess::drain(int timeout_ms) {
  if (stdout_fd_ < 0) return;
  char buf[4096];
  pollfd p{stdout_fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return;
  ssize_t n = read(stdout_fd_, buf, sizeof buf);
  if (n > 0) out_.append(buf, static_cast<std::size_t>(n));
  if (n == 0) {
    close(stdout_fd_);
    stdout_fd_ = -1;
  }
}

bool ToolProcess::wait_for_lines(std::size_t n, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    std::size_t count = 0;
    for (char c : out_) count += c == '\n';
    if (count >= n) return true;
    if (stdout_fd_ < 0 || Clock::now() >= deadline) return false;
    drain(remaining_ms(deadline));
  }
}

void ToolProcess::write_stdin(const std::string& bytes) {
  if (stdin_fd_ >= 0) write_all(stdin_fd_, bytes);
}

void ToolProcess::close_stdin() {
  if (stdin_fd_ >= 0) close(stdin_fd_);
  stdin_fd_ = -1;
}

void ToolProcess::interrupt(int signal_number) {
  if (pid_ > 0) kill(pid_, signal_number);
}

std::string ToolProcess::output_so_far() { return fold_crlf(out_); }

RunResult ToolProcess::finish(int timeout_ms) {
  RunResult result;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (stdout_fd_ >= 0) {
    read_until_closed(stdout_fd_, out_, deadline);
    close(stdout_fd_);
    stdout_fd_ = -1;
  }
  result.exit_code = pid_ > 0 ? wait_exit(pid_, deadline) : -1;
  pid_ = -1;
  result.out = fold_crlf(out_);
  return result;
}

std::string simulator_path() { return env_or("ZR90_SIM", ZR90_DEFAULT_SIM); }

Simulator::Simulator(const std::vector<std::string>& args, int timeout_ms) {
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> argv{simulator_path()};
  argv.insert(argv.end(), args.begin(), args.end());
  int in_fd = -1;
  // The simulator is a Linux program even when the tools under test are Windows ones.
  Env env;
  pid_ = spawn(argv, env, in_fd, stdout_fd_, Role::simulator);
  if (pid_ < 0) return;
  close(in_fd);
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string out;
  char c;
  while (remaining_ms(deadline) > 0) {
    pollfd p{stdout_fd_, POLLIN, 0};
    if (poll(&p, 1, remaining_ms(deadline)) <= 0) break;
    if (read(stdout_fd_, &c, 1) != 1) break;
    if (c != '\n') {
      out += c;
      continue;
    }
    if (out.rfind("ready ", 0) == 0) {
      ready_ = out.substr(6);
      return;
    }
    out.clear();
  }
}

bool Simulator::settle(int timeout_ms) {
  if (pid_ <= 0 || stdout_fd_ < 0) return false;
  if (kill(pid_, SIGUSR1) != 0) return false;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  char buf[256];
  for (;;) {
    // Lines other than the answer are kept for stop().
    for (std::size_t end; (end = partial_line_.find('\n')) != std::string::npos;) {
      std::string line = partial_line_.substr(0, end);
      partial_line_.erase(0, end + 1);
      if (line == "idle") return true;
      rest_ += line + "\n";
    }
    pollfd p{stdout_fd_, POLLIN, 0};
    int ready = poll(&p, 1, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = read(stdout_fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    partial_line_.append(buf, static_cast<std::size_t>(n));
  }
}

std::string Simulator::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    auto deadline = Clock::now() + std::chrono::milliseconds(5000);
    std::string tail;
    if (stdout_fd_ >= 0) read_until_closed(stdout_fd_, tail, deadline);
    wait_exit(pid_, deadline);
    pid_ = -1;
    std::istringstream lines(partial_line_ + tail);
    partial_line_.clear();
    for (std::string line; std::getline(lines, line);)
      if (line != "idle") rest_ += line + "\n";
  }
  if (stdout_fd_ >= 0) close(stdout_fd_);
  stdout_fd_ = -1;
  return rest_;
}

Simulator::~Simulator() { stop(); }

Env com_port_env(int n, const std::string& pty_path) {
  std::string port = "COM" + std::to_string(n);
  Env env{{"COMPORT", port}, {"ZR90_" + port, pty_path}};
  if (running_windows_build()) {
    std::string prefix = env_or("WINEPREFIX", env_or("HOME", "/root") + "/.wine");
    std::string link = prefix + "/dosdevices/com" + std::to_string(n);
    unlink(link.c_str());
    if (symlink(pty_path.c_str(), link.c_str()) != 0) env["ZR90_TEST_LINK_FAILED"] = link;
  }
  return env;
}

int unique_com_number() {
  static std::atomic<unsigned> counter{0};
  return 10 + static_cast<int>((static_cast<unsigned>(getpid()) * 31u + counter++) % 240u);
}

std::string unique_loopback_address() {
  // Spread over 127.0.x.y by process id and a counter, so that tests running in
  // parallel processes do not meet on one address.
  static std::atomic<unsigned> counter{0};
  unsigned n = (static_cast<unsigned>(getpid()) * 7919u + counter++ * 104729u) % (250u * 250u);
  return "127.0." + std::to_string(1 + n / 250) + "." + std::to_string(2 + n % 250);
}

// Plain scanning, not a regular expression: a repeat-mode trace runs to many
// thousands of lines and is read again at every change while a test waits on it.
std::string wire_line(const std::string& line) {
  std::size_t at = 0;
  while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
  const bool stamped = at > 0 && line.size() > at + 6 && line[at] == '.' && line[at + 4] == ' ' &&
                       (line[at + 5] == '>' || line[at + 5] == '<');
  if (!stamped) return line;
  std::string wire = line.substr(at + 5);
  const std::size_t text = wire.find(" \"");
  return text == std::string::npos ? wire : wire.substr(0, text);
}

std::string wire_text(const std::string& text) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      out += text.substr(start);  // a line still being written stays as it is
      break;
    }
    out += wire_line(text.substr(start, end - start)) + "\n";
    start = end + 1;
  }
  return out;
}

std::string temp_path(const std::string& stem) {
  static std::atomic<unsigned> counter{0};
  std::string dir = env_or("TMPDIR", "/tmp");
  return dir + "/zr90-" + stem + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool wait_for_file(const std::string& path, const std::function<bool(const std::string&)>& done,
                   int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watch < 0) return false;
  // Watched before the first look, so that no write between the two goes unseen.
  if (inotify_add_watch(watch, path.c_str(), IN_MODIFY | IN_CLOSE_WRITE) < 0) {
    close(watch);
    return false;
  }
  bool result = false;
  for (;;) {
    if (done(read_file(path))) {
      result = true;
      break;
    }
    pollfd p{watch, POLLIN, 0};
    int ready = poll(&p, 1, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char events[4096];
    while (read(watch, events, sizeof events) > 0) {
    }
  }
  close(watch);
  return result;
}

}  // namespace testsupport
