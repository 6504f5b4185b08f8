#include "platform/rename.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/disk_ops.h"
#include "support/exfat_volume.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

class RenameTest : public testing::TempDirTest {};

TEST_F(RenameTest, RenamesFilesAndFoldersButNeverReplaces) {
  WriteBytes(dir() / "a.mp3", "A");
  WriteBytes(dir() / "b.mp3", "B");
  std::filesystem::create_directory(dir() / "folder");

  EXPECT_TRUE(RenameNoReplace(dir() / "a.mp3", dir() / "c.mp3").ok());
  EXPECT_EQ(ReadBytes(dir() / "c.mp3"), "A");

  RenameResult taken = RenameNoReplace(dir() / "c.mp3", dir() / "b.mp3");
  EXPECT_EQ(taken.code, RenameResult::Code::kTargetExists);
  auto is_taken = [](const std::filesystem::path& from, const std::filesystem::path& to) {
    return "cannot rename " + from.native() + " to " + to.native() + ": the new name is taken (" +
           std::strerror(EEXIST) + ")";
  };
  EXPECT_EQ(taken.message, is_taken(dir() / "c.mp3", dir() / "b.mp3"));
  WriteBytes(dir() / "folder" / "b.mp3", "F");  // and in another folder
  EXPECT_EQ(RenameNoReplace(dir() / "c.mp3", dir() / "folder" / "b.mp3").message,
            is_taken(dir() / "c.mp3", dir() / "folder" / "b.mp3"));
  EXPECT_EQ(ReadBytes(dir() / "b.mp3"), "B");
  EXPECT_EQ(ReadBytes(dir() / "c.mp3"), "A");

  // A folder is not replaced by a file nor a file by a folder.
  EXPECT_EQ(RenameNoReplace(dir() / "c.mp3", dir() / "folder").code,
            RenameResult::Code::kTargetExists);
  EXPECT_EQ(RenameNoReplace(dir() / "folder", dir() / "b.mp3").code,
            RenameResult::Code::kTargetExists);
  EXPECT_TRUE(RenameNoReplace(dir() / "folder", dir() / "フォルダ").ok());
  EXPECT_TRUE(std::filesystem::is_directory(dir() / "フォルダ"));
}

TEST_F(RenameTest, CaseOnlyChangeAndBadNames) {
  WriteBytes(dir() / "Song.MP3", "S");
  EXPECT_TRUE(RenameNoReplace(dir() / "Song.MP3", dir() / "song.mp3").ok());
  EXPECT_EQ(ReadBytes(dir() / "song.mp3"), "S");
  EXPECT_FALSE(std::filesystem::exists(dir() / "Song.MP3"));

  EXPECT_TRUE(RenameNoReplace(dir() / "song.mp3", dir() / "song.mp3").ok());
  EXPECT_EQ(RenameNoReplace(dir() / "missing.mp3", dir() / "x.mp3").code,
            RenameResult::Code::kSourceMissing);
  for (const char* bad : {"", ".", ".."}) {
    EXPECT_EQ(RenameNoReplace(dir() / "song.mp3", dir() / bad).code,
              RenameResult::Code::kInvalidName)
        << bad;
  }
  EXPECT_EQ(ReadBytes(dir() / "song.mp3"), "S");
}

TEST_F(RenameTest, SecondNameOfTheSameFileIsNotReplaced) {
  // Two hard links look like one file to the same-file test; the second name
  // is still an entry of its own and must survive, with the first name back
  // in place.
  WriteBytes(dir() / "Track.mp3", "T");
  std::filesystem::create_hard_link(dir() / "Track.mp3", dir() / "track.mp3");
  const RenameResult r = RenameNoReplace(dir() / "Track.mp3", dir() / "track.mp3");
  EXPECT_EQ(r.code, RenameResult::Code::kTargetExists);
  // Taken for one entry, the move went through a temporary name, and the
  // second name refused its last step.
  EXPECT_NE(r.message.find(": refused ("), std::string::npos) << r.message;
  EXPECT_EQ(ReadBytes(dir() / "Track.mp3"), "T");
  EXPECT_EQ(ReadBytes(dir() / "track.mp3"), "T");
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir())) ++entries;
  EXPECT_EQ(entries, 5);  // the two names and the three XDG folders, no temporary left
}

// A file system that does not know the no-replace flag gets a lookup first;
// any other failure of the rename is reported and not tried again.
TEST_F(RenameTest, FallsBackOnlyWhereTheFlagIsUnknown) {
  struct {
    int error;
    RenameResult::Code expected;
    int reported;  // the errno the result carries
  } const kCases[] = {
      {EINVAL, RenameResult::Code::kOk, 0},
      {ENOSYS, RenameResult::Code::kOk, 0},
      {ENOTSUP, RenameResult::Code::kOk, 0},
      {EIO, RenameResult::Code::kFailed, EIO},
  };
  UniqueFd folder(::open(dir().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(folder);
  for (const auto& c : kCases) {
    WriteBytes(dir() / "a.mp3", "A");
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kRename, .error = c.error});
    const RenameResult r = RenameNoReplaceAt(folder.get(), "a.mp3", "b.mp3", "", disk);
    EXPECT_EQ(r.code, c.expected) << std::strerror(c.error);
    EXPECT_EQ(r.error, c.reported) << std::strerror(c.error);
    EXPECT_EQ(std::filesystem::exists(dir() / "b.mp3"), r.ok()) << std::strerror(c.error);
    std::filesystem::remove(dir() / "b.mp3");
  }
  // Without the flag, a name a lookup finds and the listing confirms is
  // taken, and so is one whose folder cannot be listed: nothing is replaced.
  WriteBytes(dir() / "b.mp3", "B");
  for (const bool listed : {true, false}) {
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kRename, .error = EINVAL});
    if (!listed)
      disk.Add({.call = testing::DiskCall::kOpen, .nth = 0, .name = ".", .error = EACCES});
    EXPECT_EQ(RenameNoReplaceAt(folder.get(), "a.mp3", "b.mp3", "", disk).code,
              RenameResult::Code::kTargetExists)
        << listed;
    EXPECT_EQ(testing::ReadBytes(dir() / "b.mp3"), "B");
  }
  // A name the lookup finds but the listing no longer holds (it has just
  // moved away) is free.
  testing::FaultDiskOps disk;
  disk.Add({.call = testing::DiskCall::kRename, .error = EINVAL});
  disk.Add({.call = testing::DiskCall::kOpen, .name = ".", .error = 0, .before = [&] {
              std::filesystem::remove(dir() / "b.mp3");
            }});
  EXPECT_TRUE(RenameNoReplaceAt(folder.get(), "a.mp3", "b.mp3", "", disk).ok());
  EXPECT_EQ(testing::ReadBytes(dir() / "b.mp3"), "A");
}

// On a case-insensitive volume a case-only change of a full path goes
// through, and a name taken by another file is kept.
TEST(RenameOnAStickTest, CaseOnlyChangeAndTakenName) {
  testing::ExfatVolume stick;
  if (!stick.ok()) GTEST_SKIP() << stick.why();
  const std::filesystem::path d = stick.path() / "d";
  std::filesystem::create_directory(d);
  WriteBytes(d / "Song.MP3", "S");
  WriteBytes(d / "other.mp3", "O");
  EXPECT_TRUE(RenameNoReplace(d / "Song.MP3", d / "song.mp3").ok());
  EXPECT_EQ(RenameNoReplace(d / "song.mp3", d / "OTHER.mp3").code,
            RenameResult::Code::kTargetExists);
  // In another folder the same spelling in other letters is another file.
  std::filesystem::create_directory(stick.path() / "e");
  WriteBytes(stick.path() / "e" / "song.mp3", "E");
  const RenameResult across = RenameNoReplace(d / "song.mp3", stick.path() / "e" / "SONG.mp3");
  EXPECT_EQ(across.code, RenameResult::Code::kTargetExists);
  EXPECT_NE(across.message.find("the new name is taken"), std::string::npos) << across.message;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(d)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"other.mp3", "song.mp3"}));
  EXPECT_EQ(ReadBytes(d / "other.mp3"), "O");
}

}  // namespace
}  // namespace tarvel
