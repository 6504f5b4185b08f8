#include "platform/name_folding.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>

#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/disk_ops.h"
#include "platform/library_folders.h"
#include "support/exfat_volume.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::WriteBytes;

TEST(NameFoldingTest, Utf8NamesFoldAsTheFolderDoes) {
  constexpr NameFolding kCase{true, false}, kWidth{false, true};
  struct {
    std::string_view a, b;
    NameFolding folding;
    bool one_name;
  } const kCases[] = {
      {"Song.MP3", "song.mp3", {}, false},
      {"Song.MP3", "song.mp3", kCase, true},
      {"Song.MP3", "song.mp3", kWidth, false},
      {"ＳＯＮＧ", "SONG", kWidth, true},
      {"ＳＯＮＧ", "song", kWidestFolding, true},
      {"\xFFSong", "\xFFsong", kCase, false},  // not UTF-8: its own key
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(FoldedName(c.a, c.folding) == FoldedName(c.b, c.folding), c.one_name)
        << c.a << " / " << c.b << " " << c.folding.letter_case << c.folding.width;
  }
}

// A folder on a case-insensitive volume is found to fold letter case, one on
// the usual Linux file systems not; the answer is kept per folder.
TEST(NameFoldingTest, AFolderIsAskedHowItComparesNames) {
  // Names without a letter or digit to try in another spelling: the file
  // system decides, and width does not fold.
  testing::TempDir letterless;
  WriteBytes(letterless.path() / "_", "x");
  const NameFolding plain_folding =
      LibraryFolders(SystemDiskOps(), letterless.path().native() + "/")
          .Folding(letterless.path().native() + "/");
  EXPECT_FALSE(plain_folding.letter_case);
  EXPECT_FALSE(plain_folding.width);
  testing::ExfatVolume stick;
  if (!stick.ok()) GTEST_SKIP() << stick.why();
  testing::TempDir plain;
  struct {
    std::filesystem::path root;
    bool folds;
  } const kCases[] = {{plain.path(), false}, {stick.path(), true}};
  for (const auto& [root, folds] : kCases) {
    WriteBytes(root / "Song.mp3", "x");
    LibraryFolders folders(SystemDiskOps(), root.native() + "/");
    EXPECT_EQ(folders.Folding(root.native() + "/").letter_case, folds) << root;
    EXPECT_EQ(folders.Folding(root.native() + "/").letter_case, folds) << root;
  }
}

// A folder that finds a listed name under the full-width form of its first
// letter or digit folds width. The disk here answers for that one spelling,
// as such a folder would.
TEST(NameFoldingTest, AFolderThatFindsTheFullWidthSpellingFoldsWidth) {
  struct {
    const char* listed;
    const char* wide;
  } const kCases[] = {
      {"Song.mp3", "Ｓong.mp3"}, {"song.mp3", "ｓong.mp3"}, {"(1).mp3", "(１).mp3"}};
  for (const auto& c : kCases) {
    testing::TempDir dir;
    WriteBytes(dir.path() / c.listed, "x");
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kStat, .name = c.wide, .error = 0, .before = [&] {
                WriteBytes(dir.path() / c.wide, "x");
              }});
    UniqueFd fd(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    EXPECT_TRUE(DetectNameFolding(disk, fd.get()).width) << c.listed;
  }
}

#ifdef __x86_64__  // the handler sets the call's result in RAX
// The calls that close descriptor `fd` from now on are counted and answered
// with success, and `fd` stays open. False when that cannot be arranged.
volatile sig_atomic_t closes_of_watched = 0;

bool WatchCloses(int fd) {
  struct sigaction action {};
  action.sa_flags = SA_SIGINFO;
  action.sa_sigaction = [](int, siginfo_t*, void* context) {
    closes_of_watched = closes_of_watched + 1;
    static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RAX] = 0;
  };
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_close, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(fd), 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return ::sigaction(SIGSYS, &action, nullptr) == 0 &&
         ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// The folder opened to list it is closed once: a second close could close a
// file another thread has just opened under the same number.
TEST(NameFoldingTest, TheListedFolderIsClosedOnce) {
  testing::TempDir dir;
  WriteBytes(dir.path() / "Song.mp3", "x");
  UniqueFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(folder);
  EXPECT_EXIT(
      {
        // The listing opens the lowest free number.
        const int next = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(next);
        const bool watched = WatchCloses(next);
        DetectNameFolding(SystemDiskOps(), folder.get());
        std::_Exit(watched && closes_of_watched == 1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace tarvel
