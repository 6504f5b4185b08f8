#include "files/run_history.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "files/rename_list_reader.h"
#include "files/undo_record.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

constexpr char kBlank[] = R"("","","","","","","","","","","","","","")"
                          "\r\n";

std::string ListWithFlags(const char* rename, const char* tag) {
  return std::string(kBlank) + R"("1","/m/","a.mp3","/m/","b.mp3","","","","","","",")" + rename +
         R"(",")" + tag + R"(","1")" + "\r\n";
}

class RunHistoryTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    folder_.history_dir = dir() / "history";
    list_ = dir() / "list.csv";
  }
  AppFolder folder_;
  fs::path list_;
};

TEST_F(RunHistoryTest, KeepsOnlyAListThatRecordedAppliedChanges) {
  const struct {
    const char* what;
    std::string list;  // empty: no list at all
    bool kept;
  } kCases[] = {
      {"no list", "", false},
      {"a check-only list", ListWithFlags("0", "0"), false},
      {"a list with a rename", ListWithFlags("1", "0"), true},
      {"a list with a tag", ListWithFlags("0", "1"), true},
      {"a file that is not a list", "junk, with commas\n", true},
  };
  size_t expected = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove(list_);
    if (!c.list.empty()) WriteBytes(list_, c.list);
    WriteBytes(UndoRecordPath(list_), "record of " + std::string(c.what));
    std::string error;
    ASSERT_TRUE(KeepPreviousList(folder_, list_, &error)) << error;
    if (c.kept) ++expected;
    std::vector<HistoryEntry> kept = ListHistory(folder_);
    ASSERT_EQ(kept.size(), expected);
    if (c.kept) {
      // Kept in a folder of its own, never over an earlier one, with its
      // record.
      EXPECT_EQ(ReadBytes(kept.back().list), c.list);
      EXPECT_EQ(ReadBytes(UndoRecordPath(kept.back().list)), "record of " + std::string(c.what));
    }
  }
  std::vector<HistoryEntry> kept = ListHistory(folder_);
  EXPECT_EQ(kept[0].time.size(), 19u);  // the first run kept in a second gets no number
  EXPECT_TRUE(kept[0].readable);
  EXPECT_EQ(kept[0].renames, 1);
  EXPECT_EQ(kept[1].tags, 1);
  EXPECT_EQ(kept[1].folder, u"/m/");
  EXPECT_FALSE(kept[2].readable);
}

TEST_F(RunHistoryTest, KeepingFailsWhenTheHistoryFolderCannotBeMade) {
  WriteBytes(list_, ListWithFlags("1", "0"));
  WriteBytes(dir() / "history", "a file where the history folder should be");
  std::string error;
  EXPECT_FALSE(KeepPreviousList(folder_, list_, &error));
  EXPECT_NE(error.find("cannot keep the previous list"), std::string::npos) << error;
}

// A history folder on a full disk: the list cannot be kept, and the keeping
// says so rather than going on as if it had been.
TEST_F(RunHistoryTest, KeepingFailsOnAFullDisk) {
  const fs::path full = dir() / "full";
  fs::create_directories(full);
  if (::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  }
  const int fill = ::open((full / "fill").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const std::string block(4096, 'x');
  while (fill >= 0 && ::write(fill, block.data(), block.size()) > 0) {
  }
  ::close(fill);
  folder_.history_dir = full / "history";
  WriteBytes(list_, ListWithFlags("1", "0"));
  std::string error;
  const bool kept = KeepPreviousList(folder_, list_, &error);
  ::umount2(full.c_str(), MNT_DETACH);
  EXPECT_FALSE(kept);
  EXPECT_NE(error.find("cannot keep the previous list"), std::string::npos) << error;
}

// A row as this program writes it, with the given number and flag fields.
std::string Row(std::string_view number, std::string_view rename, std::string_view tag,
                std::string_view title = "") {
  return "\"" + std::string(number) + R"(","/m/","a.mp3","/m/","b.mp3",")" + std::string(title) +
         R"(","","","","","",")" + std::string(rename) + R"(",")" + std::string(tag) + R"(","1")" +
         "\r\n";
}

// Whether a list is kept is decided reading it a piece at a time; that must
// agree with what the list reader makes of it, except that a list in another
// form than this program writes is kept even when it changes nothing.
TEST_F(RunHistoryTest, KeepsWhatTheListReaderFindsChangingOrUnreadable) {
  std::string many;
  for (int i = 1; i <= 3000; ++i) many += Row(std::to_string(i), "0", "2", "題名のある曲");
  // The list is read 256 KB at a time. A row that is refused in the first
  // piece must end the reading there: what the next piece holds, read on
  // from the middle of that row, could look like the rest of a good list.
  constexpr size_t kPiece = 256 * 1024;
  const std::string blank(kBlank);
  const std::string head = blank + R"("1","/m/","a.mp3","/m/","b.mp3",")";
  const std::string nul_across = head + '\0' + std::string(kPiece + 10 - head.size(), 'x') +
                                 R"(","","","","","","0","0","1")" + "\r\n" + Row("2", "0", "0");
  const std::string flag_tail = R"(","","","","","","1",)";
  const std::string flag_at_end = head + std::string(kPiece - head.size() - flag_tail.size(), 'x') +
                                  flag_tail + R"("0","1")" + "\r\n" + Row("2", "0", "0");
  const std::string kMark = "\xEF\xBB\xBF";
  const struct {
    const char* what;
    std::string list;
    bool kept;
    bool other_form;  // kept although the reader takes it and it changes nothing
  } kCases[] = {
      {"code page 932, nothing changes", kBlank + Row("1", "0", "0", "\x8B\xC8\x5C"), false, false},
      {"UTF-8, nothing changes", kMark + kBlank + Row("1", "0", "0", "夢〜"), false, false},
      {"quotes and line breaks in a field", kBlank + Row("1", "0", "0", "a\"\"\r\n\"\"b,\r\n"),
       false, false},
      {"a flag 10 is not 1", kBlank + Row("1", "10", "0"), false, false},
      {"a flag 01 is 1", kBlank + Row("1", "0", "01"), true, false},
      {"a flag 1 with a letter after it", kBlank + Row("1", "1x", "0"), true, false},
      {"many rows, nothing changes", kBlank + many, false, false},
      {"many rows, the last renames", kBlank + many + Row("3001", "1", "0"), true, false},
      {"a NUL in a field that runs past the first piece", nul_across, true, false},
      {"a renaming row whose flag ends the first piece", flag_at_end, true, false},
      {"marked UTF-8 that is not UTF-8", kMark + kBlank + Row("1", "0", "0", "\x8B\xC8"), true,
       false},
      // Only so much of one record is held while it is checked as UTF-8.
      {"a UTF-8 record over a megabyte",
       kMark + kBlank + Row("1", "0", "0", std::string(1100 * 1000, 'x')), true, true},
      {"a NUL in a field", kBlank + Row("1", "0", "0", std::string("a\0b", 3)), true, false},
      {"a bare LF", kBlank + Row("1", "0", "0").substr(0, 60) + "\n", true, false},
      {"a row of 13 fields",
       std::string(kBlank) + R"("1","/m/","a","/m/","b","","","","","","","0","0")"
                             "\r\n",
       true, false},
      {"an empty flag", kBlank + Row("1", "", "0"), true, false},
      {"no row", std::string(kBlank), true, false},
      {"cut short", kBlank + Row("1", "0", "0").substr(0, 40), true, false},
      {"first record not blank", Row("1", "0", "0") + Row("2", "0", "0"), true, false},
      {"first record holds only a path",
       std::string(R"("","/m/","","","","","","","","","","","","")") + "\r\n" + Row("1", "0", "0"),
       true, false},
      {"UTF-16", std::string("\xFF\xFE\"\0", 4), true, false},
      {"a space before a quoted field", kBlank + Row("1", "0", "0").insert(4, " "), true, true},
      {"a space after a quoted field", kBlank + Row("1", "0", "0").insert(3, " "), true, false},
      {"fields not quoted", ",,,,,,,,,,,,,\r\n1,/m/,a,/m/,b,,,,,,,0,0,1\r\n", true, true},
  };
  size_t kept = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteBytes(list_, c.list);
    RunState read;
    bool changes_nothing = ReadRenameList(Utf8ToUtf16Lossy(list_.native()), read) == 1;
    for (size_t i = 1; i <= LastIndex(read); ++i) {
      if (read.EntryTable[i].RenameFlag == 1 || read.EntryTable[i].TagFlag == 1) {
        changes_nothing = false;
      }
    }
    std::string error;
    ASSERT_TRUE(KeepPreviousList(folder_, list_, &error)) << error;
    const bool was_kept = ListHistory(folder_).size() > kept;
    kept = ListHistory(folder_).size();
    EXPECT_EQ(was_kept, c.kept);
    EXPECT_EQ(was_kept, !changes_nothing || c.other_form);
    if (was_kept) {
      EXPECT_TRUE(ReadBytes(ListHistory(folder_).back().list) == c.list);
    }
  }
}

// Each kept run is listed with the time its folder is named by and what its
// list holds; folders without a list are not runs.
TEST_F(RunHistoryTest, ListsEachKeptRunWithItsTimeAndCounts) {
  const std::string three_rows =
      std::string(kBlank) + R"("1","/m/a/","a.mp3","/m/a/","b.mp3","","","","","","","1","0","1")"
                            "\r\n"
                            R"("2","/m/","a","/m/","b","","","","","","","0","1","0")"
                            "\r\n"
                            R"("3","/m/b/","c.mp3","/m/b/","d.mp3","","","","","","","1","1","1")"
                            "\r\n";
  const struct {
    const char* folder;
    std::string list;
    const char* time;
    bool readable;
    int32_t rows, renames, tags;
    std::u16string_view outermost;
  } kCases[] = {
      {"2026-12-07-140512", ListWithFlags("0", "0"), "2026-12-07-140512", true, 1, 0, 0, u"/m/"},
      {"2026-12-07_1405", ListWithFlags("1", "1"), "2026-12-07_1405", true, 1, 1, 1, u"/m/"},
      {"2026-12-07_140512", three_rows, "2026-12-07 14:05:12", true, 3, 2, 2, u"/m/"},
      {"2026-12-07_140512-2", "junk", "2026-12-07 14:05:12-2", false, 0, 0, 0, u""},
      {"kept\\by hand", ListWithFlags("1", "0"), "kept\\x5Cby hand", true, 1, 1, 0, u"/m/"},
  };
  for (const auto& c : kCases) {
    fs::create_directories(folder_.history_dir / c.folder);
    WriteBytes(folder_.history_dir / c.folder / "list.csv", c.list);
  }
  fs::create_directories(folder_.history_dir / "2026-12-08_000000");  // no list in it
  WriteBytes(folder_.history_dir / "2026-12-09_000000", three_rows);  // a file, not a folder
  const std::vector<HistoryEntry> listed = ListHistory(folder_);
  ASSERT_EQ(listed.size(), std::size(kCases));
  for (size_t i = 0; i < listed.size(); ++i) {
    const auto& c = kCases[i];
    const HistoryEntry& e = listed[i];
    SCOPED_TRACE(c.folder);
    EXPECT_EQ(e.list, folder_.history_dir / c.folder / "list.csv");
    EXPECT_EQ(e.time, c.time);
    EXPECT_EQ(e.readable, c.readable);
    EXPECT_EQ(e.rows, c.rows);
    EXPECT_EQ(e.renames, c.renames);
    EXPECT_EQ(e.tags, c.tags);
    EXPECT_EQ(U8(e.folder), U8(c.outermost));
  }
}

TEST_F(RunHistoryTest, ListsTheKeptRunsOldestFirst) {
  // Made in another order than they were kept, by name; a folder the user
  // copied in the history ("... copy") is no numbered run and goes by name.
  const std::vector<std::string> kKept = {"2026-01-01_000000",    "2026-01-01_000000-2",
                                          "2026-01-01_000000-9",  "2026-01-01_000000-10",
                                          "2026-01-01_000000-11", "2026-01-01_000000 copy",
                                          "2026-01-01_000001"};
  for (size_t i : {3u, 0u, 6u, 5u, 2u, 4u, 1u}) {
    fs::create_directories(folder_.history_dir / kKept[i]);
    WriteBytes(folder_.history_dir / kKept[i] / "list.csv", kKept[i]);
  }
  std::vector<std::string> listed;
  for (const HistoryEntry& e : ListHistory(folder_)) listed.push_back(ReadBytes(e.list));
  EXPECT_EQ(listed, kKept);
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// The listing ends with the current list, marked as such, and marks each
// list a restore was noted for, wherever the list lies now: a list is known
// by its bytes.
TEST_F(RunHistoryTest, ListsTheCurrentListAndMarksTheRunsRestoredFrom) {
  const std::string restored = ListWithFlags("1", "0");
  const std::string untouched = ListWithFlags("0", "1");
  const std::string current = ListWithFlags("1", "1");
  const struct {
    const char* folder;  // empty: the current list
    std::string list;
    bool noted;  // a restore from these bytes was noted
  } kCases[] = {
      {"2026-01-01_000000", restored, true},
      {"2026-01-01_000001", untouched, false},
      {"", current, true},
  };
  const fs::path current_path = dir() / "lists" / "list.csv";
  for (const auto& c : kCases) {
    const fs::path list =
        *c.folder == '\0' ? current_path : folder_.history_dir / c.folder / "list.csv";
    fs::create_directories(list.parent_path());
    WriteBytes(list, c.list);
    std::string error;
    // Noted under another path: the note follows the bytes.
    if (c.noted) {
      ASSERT_TRUE(
          NoteRestore(folder_, c.list.size(), ListBytesHash(c.list), dir() / "elsewhere", &error))
          << error;
    }
  }
  const std::vector<HistoryEntry> listed = ListRuns(folder_, current_path);
  ASSERT_EQ(listed.size(), std::size(kCases));
  for (size_t i = 0; i < listed.size(); ++i) {
    const auto& c = kCases[i];
    SCOPED_TRACE(i);
    EXPECT_TRUE(ReadBytes(listed[i].list) == c.list);
    EXPECT_EQ(listed[i].current, *c.folder == '\0');
    EXPECT_TRUE(listed[i].readable);
    EXPECT_EQ(listed[i].renames, c.list == untouched ? 0 : 1);
    // "YYYY-MM-DD HH:MM:SS", or nothing.
    EXPECT_EQ(listed[i].restored.size(), c.noted ? 19u : 0u) << listed[i].restored;
    EXPECT_EQ(listed[i].time.size(), 19u) << listed[i].time;
  }
  // Without a current list only the kept runs are listed.
  EXPECT_EQ(ListRuns(folder_, dir() / "none" / "list.csv").size(), 2u);
}

TEST_F(RunHistoryTest, NotingARestoreMakesTheHistoryFolder) {
  const std::string list = ListWithFlags("1", "0");
  WriteBytes(list_, list);
  std::string error;
  ASSERT_TRUE(NoteRestore(folder_, list.size(), ListBytesHash(list), list_, &error)) << error;
  const std::vector<HistoryEntry> listed = ListRuns(folder_, list_);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].restored.size(), 19u);
}

// A restore that cannot be noted says so and why; the history is left as it
// was.
TEST_F(RunHistoryTest, ARestoreThatCannotBeNotedSaysWhy) {
  const std::string list = ListWithFlags("1", "0");
  WriteBytes(list_, list);
  fs::create_directories(folder_.history_dir);
  const std::string notes = (folder_.history_dir / "restores").native();
  for (const bool unwritable : {false, true}) {
    SCOPED_TRACE(unwritable ? "history folder unwritable" : "no history folder");
    AppFolder folder = folder_;
    if (!unwritable) folder.history_dir.clear();
    ASSERT_TRUE(!unwritable || testing::SetUnwritable(folder_.history_dir, true));
    std::string error;
    const bool noted = NoteRestore(folder, list.size(), ListBytesHash(list), list_, &error);
    if (unwritable) testing::SetUnwritable(folder_.history_dir, false);
    EXPECT_FALSE(noted);
    EXPECT_TRUE(error.starts_with(unwritable ? "cannot note the restore in " + notes + ": "
                                             : "cannot note the restore: no history folder"))
        << error;
    EXPECT_FALSE(fs::exists(notes));
  }
}

// A record kept in the history is found by the size and hash of its list
// written in its first lines; the newest of several wins.
TEST_F(RunHistoryTest, FindsTheKeptListWhoseRecordBelongsToTheList) {
  const std::string list = ListWithFlags("1", "0");
  char head[64];
  std::snprintf(head, sizeof head, "tarvel-undo 1\nlist %zu %016llx\n", list.size(),
                static_cast<unsigned long long>(ListBytesHash(list)));
  const struct {
    const char* folder;
    std::string record;
  } kCases[] = {
      {"2026-01-01_000000", head + std::string("rows 0\nend\n")},  // older than the next
      // Only the head is read, however long the record.
      {"2026-01-01_000001", head + std::string("rows 0\n") + std::string(3000, '#')},
      {"2026-01-01_000002", "tarvel-undo 1\nlist 1 0000000000000001\n"},
      {"2026-01-01_000003", "not a record\n"},
      {"2026-01-01_000004", "tarvel-undo 1\nlist " + std::to_string(list.size()) + "x" +
                                std::string(head).substr(std::string(head).find(' ', 19))},
      // The same number, but not in the sixteen digits a record writes.
      {"2026-01-01_000005", std::string(head).insert(std::string(head).find(' ', 19) + 1, "0")},
  };
  for (const auto& c : kCases) {
    fs::create_directories(folder_.history_dir / c.folder);
    WriteBytes(folder_.history_dir / c.folder / "list.csv", list);
    WriteBytes(folder_.history_dir / c.folder / "list.csv.undo", c.record);
  }
  std::optional<fs::path> found = FindKeptListWithRecord(folder_, list.size(), ListBytesHash(list));
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, folder_.history_dir / "2026-01-01_000001" / "list.csv");
  EXPECT_FALSE(FindKeptListWithRecord(folder_, list.size() + 1, ListBytesHash(list)));
}

}  // namespace
}  // namespace tarvel
