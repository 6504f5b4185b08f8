// The ways an undo used to go wrong on ordinary libraries, each converted
// for real and restored: the library must come back byte for byte.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

#include "app/tables.h"
#include "files/id3_tag.h"
#include "files/rename_list.h"
#include "files/rename_plan.h"
#include "files/run_history.h"
#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/restore_run.h"
#include "run/run_driver.h"
#include "run/run_test_support.h"
#include "sample_library.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

using ::tarvel::testing::Text16;

std::map<std::string, std::string> Snapshot(const fs::path& root) {
  return testing::ExactTree(root);
}

// A 128-byte tag block from raw field bytes (padded with `pad`).
std::string RawTag(std::string_view title, std::string_view artist, std::string_view album,
                   char pad) {
  auto field = [&](std::string_view text, size_t width) {
    std::string f(text);
    f.resize(width, pad);
    return f;
  };
  return "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + "1999" +
         field("comment", 30) + std::string(1, '\x11');
}

class UndoCasesTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    lib_ = dir() / "music";
    fs::create_directories(lib_);
    app_.ui = &ui_;
    app_.reading = &fixed_;
    ASSERT_TRUE(testing::LoadShippedTables(app_));
    app_.folder.history_dir = dir() / "history";
    app_.settings = testing::ApplyingRun(lib_);
  }

  void Mp3(const fs::path& rel, std::string_view tag = {}, size_t audio = 200) {
    fs::create_directories((lib_ / rel).parent_path());
    WriteBytes(lib_ / rel, std::string(audio, '\xAA') + std::string(tag));
  }

  RunReport Convert(DiskOps& disk = SystemDiskOps()) {
    ui_ = RecordingFrontEnd();
    RunState run;
    return RunConversion(app_, run, disk);
  }

  RestoreReport Restore(const fs::path& list, DiskOps& disk = SystemDiskOps()) {
    ui_ = RecordingFrontEnd();
    RunState run;
    return RunRestore(app_, run, Text16(list), {}, disk);
  }

  fs::path lib_;
  AppState app_;
  RecordingFrontEnd ui_;
  testing::FixedReadingService fixed_{{u"東京", u"トウキョウ"}, {u"夜", u"よる"}};
};

TEST_F(UndoCasesTest, NamesThatBecomeDuplicatesComeBack) {
  for (const char* name : {"a.mp3", "ａ.mp3", "AB.mp3", "ＡＢ.mp3", "x.mp3", "x.mp3.mp3"}) {
    Mp3(name);
  }
  const auto before = Snapshot(lib_);
  RunReport run = Convert();
  ASSERT_EQ(run.outcome, RunReport::Outcome::kCompleted) << run.detail << U8(ui_.log);
  ASSERT_NE(Snapshot(lib_), before);
  EXPECT_TRUE(fs::exists(lib_ / "a-2.mp3"));
  RestoreReport back = Restore(lib_ / "list.csv");
  EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << U8(ui_.log);
  EXPECT_EQ(U8(ui_.log).find("復元に失敗"), std::string::npos) << U8(ui_.log);
  EXPECT_EQ(Snapshot(lib_), before);
}

TEST_F(UndoCasesTest, SiblingFoldersThatBecomeDuplicatesAreRenamedAndComeBack) {
  Mp3("YUKI/1.mp3");
  Mp3("ＹＵＫＩ/2.mp3");
  Mp3("ＹＵＫＩ/ＹＵＫＩ/3.mp3");
  Mp3("YUKI-2/4.mp3");
  const auto before = Snapshot(lib_);
  RunReport run = Convert();
  ASSERT_EQ(run.outcome, RunReport::Outcome::kCompleted) << run.detail << U8(ui_.log);
  EXPECT_TRUE(fs::exists(lib_ / "YUKI" / "2.mp3")) << U8(ui_.log);
  RestoreReport back = Restore(lib_ / "list.csv");
  EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << U8(ui_.log);
  EXPECT_EQ(Snapshot(lib_), before);
}

TEST_F(UndoCasesTest, FolderThatCannotBeRestoredDoesNotStopTheRest) {
  const std::string tag = RawTag("old", "artist", "album", '\0');
  Mp3("東京/東京.mp3", tag);
  Mp3("夜/夜.mp3", tag);
  Mp3("ＡＢ/夜.mp3", tag);
  RunReport run = Convert();
  ASSERT_EQ(run.outcome, RunReport::Outcome::kCompleted) << run.detail << U8(ui_.log);
  ASSERT_TRUE(fs::is_directory(lib_ / "ﾄｳｷｮｳ")) << U8(ui_.log);
  // One folder is moved away by hand, another's old name is taken.
  fs::rename(lib_ / "ﾄｳｷｮｳ", dir() / "elsewhere");
  fs::create_directory(lib_ / "ＡＢ");
  RestoreReport back = Restore(lib_ / "list.csv");
  EXPECT_EQ(back.outcome, RestoreReport::Outcome::kIncomplete);
  const std::string log = U8(ui_.log);
  EXPECT_NE(log.find("見つからないフォルダがあります。\r\n　フォルダ名　：　" +
                     (lib_ / "ﾄｳｷｮｳ").native()),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("復元に失敗したフォルダがあります。\r\n　現在のフォルダ名　：　" +
                     (lib_ / "AB").native()),
            std::string::npos)
      << log;
  // Everything else came back: the folder 夜, the file in it, and the file
  // inside the folder left under its new name, with its tag.
  EXPECT_TRUE(fs::exists(lib_ / "夜" / "夜.mp3"));
  EXPECT_TRUE(fs::exists(lib_ / "AB" / "夜.mp3"));
  EXPECT_EQ(ReadBytes(lib_ / "AB" / "夜.mp3"), std::string(200, '\xAA') + tag);
  EXPECT_EQ(ReadBytes(lib_ / "夜" / "夜.mp3"), std::string(200, '\xAA') + tag);
  EXPECT_EQ(back.details.unreachable, 1);  // the file in the missing folder
}

TEST_F(UndoCasesTest, CheckOnlyRunKeepsThePreviousListInTheHistory) {
  Mp3("東京.mp3");
  const auto before = Snapshot(lib_);
  ASSERT_EQ(Convert().outcome, RunReport::Outcome::kCompleted);
  const std::string first_list = ReadBytes(lib_ / "list.csv");
  app_.settings.FlagCheckOnlyFilename = 1;
  app_.settings.FlagCheckOnlyID3Tag = 1;
  ASSERT_EQ(Convert().outcome, RunReport::Outcome::kCompleted);
  ASSERT_EQ(Convert().outcome, RunReport::Outcome::kCompleted);
  // The check-only lists record nothing applied: only the first is kept.
  std::vector<HistoryEntry> kept = ListHistory(app_.folder);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(ReadBytes(kept[0].list), first_list);
  EXPECT_TRUE(fs::exists(UndoRecordPath(kept[0].list)));
  EXPECT_EQ(kept[0].renames, 1);
  EXPECT_EQ(kept[0].folder, Text16(lib_) + u"/");
  // The check-only list restores nothing, and says so by its counts.
  RestoreReport nothing = Restore(lib_ / "list.csv");
  EXPECT_EQ(nothing.details.files_restored, 0);
  RestoreReport back = Restore(kept[0].list);
  EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << U8(ui_.log);
  EXPECT_TRUE(back.used_undo_record) << back.undo_notice;
  EXPECT_EQ(Snapshot(lib_), before);
}

// Restored in place, and in a copy of the converted library made elsewhere
// (other inode numbers, the original gone), as after moving to a new disk.
TEST_F(UndoCasesTest, TagBytesModesAndAppendedTagsComeBackExactly) {
  app_.settings.ID3TagTitle = 1;  // the title comes from the file name
  for (const bool copied : {false, true}) {
    SCOPED_TRACE(copied ? "in a copy" : "in place");
    fs::remove_all(lib_);
    // Latin-1 "Café" (which code page 932 cannot hold) padded with NULs, an
    // artist with leading spaces, and a file without a tag, read-only.
    Mp3("東京.mp3", RawTag("x", "  Caf\xE9", "alb", '\0'));
    Mp3("夜.mp3");
    ::chmod((lib_ / "夜.mp3").c_str(), 0444);
    const auto before = Snapshot(lib_);
    RunReport run = Convert();
    ASSERT_EQ(run.outcome, RunReport::Outcome::kCompleted) << run.detail << U8(ui_.log);
    // The run changed the title only: the artist and album keep their bytes.
    const std::string converted = ReadBytes(lib_ / "ﾄｳｷｮｳ.mp3");
    ASSERT_EQ(converted.size(), 328u);
    EXPECT_EQ(converted.substr(200 + 33, 60), RawTag("x", "  Caf\xE9", "alb", '\0').substr(33, 60));
    EXPECT_EQ(ReadBytes(lib_ / "ﾖﾙ.mp3").size(), 328u);
    fs::path library = lib_;
    if (copied) {
      library = dir() / "new disk";
      fs::remove_all(library);
      fs::copy(lib_, library, fs::copy_options::recursive);
      fs::remove_all(lib_);
    }
    ui_ = RecordingFrontEnd();
    RunState state;
    RestoreReport back = RunRestore(app_, state, Text16(library / "list.csv"),
                                    copied ? Text16(library) : std::u16string());
    EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << U8(ui_.log);
    EXPECT_TRUE(back.used_undo_record) << back.undo_notice;
    EXPECT_EQ(Snapshot(library), before);
  }
}

TEST_F(UndoCasesTest, ListInCodePage932IsNotReadAsUtf8) {
  // ﾃｽ is C3 BD in code page 932, which is also valid UTF-8 (ý).
  RunState converted;
  FileEntry& e = AddEntry(converted, Text16(lib_) + u"/", u"ﾃｽ.mp3", 1);
  e.NewName = u"tesu.mp3";
  e.OldTitle = u"ﾃｽ";
  e.NewTitle = u"tesu";
  e.RenameFlag = e.TagFlag = 1;
  converted.EntryCount = 1;
  sample::WriteMp3(lib_, u"tesu.mp3", 64, sample::Tag{u"tesu", u"", u"", u"", u"", 0});
  ASSERT_EQ(WriteRenameList(app_, converted), 1);
  const std::string bytes = ReadBytes(lib_ / "list.csv");
  ASSERT_NE(bytes.find("\xC3\xBD"), std::string::npos);
  ASSERT_FALSE(bytes.starts_with("\xEF\xBB\xBF"));
  // With a record beside it that belongs to no reading of it, and no name of
  // either reading on disk, which one is meant cannot be told: refused.
  WriteBytes(UndoRecordPath(lib_ / "list.csv"), "tarvel-undo 1\nlist 1 0000000000000001\n");
  RestoreReport refused = Restore(lib_ / "list.csv");
  EXPECT_EQ(refused.outcome, RestoreReport::Outcome::kListUnreadable);
  EXPECT_NE(refused.detail.find("neither its undo record nor the names on disk"), std::string::npos)
      << refused.detail;
  EXPECT_TRUE(fs::exists(lib_ / "tesu.mp3"));
  fs::remove(UndoRecordPath(lib_ / "list.csv"));
  RestoreReport back = Restore(lib_ / "list.csv");
  EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << U8(ui_.log);
  ASSERT_TRUE(fs::exists(lib_ / "ﾃｽ.mp3"));
  ID3TagData tag;
  ASSERT_EQ(ReadID3Tag(Text16(lib_ / "ﾃｽ.mp3"), tag), 1);
  EXPECT_EQ(tag.Title, u"ﾃｽ");
}

// A list an editor saved again in another encoding still finds its record:
// the bytes this program writes for the list's rows are those the record
// belongs to.
TEST_F(UndoCasesTest, AListSavedAgainInUtf8StillFindsItsRecord) {
  for (int i = 0; i < 3; ++i) Mp3("夜" + std::to_string(i) + ".mp3", RawTag("t", "a", "b", ' '));
  const auto before = Snapshot(lib_);
  ASSERT_EQ(Convert().outcome, RunReport::Outcome::kCompleted) << U8(ui_.log);
  const std::string bytes = ReadBytes(lib_ / "list.csv");
  ASSERT_FALSE(bytes.starts_with("\xEF\xBB\xBF"));
  WriteBytes(lib_ / "list.csv", "\xEF\xBB\xBF" + Utf16ToUtf8(DecodeCp932(bytes)));
  RestoreReport back = Restore(lib_ / "list.csv");
  EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << U8(ui_.log);
  EXPECT_TRUE(back.used_undo_record) << back.undo_notice;
  EXPECT_EQ(Snapshot(lib_), before);
}

TEST_F(UndoCasesTest, InterruptedRunReportsTheFilesItNeverReachedOnce) {
  for (int i = 0; i < 40; ++i) Mp3("夜" + std::to_string(i) + ".mp3");
  const auto before = Snapshot(lib_);
  // The first new name is taken by a link (which gets no row) once the run
  // has checked its changes: the file stage stops there.
  testing::FaultDiskOps disk;
  disk.Add({.call = testing::DiskCall::kChange, .error = 0, .before = [&] {
              ASSERT_EQ(::symlink("nowhere", (lib_ / "ﾖﾙ0.mp3").c_str()), 0);
            }});
  RunReport run = Convert(disk);
  ASSERT_EQ(run.outcome, RunReport::Outcome::kStopped) << U8(ui_.log);
  RestoreReport back = Restore(lib_ / "list.csv");
  EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << U8(ui_.log);
  const std::string log = U8(ui_.log);
  EXPECT_EQ(log.find("見つからないファイル"), std::string::npos) << log;
  EXPECT_NE(log.find("\r\n40個のファイルまたはフォルダは既に元の名前です。\r\n"), std::string::npos)
      << log;
  fs::remove(lib_ / "ﾖﾙ0.mp3");
  EXPECT_EQ(Snapshot(lib_), before);
}

TEST_F(UndoCasesTest, FailedTagWriteStopsTheRunAndNeverWritesThroughALink) {
  Mp3("東京.mp3", RawTag("old", "", "", ' '));
  WriteBytes(dir() / "victim.txt", std::string(300, 'v'));
  app_.settings.ID3TagTitle = 1;
  // Before the first tag write, the file is replaced by a link to another file.
  testing::FaultDiskOps disk;
  disk.Add({.call = testing::DiskCall::kChange, .error = 0, .before = [&] {
              fs::remove(lib_ / "東京.mp3");
              fs::create_symlink(dir() / "victim.txt", lib_ / "東京.mp3");
            }});
  RunReport run = Convert(disk);
  EXPECT_EQ(run.outcome, RunReport::Outcome::kStopped);
  EXPECT_NE(U8(ui_.log).find("ID3Tagの変換中にエラーが発生しました。\r\n処理を中断します。"),
            std::string::npos)
      << U8(ui_.log);
  EXPECT_NE(run.detail.find("東京.mp3"), std::string::npos) << run.detail;
  EXPECT_EQ(ReadBytes(dir() / "victim.txt"), std::string(300, 'v'));
  EXPECT_TRUE(fs::is_symlink(lib_ / "東京.mp3"));
}

// Another program changes a file between the scan and the tag write: the
// write is refused, since the undo record no longer holds the bytes it would
// replace, and the run stops with the file as the other program left it.

TEST_F(UndoCasesTest, TagWriteRefusesAFileChangedSinceTheScan) {
  const std::string audio(200, '\xAA');
  const std::string tag = RawTag("old", "", "", ' ');
  struct Case {
    const char* name;
    std::string bytes;  // the file after the other program's change
    bool replace;       // a new file put in its place rather than written in place
  } cases[] = {
      {"other tag bytes, same size", audio + RawTag("new", "", "", ' '), false},
      {"grown by a second tag", audio + tag + tag, false},
      {"tag removed", audio + std::string(128, '\xAA'), false},
      {"replaced by an identical copy", audio + tag, true},
  };
  app_.settings.ID3TagTitle = 1;
  for (const Case& c : cases) {
    fs::remove_all(lib_);
    fs::create_directories(lib_);
    Mp3("東京.mp3", tag);
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kChange, .error = 0, .before = [&] {
                const fs::path target = lib_ / "東京.mp3";
                if (c.replace) {
                  WriteBytes(lib_ / "copy.tmp", c.bytes);
                  fs::rename(lib_ / "copy.tmp", target);
                } else {
                  WriteBytes(target, c.bytes);
                }
              }});
    RunReport run = Convert(disk);
    EXPECT_EQ(run.outcome, RunReport::Outcome::kStopped) << c.name;
    EXPECT_NE(U8(ui_.log).find("ID3Tagの変換中にエラーが発生しました。"), std::string::npos)
        << c.name;
    EXPECT_NE(run.detail.find("changed since it was read"), std::string::npos)
        << c.name << ": " << run.detail;
    EXPECT_EQ(ReadBytes(lib_ / "東京.mp3"), c.bytes) << c.name;
  }
}

// A stage of the restore that meets the unexpected (here an exception out of
// a rename) stops the restore with its own message; the folder stage's
// message is not followed by a blank line, the file stage's is.
TEST_F(UndoCasesTest, RestoreThatCannotRenameStopsWithItsStageMessage) {
  const struct {
    const char* name;  // the renamed entry whose restore fails
    std::string_view log_end;
  } kCases[] = {
      {"ﾄｳｷｮｳ", "\r\nフォルダ名の復元中にエラーが発生しました。\r\n処理を中断します。\r\n"},
      {"ﾖﾙ.mp3", "\r\nファイル名の復元中にエラーが発生しました。\r\n処理を中断します。\r\n\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(lib_);
    Mp3("東京/夜.mp3");
    ASSERT_EQ(Convert().outcome, RunReport::Outcome::kCompleted) << U8(ui_.log);
    ASSERT_TRUE(fs::exists(lib_ / "ﾄｳｷｮｳ" / "ﾖﾙ.mp3"));
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kRename, .name = c.name, .error = 0, .before = [] {
                throw std::runtime_error("the disk went away");
              }});
    RestoreReport back = Restore(lib_ / "list.csv", disk);
    EXPECT_EQ(back.outcome, RestoreReport::Outcome::kStopped);
    EXPECT_EQ(back.detail, "unexpected error: the disk went away");
    EXPECT_TRUE(U8(ui_.log).ends_with(c.log_end)) << U8(ui_.log);
  }
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// A list that cannot be written stops the run before anything changes, its
// message set off from what the log said before.
TEST_F(UndoCasesTest, AListThatCannotBeWrittenStopsTheRunFirst) {
  Mp3("夜.mp3");
  fs::create_directories(lib_ / "list.csv" / "x");
  const auto before = Snapshot(lib_);
  RunReport run = Convert();
  EXPECT_EQ(run.outcome, RunReport::Outcome::kStopped);
  EXPECT_FALSE(run.list_written);
  // After the count of names found and its blank line, one more line end.
  EXPECT_TRUE(U8(ui_.log).ends_with(
      "取得しました。\r\n\r\n\r\nCSVファイルの作成に失敗しました。\r\n処理を中断します。\r\n\r\n"))
      << U8(ui_.log);
  EXPECT_EQ(Snapshot(lib_), before);
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// With standard input closed (a job started without one), the folders a run
// and its restore open may get descriptor 0; both still go all the way.
TEST_F(UndoCasesTest, RunAndRestoreWithStandardInputClosed) {
  Mp3("東京/夜.mp3", RawTag("old", "", "", ' '));
  const auto before = Snapshot(lib_);
  EXPECT_EXIT(
      {
        ::close(0);
        const bool ok = Convert().outcome == RunReport::Outcome::kCompleted &&
                        fs::exists(lib_ / "ﾄｳｷｮｳ" / "ﾖﾙ.mp3") &&
                        Restore(lib_ / "list.csv").outcome == RestoreReport::Outcome::kCompleted &&
                        Snapshot(lib_) == before;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tarvel
