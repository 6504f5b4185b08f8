// A list read back keeps a folder's path, and an album's artist and album,
// in one buffer for a run of rows that share them, as the scan does; a new
// name or title that is its row's old one shares its buffer.
#include <string>
#include <utility>
#include <vector>

#include "files/rename_list_reader.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

class ListSharingTest : public TempDirTest {};

TEST_F(ListSharingTest, RowsShareThePathsArtistsAndAlbumsOfTheRowBefore) {
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
      // Every second row gets a new name, every third a new title.
      const std::string new_name = n % 2 == 0 ? "x" + name : name;
      const std::string title = "t" + std::to_string(n);
      const std::string new_title = n % 3 == 0 ? "new " + title : title;
      // The artist and album take the paths' texts, and must be shared alike.
      bytes += std::to_string(n) + "," + old_path + "," + name + "," + new_path + "," + new_name +
               "," + title + "," + old_path + "," + old_path + "," + new_title + "," + new_path +
               "," + new_path + ",0,0,1\r\n";
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
    for (size_t i = 1; i <= c.rows.size(); ++i) {
      const FileEntry& e = run.EntryTable[i];
      EXPECT_EQ(U8(e.NewName), (i % 2 == 0 ? "x" : "") + U8(e.OldName)) << i;
      EXPECT_EQ(U8(e.NewTitle), (i % 3 == 0 ? "new " : "") + U8(e.OldTitle)) << i;
      EXPECT_EQ(e.NewName.SharesWith(e.OldName), i % 2 != 0) << i;
      EXPECT_EQ(e.NewTitle.SharesWith(e.OldTitle), i % 3 != 0) << i;
    }
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
