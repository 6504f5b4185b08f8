// The log, the rename list and the converted tree of a 5,000-file library,
// pinned by digests taken from a build known to be right: work on the speed
// of the scan, the pass or the stages must leave every byte of them as it
// was. When a change of output is meant, the failure prints the new digests.
#include <cstdint>
#include <filesystem>
#include <string>

#include "app/tables.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/run_driver.h"
#include "sample_library.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::U8;

// `text` with every occurrence of the temporary folder's path replaced, so
// that the digest does not depend on where the library was made.
std::string WithoutRoot(std::string text, const std::string& root) {
  for (size_t at = text.find(root); at != std::string::npos; at = text.find(root, at)) {
    text.replace(at, root.size(), "<root>");
  }
  return text;
}

uint64_t TreeDigest(const fs::path& root) {
  std::string all;
  for (const auto& [path, value] : testing::ExactTree(root)) {
    all += path;
    all += '\0';
    all += std::to_string(value.size());
    all += '\0';
    all += value;
  }
  return ListBytesHash(all);
}

struct Digests {
  uint64_t plan_log = 0, plan_list = 0;
  uint64_t run_log = 0, run_list = 0, tree = 0;
  bool operator==(const Digests&) const = default;
};

std::string Hex(uint64_t v) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%016llxull", static_cast<unsigned long long>(v));
  return text;
}

std::string Show(const Digests& d) {
  return "{" + Hex(d.plan_log) + ", " + Hex(d.plan_list) + ", " + Hex(d.run_log) + ", " +
         Hex(d.run_list) + ", " + Hex(d.tree) + "}";
}

struct Case {
  const char* name;
  bool mecab;  // MeCab with its dictionary, else a fixed reading table
  // The full-width check (a fixed table leaves kanji that would make the
  // run fall back to check-only).
  int32_t detect_full_width;
  Digests expected;
};

// Digests of the current output: the check-only plan's log and list, then
// the real run's log, list and the tree it leaves.
const Case kCases[] = {
    {"fixed readings",
     false,
     0,
     {0x30bc2a5dc478f419ull, 0xfe13a3a253c6ddb2ull, 0xf3921e8ac856e604ull, 0x668cece7ca116b54ull,
      0xd0b560c4522a158eull}},
    {"MeCab",
     true,
     1,
     {0x9b95f823f7cbeba4ull, 0x59fcc5514e3578feull, 0xbe20acd9dfe2d468ull, 0xe1b502c4c7aa8519ull,
      0xe206f6dca6c39207ull}},
};

class UnchangedOutputTest : public testing::TempDirTest {};

TEST_F(UnchangedOutputTest, FiveThousandFilesGiveTheSameLogListAndTree) {
  const fs::path data = fs::path(TARVEL_SOURCE_DIR) / "data";
  testing::FixedReadingService fixed{
      {u"東京", u"トウキョウ"}, {u"夜", u"よる"}, {u"桜", u"さくら"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ReadingService* reading =
        c.mecab ? static_cast<ReadingService*>(testing::SharedMecab()) : &fixed;
    if (reading == nullptr) {
      ADD_FAILURE() << "the MeCab dictionary is not installed";
      continue;
    }
    const fs::path lib = dir() / c.name / "music";
    fs::create_directories(lib);
    ASSERT_EQ(sample::MakeBenchLibrary(lib, 5000), 5000u);
    const std::string root = lib.native();

    RecordingFrontEnd ui;
    AppState app;
    app.ui = &ui;
    app.reading = reading;
    ASSERT_TRUE(LoadTables(app, data / "dic.csv", data / "Rome.csv").dic.loaded());
    app.folder.history_dir = dir() / c.name / "history";
    Settings& s = app.settings;
    s.PathDataFolder = *Utf8ToUtf16(root);
    s.FlagPathSaveCSV = 1;
    s.FlagCreateCSVFile = 1;
    s.FlagDisplayLog = 1;
    s.FlagRenameSubfolders = 1;
    s.FlagRenameFolderName = 1;
    s.FlagConvertFilename = 1;
    s.FlagConvertID3Tag = 1;
    s.ConvertLevelFilename = 1;
    s.ConvertLevelID3Tag = 1;
    s.FlagDetectFullCharFilename = c.detect_full_width;
    s.FlagDetectFullCharID3Tag = c.detect_full_width;

    Digests got;
    // The plan: check-only on both, so nothing on disk but the list changes.
    s.FlagCheckOnlyFilename = 1;
    s.FlagCheckOnlyID3Tag = 1;
    {
      RunState run;
      RunReport report = RunConversion(app, run);
      ASSERT_EQ(report.outcome, RunReport::Outcome::kCompleted) << report.detail;
      got.plan_log = ListBytesHash(WithoutRoot(U8(ui.log), root));
      got.plan_list = ListBytesHash(WithoutRoot(ReadBytes(lib / "list.csv"), root));
    }
    fs::remove(lib / "list.csv");
    fs::remove(lib / "list.csv.undo");

    ui = RecordingFrontEnd();
    s.FlagCheckOnlyFilename = 0;
    s.FlagCheckOnlyID3Tag = 0;
    {
      RunState run;
      RunReport report = RunConversion(app, run);
      ASSERT_EQ(report.outcome, RunReport::Outcome::kCompleted) << report.detail;
      ASSERT_EQ(s.FlagCheckOnlyFilename, 0) << "the run fell back to check-only";
      got.run_log = ListBytesHash(WithoutRoot(U8(ui.log), root));
      got.run_list = ListBytesHash(WithoutRoot(ReadBytes(lib / "list.csv"), root));
      got.tree = TreeDigest(lib);
    }
    EXPECT_EQ(got, c.expected) << "now " << Show(got);
  }
}

}  // namespace
}  // namespace tarvel
