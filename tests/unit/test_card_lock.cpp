// The per-card lock between programs: two holders exclude each other, a holder
// learns whether another one came in between, and the lock file is never a link.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/card_lock.h"
#include "support/manual_clock.h"

namespace {

// A key of this test run's own, so that no other run's lock is touched.
std::string test_key(const std::string& what) { return "test-" + std::to_string(getpid()) + "-" + what; }

std::string lock_path(const std::string& key) {
  const std::string folder = access("/run/lock", W_OK | X_OK) == 0 ? "/run/lock" : "/tmp";
  return folder + "/" + platform::lock_name(key) + ".lock";
}

std::unique_ptr<platform::CardLock> open_lock(const std::string& key) {
  core::Result<std::unique_ptr<platform::CardLock>> lock = platform::open_card_lock(key);
  EXPECT_TRUE(lock) << lock.error().text;
  return lock ? std::move(*lock) : nullptr;
}

TEST(CardLock, HoldersExcludeEachOtherAndLearnOfEachOthersTurns) {
  const std::string key = test_key("turns");
  std::unique_ptr<platform::CardLock> locks[] = {open_lock(key), open_lock(key)};
  ASSERT_TRUE(locks[0] && locks[1]);
  // Each step: who takes the lock, and whether it must learn that someone else
  // held it since its own last turn (its first turn always counts as such).
  struct Step {
    int holder;
    bool others;
  };
  const Step steps[] = {{0, true}, {0, false}, {1, true}, {1, false}, {0, true}, {1, true}};
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    platform::CardLock& holder = *locks[steps[i].holder];
    core::Result<bool> others = holder.acquire(testsupport::test_waits());
    ASSERT_TRUE(others) << others.error().text;
    EXPECT_EQ(*others, steps[i].others);
    // While it is held, the other one waits out its limit (on the test's clock).
    core::Result<bool> blocked = locks[1 - steps[i].holder]->acquire(testsupport::test_waits());
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().kind, core::FailureKind::timeout);
    EXPECT_NE(blocked.error().text.find("in use"), std::string::npos) << blocked.error().text;
    holder.release();
  }
  std::remove(lock_path(key).c_str());
}

TEST(CardLock, AWaitEndsWhenCancelled) {
  const std::string key = test_key("cancel");
  std::unique_ptr<platform::CardLock> holder = open_lock(key);
  std::unique_ptr<platform::CardLock> waiter = open_lock(key);
  ASSERT_TRUE(holder && waiter);
  ASSERT_TRUE(holder->acquire(testsupport::test_waits()));
  core::CancelToken cancel;
  cancel.cancel();
  core::Result<bool> waited = waiter->acquire({testsupport::test_clock(), cancel});
  ASSERT_FALSE(waited);
  EXPECT_EQ(waited.error().kind, core::FailureKind::interrupted);
  holder->release();
  std::remove(lock_path(key).c_str());
}

#ifndef _WIN32
// Someone else's symbolic link or folder in the shared lock folder is refused, and
// its target is left as it was.
TEST(CardLock, ALinkOrFolderAtTheLockPathIsRefused) {
  const std::string target = testing::TempDir() + "card-lock-target";
  std::FILE* file = std::fopen(target.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs("keep", file);
  std::fclose(file);
  for (const bool as_link : {true, false}) {
    const std::string key = test_key(as_link ? "link" : "folder");
    const std::string path = lock_path(key);
    ASSERT_EQ(as_link ? symlink(target.c_str(), path.c_str()) : mkdir(path.c_str(), 0700), 0) << path;
    core::Result<std::unique_ptr<platform::CardLock>> lock = platform::open_card_lock(key);
    EXPECT_FALSE(lock);
    if (!lock) {
      EXPECT_NE(lock.error().text.find(path), std::string::npos) << lock.error().text;
    }
    as_link ? unlink(path.c_str()) : rmdir(path.c_str());
  }
  file = std::fopen(target.c_str(), "r");
  char text[8] = {};
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, file), 4u);
  std::fclose(file);
  EXPECT_STREQ(text, "keep");
  std::remove(target.c_str());
}
#endif

}  // namespace
