#include "files/rename_list.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include "files/list_format.h"
#include "files/rename_list_reader.h"
#include "files/run_history.h"
#include "files/undo_entry_support.h"
#include "platform/csv.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using ::tarvel::testing::Entry;

using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

constexpr char kBlankRecord[] = R"("","","","","","","","","","","","","","")"
                                "\r\n";

std::u16string Text16(const std::filesystem::path& p) { return *Utf8ToUtf16(p.native()); }

class RenameListTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    data_ = dir() / "music";
    std::filesystem::create_directories(data_);
    app_.folder = FindAppFolder(dir() / "bin" / "tarvel", AppEnvironment::FromProcess());
    app_.settings.PathDataFolder = Text16(data_);
    app_.settings.FlagPathSaveCSV = 1;
    app_.settings.FlagDisplayLog = 1;
    app_.ui = &ui_;
  }

  FileEntry& Add(std::u16string_view name, std::u16string_view new_name, int32_t is_file) {
    FileEntry& e = AddEntry(run_, Text16(data_) + u"/", name, is_file);
    e.NewName = new_name;
    e.RenameFlag = name != new_name ? 1 : 0;
    return e;
  }

  std::filesystem::path data_;
  AppState app_;
  RecordingFrontEnd ui_;
  RunState run_;
};

TEST_F(RenameListTest, RoundTripKeepsEveryFieldAndPicksTheEncoding) {
  struct {
    const char* label;
    std::u16string name;
    std::u16string title;
    bool cp932;  // whether the file can be written in code page 932
  } kCases[] = {
      {"plain Japanese", u"あいう.mp3", u"タイトル", true},
      {"quotes, comma, line break", u"a\"b\",c.mp3", u"x\r\ny\"", true},
      {"wave dash has no cp932 round trip", u"夢〜.mp3", u"〜", false},
      {"outside cp932, a surrogate pair", u"𝄞.mp3", u"Ω", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ResetEntryTable(run_);
    Add(u"フォルダ", u"ﾌｫﾙﾀﾞ", 0);
    FileEntry& f = Add(c.name, u"new.mp3", 1);
    f.OldTitle = c.title;
    f.NewTitle = u"ﾀｲﾄﾙ";
    f.OldArtist = u"歌手";
    f.NewAlbum = u"\"";
    f.TagFlag = 1;
    ASSERT_EQ(WriteRenameList(app_, run_), 1);

    std::string bytes = ReadBytes(data_ / "list.csv");
    EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF", 0) == 0, !c.cp932);
    EXPECT_EQ(bytes.rfind(c.cp932 ? kBlankRecord : std::string("\xEF\xBB\xBF") + kBlankRecord, 0),
              0u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");

    RunState back;
    back.EntryCount = 7;
    back.ChangeCount = 3;
    ASSERT_EQ(ReadRenameList(Text16(data_ / "list.csv"), back), 1);
    ASSERT_EQ(back.EntryTable.size(), 3u);
    EXPECT_EQ(back.EntryCount, 7);  // the counters belong to the last conversion run
    EXPECT_EQ(back.ChangeCount, 3);
    for (size_t i = 0; i < 3; ++i) {
      const FileEntry& a = run_.EntryTable[i];
      const FileEntry& b = back.EntryTable[i];
      EXPECT_EQ(U8(b.OldPath), U8(a.OldPath));
      EXPECT_EQ(U8(b.OldName), U8(a.OldName));
      EXPECT_EQ(U8(b.NewPath), U8(a.NewPath));
      EXPECT_EQ(U8(b.NewName), U8(a.NewName));
      EXPECT_EQ(U8(b.OldTitle), U8(a.OldTitle));
      EXPECT_EQ(U8(b.OldArtist), U8(a.OldArtist));
      EXPECT_EQ(U8(b.OldAlbum), U8(a.OldAlbum));
      EXPECT_EQ(U8(b.NewTitle), U8(a.NewTitle));
      EXPECT_EQ(U8(b.NewArtist), U8(a.NewArtist));
      EXPECT_EQ(U8(b.NewAlbum), U8(a.NewAlbum));
      EXPECT_EQ(b.RenameFlag, a.RenameFlag);
      EXPECT_EQ(b.TagFlag, a.TagFlag);
      EXPECT_EQ(b.IsFile, a.IsFile);
    }
  }
}

TEST_F(RenameListTest, WritesCodePage932BytesExactly) {
  Add(u"曲", u"ｷｮｸ", 1);
  ASSERT_EQ(WriteRenameList(app_, run_), 1);
  std::string path = Utf16ToUtf8(app_.settings.PathDataFolder) + "/";
  std::string expected = std::string(kBlankRecord) + "\"1\",\"" + path + "\",\"\x8B\xC8\",\"" +
                         path +
                         "\",\"\xB7\xAE\xB8\",\"\",\"\",\"\",\"\",\"\",\"\",\"1\",\"0\",\"1\"\r\n";
  EXPECT_EQ(ReadBytes(data_ / "list.csv"), expected);
}

TEST_F(RenameListTest, EmptyRunWritesOnlyTheBlankRecordWhichIsNoList) {
  ASSERT_EQ(WriteRenameList(app_, run_), 1);
  EXPECT_EQ(ReadBytes(data_ / "list.csv"), kBlankRecord);
  // A run never writes a list without rows (it stops when it finds
  // nothing), so such a file is refused rather than restored as nothing.
  RunState back;
  AddEntry(back, u"/x/", u"old.mp3", 1);
  std::string error;
  ASSERT_EQ(ReadRenameList(Text16(data_ / "list.csv"), back, &error), 0);
  EXPECT_NE(error.find("no rows"), std::string::npos) << error;
  EXPECT_EQ(back.EntryTable.size(), 2u);
}

TEST_F(RenameListTest, PlaceFollowsTheOptionAndTheReportNamesIt) {
  std::filesystem::path list_dir = dir() / "xdg-data" / "tarvel";
  struct {
    const char* label;
    int32_t save_in_data;
    std::u16string data_folder_suffix;
    int32_t display_log;
    std::filesystem::path expected;
  } kCases[] = {
      {"data folder", 1, u"", 1, data_ / "list.csv"},
      {"data folder with trailing slash gets one slash", 1, u"/", 0, data_ / "list.csv"},
      {"any non-zero value means the data folder", 2, u"", 1, data_ / "list.csv"},
      {"install folder, made when missing", 0, u"", 0, list_dir / "list.csv"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove(data_ / "list.csv");
    std::filesystem::remove_all(list_dir);
    ui_.log.clear();
    ui_.messages.clear();
    app_.settings.FlagPathSaveCSV = c.save_in_data;
    app_.settings.PathDataFolder = Text16(data_) + c.data_folder_suffix;
    app_.settings.FlagDisplayLog = c.display_log;
    std::u16string written;
    ASSERT_EQ(WriteRenameList(app_, run_, &written), 1);
    EXPECT_TRUE(std::filesystem::is_regular_file(c.expected));
    EXPECT_EQ(U8(written), c.expected.native());
    std::u16string body =
        u"変換リストをCSVファイルに出力しました。\r\n　ファイル名　：　" + Text16(c.expected);
    if (c.display_log == 1) {
      EXPECT_EQ(U8(ui_.log), U8(u"\r\n" + body + u"\r\n\r\n"));
      EXPECT_TRUE(ui_.messages.empty());
    } else {
      ASSERT_EQ(ui_.messages.size(), 1u);
      EXPECT_EQ(U8(ui_.messages[0]), U8(body));
      EXPECT_TRUE(ui_.log.empty());
    }
  }
}

TEST_F(RenameListTest, ReplacesAnExistingListWhole) {
  WriteBytes(data_ / "list.csv", std::string(100000, 'x'));
  Add(u"a.mp3", u"b.mp3", 1);
  ASSERT_EQ(WriteRenameList(app_, run_), 1);
  std::string bytes = ReadBytes(data_ / "list.csv");
  EXPECT_EQ(bytes.rfind(kBlankRecord, 0), 0u);
  EXPECT_EQ(bytes.find(std::string(100, 'x')), std::string::npos);  // none of the old list
  // Only the list is left: no temporary file beside it.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(data_)) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(RenameListTest, FailureWritesNothingAndReportsNothing) {
  struct {
    const char* label;
    std::u16string data_folder;
    std::string error;        // what the error says, after the list's path
    int32_t extra_count = 0;  // rows the count claims beyond the table's
  } kCases[] = {
      {"missing data folder", Text16(dir() / "gone"),
       "gone/list.csv: cannot create a temporary file beside it (No such file or directory)"},
      {"empty data folder setting", u"", "no data folder is set"},
      {"data folder is a file", Text16(dir() / "plain"),
       "plain/list.csv: cannot create a temporary file beside it (Not a directory)"},
      {"a count past the table's rows", Text16(data_),
       "the table holds fewer rows than its count says", 1},
  };
  WriteBytes(dir() / "plain", "x");
  Add(u"a.mp3", u"b.mp3", 1);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    app_.settings.PathDataFolder = c.data_folder;
    run_.EntryCount = 1 + c.extra_count;
    std::string error;
    EXPECT_EQ(WriteRenameList(app_, run_, nullptr, &error), 0);
    EXPECT_TRUE(error.ends_with(c.error)) << error;
    EXPECT_FALSE(std::filesystem::exists(dir() / "gone"));
    EXPECT_FALSE(std::filesystem::exists(dir() / "xdg-data" / "tarvel"));
    EXPECT_TRUE(std::filesystem::is_empty(data_));
    EXPECT_EQ(ReadBytes(dir() / "plain"), "x");
    EXPECT_TRUE(ui_.log.empty());
    EXPECT_TRUE(ui_.messages.empty());
  }
}

// A list that cannot be put in place at the last step (here something else
// took its name) fails the write: nothing is reported as written and no
// temporary is left.
TEST_F(RenameListTest, AListThatCannotGoInPlaceFailsTheWrite) {
  Add(u"a.mp3", u"b.mp3", 1);
  std::string error;
  const int32_t written = WriteRenameList(app_, run_, nullptr, &error, nullptr, [&] {
    std::filesystem::create_directories(data_ / "list.csv" / "theirs");
  });
  EXPECT_EQ(written, 0);
  EXPECT_NE(error.find("list.csv"), std::string::npos) << error;
  EXPECT_TRUE(ui_.log.empty());
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(data_),
                          std::filesystem::directory_iterator()),
            1);
}

// A data folder nothing can be written in: by its permission bits for an
// ordinary user, by its immutable flag for root.
TEST_F(RenameListTest, ReadOnlyDataFolderFailsAndKeepsTheOldList) {
  WriteBytes(data_ / "list.csv", "old");
  if (!testing::SetUnwritable(data_, true)) GTEST_SKIP() << "cannot make the folder unwritable";
  Add(u"a.mp3", u"b.mp3", 1);
  std::string error;
  const int32_t written = WriteRenameList(app_, run_, nullptr, &error);
  testing::SetUnwritable(data_, false);
  EXPECT_EQ(written, 0);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadBytes(data_ / "list.csv"), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(data_),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(RenameListTest, UnreadableListFailsAndLeavesTheTableAlone) {
  struct {
    const char* label;
    std::string bytes;  // empty label means: no file at all
    bool write_file;
  } kCases[] = {
      {"no file", "", false},
      {"empty file", "", true},
      // A record ending in a quoted field parses one more, empty field: 12
      // quoted fields are 13, one short.
      {"first record has 13 fields as parsed",
       R"("","","","","","","","","","","","")"
       "\r\n"
       R"("1","/a/","b","/a/","c","","","","","","","1","0","1")"
       "\r\n",
       true},
      {"unquoted short header", "a,b,c\r\n", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::filesystem::path path = dir() / "in.csv";
    std::filesystem::remove(path);
    if (c.write_file) WriteBytes(path, c.bytes);
    RunState run;
    AddEntry(run, u"/keep/", u"me.mp3", 1);
    std::string error;
    EXPECT_EQ(ReadRenameList(Text16(path), run, &error), 0);
    EXPECT_FALSE(error.empty());
    ASSERT_EQ(run.EntryTable.size(), 2u);
    EXPECT_EQ(U8(run.EntryTable[1].OldName), "me.mp3");
  }
  RunState run;
  EXPECT_EQ(ReadRenameList(Text16(dir()), run), 0) << "a folder is no list";
}

TEST_F(RenameListTest, FlagsReadAsTheNumberAtTheirStart) {
  struct {
    const char* field;
    int32_t expected;
  } kCases[] = {
      {"1", 1},
      {"0", 0},
      {"", 0},
      {"x", 0},
      {" 1", 1},
      {"1x", 1},
      {"-1", -1},
      {"+1", 1},
      {"12", 12},
      {"x1", 0},
      {"1.9", 1},
      {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ParseListFlag(Utf8ToUtf16(c.field).value()), c.expected) << c.field;
  }
}

TEST_F(RenameListTest, WhatIsNotAWholeListIsRefusedNamingTheFirstBadRecord) {
  const std::string row1 = R"("1","/a/","x.mp3","/a/","y.mp3","","","","","","","1","0","1")";
  const std::string row2 = R"("2","/a/","p.mp3","/a/","q.mp3","","","","","","","1","0","1")";
  const std::string good = std::string(kBlankRecord) + row1 + "\r\n" + row2 + "\r\n";
  auto lf = [](std::string text) {
    std::string out;
    for (char c : text) {
      if (c != '\r') out += c;
    }
    return out;
  };
  std::string utf16 = "\xFF\xFE";
  for (char c : good) utf16 += std::string{c, '\0'};
  const struct {
    const char* what;
    std::string bytes;
    const char* error;  // a part of the reason
  } kCases[] = {
      {"LF line ends", lf(good), "record 1 ends in a bare LF"},
      {"CR line ends", std::string(kBlankRecord).substr(0, 41) + "\r" + row1 + "\r",
       "record 1 ends in a bare CR"},
      {"a bare LF in the second row", std::string(kBlankRecord) + row1 + "\n" + row2 + "\r\n",
       "record 2 ends in a bare LF"},
      {"UTF-16", utf16, "UTF-16"},
      {"UTF-16 without a mark", utf16.substr(2), "NUL"},
      {"cut short", good.substr(0, good.size() - 9), "record 3 is cut short"},
      {"cut inside quotes", good.substr(0, good.size() - 4), "record 3 is cut short"},
      {"empty", "", "the list is empty"},
      {"only a UTF-8 mark", "\xEF\xBB\xBF", "the list is empty"},
      {"only the blank record", kBlankRecord, "no rows"},
      {"no blank first record", row1 + "\r\n" + row2 + "\r\n", "record 1 is not the blank"},
      {"junk with commas", std::string(kBlankRecord) + "a,b,c,d,e,f,g,h,i,j,k,l,m,n\r\n",
       "record 2, field 1"},
      {"a row of 13 fields",
       std::string(kBlankRecord) + row1 + "\r\n" +
           R"("2","/a/","p.mp3","/a/","q.mp3","","","","","","","1","0")" + "\r\n",
       "record 3 has fewer than 14 fields"},
      {"a flag that is no number",
       std::string(kBlankRecord) + row1 + "\r\n" +
           R"("2","/a/","p.mp3","/a/","q.mp3","","","","","","","yes","0","1")" + "\r\n",
       "record 3, field 12"},
      {"a blank line between rows", std::string(kBlankRecord) + row1 + "\r\n\r\n" + row2 + "\r\n",
       "record 3 has fewer than 14 fields"},
      {"UTF-8 mark before other bytes", "\xEF\xBB\xBF\xFF" + good, "not valid UTF-8"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteBytes(dir() / "in.csv", c.bytes);
    RunState run;
    AddEntry(run, u"/keep/", u"me.mp3", 1);
    std::string error;
    EXPECT_EQ(ReadRenameList(Text16(dir() / "in.csv"), run, &error), 0);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_EQ(run.EntryTable.size(), 2u);
  }
  WriteBytes(dir() / "in.csv", good);
  RunState run;
  EXPECT_EQ(ReadRenameList(Text16(dir() / "in.csv"), run), 1);
  EXPECT_EQ(run.EntryTable.size(), 3u);
}

// The reason a restore shows for a refused list, word for word: which
// record, which field and what is wrong with it.
TEST_F(RenameListTest, RefusalsNameTheRecordAndFieldInFull) {
  const std::string row = R"("1","/a/","x.mp3","/a/","y.mp3","","","","","","","1","0","1")"
                          "\r\n";
  auto with_fields = [](std::string_view number, std::string_view flag, std::string_view is_file) {
    return "\"" + std::string(number) + R"(","/a/","p.mp3","/a/","q.mp3","","","","","","",")" +
           std::string(flag) + R"(","0",")" + std::string(is_file) + "\"\r\n";
  };
  const struct {
    const char* what;
    std::string bytes;
    const char* error;
  } kCases[] = {
      {"a first record of 12 quoted fields",
       R"("","","","","","","","","","","","")"
       "\r\n" +
           row,
       "the first record of the list has 13 fields, fewer than 14"},
      {"text in the first record",
       R"("","","x","","","","","","","","","","","")"
       "\r\n" +
           row,
       "record 1 is not the blank first record of a list (field 3 holds text)"},
      {"only the blank record", kBlankRecord,
       "the list holds no rows after its blank first record"},
      {"a blank line", kBlankRecord + row + "\r\n", "record 3 has fewer than 14 fields"},
      {"a row of 13 quoted fields",
       kBlankRecord + row + R"("2","/a/","p.mp3","/a/","q.mp3","","","","","","","1","0")" + "\r\n",
       "record 3 has fewer than 14 fields (field 14 is empty)"},
      {"an empty number", kBlankRecord + with_fields("", "1", "1"),
       "record 2 has fewer than 14 fields (field 1 is empty)"},
      {"a negative number", kBlankRecord + with_fields("-1", "1", "1"),
       "record 2, field 1: not a whole number (-1)"},
      {"a flag that is a word, in UTF-8",
       "\xEF\xBB\xBF" + (kBlankRecord + row) + with_fields("2", "はい", "1"),
       "record 3, field 12: not a whole number (はい)"},
      {"IsFile with a letter after it", kBlankRecord + with_fields("1", "1", "1x"),
       "record 2, field 14: not a whole number (1x)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteBytes(dir() / "in.csv", c.bytes);
    RunState run;
    std::string error;
    EXPECT_EQ(ReadRenameList(Text16(dir() / "in.csv"), run, &error), 0);
    EXPECT_EQ(error, c.error);
  }
}

// A list is read in the encoding it was written in: by its mark, then by
// which encodings can hold its bytes, then by the clues of a restore (its
// undo record, the names on disk), and refused where nothing tells.
TEST_F(RenameListTest, EncodingFollowsTheMarkTheBytesAndTheClues) {
  // ﾃｽ is C3 BD in code page 932 and ý in UTF-8.
  auto row = [](std::string_view number, std::string_view name) {
    return "\"" + std::string(number) + "\",\"/a/\",\"" + std::string(name) +
           ".mp3\",\"/a/\",\"t.mp3\",\"\",\"\",\"\",\"\",\"\",\"\",\"1\",\"0\",\"1\"\r\n";
  };
  auto list = [&](std::string_view name) { return std::string(kBlankRecord) + row("1", name); };
  const std::string both = list("\xC3\xBD");
  // The same bytes as the new name of a row whose old name is plain.
  const std::string both_new = std::string(kBlankRecord) +
                               "\"1\",\"/a/\",\"t.mp3\",\"/a/\",\"\xC3\xBD.mp3\",\"\",\"\",\"\","
                               "\"\",\"\",\"\",\"1\",\"0\",\"1\"\r\n";
  const std::string two_rows = both + row("2", "\xC3\xA9");  // ﾃｩ or é
  const std::string kMark = "\xEF\xBB\xBF";
  enum Clues {
    kNone,
    kDiskUtf8,
    kDiskCp932,
    kDiskBoth,
    kDiskEachInOneRow,
    kRecordBeside,
    kRecordOfUtf8Rows,
    kRecordOfBytes,
    kDiskCp932RecordBeside
  };
  const struct {
    const char* what;
    std::string bytes;
    Clues clues;
    std::u16string_view name;  // empty: refused
    const char* error;
  } kCases[] = {
      {"no mark, no clues: code page 932", both, kNone, u"ﾃｽ.mp3", ""},
      {"a mark: UTF-8", kMark + both, kDiskCp932, u"ý.mp3", ""},
      {"no mark, bytes only UTF-8 holds", list("\xC3\x80"), kNone, u"À.mp3", ""},
      {"no mark, bytes neither holds", list("\x80\x80"), kNone, u"",
       "neither UTF-8 nor code page 932"},
      {"no mark, a lead byte without its second byte", list("a\x81"), kNone, u"",
       "neither UTF-8 nor code page 932"},
      {"no mark, the very first byte neither holds", "\x81" + both, kNone, u"",
       "neither UTF-8 nor code page 932"},
      {"both ways, the UTF-8 name is on disk", both, kDiskUtf8, u"ý.mp3", ""},
      {"both ways, the code page 932 name is on disk", both, kDiskCp932, u"ﾃｽ.mp3", ""},
      {"both ways, the UTF-8 new name is on disk", both_new, kDiskUtf8, u"ý.mp3", ""},
      {"both ways, the code page 932 new name is on disk", both_new, kDiskCp932, u"ﾃｽ.mp3", ""},
      // With a record beside that fits neither, only the names on disk tell.
      {"both ways, a record beside, the code page 932 name on disk", both, kDiskCp932RecordBeside,
       u"ﾃｽ.mp3", ""},
      {"both ways, a record beside, the code page 932 new name on disk", both_new,
       kDiskCp932RecordBeside, u"ﾃｽ.mp3", ""},
      {"both ways, both names are on disk", both, kDiskBoth, u"", "names of both readings"},
      {"both ways, each reading's name on disk in another row", two_rows, kDiskEachInOneRow, u"",
       "names of both readings"},
      {"both ways, neither on disk, a record beside", both, kRecordBeside, u"",
       "neither its undo record nor the names on disk"},
      {"both ways, a record of the UTF-8 rows", both, kRecordOfUtf8Rows, u"ý.mp3", ""},
      {"both ways, a record of the bytes themselves", both, kRecordOfBytes, u"ﾃｽ.mp3", ""},
      {"both ways, a row cut short", std::string(kBlankRecord) + "\"1\",\"/a/\",\"\xC3\xBD\"\r\n",
       kDiskUtf8, u"", "record 2 has fewer than 14 fields"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteBytes(dir() / "in.csv", c.bytes);
    ListEncodingClues clues;
    std::set<std::u16string> on_disk;
    if (c.clues == kDiskUtf8 || c.clues == kDiskBoth) on_disk.insert(u"/a/ý.mp3");
    if (c.clues == kDiskCp932 || c.clues == kDiskBoth || c.clues == kDiskCp932RecordBeside) {
      on_disk.insert(u"/a/ﾃｽ.mp3");
    }
    if (c.clues == kDiskEachInOneRow) on_disk = {u"/a/ﾃｽ.mp3", u"/a/é.mp3"};
    clues.exists = [&](std::u16string_view path) { return on_disk.contains(std::u16string(path)); };
    clues.record_beside = c.clues == kRecordBeside || c.clues == kRecordOfUtf8Rows ||
                          c.clues == kRecordOfBytes || c.clues == kDiskCp932RecordBeside;
    clues.has_record = [&](const ListBytesKey& list) {
      // The UTF-8 rows are written with a mark, as ý is not in code page 932.
      return (c.clues == kRecordOfUtf8Rows && list == KeyOfListBytes(kMark + c.bytes)) ||
             (c.clues == kRecordOfBytes && list == KeyOfListBytes(c.bytes));
    };
    RunState run;
    std::string error;
    const int32_t read = ReadRenameList(Text16(dir() / "in.csv"), run, &error, nullptr,
                                        c.clues == kNone ? nullptr : &clues);
    if (c.name.empty()) {
      EXPECT_EQ(read, 0);
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    } else {
      ASSERT_EQ(read, 1) << error;
      const FileEntry& e = run.EntryTable[1];
      EXPECT_EQ(U8(e.OldName == u"t.mp3" ? e.NewName : e.OldName), U8(c.name));
    }
  }
}

TEST_F(RenameListTest, ReadsAListWrittenOnWindowsInCodePage932) {
  std::string text = std::string(kBlankRecord) +
                     "\"1\",\"C:\\\\\",\"\x8B\xC8.mp3\",\"C:\\\\\",\"\xB7\xAE\xB8.mp3\","
                     "\"\",\"\",\"\",\"\",\"\",\"\",\"1\",\"0\",\"1\"\r\n";
  WriteBytes(dir() / "in.csv", text);
  RunState run;
  ASSERT_EQ(ReadRenameList(Text16(dir() / "in.csv"), run), 1);
  ASSERT_EQ(run.EntryTable.size(), 2u);
  EXPECT_EQ(U8(run.EntryTable[1].OldName), U8(u"曲.mp3"));
  EXPECT_EQ(U8(run.EntryTable[1].NewName), U8(u"ｷｮｸ.mp3"));
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// Code page 932 bytes that are valid UTF-8 too ("ﾃｽ" is C3 BD): such a list
// must still read back as written.
TEST_F(RenameListTest, AListWhoseCodePage932BytesLookLikeUtf8ReadsBackAsWritten) {
  struct {
    const char* label;
    std::u16string old_name, new_name;
  } kCases[] = {
      {"half-width kana pairs", u"ﾃｽ.MP3", u"ﾃｽ.mp3"},
      {"a control character", u"a\x1A.mp3", u"a.mp3"},
      {"plain ASCII", u"a.mp3", u"b.mp3"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ResetEntryTable(run_);
    FileEntry& f = Add(c.old_name, c.new_name, 1);
    f.OldTitle = u"ﾃｽﾄ";
    ASSERT_EQ(WriteRenameList(app_, run_), 1);
    RunState back;
    ASSERT_EQ(ReadRenameList(Text16(data_ / "list.csv"), back), 1);
    ASSERT_EQ(back.EntryTable.size(), 2u);
    EXPECT_EQ(U8(back.EntryTable[1].OldName), U8(c.old_name));
    EXPECT_EQ(U8(back.EntryTable[1].NewName), U8(c.new_name));
    EXPECT_EQ(U8(back.EntryTable[1].OldTitle), "ﾃｽﾄ");
  }
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// The list as one text encoded at once, as the list was built before it was
// written in pieces: the pieces must add up to exactly these bytes.
std::string WholeListBytes(const RunState& run, bool cp932) {
  std::u16string text;
  const std::u16string_view blank[kRenameListColumns] = {};
  AppendCSVRecord(text, blank, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote);
  for (int32_t i = 1; i <= run.EntryCount; ++i) {
    const FileEntry& e = run.EntryTable[static_cast<size_t>(i)];
    const std::u16string n = DecimalText(i), r = DecimalText(e.RenameFlag),
                         t = DecimalText(e.TagFlag), f = DecimalText(e.IsFile);
    const std::u16string_view fields[kRenameListColumns] = {
        n,          e.OldPath,  e.OldName,   e.NewPath,  e.NewName, e.OldTitle, e.OldArtist,
        e.OldAlbum, e.NewTitle, e.NewArtist, e.NewAlbum, r,         t,          f};
    AppendCSVRecord(text, fields, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote);
  }
  return cp932 ? EncodeCp932(text) : "\xEF\xBB\xBF" + Utf16ToUtf8(text);
}

// The record as its documented lines, written out one by one.
std::string WholeRecordBytes(const UndoRecord& record, const std::string& list) {
  char line[512];
  std::snprintf(line, sizeof line, "tarvel-undo 2\nlist %zu %016llx\nrows %zu\n", list.size(),
                static_cast<unsigned long long>(ListBytesHash(list)), record.rows.size());
  std::string out = line;
  for (const auto& [row, e] : record.rows) {
    std::string tag = !e.has_block ? "-" : !e.had_tag ? "notag" : "";
    for (unsigned char c : e.block) {
      std::snprintf(line, sizeof line, "%02x", c);
      tag += line;
    }
    std::snprintf(line, sizeof line, "%zu %c %llu %llu %c %o %llu - - %s -\n", row,
                  e.is_file ? 'f' : 'd', static_cast<unsigned long long>(e.dev),
                  static_cast<unsigned long long>(e.ino), e.inode_kept ? 'k' : 'v', e.mode,
                  static_cast<unsigned long long>(e.size), tag.c_str());
    out += line;
  }
  return out + "folders 0\nend\n";
}

// `rows` rows named after `stem`, every third a folder, and a record of
// every row that changes with each kind of tag entry in turn (or, with
// `all_tags`, with a tag block for every row).
UndoRecord FillRun(RunState& run, const std::u16string& folder, std::u16string_view stem, int rows,
                   bool all_tags = false) {
  ResetEntryTable(run);
  UndoRecord record;
  for (int i = 1; i <= rows; ++i) {
    const std::u16string n = DecimalText(i);
    FileEntry& e = AddEntry(run, folder, std::u16string(stem) + n + u".mp3", i % 3 != 0);
    e.NewName = u"ﾆｭｰ" + n + u".mp3";
    e.RenameFlag = i % 5 != 0;
    e.TagFlag = i % 2;
    e.OldTitle = std::u16string(stem) + u"\"題\"," + n;
    e.NewArtist = u"ｱｰﾃｨｽﾄ\r\n" + n;
    if (e.RenameFlag == 0 && e.TagFlag == 0) continue;
    const bool tagged = all_tags || i % 4 == 1;
    const std::string block = tagged ? "TAG" + std::string(125, static_cast<char>(i)) : "";
    record.rows[static_cast<size_t>(i)] = Entry(e.IsFile == 1, 2049, 1000u + i, 0644u - (i % 7),
                                                4096u + i, tagged || i % 4 != 0, tagged, block);
  }
  return record;
}

TEST_F(RenameListTest, WrittenInPiecesTheListAndRecordAreTheWholeBytes) {
  struct {
    const char* label;
    std::u16string stem;
    int rows;  // 4,000 rows are about 1 MB: several buffers and chunks
    bool cp932;
  } kCases[] = {
      {"code page 932, a few rows", u"曲ﾃｽﾄ", 7, true},
      {"UTF-8, a few rows", u"夢〜", 7, false},
      {"code page 932, many buffers", u"長い名前の曲ファイル", 4000, true},
      {"UTF-8, many buffers", u"𝄞〜한", 4000, false},
      // Read back in pieces of 1 MB, some ending inside a quoted line end.
      {"code page 932, several pieces", u"長い名前の曲ファイル", 12000, true},
      {"UTF-8, several pieces", u"𝄞〜한", 12000, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const UndoRecord undo = FillRun(run_, Text16(data_) + u"/", c.stem, c.rows);
    ASSERT_EQ(WriteRenameList(app_, run_, nullptr, nullptr, &undo), 1);
    const std::string list = ReadBytes(data_ / "list.csv");
    EXPECT_EQ(!list.starts_with("\xEF\xBB\xBF"), c.cp932);
    // Compared whole first would print megabytes on a failure.
    const std::string expected = WholeListBytes(run_, c.cp932);
    ASSERT_EQ(list.size(), expected.size());
    EXPECT_TRUE(list == expected);
    const std::string record = ReadBytes(UndoRecordPath(data_ / "list.csv"));
    const std::string expected_record = WholeRecordBytes(undo, list);
    ASSERT_EQ(record.size(), expected_record.size());
    EXPECT_TRUE(record == expected_record);
    EXPECT_TRUE(FormatUndoRecord(undo, list.size(), ListBytesHash(list)) == expected_record);
    // Read back a piece at a time, lines running over the pieces' ends.
    const std::optional<UndoRecord> undo_back =
        ReadUndoRecordFor(data_ / "list.csv", list, nullptr);
    ASSERT_TRUE(undo_back);
    EXPECT_TRUE(FormatUndoRecord(*undo_back) == record);
    RunState back;
    ASSERT_EQ(ReadRenameList(Text16(data_ / "list.csv"), back), 1);
    ASSERT_EQ(back.EntryTable.size(), run_.EntryTable.size());
    back.EntryCount = run_.EntryCount;  // the reader leaves the counters alone
    EXPECT_TRUE(WholeListBytes(back, c.cp932) == list);
  }
}

// A write that fails part way (the file size limit stands in for a full
// disk, and works for any user) leaves the previous list and record exactly
// as they were, with no temporary file beside them.
// A list is read a megabyte at a time, each piece ending after a line
// feed. A field longer than that whose line breaks are each followed by a
// two-byte character reads back whole; a list cut short inside a long field
// without line breaks is refused.
TEST_F(RenameListTest, AFieldLongerThanAPieceReadsBackWhole) {
  std::u16string lines, run_on;
  for (int i = 0; i < 300000; ++i) lines += u"\r\n歌";
  for (int i = 0; i < 600000; ++i) run_on += u"歌";
  struct {
    const char* label;
    const std::u16string& title;
    size_t cut;  // bytes cut from the end
    const char* error;
  } kCases[] = {
      {"line breaks, whole", lines, 0, ""},
      {"no line break, cut short", run_on, 2, "cut short"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ResetEntryTable(run_);
    Add(u"a.mp3", u"b.mp3", 1).OldTitle = c.title;
    ASSERT_EQ(WriteRenameList(app_, run_), 1);
    const std::string bytes = ReadBytes(data_ / "list.csv");
    ASSERT_GT(bytes.size(), size_t{1} << 20);
    WriteBytes(data_ / "list.csv", bytes.substr(0, bytes.size() - c.cut));
    RunState back;
    std::string error;
    const int32_t read = ReadRenameList(Text16(data_ / "list.csv"), back, &error);
    EXPECT_EQ(read, *c.error == 0 ? 1 : 0);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    if (read == 1) {
      EXPECT_TRUE(back.EntryTable[1].OldTitle == c.title);
    }
  }
}

TEST_F(RenameListTest, AWriteThatFailsPartWayChangesNeitherFile) {
  const std::u16string folder = Text16(data_) + u"/";
  // Short names and many tags: the record is larger than the list.
  const UndoRecord old_undo = FillRun(run_, folder, u"旧", 3);
  ASSERT_EQ(WriteRenameList(app_, run_, nullptr, nullptr, &old_undo), 1);
  const std::string old_list = ReadBytes(data_ / "list.csv");
  const std::string old_record = ReadBytes(UndoRecordPath(data_ / "list.csv"));
  const UndoRecord undo = FillRun(run_, folder, u"", 3000, true);
  const size_t list_size = WholeListBytes(run_, true).size();
  const size_t record_size = WholeRecordBytes(undo, WholeListBytes(run_, true)).size();
  ASSERT_LT(list_size, record_size);
  struct {
    const char* label;
    rlim_t limit;
    const char* error;  // what the message says
  } kCases[] = {
      {"in the list's first buffer", 4000, "list.csv: cannot write"},
      {"in the list, after some buffers", list_size - 1000, "list.csv: cannot write"},
      {"in the record", (list_size + record_size) / 2, "list.csv.undo: cannot write"},
  };
  // Once over the old list and its record, once where there was none.
  for (const bool had_list : {true, false}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(std::string(c.label) + (had_list ? ", over the old list" : ", no list before"));
      if (!had_list) {
        std::filesystem::remove(data_ / "list.csv");
        std::filesystem::remove(UndoRecordPath(data_ / "list.csv"));
      }
      pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        // The limit makes a write past it fail with EFBIG instead of a signal.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{c.limit, c.limit};
        std::string error;
        int code = ::setrlimit(RLIMIT_FSIZE, &limit) != 0                     ? 2
                   : WriteRenameList(app_, run_, nullptr, &error, &undo) != 0 ? 3
                   : error.find(c.error) == std::string::npos                 ? 4
                                                                              : 0;
        ::_exit(code);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0);
      std::vector<std::string> left;
      for (const auto& entry : std::filesystem::directory_iterator(data_)) {
        left.push_back(entry.path().filename().native());
      }
      std::sort(left.begin(), left.end());
      if (!had_list) {
        EXPECT_TRUE(left.empty()) << left[0];
        continue;
      }
      EXPECT_TRUE(ReadBytes(data_ / "list.csv") == old_list);
      EXPECT_TRUE(ReadBytes(UndoRecordPath(data_ / "list.csv")) == old_record);
      EXPECT_EQ(left, (std::vector<std::string>{"list.csv", "list.csv.undo"}));
    }
  }
}

// A list or record larger than a restore reads (2 GB, some six million
// files) is not written: the run would otherwise change files that no
// restore could bring back. The limit is taken at its edges.
TEST_F(RenameListTest, AListOrRecordLargerThanARestoreReadsIsNotWritten) {
  const std::u16string folder = Text16(data_) + u"/";
  const UndoRecord old_undo = FillRun(run_, folder, u"旧", 3);
  ASSERT_EQ(WriteRenameList(app_, run_, nullptr, nullptr, &old_undo), 1);
  const std::string old_list = ReadBytes(data_ / "list.csv");
  const UndoRecord undo = FillRun(run_, folder, u"", 300, true);
  const std::string list = WholeListBytes(run_, true);
  const size_t record_size = WholeRecordBytes(undo, list).size();
  ASSERT_LT(list.size(), record_size);
  struct {
    const char* label;
    size_t limit;
    const char* error;  // empty: written
  } kCases[] = {
      {"the list one byte over", list.size() - 1, "the list would be larger"},
      {"the record one byte over", record_size - 1, "the undo record would be larger"},
      {"both exactly at the limit", record_size, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::string error;
    const int32_t written = WriteRenameList(app_, run_, nullptr, &error, &undo, {}, c.limit);
    EXPECT_EQ(written, *c.error == 0 ? 1 : 0);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_TRUE(ReadBytes(data_ / "list.csv") == (*c.error == 0 ? list : old_list));
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(data_)) {
      files += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 2u);  // the list and its record, no temporary file
  }
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// Two runs on two libraries that share the program's list folder: the
// second reaches the list while the first holds the folder, between keeping
// the list before it and putting its own in place. It must wait there, and
// every list that records changes must end up current or in the history.
TEST_F(RenameListTest, TwoWritersOfTheSharedListFolderKeepEveryList) {
  struct {
    const char* label;
    bool second_changes;  // false: the second run only checks
  } kCases[] = {
      {"both runs change their libraries", true},
      {"the second run only checks", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(app_.folder.list_dir);
    std::filesystem::remove_all(app_.folder.history_dir);
    app_.settings.FlagPathSaveCSV = 0;
    const UndoRecord undo0 = FillRun(run_, Text16(data_) + u"/", u"前", 3);
    ASSERT_EQ(WriteRenameList(app_, run_, nullptr, nullptr, &undo0), 1);
    const std::filesystem::path list = app_.folder.list_dir / "list.csv";
    const std::string list0 = ReadBytes(list);

    AppState other = app_;
    RecordingFrontEnd other_ui;
    other.ui = &other_ui;
    other.settings.PathDataFolder = Text16(dir() / "other");
    RunState second;
    const UndoRecord undo2 = FillRun(second, Text16(dir() / "other") + u"/", u"二", 4);
    if (!c.second_changes) {
      for (FileEntry& e : second.EntryTable) e.RenameFlag = e.TagFlag = 0;
    }
    const UndoRecord undo1 = FillRun(run_, Text16(data_) + u"/", u"一", 5);
    std::atomic<bool> second_done = false;
    std::thread writer;
    auto start_second = [&] {
      writer = std::thread([&] {
        EXPECT_EQ(WriteRenameList(other, second, nullptr, nullptr, &undo2), 1);
        second_done = true;
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_FALSE(second_done) << "the second writer did not wait for the first";
    };
    ASSERT_EQ(WriteRenameList(app_, run_, nullptr, nullptr, &undo1, start_second), 1);
    writer.join();
    const std::string list1 = WholeListBytes(run_, true);
    const std::string list2 = WholeListBytes(second, true);
    EXPECT_TRUE(ReadBytes(list) == list2);
    std::vector<std::string> kept;
    for (const HistoryEntry& e : ListHistory(app_.folder)) kept.push_back(ReadBytes(e.list));
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_TRUE(kept[0] == list0);
    EXPECT_TRUE(kept[1] == list1);
    // Each list kept with its own record.
    for (const HistoryEntry& e : ListHistory(app_.folder)) {
      EXPECT_TRUE(ReadUndoRecordFor(e.list, ReadBytes(e.list), nullptr));
    }
  }
}

}  // namespace
}  // namespace tarvel
