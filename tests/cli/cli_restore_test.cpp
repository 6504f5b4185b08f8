// tarvel-cli --restore end to end: a real run undone from its list.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

#include "cli/cli_support.h"
#include "sample_library.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testing::RunProgram;
using testing::Snapshot;

const fs::path kCli = testing::kCliProgram;

class CliRestoreTest : public testing::CliLibraryTest {
 protected:
  void SetUp() override {
    CliLibraryTest::SetUp();
    MakeLibrary();
  }
  void MakeLibrary() {
    music_ = dir() / "music";
    fs::create_directories(music_);
    const sample::Tag tag{u"東京の夜", u"さくら", u"夜", u"1999", u"", 13};
    sample::WriteMp3(music_, u"歌手/アルバム/01 東京の夜.mp3", 256, tag);
    sample::WriteMp3(music_, u"歌手/アルバム/02 ＡＢＣ.mp3", 256, std::nullopt);
    sample::WriteMp3(music_, u"歌手/夜.mp3", 256, tag);
    before_ = Snapshot(music_);
  }
  std::vector<std::string> Settings() { return Args(); }
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

TEST_F(CliRestoreTest, RowsThatDoNotComeBackEndWithStatusOne) {
  const struct {
    const char* what;
    std::function<void(const fs::path&)> spoil;
    const char* out;
  } kCases[] = {
      {"a folder renamed by hand", [](const fs::path& m) { fs::rename(m / "ｶｼｭ", m / "renamed"); },
       "見つからないフォルダがあります。\n　フォルダ名　：　"},
      {"a converted file deleted", [](const fs::path& m) { fs::remove(m / "ｶｼｭ" / "ﾖﾙ.mp3"); },
       "見つからないファイルがあります。\n　ファイル名　：　"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(music_);
    MakeLibrary();
    ASSERT_EQ(Convert().status, 0);
    c.spoil(music_);
    CliResult r = Restore(music_ / "list.csv");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    // The restore went on to its end.
    EXPECT_NE(r.out.find("個のID3Tagを復元しました。"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("were not restored"), std::string::npos) << r.err;
  }
}

TEST_F(CliRestoreTest, HistoryKeepsEveryRealRunAndRestoreTakesAnyOfThem) {
  ASSERT_EQ(Convert().status, 0);
  std::vector<std::string> check = Settings();
  check.push_back("--set");
  check.push_back("FlagPathSaveCSV=1");
  check.push_back("--check-only");
  check.push_back(music_.native());
  ASSERT_EQ(RunProgram(kCli, check, dir()).status, 0);
  CliResult listed = RunProgram(kCli, {"--history"}, dir());
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("5 rows, 5 renames, 2 tags  " + music_.native() + "/"),
            std::string::npos)
      << listed.out;
  const std::string name = listed.out.substr(0, listed.out.find(' '));
  CliResult r = Restore(name);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Tree(), before_);
  EXPECT_EQ(RunProgram(kCli, {"--history", "x"}, dir()).status, 2);
}

// Read-only files as their owner sees them: root ignores permission bits, so
// when the tests run as root the program runs as nobody on a library nobody
// owns.
TEST_F(CliRestoreTest, ReadOnlyFilesComeBackReadOnlyForAnOrdinaryUser) {
  const fs::path file = music_ / "歌手" / "夜.mp3";
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  std::vector<std::string> prefix;
  if (::geteuid() == 0) {
    if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is needed to drop root";
    ASSERT_EQ(::chmod(dir().c_str(), 0755), 0);
    // The library, the settings and the home folder (where the run's lock
    // and history live) all belong to nobody.
    for (auto it = fs::recursive_directory_iterator(dir());
         it != fs::recursive_directory_iterator(); ++it) {
      ASSERT_EQ(::lchown(it->path().c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::lchown(dir().c_str(), 65534, 65534), 0);
    prefix = {"--reuid=65534", "--regid=65534", "--clear-groups", kCli.native()};
  }
  const auto before = testing::ExactTree(music_);
  auto run = [&](std::vector<std::string> args) {
    std::vector<std::string> all = prefix;
    for (const std::string& a : Settings()) all.push_back(a);
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram(prefix.empty() ? kCli : fs::path("/usr/bin/setpriv"), all, dir());
  };
  CliResult converted = run({"--set", "FlagPathSaveCSV=1", "--set", "FlagCheckOnlyFilename=0",
                             "--set", "FlagCheckOnlyID3Tag=0", music_.native()});
  ASSERT_EQ(converted.status, 0) << converted.out << converted.err;
  struct stat st;
  ASSERT_EQ(::stat((music_ / "ｶｼｭ" / "ﾖﾙ.mp3").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // made writable for its tag
  CliResult r = run({"--restore", (music_ / "list.csv").native()});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(testing::ExactTree(music_), before);
}

// A library copied with cp -a to another place (a stick mounted under
// another name) and the original removed: restored there with --library,
// byte for byte, its undo record still used; without --library the restore
// stops before anything and says how to go on.
TEST_F(CliRestoreTest, ACopiedLibraryIsRestoredWithLibrary) {
  const auto exact_before = testing::ExactTree(music_);
  ASSERT_EQ(Convert().status, 0);
  const fs::path moved = dir() / "STICK1" / "music";
  fs::create_directories(moved.parent_path());
  ASSERT_EQ(std::system(("cp -a '" + music_.native() + "' '" + moved.native() + "'").c_str()), 0);
  fs::remove_all(music_);
  const auto converted = testing::ExactTree(moved);
  const fs::path list = moved / "list.csv";
  const struct {
    const char* what;
    std::vector<std::string> extra;
    int status;
    const char* err;  // part of standard error, or null
  } kCases[] = {
      {"no --library", {}, 2, "give its new place with --library FOLDER"},
      {"--library naming no folder",
       {"--library", (dir() / "STICK").native()},
       2,
       "(given with --library)"},
      {"--library without --restore",
       {"--library", moved.native(), music_.native()},
       2,
       "--library goes with --restore only"},
      {"--library at the new place", {"--library", moved.native()}, 0, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"--restore", list.native()};
    if (c.extra.size() == 3) args.clear();  // no --restore at all
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    CliResult r = RunProgram(kCli, Args(args), dir());
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.err != nullptr) EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("undo record not used"), std::string::npos) << r.err;
    EXPECT_EQ(testing::ExactTree(moved), c.status == 0 ? exact_before : converted);
  }
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
