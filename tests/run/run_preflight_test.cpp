// Runs on real libraries where something cannot be carried out as planned: a
// run refused before its first change leaves the library and the list folder
// as they were, and a file that cannot take a tag does not stop the others.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/tables.h"
#include "files/id3_tag.h"
#include "files/rename_list_reader.h"
#include "platform/library_lock.h"
#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/restore_run.h"
#include "run/run_driver.h"
#include "run/run_test_support.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

using ::tarvel::testing::Text16;

const std::string kAudio(200, '\xAA');

// The title of the file's tag, or "<no tag>".
std::string Title(const fs::path& p) {
  ID3TagData tag;
  return ReadID3Tag(Text16(p), tag) == 1 ? U8(tag.Title) : "<no tag>";
}

class RunPreflightTest : public testing::TempDirTest {
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
    app_.settings.ID3TagTitle = 1;  // titles from the file names
  }
  RunReport Convert() {
    ui_ = RecordingFrontEnd();
    RunState run;
    return RunConversion(app_, run);
  }
  // TagFlag of the list's row for the file called `name` (-1 when none).
  int32_t ListTagFlag(std::u16string_view name) {
    RunState list;
    std::string error;
    EXPECT_EQ(ReadRenameList(Text16(lib_ / "list.csv"), list, &error), 1) << error;
    for (size_t i = 1; i <= LastIndex(list); ++i) {
      if (list.EntryTable[i].OldName == name) return list.EntryTable[i].TagFlag;
    }
    return -1;
  }

  fs::path lib_;
  AppState app_;
  RecordingFrontEnd ui_;
  testing::FixedReadingService fixed_{{u"東京", u"トウキョウ"}, {u"夜", u"よる"}};
};

// While another run or restore holds the library, a run stops before it
// changes anything and says why.
TEST_F(RunPreflightTest, ALibraryAnotherRunHoldsIsRefused) {
  WriteBytes(lib_ / "東京.mp3", kAudio);
  LibraryLock other;  // as another process would hold it
  ASSERT_EQ(other.Take(lib_), LibraryLock::Status::kTaken);
  const auto before = testing::ExactTree(lib_);
  RunReport r = Convert();
  EXPECT_EQ(r.outcome, RunReport::Outcome::kBusy);
  EXPECT_FALSE(r.detail.empty());
  EXPECT_EQ(testing::ExactTree(lib_), before);
}

// A run asked for while one is in progress in this program (the window lets
// events through during a run) is busy: it touches nothing and says nothing.
TEST_F(RunPreflightTest, ARunWhileOneIsInProgressIsBusy) {
  WriteBytes(lib_ / "東京.mp3", kAudio);
  const auto before = testing::ExactTree(lib_);
  app_.run_in_progress = true;
  RunReport r = Convert();
  app_.run_in_progress = false;
  EXPECT_EQ(r.outcome, RunReport::Outcome::kBusy);
  EXPECT_EQ(testing::ExactTree(lib_), before);
  EXPECT_TRUE(ui_.log.empty());
}

TEST_F(RunPreflightTest, FileThatCannotTakeItsTagKeepsItAndTheRunGoesOn) {
  const struct {
    const char* what;
    std::function<void(const fs::path&)> make;  // makes the library's 夜.mp3
    std::string_view log;
    std::string_view detail;  // the end of the report's line for it
  } kCases[] = {
      {"zero bytes", [](const fs::path& p) { WriteBytes(p, ""); },
       "128バイトに満たないファイルなので、ID3Tagは書き込みません：",
       "夜.mp3: 0 bytes, too short to hold a tag"},
      {"50 bytes", [](const fs::path& p) { WriteBytes(p, std::string(50, 'z')); },
       "128バイトに満たないファイルなので、ID3Tagは書き込みません：",
       "夜.mp3: 50 bytes, too short to hold a tag"},
      {"a hard link of あ.mp3",
       [](const fs::path& p) { fs::create_hard_link(p.parent_path() / "あ.mp3", p); },
       "同じファイルの別の名前（ハードリンク）なので、ID3Tagは「",
       "あ.mp3 (a hard link), whose tag is written once"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(lib_);
    fs::create_directories(lib_);
    // あ.mp3 comes first in the table: its row writes the tag.
    WriteBytes(lib_ / "あ.mp3", kAudio);
    c.make(lib_ / "夜.mp3");
    const auto before = testing::ExactTree(lib_);
    const std::string night = ReadBytes(lib_ / "夜.mp3");
    RunReport run = Convert();
    ASSERT_EQ(run.outcome, RunReport::Outcome::kCompleted) << run.detail << U8(ui_.log);
    const std::string log = U8(ui_.log);
    EXPECT_NE(log.find(std::string(c.log)), std::string::npos) << log;
    EXPECT_NE(log.find((lib_ / "夜.mp3").native()), std::string::npos) << log;
    ASSERT_EQ(run.tags_left_alone.size(), 1u);
    EXPECT_TRUE(run.tags_left_alone[0].ends_with(c.detail)) << run.tags_left_alone[0];
    // Both were renamed; あ got its tag (once, when the two are one file),
    // and the list says that the other tag was not written.
    EXPECT_EQ(Title(lib_ / "ｱ.mp3"), "ｱ") << log;
    if (night.size() < 128) {
      EXPECT_EQ(ReadBytes(lib_ / "ﾖﾙ.mp3"), night);
    } else {
      EXPECT_EQ(ReadBytes(lib_ / "ﾖﾙ.mp3").size(), kAudio.size() + 128);
    }
    EXPECT_EQ(ListTagFlag(u"夜.mp3"), 0);
    EXPECT_EQ(ListTagFlag(u"あ.mp3"), 1);
    // The restore gives back every byte (and a hard link stays one file).
    ui_ = RecordingFrontEnd();
    RunState restore;
    RestoreReport back = RunRestore(app_, restore, Text16(lib_ / "list.csv"));
    EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << U8(ui_.log);
    EXPECT_EQ(testing::ExactTree(lib_), before);
    struct stat a {
    }, b{};
    ASSERT_EQ(::stat((lib_ / "あ.mp3").c_str(), &a), 0);
    ASSERT_EQ(::stat((lib_ / "夜.mp3").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino == b.st_ino, a.st_nlink == 2);
  }
}

TEST_F(RunPreflightTest, ChangeThatCannotBeMadeRefusesTheRunBeforeAnyChange) {
  // "ガ" becomes "ｶﾞ", three bytes longer: a name of 253 bytes becomes one
  // of 256, with no limit on the length of names.
  app_.settings.FlagLimit30Char = 0;
  const std::string long_old = "ガ" + std::string(246, 'a') + ".mp3";
  const struct {
    const char* what;
    std::function<void()> make;
    std::string_view log;
    std::string_view detail;
  } kCases[] = {
      {"a file name of 256 bytes", [&] { WriteBytes(lib_ / long_old, kAudio); },
       "新しい名前が長すぎます（256バイト、このフォルダでは255バイトまで）：",
       "the new name is 256 bytes long, more than the 255 bytes"},
      {"a folder name of 256 bytes",
       [&] {
         fs::create_directories(lib_ / long_old);
         WriteBytes(lib_ / long_old / "a.mp3", kAudio);
       },
       "新しい名前が長すぎます（256バイト", "256 bytes long"},
      {"a new name held by a link the scan passes over",
       [&] { fs::create_symlink("nowhere", lib_ / "ﾖﾙ.mp3"); },
       "新しい名前はほかのファイルまたはフォルダが使っています：", "taken by something else"},
      {"a folder whose new name would be \"..\"",
       [&] {
         fs::create_directories(lib_ / "．．");
         WriteBytes(lib_ / "．．" / "a.mp3", kAudio);
       },
       "使えない名前です：", "not a usable name"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(lib_);
    fs::create_directories(lib_);
    // Changes the run would have made before it met the problem: tags, and
    // the renames of the stage.
    WriteBytes(lib_ / "夜.mp3", kAudio);
    WriteBytes(lib_ / "東京.mp3", kAudio);
    c.make();
    const auto before = testing::ExactTree(lib_);
    RunReport run = Convert();
    EXPECT_EQ(run.outcome, RunReport::Outcome::kRefused) << run.detail << U8(ui_.log);
    EXPECT_NE(run.detail.find(std::string(c.detail)), std::string::npos) << run.detail;
    const std::string log = U8(ui_.log);
    EXPECT_NE(log.find(std::string(c.log)), std::string::npos) << log;
    EXPECT_NE(log.find("処理を中断します。"), std::string::npos) << log;
    EXPECT_EQ(log.find("以下のファイルの名前を変更します"), std::string::npos) << log;
    EXPECT_EQ(testing::ExactTree(lib_), before);
    EXPECT_FALSE(fs::exists(lib_ / "list.csv"));
    EXPECT_FALSE(run.list_written);
  }
}

// A data folder that is not set, cannot be listed (here a file of that
// name) or holds no MP3 file stops the run before anything changes, saying
// why on lines of its own.
TEST_F(RunPreflightTest, ADataFolderWithoutFilesStopsTheRunAtTheStart) {
  WriteBytes(dir() / "plain", "not a folder");
  fs::create_directories(dir() / "empty");
  const std::u16string kStarted = u"ファイル名の取得を開始しています。\r\n";
  const std::u16string kAbort = u"\r\n処理を中断します。\r\n\r\n";
  struct {
    const char* what;
    fs::path folder;
    RunReport::Outcome outcome;
    std::u16string log;
    std::string detail;
  } kCases[] = {
      {"not set", "", RunReport::Outcome::kInvalidFolder, u"", ""},
      {"a file", dir() / "plain", RunReport::Outcome::kStopped,
       kStarted + u"ファイル名の取得に失敗しました。" + kAbort,
       "cannot list " + (dir() / "plain").native() + "/: Not a directory"},
      {"no MP3 file", dir() / "empty", RunReport::Outcome::kStopped,
       kStarted + u"有効なファイルが見つかりません" + kAbort, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    app_.settings.PathDataFolder = Text16(c.folder);
    RunReport run = Convert();
    EXPECT_EQ(run.outcome, c.outcome);
    EXPECT_EQ(U8(ui_.log), U8(c.log));
    if (!c.detail.empty()) {
      EXPECT_EQ(run.detail, c.detail);
    }
  }
  EXPECT_EQ(ReadBytes(dir() / "plain"), "not a folder");
  EXPECT_TRUE(fs::is_empty(dir() / "empty"));
}

TEST_F(RunPreflightTest, RootFolderIsRefusedAtStart) {
  fs::create_directory_symlink("/", dir() / "root-link");
  for (const std::string& path :
       std::vector<std::string>{"/", "//", "/tmp/..", (dir() / "root-link").native()}) {
    SCOPED_TRACE(path);
    // Check-only and without a list: nothing could change even if it ran.
    app_.settings.PathDataFolder = *Utf8ToUtf16(path);
    app_.settings.FlagCheckOnlyFilename = 1;
    app_.settings.FlagCheckOnlyID3Tag = 1;
    app_.settings.FlagCreateCSVFile = 0;
    RunReport run = Convert();
    EXPECT_EQ(run.outcome, RunReport::Outcome::kInvalidFolder);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_TRUE(ui_.messages[0].starts_with(u"ルートフォルダ（/）はデータフォルダにできません。"))
        << U8(ui_.messages[0]);
    EXPECT_EQ(ui_.log, u"");  // not even the scan started
    EXPECT_NE(run.detail.find("root folder"), std::string::npos);
  }
}

}  // namespace
}  // namespace tarvel
