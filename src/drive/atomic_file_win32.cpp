#include "drive/atomic_file.h"
#include "platform/os_error.h"
#include "platform/win32.h"

namespace drive::os_file {

namespace {

core::Failure os_failure(DWORD code) {
  return core::fail(core::FailureKind::config, platform::os_error_text(static_cast<int>(code)));
}

// The handle closed on every way out; a failed close is seen by close_checked.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return handle_; }
  bool close_checked() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

bool write_all(HANDLE file, std::string_view text) {
  while (!text.empty()) {
    const DWORD chunk = text.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(text.size());
    DWORD done = 0;
    if (!WriteFile(file, text.data(), chunk, &done, nullptr) || done == 0) return false;
    text.remove_prefix(done);
  }
  return true;
}

}  // namespace

// The permissions are those of the folder: the replaced file's own security settings
// stay with its name (ReplaceFileW in move_over).
core::Result<Created> write_new(const std::filesystem::path& path, std::string_view text,
                                std::optional<std::filesystem::perms>) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return Created::name_taken;
    return os_failure(error);
  }
  const bool flushed = write_all(file.get(), text) && FlushFileBuffers(file.get());
  const DWORD error = flushed ? ERROR_SUCCESS : GetLastError();
  const bool closed = file.close_checked();
  if (!flushed || !closed) {
    const DWORD reason = flushed ? GetLastError() : error;
    DeleteFileW(path.c_str());
    return os_failure(reason);
  }
  return Created::written;
}

core::Status write_existing(const std::filesystem::path& path, std::string_view text) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return os_failure(GetLastError());
  if (!write_all(file.get(), text)) return os_failure(GetLastError());
  if (!file.close_checked()) return os_failure(GetLastError());
  return {};
}

// Windows answers for its access rights only when the file is opened: a folder that
// exists is taken as one that may be written.
core::Status may_write(const std::filesystem::path& path) {
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return os_failure(GetLastError());
  return {};
}

core::Status move_over(const std::filesystem::path& path, const std::filesystem::path& target) {
  if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (!MoveFileExW(path.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return os_failure(GetLastError());
    return {};
  }
  // Full paths: Wine's ReplaceFileW fails on relative ones ("Directory name invalid").
  std::error_code unresolved;
  const std::filesystem::path replaced = std::filesystem::absolute(target, unresolved);
  const std::filesystem::path replacement = std::filesystem::absolute(path, unresolved);
  if (unresolved) return os_failure(static_cast<DWORD>(unresolved.value()));
  // Unlike a rename, this keeps the replaced file's security settings and attributes.
  if (!ReplaceFileW(replaced.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                    nullptr)) {
    return os_failure(GetLastError());
  }
  return {};
}

}  // namespace drive::os_file
