// tarvel-cli takes the window's decisions from the core: the player presets,
// and no run without the reading service or with romaji and no Rome.csv.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "cli/cli_support.h"
#include "sample_library.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testing::RunProgram;
using testing::Snapshot;

class CliRulesTest : public testing::CliLibraryTest {
 protected:
  void SetUp() override {
    CliLibraryTest::SetUp();
    music_ = dir() / "music";
    fs::create_directories(music_);
    sample::WriteMp3(music_, u"東京/01 東京の夜.mp3", 512,
                     sample::Tag{u"東京の夜", u"さくら", u"夜", u"1999", u"", 13});
  }
  // Runs `program` on the music folder with the test's own settings file.
  CliResult Run(std::vector<std::string> extra, const fs::path& program = testing::kCliProgram) {
    extra.insert(extra.begin(), {"--set", "FlagPathSaveCSV=1"});
    extra.push_back(music_.native());
    return RunProgram(program, Args(extra), dir());
  }
  // A portable copy of the program with dic.csv and no Rome.csv beside it.
  fs::path ProgramWithoutRomeTable() {
    const fs::path bin = dir() / "bin";
    fs::create_directories(bin);
    fs::copy_file(testing::kCliProgram, bin / "tarvel-cli");
    ::chmod((bin / "tarvel-cli").c_str(), 0755);
    fs::copy_file(fs::path(TARVEL_SOURCE_DIR) / "data/dic.csv", bin / "dic.csv");
    return bin / "tarvel-cli";
  }
};

TEST_F(CliRulesTest, RomajiWithoutRomeTableIsRefusedBeforeTheRun) {
  const fs::path program = ProgramWithoutRomeTable();
  const auto before = Snapshot(music_);
  for (const char* level : {"ConvertLevelFilename=2", "ConvertLevelID3Tag=2"}) {
    CliResult r = Run({"--set", level}, program);
    EXPECT_EQ(r.status, 2) << level << r.out << r.err;
    EXPECT_EQ(r.out, "ローマ字ファイルがないために、この変換は使用できません\n") << level;
    EXPECT_EQ(Snapshot(music_), before) << level;  // not even a list
  }
  // The same program converts to kana.
  CliResult kana = Run({}, program);
  EXPECT_EQ(kana.status, 0) << kana.out << kana.err;
  EXPECT_NE(kana.out.find("01 ﾄｳｷｮｳﾉﾖﾙ.mp3"), std::string::npos) << kana.out;
}

TEST_F(CliRulesTest, NoRunWithoutTheReadingService) {
  const auto before = Snapshot(music_);
  ::setenv("TARVEL_MECAB_DICDIR", (dir() / "no-dictionary").c_str(), 1);
  CliResult r = Run({});
  ::unsetenv("TARVEL_MECAB_DICDIR");
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_TRUE(
      r.out.starts_with("読みの辞書（MeCab と IPA 辞書）を開けません。"
                        "mecab-ipadic-utf8 をインストールしてください。\n"))
      << r.out;
  EXPECT_EQ(Snapshot(music_), before);
}

TEST_F(CliRulesTest, LevelZeroTurnsTheFullWidthCheckOffAsTheWindowDoes) {
  constexpr std::string_view kMessage =
      "日本語を変換しない場合、全角の検出チェックは無効になります";
  // At level 0 every Japanese name stays full-width: with the check left on,
  // the run would only check and end with 1.
  struct {
    std::vector<std::string> sets;
    bool says;
  } kCases[] = {
      {{"ConvertLevelFilename=0", "FlagDetectFullCharFilename=1"}, true},
      {{"ConvertLevelID3Tag=0", "FlagDetectFullCharID3Tag=1"}, true},
      {{"ConvertLevelFilename=0", "FlagDetectFullCharFilename=0"}, false},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args;
    for (const std::string& set : c.sets) args.insert(args.end(), {"--set", set});
    CliResult r = Run(args);
    EXPECT_EQ(r.status, 0) << c.sets[0] << r.out << r.err;
    EXPECT_EQ(r.err.find(kMessage) != std::string::npos, c.says) << c.sets[0] << r.err;
  }
}

TEST_F(CliRulesTest, PresetSetsThePlayersOptionsAndSetOverridesIt) {
  constexpr std::string_view kNameChange = "（ファイル名）01 ﾄｳｷｮｳﾉﾖﾙ.mp3";
  // f-CD7: no file names; the folder name becomes the artist.
  constexpr std::string_view kFolderAsArtist = "（新ID3Tag<ｱｰﾃｨｽﾄ名>）ﾄｳｷｮｳ";
  constexpr std::string_view kTitleChange = "（新ID3Tag<ﾀｲﾄﾙ名>）ﾄｳｷｮｳﾉﾖﾙ";
  struct {
    std::vector<std::string> args;
    bool names, folder_as_artist, title;
  } const kCases[] = {
      {{}, true, false, true},
      {{"--preset", "fcd7"}, false, true, true},
      {{"--preset=z919"}, true, false, false},
      // --set comes after the preset, wherever it stands.
      {{"--set", "FlagConvertID3Tag=1", "--preset", "Z919"}, true, false, true},
  };
  for (const auto& c : kCases) {
    const std::string name = c.args.empty() ? "none" : c.args.back();
    CliResult r = Run(c.args);
    EXPECT_EQ(r.status, 0) << name << r.out << r.err;
    EXPECT_EQ(r.out.find(kNameChange) != std::string::npos, c.names) << name << r.out;
    EXPECT_EQ(r.out.find(kFolderAsArtist) != std::string::npos, c.folder_as_artist)
        << name << r.out;
    EXPECT_EQ(r.out.find(kTitleChange) != std::string::npos, c.title) << name << r.out;
  }
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--preset", "romeo"},
                                              {"--preset"},
                                              {"--preset", "z919", "--restore", "list.csv"},
                                              {"--history", "--preset", "z919"}}) {
    CliResult r = RunProgram(testing::kCliProgram, bad, dir());
    EXPECT_EQ(r.status, 2) << bad.back() << r.out;
    EXPECT_NE(r.err.find("tarvel-cli: "), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace tarvel
