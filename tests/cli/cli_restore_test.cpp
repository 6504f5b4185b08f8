// tarvel-cli --restore end to end: a real run undone from its list.
#include <gtest/gtest.h>

#include "cli/cli_support.h"
#include "sample_library.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testing::RunProgram;
using testing::Snapshot;

const fs::path kCli = TARVEL_BINARY_DIR "/tarvel-cli";

class CliRestoreTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    music_ = dir() / "music";
    fs::create_directories(music_);
    const sample::Tag tag{u"東京の夜", u"さくら", u"夜", u"1999", u"", 13};
    sample::WriteMp3(music_, u"歌手/アルバム/01 東京の夜.mp3", 256, tag);
    sample::WriteMp3(music_, u"歌手/アルバム/02 ＡＢＣ.mp3", 256, std::nullopt);
    sample::WriteMp3(music_, u"歌手/夜.mp3", 256, tag);
    before_ = Snapshot(music_);
  }
  std::vector<std::string> Settings() { return {"--settings", (dir() / "tarvel.ini").native()}; }
  CliResult Convert() {
    std::vector<std::string> args = Settings();
    for (const char* set :
         {"FlagPathSaveCSV=1", "FlagCheckOnlyFilename=0", "FlagCheckOnlyID3Tag=0"}) {
      args.push_back("--set");
      args.push_back(set);
    }
    args.push_back(music_.native());
    return RunProgram(kCli, args, dir());
  }
  CliResult Restore(const fs::path& list) {
    std::vector<std::string> args = Settings();
    args.push_back("--restore");
    args.push_back(list.native());
    return RunProgram(kCli, args, dir());
  }
  std::map<std::string, std::string> Tree() {
    auto tree = Snapshot(music_);
    tree.erase("list.csv");
    return tree;
  }
  fs::path music_;
  std::map<std::string, std::string> before_;
};

TEST_F(CliRestoreTest, RestoreUndoesARunByteForByte) {
  CliResult converted = Convert();
  ASSERT_EQ(converted.status, 0) << converted.out << converted.err;
  ASSERT_NE(Tree(), before_);
  CliResult r = Restore(music_ / "list.csv");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Tree(), before_);
  EXPECT_NE(r.out.find("\n復元を開始します。\n2個のフォルダ名を復元しました。\n"
                       "3個のファイル名を復元しました。\n2個のID3Tagを復元しました。\n"),
            std::string::npos)
      << r.out;
}

TEST_F(CliRestoreTest, UnreadableListEndsWithStatusTwo) {
  testing::WriteBytes(dir() / "list.csv", "\"only\",\"two\"\r\n");
  struct {
    fs::path list;
    std::string reason;
  } kCases[] = {
      {dir() / "nothing" / "list.csv", "cannot open"},
      {dir() / "list.csv", "fewer than 14"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.list.native());
    CliResult r = Restore(c.list);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.out.find("CSVファイルの読み込みに失敗しました。\n処理を中断します。\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("tarvel-cli: cannot read the list"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_EQ(Tree(), before_);
  }
}

TEST_F(CliRestoreTest, FolderRenamedByHandEndsWithStatusOne) {
  ASSERT_EQ(Convert().status, 0);
  fs::rename(music_ / "ｶｼｭ", music_ / "renamed");
  CliResult r = Restore(music_ / "list.csv");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("フォルダ名の復元中にエラーが発生しました。\n処理を中断します。\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("ｶｼｭ"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(music_ / "renamed" / "ﾖﾙ.mp3"));
}

TEST_F(CliRestoreTest, RestoreTakesNoFolder) {
  CliResult r =
      RunProgram(kCli, {"--restore", (music_ / "list.csv").native(), music_.native()}, dir());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--restore takes only the list"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

TEST_F(CliRestoreTest, RunOnARelativeFolderCanBeRestoredFromAnywhere) {
  std::vector<std::string> args = Settings();
  for (const char* set :
       {"FlagPathSaveCSV=1", "FlagCheckOnlyFilename=0", "FlagCheckOnlyID3Tag=0"}) {
    args.push_back("--set");
    args.push_back(set);
  }
  args.push_back("music");
  const fs::path saved = fs::current_path();
  fs::current_path(dir());
  CliResult converted = RunProgram(kCli, args, dir());
  fs::current_path(saved);
  ASSERT_EQ(converted.status, 0) << converted.out << converted.err;
  ASSERT_NE(Tree(), before_);
  CliResult r = Restore(music_ / "list.csv");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Tree(), before_);
}

}  // namespace
}  // namespace tarvel
