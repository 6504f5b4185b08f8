#include "run/scan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "platform/text.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

// Audio bytes followed by an ID3v1 block with the given ASCII texts.
std::string TaggedMp3(std::string_view title, std::string_view artist, std::string_view album) {
  auto field = [](std::string_view s) {
    std::string f(s);
    f.resize(30, '\0');
    return f;
  };
  return std::string(300, '\xFF') + "TAG" + field(title) + field(artist) + field(album) +
         std::string(4 + 30 + 1, '\0');
}

// A row as the tests look at it: the folder relative to the data folder.
struct Row {
  std::u16string folder;
  std::u16string name;
  int32_t is_file;
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
  return os << "{" << U8(r.folder) << ", " << U8(r.name) << ", " << r.is_file << "}";
}

class ScanTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    data_ = dir() / "data";
    fs::create_directories(data_);
    app_.ui = &ui_;
    app_.settings.FlagDisplayLog = 1;
    app_.settings.FlagRenameFolderName = 1;
    app_.settings.FlagRenameSubfolders = 1;
    app_.settings.FlagConvertID3Tag = 1;
  }

  void Touch(const fs::path& relative, std::string_view bytes = std::string(200, '\xFF')) {
    fs::create_directories((data_ / relative).parent_path());
    WriteBytes(data_ / relative, bytes);
  }

  std::u16string Data16() const { return *Utf8ToUtf16(data_.native()) + u"/"; }

  int32_t Scan(std::u16string path = {}) {
    if (path.empty()) path = Data16();
    return ScanFolder(app_, run_, path, &error_);
  }

  std::vector<Row> Rows() const {
    std::vector<Row> rows;
    std::u16string root = Data16();
    for (int32_t i = 1; i <= run_.EntryCount; ++i) {
      const FileEntry& e = run_.EntryTable[i];
      EXPECT_EQ(e.OldPath.substr(0, root.size()), root);
      rows.push_back({e.OldPath.substr(root.size()), e.OldName.str(), e.IsFile});
    }
    return rows;
  }

  int Marks() const {
    int n = 0;
    for (char16_t c : ui_.log) n += c == u'。';
    return n;
  }

  fs::path data_;
  RecordingFrontEnd ui_;
  AppState app_;
  RunState run_;
  ScanError error_;
};

TEST_F(ScanTest, FlagCombinations) {
  Touch("a.mp3");
  Touch("b.MP3");
  Touch("c.txt");
  Touch("sub/d.mp3");
  Touch("sub/deeper/e.mp3");
  struct {
    int32_t folder_rows, recurse;
    std::vector<Row> rows;
    int folders_entered;
  } kCases[] = {
      {1,
       1,
       {{u"", u"a.mp3", 1},
        {u"", u"b.MP3", 1},
        {u"", u"sub", 0},
        {u"sub/", u"d.mp3", 1},
        {u"sub/", u"deeper", 0},
        {u"sub/deeper/", u"e.mp3", 1}},
       3},
      {0, 0, {{u"", u"a.mp3", 1}, {u"", u"b.MP3", 1}}, 1},
      {0,
       1,
       {{u"", u"a.mp3", 1},
        {u"", u"b.MP3", 1},
        {u"sub/", u"d.mp3", 1},
        {u"sub/deeper/", u"e.mp3", 1}},
       3},
      {1, 0, {{u"", u"a.mp3", 1}, {u"", u"b.MP3", 1}, {u"", u"sub", 0}}, 1},
  };
  for (int32_t display_log : {1, 0}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(::testing::Message() << "folder rows " << c.folder_rows << " recurse "
                                        << c.recurse << " log " << display_log);
      app_.settings.FlagRenameFolderName = c.folder_rows;
      app_.settings.FlagRenameSubfolders = c.recurse;
      app_.settings.FlagDisplayLog = display_log;
      ResetEntryTable(run_);
      ui_ = RecordingFrontEnd();
      ASSERT_EQ(Scan(), 1);
      EXPECT_EQ(Rows(), c.rows);
      EXPECT_EQ(run_.EntryCount, static_cast<int32_t>(run_.EntryTable.size()) - 1);
      EXPECT_EQ(Marks(), display_log == 1 ? c.folders_entered : 0);
      EXPECT_EQ(ui_.pump_count, c.folders_entered);
      for (int32_t i = 1; i <= run_.EntryCount; ++i) {
        const FileEntry& e = run_.EntryTable[i];
        EXPECT_EQ(e.NewPath, e.OldPath);
        EXPECT_EQ(e.NewName, e.OldName);
        EXPECT_EQ(e.OldPath.back(), u'/');
      }
      EXPECT_EQ(run_.EntryTable[0].OldName, u"");
    }
  }
}

TEST_F(ScanTest, OnlySubfoldersWithoutFolderRowsGiveNoRows) {
  Touch("sub/readme.txt");
  app_.settings.FlagRenameFolderName = 0;
  ASSERT_EQ(Scan(), 1);
  EXPECT_EQ(run_.EntryCount, 0);
  EXPECT_EQ(run_.EntryTable.size(), 1u);
}

// The front end hears of every folder listed, as a running count of an
// unknown total (0), which the scan cannot know before it ends.
TEST_F(ScanTest, EveryFolderListedIsCounted) {
  struct TotalFrontEnd : RecordingFrontEnd {
    void ReportProgress(ProgressStage stage, int64_t done, int64_t total) override {
      RecordingFrontEnd::ReportProgress(stage, done, total);
      totals.push_back(total);
    }
    std::vector<int64_t> totals;
  } ui;
  app_.ui = &ui;
  Touch("a.mp3");
  Touch("one/b.mp3");
  Touch("one/two/c.mp3");
  Touch("three/d.txt");
  ASSERT_EQ(Scan(), 1);
  EXPECT_EQ(ui.last_progress[static_cast<size_t>(ProgressStage::kScan)], 4);
  EXPECT_EQ(ui.totals, std::vector<int64_t>(4, 0));
}

TEST_F(ScanTest, TrailingSeparatorMakesNoDifference) {
  Touch("a.mp3");
  Touch("sub/b.mp3");
  std::u16string with = Data16();
  std::u16string without = with.substr(0, with.size() - 1);
  ASSERT_EQ(Scan(with), 1);
  std::vector<std::u16string> paths;
  for (int32_t i = 1; i <= run_.EntryCount; ++i) paths.push_back(run_.EntryTable[i].OldPath.str());
  ResetEntryTable(run_);
  ASSERT_EQ(Scan(without), 1);
  ASSERT_EQ(run_.EntryCount, 3);
  for (int32_t i = 1; i <= run_.EntryCount; ++i)
    EXPECT_EQ(run_.EntryTable[i].OldPath, paths[i - 1]);
  EXPECT_EQ(paths[0], with);
}

TEST_F(ScanTest, NameOrderHiddenEntriesAndTheMp3Test) {
  for (const char* name :
       {"b.mp3", "B.mp3", ".hidden.mp3", ".Trash-0/files/old.mp3", ".cache/x/y.mp3", "song.mp3.bak",
        "songmp3", "mp3", "p3", "x.ｍｐ３", "y.ＭＰ３", "z.mp4", "曲.Mp3", "\xF0\x9F\x8E\xB5.mp3",
        "\xEF\xBD\x81.mp3"}) {
    Touch(name);
  }
  ASSERT_EQ(Scan(), 1);
  std::vector<std::u16string> names;
  for (const Row& r : Rows()) names.push_back(r.name);
  // UTF-16 code-unit order: ASCII, kana/kanji, the surrogate pair of U+1F3B5,
  // then the full-width forms (U+FF41 and up). Hidden files and folders (the
  // Trash, caches) are passed over, as file managers pass them.
  std::vector<std::u16string> expected = {u"B.mp3",   u"b.mp3",          u"mp3",
                                          u"songmp3", u"x.ｍｐ３",       u"y.ＭＰ３",
                                          u"曲.Mp3",  u"\U0001F3B5.mp3", u"ａ.mp3"};
  EXPECT_EQ(names, expected);
}

TEST_F(ScanTest, ReadsTagsOnlyWhenAsked) {
  Touch("tagged.mp3", TaggedMp3("Title", "Artist", "Album"));
  Touch("untagged.mp3", std::string(500, 'x'));
  Touch("tiny.mp3", "ab");
  for (int32_t convert : {1, 0}) {
    SCOPED_TRACE(convert);
    app_.settings.FlagConvertID3Tag = convert;
    ResetEntryTable(run_);
    ASSERT_EQ(Scan(), 1);
    ASSERT_EQ(run_.EntryCount, 3);
    const FileEntry& tagged = run_.EntryTable[1];
    ASSERT_EQ(tagged.OldName, u"tagged.mp3");
    EXPECT_EQ(tagged.OldTitle, convert ? u"Title" : u"");
    EXPECT_EQ(tagged.NewTitle, tagged.OldTitle);
    EXPECT_EQ(tagged.OldArtist, convert ? u"Artist" : u"");
    EXPECT_EQ(tagged.NewArtist, tagged.OldArtist);
    EXPECT_EQ(tagged.OldAlbum, convert ? u"Album" : u"");
    EXPECT_EQ(tagged.NewAlbum, tagged.OldAlbum);
    for (int32_t i : {2, 3}) {
      const FileEntry& e = run_.EntryTable[i];
      EXPECT_EQ(e.OldTitle + e.OldArtist + e.OldAlbum + e.NewTitle + e.NewArtist + e.NewAlbum, u"");
    }
  }
}

// A program started with its standard input closed may get descriptor 0
// for a folder, and still reads the tags in it.
TEST_F(ScanTest, ReadsTagsInAFolderOpenedAsDescriptorZero) {
  Touch("sub/x.mp3", TaggedMp3("Zero", "A", "B"));
  const int saved = ::dup(0);
  ASSERT_GE(saved, 0);
  testing::FaultDiskOps disk;
  disk.Add({.call = testing::DiskCall::kOpenBeneath, .name = "sub", .error = 0, .before = [] {
              ::close(0);
            }});
  const int32_t scanned = ScanFolder(app_, run_, Data16(), &error_, disk);
  ::dup2(saved, 0);
  ::close(saved);
  ASSERT_EQ(scanned, 1);
  ASSERT_EQ(run_.EntryCount, 2);
  EXPECT_EQ(run_.EntryTable[2].OldTitle, u"Zero");
}

TEST_F(ScanTest, ReadsTagsInDeepTrees) {
  fs::path deep;
  for (int i = 0; i < 70; ++i) deep /= "d";
  Touch(deep / "x.mp3", TaggedMp3("Deep", "A", "B"));
  Touch("top.mp3", TaggedMp3("Top", "A", "B"));
  app_.settings.FlagRenameFolderName = 0;
  ASSERT_EQ(Scan(), 1);
  ASSERT_EQ(run_.EntryCount, 2);
  EXPECT_EQ(run_.EntryTable[1].OldTitle, u"Deep");
  EXPECT_EQ(run_.EntryTable[2].OldTitle, u"Top");
  EXPECT_EQ(Marks(), 71);
}

TEST_F(ScanTest, LongNamesAreTakenWhole) {
  std::string ascii = std::string(196, 'n') + ".mp3";  // 200 bytes
  std::string kana;                                    // 65 × あ + "x.mp3": 200 bytes
  for (int i = 0; i < 65; ++i) kana += "あ";
  kana += "x.mp3";
  ASSERT_EQ(kana.size(), 200u);
  Touch(ascii);
  Touch(kana);
  ASSERT_EQ(Scan(), 1);
  ASSERT_EQ(run_.EntryCount, 2);
  EXPECT_EQ(run_.EntryTable[1].OldName, *Utf8ToUtf16(ascii));
  EXPECT_EQ(run_.EntryTable[2].OldName, *Utf8ToUtf16(kana));
}

TEST_F(ScanTest, SymbolicLinksAreSkipped) {
  Touch("a.mp3");
  Touch("sub/d.mp3");
  fs::create_symlink("a.mp3", data_ / "link.mp3");
  fs::create_symlink("sub", data_ / "linkdir");
  fs::create_symlink("nowhere.mp3", data_ / "dangling.mp3");
  fs::create_symlink("..", data_ / "sub" / "loop");
  ASSERT_EQ(Scan(), 1);
  std::vector<Row> expected = {{u"", u"a.mp3", 1}, {u"", u"sub", 0}, {u"sub/", u"d.mp3", 1}};
  EXPECT_EQ(Rows(), expected);
  EXPECT_EQ(Marks(), 2);
}

TEST_F(ScanTest, DataFolderReachedThroughALinkIsScanned) {
  Touch("a.mp3");
  fs::create_symlink(data_, dir() / "link");
  ASSERT_EQ(ScanFolder(app_, run_, *Utf8ToUtf16((dir() / "link").native()), &error_), 1);
  EXPECT_EQ(run_.EntryCount, 1);
}

TEST_F(ScanTest, NamesThatAreNotUtf8AreSkippedWithOneLine) {
  Touch("a.mp3");
  Touch("\xFF\xFE.mp3");
  Touch("\xFF.txt");            // would not be taken anyway: no line
  Touch("bad\x81/inside.mp3");  // neither listed nor entered
  ASSERT_EQ(Scan(), 1);
  std::vector<Row> expected = {{u"", u"a.mp3", 1}};
  EXPECT_EQ(Rows(), expected);
  EXPECT_EQ(Marks(), 1);
  EXPECT_NE(ui_.log.find(u"\\xFF\\xFE.mp3\r\n"), std::u16string::npos) << U8(ui_.log);
  EXPECT_NE(ui_.log.find(u"bad\\x81\r\n"), std::u16string::npos) << U8(ui_.log);
  EXPECT_EQ(ui_.log.find(u"\\xFF.txt"), std::u16string::npos) << U8(ui_.log);
  // The first line leaves the row of progress marks; the second follows it
  // directly.
  size_t first = ui_.log.find(u"\r\n");
  ASSERT_EQ(first, 1u);
  size_t second = ui_.log.find(u"\r\n", first + 2);
  size_t third = ui_.log.find(u"\r\n", second + 2);
  EXPECT_EQ(third + 2, ui_.log.size());
  EXPECT_EQ(ui_.log.find(u"\r\n", third + 2), std::u16string::npos);

  // Without progress marks the lines start the log.
  app_.settings.FlagDisplayLog = 0;
  ui_ = RecordingFrontEnd();
  ASSERT_EQ(Scan(), 1);
  EXPECT_TRUE(ui_.log.starts_with(u"名前がUTF-8でないため対象外にしました：")) << U8(ui_.log);
}

TEST_F(ScanTest, FolderThatCannotBeListedFailsTheScan) {
  struct {
    const char* label;
    std::function<std::u16string()> setup;
    int expected_errno;
  } kCases[] = {
      {"missing", [this] { return Data16() + u"missing"; }, ENOENT},
      {"a file",
       [this] {
         Touch("a.mp3");
         return Data16() + u"a.mp3";
       },
       ENOTDIR},
      {"a NUL in the name, which the system would cut it at",
       [this] {
         fs::create_directories(data_ / "a");
         return Data16() + u"a" + std::u16string(1, u'\0') + u"b";
       },
       EINVAL},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ResetEntryTable(run_);
    std::u16string path = c.setup();
    EXPECT_EQ(ScanFolder(app_, run_, path, &error_), 0);
    EXPECT_EQ(error_.sys_errno, c.expected_errno);
  }
  EXPECT_EQ(ScanFolder(app_, run_, u"", &error_), 0);  // never the root folder
  EXPECT_EQ(error_.sys_errno, ENOENT);
}

// Removes a folder when the scan lets events run for the n-th time, i.e.
// after the folder was listed in its parent but before it is entered.
class VanishingFrontEnd : public RecordingFrontEnd {
 public:
  void PumpEvents() override {
    RecordingFrontEnd::PumpEvents();
    if (pump_count != when) return;
    fs::remove_all(victim);
    if (!link_target.empty()) fs::create_symlink(link_target, victim);
  }
  int when = 0;
  fs::path victim;
  fs::path link_target;  // when set, a link takes the folder's place
};

TEST_F(ScanTest, SubfolderThatVanishesFailsTheWholeScan) {
  Touch("a/1.mp3");
  Touch("b/2.mp3");
  Touch("c/3.mp3");
  VanishingFrontEnd ui;
  ui.when = 2;  // entering a/
  ui.victim = data_ / "b";
  app_.ui = &ui;
  EXPECT_EQ(Scan(), 0);
  EXPECT_EQ(error_.folder, Data16() + u"b/");
  EXPECT_EQ(error_.sys_errno, ENOENT);
  // The rows found before the failure stay; c was never looked at.
  std::vector<Row> expected = {{u"", u"a", 0}, {u"a/", u"1.mp3", 1}, {u"", u"b", 0}};
  EXPECT_EQ(Rows(), expected);
}

// A large library's tags are read while the listing goes on: every file gets
// its own texts, those listed before and after a subfolder alike; and a
// listing that fails late, with tags being read beside it, fails the scan
// as a small one does.
TEST_F(ScanTest, LargeLibraryTagsAreReadWhileListing) {
  Touch("0.mp3", TaggedMp3("0", "A", "B"));
  for (const char* folder : {"a", "b", "c"}) {
    for (int i = 0; i < 1500; ++i) {
      const std::string stem = std::string(folder) + std::to_string(i);
      Touch(fs::path(folder) / (stem + ".mp3"), TaggedMp3(stem, "A", "B"));
    }
  }
  Touch("z.mp3", TaggedMp3("z", "A", "B"));
  app_.settings.FlagRenameFolderName = 0;
  for (const bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "c vanishes" : "whole");
    ResetEntryTable(run_);
    VanishingFrontEnd ui;
    ui.when = fail ? 3 : -1;  // entering b/, with 3,000 files handed on
    ui.victim = data_ / "c";
    app_.ui = &ui;
    ASSERT_EQ(Scan(), fail ? 0 : 1);
    if (fail) {
      EXPECT_EQ(error_.folder, Data16() + u"c/");
      EXPECT_EQ(run_.EntryCount, 3001);
      continue;
    }
    ASSERT_EQ(run_.EntryCount, 4502);
    int wrong = 0;
    for (int32_t i = 1; i <= run_.EntryCount; ++i) {
      const FileEntry& e = run_.EntryTable[i];
      const std::u16string stem = e.OldName.substr(0, e.OldName.size() - 4);
      wrong +=
          e.OldTitle != stem || e.NewTitle != stem || e.OldArtist != u"A" || e.NewAlbum != u"B";
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST_F(ScanTest, FolderReplacedByALinkIsNotEntered) {
  Touch("a/1.mp3");
  Touch("b/2.mp3");
  Touch("elsewhere/3.mp3");
  VanishingFrontEnd ui;
  ui.when = 2;  // entering a/
  ui.victim = data_ / "b";
  ui.link_target = data_ / "elsewhere";
  app_.ui = &ui;
  app_.settings.FlagRenameFolderName = 0;
  EXPECT_EQ(Scan(), 0);
  EXPECT_EQ(error_.folder, Data16() + u"b/");
  std::vector<Row> expected = {{u"a/", u"1.mp3", 1}};
  EXPECT_EQ(Rows(), expected);
}

TEST_F(ScanTest, UnreadableSubfolderFailsTheWholeScan) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any folder";
  Touch("a.mp3");
  Touch("locked/b.mp3");
  ASSERT_EQ(::chmod((data_ / "locked").c_str(), 0), 0);
  EXPECT_EQ(Scan(), 0);
  EXPECT_EQ(error_.sys_errno, EACCES);
}

TEST(EndsInMp3Test, LastThreeCharactersUnderTextComparison) {
  struct {
    std::u16string_view name;
    bool expected;
  } kCases[] = {
      {u"a.mp3", true}, {u"a.MP3", true},    {u"a.Mp3", true},    {u"songmp3", true},
      {u"mp3", true},   {u"a.ＭＰ３", true}, {u"a.ｍｐ３", true}, {u"a.mp3.bak", false},
      {u"p3", false},   {u"", false},        {u"a.mp4", false},   {u"a.mp", false},
      {u"曲", false},   {u"a.ｍｐ3", true},  {u"a.m p3", false},  {u"a.wav", false},
      {u"xmp3", true},  {u"xmp4", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(EndsInMp3(c.name), c.expected) << U8(c.name);
}

TEST(EntryTableTest, ResetAndAdd) {
  RunState run;
  EXPECT_EQ(run.EntryTable.size(), 1u);
  FileEntry& row = AddEntry(run, u"/m/", u"曲.mp3", 1);
  row.OldTitle = std::u16string(u"t");
  row.RenameFlag = 1;
  AddEntry(run, u"/m/", u"sub", 0);
  ASSERT_EQ(run.EntryCount, 2);
  EXPECT_EQ(run.EntryTable[1].OldPath, u"/m/");
  EXPECT_EQ(run.EntryTable[1].NewPath, u"/m/");
  EXPECT_EQ(run.EntryTable[1].NewName, u"曲.mp3");
  EXPECT_EQ(run.EntryTable[1].OldTitle, u"t");  // earlier rows are kept
  EXPECT_EQ(run.EntryTable[2].IsFile, 0);
  EXPECT_EQ(run.EntryTable[2].NewTitle, u"");
  EXPECT_EQ(run.EntryTable[2].TagFlag, 0);
  run.ChangeCount = 5;
  ResetEntryTable(run);
  EXPECT_EQ(run.EntryCount, 0);
  ASSERT_EQ(run.EntryTable.size(), 1u);
  EXPECT_EQ(run.EntryTable[0].OldName, u"");
  EXPECT_EQ(run.EntryTable[0].IsFile, 0);
}

}  // namespace
}  // namespace tarvel
