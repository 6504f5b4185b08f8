#include "platform/library_lock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "platform/syscall_fault.h"
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
  // Taken on another library, a lock gives up the one it held.
  LibraryLock moving, other;
  ASSERT_EQ(moving.Take(dir() / "music/a"), LibraryLock::Status::kTaken);
  ASSERT_EQ(moving.Take(dir() / "music/b"), LibraryLock::Status::kTaken);
  EXPECT_EQ(other.Take(dir() / "music/a"), LibraryLock::Status::kTaken);
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
  // A folder not made yet cannot be locked itself: its lock file stands in.
  EXPECT_EQ(lock.Take(dir() / "not made yet"), LibraryLock::Status::kTaken);
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

// A file system that refuses every lock (a network file system without its
// lock service) fails the lock with the reason; the library is not busy.
TEST_F(LibraryLockTest, AFileSystemWithoutLocksFails) {
  fs::create_directories(dir() / "music");
  EXPECT_EXIT(
      {
        LibraryLock lock;
        std::string error;
        const bool failed = testing::FailSystemCall(SYS_flock, ENOLCK) &&
                            lock.Take(dir() / "music", &error) == LibraryLock::Status::kFailed &&
                            error.find("cannot lock") != std::string::npos;
        std::_Exit(failed ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// An interrupted call before the lock (here the links of the path, which
// cannot be read) leaves EINTR in errno; a lock that goes through at once
// must not take it for an interruption of its own and try again for ever.
TEST_F(LibraryLockTest, AnEarlierInterruptDoesNotHoldTheLockUp) {
  fs::create_directories(dir() / "music");
  EXPECT_EXIT(
      {
        ::alarm(10);
        LibraryLock lock;
        const bool taken = testing::FailSystemCall(SYS_readlink, EINTR) &&
                           testing::FailSystemCall(SYS_readlinkat, EINTR) &&
                           lock.Take(dir() / "music", nullptr) == LibraryLock::Status::kTaken;
        std::_Exit(taken ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// The same library reached through a bind mount of it: one folder, whatever
// path leads to it.
TEST_F(LibraryLockTest, ALibraryIsBusyThroughABindMountOfIt) {
  fs::create_directories(dir() / "music/a");
  fs::create_directories(dir() / "music/b");
  fs::create_directories(dir() / "bind");
  if (::mount((dir() / "music").c_str(), (dir() / "bind").c_str(), nullptr, MS_BIND, nullptr) !=
      0) {
    GTEST_SKIP() << "cannot bind-mount a folder here: " << std::strerror(errno);
  }
  struct Unmount {
    fs::path at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{dir() / "bind"};
  struct {
    const char* held;
    const char* wanted;
    LibraryLock::Status expected;
  } kCases[] = {
      {"music", "bind", LibraryLock::Status::kBusy},
      {"bind", "music", LibraryLock::Status::kBusy},
      {"music/a", "bind", LibraryLock::Status::kBusy},  // a folder inside, by the other path
      {"bind", "music/a", LibraryLock::Status::kBusy},
      {"music", "bind/b", LibraryLock::Status::kBusy},
      {"bind/a", "music/b", LibraryLock::Status::kTaken},  // siblings still go together
  };
  for (const auto& c : kCases) {
    LibraryLock held;
    std::string error;
    ASSERT_EQ(held.Take(dir() / c.held, &error), LibraryLock::Status::kTaken) << error;
    LibraryLock second;
    error.clear();
    EXPECT_EQ(second.Take(dir() / c.wanted, &error), c.expected)
        << c.held << " / " << c.wanted << ": " << error;
  }
}

// Runs `body` in a child process as the user nobody (with a lock folder of
// its own, as each user has) and gives back what it returns.
int AsAnotherUser(const fs::path& runtime, const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) _exit(99);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Another user's run on the same library: the lock is the folder's, not a
// file in one user's own folder.
TEST_F(LibraryLockTest, AnotherUsersRunOnTheLibraryIsExcluded) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can run a part of the test as another user";
  fs::create_directories(dir() / "music/a");
  fs::create_directories(dir() / "nobody-run");
  ASSERT_EQ(::chown((dir() / "nobody-run").c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(dir().c_str(), 0755), 0);
  struct {
    bool other_holds;  // else this process holds and the other user wants
    const char* held;
    const char* wanted;
    LibraryLock::Status expected;
  } kCases[] = {
      {false, "music", "music", LibraryLock::Status::kBusy},
      {false, "music", "music/a", LibraryLock::Status::kBusy},
      {false, "music/a", "music", LibraryLock::Status::kBusy},
      {true, "music", "music", LibraryLock::Status::kBusy},
      {true, "music/a", "music", LibraryLock::Status::kBusy},
      {false, "music/a", "music/b", LibraryLock::Status::kTaken},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.other_holds ? "other user holds " : "this user holds ") + c.held +
                 ", wants " + c.wanted);
    if (!c.other_holds) {
      LibraryLock held;
      ASSERT_EQ(held.Take(dir() / c.held), LibraryLock::Status::kTaken);
      const int got = AsAnotherUser(dir() / "nobody-run", [&] {
        LibraryLock second;
        return static_cast<int>(second.Take(dir() / c.wanted));
      });
      EXPECT_EQ(got, static_cast<int>(c.expected));
      continue;
    }
    // The other user takes the lock, says so through one pipe and keeps it
    // until the other pipe closes.
    int taken[2];
    int done[2];
    ASSERT_EQ(::pipe(taken), 0);
    ASSERT_EQ(::pipe(done), 0);
    LibraryLock::Status second_status = LibraryLock::Status::kFailed;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(taken[0]);
      ::close(done[1]);
      _exit(AsAnotherUser(dir() / "nobody-run", [&] {
        LibraryLock held;
        const char ok = held.Take(dir() / c.held) == LibraryLock::Status::kTaken ? 'y' : 'n';
        if (::write(taken[1], &ok, 1) != 1) return 1;
        char byte;
        while (::read(done[0], &byte, 1) > 0) {
        }
        return 0;
      }));
    }
    ::close(taken[1]);
    ::close(done[0]);
    char ok = 0;
    EXPECT_EQ(::read(taken[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    LibraryLock second;
    second_status = second.Take(dir() / c.wanted);
    ::close(done[1]);
    ::close(taken[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(second_status, c.expected);
  }
}

}  // namespace
}  // namespace tarvel
