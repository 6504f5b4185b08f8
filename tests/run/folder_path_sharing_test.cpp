// The rows of one folder hold one copy of its path, and the files of one
// album one copy of its artist and album, whether the table was made by a
// scan or read back from a list.
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "files/rename_list_reader.h"
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
  tag.replace(33, artist.size(), artist);
  tag.replace(63, album.size(), album);
  return std::string(72, '\xFF') + tag;
}

// The files of an album share the artist and album texts of the one before
// them, as the scan reads them; a file that differs holds its own.
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
    EXPECT_TRUE(e.NewArtist.SharesWith(e.OldArtist));
    EXPECT_TRUE(e.NewAlbum.SharesWith(e.OldAlbum));
    if (i == 1) continue;
    const FileEntry& before = run.EntryTable[i - 1];
    EXPECT_EQ(e.OldArtist.SharesWith(before.OldArtist), e.OldArtist == before.OldArtist);
    EXPECT_EQ(e.OldAlbum.SharesWith(before.OldAlbum), e.OldAlbum == before.OldAlbum);
  }
}

TEST_F(FolderPathSharingTest, ListReadShares) {
  // Rows: OldPath, NewPath. A list made by a run keeps a folder's rows
  // together, but a hand-edited one need not.
  const struct {
    const char* label;
    std::vector<std::pair<std::string, std::string>> rows;
  } kCases[] = {
      {"one folder", {{"/m/a/", "/m/a/"}, {"/m/a/", "/m/a/"}, {"/m/a/", "/m/a/"}}},
      {"folders in turn",
       {{"/m/", "/m/"},
        {"/m/a/", "/m/a/"},
        {"/m/a/", "/m/a/"},
        {"/m/", "/m/"},
        {"/m/b/", "/m/b/"}}},
      {"a NewPath of its own", {{"/m/a/", "/m/a/"}, {"/m/a/", "/m/x/"}, {"/m/a/", "/m/x/"}}},
      {"an empty path", {{"", ""}, {"/m/a/", "/m/a/"}, {"", "/m/a/"}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::string bytes = "\xEF\xBB\xBF,,,,,,,,,,,,,\r\n";
    int n = 0;
    for (const auto& [old_path, new_path] : c.rows) {
      const std::string name = std::to_string(++n) + ".mp3";
      // The artist and album take the paths' texts, and must be shared alike.
      bytes += std::to_string(n) + "," + old_path + "," + name + "," + new_path + "," + name +
               ",," + old_path + "," + old_path + ",," + new_path + "," + new_path + ",0,0,1\r\n";
    }
    WriteBytes(dir() / "list.csv", bytes);
    RunState run;
    std::string error;
    ASSERT_EQ(ReadRenameList(*Utf8ToUtf16((dir() / "list.csv").native()), run, &error), 1) << error;
    ASSERT_EQ(LastIndex(run), c.rows.size());
    for (size_t i = 0; i < c.rows.size(); ++i) {
      EXPECT_EQ(U8(run.EntryTable[i + 1].OldPath), c.rows[i].first);
      EXPECT_EQ(U8(run.EntryTable[i + 1].NewPath), c.rows[i].second);
    }
    // Only neighbours are compared while reading, so a folder that comes
    // back after another may hold a second buffer; within a run of rows
    // the buffer is one.
    using Field = SharedText FileEntry::*;
    const std::pair<Field, Field> kPairs[] = {{&FileEntry::OldPath, &FileEntry::NewPath},
                                              {&FileEntry::OldArtist, &FileEntry::NewArtist},
                                              {&FileEntry::OldAlbum, &FileEntry::NewAlbum}};
    for (size_t i = 2; i <= c.rows.size(); ++i) {
      const FileEntry& e = run.EntryTable[i];
      const FileEntry& before = run.EntryTable[i - 1];
      for (const auto& [old_field, new_field] : kPairs) {
        const SharedText& old_text = e.*old_field;
        const SharedText& new_text = e.*new_field;
        EXPECT_EQ(U8(old_text), U8(e.OldPath));
        EXPECT_EQ(U8(new_text), U8(e.NewPath));
        EXPECT_EQ(old_text.SharesWith(before.*old_field), old_text == before.*old_field) << i;
        EXPECT_EQ(new_text.SharesWith(old_text) || new_text.SharesWith(before.*new_field),
                  new_text == old_text || new_text == before.*new_field)
            << i;
      }
    }
  }
}

}  // namespace
}  // namespace tarvel
