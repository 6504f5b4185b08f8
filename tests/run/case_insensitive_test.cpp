// Runs and restores on a case-insensitive exFAT volume, where names that
// differ only in letter case are one name: each converted for real and
// restored, the library must come back byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/tables.h"
#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/restore_run.h"
#include "run/run_driver.h"
#include "run/run_test_support.h"
#include "support/exfat_volume.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

struct DicRow {
  std::u16string from;
  std::u16string to;
};

class CaseInsensitiveTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    if (!stick_.ok()) GTEST_SKIP() << stick_.why();
    app_.ui = &ui_;
    app_.reading = &fixed_;
    app_.folder.history_dir = dir() / "history";
    Settings& s = app_.settings;
    s.FlagPathSaveCSV = 1;
    s.FlagCreateCSVFile = 1;
    s.FlagDisplayLog = 1;
    s.FlagCheckOnlyFilename = 0;
    s.FlagCheckOnlyID3Tag = 0;
    s.FlagRenameSubfolders = 1;
    s.FlagRenameFolderName = 1;
    s.FlagConvertFilename = 1;
    s.FlagConvertID3Tag = 1;
  }

  // A fresh library on the volume holding `files`, converted with the
  // default tables and `dic` added.
  void MakeLibrary(const std::vector<const char*>& files, const std::vector<DicRow>& dic) {
    if (fs::exists(lib_)) fs::remove_all(lib_);
    for (const char* name : files) {
      fs::create_directories((lib_ / name).parent_path());
      WriteBytes(lib_ / name, std::string(200, '\xAA') + name);
    }
    ASSERT_TRUE(testing::LoadShippedTables(app_));
    for (const DicRow& row : dic) app_.DicTable.AddRow({row.from, row.to});
    app_.settings.PathDataFolder = testing::Text16(lib_);
  }

  RunReport Convert() {
    ui_ = RecordingFrontEnd();
    RunState run;
    return RunConversion(app_, run);
  }

  RestoreReport Restore() {
    ui_ = RecordingFrontEnd();
    RunState run;
    return RunRestore(app_, run, *Utf8ToUtf16((lib_ / "list.csv").native()));
  }

  // Converts and restores the library, checking that the run gave the names
  // in `after` (as the volume lists them) and that the restore brought
  // everything back at the first attempt.
  void RoundTrip(const std::vector<const char*>& after) {
    const auto before = testing::ExactTree(lib_);
    RunReport run = Convert();
    ASSERT_EQ(run.outcome, RunReport::Outcome::kCompleted) << run.detail << U8(ui_.log);
    const auto converted = testing::ExactTree(lib_);
    for (const char* name : after) EXPECT_TRUE(converted.count(name)) << name << U8(ui_.log);
    RestoreReport back = Restore();
    EXPECT_EQ(back.outcome, RestoreReport::Outcome::kCompleted) << U8(ui_.log);
    EXPECT_EQ(U8(ui_.log).find("復元に失敗"), std::string::npos) << U8(ui_.log);
    EXPECT_EQ(testing::ExactTree(lib_), before);
  }

  testing::ExfatVolume stick_;
  fs::path lib_ = stick_.path() / "music";
  AppState app_;
  RecordingFrontEnd ui_;
  testing::FixedReadingService fixed_{{u"東京", u"トウキョウ"}};
};

TEST_F(CaseInsensitiveTest, CaseOnlyRenamesAreMadeAndUndone) {
  const struct {
    const char* what;
    std::vector<const char*> files;
    std::vector<DicRow> dic;
    std::vector<const char*> after;
  } kCases[] = {
      {"a file", {"song.mp3"}, {{u"song", u"SONG"}}, {"SONG.mp3"}},
      {"a folder", {"band/1.mp3"}, {{u"band", u"BAND"}}, {"BAND", "BAND/1.mp3"}},
      {"two files trading cases",
       {"a.mp3", "B.mp3"},
       {{u"a", u"A"}, {u"B", u"b"}},
       {"A.mp3", "b.mp3"}},
      {"a folder and the file in it",
       {"tune/tune.mp3"},
       {{u"tune", u"TUNE"}},
       {"TUNE", "TUNE/TUNE.mp3"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    MakeLibrary(c.files, c.dic);
    RoundTrip(c.after);
  }
}

TEST_F(CaseInsensitiveTest, NamesHeldEqualShareOneSlot) {
  const struct {
    const char* what;
    std::vector<const char*> files;
    std::vector<DicRow> dic;
    std::vector<const char*> after;
  } kCases[] = {
      // The restore gives AB.mp3 back only once ab.mp3 has moved on.
      {"a numbered name and a full-width one", {"AB.mp3", "ａｂ.mp3"}, {}, {"AB-2.mp3", "ab.mp3"}},
      // The run gives Ab.mp3 only once ab.mp3 has moved on.
      {"a name taken in another case by a file that moves",
       {"X1.mp3", "ab.mp3"},
       {{u"X1", u"Ab"}, {u"ab", u"cd"}},
       {"Ab.mp3", "cd.mp3"}},
      // The run numbers the untouched file, as names that differ only in case
      // count as one, and moves it aside before the other takes its name.
      {"a new name held in another case by a file the rules leave alone",
       {"x1.mp3", "ab.mp3"},
       {{u"x1", u"Ab"}},
       {"Ab.mp3", "ab-2.mp3"}},
      {"folders trading names in case",
       {"Rock/1.mp3", "pop/2.mp3"},
       {{u"Rock", u"POP"}, {u"pop", u"rock"}},
       {"POP/1.mp3", "rock/2.mp3"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    MakeLibrary(c.files, c.dic);
    RoundTrip(c.after);
  }
}

}  // namespace
}  // namespace tarvel
