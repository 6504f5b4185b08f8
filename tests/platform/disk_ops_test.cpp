#include "platform/disk_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/library_folders.h"
#include "platform/syscall_fault.h"
#include "support/exfat_volume.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using ::tarvel::testing::DiskCall;
using ::tarvel::testing::FaultDiskOps;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::WriteBytes;

class DiskOpsTest : public TempDirTest {};

// ReadAt and WriteAt go on after interrupted calls and short transfers, and
// stop at the end of the file or at an error.
TEST_F(DiskOpsTest, ExactTransfersSurviveInterruptsAndShortCounts) {
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes.push_back(static_cast<char>('a' + i % 26));
  struct {
    const char* label;
    size_t max_transfer;
    bool interrupt;
  } kCases[] = {{"whole", 0, false},
                {"7 bytes a call", 7, false},
                {"interrupted", 0, true},
                {"both", 3, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const std::string path = (dir() / "file").native();
    WriteBytes(path, std::string(10, '-'));
    FaultDiskOps disk;
    disk.set_max_transfer(c.max_transfer);
    disk.set_interrupt(c.interrupt);
    UniqueFd fd = disk.OpenAt(AT_FDCWD, path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_TRUE(fd);
    const Transfer written = WriteAt(disk, fd.get(), bytes.data(), bytes.size(), 5);
    EXPECT_TRUE(written.ok());
    EXPECT_EQ(written.error, 0);
    std::string back(bytes.size(), '\0');
    EXPECT_TRUE(ReadAt(disk, fd.get(), back.data(), back.size(), 5).ok());
    EXPECT_EQ(back, bytes);
    // Past the end: what there is, and no error.
    const Transfer tail = ReadAt(disk, fd.get(), back.data(), 100, 1000);
    EXPECT_EQ(tail.done, 5u);
    EXPECT_EQ(tail.error, 0);
    EXPECT_FALSE(tail.ok());
    if (c.max_transfer != 0) {
      EXPECT_GT(disk.count(DiskCall::kWrite), 100);
    }
  }
}

TEST_F(DiskOpsTest, ExactTransfersReportTheErrorThatStoppedThem) {
  const std::string path = (dir() / "file").native();
  WriteBytes(path, std::string(500, 'x'));
  FaultDiskOps disk;
  disk.set_max_transfer(100);
  // Not ENOSPC: that is what a write of nothing is reported as.
  disk.Add({.call = DiskCall::kWrite, .nth = 3, .error = EDQUOT});
  disk.Add({.call = DiskCall::kRead, .nth = 2, .error = EIO});
  UniqueFd fd = disk.OpenAt(AT_FDCWD, path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_TRUE(fd);
  const std::string bytes(400, 'y');
  const Transfer written = WriteAt(disk, fd.get(), bytes.data(), bytes.size(), 0);
  EXPECT_EQ(written.done, 200u);
  EXPECT_EQ(written.error, EDQUOT);
  std::string back(400, '\0');
  const Transfer read = ReadAt(disk, fd.get(), back.data(), back.size(), 0);
  EXPECT_EQ(read.done, 100u);
  EXPECT_EQ(read.error, EIO);
}

// A path below the folder opens only where no part of it is a link and it
// never leaves the folder.
TEST_F(DiskOpsTest, OpenBeneathRefusesLinksAndWaysOut) {
  std::filesystem::create_directory(dir() / "sub");
  WriteBytes(dir() / "sub" / "file", "x");
  std::filesystem::create_directory_symlink(dir() / "sub", dir() / "via");
  std::filesystem::create_symlink(dir() / "sub" / "file", dir() / "sub" / "link");
  UniqueFd folder(::open(dir().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(folder);
  const std::string out = "../" + dir().filename().native() + "/sub/file";
  const struct {
    std::string path;
    bool opens;
    int flags = O_RDONLY;  // the caller's flags hold too
  } kCases[] = {{"sub/file", true},
                {"via/file", false},
                {"sub/link", false},
                {out, false},
                {"sub", true, O_PATH | O_DIRECTORY},
                {"sub/file", false, O_PATH | O_DIRECTORY}};
  for (const auto& c : kCases) {
    EXPECT_EQ(bool(SystemDiskOps().OpenBeneath(folder.get(), c.path.c_str(), c.flags | O_CLOEXEC)),
              c.opens)
        << c.path << " " << c.flags;
  }
}

// Without openat2 (an older kernel, or a container whose seccomp profile
// answers ENOSYS for a call it does not know) a folder is still opened, and
// a link at the end of the path is still refused.
TEST_F(DiskOpsTest, OpenBeneathFallsBackWithoutOpenat2) {
  WriteBytes(dir() / "file", "x");
  std::filesystem::create_symlink(dir() / "file", dir() / "link");
  UniqueFd folder(::open(dir().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(folder);
  EXPECT_EXIT(
      {
        const bool ok = tarvel::testing::FailSystemCall(SYS_openat2, ENOSYS) &&
                        SystemDiskOps().OpenBeneath(folder.get(), "file", O_RDONLY | O_CLOEXEC) &&
                        !SystemDiskOps().OpenBeneath(folder.get(), "link", O_RDONLY | O_CLOEXEC);
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// A descriptor numbered 0 (standard input closed) is a file opened like any
// other, whatever errno an earlier call left: it is given back, not lost.
TEST_F(DiskOpsTest, OpenBeneathGivesBackDescriptorZero) {
  WriteBytes(dir() / "file", "x");
  UniqueFd folder(::open(dir().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(folder);
  EXPECT_EXIT(
      {
        ::close(0);
        errno = ENOSYS;
        const bool opened = bool(SystemDiskOps().OpenBeneath(folder.get(), "file", O_RDONLY));
        std::_Exit(opened && ::fcntl(0, F_GETFD) == -1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// The folders of a run are opened beneath the library as it was first
// opened: a link that takes the library's place meanwhile is not followed.
TEST_F(DiskOpsTest, LibraryFoldersStayInTheLibraryFirstOpened) {
  const std::filesystem::path lib = dir() / "lib";
  std::filesystem::create_directories(lib / "a");
  std::filesystem::create_directories(lib / "b");
  std::filesystem::create_directories(dir() / "elsewhere" / "b");
  LibraryFolders folders(SystemDiskOps(), lib.native() + "/");
  ASSERT_GE(folders.Open(lib.native() + "/a/"), 0);
  std::filesystem::rename(lib, dir() / "moved");
  std::filesystem::create_directory_symlink(dir() / "elsewhere", lib);
  const int b = folders.Open(lib.native() + "/b/");
  ASSERT_GE(b, 0);
  struct stat opened = {};
  struct stat moved = {};
  ASSERT_EQ(::fstat(b, &opened), 0);
  ASSERT_EQ(::stat((dir() / "moved" / "b").c_str(), &moved), 0);
  EXPECT_EQ(opened.st_ino, moved.st_ino);
}

// A folder that cannot be reached from the library is refused, with errno
// saying why.
TEST_F(DiskOpsTest, LibraryFoldersSayWhyAFolderIsRefused) {
  std::filesystem::create_directories(dir() / "lib" / "a");
  std::filesystem::create_directory_symlink(dir() / "lib" / "a", dir() / "lib" / "link");
  WriteBytes(dir() / "lib" / "file", "x");
  struct {
    const char *root, *folder;
    int error;
  } const kCases[] = {
      {"lib/", "elsewhere/", EXDEV},  {"lib/", "lib/link/", ELOOP}, {"lib/", "lib/gone/", ENOENT},
      {"lib/", "lib/file/", ENOTDIR}, {"gone/", "gone/a/", ENOENT},
  };
  for (const auto& c : kCases) {
    LibraryFolders folders(SystemDiskOps(), (dir() / c.root).native());
    errno = 0;
    EXPECT_EQ(folders.Open((dir() / c.folder).native()), -1) << c.folder;
    EXPECT_EQ(errno, c.error) << c.folder;
  }
}

// The exFAT volume the fault tests use stands for a USB stick only while it
// behaves like one: names that differ in case are one name, and a file
// comes back with another inode number after the stick is mounted again.
TEST(ExfatVolumeTest, BehavesLikeAStickPluggedInAgain) {
  tarvel::testing::ExfatVolume stick;
  if (!stick.ok()) GTEST_SKIP() << stick.why();
  std::filesystem::create_directory(stick.path() / "d");
  WriteBytes(stick.path() / "d" / "ab.mp3", "song");
  WriteBytes(stick.path() / "d" / "cd.mp3", "other");
  struct stat before = {};
  struct stat after = {};
  struct stat other_case = {};
  ASSERT_EQ(::stat((stick.path() / "d" / "ab.mp3").c_str(), &before), 0);
  EXPECT_EQ(::stat((stick.path() / "D" / "AB.MP3").c_str(), &other_case), 0);
  ASSERT_TRUE(stick.Remount()) << stick.why();
  // Numbers are handed out as files are looked up, so another order of
  // looking gives other numbers.
  EXPECT_EQ(tarvel::testing::ReadBytes(stick.path() / "d" / "cd.mp3"), "other");
  ASSERT_EQ(::stat((stick.path() / "d" / "ab.mp3").c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(tarvel::testing::ReadBytes(stick.path() / "d" / "ab.mp3"), "song");
}

}  // namespace
}  // namespace tarvel
