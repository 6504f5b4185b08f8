// Convert for real, then restore from the list: every name and every tag
// text must be as before, also after a run that stopped part way.
#include <sys/stat.h>
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
#include "run/restore_run.h"
#include "platform/mecab_reading.h"
#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/run_driver.h"
#include "sample_library.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::U8;

std::u16string Text16(const fs::path& p) { return *Utf8ToUtf16(p.native()); }

// Every entry under `root` but links and the list: relative path to
// "<dir>", or the file's size, audio bytes and tag fields.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& p = it->path();
    std::string rel = fs::relative(p, root).native();
    if (it->is_symlink() || rel == "list.csv") continue;
    if (it->is_directory()) {
      out[rel] = "<dir>";
      continue;
    }
    std::string bytes = testing::ReadBytes(p);
    std::string value = bytes.size() > 128 ? bytes.substr(0, bytes.size() - 128) : bytes;
    ID3TagData tag;
    if (ReadID3Tag(Text16(p), tag) == 1) {
      value += "|" + U8(tag.Title) + "|" + U8(tag.Artist) + "|" + U8(tag.Album) + "|" +
               U8(tag.Year) + "|" + U8(tag.Comment) + "|" + std::to_string(tag.Genre);
    } else {
      value += "|no tag";
    }
    out[rel] = value;
  }
  return out;
}

// Pieces of names and texts: kanji, kana of both widths, full-width Latin,
// ASCII (with CSV's own characters), characters code page 932 cannot hold,
// and spellings that become the same name once converted.
constexpr std::array<std::u16string_view, 36> kPieces = {
    u"東京",   u"夜",       u"日本語",     u"音楽",       u"桜",    u"さくら",
    u"サクラ", u"ｻｸﾗ",      u"ありがとう", u"アリガトウ", u"ﾃﾞｨｽｸ", u"ヴァイオリン",
    u"ｶﾞｲﾄﾞ",  u"ＡＢＣ",   u"ａｂｃ",     u"abc",        u"ABC",   u"１２３",
    u"123",    u"Track",    u" ",          u"-",          u"a,b",   u"q\"t",
    u"é",      u"😀",        u"𠮷",         u"한",         u"Ω",     u"〜",
    u"・",     u"（live）", u"~",          u"ｰ",          u"ー",    u"!"};
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
      if (!taken.insert(name).second) continue;
      std::optional<sample::Tag> tag;
      if (Pick(0, 2) != 0) {
        tag = sample::Tag{Text(), Text(), Text(), u"2001", u"comment", 17};
      }
      sample::WriteMp3(folder, name, 16 + Pick(0, 64), tag);
      ++file_count;
    }
    if (depth >= 4) return;
    const int folders = Pick(0, depth == 0 ? 3 : 2);
    for (int i = 0; i < folders; ++i) {
      std::u16string name = Name();
      if (!taken.insert(name).second) continue;
      fs::path sub = folder / Utf16ToUtf8(name);
      fs::create_directories(sub);
      Fill(sub, depth + 1);
    }
  }

  size_t Pick(size_t lo, size_t hi) { return std::uniform_int_distribution<size_t>(lo, hi)(rng_); }

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
  // that changes, so that the real run stops there, part way.
  bool BlockOneRename(TreeMaker& maker) {
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
    if (changing.empty()) return false;
    const FileEntry& e = *changing[maker.Pick(0, changing.size() - 1)];
    return ::symlink("nowhere", Utf16ToUtf8(e.NewPath + e.NewName).c_str()) == 0;
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

TEST_F(RestoreRoundTripTest, RandomTreesComeBackAsTheyWere) {
  constexpr uint32_t kTrees = 300;
  int changed = 0, stopped = 0, blocked = 0;
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  for (uint32_t seed = 1; seed <= kTrees; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const fs::path music = scratch.path() / ("music" + std::to_string(seed));
    fs::create_directories(music);
    TreeMaker maker(seed);
    maker.Fill(music, 0);
    DrawSettings(maker, music);
    const auto before = Tree(music);
    // One tree in four has a rename refused part way.
    if (maker.Pick(0, 3) == 0 && BlockOneRename(maker)) ++blocked;

    ui_ = RecordingFrontEnd();
    RunState run;
    RunReport converted = RunConversion(app_, run);
    ASSERT_TRUE(converted.list_written) << U8(ui_.log) << converted.detail;
    if (converted.outcome == RunReport::Outcome::kStopped) ++stopped;
    if (Tree(music) != before) ++changed;

    RestoreReport restored = RunRestore(app_, run, converted.list_path);
    ASSERT_EQ(restored.outcome, RestoreReport::Outcome::kCompleted) << restored.detail << "\n"
                                                                    << U8(ui_.log);
    EXPECT_TRUE(restored.details.conflicts.empty());
    const auto after = Tree(music);
    if (after != before) {
      ADD_FAILURE() << "not restored; log:\n" << U8(ui_.log);
      for (const auto& [path, value] : before) {
        auto it = after.find(path);
        if (it == after.end()) {
          ADD_FAILURE() << "missing " << path;
        } else if (it->second != value) {
          ADD_FAILURE() << "differs " << path << "\n  " << value << "\n  " << it->second;
        }
      }
      for (const auto& [path, value] : after) {
        if (!before.count(path)) ADD_FAILURE() << "extra " << path;
      }
      break;
    }
    fs::remove_all(music);
  }
  // The trees must really have been converted, and some runs stopped.
  EXPECT_GT(changed, static_cast<int>(kTrees) * 9 / 10);
  EXPECT_GT(stopped, static_cast<int>(kTrees) / 10);
  EXPECT_GT(blocked, static_cast<int>(kTrees) / 10);
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
  // The second file's new name is taken by a link, which gets no row.
  ASSERT_EQ(::symlink("nowhere", (music / "アルバム" / "ｲ.mp3").c_str()), 0);
  app_.settings.PathDataFolder = Text16(music);
  app_.settings.FlagPathSaveCSV = 1;
  app_.settings.FlagCheckOnlyFilename = 0;
  app_.settings.FlagCheckOnlyID3Tag = 0;
  app_.settings.FlagDetectFullCharID3Tag = 0;
  const auto before = Tree(music);

  RunState run;
  RunReport converted = RunConversion(app_, run);
  ASSERT_EQ(converted.outcome, RunReport::Outcome::kStopped);
  EXPECT_NE(
      U8(ui_.log).find("3個のID3Tagを変更しました。\r\nファイル名の変換中にエラーが発生しました。"),
      std::string::npos)
      << U8(ui_.log);
  EXPECT_TRUE(fs::exists(music / "アルバム" / "ｱ.mp3"));

  ui_ = RecordingFrontEnd();
  RestoreReport restored = RunRestore(app_, run, converted.list_path);
  ASSERT_EQ(restored.outcome, RestoreReport::Outcome::kCompleted) << restored.detail;
  EXPECT_EQ(Tree(music), before);
  // The folder was never renamed and is passed over; the two files the run
  // never reached are missing under their new names but get their tags back.
  EXPECT_EQ(restored.details.folders_restored, 0);
  EXPECT_EQ(restored.details.files_restored, 1);
  EXPECT_EQ(restored.details.missing.size(), 2u);
  EXPECT_EQ(restored.details.tags_restored, 3);
  EXPECT_TRUE(fs::is_symlink(music / "アルバム" / "ｲ.mp3"));
}

}  // namespace
}  // namespace tarvel
