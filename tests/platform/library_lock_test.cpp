#include "platform/library_lock.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

class LibraryLockTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    had_runtime_ = old != nullptr;
    if (had_runtime_) saved_runtime_ = old;
    fs::create_directories(dir() / "run");
    ::setenv("XDG_RUNTIME_DIR", (dir() / "run").c_str(), 1);
  }
  void TearDown() override {
    if (had_runtime_) {
      ::setenv("XDG_RUNTIME_DIR", saved_runtime_.c_str(), 1);
    } else {
      ::unsetenv("XDG_RUNTIME_DIR");
    }
    TempDirTest::TearDown();
  }
  bool had_runtime_ = false;
  std::string saved_runtime_;
};

TEST_F(LibraryLockTest, ASecondHolderOfTheSameLibraryIsRefused) {
  fs::create_directories(dir() / "music/a/x");
  fs::create_directories(dir() / "music/b");
  fs::create_directory_symlink(dir() / "music", dir() / "link");
  struct {
    const char* held;
    const char* wanted;
    LibraryLock::Status expected;
  } kCases[] = {
      {"music", "music", LibraryLock::Status::kBusy},
      {"music", "music/", LibraryLock::Status::kBusy},
      {"music", "link", LibraryLock::Status::kBusy},  // the same folder by another name
      {"music", "music/a/../a/..", LibraryLock::Status::kBusy},
      {"music", "music/a", LibraryLock::Status::kBusy},     // inside the held one
      {"music/a", "music", LibraryLock::Status::kBusy},     // around the held one
      {"music/a", "link/a/x", LibraryLock::Status::kBusy},  // deeper, through the link
      {"music/a", "music/b", LibraryLock::Status::kTaken},  // siblings go together
      {"music/a/x", "music/b", LibraryLock::Status::kTaken},
      {"music", "elsewhere", LibraryLock::Status::kTaken},  // not made yet
  };
  for (const auto& c : kCases) {
    LibraryLock held;
    std::string error;
    ASSERT_EQ(held.Take(dir() / c.held, &error), LibraryLock::Status::kTaken) << error;
    LibraryLock second;
    error.clear();
    EXPECT_EQ(second.Take(dir() / c.wanted, &error), c.expected)
        << c.held << " / " << c.wanted << ": " << error;
    EXPECT_EQ(second.held(), c.expected == LibraryLock::Status::kTaken);
    if (c.expected == LibraryLock::Status::kBusy) {
      EXPECT_NE(error.find("another run or restore is working on"), std::string::npos) << error;
    }
    // Released, the library is free again.
    held.Release();
    second.Release();
    EXPECT_EQ(second.Take(dir() / c.wanted, &error), LibraryLock::Status::kTaken) << c.wanted;
  }
}

TEST_F(LibraryLockTest, LockFilesGoToTheRuntimeFolderElseTheCache) {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const std::string saved_cache = cache != nullptr ? cache : "";
  EXPECT_EQ(LibraryLock::LockFolder(), dir() / "run/tarvel");
  ::setenv("XDG_RUNTIME_DIR", (dir() / "missing").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (dir() / "cache").c_str(), 1);
  EXPECT_EQ(LibraryLock::LockFolder(), dir() / "cache/tarvel");
  ::setenv("XDG_RUNTIME_DIR", "relative", 1);
  ::unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(LibraryLock::LockFolder(), fs::path(std::getenv("HOME")) / ".cache/tarvel");

  LibraryLock lock;
  EXPECT_EQ(lock.Take(dir()), LibraryLock::Status::kTaken);
  EXPECT_TRUE(fs::is_directory(fs::path(std::getenv("HOME")) / ".cache/tarvel"));
  if (cache != nullptr) ::setenv("XDG_CACHE_HOME", saved_cache.c_str(), 1);
}

TEST_F(LibraryLockTest, AnUnusableLockFolderFails) {
  // A file where the lock folder should be.
  testing::WriteBytes(dir() / "run/tarvel", "x");
  LibraryLock lock;
  std::string error;
  EXPECT_EQ(lock.Take(dir() / "music", &error), LibraryLock::Status::kFailed);
  EXPECT_FALSE(lock.held());
  EXPECT_NE(error.find("lock"), std::string::npos) << error;
}

}  // namespace
}  // namespace tarvel
