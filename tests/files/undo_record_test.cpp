#include "files/undo_record.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "files/id3_tag.h"
#include "files/undo_entry_support.h"
#include "platform/text.h"
#include "platform/two_threads.h"
#include "support/exfat_volume.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using ::tarvel::testing::Entry;

namespace fs = std::filesystem;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::WriteBytes;

std::string TagBlock(char fill) {
  std::string block = "TAG";
  block.append(125, fill);
  return block;
}

UndoRecord Sample() {
  UndoRecord r;
  r.list_size = 42;
  r.list_hash = ListBytesHash("list bytes");
  r.rows[1] = Entry(false, 64769, 12, 0755, 0, false, false, {});
  r.rows[2] = Entry(true, 64769, 13, 0444, 300, true, true, TagBlock('\0'));
  r.rows[7] = Entry(true, 64769, 14, 0644, 172, true, false, {});
  r.rows[9] = Entry(true, 64769, 15, 0600, 99, false, false, {});
  UndoEntry& tagged = r.rows[2];
  tagged.inode_kept = false;
  tagged.has_mtime = true;
  tagged.mtime = FileTime{-12, 999999999};
  tagged.has_last = true;
  tagged.last_hash = 0x0123456789abcdefull;
  tagged.has_after = true;
  tagged.after_hash = 0xfedcba9876543210ull;
  r.rows[9].has_mtime = true;
  r.rows[9].mtime = FileTime{1700000000, 5};
  r.folder_times = {{1, FileTime{1600000000, 123456789}}, {7, FileTime{0, 0}}};
  return r;
}

void ExpectSame(const UndoRecord& a, const UndoRecord& b) {
  EXPECT_EQ(a.list_size, b.list_size);
  EXPECT_EQ(a.list_hash, b.list_hash);
  ASSERT_EQ(a.rows.size(), b.rows.size());
  for (const auto& [row, e] : a.rows) {
    ASSERT_TRUE(b.rows.count(row)) << row;
    const UndoEntry& f = b.rows.at(row);
    EXPECT_EQ(e.is_file, f.is_file);
    EXPECT_EQ(e.dev, f.dev);
    EXPECT_EQ(e.ino, f.ino);
    EXPECT_EQ(e.inode_kept, f.inode_kept);
    EXPECT_EQ(e.mode, f.mode);
    EXPECT_EQ(e.size, f.size);
    EXPECT_EQ(e.has_mtime, f.has_mtime);
    EXPECT_EQ(e.mtime, f.mtime);
    EXPECT_EQ(e.has_last, f.has_last);
    EXPECT_EQ(e.last_hash, f.last_hash);
    EXPECT_EQ(e.has_after, f.has_after);
    EXPECT_EQ(e.after_hash, f.after_hash);
    EXPECT_EQ(e.has_block, f.has_block);
    EXPECT_EQ(e.had_tag, f.had_tag);
    EXPECT_EQ(e.block, f.block);
  }
  EXPECT_EQ(a.folder_times, b.folder_times);
}

TEST(UndoRecordTest, FormatReadsBackTheSame) {
  UndoRecord one = Sample();
  one.rows = {{2, Sample().rows.at(2)}};
  one.folder_times.resize(1);
  const struct {
    const char* what;
    UndoRecord record;
  } kCases[] = {
      {"rows of each kind, two folders", Sample()},
      {"one row, one folder", one},
      {"nothing", UndoRecord{}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::optional<UndoRecord> back = ParseUndoRecord(FormatUndoRecord(c.record));
    ASSERT_TRUE(back);
    ExpectSame(c.record, *back);
  }
}

// The bytes of a record are read by other versions of this program: every
// field's spelling (octal modes, decimal sizes, signed seconds and nine
// digits of nanoseconds, hex hashes and tag bytes, the header's list size
// and hash) stays as it is.
TEST(UndoRecordTest, FormatWritesTheFixedSpelling) {
  std::string tag = "TAG";
  tag.append("\x00\x01\x7f\x80\xff", 5);
  tag.append(120, 'a');
  std::string tag_hex = "54414700017f80ff";
  for (int i = 0; i < 120; ++i) tag_hex += "61";
  UndoRecord every{123456789,
                   0xfedcba9876543210ull,
                   {{1, Entry(false, 64769, 12, 0755, 0, false, false, {})},
                    {2, Entry(true, 18446744073709551615ull, 13, 04444, 300, true, true, tag)},
                    {7, Entry(true, 1, 14, 0, 172, true, false, {})},
                    {100000, Entry(true, 0, 0, 07777, 99, false, false, {})}},
                   {{1, FileTime{-1, 5}}, {7, FileTime{1700000000, 123000000}}}};
  UndoEntry& second = every.rows.at(2);
  second.inode_kept = false;
  second.has_mtime = true;
  second.mtime = FileTime{1234567890, 1};
  second.has_last = second.has_after = true;
  second.last_hash = 0xabc;
  second.after_hash = 0xfedcba9876543210ull;
  struct {
    const char* name;
    UndoRecord record;
    std::string bytes;
  } const cases[] = {
      {"no rows", UndoRecord{0, 0, {}, {}},
       "tarvel-undo 2\nlist 0 0000000000000000\nrows 0\nfolders 0\nend\n"},
      {"every kind of row", every,
       "tarvel-undo 2\nlist 123456789 fedcba9876543210\nrows 4\n"
       "1 d 64769 12 k 755 0 - - - -\n"
       "2 f 18446744073709551615 13 v 4444 300 1234567890.000000001 0000000000000abc " +
           tag_hex +
           " fedcba9876543210\n"
           "7 f 1 14 k 0 172 - - notag -\n"
           "100000 f 0 0 k 7777 99 - - - -\n"
           "folders 2\n"
           "1 -1.000000005\n"
           "7 1700000000.123000000\n"
           "end\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatUndoRecord(c.record), c.bytes);
    std::optional<UndoRecord> back = ParseUndoRecord(c.bytes);
    ASSERT_TRUE(back);
    ExpectSame(c.record, *back);
  }
}

// Records written before times and hashes were kept still serve: their
// entries go by inode numbers, as they did.
TEST(UndoRecordTest, FirstVersionRecordsAreStillRead) {
  std::string tag_hex = "544147";
  for (int i = 0; i < 125; ++i) tag_hex += "62";
  struct {
    const char* name;
    std::string bytes;
    size_t rows;
  } const cases[] = {
      {"no rows", "tarvel-undo 1\nlist 0 0000000000000000\nrows 0\nend\n", 0},
      {"rows of each kind",
       "tarvel-undo 1\nlist 5 00000000000000ff\nrows 3\n"
       "1 d 64769 12 755 0 -\n"
       "2 f 64769 13 444 300 " +
           tag_hex +
           "\n"
           "7 f 1 14 0 172 notag\n"
           "end\n",
       3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<UndoRecord> back = ParseUndoRecord(c.bytes);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->rows.size(), c.rows);
    EXPECT_TRUE(back->folder_times.empty());
    for (const auto& [row, e] : back->rows) {
      EXPECT_TRUE(e.inode_kept) << row;
      EXPECT_FALSE(e.has_mtime || e.has_last || e.has_after) << row;
    }
    if (c.rows == 0) continue;
    EXPECT_EQ(back->rows.at(2).mode, 0444u);
    EXPECT_EQ(back->rows.at(2).block.view(), "TAG" + std::string(125, 'b'));
    EXPECT_TRUE(back->rows.at(7).has_block);
    EXPECT_FALSE(back->rows.at(7).had_tag);
  }
}

TEST(UndoRecordTest, BrokenRecordsAreRefused) {
  const std::string good = FormatUndoRecord(Sample());
  auto replace = [&](std::string_view from, std::string_view to) {
    std::string s = good;
    size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return s.replace(at, from.size(), to);
  };
  const struct {
    const char* what;
    std::string bytes;
  } kCases[] = {
      {"cut short", good.substr(0, good.size() - 10)},
      {"without its end line", good.substr(0, good.size() - 4)},
      {"a line after its end line", good + "end\n"},
      {"another magic", replace("tarvel-undo 2", "tarvel-undo 3")},
      {"a first-version row in a second-version record", replace(" k 755 0 - - - -", " 755 0 -")},
      {"neither k nor v", replace(" v 444", " x 444")},
      {"a time without nine digits", replace("-12.999999999", "-12.99")},
      {"nanoseconds beyond a second", replace("1700000000.000000005", "1700000000.1000000005")},
      {"a hash of 15 digits", replace("0123456789abcdef", "123456789abcdef")},
      {"a folder count that does not fit", replace("folders 2", "folders 3")},
      {"folder times out of order", replace("\n7 0.000000000", "\n1 0.000000000")},
      {"without the folders line", replace("folders 2\n", "")},
      {"a row count that does not fit", replace("rows 4", "rows 5")},
      {"more rows than the record's rows and folders", replace("rows 4", "rows 9")},
      {"more rows than the record has lines", replace("rows 4", "rows 99")},
      {"a count with a letter after it", replace("rows 4", "rows 4x")},
      {"a list size left out", replace("list 42 ", "list  ")},
      {"a mode beyond 07777", replace(" 444 ", " 17777 ")},
      {"a tag block that is not hex", replace("54414700", "5441470g")},
      {"a tag block without TAG", replace("544147", "544146")},
      {"a stray pair after a tag block",
       replace("544147" + std::string(250, '0'), "544147" + std::string(250, '0') + "zz")},
      {"a kind that is neither f nor d", replace("7 f", "7 x")},
      {"a row given twice", replace("\n9 f", "\n7 f")},
      {"rows out of order", replace("\n2 f", "\n8 f")},
      {"rows out of order at the end", replace("\n9 f", "\n3 f")},
      {"a tag in a file shorter than a tag", replace(" 300 ", " 100 ")},
      {"empty", ""},
      {"a first-version record under an unknown magic",
       "tarvel-undo 0\nlist 0 0000000000000000\nrows 0\nend\n"},
  };
  for (const auto& c : kCases) {
    EXPECT_FALSE(ParseUndoRecord(c.bytes)) << c.what;
  }
}

class UndoRecordFileTest : public TempDirTest {};

TEST_F(UndoRecordFileTest, ARecordIsUsedOnlyWithItsOwnList) {
  const fs::path list = dir() / "list.csv";
  UndoRecord r = Sample();
  r.list_size = 10;
  r.list_hash = ListBytesHash("0123456789");
  WriteBytes(UndoRecordPath(list), FormatUndoRecord(r));
  std::string notice;
  EXPECT_TRUE(ReadUndoRecordFor(list, "0123456789", &notice)) << notice;
  EXPECT_FALSE(ReadUndoRecordFor(list, "0123456780", &notice));
  EXPECT_NE(notice.find("another list"), std::string::npos);
  WriteBytes(UndoRecordPath(list), "tarvel-undo 1\nlist");
  EXPECT_FALSE(ReadUndoRecordFor(list, "0123456789", &notice));
  EXPECT_NE(notice.find("not a whole undo record"), std::string::npos);
  notice.clear();
  fs::remove(UndoRecordPath(list));
  EXPECT_FALSE(ReadUndoRecordFor(list, "0123456789", &notice));
  EXPECT_EQ(notice, "");
  fs::create_directory(UndoRecordPath(list));  // there, but not readable as a file
  EXPECT_FALSE(ReadUndoRecordFor(list, "0123456789", &notice));
  EXPECT_NE(notice, "");
}

TEST_F(UndoRecordFileTest, CaptureKeepsTagBlocksSizesModesAndIdentity) {
  const std::string audio(200, 'a');
  const std::string tag = TagBlock(' ');
  WriteBytes(dir() / "tagged.mp3", audio + tag);
  WriteBytes(dir() / "bare.mp3", audio);
  ::chmod((dir() / "bare.mp3").c_str(), 0444);
  fs::create_directory(dir() / "folder");
  ::chmod((dir() / "folder").c_str(), 0710);
  fs::create_symlink("tagged.mp3", dir() / "link.mp3");
  WriteBytes(dir() / "renamed.mp3", audio);
  RunState run;
  const std::u16string folder = *Utf8ToUtf16(dir().native()) + u"/";
  auto add = [&](std::u16string_view name, int32_t is_file, int32_t rename, int32_t tag_flag) {
    FileEntry& e = AddEntry(run, folder, name, is_file);
    e.RenameFlag = rename;
    e.TagFlag = tag_flag;
  };
  add(u"tagged.mp3", 1, 0, 1);
  add(u"bare.mp3", 1, 1, 1);
  add(u"folder", 0, 1, 0);
  add(u"link.mp3", 1, 0, 1);  // a link is never looked through
  add(u"unflagged.mp3", 1, 0, 0);
  add(u"gone.mp3", 1, 1, 0);  // nothing on disk: nothing to keep
  add(u"renamed.mp3", 1, 1, 0);
  UndoRecord r = CaptureUndoRecord(run);
  ASSERT_EQ(r.rows.size(), 4u);
  struct stat st;
  ASSERT_EQ(::stat((dir() / "tagged.mp3").c_str(), &st), 0);
  EXPECT_EQ(r.rows[1].ino, st.st_ino);
  EXPECT_TRUE(r.rows[1].had_tag);
  EXPECT_EQ(r.rows[1].block, tag);
  EXPECT_EQ(r.rows[1].size, 328u);
  // Each tag write is known by the block it leaves, as a restore checks.
  for (size_t row : {1, 2}) {
    EXPECT_TRUE(r.rows[row].has_after) << row;
    EXPECT_EQ(r.rows[row].after_hash, UpdatedBlockHash(r.rows[row], u"", u"", u"")) << row;
  }
  EXPECT_TRUE(r.rows[2].has_block);
  EXPECT_FALSE(r.rows[2].had_tag);
  EXPECT_EQ(r.rows[2].size, 200u);
  EXPECT_EQ(r.rows[2].mode, 0444u);
  EXPECT_FALSE(r.rows[3].is_file);
  EXPECT_FALSE(r.rows[3].has_block);
  EXPECT_EQ(r.rows[3].dev, st.st_dev);
  EXPECT_EQ(r.rows[3].mode, 0710u);
  // A folder and a file the run only renames: their size (none for a
  // folder) and time, without their bytes.
  const struct {
    size_t row;
    const char* name;
    uint64_t size;
  } kRenamedOnly[] = {{3, "folder", 0}, {7, "renamed.mp3", 200}};
  for (const auto& c : kRenamedOnly) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(::stat((dir() / c.name).c_str(), &st), 0);
    const UndoEntry& e = r.rows[c.row];
    EXPECT_EQ(e.ino, st.st_ino);
    EXPECT_EQ(e.size, c.size);
    EXPECT_TRUE(e.has_mtime);
    EXPECT_EQ(e.mtime.sec, st.st_mtim.tv_sec);
    EXPECT_EQ(e.mtime.nsec, st.st_mtim.tv_nsec);
    EXPECT_FALSE(e.has_block);
  }
  // The folder the run renames in gets its time, once, by its first renamed row.
  ASSERT_EQ(r.folder_times.size(), 1u);
  EXPECT_EQ(r.folder_times[0].row, 2u);
}

// On a stick inode numbers are handed out afresh at each mount: the record
// says so, and a restore goes by the bytes instead.
TEST_F(UndoRecordFileTest, CaptureOnAStickSaysInodeNumbersAreNotKept) {
  testing::ExfatVolume stick;
  if (!stick.ok()) GTEST_SKIP() << stick.why();
  WriteBytes(stick.path() / "a.mp3", std::string(200, 'a'));
  RunState run;
  FileEntry& e = AddEntry(run, *Utf8ToUtf16(stick.path().native()) + u"/", u"a.mp3", 1);
  e.RenameFlag = 1;
  UndoRecord r = CaptureUndoRecord(run);
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_FALSE(r.rows[1].inode_kept);
}

// A large run takes the scan's entries over: those of rows it changes stay,
// in row order and each with its own entry, those of rows it leaves alone go,
// and rows the scan kept nothing of (folders, an entry of the wrong kind) are
// looked at on disk and come in among them. Every tag the run writes has
// the hash of the block it leaves (made on two threads at this size).
TEST_F(UndoRecordFileTest, CaptureTakesOverTheScansEntriesOfChangedRowsOnly) {
  RunState run;
  const std::u16string folder = *Utf8ToUtf16(dir().native()) + u"/";
  const std::string tag = TagBlock('s');
  std::vector<size_t> expected;
  for (size_t i = 1; i <= 4500; ++i) {
    const bool is_folder = i % 97 == 0;
    const std::u16string name = u"item" + *Utf8ToUtf16(std::to_string(i));
    if (is_folder) fs::create_directory(dir() / ("item" + std::to_string(i)));
    FileEntry& e = AddEntry(run, folder, name, is_folder ? 0 : 1);
    e.RenameFlag = i % 3 == 0;
    e.TagFlag = !is_folder && i % 5 == 0;
    const bool changed = e.RenameFlag == 1 || e.TagFlag == 1;
    // Row 600 was seen as a folder, though the row is a file that is gone:
    // its entry is not taken, and nothing on disk replaces it.
    if (!is_folder) {
      DiskEntry seen = Entry(i != 600, 7, i * 10 + 1, 0644, 500 + i, true, i % 2 == 0, {});
      if (seen.had_tag) seen.block = tag;
      run.FoundOnDisk.append(i, std::move(seen));
    }
    if (changed && i != 600) expected.push_back(i);
  }
  const UndoRecord r = CaptureUndoRecord(run);
  EXPECT_TRUE(run.FoundOnDisk.empty());
  std::vector<size_t> rows;
  for (const auto& [row, e] : r.rows) {
    SCOPED_TRACE(row);
    rows.push_back(row);
    const FileEntry& f = run.EntryTable[row];
    if (f.IsFile == 0) {
      EXPECT_FALSE(e.is_file);
      continue;
    }
    EXPECT_EQ(e.ino, row * 10 + 1);
    EXPECT_EQ(e.size, 500 + row);
    // Only a row whose tag is written keeps the scan's block.
    EXPECT_EQ(e.has_block, f.TagFlag == 1);
    EXPECT_EQ(e.had_tag, f.TagFlag == 1 && row % 2 == 0);
    EXPECT_EQ(e.block, e.had_tag ? tag : std::string());
    EXPECT_EQ(e.has_after, f.TagFlag == 1);
    if (e.has_after) {
      EXPECT_EQ(e.after_hash, UpdatedBlockHash(e, u"", u"", u""));
    }
  }
  EXPECT_GT(rows.size(), kItemsForASecondThread);
  EXPECT_EQ(rows, expected);
}

TEST_F(UndoRecordFileTest, RestoreID3BlockPutsBackTheTagStateOnlyWhereItFits) {
  const std::string audio(200, 'a');
  const std::string old_tag = TagBlock('\0');
  const std::string new_tag = TagBlock('x');
  const struct {
    const char* what;
    std::string now;
    uint64_t size;
    bool had_tag;
    uint32_t mode;
    std::string expected;
    int32_t result;
  } kCases[] = {
      {"an overwritten tag gets its old bytes", audio + new_tag, 328, true, 0444, audio + old_tag,
       1},
      {"an appended tag is cut off", audio + new_tag, 200, false, 0640, audio, 1},
      {"a tag already as it was", audio + old_tag, 328, true, 0644, audio + old_tag, 1},
      {"a file that never got its tag", audio, 200, false, 0600, audio, 1},
      {"a size changed since the run", audio + "zz" + new_tag, 328, true, 0644,
       audio + "zz" + new_tag, 0},
      {"an appended block that is no tag", audio + std::string(128, 'q'), 200, false, 0644,
       audio + std::string(128, 'q'), 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const fs::path file = dir() / "f.mp3";
    fs::remove(file);
    WriteBytes(file, c.now);
    ::chmod(file.c_str(), 0644);
    EXPECT_EQ(RestoreID3Block(*Utf8ToUtf16(file.native()), c.size, c.had_tag, old_tag, c.mode),
              c.result);
    EXPECT_EQ(testing::ReadBytes(file), c.expected);
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.result == 1 ? c.mode : 0644u);
  }
  // A kept block that is not 128 bytes (a damaged record) is refused.
  const fs::path file = dir() / "f.mp3";
  WriteBytes(file, audio + new_tag);
  EXPECT_EQ(RestoreID3Block(*Utf8ToUtf16(file.native()), 328, true, old_tag.substr(1), 0644), 0);
  EXPECT_EQ(testing::ReadBytes(file), audio + new_tag);
  // A link is never written through.
  WriteBytes(dir() / "target", audio + new_tag);
  fs::create_symlink("target", dir() / "link.mp3");
  EXPECT_EQ(RestoreID3Block(*Utf8ToUtf16((dir() / "link.mp3").native()), 328, true, old_tag, 0644),
            0);
  EXPECT_EQ(testing::ReadBytes(dir() / "target"), audio + new_tag);
}

}  // namespace
}  // namespace tarvel
