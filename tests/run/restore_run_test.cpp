#include "run/restore_run.h"

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "files/id3_tag.h"
#include "files/rename_list.h"
#include "files/run_history.h"
#include "files/undo_record.h"
#include "platform/library_lock.h"
#include "platform/text.h"
#include "run/run_test_support.h"
#include "sample_library.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

namespace fs = std::filesystem;

using ::tarvel::testing::Text16;

// A library after a conversion run, with the list that run wrote: rows are
// added as the run would have made them and the items put on disk under
// their new names.
class RestoreTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    lib_ = dir() / "lib";
    fs::create_directories(lib_);
    app_.ui = &ui_;
    app_.settings.FlagDisplayLog = 1;
    app_.settings.FlagPathSaveCSV = 1;
    app_.settings.PathDataFolder = Text16(lib_);
  }

  std::u16string Folder(const fs::path& rel) {
    return Text16(rel.empty() ? lib_ : lib_ / rel) + u"/";
  }

  FileEntry& Row(const fs::path& folder, std::u16string_view old_name, std::u16string_view new_name,
                 int32_t is_file) {
    FileEntry& e = AddEntry(converted_, Folder(folder), old_name, is_file);
    e.NewName = new_name;
    e.RenameFlag = new_name != old_name ? 1 : 0;
    return e;
  }

  // A file row whose tag went from `old_title` to `new_title`; the file
  // is written under its new name with the new texts.
  FileEntry& FileRow(const fs::path& folder, std::u16string_view old_name,
                     std::u16string_view new_name, std::u16string_view old_title,
                     std::u16string_view new_title) {
    FileEntry& e = Row(folder, old_name, new_name, 1);
    e.OldTitle = old_title;
    e.NewTitle = new_title;
    e.OldArtist = e.NewArtist = u"artist";
    e.TagFlag = old_title != new_title ? 1 : 0;
    sample::WriteMp3(lib_ / folder, new_name, 64,
                     sample::Tag{std::u16string(new_title), u"artist", u"", u"1999", u"note", 7});
    return e;
  }

  fs::path WriteList() {
    converted_.EntryCount = static_cast<int32_t>(converted_.EntryTable.size()) - 1;
    EXPECT_EQ(WriteRenameList(app_, converted_), 1);
    ui_.log.clear();
    ui_.messages.clear();
    return lib_ / "list.csv";
  }

  RestoreReport Restore(const fs::path& list) { return RunRestore(app_, run_, Text16(list)); }

  std::u16string Title(const fs::path& file) {
    ID3TagData tag;
    if (ReadID3Tag(Text16(file), tag) != 1) return u"<no tag>";
    return tag.Title;
  }

  fs::path lib_;
  AppState app_;
  RecordingFrontEnd ui_;
  RunState converted_;
  RunState run_;
};

TEST_F(RestoreTest, ListWithoutFlagsReportsThreeZeroCountsInBothDisplayModes) {
  struct {
    int32_t display_log;
    std::u16string log;
    std::vector<std::u16string> messages;
  } kCases[] = {
      {1,
       u"\r\n復元を開始します。\r\n0個のフォルダ名を復元しました。\r\n0個のファイル名を復元しました"
       u"。"
       u"\r\n0個のID3Tagを復元しました。\r\n",
       {}},
      {0,
       u"",
       {u"0個のフォルダ名を復元しました。", u"0個のファイル名を復元しました。",
        u"0個のID3Tagを復元しました。"}},
  };
  Row("", u"フォルダ", u"フォルダ", 0);
  FileRow("フォルダ", u"a.mp3", u"a.mp3", u"same", u"same");
  fs::path list = WriteList();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.display_log);
    app_.settings.FlagDisplayLog = c.display_log;
    ui_ = RecordingFrontEnd();
    RestoreReport r = Restore(list);
    EXPECT_EQ(r.outcome, RestoreReport::Outcome::kCompleted) << r.detail;
    EXPECT_EQ(U8(ui_.log), U8(c.log));
    ASSERT_EQ(ui_.messages.size(), c.messages.size());
    for (size_t i = 0; i < c.messages.size(); ++i)
      EXPECT_EQ(U8(ui_.messages[i]), U8(c.messages[i]));
    EXPECT_EQ(ui_.show_log_count, c.display_log);
    EXPECT_EQ(run_.EntryTable.size(), 3u);
  }
}

TEST_F(RestoreTest, UnreadableListStopsBeforeAnythingInBothDisplayModes) {
  WriteBytes(lib_ / "empty.csv", "");
  WriteBytes(lib_ / "short.csv", "\"\",\"\"\r\n\"1\",\"x\"\r\n");
  struct {
    const char* file;
  } kLists[] = {{"missing.csv"}, {"empty.csv"}, {"short.csv"}};
  run_.EntryTable.resize(5);
  for (int32_t display_log : {1, 0}) {
    for (const auto& l : kLists) {
      SCOPED_TRACE(std::string(l.file) + " log " + std::to_string(display_log));
      app_.settings.FlagDisplayLog = display_log;
      ui_ = RecordingFrontEnd();
      RestoreReport r = Restore(lib_ / l.file);
      EXPECT_EQ(r.outcome, RestoreReport::Outcome::kListUnreadable);
      EXPECT_FALSE(r.detail.empty());
      if (display_log == 1) {
        EXPECT_EQ(U8(ui_.log),
                  "CSVファイルの読み込みに失敗しました。\r\n処理を中断します。\r\n\r\n");
        EXPECT_TRUE(ui_.messages.empty());
      } else {
        EXPECT_EQ(ui_.log, u"");
        ASSERT_EQ(ui_.messages.size(), 1u);
        EXPECT_EQ(U8(ui_.messages[0]),
                  "CSVファイルの読み込みに失敗しました。\r\n処理を中断します。");
      }
      EXPECT_EQ(run_.EntryTable.size(), 5u);  // the table is left as it was
    }
  }
}

TEST_F(RestoreTest, DeletedFileIsReportedMissingAndTheOthersAreRestored) {
  FileRow("", u"あ.mp3", u"ｱ.mp3", u"あ", u"ｱ");
  FileRow("", u"い.mp3", u"ｲ.mp3", u"い", u"ｲ");
  FileRow("", u"う.mp3", u"ｳ.mp3", u"う", u"ｳ");
  fs::path list = WriteList();
  fs::remove(lib_ / "ｲ.mp3");
  for (int32_t display_log : {1, 0}) {
    SCOPED_TRACE(display_log);
    app_.settings.FlagDisplayLog = display_log;
    ui_ = RecordingFrontEnd();
    RestoreReport r = Restore(list);
    EXPECT_EQ(r.outcome, RestoreReport::Outcome::kIncomplete) << r.detail;
    const std::string missing =
        "見つからないファイルがあります。\r\n　ファイル名　：　" + (lib_ / "ｲ.mp3").native();
    if (display_log == 1) {
      // The first time two files come back; the second time they are already
      // under their old names, one report says so, and their tags are
      // written again.
      const std::string expected_first =
          "\r\n復元を開始します。\r\n0個のフォルダ名を復元しました。\r\n" + missing +
          "\r\n2個のファイル名を復元しました。\r\n2個のID3Tagを復元しました。\r\n";
      EXPECT_EQ(U8(ui_.log), expected_first);
      EXPECT_EQ(r.details.missing, std::vector<std::string>{(lib_ / "ｲ.mp3").native()});
      // The deleted file is reported once, as missing; its tag is not
      // reported again.
      EXPECT_TRUE(r.details.skipped.empty());
      EXPECT_EQ(r.details.NotRestored(), 1u);
    } else {
      ASSERT_EQ(ui_.messages.size(), 5u);
      EXPECT_EQ(U8(ui_.messages[1]), missing);
      EXPECT_EQ(U8(ui_.messages[2]), "0個のファイル名を復元しました。");
      EXPECT_EQ(U8(ui_.messages[3]), "2個のID3Tagを復元しました。");
      EXPECT_EQ(U8(ui_.messages[4]), "2個のファイルまたはフォルダは既に元の名前です。");
    }
    EXPECT_EQ(Title(lib_ / "あ.mp3"), u"あ");
    EXPECT_EQ(Title(lib_ / "う.mp3"), u"う");
    EXPECT_FALSE(fs::exists(lib_ / "い.mp3"));
  }
}

TEST_F(RestoreTest, TakenOldNameIsAConflictAndNeitherFileChanges) {
  FileRow("", u"曲.mp3", u"ｷｮｸ.mp3", u"曲", u"ｷｮｸ");
  FileRow("", u"歌.mp3", u"ｳﾀ.mp3", u"歌", u"ｳﾀ");
  fs::path list = WriteList();
  // Another file took the old name meanwhile.
  sample::WriteMp3(lib_, u"曲.mp3", 32, sample::Tag{u"other", u"", u"", u"", u"", 0});
  for (int32_t display_log : {1, 0}) {
    SCOPED_TRACE(display_log);
    app_.settings.FlagDisplayLog = display_log;
    ui_ = RecordingFrontEnd();
    RestoreReport r = Restore(list);
    EXPECT_EQ(r.outcome, RestoreReport::Outcome::kIncomplete) << r.detail;
    const std::string conflict = "復元に失敗したファイルがあります。\r\n　現在のファイル名　：　" +
                                 (lib_ / "ｷｮｸ.mp3").native() + "\r\n　　元のファイル名　：　" +
                                 (lib_ / "曲.mp3").native() + "\r\n　手動で復元をお願いします。";
    if (display_log == 1) {
      // The report ends its own line in the log, so the count starts a new one.
      EXPECT_NE(U8(ui_.log).find(conflict + "\r\n1個のファイル名を復元しました。\r\n"),
                std::string::npos)
          << U8(ui_.log);
      EXPECT_EQ(r.details.files_restored, 1);
    } else {
      ASSERT_GE(ui_.messages.size(), 2u);
      EXPECT_EQ(U8(ui_.messages[1]), conflict);
      EXPECT_EQ(r.details.files_restored, 0);  // 歌.mp3 came back the first time
    }
    EXPECT_EQ(r.details.conflicts.size(), 1u);
    EXPECT_EQ(r.details.rows_not_back, std::set<size_t>{1});
    EXPECT_TRUE(fs::exists(lib_ / "ｷｮｸ.mp3"));
    EXPECT_EQ(Title(lib_ / "ｷｮｸ.mp3"), u"ｷｮｸ");
    EXPECT_EQ(Title(lib_ / "曲.mp3"), u"other");  // the other file's tag is not touched
    EXPECT_EQ(Title(lib_ / "歌.mp3"), u"歌");
  }
}

TEST_F(RestoreTest, FolderRenamedByHandIsReportedAndTheRestGoesOn) {
  Row("", u"歌手", u"ｶｼｭ", 0);
  FileRow("歌手", u"曲.mp3", u"ｷｮｸ.mp3", u"曲", u"ｷｮｸ");
  FileRow("", u"歌.mp3", u"ｳﾀ.mp3", u"歌", u"ｳﾀ");
  fs::path list = WriteList();
  // The run renamed the folder; the user then moved it.
  fs::rename(lib_ / "歌手", lib_ / "by hand");
  const std::string missing =
      "見つからないフォルダがあります。\r\n　フォルダ名　：　" + (lib_ / "ｶｼｭ").native();
  struct {
    int32_t display_log;
    std::string log;
    std::vector<std::string> messages;
  } kCases[] = {
      {1,
       "\r\n復元を開始します。\r\n" + missing +
           "\r\n0個のフォルダ名を復元しました。\r\n1個のファイル名を復元しました。\r\n"
           "1個のID3Tagを復元しました。\r\n",
       {}},
      {0,
       "",
       {missing, "0個のフォルダ名を復元しました。", "0個のファイル名を復元しました。",
        "1個のID3Tagを復元しました。", "1個のファイルまたはフォルダは既に元の名前です。"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.display_log);
    app_.settings.FlagDisplayLog = c.display_log;
    ui_ = RecordingFrontEnd();
    RestoreReport r = Restore(list);
    EXPECT_EQ(r.outcome, RestoreReport::Outcome::kIncomplete);
    EXPECT_EQ(U8(ui_.log), c.log);
    ASSERT_EQ(ui_.messages.size(), c.messages.size());
    for (size_t i = 0; i < c.messages.size(); ++i) EXPECT_EQ(U8(ui_.messages[i]), c.messages[i]);
    // The file in the folder the restore cannot find is counted, not listed.
    EXPECT_EQ(r.details.unreachable, 1);
    EXPECT_TRUE(fs::exists(lib_ / "by hand" / "ｷｮｸ.mp3"));
    EXPECT_EQ(Title(lib_ / "歌.mp3"), u"歌");  // the rest comes back
  }
}

TEST_F(RestoreTest, AListNameThatWouldLeaveTheFolderIsRefusedBeforeAnythingChanges) {
  // A hand-edited list whose old name would leave the folder.
  FileRow("", u"../escape.mp3", u"ｱ.mp3", u"あ", u"ｱ");
  fs::path list = WriteList();
  RestoreReport r = Restore(list);
  EXPECT_EQ(r.outcome, RestoreReport::Outcome::kListUnreadable);
  EXPECT_NE(r.detail.find("row 1 of the list: OldName \"../escape.mp3\" is not a single name"),
            std::string::npos)
      << r.detail;
  EXPECT_EQ(U8(ui_.log), "CSVファイルの読み込みに失敗しました。\r\n処理を中断します。\r\n\r\n");
  EXPECT_TRUE(fs::exists(lib_ / "ｱ.mp3"));
  EXPECT_FALSE(fs::exists(dir() / "escape.mp3"));
}

// The list names its library by the folder of row 1; while another run or
// restore holds that library, or one above or below it, the restore stops
// with the lock's message before anything changes.
TEST_F(RestoreTest, ALibraryAnotherRunHoldsIsRefusedBeforeAnythingChanges) {
  FileRow("", u"曲.mp3", u"ｷｮｸ.mp3", u"曲", u"ｷｮｸ");
  fs::create_directories(lib_ / "sub");
  fs::path list = WriteList();
  const struct {
    const char* what;
    fs::path held;
  } kCases[] = {
      {"the library itself", lib_},
      {"a folder inside it", lib_ / "sub"},
      {"the folder around it", dir()},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    LibraryLock other;  // as another process would hold it
    ASSERT_EQ(other.Take(c.held), LibraryLock::Status::kTaken);
    ui_ = RecordingFrontEnd();
    RestoreReport r = Restore(list);
    EXPECT_EQ(r.outcome, RestoreReport::Outcome::kBusy);
    EXPECT_FALSE(r.detail.empty());
    EXPECT_EQ(U8(ui_.log), "");
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(U8(ui_.messages[0]),
              "このフォルダでは別の変換または復元が実行中です。\r\n処理を中断します。");
    EXPECT_TRUE(fs::exists(lib_ / "ｷｮｸ.mp3"));
    EXPECT_FALSE(app_.run_in_progress);
  }
  // Free again, the restore goes through.
  EXPECT_EQ(Restore(list).outcome, RestoreReport::Outcome::kCompleted);
  EXPECT_EQ(Title(lib_ / "曲.mp3"), u"曲");
}

// A hand-made list whose row reaches its folder through a symbolic link,
// under the folder's old name or the new name a folder row gave it, is
// refused before anything changes, naming the row and the link.
TEST_F(RestoreTest, ARowReachedThroughALinkIsRefusedBeforeAnythingChanges) {
  const fs::path outside = dir() / "outside";
  const struct {
    const char* what;
    std::function<void()> make;  // the rows after row 1 and what is on disk
    const char* problem;
    fs::path link;
  } kCases[] = {
      {"a link to a folder outside the library",
       [&] {
         fs::create_directory_symlink(outside, lib_ / "link");
         FileRow("link", u"外.mp3", u"ｿﾄ.mp3", u"外", u"ｿﾄ");
       },
       "row 2 of the list", lib_ / "link"},
      {"a link to a folder inside the library",
       [&] {
         fs::create_directories(lib_ / "real");
         fs::create_directory_symlink(lib_ / "real", lib_ / "link");
         FileRow("link", u"中.mp3", u"ﾅｶ.mp3", u"中", u"ﾅｶ");
       },
       "row 2 of the list", lib_ / "link"},
      {"a link deeper down",
       [&] {
         fs::create_directories(lib_ / "a");
         fs::create_directory_symlink(outside, lib_ / "a" / "link");
         FileRow("a/link", u"外.mp3", u"ｿﾄ.mp3", u"外", u"ｿﾄ");
       },
       "row 2 of the list", lib_ / "a" / "link"},
      {"a link under the new name of a renamed folder",
       [&] {
         Row("", u"旧", u"ｷｭｳ", 0);
         fs::create_directory_symlink(outside, lib_ / "旧");
         FileRow("旧", u"外.mp3", u"ｿﾄ.mp3", u"外", u"ｿﾄ");
         fs::rename(lib_ / "旧", lib_ / "ｷｭｳ");
       },
       "row 3 of the list", lib_ / "ｷｭｳ"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(lib_);
    fs::remove_all(outside);
    fs::create_directories(lib_);
    fs::create_directories(outside);
    converted_ = RunState();
    FileRow("", u"曲.mp3", u"ｷｮｸ.mp3", u"曲", u"ｷｮｸ");
    c.make();
    const fs::path list = WriteList();
    const auto before = testing::ExactTree(dir());
    RestoreReport r = Restore(list);
    EXPECT_EQ(r.outcome, RestoreReport::Outcome::kListUnreadable);
    EXPECT_NE(r.detail.find(c.problem), std::string::npos) << r.detail;
    EXPECT_NE(r.detail.find("symbolic link \"" + c.link.native() + "\""), std::string::npos)
        << r.detail;
    EXPECT_EQ(U8(ui_.log), "CSVファイルの読み込みに失敗しました。\r\n処理を中断します。\r\n\r\n");
    EXPECT_EQ(testing::ExactTree(dir()), before);
  }
}

// A run stopped before a folder was renamed, and a link now stands at its
// new name: the folder is reached under its old name, and nothing behind the
// link is taken for a step on the way.
TEST_F(RestoreTest, ALinkAtTheNewNameOfAFolderStillUnderItsOldOneIsPassedOver) {
  const fs::path outside = dir() / "outside";
  fs::create_directories(outside);
  fs::create_directory_symlink(dir() / "nowhere", outside / "sub");
  Row("", u"旧", u"ｷｭｳ", 0);
  FileRow("旧/sub", u"曲.mp3", u"ｷｮｸ.mp3", u"曲", u"ｷｮｸ");
  fs::create_directory_symlink(outside, lib_ / "ｷｭｳ");
  RestoreReport r = Restore(WriteList());
  EXPECT_EQ(r.outcome, RestoreReport::Outcome::kCompleted) << r.detail << U8(ui_.log);
  EXPECT_EQ(Title(lib_ / "旧" / "sub" / "曲.mp3"), u"曲");
  EXPECT_TRUE(fs::is_symlink(outside / "sub"));
}

// A list whose library now lies elsewhere (a copy, the original gone): the
// place given, or the front end's answer when none is given, takes every
// row; without one the restore stops before anything changes.
TEST_F(RestoreTest, AMovedLibraryIsRestoredWhereItLiesNow) {
  Row("", u"歌手", u"ｶｼｭ", 0);
  FileRow("歌手", u"曲.mp3", u"ｷｮｸ.mp3", u"曲", u"ｷｮｸ");
  fs::rename(lib_ / "歌手", lib_ / "ｶｼｭ");
  const fs::path list_in_copy = fs::path("list.csv");
  WriteList();
  const fs::path pristine = dir() / "pristine";
  const fs::path moved = dir() / "moved";
  fs::copy(lib_, pristine, fs::copy_options::recursive);
  fs::remove_all(lib_);
  const std::u16string listed = Text16(lib_) + u"/";
  const struct {
    const char* what;
    std::u16string given;
    std::optional<std::u16string> answer;
    RestoreReport::Outcome outcome;
    bool asked;
  } kCases[] = {
      {"the new place given", Text16(moved), std::nullopt, RestoreReport::Outcome::kCompleted,
       false},
      {"given with a slash", Text16(moved) + u"/", std::nullopt, RestoreReport::Outcome::kCompleted,
       false},
      {"the front end's answer", u"", Text16(moved), RestoreReport::Outcome::kCompleted, true},
      {"no answer", u"", std::nullopt, RestoreReport::Outcome::kLibraryMissing, true},
      {"a place that does not exist", Text16(dir() / "nowhere"), Text16(moved),
       RestoreReport::Outcome::kLibraryMissing, false},
      {"the root folder", u"/", std::nullopt, RestoreReport::Outcome::kListUnreadable, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(moved);
    fs::copy(pristine, moved, fs::copy_options::recursive);
    ui_ = RecordingFrontEnd();
    ui_.library_answer = c.answer;
    run_ = RunState();
    RestoreReport r = RunRestore(app_, run_, Text16(moved / list_in_copy), c.given);
    EXPECT_EQ(r.outcome, c.outcome) << r.detail;
    EXPECT_EQ(ui_.library_questions,
              c.asked ? std::vector<std::u16string>{listed} : std::vector<std::u16string>{});
    const bool restored = c.outcome == RestoreReport::Outcome::kCompleted;
    EXPECT_EQ(fs::exists(moved / "歌手" / "曲.mp3"), restored);
    EXPECT_EQ(fs::exists(moved / "ｶｼｭ" / "ｷｮｸ.mp3"), !restored);
    if (restored) {
      EXPECT_EQ(U8(Title(moved / "歌手" / "曲.mp3")), "曲");
    }
    if (c.outcome == RestoreReport::Outcome::kLibraryMissing) {
      // The whole log: the notice, the folder and the abort line.
      EXPECT_EQ(U8(ui_.log), "変換したフォルダが見つかりません。\r\n　フォルダ名　：　" +
                                 U8(c.given.empty() ? listed : c.given + u"/") +
                                 "\r\n処理を中断します。\r\n\r\n");
      EXPECT_EQ(r.detail, "the library folder " + U8(c.given.empty() ? listed : c.given + u"/") +
                              " does not exist");
    }
  }
}

TEST_F(RestoreTest, RestoringTwiceGivesTheSameTree) {
  Row("", u"外", u"ｿﾄ", 0);
  Row("外", u"中", u"ﾅｶ", 0);
  FileRow("外/中", u"曲.mp3", u"ｷｮｸ.mp3", u"曲", u"ｷｮｸ");
  FileRow("外", u"同じ.mp3", u"同じ.mp3", u"歌", u"ｳﾀ");  // tag only
  // On disk as the run left it: the folders under their new names.
  fs::rename(lib_ / "外", lib_ / "ｿﾄ");
  fs::rename(lib_ / "ｿﾄ" / "中", lib_ / "ｿﾄ" / "ﾅｶ");
  fs::path list = WriteList();

  RestoreReport first = Restore(list);
  ASSERT_EQ(first.outcome, RestoreReport::Outcome::kCompleted) << first.detail;
  EXPECT_EQ(first.details.folders_restored, 2);
  EXPECT_EQ(first.details.files_restored, 1);
  EXPECT_EQ(first.details.tags_restored, 2);
  // The second time the folders and the file already have their old names
  // and are counted as such, and the tags are written once more.
  RestoreReport second = Restore(list);
  ASSERT_EQ(second.outcome, RestoreReport::Outcome::kCompleted) << second.detail;
  EXPECT_EQ(second.details.folders_restored, 0);
  EXPECT_EQ(second.details.files_restored, 0);
  EXPECT_EQ(second.details.missing.size(), 0u);
  EXPECT_EQ(second.details.already_restored, 3);
  EXPECT_EQ(second.details.tags_restored, 2);
  EXPECT_TRUE(second.details.skipped.empty());
  EXPECT_EQ(Title(lib_ / "外" / "中" / "曲.mp3"), u"曲");
  EXPECT_EQ(Title(lib_ / "外" / "同じ.mp3"), u"歌");
  EXPECT_FALSE(fs::exists(lib_ / "ｿﾄ"));
}

TEST_F(RestoreTest, FolderMissingUnderBothNamesOrOldNameTakenIsReported) {
  struct {
    const char* what;
    bool make_old;
    bool make_new;
    bool old_is_file;
  } kCases[] = {
      {"missing under both names", false, false, false},
      {"old name held by a file", true, false, true},
      {"old name taken by another folder", true, true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(lib_);
    fs::create_directories(lib_);
    converted_ = RunState();
    Row("", u"古い", u"ﾌﾙｲ", 0);
    if (c.make_new) fs::create_directories(lib_ / "ﾌﾙｲ");
    if (c.make_old && c.old_is_file) WriteBytes(lib_ / "古い", "x");
    if (c.make_old && !c.old_is_file) fs::create_directories(lib_ / "古い");
    fs::path list = WriteList();
    RestoreReport r = Restore(list);
    EXPECT_EQ(r.outcome, RestoreReport::Outcome::kIncomplete);
    EXPECT_EQ(r.details.NotRestored(), 1u);
    EXPECT_EQ(fs::exists(lib_ / "ﾌﾙｲ"), c.make_new);
  }
}

TEST_F(RestoreTest, ReadOnlyFileGetsItsOldTagBack) {
  FileRow("", u"曲.mp3", u"ｷｮｸ.mp3", u"曲", u"ｷｮｸ");
  fs::path list = WriteList();
  ::chmod((lib_ / "ｷｮｸ.mp3").c_str(), 0444);
  RestoreReport r = Restore(list);
  ASSERT_EQ(r.outcome, RestoreReport::Outcome::kCompleted) << r.detail;
  ID3TagData tag;
  ASSERT_EQ(ReadID3Tag(Text16(lib_ / "曲.mp3"), tag), 1);
  EXPECT_EQ(tag.Title, u"曲");
  EXPECT_EQ(tag.Year, u"1999");  // the rest of the tag stays
  EXPECT_EQ(tag.Comment, u"note");
  EXPECT_EQ(tag.Genre, 7);
}

TEST_F(RestoreTest, SecondRunWhileOneIsInProgressIsRefused) {
  FileRow("", u"曲.mp3", u"ｷｮｸ.mp3", u"曲", u"ｷｮｸ");
  fs::path list = WriteList();
  app_.run_in_progress = true;
  RestoreReport r = Restore(list);
  EXPECT_EQ(r.outcome, RestoreReport::Outcome::kBusy);
  EXPECT_TRUE(ui_.log.empty());
  EXPECT_TRUE(fs::exists(lib_ / "ｷｮｸ.mp3"));
  EXPECT_TRUE(app_.run_in_progress);
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// The record beside a list may belong to another list (a run that stopped
// between putting its record and its list in place) or be cut short. The
// list's own record is then taken from the history, where it was kept with
// the list; without one there, names and texts come back but the restore
// says that bytes, modes and times were not checked, and is not complete.
TEST_F(RestoreTest, AListIsRestoredWithItsOwnRecordOrSaysItCouldNotCheck) {
  const std::string block = "TAG" + std::string("Caf\xE9 old bytes") + std::string(111, '\0');
  const struct {
    const char* what;
    bool other_list;       // beside it: another list's record, else a cut one
    bool kept_in_history;  // the list and its own record were kept
  } kCases[] = {
      {"another list's record, its own kept", true, true},
      {"a cut record, its own kept", false, true},
      {"another list's record, none kept", true, false},
      {"a cut record, none kept", false, false},
  };
  app_.folder.history_dir = dir() / "history";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(lib_);
    fs::remove_all(app_.folder.history_dir);
    fs::create_directories(lib_);
    converted_ = RunState();
    FileRow("", u"曲.mp3", u"ｷｮｸ.mp3", u"曲", u"ｷｮｸ");
    struct stat st;
    ASSERT_EQ(::stat((lib_ / "ｷｮｸ.mp3").c_str(), &st), 0);
    UndoRecord undo;
    UndoEntry& e = undo.rows[1];
    e.dev = st.st_dev;
    e.ino = st.st_ino;
    e.mode = st.st_mode & 07777;
    e.size = static_cast<uint64_t>(st.st_size);
    e.has_block = e.had_tag = true;
    e.block = block;
    converted_.EntryCount = 1;
    ASSERT_EQ(WriteRenameList(app_, converted_, nullptr, nullptr, &undo), 1);
    const fs::path list = lib_ / "list.csv";
    const std::string own = ReadBytes(UndoRecordPath(list));
    std::string error;
    if (c.kept_in_history) {
      ASSERT_TRUE(KeepPreviousList(app_.folder, list, &error)) << error;
    }
    WriteBytes(UndoRecordPath(list),
               c.other_list ? FormatUndoRecord(undo, 12, 34) : own.substr(0, own.size() - 5));
    ui_ = RecordingFrontEnd();
    RestoreReport r = Restore(list);
    const std::string bytes = ReadBytes(lib_ / "曲.mp3");
    const std::string tail = bytes.substr(bytes.size() - 128);
    const bool unchecked_said =
        U8(ui_.log).find("ファイルの中身・属性・更新日時は確かめられません") != std::string::npos;
    if (c.kept_in_history) {
      EXPECT_EQ(r.outcome, RestoreReport::Outcome::kCompleted) << r.detail << U8(ui_.log);
      EXPECT_TRUE(r.used_undo_record);
      EXPECT_FALSE(r.unchecked);
      EXPECT_EQ(r.undo_record_from, UndoRecordPath(ListHistory(app_.folder).at(0).list).native());
      EXPECT_TRUE(tail == block);
      EXPECT_FALSE(unchecked_said) << U8(ui_.log);
    } else {
      EXPECT_EQ(r.outcome, RestoreReport::Outcome::kIncomplete);
      EXPECT_FALSE(r.used_undo_record);
      EXPECT_TRUE(r.unchecked);
      EXPECT_FALSE(tail == block);
      EXPECT_EQ(Title(lib_ / "曲.mp3"), u"曲");  // names and texts still come back
      EXPECT_TRUE(unchecked_said) << U8(ui_.log);
      EXPECT_EQ(r.details.NotRestored(), 0u);
    }
  }
}

}  // namespace
}  // namespace tarvel
