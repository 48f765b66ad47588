#include "pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

namespace {

std::string failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Where a link points; empty when path is no symbolic link.
std::string link_target(const std::string& path) {
  char target[4096];
  const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// A link this program leaves behind (a run that was killed) points to a
// pseudo-terminal; anything else at the path belongs to someone and stays.
bool replaceable(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  if (!S_ISLNK(info.st_mode)) return false;
  const std::string target = link_target(path);
  const std::string prefix = "/dev/pts/";
  if (target.size() <= prefix.size() || target.compare(0, prefix.size(), prefix) != 0) return false;
  return target.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

}  // namespace

Pty::Pty(const std::string& link_path) {
  if (!link_path.empty() && !replaceable(link_path)) {
    error_ = link_path + " exists and is not a link to a pseudo-terminal: left as it is";
    return;
  }
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) {
    error_ = failure("posix_openpt");
    return;
  }
  if (grantpt(master) != 0 || unlockpt(master) != 0) {
    error_ = failure("grantpt/unlockpt");
    close(master);
    return;
  }
  const char* name = ptsname(master);
  if (name == nullptr) {
    error_ = failure("ptsname");
    close(master);
    return;
  }
  slave_path_ = name;

  // Holding the slave open ourselves keeps the line up between tool runs and lets
  // us set raw mode before any tool sees it (no echo, no line discipline).
  int slave = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    error_ = failure("open slave");
    close(master);
    return;
  }
  termios tio{};
  if (tcgetattr(slave, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

  if (!link_path.empty()) {
    unlink(link_path.c_str());
    if (symlink(slave_path_.c_str(), link_path.c_str()) != 0) {
      error_ = failure("symlink");
      close(slave);
      close(master);
      return;
    }
    link_path_ = link_path;
  }
  master_ = master;
  slave_ = slave;
}

Pty::~Pty() {
  // Only while it is still ours: someone may have put something else there since.
  if (!link_path_.empty() && link_target(link_path_) == slave_path_) unlink(link_path_.c_str());
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

void Pty::release_exclusive() const {
  if (slave_ >= 0) ioctl(slave_, TIOCNXCL);
}

bool Pty::watch_flushes() const {
  int on = 1;
  return master_ >= 0 && ioctl(master_, TIOCPKT, &on) == 0;
}

}  // namespace sim
