#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "platform/card_lock.h"
#include "platform/os_error.h"

namespace platform {

namespace {

// A folder every user's programs can create files in, so that two users' programs
// coordinate too; /run/lock is kept in memory and emptied at boot.
const char* lock_folder() { return access("/run/lock", W_OK | X_OK) == 0 ? "/run/lock" : "/tmp"; }

core::Failure lock_failure(const std::string& path, const std::string& why) {
  return core::fail(core::FailureKind::open, "cannot lock the card: " + path + ": " + why);
}

// An advisory lock on a file of its own. The file holds a count of the times the
// lock was let go, which tells a holder whether anyone else held it in between.
class FileCardLock final : public CardLock {
 public:
  FileCardLock(int fd, bool writable) : fd_(fd), writable_(writable) {}
  ~FileCardLock() override { close(fd_); }

  core::Result<bool> acquire(core::Waits waits) override {
    const int64_t deadline = waits.now_ms() + WAIT_LIMIT_MS;
    // The lock is held for a few exchanges: a short pause between tries costs
    // little, and flock cannot be given a time limit.
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) return lock_error(errno);
      if (waits.cancelled()) return core::fail(core::FailureKind::interrupted, "Interrupted");
      if (waits.remaining_ms(deadline) == 0) {
        return core::fail(core::FailureKind::timeout, "the card is in use: another program has held it for " +
                                                          std::to_string(WAIT_LIMIT_MS / 1000) + " s");
      }
      (void)waits.sleep_ms(1);
    }
    const uint64_t count = released_count();
    const bool others = !writable_ || !known_ || count != last_count_;
    return others;
  }

  void release() override {
    if (writable_) {
      last_count_ = released_count() + 1;
      known_ = pwrite(fd_, &last_count_, sizeof last_count_, 0) == static_cast<ssize_t>(sizeof last_count_);
    }
    flock(fd_, LOCK_UN);
  }

 private:
  uint64_t released_count() const {
    uint64_t count = 0;
    if (pread(fd_, &count, sizeof count, 0) != static_cast<ssize_t>(sizeof count)) return 0;
    return count;
  }

  core::Failure lock_error(int code) const { return core::fail(core::FailureKind::open, os_error_text(code)); }

  int fd_;
  bool writable_;
  bool known_ = false;  // last_count_ is what this lock wrote when it let go
  uint64_t last_count_ = 0;
};

// Opens the file without following a symbolic link and without truncating it;
// one that another user created may be readable only, which still locks.
int open_lock_file(const std::string& path, bool& writable) {
  writable = true;
  const int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | flags, 0666);
  // The creator's umask would keep other users out of a lock they must share.
  if (fd >= 0) {
    (void)fchmod(fd, 0666);
    return fd;
  }
  if (errno != EEXIST) return -1;
  fd = open(path.c_str(), O_RDWR | flags);
  if (fd >= 0 || errno != EACCES) return fd;
  writable = false;
  return open(path.c_str(), O_RDONLY | flags);
}

}  // namespace

core::Result<std::unique_ptr<CardLock>> open_card_lock(const std::string& key) {
  const std::string path = std::string(lock_folder()) + "/" + lock_name(key) + ".lock";
  bool writable = true;
  const int fd = open_lock_file(path, writable);
  if (fd < 0) return lock_failure(path, os_error_text(errno));
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return lock_failure(path, "not a regular file");
  }
  return std::unique_ptr<CardLock>(std::make_unique<FileCardLock>(fd, writable));
}

}  // namespace platform
