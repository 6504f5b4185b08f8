// tarvel-cli against hostile lists, a busy library, permissions, a full disk
// and settings edited by hand: each case checks the message and the exit
// status, that nothing on disk was lost or overwritten, and that a restore
// brings back what the run changed.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "cli/cli_support.h"
#include "platform/library_lock.h"
#include "sample_library.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testing::RunProgram;
using testing::Snapshot;
using testing::WriteBytes;

const fs::path kCli = testing::kCliProgram;
constexpr const char* kBlankRecord =
    "\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\r\n";

class CliFaultTest : public testing::CliLibraryTest {
 protected:
  void SetUp() override {
    CliLibraryTest::SetUp();
    music_ = dir() / "music";
    const sample::Tag tag{u"東京の夜", u"さくら", u"夜", u"1999", u"", 13};
    sample::WriteMp3(music_, u"歌手/アルバム/01 東京の夜.mp3", 256, tag);
    sample::WriteMp3(music_, u"歌手/夜.mp3", 256, tag);
    sample::WriteMp3(music_, u"ＡＢＣ.mp3", 256, std::nullopt);
    before_ = Tree();
  }
};

TEST_F(CliFaultTest, AListThatReachesOutsideIsRefusedBeforeAnythingChanges) {
  ASSERT_EQ(Convert().status, 0);
  const auto converted = Tree();
  // Someone else's folder beside the library, with an MP3 and a text file.
  const fs::path victim = dir() / "victim";
  fs::create_directories(victim);
  WriteBytes(victim / "x.mp3", "not yours");
  WriteBytes(victim / "notes.txt", "read-only notes");
  ::chmod((victim / "notes.txt").c_str(), 0444);
  const std::string m = music_.native() + "/";
  auto row = [](int n, const std::string& old_path, const std::string& old_name,
                const std::string& new_path, const std::string& new_name, int tag, int is_file) {
    return "\"" + std::to_string(n) + "\",\"" + old_path + "\",\"" + old_name + "\",\"" + new_path +
           "\",\"" + new_name + "\",\"t\",\"a\",\"b\",\"T\",\"A\",\"B\",\"1\",\"" +
           std::to_string(tag) + "\",\"" + std::to_string(is_file) + "\"\r\n";
  };
  const std::string good = row(1, m, "ＡＢＣ.mp3", m, "ABC.mp3", 0, 1);
  struct {
    const char* what;
    std::string rows;
    const char* problem;
  } kCases[] = {
      {"dot-dot into another folder",
       good + row(2, m + "../victim/", "y.mp3", m + "../victim/", "x.mp3", 1, 1),
       "row 2 of the list: OldPath"},
      {"tag row on a text file", good + row(2, m, "a.mp3", m, "../victim/notes.txt", 1, 1),
       "row 2 of the list: NewName"},
      {"a folder row in another library",
       good + row(2, dir().native() + "/", "x", dir().native() + "/", "victim", 0, 0),
       "row 2 of the list"},
      {"a relative path", row(1, "music/", "a.mp3", "music/", "ABC.mp3", 0, 1), "not absolute"},
      {"a file row naming no MP3", row(1, m, "ＡＢＣ.mp3", m, "ABC.txt", 0, 1),
       "does not name an MP3"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const fs::path list = dir() / "list.csv";
    WriteBytes(list, std::string("\xef\xbb\xbf") + kBlankRecord + c.rows);
    CliResult r = Restore(list);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.out.find("CSVファイルの読み込みに失敗しました。\n処理を中断します。\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find(c.problem), std::string::npos) << r.err;
    EXPECT_EQ(Tree(), converted);
    EXPECT_EQ(testing::ReadBytes(victim / "x.mp3"), "not yours");
    EXPECT_EQ(testing::ReadBytes(victim / "notes.txt"), "read-only notes");
    struct stat st {};
    ::stat((victim / "notes.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
  }
  // The run's own list still restores everything.
  CliResult r = Restore(music_ / "list.csv");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Tree(), before_);
}

TEST_F(CliFaultTest, ASecondRunOnABusyLibraryIsRefused) {
  ASSERT_EQ(Convert().status, 0);
  const auto converted = Tree();
  struct {
    const char* what;
    fs::path held;
    std::function<CliResult()> second;
  } kCases[] = {
      {"a run on the same library", music_, [&] { return Convert(); }},
      {"a restore of the same library", music_, [&] { return Restore(music_ / "list.csv"); }},
      {"a run on a folder inside it", music_ / "ｶｼｭ", [&] { return Convert(); }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    LibraryLock other;  // as another process would hold it
    ASSERT_EQ(other.Take(c.held), LibraryLock::Status::kTaken);
    CliResult r = c.second();
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.out.find("このフォルダでは別の変換または復元が実行中です。"), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("another run or restore is working on"), std::string::npos) << r.err;
    EXPECT_EQ(Tree(), converted);
  }
  // Free again, the restore goes through.
  CliResult r = Restore(music_ / "list.csv");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Tree(), before_);
}

TEST_F(CliFaultTest, ACharacterThatCannotBeMadeHalfWidthEndsWithStatusOne) {
  sample::WriteMp3(music_, u"∵.mp3", 256, std::nullopt);
  before_ = Tree();
  CliResult r = Convert();
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("the run only checked: nothing was changed"), std::string::npos) << r.err;
  EXPECT_EQ(Tree(), before_);
}

TEST_F(CliFaultTest, SettingsThatAreNotNumbersKeepTheRunCheckOnly) {
  WriteBytes(dir() / "tarvel.ini",
             "[Option]\nFlagCheckOnlyFilename=yes\nFlagCheckOnlyID3Tag=no\nFlagCreateCSVFile=on\n"
             "LengthName=0\n");
  CliResult r = RunProgram(kCli, Args({"--set", "FlagPathSaveCSV=1", music_.native()}), dir());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  for (const char* notice : {"FlagCheckOnlyFilename=yes is not a whole number; using the default 1",
                             "FlagCheckOnlyID3Tag=no is not a whole number", "FlagCreateCSVFile=on",
                             "LengthName=0 is outside 1 to 50; using the default 30"}) {
    EXPECT_NE(r.err.find(notice), std::string::npos) << notice << "\n" << r.err;
    EXPECT_NE(r.out.find(notice), std::string::npos) << notice << "\n" << r.out;
  }
  EXPECT_EQ(Tree(), before_);                    // check-only, as by default
  EXPECT_TRUE(fs::exists(music_ / "list.csv"));  // and the list is written
}

// Runs as an ordinary user need a user to switch to: tests run as root,
// whom permission bits do not stop.
class CliPermissionTest : public CliFaultTest {
 protected:
  void SetUp() override {
    CliFaultTest::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run tarvel-cli as user nobody";
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is not installed";
    // Everything of the test (settings, HOME, the library) belongs to nobody.
    ::chmod(dir().c_str(), 0755);
    for (const auto& e : fs::recursive_directory_iterator(dir())) {
      ASSERT_EQ(::lchown(e.path().c_str(), 65534, 65534), 0) << e.path();
    }
    ASSERT_EQ(::chown(dir().c_str(), 65534, 65534), 0);
  }
  CliResult ConvertAsNobody() {
    return Convert("/usr/bin/setpriv",
                   {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", kCli.native()});
  }
};

TEST_F(CliPermissionTest, FoldersAndFilesTheUserCannotChange) {
  struct {
    const char* what;
    fs::path item;
    mode_t mode;
    int status;
    const char* message;  // in standard output
    bool changes;         // the run may change something before it stops
  } kCases[] = {
      {"unreadable subfolder", music_ / "歌手", 0000, 1, "ファイル名の取得に失敗しました。", false},
      {"list folder not writable", music_, 0555, 1, "CSVファイルの作成に失敗しました。", false},
      {"read-only folder", music_ / "歌手/アルバム", 0555, 1,
       "ファイル名の変換中にエラーが発生しました。", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ::chmod(c.item.c_str(), c.mode);
    CliResult r = ConvertAsNobody();
    ::chmod(c.item.c_str(), 0755);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    if (!c.changes) {
      EXPECT_EQ(Tree(), before_);
      continue;
    }
    // Every file is still there under one of its names, and the restore
    // puts everything back.
    CliResult restored = Restore(music_ / "list.csv");
    EXPECT_NE(restored.status, 2) << restored.out << restored.err;
    EXPECT_EQ(Tree(), before_);
  }
}

TEST_F(CliPermissionTest, AReadOnlyFileOfTheUserGetsItsTagAndIsRestored) {
  ::chmod((music_ / "歌手/夜.mp3").c_str(), 0444);
  CliResult r = ConvertAsNobody();
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(Tree(), before_);
  CliResult restored = Restore(music_ / "list.csv");
  EXPECT_EQ(restored.status, 0) << restored.out << restored.err;
  EXPECT_EQ(Tree(), before_);
}

// A small memory file system, full to the last page, for the tag writes.
class CliDiskFullTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    small_ = dir() / "small";
    fs::create_directories(small_);
    if (::mount("tmpfs", small_.c_str(), "tmpfs", 0, "size=256k") != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs: " << std::strerror(errno);
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) ::umount2(small_.c_str(), MNT_DETACH);
    TempDirTest::TearDown();
  }
  // Fills the file system, then frees `pages` pages of 4 KiB.
  void Fill(int pages) {
    const fs::path filler = small_ / "filler";
    std::FILE* f = std::fopen(filler.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
    }
    std::fclose(f);
    const auto size = fs::file_size(filler);
    fs::resize_file(filler, size - size % 4096 - 4096 * pages);
  }
  fs::path small_;
  bool mounted_ = false;
};

TEST_F(CliDiskFullTest, ATagThatDoesNotFitLeavesTheFileAsItWas) {
  const fs::path music = small_ / "music";
  // Audio of exactly one page each and no tag: the tag needs a new page.
  sample::WriteMp3(music, u"東京.mp3", 4096, std::nullopt);
  sample::WriteMp3(music, u"夜.mp3", 4096, std::nullopt);
  const auto before = Snapshot(music);
  Fill(2);  // room for the undo record and the list, none for a tag
  CliResult r =
      RunProgram(kCli,
                 {"--settings", (dir() / "tarvel.ini").native(), "--set", "FlagPathSaveCSV=1",
                  "--set", "FlagCheckOnlyID3Tag=0", "--set", "ID3TagTitle=1", music.native()},
                 dir());
  EXPECT_NE(r.status, 2) << r.out << r.err;
  EXPECT_TRUE(fs::exists(music / "list.csv")) << r.out << r.err;
  // The failed tag is named, and each file keeps its bytes: no fragment of a
  // tag at its end.
  EXPECT_NE((r.out + r.err).find("東京.mp3"), std::string::npos) << r.out << r.err;
  auto after = Snapshot(music);
  after.erase("list.csv");
  after.erase("list.csv.undo");
  for (const auto& [name, bytes] : before) {
    ASSERT_EQ(after.count(name), 1u) << name;
    EXPECT_TRUE(after[name] == bytes || after[name].size() == bytes.size() + 128) << name;
    EXPECT_EQ(after[name].substr(0, bytes.size()), bytes) << name;
  }
}

}  // namespace
}  // namespace tarvel
