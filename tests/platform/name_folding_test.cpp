#include "platform/name_folding.h"

#include <fcntl.h>
#include <gtest/gtest.h>

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
  } const kCases[] = {{"Song.mp3", "Ｓong.mp3"}, {"(1).mp3", "(１).mp3"}};
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

}  // namespace
}  // namespace tarvel
