// Exporting a converted copy of a generated library: the library stays as
// it was to the byte, the copy holds what the plan says, an export cut short
// is finished by the next one, and a destination that cannot take the copy
// is refused before anything is written.
#include "run/export_run.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "files/export_copy.h"
#include "files/id3_tag.h"
#include "platform/library_lock.h"
#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/export_plan.h"
#include "run/run_test_support.h"
#include "sample_library.h"
#include "support/exfat_volume.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::DiskCall;
using testing::ExactTree;
using testing::ExactTreeWithTimes;
using testing::ReadBytes;
using testing::U8;
using testing::WriteBytes;

// A tmpfs of `size` mounted for the life of the object (root only).
class Tmpfs {
 public:
  Tmpfs(const fs::path& where, const std::string& size) : path_(where) {
    fs::create_directories(where);
    const std::string options = "size=" + size;
    mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (!mounted_) why_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
  }
  ~Tmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool ok() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  fs::path path_;
  bool mounted_ = false;
  std::string why_;
};

// `audio` bytes of a counting pattern, so that a copy that moves, drops or
// repeats any of them differs from its source.
std::string Audio(size_t audio, unsigned seed) {
  std::string bytes(audio, '\0');
  for (size_t i = 0; i < audio; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xff);
  return bytes;
}

class ExportRunTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    music_ = dir() / "music";
    const sample::Tag tag{u"夜", u"さくら", u"夜", u"1999", u"", 13};
    Mp3(u"東京.mp3", 300, tag, 1);
    Mp3(u"歌手/夜.mp3", 200, tag, 2);
    Mp3(u"歌手/notag.mp3", 1000, std::nullopt, 3);
    Mp3(u"short.mp3", 50, std::nullopt, 4);
    WriteBytes(music_ / "cover.jpg", "not music");
    fs::create_directories(music_ / "empty");
    app_.ui = &ui_;
    app_.reading = &reading_;
    ASSERT_TRUE(testing::LoadShippedTables(app_));
    app_.settings = testing::ApplyingRun(music_);
  }

  void Mp3(std::u16string_view path, size_t audio, std::optional<sample::Tag> tag, unsigned seed) {
    sample::WriteMp3(music_, path, audio, tag);
    const fs::path file = music_ / Utf16ToUtf8(path);
    std::string bytes = ReadBytes(file);
    bytes.replace(0, audio, Audio(audio, seed));
    WriteBytes(file, bytes);
  }

  // What a finished copy holds: path, then the audio bytes (unchanged from
  // the source) and the title its tag shows, or the whole file as it was.
  void ExpectCopy(const fs::path& dest) {
    const std::string song = ReadBytes(dest / U8(u"ﾄｳｷｮｳ.mp3"));
    ASSERT_EQ(song.size(), 300u + kTagBlockSize);
    EXPECT_EQ(song.substr(0, 300), Audio(300, 1));
    ID3TagData tag;
    ASSERT_EQ(ReadID3Tag(Utf8ToUtf16Lossy((dest / U8(u"ｶｼｭ/ﾖﾙ.mp3")).native()), tag), 1);
    EXPECT_EQ(U8(tag.Title), U8(u"ﾖﾙ"));
    EXPECT_EQ(U8(tag.Year), "1999");
    EXPECT_EQ(tag.Genre, 13);
    EXPECT_EQ(ReadBytes(dest / U8(u"ｶｼｭ/ﾖﾙ.mp3")).substr(0, 200), Audio(200, 2));
    EXPECT_EQ(ReadBytes(dest / U8(u"ｶｼｭ/notag.mp3")), ReadBytes(music_ / U8(u"歌手/notag.mp3")));
    EXPECT_EQ(ReadBytes(dest / "short.mp3"), ReadBytes(music_ / "short.mp3"));
    EXPECT_TRUE(fs::is_directory(dest / "empty"));
    EXPECT_FALSE(fs::exists(dest / "cover.jpg"));
    // Nothing else: four files, two folders, no temporary.
    int entries = 0;
    for (auto it = fs::recursive_directory_iterator(dest); it != fs::end(it); ++it) {
      const std::string name = it->path().filename().native();
      if (name == "System Volume Information") {
        it.disable_recursion_pending();
        continue;
      }
      EXPECT_FALSE(name.starts_with(kExportPartPrefix)) << name;
      ++entries;
    }
    EXPECT_EQ(entries, 6);
  }

  fs::path music_;
  RecordingFrontEnd ui_;
  testing::FixedReadingService reading_{
      {u"東京", u"トウキョウ"}, {u"夜", u"よる"}, {u"歌手", u"かしゅ"}};
  AppState app_;
};

// On every kind of destination the library keeps every byte, name, mode and
// time, and the copy holds the converted names and tags over the same audio.
TEST_F(ExportRunTest, CopyHoldsThePlanAndLibraryStaysAsItWas) {
  enum class Kind { kFolder, kTmpfs, kExfat };
  for (Kind kind : {Kind::kFolder, Kind::kTmpfs, Kind::kExfat}) {
    SCOPED_TRACE(static_cast<int>(kind));
    std::optional<Tmpfs> tmpfs;
    std::optional<testing::ExfatVolume> exfat;
    fs::path dest = dir() / "stick" / "car";
    if (kind == Kind::kTmpfs) {
      tmpfs.emplace(dir() / "tmpfs", "8m");
      if (!tmpfs->ok()) {  // not root: the plain folder stands for it
        std::printf("tmpfs row skipped: %s\n", tmpfs->why().c_str());
        continue;
      }
      dest = dir() / "tmpfs" / "car";
    } else if (kind == Kind::kExfat) {
      exfat.emplace();
      if (!exfat->ok()) {
        std::printf("exFAT row skipped: %s\n", exfat->why().c_str());
        continue;
      }
      dest = exfat->path() / "car";
    }
    const auto before = ExactTreeWithTimes(music_);
    const ExportReport report = RunExport(app_, dest.native());
    ASSERT_EQ(report.outcome, ExportReport::Outcome::kCompleted) << report.detail;
    EXPECT_EQ(ExactTreeWithTimes(music_), before);
    ExpectCopy(dest);
    EXPECT_EQ(report.files_written, 4);
    EXPECT_EQ(report.folders_made, 2);
    EXPECT_EQ(report.bytes_written, 300u + 200u + 2 * kTagBlockSize + 1000u + 50u);
    EXPECT_EQ(ui_.last_progress[static_cast<size_t>(ProgressStage::kExport)], 4);
    EXPECT_FALSE(ui_.plan);  // the change table of a run stays as it was
  }
}

// The plan is made as for a real run whatever the check-only boxes say;
// names and tags the settings do not convert stay as they are.
TEST_F(ExportRunTest, PlanFollowsWhatARunWouldChange) {
  struct {
    int32_t check_only, convert_names, convert_tags;
    const char16_t* song;  // the target of 東京.mp3
    bool new_tag;
  } kCases[] = {
      {1, 1, 1, u"ﾄｳｷｮｳ.mp3", true},
      {0, 0, 1, u"東京.mp3", true},
      {0, 1, 0, u"ﾄｳｷｮｳ.mp3", false},
  };
  ExportPlan plan;  // made anew each time
  for (const auto& c : kCases) {
    SCOPED_TRACE(U8(c.song));
    app_.settings.FlagCheckOnlyFilename = c.check_only;
    app_.settings.FlagCheckOnlyID3Tag = c.check_only;
    app_.settings.FlagConvertFilename = c.convert_names;
    app_.settings.FlagConvertID3Tag = c.convert_tags;
    ASSERT_EQ(MakeExportPlan(app_, plan).outcome, RunReport::Outcome::kCompleted);
    EXPECT_EQ(app_.settings.FlagCheckOnlyFilename, c.check_only);
    const ExportItem* song = nullptr;
    for (const ExportItem& item : plan.items) {
      if (item.source == U8(u"東京.mp3")) song = &item;
    }
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->target, U8(c.song));
    EXPECT_EQ(!song->tag.empty(), c.new_tag);
    EXPECT_EQ(song->audio_size, c.new_tag ? 300u : 300u + kTagBlockSize);
    EXPECT_EQ(plan.file_count, 4);
    EXPECT_EQ(plan.folder_count, 2);
    EXPECT_EQ(plan.byte_count, 300u + 200u + 2 * kTagBlockSize + 1000u + 50u);
  }
}

// A file that cannot be read when the plan is made stops the export, saying
// which one.
TEST_F(ExportRunTest, AnUnreadableFileStopsThePlan) {
  testing::FaultDiskOps disk;
  disk.Add({.call = DiskCall::kOpenBeneath, .nth = 0, .name = "notag", .error = EIO});
  ExportPlan plan;
  const RunReport report = MakeExportPlan(app_, plan, disk);
  EXPECT_EQ(report.outcome, RunReport::Outcome::kStopped);
  EXPECT_NE(report.detail.find("notag.mp3"), std::string::npos) << report.detail;
  // So does a library gone between the scan and the plan.
  RunState run;
  ASSERT_EQ(MakeExportPlan(app_, plan, run, SystemDiskOps()).outcome,
            RunReport::Outcome::kCompleted);
  const std::string gone = (dir() / "gone").native();
  std::string error;
  EXPECT_FALSE(DeriveExportPlan(run, app_.settings, gone, plan, &error));
  EXPECT_EQ(error, "cannot open " + gone + ": No such file or directory");
}

// Where folders are not renamed the scan lists no rows for them: each folder
// a file lies in is made under its own name, however deep.
TEST_F(ExportRunTest, FoldersWithoutRowsKeepTheirNames) {
  Mp3(u"歌手/live/夜.mp3", 100, std::nullopt, 5);
  app_.settings.FlagRenameFolderName = 0;
  ExportPlan plan;
  ASSERT_EQ(MakeExportPlan(app_, plan).outcome, RunReport::Outcome::kCompleted);
  std::map<std::string, std::string> folders;
  std::string song;
  for (const ExportItem& item : plan.items) {
    if (!item.is_file) folders[item.source] = item.target;
    if (item.source == U8(u"歌手/live/夜.mp3")) song = item.target;
  }
  const std::map<std::string, std::string> expected = {{U8(u"歌手"), U8(u"歌手")},
                                                       {U8(u"歌手/live"), U8(u"歌手/live")}};
  EXPECT_EQ(folders, expected);
  EXPECT_EQ(song, U8(u"歌手/live/ﾖﾙ.mp3"));
}

// An export stopped part way (a failed write, a failed rename, a temporary
// left behind as by a kill) leaves whole files only; started again, it
// removes the temporary, keeps what is there and finishes the rest.
TEST_F(ExportRunTest, StoppedExportIsFinishedWhenStartedAgain) {
  struct {
    testing::DiskFault fault;
    bool kernel_copy;
    bool flush = false;  // each copy flushed before its rename
  } kCases[] = {
      {{.call = DiskCall::kRename, .nth = 2, .error = EIO}, true},
      {{.call = DiskCall::kWrite, .nth = 3, .partial = 10}, false},
      {{.call = DiskCall::kSync, .nth = 4, .error = EIO}, true, true},
  };
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(n);
    const fs::path dest = dir() / ("car" + std::to_string(n++));
    testing::FaultDiskOps faulty;
    faulty.Add(c.fault);
    const ExportReport stopped = RunExport(app_, dest.native(), faulty, {c.kernel_copy, c.flush});
    ASSERT_EQ(stopped.outcome, ExportReport::Outcome::kStopped);
    EXPECT_LT(stopped.files_written, 4);
    WriteBytes(dest / (std::string(kExportPartPrefix) + "1"), "half a file");
    const auto before = ExactTreeWithTimes(music_);
    const ExportReport finished = RunExport(app_, dest.native());
    ASSERT_EQ(finished.outcome, ExportReport::Outcome::kCompleted) << finished.detail;
    EXPECT_EQ(finished.files_skipped, stopped.files_written);
    EXPECT_EQ(finished.files_written + finished.files_skipped, 4);
    EXPECT_EQ(finished.parts_removed, 1);
    EXPECT_EQ(ExactTreeWithTimes(music_), before);
    ExpectCopy(dest);
  }
}

// A destination that has too little room stops the export before its first
// file, saying how much is wanted and how much there is.
TEST_F(ExportRunTest, FullDestinationStopsBeforeTheFirstCopy) {
  Tmpfs small(dir() / "small", "16k");
  if (!small.ok()) GTEST_SKIP() << small.why();
  Mp3(u"歌手/big.mp3", 40000, std::nullopt, 5);
  const ExportReport report = RunExport(app_, (dir() / "small" / "car").native());
  EXPECT_EQ(report.outcome, ExportReport::Outcome::kRefused);
  // Every file in whole blocks of 4 KB (the four small ones one block each)
  // and a block for each of the two folders.
  EXPECT_EQ(report.bytes_needed, 4 * 4096u + 40960u + 2 * 4096u);
  EXPECT_GT(report.bytes_needed, report.bytes_free);
  EXPECT_NE(report.detail.find(std::to_string(report.bytes_needed)), std::string::npos);
  EXPECT_TRUE(fs::is_empty(dir() / "small" / "car"));
}

// A destination with room for the bytes but not for another entry (a tmpfs
// with few inodes) stops at the first folder it cannot make, naming it.
TEST_F(ExportRunTest, DestinationWithoutRoomForAFolderStopsThere) {
  Tmpfs few(dir() / "few", "16m,nr_inodes=2");
  if (!few.ok()) GTEST_SKIP() << few.why();
  const fs::path dest = dir() / "few" / "car";
  const ExportReport report = RunExport(app_, dest.native());
  EXPECT_EQ(report.outcome, ExportReport::Outcome::kStopped);
  EXPECT_NE(report.detail.find("cannot create the folder " + dest.native() + "/"),
            std::string::npos)
      << report.detail;
  EXPECT_NE(report.detail.find(std::strerror(ENOSPC)), std::string::npos) << report.detail;
}

// A destination that holds something other than an export of this library,
// is no folder, or lies in the library is refused and left as it was.
TEST_F(ExportRunTest, ForeignDestinationIsRefused) {
  struct {
    const char* name;
    void (*make)(const fs::path& dest);
    bool in_library;
    const char* says;  // found in the report's detail
  } kCases[] = {
      {"other file", [](const fs::path& d) { WriteBytes(d / "notes.txt", "mine"); }, false,
       "notes.txt"},
      {"other folder", [](const fs::path& d) { fs::create_directories(d / "photos"); }, false,
       "photos"},
      {"other file in a folder of the copy",
       [](const fs::path& d) {
         fs::create_directories(d / U8(u"ｶｼｭ"));
         WriteBytes(d / U8(u"ｶｼｭ") / "notes.txt", "mine");
       },
       false, "notes.txt"},
      {"a file", [](const fs::path& d) { WriteBytes(d, "a file, not a folder"); }, false,
       "is not a folder"},
      {"library", [](const fs::path&) {}, true, "lies in the library"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const fs::path dest = c.in_library ? music_ / "car" : dir() / c.name / "car";
    if (!c.in_library) fs::create_directories(dest);
    if (c.name == std::string("a file")) fs::remove(dest);
    c.make(dest);
    const auto library = ExactTreeWithTimes(music_);
    const auto theirs = ExactTree(dest.parent_path());
    const ExportReport report = RunExport(app_, dest.native());
    EXPECT_EQ(report.outcome, ExportReport::Outcome::kInvalidFolder);
    EXPECT_NE(report.detail.find(c.says), std::string::npos) << report.detail;
    EXPECT_EQ(report.files_written, 0);
    EXPECT_EQ(ExactTreeWithTimes(music_), library);
    EXPECT_EQ(ExactTree(dest.parent_path()), theirs);
  }
}

// While a run or restore holds the library, in this program or another, no
// copy is written: its names could change under the copy. Another program
// may take it just after the plan is made.
TEST_F(ExportRunTest, ExportWhileTheLibraryIsHeldIsRefused) {
  testing::FaultDiskOps counting;
  ExportPlan plan;
  ASSERT_EQ(MakeExportPlan(app_, plan, counting).outcome, RunReport::Outcome::kCompleted);
  const int plan_opens = counting.count(DiskCall::kOpen);
  for (const bool in_this_program : {false, true}) {
    SCOPED_TRACE(in_this_program ? "in this program" : "in another, after the plan");
    const fs::path dest = dir() / "car";
    fs::create_directories(dest);
    LibraryLock other;  // as another process would hold it
    testing::FaultDiskOps disk;
    if (in_this_program) {
      app_.run_in_progress = true;
    } else {
      disk.Add({.call = DiskCall::kOpen, .nth = plan_opens, .error = 0, .before = [&] {
                  ASSERT_EQ(other.Take(music_), LibraryLock::Status::kTaken);
                }});
    }
    const ExportReport report = RunExport(app_, dest.native(), disk);
    app_.run_in_progress = false;
    EXPECT_EQ(report.outcome, ExportReport::Outcome::kBusy);
    EXPECT_EQ(report.files_written, 0);
    EXPECT_TRUE(fs::is_empty(dest));
  }
}

// What a stick's system puts at its top does not make it foreign.
TEST_F(ExportRunTest, EntriesASystemMakesAreNoObstacle) {
  const fs::path dest = dir() / "stick";
  fs::create_directories(dest / "System Volume Information");
  const ExportReport report = RunExport(app_, dest.native());
  ASSERT_EQ(report.outcome, ExportReport::Outcome::kCompleted) << report.detail;
  ExpectCopy(dest);
}

// A copy keeps open only the folders of the copies in hand: a library of
// more folders than the process may hold open is copied whole.
TEST_F(ExportRunTest, MoreFoldersThanOpenDescriptorsAreCopied) {
  constexpr int kFolders = 600;
  for (int i = 0; i < kFolders; ++i) {
    sample::WriteMp3(music_, u"d" + Utf8ToUtf16Lossy(std::to_string(1000 + i)) + u"/a.mp3", 10,
                     std::nullopt);
  }
  app_.settings.MaxFolderCount = 65535;
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
  rlimit low = before;
  low.rlim_cur = std::min<rlim_t>(before.rlim_cur, 400);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  const ExportReport report = RunExport(app_, (dir() / "car").native());
  ::setrlimit(RLIMIT_NOFILE, &before);
  ASSERT_EQ(report.outcome, ExportReport::Outcome::kCompleted) << report.detail;
  EXPECT_EQ(report.files_written, kFolders + 4);
}

// Names the copy cannot hold are found before anything is written.
TEST(CheckExportPlanTest, FindsNamesTheCopyCannotHold) {
  struct {
    std::vector<std::string> targets;
    size_t problem_item;  // SIZE_MAX: none
  } kCases[] = {
      {{"a", "a/b.mp3", "c.mp3"}, SIZE_MAX},
      {{"a", "A/b.mp3"}, SIZE_MAX},
      {{"a.mp3", "A.MP3"}, 1},
      {{"x", "x/../y.mp3"}, 1},
      {{"x//y.mp3"}, 0},
      {{std::string(256, 'n')}, 0},
      {{std::string(255, 'n')}, SIZE_MAX},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.targets.back().substr(0, 20));
    ExportPlan plan;
    for (const std::string& t : c.targets) plan.items.push_back({.target = t});
    const std::vector<ExportPlanProblem> problems = CheckExportPlan(plan);
    if (c.problem_item == SIZE_MAX) {
      EXPECT_TRUE(problems.empty()) << problems.front().detail;
    } else {
      ASSERT_FALSE(problems.empty());
      EXPECT_EQ(problems.front().item, c.problem_item);
    }
  }
}

}  // namespace
}  // namespace tarvel
