// Convert for real, then restore from the list: every name and every tag
// text must be as before, also after a run that stopped part way.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "app/tables.h"
#include "files/id3_tag.h"
#include "files/rename_plan.h"
#include "platform/mecab_reading.h"
#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/restore_run.h"
#include "run/run_driver.h"
#include "run/run_test_support.h"
#include "sample_library.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::U8;

using ::tarvel::testing::Text16;

// Names, modes, bytes and modification times to the nanosecond.
std::map<std::string, std::string> Tree(const fs::path& root) {
  return testing::ExactTreeWithTimes(root);
}

// Adds or removes the link `link` (as another program would), giving its
// folder back the time it had and the link, once it is back, its own: the
// tree comparisons look at the run's and the restore's own changes of
// times, not at the test's.
void ChangeLinkKeepingFolderTime(const std::string& link, bool add) {
  static std::map<std::string, struct stat> removed;
  const std::string folder = fs::path(link).parent_path().native();
  struct stat st {};
  const bool known = ::lstat(folder.c_str(), &st) == 0;
  if (add) {
    // A link that cannot be made (its folder gone with a run) is left out:
    // the tree comparison shows whatever is there.
    [[maybe_unused]] const int made = ::symlink("nowhere", link.c_str());
    if (auto it = removed.find(link); it != removed.end()) {
      const struct timespec own[2] = {it->second.st_atim, it->second.st_mtim};
      ::utimensat(AT_FDCWD, link.c_str(), own, AT_SYMLINK_NOFOLLOW);
    }
  } else {
    struct stat own {};
    if (::lstat(link.c_str(), &own) == 0) removed[link] = own;
    (void)::unlink(link.c_str());
  }
  if (!known) return;
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::utimensat(AT_FDCWD, folder.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Pieces of names and texts: kanji, kana of both widths, full-width Latin,
// ASCII (with CSV's own characters), characters code page 932 cannot hold,
// and spellings that become the same name once converted.
constexpr std::array<std::u16string_view, 46> kPieces = {
    u"東京", u"夜", u"日本語", u"音楽", u"桜", u"さくら", u"サクラ", u"ｻｸﾗ", u"ありがとう",
    u"アリガトウ", u"ﾃﾞｨｽｸ", u"ヴァイオリン", u"ｶﾞｲﾄﾞ", u"ＡＢＣ", u"ａｂｃ", u"abc", u"ABC",
    u"１２３", u"123", u"Track", u" ", u"-", u"a,b", u"q\"t", u"é", u"😀", u"𠮷", u"한", u"Ω", u"〜",
    u"・", u"（live）", u"~", u"ｰ", u"ー", u"!",
    // Pieces that collide once converted: numbered forms, a doubled
    // extension, characters that become dots or blanks, very long names.
    u"-2", u".mp3", u"．", u"．．", u"★", u"　", u"YUKI", u"ＹＵＫＩ",
    u"東京東京東京東京東京東京東京東京東京東京東京東京東京東京東京", u"\t"};
constexpr std::array<std::u16string_view, 5> kExtensions = {u".mp3", u".MP3", u".Mp3", u"．ｍｐ３",
                                                            u".mp3"};

// A scratch folder in memory when the system has one: each run writes its
// list through fsync, which costs a disk flush per tree elsewhere.
class ScratchFolder {
 public:
  ScratchFolder() {
    fs::path base =
        ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string templ = (base / "tarvel-round-trip-XXXXXX").native();
    if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

class TreeMaker {
 public:
  explicit TreeMaker(uint32_t seed) : rng_(seed) {}

  // A folder with files and, down to four levels, subfolders.
  void Fill(const fs::path& folder, int depth) {
    std::set<std::u16string> taken;
    const int files = Pick(depth == 0 ? 1 : 0, 4);
    for (int i = 0; i < files; ++i) {
      std::u16string name = Name() + std::u16string(kExtensions[Pick(0, kExtensions.size() - 1)]);
      if (Utf16ToUtf8(name).size() > 250 || !taken.insert(name).second) continue;
      WriteFile(folder / Utf16ToUtf8(name));
      ++file_count;
    }
    if (depth >= 4) return;
    const int folders = Pick(0, depth == 0 ? 3 : 2);
    for (int i = 0; i < folders; ++i) {
      std::u16string name = Name();
      if (Utf16ToUtf8(name).size() > 250 || !taken.insert(name).second) continue;
      fs::path sub = folder / Utf16ToUtf8(name);
      fs::create_directories(sub);
      Fill(sub, depth + 1);
    }
  }

  size_t Pick(size_t lo, size_t hi) { return std::uniform_int_distribution<size_t>(lo, hi)(rng_); }

  // An MP3 file: audio bytes, then no tag, a code page 932 tag padded with
  // spaces, or a tag of raw bytes (Latin-1, NUL padding, leading spaces);
  // one in five read-only.
  void WriteFile(const fs::path& path) {
    std::string bytes(16 + Pick(0, 200), static_cast<char>(Pick(0, 255)));
    switch (Pick(0, 3)) {
      case 0:
        break;
      case 1:
        bytes += "TAG" + FitTagField(Text(), 30) + FitTagField(Text(), 30) +
                 FitTagField(Text(), 30) + "2001" + FitTagField(u"comment", 30) + "\x11";
        break;
      default: {
        auto raw = [&](std::string text, size_t width) {
          if (Pick(0, 1) == 0) text = "  " + text;
          text.resize(width, Pick(0, 1) == 0 ? '\0' : ' ');
          return text;
        };
        bytes += "TAG" + raw("Caf\xE9", 30) + raw("\xC3\xBD art", 30) + raw("alb", 30) +
                 "\0\0\0\0" + raw("c", 30) + static_cast<char>(Pick(0, 255));
        break;
      }
    }
    testing::WriteBytes(path, bytes);
    if (Pick(0, 4) == 0) ::chmod(path.c_str(), 0444);
  }

  int file_count = 0;

 private:
  std::u16string Name() {
    std::u16string name;
    const size_t parts = Pick(1, 3);
    for (size_t i = 0; i < parts; ++i) name += kPieces[Pick(0, kPieces.size() - 1)];
    if (name == u" " || name == u"-" || name.find_first_not_of(u' ') == std::u16string::npos) {
      name = u"x" + name;
    }
    return name;
  }
  // A tag text that fits its 30-byte field in code page 932.
  std::u16string Text() {
    std::u16string text;
    const size_t parts = Pick(0, 3);
    for (size_t i = 0; i < parts; ++i) {
      std::u16string piece(kPieces[Pick(0, kPieces.size() - 1)]);
      if (!SurvivesCp932(piece) || EncodeCp932(text + piece).size() > 30) continue;
      text += piece;
    }
    return text;
  }

  std::mt19937 rng_;
};

class RestoreRoundTripTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    mecab_ = std::make_unique<MecabReadingService>();
    if (!mecab_->IsAvailable()) mecab_.reset();
  }
  static void TearDownTestSuite() { mecab_.reset(); }

  void SetUp() override {
    app_.ui = &ui_;
    app_.reading = mecab_ ? static_cast<ReadingService*>(mecab_.get()) : &fixed_;
    const fs::path data = fs::path(TARVEL_SOURCE_DIR) / "data";
    ASSERT_TRUE(LoadTables(app_, data / "dic.csv", data / "Rome.csv").dic.loaded());
  }

  // Settings for one tree: a real run, list in the music folder, the rest
  // drawn from `maker`.
  void DrawSettings(TreeMaker& maker, const fs::path& music) {
    Settings& s = app_.settings;
    s = Settings();
    s.PathDataFolder = Text16(music);
    s.FlagPathSaveCSV = 1;
    s.FlagCheckOnlyFilename = 0;
    s.FlagCheckOnlyID3Tag = 0;
    // A character left full-width would switch the run to check-only.
    s.FlagDetectFullCharFilename = 0;
    s.FlagDetectFullCharID3Tag = 0;
    s.FlagDisplayLog = static_cast<int32_t>(maker.Pick(0, 1));
    s.ConvertLevelFilename = static_cast<int32_t>(maker.Pick(1, 2));
    s.ConvertLevelID3Tag = static_cast<int32_t>(maker.Pick(1, 2));
    s.FlagLimit30Char = static_cast<int32_t>(maker.Pick(0, 1));
    s.LengthName = static_cast<int32_t>(maker.Pick(8, 30));
  }

  // Puts a link (which the scan passes over) on the new name of one row
  // that changes, so that the real run stops there, part way. Returns its
  // path, empty when no row changes.
  std::string BlockOneRename(TreeMaker& maker) {
    Settings saved = app_.settings;
    app_.settings.FlagCheckOnlyFilename = 1;
    app_.settings.FlagCheckOnlyID3Tag = 1;
    app_.settings.FlagCreateCSVFile = 0;
    RunState dry;
    RunConversion(app_, dry);
    app_.settings = saved;
    std::vector<const FileEntry*> changing;
    for (int32_t i = 1; i <= dry.EntryCount; ++i) {
      if (dry.EntryTable[i].NewName != dry.EntryTable[i].OldName) {
        changing.push_back(&dry.EntryTable[i]);
      }
    }
    if (changing.empty()) return {};
    const FileEntry& e = *changing[maker.Pick(0, changing.size() - 1)];
    std::string link = Utf16ToUtf8(e.NewPath + e.NewName);
    return ::symlink("nowhere", link.c_str()) == 0 ? link : std::string();
  }

  // A real run with the link `block` (when not empty) taken away while the
  // run checks its changes and put back at its first change on disk, as
  // another program might, so that a stage meets it part way.
  RunReport RunBlocked(RunState& run, const std::string& block) {
    if (block.empty()) return RunConversion(app_, run);
    ChangeLinkKeepingFolderTime(block, /*add=*/false);
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kChange, .error = 0, .before = [&] {
                ChangeLinkKeepingFolderTime(block, /*add=*/true);
              }});
    RunReport report = RunConversion(app_, run, disk);
    if (!fs::is_symlink(block)) {  // the run changed nothing
      ChangeLinkKeepingFolderTime(block, /*add=*/true);
    }
    return report;
  }

  static std::unique_ptr<MecabReadingService> mecab_;
  testing::FixedReadingService fixed_{{u"東京", u"トウキョウ"},
                                      {u"夜", u"よる"},
                                      {u"日本語", u"にほんご"},
                                      {u"音楽", u"おんがく"},
                                      {u"桜", u"さくら"}};
  RecordingFrontEnd ui_;
  AppState app_;
};

std::unique_ptr<MecabReadingService> RestoreRoundTripTest::mecab_;

// Says where `after` differs from `before`.
void ExplainDifference(const std::map<std::string, std::string>& before,
                       const std::map<std::string, std::string>& after) {
  for (const auto& [path, value] : before) {
    auto it = after.find(path);
    if (it == after.end()) {
      ADD_FAILURE() << "missing " << path;
    } else if (it->second != value) {
      ADD_FAILURE() << "differs " << path << " " << value << " / " << it->second;
    }
  }
  for (const auto& [path, value] : after) {
    if (!before.count(path)) ADD_FAILURE() << "extra " << path;
  }
}

TEST_F(RestoreRoundTripTest, RandomTreesComeBackAsTheyWere) {
  constexpr uint32_t kTrees = 1000;
  int changed = 0, stopped = 0, blocked = 0, killed = 0, refused = 0;
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  app_.folder.history_dir = scratch.path() / "history";
  for (uint32_t seed = 1; seed <= kTrees; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const fs::path music = scratch.path() / ("music" + std::to_string(seed));
    fs::create_directories(music);
    TreeMaker maker(seed);
    maker.Fill(music, 0);
    DrawSettings(maker, music);
    const auto before = Tree(music);
    const size_t fate = maker.Pick(0, 7);
    // One tree in eight has a rename refused part way, two in eight have
    // their run killed at a random disk change.
    const std::string block = fate == 0 ? BlockOneRename(maker) : std::string();
    if (!block.empty()) ++blocked;
    const auto start = Tree(music);

    ui_ = RecordingFrontEnd();
    RunState run;
    std::u16string list = Text16(music / "list.csv");
    if (fate == 1 || fate == 2) {
      // Most files change both their tag and their name, so this kills
      // nearly every such run, at any stage.
      const int changes = static_cast<int>(maker.Pick(0, maker.file_count));
      std::fflush(nullptr);
      pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        // Killed just before the disk change that follows `changes` others.
        testing::FaultDiskOps disk;
        disk.Add({.call = testing::DiskCall::kChange, .nth = changes + 1, .error = 0, .before = [] {
                    ::raise(SIGKILL);
                  }});
        RunConversion(app_, run, disk);
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      if (WIFSIGNALED(status)) ++killed;
      // A run killed before its list was written changed nothing.
      if (!fs::exists(music / "list.csv")) {
        EXPECT_EQ(Tree(music), start);
        fs::remove_all(music);
        continue;
      }
    } else {
      RunReport converted = RunBlocked(run, block);
      if (run.EntryCount == 0) {  // every name hidden: nothing to convert
        EXPECT_EQ(Tree(music), start);
        fs::remove_all(music);
        continue;
      }
      if (converted.outcome == RunReport::Outcome::kRefused) {
        // A change found before the first one that cannot be made (a name
        // no file system holds): nothing changed, and no list.
        EXPECT_EQ(Tree(music), start);
        EXPECT_FALSE(fs::exists(music / "list.csv"));
        ++refused;
        fs::remove_all(music);
        continue;
      }
      ASSERT_TRUE(converted.list_written) << U8(ui_.log) << converted.detail;
      if (converted.outcome == RunReport::Outcome::kStopped) ++stopped;
    }
    if (Tree(music) != before) ++changed;

    RestoreReport restored = RunRestore(app_, run, list);
    EXPECT_EQ(restored.outcome, RestoreReport::Outcome::kCompleted)
        << restored.detail << U8(ui_.log);
    // A run with nothing to change writes no undo record; any other has one
    // that fits its list.
    EXPECT_EQ(restored.used_undo_record, fs::exists(music / "list.csv.undo"));
    EXPECT_EQ(restored.undo_notice, "");
    auto after = Tree(music);
    if (after != start) {
      ADD_FAILURE() << "not restored; log:\n" << U8(ui_.log);
      ExplainDifference(start, after);
      break;
    }

    // A second, whole run over the restored tree, and its restore.
    ui_ = RecordingFrontEnd();
    RunReport again = RunBlocked(run, block);
    ASSERT_TRUE(again.list_written) << U8(ui_.log) << again.detail;
    RestoreReport restored_again = RunRestore(app_, run, list);
    EXPECT_EQ(restored_again.outcome, RestoreReport::Outcome::kCompleted) << U8(ui_.log);
    after = Tree(music);
    if (after != start) {
      ADD_FAILURE() << "second run not restored; log:\n" << U8(ui_.log);
      ExplainDifference(start, after);
      break;
    }
    fs::remove_all(music);
  }
  // The trees must really have been converted, and runs stopped and killed.
  EXPECT_GT(changed, static_cast<int>(kTrees) * 8 / 10);
  EXPECT_GT(stopped, static_cast<int>(kTrees) / 20);
  EXPECT_GT(blocked, static_cast<int>(kTrees) / 20);
  EXPECT_GT(killed, static_cast<int>(kTrees) / 5);
  std::printf("round trip: %u trees, %d changed, %d stopped, %d killed, %d refused\n", kTrees,
              changed, stopped, killed, refused);
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

TEST_F(RestoreRoundTripTest, RunStoppedInTheFileStageIsRestoredCompletely) {
  ScratchFolder scratch;
  const fs::path music = scratch.path() / "music";
  const sample::Tag tag{u"夜", u"さくら", u"日本語", u"1999", u"", 3};
  for (std::u16string_view name : {u"アルバム/ア.mp3", u"アルバム/イ.mp3", u"アルバム/ウ.mp3"}) {
    sample::WriteMp3(music, name, 32, tag);
  }
  // The second file's new name is taken by a link, which gets no row, once
  // the run has checked its changes.
  const fs::path link = music / "アルバム" / "ｲ.mp3";
  testing::FaultDiskOps disk;
  disk.Add({.call = testing::DiskCall::kChange, .error = 0, .before = [&] {
              ChangeLinkKeepingFolderTime(link.native(), /*add=*/true);
            }});
  app_.settings.PathDataFolder = Text16(music);
  app_.settings.FlagPathSaveCSV = 1;
  app_.settings.FlagCheckOnlyFilename = 0;
  app_.settings.FlagCheckOnlyID3Tag = 0;
  app_.settings.FlagDetectFullCharID3Tag = 0;
  const auto before = Tree(music);

  RunState run;
  RunReport converted = RunConversion(app_, run, disk);
  ASSERT_EQ(converted.outcome, RunReport::Outcome::kStopped);
  EXPECT_NE(
      U8(ui_.log).find("3個のID3Tagを変更しました。\r\nファイル名の変換中にエラーが発生しました。"),
      std::string::npos)
      << U8(ui_.log);
  EXPECT_TRUE(fs::exists(music / "アルバム" / "ｱ.mp3"));

  ui_ = RecordingFrontEnd();
  RestoreReport restored = RunRestore(app_, run, converted.list_path);
  ASSERT_EQ(restored.outcome, RestoreReport::Outcome::kCompleted) << restored.detail;
  EXPECT_TRUE(fs::is_symlink(link));
  ChangeLinkKeepingFolderTime(link.native(), /*add=*/false);
  EXPECT_EQ(Tree(music), before);
  // The folder and the two files the run never reached are already under
  // their old names (counted once, not reported one by one); the files get
  // their tags back.
  EXPECT_EQ(restored.details.folders_restored, 0);
  EXPECT_EQ(restored.details.files_restored, 1);
  EXPECT_EQ(restored.details.missing.size(), 0u);
  EXPECT_EQ(restored.details.already_restored, 3);
  EXPECT_EQ(restored.details.tags_restored, 3);
}

}  // namespace
}  // namespace tarvel
