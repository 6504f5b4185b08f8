// Runs on real files that meet an unlucky user: the library changes between
// the plan and the renames. The run must stop without overwriting anything,
// and the restore must bring back everything that is still there.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "app/tables.h"
#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/restore_run.h"
#include "run/run_driver.h"
#include "sample_library.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

// Runs `hook` once, when the run starts listing its changes: after the scan,
// the plan and the list, before the first tag or name changes on disk.
class HookedFrontEnd : public RecordingFrontEnd {
 public:
  void AppendLog(std::u16string_view text) override {
    RecordingFrontEnd::AppendLog(text);
    if (hook && text.starts_with(u"以下のファイルの名前を変更します")) {
      auto run = std::move(hook);
      hook = nullptr;
      run();
    }
  }
  std::function<void()> hook;
};

// Relative path → bytes (or "<dir>") of everything under `root` but the list.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(entry.path(), root).native();
    if (rel == "list.csv" || rel == "list.csv.undo") continue;
    tree[rel] = entry.is_directory() ? "<dir>" : testing::ReadBytes(entry.path());
  }
  return tree;
}

// The tree with the ID3v1 block cut off every file that has one.
std::map<std::string, std::string> WithoutTags(std::map<std::string, std::string> tree) {
  for (auto& [path, bytes] : tree) {
    if (bytes.size() >= 128 && bytes.compare(bytes.size() - 128, 3, "TAG") == 0) {
      bytes.resize(bytes.size() - 128);
    }
  }
  return tree;
}

class FaultTest : public testing::TempDirTest {
 protected:
  void MakeLibrary() {
    fs::remove_all(music_);
    const sample::Tag tag{u"東京の夜", u"さくら", u"夜", u"1999", u"", 13};
    sample::WriteMp3(music_, u"東京の夜.mp3", 300, tag);
    sample::WriteMp3(music_, u"歌手/夜.mp3", 200, tag);
    sample::WriteMp3(music_, u"歌手/東京.mp3", 100, std::nullopt);
  }
  void SetUp() override {
    TempDirTest::SetUp();
    music_ = dir() / "music";
    app_.ui = &ui_;
    app_.reading = &reading_;
    const fs::path data = fs::path(TARVEL_SOURCE_DIR) / "data";
    ASSERT_TRUE(LoadTables(app_, data / "dic.csv", data / "Rome.csv").dic.loaded());
    Settings& s = app_.settings;
    s.PathDataFolder = *Utf8ToUtf16(music_.native());
    s.FlagPathSaveCSV = 1;
    s.FlagCheckOnlyFilename = 0;
    s.FlagCheckOnlyID3Tag = 0;
    s.FlagDetectFullCharFilename = 0;
    s.FlagDetectFullCharID3Tag = 0;
  }

  RestoreReport Restore() {
    RunState run;
    return RunRestore(app_, run, *Utf8ToUtf16((music_ / "list.csv").native()));
  }

  fs::path music_;
  HookedFrontEnd ui_;
  testing::FixedReadingService reading_{
      {u"東京", u"トウキョウ"}, {u"夜", u"よる"}, {u"歌手", u"かしゅ"}};
  AppState app_;
};

TEST_F(FaultTest, TheLibraryChangesBetweenThePlanAndTheRenames) {
  using TreeMap = std::map<std::string, std::string>;
  // The new name the plan gave `old_name`.
  auto planned = [](const RunState& run, std::u16string_view old_name) {
    for (const FileEntry& e : run.EntryTable) {
      if (e.OldName == old_name) return Utf16ToUtf8(e.NewName);
    }
    return std::string("missing");
  };
  struct {
    const char* what;
    // What happens mid-run; what the user does before the restore; what
    // the restore must give.
    std::function<void(const fs::path&, const RunState&)> change;
    std::function<void(const fs::path&)> mend;
    std::function<void(TreeMap&, const RunState&)> expected;
    // The restore puts every tag back too. Where the old name of a file is
    // in conflict it may leave the tag to the user: then names and audio
    // bytes are compared.
    bool whole_files = true;
  } kCases[] = {
      {"a file deleted",
       [](const fs::path& m, const RunState&) { fs::remove(m / "歌手/東京.mp3"); },
       [](const fs::path&) {}, [](TreeMap& t, const RunState&) { t.erase("歌手/東京.mp3"); }},
      {"a folder renamed",
       [](const fs::path& m, const RunState&) { fs::rename(m / "歌手", m / "other"); },
       [](const fs::path& m) { fs::rename(m / "other", m / "歌手"); },
       [](TreeMap&, const RunState&) {}},
      {"a rename target appears",
       [&](const fs::path& m, const RunState& run) {
         testing::WriteBytes(m / planned(run, u"東京の夜.mp3"), "someone else's");
       },
       [](const fs::path&) {},
       [&](TreeMap& t, const RunState& run) {
         t[planned(run, u"東京の夜.mp3")] = "someone else's";
       },
       false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    MakeLibrary();
    TreeMap before = Tree(music_);
    ui_.log.clear();
    RunState run;
    ui_.hook = [&] { c.change(music_, run); };
    RunReport report = RunConversion(app_, run);
    EXPECT_EQ(report.outcome, RunReport::Outcome::kStopped) << testing::U8(ui_.log);
    EXPECT_TRUE(report.list_written);
    EXPECT_NE(ui_.log.find(u"エラーが発生しました。\r\n処理を中断します。"), std::u16string::npos)
        << testing::U8(ui_.log);
    EXPECT_FALSE(report.detail.empty());
    // Nothing that came in meanwhile was overwritten.
    TreeMap expected = before;
    c.expected(expected, run);
    for (const auto& [path, bytes] : Tree(music_)) {
      if (expected.count(path) != 0 && before.count(path) == 0) {
        EXPECT_EQ(bytes, expected[path]) << path;
      }
    }
    c.mend(music_);
    RestoreReport restored = Restore();
    EXPECT_NE(restored.outcome, RestoreReport::Outcome::kListUnreadable) << restored.detail;
    EXPECT_EQ(c.whole_files ? Tree(music_) : WithoutTags(Tree(music_)),
              c.whole_files ? expected : WithoutTags(expected));
  }
}

}  // namespace
}  // namespace tarvel
