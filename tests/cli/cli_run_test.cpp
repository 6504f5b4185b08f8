// tarvel-cli end to end: real libraries in temporary folders, the tree, the
// tag bytes and list.csv checked afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "platform/text.h"
#include "platform/text_file.h"
#include "sample_library.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testing::RunProgram;
using testing::Snapshot;
using testing::TagTexts;

const fs::path kCli = TARVEL_BINARY_DIR "/tarvel-cli";

sample::Tag MakeTag(std::u16string title, std::u16string artist, std::u16string album) {
  return sample::Tag{std::move(title), std::move(artist), std::move(album), u"1999", u"", 13};
}

class CliRunTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    music_ = dir() / "music";
    fs::create_directories(music_);
  }
  void Mp3(std::u16string_view path, std::optional<sample::Tag> tag = std::nullopt) {
    sample::WriteMp3(music_, path, 512, tag);
  }
  // Runs on the music folder with its own settings file; the list goes into
  // the music folder so that nothing is written beside the program.
  CliResult Run(std::vector<std::string> extra) {
    std::vector<std::string> args = {"--settings", (dir() / "tarvel.ini").native(), "--set",
                                     "FlagPathSaveCSV=1"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(music_.native());
    return RunProgram(kCli, args, dir());
  }
  std::string ListText() {
    TextReadResult r = ReadTextFile(music_ / "list.csv");
    return r.ok() ? Utf16ToUtf8(r.text) : std::string();
  }
  fs::path music_;
};

TEST_F(CliRunTest, CheckOnlyChangesNothingButTheList) {
  Mp3(u"東京/01 東京の夜.mp3", MakeTag(u"東京の夜", u"さくら", u"夜"));
  Mp3(u"ＡＢＣ.mp3");
  auto before = Snapshot(music_);
  // --check-only wins over settings that would change the files.
  CliResult r =
      Run({"--set", "FlagCheckOnlyFilename=0", "--set", "FlagCheckOnlyID3Tag=0", "--check-only"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  auto after = Snapshot(music_);
  ASSERT_TRUE(after.count("list.csv"));
  after.erase("list.csv");
  EXPECT_EQ(after, before);
  EXPECT_NE(r.out.find("　　（ファイル名）01 ﾄｳｷｮｳﾉﾖﾙ.mp3\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ID3Tagはチェックのみなので、変換しません。\n"
                       "ファイル名はチェックのみなので、変換しません。\n"
                       "フォルダ名はチェックのみなので、変換しません。\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
}

TEST_F(CliRunTest, RealRunRenamesNestedFoldersAndWritesTags) {
  Mp3(u"アーティスト/アルバム/ディスク/01 日本語.mp3",
      MakeTag(u"日本語", u"アーティスト", u"アルバム"));
  Mp3(u"アーティスト/アルバム/02 ＡＢＣ.MP3");
  CliResult r = Run({"--set", "FlagCheckOnlyFilename=0", "--set", "FlagCheckOnlyID3Tag=0"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const fs::path album = music_ / "ｱｰﾃｨｽﾄ" / "ｱﾙﾊﾞﾑ";
  EXPECT_TRUE(fs::is_regular_file(album / "ﾃﾞｨｽｸ" / "01 ﾆﾎﾝｺﾞ.mp3")) << r.out;
  EXPECT_TRUE(fs::is_regular_file(album / "02 ABC.MP3")) << r.out;  // a sound extension stays
  EXPECT_FALSE(fs::exists(music_ / "アーティスト"));
  EXPECT_EQ(TagTexts(album / "ﾃﾞｨｽｸ" / "01 ﾆﾎﾝｺﾞ.mp3"), "ﾆﾎﾝｺﾞ|ｱｰﾃｨｽﾄ|ｱﾙﾊﾞﾑ");
  // The tag is code page 932 on disk: half-width katakana take one byte each.
  std::string bytes = testing::ReadBytes(album / "ﾃﾞｨｽｸ" / "01 ﾆﾎﾝｺﾞ.mp3");
  EXPECT_EQ(bytes.substr(bytes.size() - 125, 5), "\xC6\xCE\xDD\xBA\xDE");
  EXPECT_NE(r.out.find("1個のID3Tagを変更しました。\n2個のファイル名を変更しました。\n"
                       "3個のフォルダ名を変更しました。\n"),
            std::string::npos)
      << r.out;
  std::string list = ListText();
  EXPECT_NE(list.find("\"01 日本語.mp3\""), std::string::npos);
  EXPECT_NE(list.find("\"01 ﾆﾎﾝｺﾞ.mp3\""), std::string::npos);
}

// --export-to writes the converted copy and leaves the library as it was,
// whatever the check-only settings say; a second export finds the copy in
// place; a folder that holds something else, or options that do not go
// with it, are refused with their status.
TEST_F(CliRunTest, ExportToWritesAConvertedCopyOnly) {
  Mp3(u"アーティスト/01 日本語.mp3", MakeTag(u"日本語", u"アーティスト", u"アルバム"));
  const auto library = Snapshot(music_);
  const std::string car = (dir() / "car").native();
  fs::create_directories(dir() / "other");
  testing::WriteBytes(dir() / "other" / "mine.txt", "mine");
  struct {
    std::vector<std::string> args;
    int status;
    const char* said;  // on standard output (status 0) or error
  } kCases[] = {
      {{"--export-to", car}, 0, "1 files written, 0 already there, 1 folders made"},
      {{"--export-to=" + car}, 0, "0 files written, 1 already there"},
      {{"--export-to", (dir() / "other").native()}, 2, "is not empty"},
      {{"--export-to", car, "--check-only"}, 2, "--export-to takes no"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args.back());
    CliResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.said), std::string::npos) << r.out << r.err;
    if (c.status == 0) {  // the summary on a line of its own
      EXPECT_NE(("\n" + r.out).find("\nExported to " + car + ": "), std::string::npos) << r.out;
    }
    EXPECT_EQ(Snapshot(music_), library);
  }
  EXPECT_EQ(TagTexts(dir() / "car" / "ｱｰﾃｨｽﾄ" / "01 ﾆﾎﾝｺﾞ.mp3"), "ﾆﾎﾝｺﾞ|ｱｰﾃｨｽﾄ|ｱﾙﾊﾞﾑ");
  EXPECT_EQ(Snapshot(dir() / "other").size(), 1u);
}

// A limit of the player set with --set refuses an export that breaks it,
// naming the folder and both figures; --split-folders splits the folder
// instead, and goes only with an export.
TEST_F(CliRunTest, ExportChecksThePlayersLimitsOrSplits) {
  Mp3(u"album/a.mp3", MakeTag(u"a", u"b", u"c"));
  Mp3(u"album/b.mp3", MakeTag(u"a", u"b", u"c"));
  const auto library = Snapshot(music_);
  const std::string car = (dir() / "car").native();
  struct {
    std::vector<std::string> args;
    int status;
    const char* said;
    bool written;
  } const kCases[] = {
      {{"--set", "MaxFilesInFolder=1", "--export-to", car},
       1,
       "files in a folder: the folder album holds 2 files; the player reads 1",
       false},
      {{"--set", "MaxFilesInFolder=0", "--export-to", car}, 2, "MaxFilesInFolder", false},
      {{"--split-folders"}, 2, "--split-folders goes with", false},
      {{"--set", "MaxFilesInFolder=1", "--split-folders", "--export-to", car},
       0,
       "1 folders with too many files for the player split into parts",
       true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.said);
    CliResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.said), std::string::npos) << r.out << r.err;
    EXPECT_EQ(fs::exists(dir() / "car"), c.written);
    EXPECT_EQ(Snapshot(music_), library);
  }
  EXPECT_TRUE(fs::exists(dir() / "car" / "album-1" / "a.mp3"));
  EXPECT_TRUE(fs::exists(dir() / "car" / "album-2" / "b.mp3"));
}

// --iso writes the image and says what it holds, the library unchanged;
// options that do not go with it and a place it cannot go are refused.
TEST_F(CliRunTest, IsoWritesAnImageOfTheConvertedCopy) {
  Mp3(u"アーティスト/01 日本語.mp3", MakeTag(u"日本語", u"アーティスト", u"アルバム"));
  const auto library = Snapshot(music_);
  const std::string image = (dir() / "car.iso").native();
  struct {
    std::vector<std::string> args;
    int status;
    const char* said;  // on standard output (status 0) or error
  } kCases[] = {
      {{"--iso", image}, 0, "1 files, 1 folders, "},
      {{"--iso", image, "--export-to", (dir() / "car").native()}, 2, "--iso takes no"},
      {{"--iso", (music_ / "car.iso").native()}, 2, "lies in the library"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args.back());
    CliResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.said), std::string::npos) << r.out << r.err;
    EXPECT_EQ(Snapshot(music_), library);
  }
  // An image holds its volume descriptor at sector 16.
  EXPECT_EQ(testing::ReadBytes(image).substr(16 * 2048 + 1, 5), "CD001");
}

TEST_F(CliRunTest, TakenTargetStopsTheRunAndOverwritesNothing) {
  Mp3(u"ア.mp3");
  Mp3(u"イ.mp3");
  // A folder named like the converted file (folder rows are off, so the scan
  // makes no row for it) takes the new name.
  fs::create_directories(music_ / "ｱ.mp3");
  testing::WriteBytes(music_ / "ｱ.mp3" / "keep.txt", "keep");
  CliResult r = Run({"--set", "FlagCheckOnlyFilename=0", "--set", "FlagRenameFolderName=0"});
  EXPECT_EQ(r.status, 1) << r.out;
  // Found before the first change: nothing is renamed and no list written.
  EXPECT_NE(r.out.find("新しい名前はほかのファイルまたはフォルダが使っています：" +
                       (music_ / "ア.mp3").native() + " → ｱ.mp3\n処理を中断します。\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("ｱ.mp3"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_regular_file(music_ / "ア.mp3"));
  EXPECT_TRUE(fs::is_regular_file(music_ / "イ.mp3"));  // the run stopped before it
  EXPECT_FALSE(fs::exists(music_ / "list.csv"));
  EXPECT_EQ(testing::ReadBytes(music_ / "ｱ.mp3" / "keep.txt"), "keep");
}

TEST_F(CliRunTest, WhatCannotBeDoneIsSaidOnStandardError) {
  // "ガ" + 246 letters: the new name "ｶﾞ…" is 256 bytes.
  const std::u16string long_name = u"ガ" + std::u16string(246, u'a') + u".mp3";
  const fs::path root_link = dir() / "root";
  fs::create_directory_symlink("/", root_link);
  const struct {
    const char* what;
    std::function<void()> make;
    std::vector<std::string> args;
    int status;
    std::string_view out;
    std::string err;
  } kCases[] = {
      {"a name too long for the file system",
       [&] { Mp3(long_name); },
       {"--set", "FlagCheckOnlyFilename=0", "--set", "FlagLimit30Char=0", music_.native()},
       1,
       "新しい名前が長すぎます（256バイト、このフォルダでは255バイトまで）",
       "the new name is 256 bytes long, more than the 255 bytes its file system allows; limit "
       "the length of names (FlagLimit30Char=1, LengthName); nothing was changed"},
      {"files too short for a tag",
       [&] {
         testing::WriteBytes(music_ / "東京.mp3", "");
         testing::WriteBytes(music_ / "夜.mp3", std::string(50, 'x'));
       },
       {"--set", "FlagCheckOnlyID3Tag=0", "--set", "ID3TagTitle=1", music_.native()},
       0,
       "128バイトに満たないファイルなので、ID3Tagは書き込みません：",
       "tag left alone: " + (music_ / "夜.mp3").native() + ": 50 bytes, too short to hold a tag"},
      {"the root folder",
       [] {},
       {root_link.native()},
       2,
       "ルートフォルダ（/）はデータフォルダにできません。",
       "is the root folder /, not a library"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(music_);
    fs::create_directories(music_);
    c.make();
    const auto before = Snapshot(music_);
    std::vector<std::string> args = {"--settings", (dir() / "tarvel.ini").native(), "--set",
                                     "FlagPathSaveCSV=1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CliResult r = RunProgram(kCli, args, dir());
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(r.out.find(std::string(c.out)), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    if (c.status != 0) {
      EXPECT_EQ(Snapshot(music_), before);
    } else {
      EXPECT_EQ(testing::ReadBytes(music_ / "夜.mp3"), std::string(50, 'x'));
    }
  }
}

TEST_F(CliRunTest, ReadOnlyFileGetsItsTag) {
  Mp3(u"a.mp3", MakeTag(u"タイトル", u"", u""));
  ::chmod((music_ / "a.mp3").c_str(), 0444);
  CliResult r = Run({"--set", "FlagCheckOnlyID3Tag=0"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(TagTexts(music_ / "a.mp3"), "ﾀｲﾄﾙ||");
  struct stat st {};
  ::stat((music_ / "a.mp3").c_str(), &st);
  EXPECT_TRUE(st.st_mode & S_IWUSR);
}

TEST_F(CliRunTest, ListThatCannotBeWrittenChangesNothing) {
  Mp3(u"東京.mp3", MakeTag(u"東京", u"", u""));
  fs::create_directories(music_ / "list.csv");  // a folder where the list should go
  auto before = Snapshot(music_);
  CliResult r = Run({"--set", "FlagCheckOnlyFilename=0", "--set", "FlagCheckOnlyID3Tag=0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\nCSVファイルの作成に失敗しました。\n処理を中断します。\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Snapshot(music_), before);
}

TEST_F(CliRunTest, MessageBoxModeGivesTheBoxTexts) {
  Mp3(u"東京.mp3", MakeTag(u"東京", u"", u""));
  CliResult r = Run({"--set", "FlagDisplayLog=0", "--set", "FlagCheckOnlyFilename=0", "--set",
                     "FlagConvertID3Tag=0"});
  EXPECT_EQ(r.status, 0) << r.err;
  // No start line, no listing; one line per box (a box of two lines gives two).
  EXPECT_EQ(r.out.find("ファイル名の取得を開始しています"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("以下のファイルの名前を変更します。"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1個のファイルまたはフォルダが変更されます。\n"
                       "ID3Tagはチェックのみなので、変換しません。\n"
                       "1個のファイル名を変更しました。\n"
                       "0個のフォルダ名を変更しました。\n"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(fs::exists(music_ / "ﾄｳｷｮｳ.mp3"));
}

TEST_F(CliRunTest, ExitStatuses) {
  struct {
    std::vector<std::string> args;
    int status;
    std::string_view out;
    std::string_view err;  // the start of standard error
  } const kCases[] = {
      {{"--bogus"}, 2, "", "tarvel-cli: unknown option --bogus (see --help)\n"},
      {{"--set"}, 2, "", "tarvel-cli: --set needs a value\n"},
      {{"--set", "LengthName=99"}, 2, "", "tarvel-cli: LengthName: \"99\" is not allowed"},
      {{"--set", "NoSuchKey=1"}, 2, "", "tarvel-cli: unknown setting \"NoSuchKey\""},
      {{"--help"}, 0, "Usage: tarvel-cli", ""},
      {{"--version"}, 0, "tarvel-cli ", ""},
  };
  for (const auto& c : kCases) {
    CliResult r = RunProgram(kCli, c.args, dir());
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.starts_with(c.err) && (c.err.empty() == r.err.empty())) << r.err;
  }
  CliResult missing = RunProgram(
      kCli, {"--settings", (dir() / "t.ini").native(), (dir() / "nowhere").native()}, dir());
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "データフォルダが無効です\n");

  // A folder without MP3 files: the run stops after the scan.
  CliResult empty = Run({});
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.out.find("有効なファイルが見つかりません\n処理を中断します。\n"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(music_ / "list.csv"));
  EXPECT_FALSE(fs::exists(dir() / "t.ini"));  // the command line never saves settings
}

// A run that converted what it could but left something out, or whose log
// was lost, does not end with 0: the status is what scripts look at.
TEST_F(CliRunTest, StatusSaysWhatWasLeftOutOrLost) {
  struct {
    const char* name;
    const char* bad_name;  // a file with a name that is not UTF-8, or none
    bool log_to_full_disk;
    int status;
    std::string_view err;
  } const kCases[] = {
      {"everything", nullptr, false, 0, ""},
      {"a name that is not UTF-8", "\xFF\xFE.mp3", false, 1,
       "1 names are not valid UTF-8 and were left out"},
      {"log on a full disk", nullptr, true, 1, "cannot write the log to standard output"},
  };
  for (const auto& c : kCases) {
    fs::remove_all(music_);
    Mp3(u"曲.mp3", MakeTag(u"曲", u"", u""));
    if (c.bad_name != nullptr) testing::WriteBytes(music_ / c.bad_name, std::string(512, 'x'));
    std::string command = kCli.native() + " --settings '" + (dir() / "tarvel.ini").native() +
                          "' --set FlagPathSaveCSV=1 --set FlagCheckOnlyFilename=0 '" +
                          music_.native() + "'";
    command += c.log_to_full_disk ? " >/dev/full" : " >/dev/null";
    command += " 2>'" + (dir() / "err").native() + "' </dev/null";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw)) << c.name;
    EXPECT_EQ(WEXITSTATUS(raw), c.status) << c.name;
    const std::string err = testing::ReadBytes(dir() / "err");
    EXPECT_NE(err.find(c.err), std::string::npos) << c.name << ": " << err;
    if (c.err.empty()) {
      EXPECT_EQ(err, "") << c.name;
    }
    // What could be converted was converted all the same.
    EXPECT_TRUE(fs::exists(music_ / "ｷｮｸ.mp3")) << c.name;
  }
}

TEST_F(CliRunTest, MissingDictionaryEndsWithItsMessage) {
  // A copy of the program in a folder of its own, without dic.csv: installed
  // mode, where the tables are looked up in the (empty) XDG folder and the
  // install prefix. Skip when a system-wide installation provides them.
  fs::create_directories(dir() / "bin");
  fs::copy_file(kCli, dir() / "bin" / "tarvel-cli");
  ::chmod((dir() / "bin" / "tarvel-cli").c_str(), 0755);
  CliResult r = RunProgram(dir() / "bin" / "tarvel-cli", {music_.native()}, dir());
  if (r.status == 1 || r.status == 0) GTEST_SKIP() << "an installed dic.csv was found";
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("全角→半角 変換辞書が見つかりません\n"), std::string::npos) << r.out;
}

TEST_F(CliRunTest, UnreadableSettingsFileEndsBeforeAnythingChanges) {
  // A folder where the settings file should be: it exists and cannot be
  // read, and the run must not go on with defaults the user never chose.
  const fs::path settings = dir() / "unreadable.ini";
  fs::create_directories(settings);
  const auto before = Snapshot(music_);
  CliResult r = RunProgram(kCli, {"--settings", settings.native(), music_.native()}, dir());
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.out.find("設定ファイルを読み込めません。"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(settings.native()), std::string::npos) << r.out;
  EXPECT_EQ(Snapshot(music_), before);
  EXPECT_TRUE(fs::is_directory(settings));
}

}  // namespace
}  // namespace tarvel
