// Which file a row is, and what it was, on the media people really use:
// exFAT sticks that hand out new inode numbers every time they are plugged
// in, local disks where inode numbers hold, files their owner may not read.
// Each library is converted for real and restored.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "app/tables.h"
#include "files/id3_tag.h"
#include "files/restore.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/restore_run.h"
#include "run/run_driver.h"
#include "run/run_test_support.h"
#include "support/exfat_volume.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

using ::tarvel::testing::Text16;

std::string Tag(std::string_view title) {
  std::string block = "TAG" + std::string(title);
  block.resize(93, ' ');
  return block + "1999" + std::string(30, '\0') + "\x11";
}

// Every entry's modification time in seconds.
std::map<std::string, long long> Seconds(const fs::path& root) {
  std::map<std::string, long long> times;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat st;
    if (::lstat(entry.path().c_str(), &st) != 0) continue;
    times[fs::relative(entry.path(), root).native()] = st.st_mtim.tv_sec;
  }
  times.erase("list.csv");
  times.erase("list.csv.undo");
  return times;
}

// exFAT through FUSE writes a time it is given to two seconds and keeps the
// hundredths of the write before (the medium itself holds 10 ms): a restored
// time is within two seconds of the old one there, and no closer.
void ExpectTimesWithinTwoSeconds(const std::map<std::string, long long>& before,
                                 const std::map<std::string, long long>& after) {
  ASSERT_EQ(before.size(), after.size());
  for (const auto& [path, sec] : before) {
    ASSERT_TRUE(after.count(path)) << path;
    EXPECT_LT(std::llabs(after.at(path) - sec), 2) << path;
  }
}

class UndoIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.ui = &ui_;
    app_.reading = &fixed_;
    ASSERT_TRUE(testing::LoadShippedTables(app_));
    app_.folder.history_dir = history_.path();
  }

  // Settings for a real run on `lib` that takes titles from file names and
  // renames files and folders, the list in the library.
  void Use(const fs::path& lib) {
    lib_ = lib;
    app_.settings = testing::ApplyingRun(lib);
    app_.settings.ID3TagTitle = 1;
  }

  void Mp3(const fs::path& rel, std::string_view tag = {}, size_t audio = 300) {
    fs::create_directories((lib_ / rel).parent_path());
    WriteBytes(lib_ / rel, std::string(audio, '\xAA') + std::string(tag));
  }

  RunReport Convert() {
    ui_ = RecordingFrontEnd();
    RunState run;
    return RunConversion(app_, run);
  }

  RestoreReport Restore() {
    ui_ = RecordingFrontEnd();
    RunState run;
    return RunRestore(app_, run, Text16(lib_ / "list.csv"));
  }

  testing::TempDir history_;
  fs::path lib_;
  AppState app_;
  RecordingFrontEnd ui_;
  testing::FixedReadingService fixed_{{u"東京", u"トウキョウ"}, {u"夜", u"よる"}};
};

// A stick pulled out and plugged in again between the run and the restore
// (every file then has another inode number): the restore still knows each
// file by its name, size and last bytes, and gives back names, tags and
// modification times, byte for byte.
TEST_F(UndoIdentityTest, ExfatStickPluggedInAgainIsRestoredByteForByte) {
  testing::ExfatVolume stick;
  if (!stick.ok()) {
    GTEST_SKIP() << stick.why();
  }
  struct Case {
    const char* name;
    bool remount_before_restore;
    bool remount_after_restore;
  } const kCases[] = {
      {"restored while still plugged in", false, true},
      {"plugged in again before the restore", true, true},
      {"plugged in again before and after", true, false},
  };
  int n = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Use(stick.path() / ("music" + std::to_string(n++)));
    Mp3("東京.mp3", Tag("old title"));
    Mp3("夜.mp3");
    Mp3("東京/夜.mp3", Tag("x"));
    Mp3("東京/東京.mp3", Tag("y"), 40);
    ASSERT_TRUE(stick.Remount()) << stick.why();
    const auto before = testing::ExactTree(lib_);
    const auto times_before = Seconds(lib_);
    RunReport run = Convert();
    ASSERT_EQ(run.outcome, RunReport::Outcome::kCompleted) << run.detail << U8(ui_.log);
    ASSERT_TRUE(fs::exists(lib_ / "ﾄｳｷｮｳ" / "ﾖﾙ.mp3"));
    if (c.remount_before_restore) {
      ASSERT_TRUE(stick.Remount()) << stick.why();
    }
    RestoreReport back = Restore();
    EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << back.detail << U8(ui_.log);
    EXPECT_EQ(back.details.NotRestored(), 0u) << U8(ui_.log);
    if (c.remount_after_restore) {
      ASSERT_TRUE(stick.Remount()) << stick.why();
    }
    EXPECT_EQ(testing::ExactTree(lib_), before);
    ExpectTimesWithinTwoSeconds(times_before, Seconds(lib_));
  }
}

// The kernel drops its caches between the scan and a tag write (as it does
// under memory pressure): on exFAT every file then has another inode
// number, and the run must still know each file as the one it read.
TEST_F(UndoIdentityTest, ExfatCacheDropDuringTheRunStopsNothing) {
  testing::ExfatVolume stick;
  if (!stick.ok()) {
    GTEST_SKIP() << stick.why();
  }
  if (::access("/proc/sys/vm/drop_caches", W_OK) != 0) {
    GTEST_SKIP() << "cannot drop caches";
  }
  struct Case {
    const char* name;
    int before_change;  // the disk change before which the caches go
  } const kCases[] = {{"before the first tag write", 1}, {"before the third tag write", 3}};
  int n = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Use(stick.path() / ("music" + std::to_string(n++)));
    Mp3("東京.mp3", Tag("old title"));
    Mp3("夜.mp3");
    Mp3("東京/夜.mp3", Tag("x"));
    Mp3("東京/東京.mp3", Tag("y"));
    const auto before = testing::ExactTree(lib_);
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kOpenForWrite,
              .nth = c.before_change,
              .error = 0,
              .before = [] {
                ::sync();
                WriteBytes("/proc/sys/vm/drop_caches", "2\n");
              }});
    ui_ = RecordingFrontEnd();
    RunState state;
    RunReport run = RunConversion(app_, state, disk);
    ASSERT_EQ(run.outcome, RunReport::Outcome::kCompleted) << run.detail << U8(ui_.log);
    RestoreReport back = Restore();
    EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << back.detail << U8(ui_.log);
    EXPECT_EQ(testing::ExactTree(lib_), before);
  }
}

// Where inode numbers hold (ext4 for the temporary folder, tmpfs), another
// file put under a converted name is still not taken for the row's file,
// even with the same bytes, and is left alone.
TEST_F(UndoIdentityTest, ADifferentFileUnderTheNameIsRefusedWhereInodesHold) {
  testing::TempDir disk_dir;
  struct Case {
    const char* name;
    fs::path base;
  } const kCases[] = {{"ext4 or the temporary folder's own", disk_dir.path()},
                      {"tmpfs", "/dev/shm"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    if (!fs::is_directory(c.base)) continue;
    testing::TempDir scratch;  // removes the library at the end
    const fs::path lib = c.base / ("identity-" + std::to_string(::getpid()));
    fs::remove_all(lib);
    Use(lib);
    Mp3("東京.mp3", Tag("t"));
    RunReport run = Convert();
    ASSERT_EQ(run.outcome, RunReport::Outcome::kCompleted) << run.detail;
    const fs::path now = lib_ / "ﾄｳｷｮｳ.mp3";
    const std::string bytes = ReadBytes(now);
    // A copy put in its place: the same bytes, another inode (made while
    // the old one still exists, so that its number is not handed on).
    WriteBytes(lib_ / "copy.tmp", bytes);
    fs::rename(lib_ / "copy.tmp", now);
    RestoreReport back = Restore();
    EXPECT_EQ(back.outcome, RestoreReport::Outcome::kIncomplete) << U8(ui_.log);
    EXPECT_EQ(back.details.missing.size(), 1u) << U8(ui_.log);
    EXPECT_EQ(ReadBytes(now), bytes);
    EXPECT_FALSE(fs::exists(lib_ / "東京.mp3"));
    fs::remove_all(lib);
  }
}

// A file its owner may not read (mode 000): the run records its mode and tag
// before it makes the file readable and writable, so the restore gives back
// both. Only an ordinary user meets the permission bits.
TEST_F(UndoIdentityTest, UnreadableFileGetsItsModeAndBytesBack) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "permission bits do not stop root; run as another user";
  }
  testing::TempDir dir;
  struct Case {
    const char* name;
    mode_t mode;
    std::string tag;
  } const kCases[] = {
      {"mode 000 with a tag", 0000, Tag("old")},
      {"mode 000 without a tag", 0000, ""},
      {"write-only", 0200, Tag("old")},
  };
  int n = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Use(dir.path() / ("music" + std::to_string(n++)));
    Mp3("東京.mp3", c.tag);
    const std::string bytes = ReadBytes(lib_ / "東京.mp3");
    ASSERT_EQ(::chmod((lib_ / "東京.mp3").c_str(), c.mode), 0);
    const auto before = testing::ExactTreeWithTimes(lib_);
    RunReport run = Convert();
    ASSERT_EQ(run.outcome, RunReport::Outcome::kCompleted) << run.detail << U8(ui_.log);
    RestoreReport back = Restore();
    EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << U8(ui_.log);
    struct stat st;
    ASSERT_EQ(::stat((lib_ / "東京.mp3").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_EQ(testing::ExactTreeWithTimes(lib_), before);
    ::chmod((lib_ / "東京.mp3").c_str(), 0600);
    EXPECT_EQ(ReadBytes(lib_ / "東京.mp3"), bytes);
  }
}

// A restore with no record of the bytes (the record was lost) puts the old
// texts back only where the run can have changed them: a file too short for
// a tag, or one with no tag while the row's old texts are empty, never got
// one from the run and is left as it is; that is no failure.
TEST_F(UndoIdentityTest, TagsTheRunNeverWroteAreNoFailure) {
  testing::TempDir dir;
  Use(dir.path() / "music");
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string old_title;
    std::string after;  // the bytes after the restore
  } const kCases[] = {
      {"a file shorter than a tag", std::string(50, 'a'), u"", std::string(50, 'a')},
      {"an empty file", "", u"", ""},
      {"a file without a tag and no old texts", std::string(300, 'a'), u"", std::string(300, 'a')},
      {"a tag that has its old texts", std::string(300, 'a') + Tag("old"), u"old",
       std::string(300, 'a') + Tag("old")},
      {"a tag the run wrote", std::string(300, 'a') + Tag("new"), u"old",
       std::string(300, 'a') + Tag("old")},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(lib_);
    WriteBytes(lib_ / "a.mp3", c.bytes);
    RunState run;
    FileEntry& e = AddEntry(run, Text16(lib_) + u"/", u"a.mp3", 1);
    e.OldTitle = c.old_title;
    e.NewTitle = u"new";
    e.TagFlag = 1;
    run.EntryCount = 1;
    RestoreDetails details;
    ui_ = RecordingFrontEnd();
    ASSERT_EQ(RestoreTags(app_, run, details), 1);
    EXPECT_TRUE(details.skipped.empty()) << details.skipped.front();
    EXPECT_EQ(details.NotRestored(), 0u);
    EXPECT_EQ(ReadBytes(lib_ / "a.mp3"), c.after);
  }
}

}  // namespace
}  // namespace tarvel
