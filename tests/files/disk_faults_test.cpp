// The file stages under faults planted in their system calls: on the second
// thread of a large stage, and below a folder swapped for a link.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/front_end.h"
#include "files/apply_changes.h"
#include "files/restore.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "platform/two_threads.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using ::tarvel::testing::DiskCall;
using ::tarvel::testing::DiskFault;
using ::tarvel::testing::FaultDiskOps;
using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::WriteBytes;

namespace fs = std::filesystem;

const std::string kAudio(300, '\xAA');

std::string Block(std::string_view title) {
  auto field = [](std::string_view s, size_t width) {
    std::string f(s);
    f.resize(width, ' ');
    return f;
  };
  return "TAG" + field(title, 30) + field("", 30) + field("", 30) + field("1999", 4) +
         field("note", 30) + '\x03';
}

std::u16string Text16(const fs::path& p) { return *Utf8ToUtf16(p.native()); }

class DiskFaultsTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    lib_ = dir() / "lib";
    app_.settings.PathDataFolder = Text16(lib_);
  }

  // A library of kFolders folders of kPerFolder tagged files, each with a
  // row that gives it a new title and a new name.
  void MakeLibrary(bool tags) {
    for (int f = 0; f < kFolders; ++f) {
      const fs::path folder = lib_ / std::to_string(f);
      fs::create_directories(folder);
      for (int n = 0; n < kPerFolder; ++n) {
        const std::string name = "f" + std::to_string(f) + "-" + std::to_string(n) + ".mp3";
        files_.push_back(folder / name);
        WriteBytes(files_.back(), kAudio + Block("old"));
        FileEntry& e = AddEntry(run_, Text16(folder) + u"/", *Utf8ToUtf16(name), 1);
        e.NewName = u"new-" + e.OldName;
        e.RenameFlag = tags ? 0 : 1;
        e.TagFlag = tags ? 1 : 0;
        e.OldTitle = u"old";
        e.NewTitle = u"title";
      }
    }
  }

  static constexpr int kFolders = 6, kPerFolder = 400;  // 2,400 files: two threads
  fs::path lib_;
  std::vector<fs::path> files_;
  AppState app_;
  RunState run_;
};

// A fault on a file of the second half of a large stage (the second thread's
// share) stops the stage, names the file and leaves every file whole: either
// as it was or fully changed. The undo then puts back every byte.
TEST_F(DiskFaultsTest, FaultOnTheSecondThreadStopsTheStageAndLeavesNothingTorn) {
  ASSERT_TRUE(SecondThreadPays(kFolders * kPerFolder)) << "needs a machine with two cores";
  const std::string victim = "f5-123.mp3";  // row 2,124 of 2,400
  struct {
    const char* label;
    bool tags;
    DiskFault fault;
  } kCases[] = {
      {"failed tag write", true, {.call = DiskCall::kWrite, .name = victim, .error = EIO}},
      {"tag write cut short by a full disk",
       true,
       {.call = DiskCall::kWrite, .name = victim, .partial = 96}},
      {"refused rename", false, {.call = DiskCall::kRename, .name = victim, .error = EACCES}},
  };
  for (auto& c : kCases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(lib_);
    files_.clear();
    ResetEntryTable(run_);
    MakeLibrary(c.tags);
    UndoRecord undo = CaptureUndoRecord(run_);
    FaultDiskOps disk;
    const std::thread::id main_thread = std::this_thread::get_id();
    bool on_second_thread = false;
    c.fault.before = [&] { on_second_thread = std::this_thread::get_id() != main_thread; };
    disk.Add(c.fault);
    StageResult result;
    const int32_t ok = c.tags ? WriteTags(app_, run_, &result, &undo, disk)
                              : RenameFiles(app_, run_, &result, disk);
    EXPECT_EQ(ok, 0);
    EXPECT_TRUE(on_second_thread);
    EXPECT_NE(result.message.find(victim), std::string::npos) << result.message;
    int changed = 0;
    for (const fs::path& file : files_) {
      const fs::path renamed = file.parent_path() / ("new-" + file.filename().native());
      if (c.tags) {
        const std::string bytes = ReadBytes(file);
        const bool whole = bytes == kAudio + Block("old") || bytes == kAudio + Block("title");
        EXPECT_TRUE(whole) << file;
        changed += bytes == kAudio + Block("title") ? 1 : 0;
      } else {
        EXPECT_NE(fs::exists(file), fs::exists(renamed)) << file;
        changed += fs::exists(renamed) ? 1 : 0;
      }
    }
    // The first thread's share is done; the failing file's folder is not.
    EXPECT_GE(changed, kFolders * kPerFolder / 2);
    EXPECT_LT(changed, kFolders * kPerFolder);

    RestoreDetails details;
    ASSERT_EQ(
        c.tags ? RestoreTags(app_, run_, details, &undo) : RestoreFiles(app_, run_, details, &undo),
        1);
    EXPECT_EQ(details.NotRestored(), 0u);
    for (const fs::path& file : files_) ASSERT_EQ(ReadBytes(file), kAudio + Block("old")) << file;
  }
}

// Anything thrown inside a stage, on either thread, fails the stage with
// what was thrown; it never passes for a stage that went well.
TEST_F(DiskFaultsTest, AnExceptionInAStageFailsIt) {
  struct {
    const char* label;
    bool tags;
    const char* victim;  // f0-*: the first thread's share; f5-*: the second's
    bool standard;       // a std::exception, or anything else
    const char* message;
  } const kCases[] = {
      {"tag write, first thread", true, "f0-3.mp3", true, "unexpected error: boom"},
      {"tag write, second thread", true, "f5-123.mp3", false, "unexpected error: unknown"},
      {"rename, first thread", false, "f0-3.mp3", false, "unexpected error: unknown"},
      {"rename, second thread", false, "f5-123.mp3", true, "unexpected error: boom"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(lib_);
    files_.clear();
    ResetEntryTable(run_);
    MakeLibrary(c.tags);
    FaultDiskOps disk;
    disk.Add({.call = c.tags ? DiskCall::kWrite : DiskCall::kRename,
              .name = c.victim,
              .error = 0,
              .before = [&] {
                if (c.standard) throw std::runtime_error("boom");
                throw 1;
              }});
    StageResult result;
    EXPECT_EQ(c.tags ? WriteTags(app_, run_, &result, nullptr, disk)
                     : RenameFiles(app_, run_, &result, disk),
              0);
    EXPECT_EQ(result.message, c.message);
  }
}

// A folder of the library replaced by a link after the scan: neither a tag
// write nor a rename below it follows the link.
TEST_F(DiskFaultsTest, WriteOrRenameBelowAFolderSwappedForALinkIsRefused) {
  for (bool tags : {true, false}) {
    SCOPED_TRACE(tags ? "tag write" : "rename");
    fs::remove_all(lib_);
    fs::remove_all(dir() / "elsewhere");
    ResetEntryTable(run_);
    fs::create_directories(lib_ / "a");
    WriteBytes(lib_ / "a" / "song.mp3", kAudio + Block("old"));
    FileEntry& e = AddEntry(run_, Text16(lib_ / "a") + u"/", u"song.mp3", 1);
    e.NewName = u"new.mp3";
    e.NewTitle = u"title";
    (tags ? e.TagFlag : e.RenameFlag) = 1;
    FaultDiskOps disk;
    disk.Add({.call = DiskCall::kOpenBeneath, .error = 0, .before = [&] {
                fs::rename(lib_ / "a", dir() / "elsewhere");
                fs::create_directory_symlink(dir() / "elsewhere", lib_ / "a");
              }});
    StageResult result;
    EXPECT_EQ(tags ? WriteTags(app_, run_, &result, nullptr, disk)
                   : RenameFiles(app_, run_, &result, disk),
              0);
    EXPECT_NE(result.message.find("reached through a link"), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("song.mp3"), std::string::npos) << result.message;
    EXPECT_EQ(ReadBytes(dir() / "elsewhere" / "song.mp3"), kAudio + Block("old"));
    EXPECT_FALSE(fs::exists(dir() / "elsewhere" / "new.mp3"));
  }
}

// A rename whose folder cannot be opened is refused in the system's words.
TEST_F(DiskFaultsTest, RenameInAFolderThatCannotBeOpenedSaysWhy) {
  fs::create_directories(lib_ / "a");
  WriteBytes(lib_ / "a" / "song.mp3", kAudio);
  FileEntry& e = AddEntry(run_, Text16(lib_ / "a") + u"/", u"song.mp3", 1);
  e.NewName = u"new.mp3";
  e.RenameFlag = 1;
  for (int error : {EPERM, EIO}) {
    SCOPED_TRACE(std::strerror(error));
    FaultDiskOps disk;
    disk.Add({.call = DiskCall::kOpenBeneath, .error = error});
    StageResult result;
    EXPECT_EQ(RenameFiles(app_, run_, &result, disk), 0);
    EXPECT_NE(result.message.find(std::string(": refused (") + std::strerror(error) + ")"),
              std::string::npos)
        << result.message;
    EXPECT_TRUE(fs::exists(lib_ / "a" / "song.mp3"));
  }
}

}  // namespace
}  // namespace tarvel
