#include "files/apply_changes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "files/file_stage.h"
#include "files/id3_tag.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "platform/two_threads.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

namespace fs = std::filesystem;

const std::string kAudio(1000, '\xFF');

// A tag block with the given title, year, comment and genre.
std::string TagBlock(std::string_view title, std::string_view year, std::string_view comment,
                     unsigned char genre) {
  auto field = [](std::string_view s, size_t width) {
    std::string f(s);
    f.resize(width, ' ');
    return f;
  };
  std::string b = "TAG" + field(title, 30) + field("", 30) + field("", 30) + field(year, 4) +
                  field(comment, 30);
  b.push_back(static_cast<char>(genre));
  return b;
}

std::u16string Text16(const fs::path& p) { return *Utf8ToUtf16(p.native()); }

// Records how far a stage said it got; progress never runs past its total.
// `most_done` may be read from a stage's second thread (std::atomic_ref).
class ProgressFrontEnd : public RecordingFrontEnd {
 public:
  void ReportProgress(ProgressStage stage, int64_t done, int64_t total) override {
    EXPECT_LE(done, total);
    if (stage == last_stage && done < last_done) went_back = true;
    last_stage = stage;
    last_done = done;
    std::atomic_ref(most_done).store(std::max(most_done, done));
  }
  alignas(8) int64_t most_done = 0;
  bool went_back = false;
  ProgressStage last_stage{};
  int64_t last_done = 0;
};

class ApplyChangesTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    lib_ = dir() / "lib";
    fs::create_directories(lib_);
    app_.settings.FlagDisplayLog = 1;
    app_.ui = &ui_;
  }

  // Adds a row for `folder` (relative to the library) and `name`.
  FileEntry& Row(const fs::path& folder, std::u16string_view name, std::u16string_view new_name,
                 int32_t is_file) {
    std::u16string path = Text16(folder.empty() ? lib_ : lib_ / folder) + u"/";
    FileEntry& e = AddEntry(run_, path, name, is_file);
    e.NewName = new_name;
    e.RenameFlag = 1;
    return e;
  }

  FileEntry& TagRow(std::u16string_view name, std::u16string_view title) {
    FileEntry& e = Row("", name, name, 1);
    e.RenameFlag = 0;
    e.TagFlag = 1;
    e.NewTitle = title;
    e.NewArtist = u"ｱｰﾃｨｽﾄ";
    e.NewAlbum = u"Album";
    return e;
  }

  ID3TagData Tag(const fs::path& p) {
    ID3TagData tag;
    EXPECT_EQ(ReadID3Tag(Text16(p), tag), 1) << p;
    return tag;
  }

  fs::path lib_;
  AppState app_;
  ProgressFrontEnd ui_;
  RunState run_;
};

TEST_F(ApplyChangesTest, EveryStageReportsItsCountInBothDisplayModes) {
  using Stage = std::function<int32_t(AppState&, RunState&)>;
  struct {
    const char* label;
    Stage stage;
    std::u16string text;
  } kCases[] = {
      {"tags", [](AppState& a, RunState& r) { return WriteTags(a, r); },
       u"個のID3Tagを変更しました。"},
      {"files", [](AppState& a, RunState& r) { return RenameFiles(a, r); },
       u"個のファイル名を変更しました。"},
      {"folders", [](AppState& a, RunState& r) { return RenameFolders(a, r); },
       u"個のフォルダ名を変更しました。"},
  };
  for (const auto& c : kCases) {
    for (int32_t display_log : {1, 0}) {
      SCOPED_TRACE(std::string(c.label) + (display_log == 1 ? " log" : " box"));
      // An empty table first, then one flagged file and one flagged folder.
      for (int32_t expected : {0, 1}) {
        ResetEntryTable(run_);
        fs::remove_all(lib_);
        fs::create_directories(lib_);
        if (expected == 1) {
          WriteBytes(lib_ / "a.mp3", kAudio);
          fs::create_directories(lib_ / "d");
          Row("", u"a.mp3", u"b.mp3", 1).TagFlag = 1;
          Row("", u"d", u"e", 0);
        }
        ui_.log.clear();
        ui_.messages.clear();
        app_.settings.FlagDisplayLog = display_log;
        ASSERT_EQ(c.stage(app_, run_), 1);
        std::u16string box = (expected == 1 ? u"1" : u"0") + c.text;
        if (display_log == 1) {
          EXPECT_EQ(U8(ui_.log), U8(box + u"\r\n"));
          EXPECT_TRUE(ui_.messages.empty());
        } else {
          ASSERT_EQ(ui_.messages.size(), 1u);
          EXPECT_EQ(U8(ui_.messages[0]), U8(box));
          EXPECT_TRUE(ui_.log.empty());
        }
      }
    }
  }
}

TEST(LibraryFolderOfTest, IsThePreferredFolderOrTheDeepestOneHoldingEveryRow) {
  const struct {
    const char* label;
    std::vector<std::u16string> folders;  // of the rows, in table order
    std::u16string preferred;
    std::string library;
  } kCases[] = {
      {"every row below", {u"/music/a/", u"/music/"}, u"/music", "/music/"},
      {"the first row outside", {u"/other/x/", u"/music/a/"}, u"/music/", "/"},
      {"a later row outside", {u"/lib/a/", u"/lib/b/c/"}, u"/lib/a", "/lib/"},
      {"a common name start is cut at a slash",
       {u"/lib/music/a/", u"/lib/musical/"},
       u"/x",
       "/lib/"},
      {"no preferred folder", {u"/lib/a/", u"/lib/a/b/"}, u"", "/lib/a/"},
      {"no rows", {}, u"/music", "/music/"},
      {"no rows, no preferred folder", {}, u"", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    RunState run;
    for (const std::u16string& folder : c.folders) AddEntry(run, folder, u"a.mp3", 1);
    EXPECT_EQ(LibraryFolderOf(run, c.preferred), c.library);
  }
}

TEST_F(ApplyChangesTest, WriteTagsKeepsTheRestOfEachTag) {
  WriteBytes(lib_ / "tagged.mp3", kAudio + TagBlock("old", "1999", "note", 17));
  WriteBytes(lib_ / "bare.mp3", kAudio);
  WriteBytes(lib_ / "unflagged.mp3", kAudio + TagBlock("keep", "", "", 0));
  TagRow(u"tagged.mp3", u"ﾀｲﾄﾙ");
  TagRow(u"bare.mp3", u"Bare");
  TagRow(u"unflagged.mp3", u"x").TagFlag = 0;
  FileEntry& folder = TagRow(u"sub", u"x");  // folder rows never get tags
  folder.IsFile = 0;
  fs::create_directories(lib_ / "sub");

  StageResult details;
  ASSERT_EQ(WriteTags(app_, run_, &details), 1);
  EXPECT_EQ(U8(ui_.log), U8(u"2個のID3Tagを変更しました。\r\n"));
  EXPECT_TRUE(details.message.empty());

  ID3TagData tagged = Tag(lib_ / "tagged.mp3");
  EXPECT_EQ(U8(tagged.Title), U8(u"ﾀｲﾄﾙ"));
  EXPECT_EQ(U8(tagged.Artist), U8(u"ｱｰﾃｨｽﾄ"));
  EXPECT_EQ(U8(tagged.Album), "Album");
  EXPECT_EQ(U8(tagged.Year), "1999");
  EXPECT_EQ(U8(tagged.Comment), "note");
  EXPECT_EQ(tagged.Genre, 17);
  EXPECT_EQ(fs::file_size(lib_ / "tagged.mp3"), kAudio.size() + 128);

  // A file without a tag gets one of its own, not the previous file's year.
  ID3TagData bare = Tag(lib_ / "bare.mp3");
  EXPECT_EQ(U8(bare.Title), "Bare");
  EXPECT_TRUE(bare.Year.empty());
  EXPECT_TRUE(bare.Comment.empty());
  EXPECT_EQ(bare.Genre, kNoGenre);
  EXPECT_EQ(ReadBytes(lib_ / "bare.mp3").substr(0, kAudio.size()), kAudio);

  EXPECT_EQ(U8(Tag(lib_ / "unflagged.mp3").Title), "keep");
  EXPECT_TRUE(fs::is_directory(lib_ / "sub"));
}

TEST_F(ApplyChangesTest, TagThatCannotBeWrittenStopsTheStageAndLeavesTheFileAsItWas) {
  const std::string tagged = kAudio + TagBlock("old", "1999", "note", 17);
  const struct {
    const char* what;
    const char* name;
    std::function<void(const fs::path&)> make;
    bool fault;
    const char* reason;
    bool changed_after_read = false;  // another program rewrites the tag
  } kCases[] = {
      {"gone", "gone.mp3", [](const fs::path&) {}, false, "cannot open"},
      {"a name that is not a single name", "sub/in.mp3",
       [&](const fs::path& p) {
         fs::create_directories(p.parent_path());
         WriteBytes(p, tagged);
       },
       false, "cannot open the file: Invalid argument"},
      {"too short", "short.mp3", [](const fs::path& p) { WriteBytes(p, "tiny"); }, false,
       "shorter than 128"},
      {"a link", "link.mp3",
       [&](const fs::path& p) {
         WriteBytes(p.parent_path() / "target.txt", tagged);
         fs::create_symlink("target.txt", p);
       },
       false, "cannot open"},
      {"full disk while appending", "append.mp3", [&](const fs::path& p) { WriteBytes(p, kAudio); },
       true, "cannot write"},
      {"full disk while overwriting", "over.mp3", [&](const fs::path& p) { WriteBytes(p, tagged); },
       true, "cannot write"},
      {"rewritten by another program", "other.mp3",
       [&](const fs::path& p) { WriteBytes(p, tagged); }, false,
       "the file has changed since it was read", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(lib_);
    fs::create_directories(lib_);
    run_ = RunState();
    ui_ = ProgressFrontEnd();
    c.make(lib_ / c.name);
    WriteBytes(lib_ / "earlier.mp3", tagged);
    WriteBytes(lib_ / "later.mp3", tagged);
    TagRow(u"earlier.mp3", u"new");
    TagRow(std::u16string(Utf8ToUtf16(c.name).value()), u"new");
    TagRow(u"later.mp3", u"new");
    const UndoRecord undo = CaptureUndoRecord(run_);
    if (c.changed_after_read) WriteBytes(lib_ / c.name, kAudio + TagBlock("theirs", "", "", 1));
    const std::string before = fs::exists(lib_ / c.name) ? ReadBytes(lib_ / c.name) : "";
    // The file's first write puts down 96 bytes, then the disk is full.
    testing::FaultDiskOps disk;
    if (c.fault) disk.Add({.call = testing::DiskCall::kWrite, .name = c.name, .partial = 96});
    StageResult details;
    EXPECT_EQ(WriteTags(app_, run_, &details, &undo, disk), 0);
    EXPECT_EQ(ui_.log, u"");
    EXPECT_EQ(ui_.most_done, 2);  // the stage ends at the failing row
    EXPECT_NE(details.message.find(c.name), std::string::npos) << details.message;
    EXPECT_NE(details.message.find(c.reason), std::string::npos) << details.message;
    if (!before.empty()) {
      EXPECT_EQ(ReadBytes(lib_ / c.name), before);
    }
    EXPECT_EQ(U8(Tag(lib_ / "earlier.mp3").Title), "new");
    EXPECT_EQ(ReadBytes(lib_ / "later.mp3"), tagged);
    if (fs::exists(lib_ / "target.txt")) {
      EXPECT_EQ(ReadBytes(lib_ / "target.txt"), tagged);
    }
  }
}

TEST_F(ApplyChangesTest, WriteTagsKeepsTheBytesOfFieldsThatDoNotChange) {
  // Title and artist unchanged as texts, but stored with NUL padding,
  // leading spaces and a Latin-1 byte that code page 932 would not give back.
  std::string block = "TAG";
  block += std::string("  Caf\xE9") + std::string(24, '\0');
  block += std::string("art") + std::string(27, '\0');
  block += std::string("old album") + std::string(21, ' ');
  block += "1999" + std::string(30, '\0') + "\x05";
  ASSERT_EQ(block.size(), 128u);
  WriteBytes(lib_ / "k.mp3", kAudio + block);
  ID3TagData read = Tag(lib_ / "k.mp3");
  FileEntry& e = TagRow(u"k.mp3", read.Title);
  e.NewArtist = read.Artist;
  e.NewAlbum = u"new album";
  ASSERT_EQ(WriteTags(app_, run_), 1);
  const std::string after = ReadBytes(lib_ / "k.mp3").substr(kAudio.size());
  EXPECT_EQ(after.substr(0, 63), block.substr(0, 63));
  EXPECT_EQ(after.substr(63, 30), "new album" + std::string(21, ' '));
  EXPECT_EQ(after.substr(93), block.substr(93));
}

TEST_F(ApplyChangesTest, WriteTagsKeepsTheTrackNumberOfAnId3v11Tag) {
  // Comment "c", NUL padding, then the track number 7 in the last comment byte.
  std::string block = TagBlock("old", "2001", "", 13);
  block.replace(97, 30, std::string("c") + std::string(28, '\0') + "\x07");
  WriteBytes(lib_ / "v11.mp3", kAudio + block);
  TagRow(u"v11.mp3", u"New");
  ASSERT_EQ(WriteTags(app_, run_), 1);
  std::string bytes = ReadBytes(lib_ / "v11.mp3");
  ASSERT_EQ(bytes.size(), kAudio.size() + 128);
  EXPECT_EQ(bytes.substr(kAudio.size() + 93), block.substr(93));
  EXPECT_EQ(U8(Tag(lib_ / "v11.mp3").Title), "New");
}

TEST_F(ApplyChangesTest, ReadOnlyFileGetsItsTagAndStaysWritable) {
  WriteBytes(lib_ / "ro.mp3", kAudio);
  ::chmod((lib_ / "ro.mp3").c_str(), 0444);
  TagRow(u"ro.mp3", u"Title");
  ASSERT_EQ(WriteTags(app_, run_), 1);
  EXPECT_EQ(U8(ui_.log), U8(u"1個のID3Tagを変更しました。\r\n"));
  EXPECT_EQ(U8(Tag(lib_ / "ro.mp3").Title), "Title");
  struct stat st {};
  ASSERT_EQ(::stat((lib_ / "ro.mp3").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(ApplyChangesTest, RenameStopsAtATakenNameAndOverwritesNothing) {
  WriteBytes(lib_ / "1.mp3", "one");
  WriteBytes(lib_ / "2.mp3", "two");
  WriteBytes(lib_ / "taken.mp3", "taken");
  WriteBytes(lib_ / "3.mp3", "three");
  Row("", u"1.mp3", u"first.mp3", 1);
  Row("", u"2.mp3", u"taken.mp3", 1);
  Row("", u"3.mp3", u"third.mp3", 1);

  StageResult details;
  EXPECT_EQ(RenameFiles(app_, run_, &details), 0);
  EXPECT_TRUE(ui_.log.empty());
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_NE(details.message.find("2.mp3"), std::string::npos) << details.message;
  EXPECT_NE(details.message.find("taken.mp3"), std::string::npos) << details.message;
  EXPECT_EQ(ReadBytes(lib_ / "first.mp3"), "one");
  EXPECT_EQ(ReadBytes(lib_ / "2.mp3"), "two");
  EXPECT_EQ(ReadBytes(lib_ / "taken.mp3"), "taken");
  EXPECT_EQ(ReadBytes(lib_ / "3.mp3"), "three");
  EXPECT_FALSE(fs::exists(lib_ / "third.mp3"));
}

TEST_F(ApplyChangesTest, RenameFailsOnAMissingSourceOrAnUnusableName) {
  struct {
    const char* label;
    std::u16string old_name;
    std::u16string new_name;
  } kCases[] = {
      {"missing source", u"gone.mp3", u"x.mp3"},
      {"slash in the new name", u"a.mp3", u"sub/a.mp3"},
      {"empty new name", u"a.mp3", u""},
      {"dot dot", u"a.mp3", u".."},
  };
  fs::create_directories(lib_ / "sub");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ResetEntryTable(run_);
    WriteBytes(lib_ / "a.mp3", "a");
    Row("", c.old_name, c.new_name, 1);
    StageResult details;
    EXPECT_EQ(RenameFiles(app_, run_, &details), 0);
    EXPECT_FALSE(details.message.empty());
    EXPECT_EQ(ReadBytes(lib_ / "a.mp3"), "a");
    EXPECT_TRUE(fs::is_empty(lib_ / "sub"));
  }
  EXPECT_TRUE(ui_.log.empty());
}

TEST_F(ApplyChangesTest, FoldersNestedThreeDeepAreRenamedInnermostFirst) {
  fs::create_directories(lib_ / "a" / "b" / "c");
  WriteBytes(lib_ / "a" / "b" / "c" / "s.mp3", "s");
  // Scan order: a folder's row before the rows of what it holds.
  Row("", u"a", u"A", 0);
  Row("a", u"b", u"B", 0);
  Row("a/b", u"c", u"C", 0);
  Row("a/b/c", u"s.mp3", u"S.mp3", 1);
  ASSERT_EQ(RenameFiles(app_, run_), 1);
  ASSERT_EQ(RenameFolders(app_, run_), 1);
  EXPECT_EQ(U8(ui_.log),
            U8(u"1個のファイル名を変更しました。\r\n3個のフォルダ名を変更しました。\r\n"));
  EXPECT_EQ(ReadBytes(lib_ / "A" / "B" / "C" / "S.mp3"), "s");
  EXPECT_FALSE(fs::exists(lib_ / "a"));
}

TEST_F(ApplyChangesTest, FileStageLeavesFoldersAndFolderStageLeavesFiles) {
  fs::create_directories(lib_ / "dir");
  WriteBytes(lib_ / "f.mp3", "f");
  Row("", u"dir", u"DIR", 0);
  Row("", u"f.mp3", u"F.mp3", 1);
  ASSERT_EQ(RenameFolders(app_, run_), 1);
  EXPECT_TRUE(fs::is_directory(lib_ / "DIR"));
  EXPECT_TRUE(fs::exists(lib_ / "f.mp3"));

  ResetEntryTable(run_);
  Row("", u"DIR", u"dir", 0);
  Row("", u"f.mp3", u"F.mp3", 1);
  ASSERT_EQ(RenameFiles(app_, run_), 1);
  EXPECT_TRUE(fs::is_directory(lib_ / "DIR"));
  EXPECT_EQ(ReadBytes(lib_ / "F.mp3"), "f");
  EXPECT_EQ(U8(ui_.log),
            U8(u"1個のフォルダ名を変更しました。\r\n1個のファイル名を変更しました。\r\n"));
}

TEST_F(ApplyChangesTest, CaseOnlyRenameKeepsTheFile) {
  WriteBytes(lib_ / "Song.MP3", kAudio);
  Row("", u"Song.MP3", u"song.mp3", 1);
  ASSERT_EQ(RenameFiles(app_, run_), 1);
  EXPECT_EQ(ReadBytes(lib_ / "song.mp3"), kAudio);
  int entries = 0;
  for (const auto& e : fs::directory_iterator(lib_)) {
    EXPECT_EQ(e.path().filename(), "song.mp3");
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(ApplyChangesTest, UnflaggedRowsAreLeftAlone) {
  WriteBytes(lib_ / "a.mp3", "a");
  fs::create_directories(lib_ / "d");
  Row("", u"a.mp3", u"b.mp3", 1).RenameFlag = 0;
  Row("", u"d", u"e", 0).RenameFlag = 2;  // only 1 counts as set
  ASSERT_EQ(RenameFiles(app_, run_), 1);
  ASSERT_EQ(RenameFolders(app_, run_), 1);
  EXPECT_TRUE(fs::exists(lib_ / "a.mp3"));
  EXPECT_TRUE(fs::exists(lib_ / "d"));
}

// A large stage is carried out by two threads, each on part of the rows. A
// failure must still be reported as one thread would meet it: the first
// failing row in the table's order, whichever thread found it first, no
// count, and nothing written past it in its own part.
TEST_F(ApplyChangesTest, LargeStageReportsTheFirstFailureInTableOrder) {
  constexpr int kFolders = 8, kPerFolder = 400;  // well above what makes a second thread pay
  struct {
    const char* label;
    bool tags;                 // the tag stage, else the file rename stage
    std::vector<int> failing;  // rows (0-based) whose file is removed before the stage
  } kCases[] = {
      {"tags, first part", true, {150}},        {"tags, second part", true, {3000}},
      {"tags, both parts", true, {1700, 1000}}, {"renames, first part", false, {150}},
      {"renames, second part", false, {3000}},  {"renames, both parts", false, {1700, 1000}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ResetEntryTable(run_);
    fs::remove_all(lib_);
    std::vector<fs::path> files;
    for (int f = 0; f < kFolders; ++f) {
      fs::create_directories(lib_ / std::to_string(f));
      for (int n = 0; n < kPerFolder; ++n) {
        const std::string name = std::to_string(n) + ".mp3";
        files.push_back(lib_ / std::to_string(f) / name);
        WriteBytes(files.back(), kAudio);
        const std::u16string name16 = *Utf8ToUtf16(name);
        FileEntry& e = Row(std::to_string(f), name16, u"new-" + name16, 1);
        if (c.tags) {
          e.RenameFlag = 0;
          e.TagFlag = 1;
          e.NewTitle = u"title";
        }
      }
    }
    for (int row : c.failing) fs::remove(files[row]);
    const int first = *std::min_element(c.failing.begin(), c.failing.end());
    ui_.log.clear();
    // A slow rename in each folder lets the waiting thread show the progress
    // of the other part, which must not count any move twice.
    testing::FaultDiskOps disk;
    disk.Add(
        {.call = testing::DiskCall::kRename, .nth = 0, .name = "399.mp3", .error = 0, .before = [] {
           std::this_thread::sleep_for(std::chrono::milliseconds(30));
         }});
    StageResult details;
    EXPECT_EQ(c.tags ? WriteTags(app_, run_, &details, nullptr, disk)
                     : RenameFiles(app_, run_, &details, disk),
              0);
    EXPECT_TRUE(ui_.log.empty()) << U8(ui_.log);
    const std::string failed_name = files[first].filename().native();
    EXPECT_NE(details.message.find("/" + std::to_string(first / kPerFolder) + "/" + failed_name),
              std::string::npos)
        << details.message;
    // Rows before the failure are done; the rest of its folder is not.
    const fs::path before = files[first - 1];
    const fs::path after = files[first + 1];
    if (c.tags) {
      EXPECT_EQ(ReadBytes(before).size(), kAudio.size() + 128);
      EXPECT_EQ(ReadBytes(after), kAudio);
    } else {
      EXPECT_TRUE(fs::exists(before.parent_path() / ("new-" + before.filename().native())));
      EXPECT_TRUE(fs::exists(after));
    }
  }
}

// While the second part of a large stage still runs, the progress shown
// counts the whole first part and what the second has done: it never goes
// back, and it ends at the total.
TEST_F(ApplyChangesTest, LargeStageProgressNeverGoesBack) {
  constexpr int kFolders = 8, kPerFolder = 400;
  if (!SecondThreadPays(kFolders * kPerFolder)) GTEST_SKIP() << "one core: no second part";
  for (const bool tags : {false, true}) {
    SCOPED_TRACE(tags ? "tags" : "renames");
    ResetEntryTable(run_);
    fs::remove_all(lib_);
    for (int f = 0; f < kFolders; ++f) {
      fs::create_directories(lib_ / std::to_string(f));
      for (int n = 0; n < kPerFolder; ++n) {
        const std::string name = std::to_string(n) + ".mp3";
        WriteBytes(lib_ / std::to_string(f) / name, kAudio);
        FileEntry& e = Row(std::to_string(f), *Utf8ToUtf16(name), *Utf8ToUtf16("n" + name), 1);
        if (tags) {
          e.RenameFlag = 0;
          e.TagFlag = 1;
          e.NewTitle = u"title";
        }
      }
    }
    ui_ = ProgressFrontEnd();
    // The second part waits at its first change until the first part is
    // done, so that the progress of the second is shown on its own a while.
    const std::thread::id first_thread = std::this_thread::get_id();
    std::atomic<bool> waited{false};
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kChange, .nth = 0, .error = 0, .before = [&] {
                if (std::this_thread::get_id() == first_thread || waited.exchange(true)) return;
                for (int i = 0; i < 500; ++i) {
                  if (std::atomic_ref(ui_.most_done).load() >= kFolders * kPerFolder / 2) break;
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
              }});
    EXPECT_EQ(tags ? WriteTags(app_, run_, nullptr, nullptr, disk)
                   : RenameFiles(app_, run_, nullptr, disk),
              1);
    EXPECT_TRUE(waited);
    EXPECT_FALSE(ui_.went_back);
    EXPECT_EQ(ui_.most_done, kFolders * kPerFolder);
  }
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// With standard input closed, a folder may be opened as descriptor 0: a
// descriptor like any other, for the tag and the rename stages alike.
TEST_F(ApplyChangesTest, AFolderOpenedAsDescriptorZeroIsUsed) {
  fs::create_directories(lib_ / "sub");
  WriteBytes(lib_ / "sub" / "a.mp3", kAudio);
  FileEntry& e = Row("sub", u"a.mp3", u"b.mp3", 1);
  e.TagFlag = 1;
  e.NewTitle = u"t";
  EXPECT_EXIT(
      {
        // Descriptor 0 is freed just before each stage opens the folder.
        auto zero_for_the_folder = [](testing::FaultDiskOps& disk) {
          disk.Add(
              {.call = testing::DiskCall::kOpenBeneath, .error = 0, .before = [] { ::close(0); }});
        };
        testing::FaultDiskOps tags;
        testing::FaultDiskOps renames;
        zero_for_the_folder(tags);
        zero_for_the_folder(renames);
        const bool tagged = WriteTags(app_, run_, nullptr, nullptr, tags) == 1;
        const bool renamed =
            ::open("/dev/null", O_RDONLY) == 0 && RenameFiles(app_, run_, nullptr, renames) == 1;
        std::_Exit(tagged && renamed && fs::exists(lib_ / "sub" / "b.mp3") ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tarvel
