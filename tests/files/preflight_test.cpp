#include "files/preflight.h"

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/exfat_volume.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::WriteBytes;

class PreflightTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    lib_ = dir() / "lib";
    fs::create_directories(lib_);
    run_ = RunState();
  }
  std::string Library() const { return lib_.native() + "/"; }
  // A row in the library folder renaming `from` to `to`.
  FileEntry& Move(std::string_view from, std::string_view to, int32_t is_file = 1) {
    FileEntry& e = AddEntry(run_, *Utf8ToUtf16(Library()), *Utf8ToUtf16(from), is_file);
    e.NewName = *Utf8ToUtf16(to);
    e.RenameFlag = from != to ? 1 : 0;
    return e;
  }
  FileEntry& TagRow(std::string_view name) {
    FileEntry& e = Move(name, name);
    e.TagFlag = 1;
    return e;
  }
  fs::path lib_;
  RunState run_;
};

TEST_F(PreflightTest, RenamesThatCannotBeMadeAreFoundBeforeAnyChange) {
  const std::string long255 = std::string(251, 'a') + ".mp3";
  const std::string long256 = std::string(252, 'a') + ".mp3";
  const struct {
    const char* what;
    std::function<void()> make;
    PreflightCode code;
    size_t row;
  } kCases[] = {
      {"a swap goes through a temporary name",
       [&] {
         WriteBytes(lib_ / "a.mp3", "a");
         WriteBytes(lib_ / "b.mp3", "b");
         Move("a.mp3", "b.mp3");
         Move("b.mp3", "a.mp3");
       },
       PreflightCode::kOk, 0},
      {"a folder takes a name a file gives up",
       [&] {
         WriteBytes(lib_ / "x", "x");
         fs::create_directory(lib_ / "d");
         Move("x", "y.mp3");
         Move("d", "x", 0);
       },
       PreflightCode::kOk, 0},
      {"255 bytes fit",
       [&] {
         WriteBytes(lib_ / "s.mp3", "s");
         Move("s.mp3", long255);
       },
       PreflightCode::kOk, 0},
      {"256 bytes do not",
       [&] {
         WriteBytes(lib_ / "s.mp3", "s");
         WriteBytes(lib_ / "t.mp3", "t");
         Move("t.mp3", "u.mp3");
         Move("s.mp3", long256);
       },
       PreflightCode::kNameTooLong, 2},
      {"held by a link the scan passed over",
       [&] {
         WriteBytes(lib_ / "a.mp3", "a");
         fs::create_symlink("nowhere", lib_ / "b.mp3");
         Move("a.mp3", "b.mp3");
       },
       PreflightCode::kTaken, 1},
      {"held by another name of the same file",
       [&] {
         WriteBytes(lib_ / "a.mp3", "a");
         fs::create_hard_link(lib_ / "a.mp3", lib_ / "b.mp3");
         Move("a.mp3", "b.mp3");
       },
       PreflightCode::kTaken, 1},
      {"held by a folder that moves only after the files",
       [&] {
         WriteBytes(lib_ / "a.mp3", "a");
         fs::create_directory(lib_ / "b.mp3");
         Move("a.mp3", "b.mp3");
         Move("b.mp3", "c", 0);
       },
       PreflightCode::kTaken, 1},
      {"two files get one name",
       [&] {
         WriteBytes(lib_ / "a.mp3", "a");
         WriteBytes(lib_ / "b.mp3", "b");
         Move("a.mp3", "c.mp3");
         Move("b.mp3", "c.mp3");
       },
       PreflightCode::kSameNewName, 2},
      {"a folder gets a file's new name",
       [&] {
         WriteBytes(lib_ / "a.mp3", "a");
         fs::create_directory(lib_ / "d");
         Move("d", "c", 0);
         Move("a.mp3", "c");
       },
       PreflightCode::kSameNewName, 1},
      {"the folder is gone",
       [&] {
         FileEntry& e = AddEntry(run_, *Utf8ToUtf16(Library() + "gone/"), u"a.mp3", 1);
         e.NewName = u"b.mp3";
         e.RenameFlag = 1;
       },
       PreflightCode::kMissing, 1},
      {"the folder is gone: its first row is named, a folder's before a file's",
       [&] {
         for (auto [name, is_file] : {std::pair{u"d", 0}, std::pair{u"a.mp3", 1}}) {
           FileEntry& e = AddEntry(run_, *Utf8ToUtf16(Library() + "gone/"), name, is_file);
           e.NewName = u"new";
           e.RenameFlag = 1;
         }
       },
       PreflightCode::kMissing, 1},
      {"of problems in two folders, the earlier row's is named",
       [&] {
         WriteBytes(lib_ / "a.mp3", "a");
         WriteBytes(lib_ / "s.mp3", "s");
         Move("a.mp3", "x.mp3");
         FileEntry& e = AddEntry(run_, *Utf8ToUtf16(Library() + "gone/"), u"a.mp3", 1);
         e.NewName = u"b.mp3";
         e.RenameFlag = 1;
         Move("s.mp3", long256);
       },
       PreflightCode::kMissing, 2},
      {"the folder is reached through a link",
       [&] {
         fs::create_directory(dir() / "elsewhere");
         WriteBytes(dir() / "elsewhere" / "a.mp3", "a");
         fs::create_directory_symlink(dir() / "elsewhere", lib_ / "link");
         FileEntry& e = AddEntry(run_, *Utf8ToUtf16(Library() + "link/"), u"a.mp3", 1);
         e.NewName = u"b.mp3";
         e.RenameFlag = 1;
       },
       PreflightCode::kUnreachable, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(lib_);
    fs::create_directories(lib_);
    run_ = RunState();
    c.make();
    const auto before = testing::ExactTree(lib_);
    PreflightRefusal r = CheckRenames(run_, Library());
    EXPECT_EQ(r.code, c.code) << r.detail;
    EXPECT_EQ(r.row, c.row) << r.detail;
    if (c.code == PreflightCode::kNameTooLong) {
      EXPECT_EQ(r.name_bytes, 256u);
      EXPECT_EQ(r.name_max, 255u);
      EXPECT_NE(r.detail.find("256 bytes"), std::string::npos) << r.detail;
    }
    EXPECT_EQ(testing::ExactTree(lib_), before);
  }
}

// On a stick that folds letter case, a name held in another case is taken
// unless the file that holds it moves away in the same stage.
// A program started with its standard input closed may get descriptor 0
// for a folder: the renames in it (a name its holder leaves free included)
// and the tag of a file the scan did not keep are checked, not refused.
TEST_F(PreflightTest, AFolderOpenedAsDescriptorZeroIsChecked) {
  fs::create_directories(lib_ / "sub");
  WriteBytes(lib_ / "sub" / "a.mp3", "a");
  WriteBytes(lib_ / "sub" / "b.mp3", "b");
  WriteBytes(lib_ / "sub" / "t.mp3", std::string(200, 't'));
  const std::u16string sub = *Utf8ToUtf16(Library() + "sub/");
  AddEntry(run_, sub, u"a.mp3", 1).NewName = u"b.mp3";
  AddEntry(run_, sub, u"b.mp3", 1).NewName = u"c.mp3";
  run_.EntryTable[1].RenameFlag = run_.EntryTable[2].RenameFlag = 1;
  AddEntry(run_, sub, u"t.mp3", 1).TagFlag = 1;
  const struct {
    const char* what;
    std::function<PreflightRefusal(DiskOps&)> check;
  } kCases[] = {
      {"renames", [&](DiskOps& disk) { return CheckRenames(run_, Library(), disk); }},
      {"tags", [&](DiskOps& disk) { return SettleTagWrites(run_, Library(), disk).refusal; }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const int saved = ::dup(0);
    ASSERT_GE(saved, 0);
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kOpenBeneath, .name = "sub", .error = 0, .before = [] {
                ::close(0);
              }});
    const PreflightRefusal refusal = c.check(disk);
    ::dup2(saved, 0);
    ::close(saved);
    EXPECT_EQ(refusal.code, PreflightCode::kOk) << refusal.detail;
  }
  EXPECT_EQ(run_.EntryTable[3].TagFlag, 1);
}

// A large run's folders are checked in two halves at once; the refusal that
// comes first in the table is the one reported, whichever half found it.
TEST_F(PreflightTest, ALargeRunReportsItsFirstRefusal) {
  constexpr int kFolders = 40, kFiles = 60;  // 2,400 renames: two threads
  for (int f = 0; f < kFolders; ++f) {
    fs::create_directories(lib_ / std::to_string(f));
    for (int n = 0; n < kFiles; ++n) {
      WriteBytes(lib_ / std::to_string(f) / (std::to_string(n) + ".mp3"), "x");
    }
  }
  // Row of file `n` of folder `f`, as the table below numbers them.
  auto row = [](int f, int n) { return static_cast<size_t>(f * kFiles + n + 1); };
  const struct {
    const char* what;
    std::vector<std::pair<int, int>> taken;  // (folder, file) whose new name is held
    size_t row;                              // 0: no refusal
  } kCases[] = {
      {"none", {}, 0},
      {"only in the first half", {{3, 7}}, row(3, 7)},
      {"only in the second half", {{35, 2}}, row(35, 2)},
      {"in both halves", {{36, 0}, {5, 59}, {39, 59}}, row(5, 59)},
      {"the last file of the first half, and the second half", {{19, 59}, {20, 0}}, row(19, 59)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    run_ = RunState();
    for (int f = 0; f < kFolders; ++f) {
      const std::u16string folder = *Utf8ToUtf16(Library() + std::to_string(f) + "/");
      for (int n = 0; n < kFiles; ++n) {
        FileEntry& e = AddEntry(run_, folder, *Utf8ToUtf16(std::to_string(n) + ".mp3"), 1);
        e.NewName = *Utf8ToUtf16("new" + std::to_string(n) + ".mp3");
        e.RenameFlag = 1;
      }
    }
    for (const auto& [f, n] : c.taken) {
      WriteBytes(lib_ / std::to_string(f) / ("new" + std::to_string(n) + ".mp3"), "held");
    }
    const PreflightRefusal r = CheckRenames(run_, Library());
    for (const auto& [f, n] : c.taken) {
      fs::remove(lib_ / std::to_string(f) / ("new" + std::to_string(n) + ".mp3"));
    }
    EXPECT_EQ(r.code, c.row == 0 ? PreflightCode::kOk : PreflightCode::kTaken) << r.detail;
    EXPECT_EQ(r.row, c.row) << r.detail;
  }
}

TEST_F(PreflightTest, OnAStickANameInAnotherCaseIsFreeOnlyWhenItsHolderMoves) {
  testing::ExfatVolume stick;
  if (!stick.ok()) GTEST_SKIP() << stick.why();
  lib_ = stick.path();
  const struct {
    const char* what;
    bool holder_moves;
    PreflightCode code;
  } kCases[] = {{"the holder stays", false, PreflightCode::kTaken},
                {"the holder moves away", true, PreflightCode::kOk}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    for (const auto& entry : fs::directory_iterator(lib_)) fs::remove_all(entry.path());
    run_ = RunState();
    WriteBytes(lib_ / "ab.mp3", "1");
    WriteBytes(lib_ / "x.mp3", "2");
    if (c.holder_moves) Move("ab.mp3", "y.mp3");
    Move("x.mp3", "AB.mp3");
    const PreflightRefusal r = CheckRenames(run_, Library());
    EXPECT_EQ(r.code, c.code) << r.detail;
  }
}

TEST_F(PreflightTest, FilesThatCannotTakeATagOrShareOneAreLeftAlone) {
  const std::string audio(200, '\xAA');
  using Reason = TagSkip::Reason;
  const struct {
    const char* what;
    std::function<void()> make;
    std::vector<std::string> rows;   // the tag rows, in table order
    std::vector<int32_t> tag_flags;  // their TagFlag after the check
    std::vector<Reason> skipped;
    PreflightCode refusal;
  } kCases[] = {
      {"empty and 127 bytes; 128 bytes hold a tag",
       [&] {
         WriteBytes(lib_ / "empty.mp3", "");
         WriteBytes(lib_ / "short.mp3", std::string(127, 'x'));
         WriteBytes(lib_ / "full.mp3", std::string(128, 'x'));
       },
       {"empty.mp3", "short.mp3", "full.mp3"},
       {0, 0, 1},
       {Reason::kTooShort, Reason::kTooShort},
       PreflightCode::kOk},
      {"a hard link is written once, through its first name",
       [&] {
         WriteBytes(lib_ / "a.mp3", audio);
         WriteBytes(lib_ / "other.mp3", audio);
         fs::create_hard_link(lib_ / "a.mp3", lib_ / "b.mp3");
       },
       {"a.mp3", "other.mp3", "b.mp3"},
       {1, 1, 0},
       {Reason::kSameFile},
       PreflightCode::kOk},
      {"a copy is another file",
       [&] {
         WriteBytes(lib_ / "a.mp3", audio);
         WriteBytes(lib_ / "b.mp3", audio);
       },
       {"a.mp3", "b.mp3"},
       {1, 1},
       {},
       PreflightCode::kOk},
      {"what the scan read of a file is taken, not the disk now",
       [&] {
         WriteBytes(lib_ / "a.mp3", audio);
         DiskEntry& found = run_.FoundOnDisk[2];
         found.is_file = true;
         found.has_block = true;
         found.size = audio.size();
       },
       {"a.mp3", "gone.mp3"},
       {1, 1},
       {},
       PreflightCode::kOk},
      {"a file that is gone refuses the run",
       [&] { WriteBytes(lib_ / "a.mp3", audio); },
       {"a.mp3", "gone.mp3"},
       {1, 1},
       {},
       PreflightCode::kMissing},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(lib_);
    fs::create_directories(lib_);
    run_ = RunState();
    c.make();
    for (const std::string& name : c.rows) TagRow(name);
    TagPlan plan = SettleTagWrites(run_, Library());
    EXPECT_EQ(plan.refusal.code, c.refusal) << plan.refusal.detail;
    ASSERT_EQ(plan.skipped.size(), c.skipped.size());
    for (size_t k = 0; k < c.skipped.size(); ++k) {
      EXPECT_EQ(plan.skipped[k].reason, c.skipped[k]);
      if (c.skipped[k] == Reason::kSameFile) {
        EXPECT_EQ(plan.skipped[k].same_as, 1u);
      }
    }
    for (size_t i = 1; i <= c.tag_flags.size(); ++i) {
      EXPECT_EQ(run_.EntryTable[i].TagFlag, c.tag_flags[i - 1]) << c.rows[i - 1];
    }
  }
}

}  // namespace
}  // namespace tarvel
