// tarvel-cli --restore end to end: a real run undone from its list.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <thread>

#include "cli/cli_support.h"
#include "files/run_history.h"
#include "files/undo_record.h"
#include "platform/text.h"
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
    const char* err;
  } kCases[] = {
      {"a folder renamed by hand", [](const fs::path& m) { fs::rename(m / "ｶｼｭ", m / "renamed"); },
       "見つからないフォルダがあります。\n　フォルダ名　：　", "were not restored"},
      {"a converted file deleted", [](const fs::path& m) { fs::remove(m / "ｶｼｭ" / "ﾖﾙ.mp3"); },
       "見つからないファイルがあります。\n　ファイル名　：　", "were not restored"},
      // Every row comes back by name, but the bytes cannot be checked.
      {"another list's undo record beside the list",
       [](const fs::path& m) {
         testing::WriteBytes(m / "list.csv.undo",
                             "tarvel-undo 1\nlist 1 0000000000000001\nrows 0\nend\n");
       },
       "ファイルの中身・属性・更新日時は確かめられません", "could not be checked"},
      {"a cut undo record",
       [](const fs::path& m) {
         const std::string record = testing::ReadBytes(m / "list.csv.undo");
         testing::WriteBytes(m / "list.csv.undo", record.substr(0, record.size() - 4));
       },
       "ファイルの中身・属性・更新日時は確かめられません", "could not be checked"},
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
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
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
  // The run restored from is marked with the date of the restore.
  listed = RunProgram(kCli, {"--history"}, dir());
  const std::string first = listed.out.substr(0, listed.out.find('\n'));
  EXPECT_TRUE(first.starts_with(name)) << listed.out;
  EXPECT_NE(first.find("  [restored 20"), std::string::npos) << listed.out;
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
    if (c.err != nullptr) {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(r.err.find("undo record not used"), std::string::npos) << r.err;
    EXPECT_EQ(testing::ExactTree(moved), c.status == 0 ? exact_before : converted);
  }
}

// Options that do not go together stop at the start with the usage status,
// before anything is read or written.
TEST_F(CliRestoreTest, OptionsThatDoNotGoTogetherAreRefused) {
  const std::string list = (music_ / "list.csv").native();
  const std::string car = (dir() / "car").native();
  struct {
    std::vector<std::string> args;
    const char* err;
  } kCases[] = {
      {{"--restore", list, music_.native()}, "--restore takes only the list"},
      {{"--export-to", car, "--restore", list}, "--export-to takes no"},
      {{"--export-to", car, "--history"}, "--export-to takes no"},
      {{"--iso", car, "--restore", list}, "--iso takes no"},
      {{"--split-folders", music_.native()}, "--split-folders goes with"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args[0] + " ... " + c.args.back());
    CliResult r = RunProgram(kCli, Args(c.args), dir());
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(car));
  }
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

namespace tarvel {
namespace {

// A copy of the program with its tables beside it, so that its own folder,
// where list.csv goes with FlagPathSaveCSV=0, is the test's.
fs::path PortableCopy(const fs::path& bin) {
  fs::create_directories(bin);
  fs::copy_file(kCli, bin / "tarvel-cli");
  ::chmod((bin / "tarvel-cli").c_str(), 0755);
  for (const char* table : {"dic.csv", "Rome.csv"}) {
    fs::copy_file(fs::path(TARVEL_SOURCE_DIR) / "data" / table, bin / table);
  }
  return bin / "tarvel-cli";
}

// Runs on two libraries started together, both with the list in the
// program's own folder: every run's list ends up there or in the history,
// and --history shows the one there as current.
TEST_F(CliRestoreTest, TwoRunsStartedTogetherKeepBothLists) {
  const fs::path cli = PortableCopy(dir() / "bin");
  constexpr int kRounds = 4;
  std::set<std::string> libraries;
  for (int round = 0; round < kRounds; ++round) {
    std::thread runs[2];
    CliResult results[2];
    for (int i = 0; i < 2; ++i) {
      const fs::path lib = dir() / ("lib" + std::to_string(round) + "-" + std::to_string(i));
      const fs::path scratch = dir() / ("scratch" + std::to_string(i));
      fs::create_directories(scratch);
      for (const char* name : {"東京.mp3", "夜.mp3"}) {
        sample::WriteMp3(lib, Utf8ToUtf16(name).value(), 256, std::nullopt);
      }
      libraries.insert(lib.native() + "/");
      runs[i] = std::thread([&, lib, scratch, i] {
        results[i] =
            RunProgram(cli,
                       Args({"--set", "FlagPathSaveCSV=0", "--set", "FlagCheckOnlyFilename=0",
                             "--set", "FlagCheckOnlyID3Tag=0", lib.native()}),
                       scratch);
      });
    }
    for (int i = 0; i < 2; ++i) {
      runs[i].join();
      EXPECT_EQ(results[i].status, 0) << results[i].out << results[i].err;
    }
  }
  CliResult listed = RunProgram(cli, {"--history"}, dir());
  ASSERT_EQ(listed.status, 0) << listed.err;
  std::set<std::string> listed_libraries;
  int current = 0;
  for (size_t at = 0; at < listed.out.size();) {
    const size_t end = listed.out.find('\n', at);
    const std::string line = listed.out.substr(at, end - at);
    at = end + 1;
    if (line.find("renames") == std::string::npos) continue;
    // The folder follows the counts; marks may follow it.
    const size_t start = line.find(" tags  ") + 7;
    listed_libraries.insert(line.substr(start, line.find("  ", start) - start));
    if (line.find("  [current]") != std::string::npos) {
      ++current;
      EXPECT_TRUE(line.starts_with((dir() / "bin" / "list.csv").native())) << line;
    }
  }
  EXPECT_EQ(listed_libraries, libraries) << listed.out;
  EXPECT_EQ(current, 1) << listed.out;
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// A real run's list re-saved by an editor: code page 932 in UTF-8 with or
// without a mark, or UTF-8 with its mark dropped. Read in the encoding it
// now has, it finds its undo record and the library comes back byte for
// byte. Bytes code page 932 does not have are refused before anything
// changes.
TEST_F(CliRestoreTest, ReSavedListsComeBackByteForByteOrAreRefused) {
  const std::string kMark = "\xEF\xBB\xBF";
  auto to_utf8 = [](const std::string& b) { return Utf16ToUtf8(DecodeCp932(b)); };
  const struct {
    const char* what;
    bool utf8_list;  // a name code page 932 lacks makes the run write UTF-8
    std::function<std::string(const std::string&)> resave;
    int status;
  } kCases[] = {
      {"code page 932 re-saved as UTF-8 without a mark", false, to_utf8, 0},
      {"code page 932 re-saved as UTF-8 with a mark", false,
       [&](const std::string& b) { return kMark + to_utf8(b); }, 0},
      {"UTF-8 with its mark dropped", true, [](const std::string& b) { return b.substr(3); }, 0},
      {"a byte code page 932 does not have", false,
       [](const std::string& b) {
         std::string out = b;
         out[out.find(EncodeCp932(u"ｶｼｭ"))] = '\x80';
         return out;
       },
       2},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(music_);
    MakeLibrary();
    if (c.utf8_list) {
      sample::WriteMp3(music_, u"歌手/夢〜.mp3", 256, std::nullopt);
      before_ = Snapshot(music_);
    }
    ASSERT_EQ(Convert().status, 0);
    const std::string list = testing::ReadBytes(music_ / "list.csv");
    ASSERT_EQ(list.starts_with(kMark), c.utf8_list);
    testing::WriteBytes(music_ / "list.csv", c.resave(list));
    const auto converted = Tree();
    CliResult r = Restore(music_ / "list.csv");
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(Tree(), c.status == 0 ? before_ : converted);
    EXPECT_EQ(r.err.find("could not be checked"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace tarvel
