#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "drive/atomic_file.h"
#include "platform/os_error.h"

namespace drive::os_file {

namespace {

core::Failure os_failure(int code) { return core::fail(core::FailureKind::config, platform::os_error_text(code)); }

// The descriptor closed on every way out; a failed close is seen by close_checked.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  // Data that NFS or a full disk refuses may show only here.
  bool close_checked() { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_;
};

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t done = ::write(fd, text.data(), text.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(done));
  }
  return true;
}

core::Status fill(Descriptor& file, std::string_view text, std::optional<std::filesystem::perms> permissions) {
  // Set before the data reaches the disk, so that the file is never there with other permissions.
  if (permissions && ::fchmod(file.get(), static_cast<mode_t>(*permissions & std::filesystem::perms::mask)) != 0) {
    return os_failure(errno);
  }
  if (!write_all(file.get(), text) || ::fsync(file.get()) != 0 || !file.close_checked()) return os_failure(errno);
  return {};
}

}  // namespace

core::Result<Created> write_new(const std::filesystem::path& path, std::string_view text,
                                std::optional<std::filesystem::perms> permissions) {
  Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (file.get() < 0) {
    if (errno == EEXIST) return Created::name_taken;
    return os_failure(errno);
  }
  if (core::Status filled = fill(file, text, permissions); !filled) {
    ::unlink(path.c_str());
    return filled.error();
  }
  return Created::written;
}

core::Status write_existing(const std::filesystem::path& path, std::string_view text) {
  Descriptor file(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (file.get() < 0 || !write_all(file.get(), text) || !file.close_checked()) return os_failure(errno);
  return {};
}

core::Status may_write(const std::filesystem::path& path) {
  if (::access(path.c_str(), W_OK) != 0) return os_failure(errno);
  return {};
}

core::Status move_over(const std::filesystem::path& path, const std::filesystem::path& target) {
  if (::rename(path.c_str(), target.c_str()) != 0) return os_failure(errno);
  // The new name is on the disk only once the directory is. A directory that cannot
  // be opened for reading leaves that to the system; one that cannot be flushed
  // (EINVAL: the file system has no such thing) too.
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() >= 0 && ::fsync(directory.get()) != 0 && errno != EINVAL) return os_failure(errno);
  return {};
}

}  // namespace drive::os_file
