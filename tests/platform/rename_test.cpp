#include "platform/rename.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(RenameNoReplace(dir() / "Track.mp3", dir() / "track.mp3").code,
            RenameResult::Code::kTargetExists);
  EXPECT_EQ(ReadBytes(dir() / "Track.mp3"), "T");
  EXPECT_EQ(ReadBytes(dir() / "track.mp3"), "T");
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir())) ++entries;
  EXPECT_EQ(entries, 5);  // the two names and the three XDG folders, no temporary left
}

}  // namespace
}  // namespace tarvel
