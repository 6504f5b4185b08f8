#include "files/restore.h"

#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "app/front_end.h"
#include "app/report.h"
#include "files/id3_tag.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "support/exfat_volume.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::WriteBytes;

class RestoreTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    lib_ = dir() / "lib";
    fs::create_directories(lib_);
  }
  // A row the run renamed from `old_folder` + `old_name` to `new_folder` +
  // `new_name` (folders relative to the library).
  FileEntry& Renamed(const std::string& old_folder, std::u16string_view old_name,
                     const std::string& new_folder, std::u16string_view new_name, int32_t is_file) {
    FileEntry& e = AddEntry(run_, Folder(old_folder), old_name, is_file);
    e.NewPath = Folder(new_folder);
    e.NewName = new_name;
    e.RenameFlag = 1;
    return e;
  }
  std::u16string Folder(const std::string& relative) const {
    return *Utf8ToUtf16((relative.empty() ? lib_ : lib_ / relative).native() + "/");
  }

  fs::path lib_;
  RunState run_;
  RecordingFrontEnd ui_;
};

// The file step finds each file under its new name, wherever the folder step
// left its folder, and renames it back; only a file is taken for a file row.
TEST_F(RestoreTest, FilesComeBackWhereTheirFolderIsNow) {
  const struct {
    const char* what;
    std::function<void()> make;
    int32_t folders_restored, files_restored;
    size_t missing, conflicts;
    const char* afterwards;         // a path (in the library) there afterwards
    const char* appears = nullptr;  // a file made just before the first rename
    // The run's undo record knows the file of row 1 as another file than
    // the one now under its new name.
    bool other_file = false;
    // The record was made on a stick, whose inode numbers change at each
    // mount: the size tells instead.
    bool on_stick = false;
    int rename_error = 0;  // what the file system says to the rename back
    size_t failed = 0;
  } kCases[] = {
      {"renamed back",
       [&] {
         WriteBytes(lib_ / "b.mp3", "b");
         Renamed("", u"a.mp3", "", u"b.mp3", 1);
       },
       0, 1, 0, 0, "a.mp3"},
      {"ten files that passed their names on pass them back",
       [&] {
         for (int i = 0; i < 10; ++i) {
           const std::u16string now = DecimalText((i + 1) % 10) + u".mp3";
           WriteBytes(lib_ / Utf16ToUtf8(now), "was " + std::to_string(i));
           Renamed("", DecimalText(i) + u".mp3", "", now, 1);
         }
       },
       0, 10, 0, 0, "0.mp3"},
      {"a folder under the new name is not the file",
       [&] {
         fs::create_directory(lib_ / "b.mp3");
         Renamed("", u"a.mp3", "", u"b.mp3", 1);
       },
       0, 0, 1, 0, "b.mp3"},
      {"a hand-made list moves it between folders",
       [&] {
         fs::create_directories(lib_ / "x" / "y");
         WriteBytes(lib_ / "x" / "y" / "b.mp3", "b");
         Renamed("x", u"a.mp3", "x/y", u"b.mp3", 1);
       },
       0, 1, 0, 0, "x/a.mp3"},
      {"two levels below a folder renamed back first",
       [&] {
         fs::create_directories(lib_ / "B" / "sub");
         WriteBytes(lib_ / "B" / "sub" / "y.mp3", "y");
         Renamed("", u"A", "", u"B", 0);
         Renamed("A/sub", u"x.mp3", "A/sub", u"y.mp3", 1);
       },
       1, 1, 0, 0, "A/sub/x.mp3"},
      {"two levels below a folder whose old name is taken",
       [&] {
         fs::create_directories(lib_ / "A");
         fs::create_directories(lib_ / "B" / "sub");
         WriteBytes(lib_ / "B" / "sub" / "y.mp3", "y");
         Renamed("", u"A", "", u"B", 0);
         Renamed("A/sub", u"x.mp3", "A/sub", u"y.mp3", 1);
       },
       0, 1, 0, 1, "B/sub/x.mp3"},
      {"below a folder and its folder, both with their old names taken",
       [&] {
         fs::create_directories(lib_ / "A");
         fs::create_directories(lib_ / "A2" / "B");
         fs::create_directories(lib_ / "A2" / "B2");
         WriteBytes(lib_ / "A2" / "B2" / "y.mp3", "y");
         Renamed("", u"A", "", u"A2", 0);
         Renamed("A", u"B", "A", u"B2", 0);
         Renamed("A/B", u"x.mp3", "A/B", u"y.mp3", 1);
       },
       0, 1, 0, 2, "A2/B2/x.mp3"},
      {"its old name taken after the plan",
       [&] {
         WriteBytes(lib_ / "b.mp3", "b");
         Renamed("", u"a.mp3", "", u"b.mp3", 1);
       },
       0, 0, 0, 1, "b.mp3", "a.mp3"},
      {"another file under the new name, by the record",
       [&] {
         WriteBytes(lib_ / "b.mp3", "b");
         Renamed("", u"a.mp3", "", u"b.mp3", 1);
       },
       0, 0, 1, 0, "b.mp3", nullptr, true},
      {"another inode number on a stick, the same size",
       [&] {
         WriteBytes(lib_ / "b.mp3", "b");
         Renamed("", u"a.mp3", "", u"b.mp3", 1);
       },
       0, 1, 0, 0, "a.mp3", nullptr, true, true},
      {"a rename the file system refuses",
       [&] {
         WriteBytes(lib_ / "b.mp3", "b");
         Renamed("", u"a.mp3", "", u"b.mp3", 1);
       },
       0, 0, 0, 0, "b.mp3", nullptr, false, false, EACCES, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(lib_);
    fs::create_directories(lib_);
    ResetEntryTable(run_);
    ui_.log.clear();
    c.make();
    RestoreDetails details;
    const Reporter reporter(ui_, true);
    testing::FaultDiskOps disk;
    if (c.appears != nullptr) {
      disk.Add({.call = testing::DiskCall::kRename, .error = 0, .before = [&] {
                  WriteBytes(lib_ / c.appears, std::string(300, 'n'));
                }});
    }
    if (c.rename_error != 0)
      disk.Add({.call = testing::DiskCall::kRename, .error = c.rename_error});
    UndoRecord record;
    if (c.other_file) {
      struct stat st {};
      ASSERT_EQ(::stat((lib_ / "b.mp3").c_str(), &st), 0);
      DiskEntry& entry = record.rows[1];
      entry.dev = st.st_dev;
      entry.ino = st.st_ino + 1;
      entry.inode_kept = !c.on_stick;
      entry.size = 1;
    }
    ASSERT_EQ(RestoreFolders(reporter, run_, details), 1);
    EXPECT_EQ(details.folders_restored, c.folders_restored);
    EXPECT_NE(ui_.log.find(DecimalText(c.folders_restored) + u"個のフォルダ名を復元しました。"),
              std::u16string::npos)
        << testing::U8(ui_.log);
    ASSERT_EQ(RestoreFiles(reporter, run_, details, c.other_file ? &record : nullptr, disk), 1);
    EXPECT_EQ(details.files_restored, c.files_restored);
    EXPECT_EQ(details.missing.size(), c.missing);
    // Each missing file is told in the log with its name.
    EXPECT_EQ(ui_.log.find(u"見つからないファイルがあります。\r\n　ファイル名　：　" + Folder("") +
                           u"b.mp3") != std::u16string::npos,
              c.missing > 0)
        << testing::U8(ui_.log);
    EXPECT_EQ(details.conflicts.size(), c.conflicts);
    EXPECT_EQ(details.failed.size(), c.failed);
    EXPECT_TRUE(fs::exists(lib_ / c.afterwards));
    // The tag step passes over the rows that are not back, and over a file
    // that took an old name: each is told once, and only the files renamed
    // back are tagged (too short here to need it).
    for (FileEntry& e : run_.EntryTable) {
      e.TagFlag = e.IsFile;
      e.OldTitle = u"old";
    }
    ASSERT_EQ(RestoreTags(reporter, run_, details, c.other_file ? &record : nullptr), 1);
    EXPECT_EQ(details.NotRestored(), c.missing + c.conflicts + c.failed);
    EXPECT_EQ(details.tags_restored, c.files_restored);
  }
}

// A folder the restore cannot find makes the rows inside it unreachable, and
// only those: a file in another folder still comes back.
TEST_F(RestoreTest, AMissingFolderLeavesOnlyItsOwnRowsUnreachable) {
  fs::create_directories(lib_ / "A2");
  fs::create_directories(lib_ / "C");
  WriteBytes(lib_ / "C" / "b.mp3", "b");
  Renamed("", u"A", "", u"B", 0);  // B was moved away by hand
  Renamed("A", u"x.mp3", "A", u"y.mp3", 1);
  Renamed("C", u"a.mp3", "C", u"b.mp3", 1);
  Renamed("A2", u"p.mp3", "A2", u"q.mp3", 1);  // a folder whose name only starts alike
  WriteBytes(lib_ / "A2" / "q.mp3", "q");
  RestoreDetails details;
  const Reporter reporter(ui_, true);
  ASSERT_EQ(RestoreFolders(reporter, run_, details), 1);
  ASSERT_EQ(RestoreFiles(reporter, run_, details), 1);
  EXPECT_EQ(details.unreachable, 1);
  EXPECT_EQ(details.files_restored, 2);
  EXPECT_TRUE(fs::exists(lib_ / "C" / "a.mp3"));
  EXPECT_TRUE(fs::exists(lib_ / "A2" / "p.mp3"));
}

// On a stick that folds letter case, an old name held in another spelling
// by a file that moves away in the same step is free: both come back.
TEST_F(RestoreTest, OnAStickANameHeldInAnotherSpellingByAMovingFileIsFree) {
  testing::ExfatVolume stick;
  if (!stick.ok()) GTEST_SKIP() << stick.why();
  lib_ = stick.path();
  WriteBytes(lib_ / "ab.mp3", "1");
  WriteBytes(lib_ / "new.mp3", "2");
  Renamed("", u"x.mp3", "", u"ab.mp3", 1);  // took the name the next one gave up
  Renamed("", u"AB.mp3", "", u"new.mp3", 1);
  RestoreDetails details;
  ASSERT_EQ(RestoreFiles(Reporter(ui_, true), run_, details), 1);
  EXPECT_EQ(details.files_restored, 2);
  EXPECT_TRUE(details.conflicts.empty());
  EXPECT_EQ(ReadBytes(lib_ / "x.mp3"), "1");
  EXPECT_EQ(ReadBytes(lib_ / "AB.mp3"), "2");
}

// Without an undo record a tag gets its old texts back unless all three are
// there already.
TEST_F(RestoreTest, TagTextsComeBackUnlessAllThreeAreThere) {
  WriteBytes(lib_ / "a.mp3", std::string(300, '\xAA'));
  FileEntry& e = AddEntry(run_, Folder(""), u"a.mp3", 1);
  e.TagFlag = 1;
  e.OldTitle = u"title";
  e.OldArtist = u"artist";
  e.OldAlbum = u"old album";
  ASSERT_EQ(UpdateID3TagTexts(*Utf8ToUtf16((lib_ / "a.mp3").native()), u"title", u"artist",
                              u"new album", false),
            1);
  // A file too short for a tag, and one whose tag holds the old texts
  // already, are as they were.
  WriteBytes(lib_ / "short.mp3", "tiny");
  AddEntry(run_, Folder(""), u"short.mp3", 1).TagFlag = 1;
  const std::u16string same = *Utf8ToUtf16((lib_ / "same.mp3").native());
  WriteBytes(lib_ / "same.mp3", std::string(300, '\xAA'));
  ASSERT_EQ(UpdateID3TagTexts(same, u"t", u"a", u"b", false), 1);
  const std::string same_bytes = ReadBytes(lib_ / "same.mp3");
  // Not even opened for writing: it stays read-only, with its time.
  fs::permissions(lib_ / "same.mp3", fs::perms::owner_read);
  const auto same_time = fs::file_time_type() + std::chrono::hours(24 * 365 * 40);
  fs::last_write_time(lib_ / "same.mp3", same_time);
  FileEntry& kept = AddEntry(run_, Folder(""), u"same.mp3", 1);
  kept.TagFlag = 1;
  kept.OldTitle = u"t";
  kept.OldArtist = u"a";
  kept.OldAlbum = u"b";
  // A file whose tag another program took away gets its old texts again,
  // even where only one of them was set.
  WriteBytes(lib_ / "lost.mp3", std::string(300, '\xAA'));
  AddEntry(run_, Folder(""), u"lost.mp3", 1).TagFlag = 1;
  run_.EntryTable.back().OldTitle = u"lost title";
  // A file that had no tag and still has none is as it was.
  WriteBytes(lib_ / "bare.mp3", std::string(300, '\xAA'));
  AddEntry(run_, Folder(""), u"bare.mp3", 1).TagFlag = 1;
  // A file deleted since the run is told, not passed over in silence.
  AddEntry(run_, Folder(""), u"gone.mp3", 1).TagFlag = 1;
  RestoreDetails details;
  ASSERT_EQ(RestoreTags(Reporter(ui_, true), run_, details), 1);
  EXPECT_EQ(details.tags_restored, 5);
  EXPECT_EQ(details.skipped, std::vector<std::string>{(lib_ / "gone.mp3").native() +
                                                      ": the file of this row is not there"});
  EXPECT_EQ(ReadBytes(lib_ / "short.mp3"), "tiny");
  EXPECT_EQ(ReadBytes(lib_ / "same.mp3"), same_bytes);
  EXPECT_EQ(fs::status(lib_ / "same.mp3").permissions(), fs::perms::owner_read);
  EXPECT_TRUE(fs::last_write_time(lib_ / "same.mp3") == same_time);
  ID3TagData tag;
  ASSERT_EQ(ReadID3Tag(*Utf8ToUtf16((lib_ / "a.mp3").native()), tag), 1);
  EXPECT_EQ(tag.Album, u"old album");
  EXPECT_EQ(tag.Title, u"title");
  ASSERT_EQ(ReadID3Tag(*Utf8ToUtf16((lib_ / "lost.mp3").native()), tag), 1);
  EXPECT_EQ(tag.Title, u"lost title");
  EXPECT_EQ(ReadBytes(lib_ / "bare.mp3"), std::string(300, '\xAA'));
  // A file whose folder cannot be opened is skipped with the reason.
  ResetEntryTable(run_);
  fs::create_directories(lib_ / "sub");
  WriteBytes(lib_ / "sub" / "b.mp3", std::string(300, '\xAA'));
  AddEntry(run_, Folder("sub"), u"b.mp3", 1).TagFlag = 1;
  testing::FaultDiskOps disk;
  disk.Add({.call = testing::DiskCall::kOpenBeneath, .nth = 0, .error = EACCES});
  RestoreDetails refused;
  ASSERT_EQ(RestoreTags(Reporter(ui_, true), run_, refused, nullptr, disk), 1);
  ASSERT_EQ(refused.skipped.size(), 1u);
  EXPECT_EQ(refused.skipped[0],
            (lib_ / "sub" / "b.mp3").native() + ": cannot open the file: Permission denied");
}

// The tag step ends by giving each folder the time the record kept for it
// (writing the tags changed it); a folder whose time cannot be set is told
// with the reason, and the tags stay restored.
TEST_F(RestoreTest, FoldersGetTheirRecordedTimesBack) {
  const struct {
    const char* what;
    int error;  // of the call that sets the time
    size_t skipped;
  } kCases[] = {{"set back", 0, 0}, {"refused", EPERM, 1}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ResetEntryTable(run_);
    fs::create_directories(lib_ / "sub");
    WriteBytes(lib_ / "sub" / "a.mp3", std::string(300, '\xAA'));
    FileEntry& e = AddEntry(run_, Folder("sub"), u"a.mp3", 1);
    e.TagFlag = 1;
    e.OldTitle = u"old";
    UndoRecord record;
    record.folder_times = {{1, FileTime{1600000000, 5}}};
    testing::FaultDiskOps disk;
    if (c.error != 0) disk.Add({.call = testing::DiskCall::kTimes, .error = c.error});
    RestoreDetails details;
    ASSERT_EQ(RestoreTags(Reporter(ui_, true), run_, details, &record, disk), 1);
    EXPECT_EQ(details.tags_restored, 1);
    ASSERT_EQ(details.skipped.size(), c.skipped);
    struct stat st {};
    ASSERT_EQ(::stat((lib_ / "sub").c_str(), &st), 0);
    if (c.skipped == 0) {
      EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
      EXPECT_EQ(st.st_mtim.tv_nsec, 5);
    } else {
      EXPECT_EQ(details.skipped[0],
                (lib_ / "sub").native() +
                    "/: cannot set the folder's modification time back: " + std::strerror(c.error));
    }
  }
}

// The rows found under their old names already are told once, by count,
// and not at all when there are none.
TEST_F(RestoreTest, RowsAlreadyBackAreToldOnlyWhenThereAreAny) {
  for (const int32_t already : {0, 3}) {
    RecordingFrontEnd ui;
    RestoreDetails details;
    details.already_restored = already;
    ReportAlreadyRestored(Reporter(ui, true), details);
    EXPECT_EQ(ui.log.starts_with(u"3個"), already == 3) << already;
    EXPECT_EQ(ui.log.empty(), already == 0) << already;
  }
}

// A front end that fails (a window gone, memory short) ends the step, which
// says so and why.
class FailingFrontEnd : public RecordingFrontEnd {
 public:
  void ReportProgress(ProgressStage, int64_t, int64_t) override { Fail(); }
  void AppendLog(std::u16string_view) override { Fail(); }

 private:
  static void Fail() { throw std::runtime_error("the window is gone"); }
};

TEST_F(RestoreTest, AFrontEndThatFailsEndsTheStep) {
  WriteBytes(lib_ / "b.mp3", std::string(300, '\xAA'));
  Renamed("", u"a.mp3", "", u"b.mp3", 1).TagFlag = 1;
  FailingFrontEnd ui;
  const Reporter reporter(ui, true);
  const struct {
    const char* what;
    std::function<int32_t(RestoreDetails&)> step;
  } kCases[] = {
      {"folders", [&](RestoreDetails& d) { return RestoreFolders(reporter, run_, d); }},
      {"files", [&](RestoreDetails& d) { return RestoreFiles(reporter, run_, d); }},
      {"tags", [&](RestoreDetails& d) { return RestoreTags(reporter, run_, d); }},
  };
  for (const auto& c : kCases) {
    RestoreDetails details;
    EXPECT_EQ(c.step(details), 0) << c.what;
    EXPECT_EQ(details.error, "unexpected error: the window is gone") << c.what;
  }
}

}  // namespace
}  // namespace tarvel
