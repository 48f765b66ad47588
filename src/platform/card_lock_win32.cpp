#include <cstdint>

#include "platform/card_lock.h"
#include "platform/os_error.h"
#include "platform/win32.h"

namespace platform {

namespace {

// A named mutex, in the namespace every session shares where the system allows it.
// Beside it, a small named section holds a count of the times the lock was let go,
// which tells a holder whether anyone else held it in between.
class MutexCardLock final : public CardLock {
 public:
  MutexCardLock(HANDLE mutex, HANDLE section, uint64_t* count)
      : mutex_(mutex), section_(section), count_(count) {}
  ~MutexCardLock() override {
    if (count_ != nullptr) UnmapViewOfFile(count_);
    if (section_ != nullptr) CloseHandle(section_);
    CloseHandle(mutex_);
  }

  core::Result<bool> acquire(core::Waits waits) override {
    const int64_t deadline = waits.now_ms() + WAIT_LIMIT_MS;
    for (;;) {
      if (waits.cancelled()) return core::fail(core::FailureKind::interrupted, "Interrupted");
      const int left = waits.remaining_ms(deadline);
      if (left == 0) {
        return core::fail(core::FailureKind::timeout, "the card is in use: another program has held it for " +
                                                          std::to_string(WAIT_LIMIT_MS / 1000) + " s");
      }
      const DWORD waited = WaitForSingleObject(mutex_, static_cast<DWORD>(core::wait_slice(left)));
      // A holder that died: what it left on the card is not known.
      if (waited == WAIT_ABANDONED) return true;
      if (waited == WAIT_OBJECT_0) break;
      if (waited != WAIT_TIMEOUT) return core::fail(core::FailureKind::open, os_error_text(GetLastError()));
    }
    return count_ == nullptr || !known_ || *count_ != last_count_;
  }

  void release() override {
    if (count_ != nullptr) {
      last_count_ = *count_ + 1;
      *count_ = last_count_;
      known_ = true;
    }
    ReleaseMutex(mutex_);
  }

 private:
  HANDLE mutex_;
  HANDLE section_;
  uint64_t* count_;
  bool known_ = false;
  uint64_t last_count_ = 0;
};

std::wstring widened(const std::string& text) {
  return std::wstring(text.begin(), text.end());  // lock_name() gives ASCII only
}

// The count must live in the mutex's namespace: a count that another session's
// holders do not see would hide their turns.
HANDLE create_mutex(const std::string& name, std::string& space) {
  for (const char* candidate : {"Global\\", "Local\\"}) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, widened(candidate + name).c_str());
    if (mutex == nullptr) continue;
    space = candidate;
    return mutex;
  }
  return nullptr;
}

}  // namespace

core::Result<std::unique_ptr<CardLock>> open_card_lock(const std::string& key) {
  const std::string name = lock_name(key);
  std::string space;
  HANDLE mutex = create_mutex(name, space);
  if (mutex == nullptr) {
    return core::fail(core::FailureKind::open, "cannot lock the card: " + name + ": " + os_error_text(GetLastError()));
  }
  // Without the section every acquire counts as one after another holder: correct,
  // one exchange dearer.
  HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(uint64_t),
                                      widened(space + name + "-count").c_str());
  uint64_t* count = nullptr;
  if (section != nullptr) {
    count = static_cast<uint64_t*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(uint64_t)));
  }
  return std::unique_ptr<CardLock>(std::make_unique<MutexCardLock>(mutex, section, count));
}

}  // namespace platform
