#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#endif
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "core/numbers.h"

#include "platform/os_error.h"
#include "platform/serial_port.h"
#include "platform/serial_rate_posix.h"

namespace platform {
namespace {

// The device of a port: the path given, or the n-th built-in UART for "COMn" (any
// letter case, n a decimal number from 1).
bool device_path(const std::string& name, const std::string& device, std::string& path) {
  if (!device.empty()) {
    path = device;
    return true;
  }
  const std::optional<core::ComPort> port = core::parse_comport(name);
  if (!port || !port->plain) return false;
  path = "/dev/ttyS" + std::to_string(port->number - 1);
  return true;
}

// Unix98 pseudo-terminal slaves (/dev/pts/N) have majors 136 to 143.
bool is_pseudo_terminal(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned int device_major = major(info.st_rdev);
  return device_major >= 136 && device_major <= 143;
}

// Which queues a purge empties. A real port's output queue holds only what this
// program has not sent yet. On a pseudo-terminal it is the peer's unread input,
// which includes the last bytes the previous program sent before it ended: flushing
// it would destroy them, so there only the input is discarded.
int purge_queues(int fd) { return is_pseudo_terminal(fd) ? TCIFLUSH : TCIOFLUSH; }

// "NAME, process PID" of the program that holds the lock on the device, from the
// system's table of locks; empty where it does not tell.
std::string lock_holder(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  char wanted[64];
  std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, advisory, mode, pid, file;
    if (!(fields >> number >> kind >> advisory >> mode >> pid >> file) || kind != "FLOCK" || file != wanted) continue;
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return (name.empty() ? "" : name + ", ") + "process " + pid;
  }
  return {};
}

class PosixSerialDevice final : public SerialDevice {
 public:
  explicit PosixSerialDevice(core::Waits waits) : waits_(waits) {}

  // A port may be a terminal someone goes on using (a port named /dev/tty): it gets
  // its settings back as they were before the open.
  ~PosixSerialDevice() override {
    if (fd_ < 0) return;
    tcsetattr(fd_, TCSANOW, &original_);
    // The exclusive flag outlives this descriptor while anyone else (a simulator
    // keeping its pseudo-terminal alive) holds the line: give it back.
    ioctl(fd_, TIOCNXCL);
    close(fd_);
  }

  bool open(const std::string& name, const std::string& device) override {
    std::string path;
    if (fd_ >= 0 || !device_path(name, device, path)) {
      errno_ = fd_ >= 0 ? EBUSY : ENOENT;
      return false;
    }
    path_ = path;
    holder_.clear();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // Another program's exclusive flag refuses the open itself.
    if (fd < 0) return errno == EBUSY ? held_by_another(path) : fail();
    // TIOCEXCL alone does not stop root; the lock stops every other opener that asks.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(fd);
      return error == EWOULDBLOCK ? held_by_another(path) : fail(error);
    }
    if (ioctl(fd, TIOCEXCL) != 0 || tcgetattr(fd, &original_) != 0) {
      errno_ = errno;
      close(fd);
      return false;
    }
    if (!make_raw(fd)) {
      errno_ = errno;
      tcsetattr(fd, TCSANOW, &original_);
      ioctl(fd, TIOCNXCL);
      close(fd);
      return false;
    }
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);  // a pseudo-terminal has no modem lines
    fd_ = fd;
    errno_ = 0;
    return true;
  }

  bool configure(int32_t rate) override {
    if (fd_ < 0) return fail(EBADF);
    if (!posix_serial::set_line_rate(fd_, rate)) return fail();
    return true;
  }

  std::size_t bytes_waiting() override {
    int count = 0;
    if (fd_ < 0 || ioctl(fd_, FIONREAD, &count) != 0 || count < 0) return 0;
    return static_cast<std::size_t>(count);
  }

  bool wait_readable(int timeout_ms) override {
    if (fd_ < 0) return false;
    const int64_t deadline = waits_.now_ms() + (timeout_ms > 0 ? timeout_ms : 0);
    for (;;) {
      if (waits_.cancelled()) return false;
      pollfd p{fd_, POLLIN, 0};
      const int left = waits_.remaining_ms(deadline);
      const int ready = poll(&p, 1, core::wait_slice(left));
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0 && left > core::WAIT_SLICE_MS) continue;
      if (ready < 0) {
        errno_ = errno;
        waits_.sleep_ms(waits_.remaining_ms(deadline));
        return false;
      }
      if (ready == 0) return false;
      if (bytes_waiting() > 0) return true;
      // A hung-up line (the far end of a pseudo-terminal closed) reports readiness
      // for ever with nothing to read: treat it as the silence it is.
      waits_.sleep_ms(waits_.remaining_ms(deadline));
      return false;
    }
  }

  std::size_t read_waiting(uint8_t* buffer, std::size_t max) override {
    if (fd_ < 0 || max == 0) return 0;
    for (;;) {
      const ssize_t got = read(fd_, buffer, max);
      if (got > 0) return static_cast<std::size_t>(got);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) errno_ = errno;
      return 0;
    }
  }

  SerialError write_all(const uint8_t* data, std::size_t size, int timeout_ms) override {
    if (fd_ < 0) {
      errno_ = EBADF;
      return SerialError::failed;
    }
    const int64_t deadline = waits_.now_ms() + timeout_ms;
    std::size_t sent = 0;
    while (sent < size) {
      const ssize_t done = write(fd_, data + sent, size - sent);
      if (done > 0) {
        sent += static_cast<std::size_t>(done);
        continue;
      }
      if (done < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        errno_ = errno;
        return SerialError::failed;
      }
      pollfd p{fd_, POLLOUT, 0};
      const int left = waits_.cancelled() ? 0 : waits_.remaining_ms(deadline);
      const int ready = left > 0 ? poll(&p, 1, core::wait_slice(left)) : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0 && left > core::WAIT_SLICE_MS) continue;
      if (ready <= 0) {
        errno_ = ready == 0 ? ETIMEDOUT : errno;
        tcflush(fd_, TCOFLUSH);  // abandon what the line could not take in time
        return ready == 0 ? SerialError::timeout : SerialError::failed;
      }
    }
    return SerialError::none;
  }

  void purge() override {
    if (fd_ >= 0) tcflush(fd_, purge_queues(fd_));
  }

  bool set_rts() override {
    if (fd_ < 0) return fail(EBADF);
    int line = TIOCM_RTS;
    if (ioctl(fd_, TIOCMBIS, &line) == 0 || errno == ENOTTY || errno == EINVAL) return true;
    return fail();
  }

  std::string last_error_text() const override {
    if (!in_use()) return os_error_text(errno_);
    return "in use by another program" + (holder_.empty() ? std::string() : " (" + holder_ + ")");
  }
  std::string path() const override { return path_; }
  bool in_use() const override { return errno_ == EWOULDBLOCK || errno_ == EBUSY; }

 private:
  bool held_by_another(const std::string& path) {
    holder_ = lock_holder(path);
    return fail(EWOULDBLOCK);
  }

  bool fail(int error = errno) {
    errno_ = error;
    return false;
  }

  // Raw 8N1 with the receiver on, modem status ignored and no flow control, and
  // reads that never block: waiting is done in poll() with its own limit.
  static bool make_raw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    tio.c_iflag |= IGNBRK;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
#ifdef CRTSCTS
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
  }

  core::Waits waits_;
  int fd_ = -1;
  int errno_ = 0;
  std::string path_;
  std::string holder_;  // of the lock that refused the last open
  // The terminal settings before the open, given back at the close.
  termios original_{};
};

}  // namespace

std::unique_ptr<SerialDevice> make_serial_device(core::Waits waits) {
  return std::make_unique<PosixSerialDevice>(waits);
}

}  // namespace platform
