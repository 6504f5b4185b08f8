// The rows of one folder made by a scan hold one copy of its path, and the
// files of one album one copy of its artist and album (for a list read back,
// see tests/files/list_sharing_test.cpp).
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "platform/text.h"
#include "run/scan.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

// Rows with the same path text share one buffer, rows with different paths
// never do, and NewPath shares OldPath's buffer wherever their texts agree.
void ExpectOneBufferPerPath(const RunState& run) {
  const size_t last = LastIndex(run);
  for (size_t i = 1; i <= last; ++i) {
    const FileEntry& e = run.EntryTable[i];
    SCOPED_TRACE("row " + std::to_string(i) + " " + U8(e.OldPath) + U8(e.OldName));
    EXPECT_EQ(e.NewPath.SharesWith(e.OldPath), e.NewPath == e.OldPath);
    for (size_t j = 1; j < i; ++j) {
      const FileEntry& f = run.EntryTable[j];
      EXPECT_EQ(e.OldPath.SharesWith(f.OldPath), e.OldPath == f.OldPath) << "row " << j;
    }
  }
}

class FolderPathSharingTest : public TempDirTest {};

TEST_F(FolderPathSharingTest, ScanGivesTheRowsOfAFolderOnePath) {
  const fs::path data = dir() / "data";
  for (const char* file : {"a/1.mp3", "a/2.mp3", "a/sub/3.mp3", "a/sub/4.mp3", "a/5.mp3",
                           "曲/6.mp3", "7.mp3", "b/empty/.keep"}) {
    fs::create_directories((data / file).parent_path());
    WriteBytes(data / file, std::string(200, '\xFF'));
  }
  AppState app;
  app.settings.FlagRenameFolderName = 1;
  app.settings.FlagRenameSubfolders = 1;
  RunState run;
  ASSERT_EQ(ScanFolder(app, run, *Utf8ToUtf16(data.native()), nullptr), 1);
  ASSERT_EQ(run.EntryCount, 12);  // 7 MP3 files and 5 folders
  ExpectOneBufferPerPath(run);
}

// A file of 200 bytes ending in an ID3v1 tag with these texts (ASCII).
std::string Mp3WithTag(const std::string& artist, const std::string& album) {
  std::string tag = "TAG" + std::string(125, '\0');
  tag.replace(3, 5, "Title");
  tag.replace(33, artist.size(), artist);
  tag.replace(63, album.size(), album);
  return std::string(72, '\xFF') + tag;
}

// The files of an album share the artist and album texts of the one before
// them, as the scan reads them; a file that differs holds its own. Until
// the pass, every new text is its old one.
TEST_F(FolderPathSharingTest, ScanGivesTheFilesOfAnAlbumOneArtistAndAlbum) {
  const fs::path data = dir() / "data";
  fs::create_directories(data);
  const struct {
    const char* name;
    const char* artist;
    const char* album;
  } kFiles[] = {
      {"1.mp3", "Blue Band", "Night Songs"}, {"2.mp3", "Blue Band", "Night Songs"},
      {"3.mp3", "Red Band", "Night Songs"},  {"4.mp3", "Red Band", "Day Songs"},
      {"5.mp3", "Red Band", "Day Songs"},
  };
  for (const auto& f : kFiles) WriteBytes(data / f.name, Mp3WithTag(f.artist, f.album));
  AppState app;
  app.settings.FlagConvertID3Tag = 1;
  RunState run;
  ASSERT_EQ(ScanFolder(app, run, *Utf8ToUtf16(data.native()), nullptr), 1);
  ASSERT_EQ(run.EntryCount, 5);
  for (int32_t i = 1; i <= 5; ++i) {
    const FileEntry& e = run.EntryTable[i];
    SCOPED_TRACE(U8(e.OldName));
    EXPECT_EQ(U8(e.OldArtist), kFiles[i - 1].artist);
    EXPECT_EQ(U8(e.OldAlbum), kFiles[i - 1].album);
    EXPECT_EQ(U8(e.OldTitle), "Title");
    EXPECT_FALSE(e.OldName.empty());
    for (const auto& [old_text, new_text] : {std::pair{&e.OldName, &e.NewName},
                                             {&e.OldTitle, &e.NewTitle},
                                             {&e.OldArtist, &e.NewArtist},
                                             {&e.OldAlbum, &e.NewAlbum}}) {
      EXPECT_TRUE(new_text->SharesWith(*old_text)) << U8(*old_text);
    }
    if (i == 1) continue;
    const FileEntry& before = run.EntryTable[i - 1];
    EXPECT_EQ(e.OldArtist.SharesWith(before.OldArtist), e.OldArtist == before.OldArtist);
    EXPECT_EQ(e.OldAlbum.SharesWith(before.OldAlbum), e.OldAlbum == before.OldAlbum);
  }
}

}  // namespace
}  // namespace tarvel
