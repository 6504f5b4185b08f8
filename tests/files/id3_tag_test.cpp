#include "files/id3_tag.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/text.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using ::tarvel::testing::ReadBytes;
using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;

// A field of `width` bytes: `text` followed by `pad` bytes.
std::string Field(std::string_view text, size_t width, char pad = ' ') {
  std::string s(text);
  s.resize(width, pad);
  return s;
}

// A raw 128-byte block; the fields are given as their exact bytes.
std::string Block(std::string_view header, std::string_view title, std::string_view artist = "",
                  std::string_view album = "", std::string_view year = "",
                  std::string_view comment = "", unsigned char genre = 0, char pad = '\0') {
  std::string b = Field(header, 3, pad) + Field(title, 30, pad) + Field(artist, 30, pad) +
                  Field(album, 30, pad) + Field(year, 4, pad) + Field(comment, 30, pad);
  b.push_back(static_cast<char>(genre));
  return b;
}

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// 亜 is 88 9F in code page 932: its second byte lies in the lead-byte range.
const std::string kFifteenA = Repeat("\x88\x9F", 15);
const std::string kAudio(1000, '\xFF');

class ID3TagTest : public TempDirTest {
 protected:
  std::filesystem::path File(const std::string& name, std::string_view bytes) {
    std::filesystem::path p = dir() / name;
    WriteBytes(p, bytes);
    return p;
  }
  static std::u16string Path16(const std::filesystem::path& p) { return *Utf8ToUtf16(p.native()); }
};

TEST_F(ID3TagTest, ReadsFieldsByTheirPaddingAndWidth) {
  struct {
    const char* label;
    std::string title_bytes;
    std::u16string expected;
  } kCases[] = {
      {"nul padded", Field("Song", 30, '\0'), u"Song"},
      {"space padded", Field("Song", 30, ' '), u"Song"},
      {"leading spaces lost", Field("  Song  ", 30, '\0'), u"Song"},
      {"ends at first nul", std::string("ab\0cd", 5), u"ab"},
      {"full width without nul", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123",
       u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"},
      {"code page 932", Field("\x83\x65\x83\x58\x83\x67", 30), u"テスト"},
      {"trail byte 0x5C", Field("\x83\x5C\x83\x6D", 30), u"ソノ"},
      {"half-width kana", Field("\xB1\xB2", 30), u"ｱｲ"},
      {"ideographic space kept", Field("ab\x81\x40", 30), u"ab\u3000"},
      {"half character at the end dropped", std::string(29, 'x') + "\x82",
       std::u16string(29, u'x')},
      {"fifteen two-byte characters", kFifteenA, std::u16string(15, u'亜')},
      {"empty", Field("", 30, '\0'), u""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto path = File("t.mp3", kAudio + Block("TAG", c.title_bytes));
    ID3TagData tag;
    ASSERT_EQ(ReadID3Tag(Path16(path), tag), 1);
    EXPECT_EQ(tag.Title, c.expected) << U8(tag.Title);
  }
}

TEST_F(ID3TagTest, ReadsEveryField) {
  std::string comment = Field("note", 28, '\0') + std::string("\0\x07", 2);  // ID3v1.1 track 7
  auto path =
      File("t.mp3", kAudio + Block("TAG", "Title", "Artist", "Album", "1999", comment, 200, ' '));
  ID3TagData tag;
  ASSERT_EQ(ReadID3Tag(Path16(path), tag), 1);
  EXPECT_EQ(tag.Header, u"TAG");
  EXPECT_EQ(tag.Title, u"Title");
  EXPECT_EQ(tag.Artist, u"Artist");
  EXPECT_EQ(tag.Album, u"Album");
  EXPECT_EQ(tag.Year, u"1999");
  EXPECT_EQ(tag.Comment, u"note");
  EXPECT_EQ(tag.Genre, 200);
}

TEST_F(ID3TagTest, ReadFailures) {
  struct {
    const char* label;
    std::string bytes;
    TagIoError error;
    bool tag_untouched;
  } kCases[] = {
      {"lower-case tag", kAudio + Block("tag", "x"), TagIoError::kNoTag, false},
      {"no tag", std::string(500, 'a'), TagIoError::kNoTag, false},
      {"127 bytes", std::string("TAG") + std::string(124, ' '), TagIoError::kTooShort, true},
      {"empty", "", TagIoError::kTooShort, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto path = File("t.mp3", c.bytes);
    ID3TagData tag;
    tag.Title = u"before";
    TagIoStatus status;
    EXPECT_EQ(ReadID3Tag(Path16(path), tag, &status), 0);
    EXPECT_EQ(status.error, c.error);
    if (c.tag_untouched) {
      EXPECT_EQ(tag.Title, u"before");
    }
  }

  ID3TagData tag;
  TagIoStatus status;
  EXPECT_EQ(ReadID3Tag(Path16(dir() / "missing.mp3"), tag, &status), 0);
  EXPECT_EQ(status.error, TagIoError::kOpen);
  EXPECT_EQ(status.sys_errno, ENOENT);
  EXPECT_FALSE(DescribeTagIoStatus(status).empty());
}

TEST_F(ID3TagTest, ExactlyOneBlockIsATag) {
  auto path = File("t.mp3", Block("TAG", "Only"));
  ID3TagData tag;
  EXPECT_EQ(ReadID3Tag(Path16(path), tag), 1);
  EXPECT_EQ(tag.Title, u"Only");
}

TEST_F(ID3TagTest, PipeWithMp3NameNeitherHangsNorCounts) {
  auto path = dir() / "pipe.mp3";
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  ID3TagData tag;
  EXPECT_EQ(ReadID3Tag(Path16(path), tag), 0);
  EXPECT_EQ(WriteID3Tag(Path16(path), tag), 0);
}

TEST_F(ID3TagTest, FitsTextFieldsToTheirWidth) {
  struct {
    const char* label;
    std::u16string text;
    size_t width;
    std::string expected;
  } kCases[] = {
      {"empty", u"", 30, std::string(30, ' ')},
      {"exactly 30", u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", 30, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"},
      {"40 cut to 30", u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd", 30,
       "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"},
      {"two-byte padded", u"テスト", 30, Field("\x83\x65\x83\x58\x83\x67", 30)},
      {"30 bytes of two-byte text", std::u16string(15, u'亜'), 30, kFifteenA},
      {"two-byte cut after a lead-like second byte", std::u16string(15, u'亜') + u"x", 30,
       kFifteenA},
      {"half character not written", std::u16string(29, u'x') + u"あ", 30,
       std::string(29, 'x') + " "},
      {"odd offset", u"a" + std::u16string(15, u'あ'), 30, "a" + Repeat("\x82\xA0", 14) + " "},
      {"lead byte above 0xDF", u"a" + std::u16string(15, u'熙'), 30,
       "a" + Repeat("\xEA\xA4", 14) + " "},
      {"half-width kana one byte each", std::u16string(31, u'ｱ'), 30, std::string(30, '\xB1')},
      {"year cut", u"20245", 4, "2024"},
      {"year empty", u"", 4, "    "},
      {"year two-byte", u"２０２４", 4, "\x82\x51\x82\x4F"},
      {"year half character", u"1２３", 4, "1\x82\x51 "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(FitTagField(c.text, c.width), c.expected);
  }
}

TEST_F(ID3TagTest, WriteOverwritesOrAppends) {
  struct {
    const char* label;
    std::string before;
    size_t kept;  // bytes of the old file that stay in place
  } kCases[] = {
      {"no tag: append", kAudio, kAudio.size()},
      {"tag: overwrite", kAudio + Block("TAG", "Old", "Old", "Old", "1900", "c", 3), kAudio.size()},
      {"lower-case tag: append", kAudio + Block("tag", "x"), kAudio.size() + 128},
      {"128 bytes without a tag", std::string(128, 'a'), 128},
      {"128 bytes that are a tag", Block("TAG", "x"), 0},
  };
  ID3TagData tag;
  tag.Header = u"";  // ignored: "TAG" is always written
  tag.Title = u"  Title";
  tag.Artist = u"アーティスト";
  tag.Album = u"Album";
  tag.Year = u"2001";
  tag.Comment = u"";
  tag.Genre = 255;
  std::string expected_block = "TAG" + Field("  Title", 30) +
                               Field("\x83\x41\x81\x5B\x83\x65\x83\x42\x83\x58\x83\x67", 30) +
                               Field("Album", 30) + "2001" + std::string(30, ' ') + "\xFF";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto path = File("t.mp3", c.before);
    ASSERT_EQ(WriteID3Tag(Path16(path), tag), 1);
    std::string after = ReadBytes(path);
    EXPECT_EQ(after, c.before.substr(0, c.kept) + expected_block);

    ID3TagData read_back;
    ASSERT_EQ(ReadID3Tag(Path16(path), read_back), 1);
    EXPECT_EQ(read_back.Title, u"Title");  // leading spaces are lost on reading
    EXPECT_EQ(read_back.Artist, u"アーティスト");
    EXPECT_EQ(read_back.Comment, u"");
    EXPECT_EQ(read_back.Genre, 255);
  }
  EXPECT_EQ(tag.Header, u"");  // the caller's record is not changed
  EXPECT_EQ(tag.Title, u"  Title");
}

TEST_F(ID3TagTest, WriteLeavesFileUnchangedOnFailure) {
  ID3TagData tag;
  tag.Title = u"x";
  struct {
    const char* label;
    std::string before;
    int32_t genre;
    TagIoError error;
  } kCases[] = {
      {"genre 256", kAudio, 256, TagIoError::kBadGenre},
      {"genre -1", kAudio + Block("TAG", "Old"), -1, TagIoError::kBadGenre},
      {"127 bytes", std::string(127, 'a'), 0, TagIoError::kTooShort},
      {"empty file", "", 0, TagIoError::kTooShort},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto path = File("t.mp3", c.before);
    tag.Genre = c.genre;
    TagIoStatus status;
    EXPECT_EQ(WriteID3Tag(Path16(path), tag, &status), 0);
    EXPECT_EQ(status.error, c.error);
    EXPECT_EQ(status.sys_errno, 0) << "a refusal of the program's own names no system error";
    EXPECT_EQ(ReadBytes(path), c.before);
  }
}

TEST_F(ID3TagTest, WriteNeverCreatesAFile) {
  ID3TagData tag;
  TagIoStatus status;
  auto path = dir() / "missing.mp3";
  EXPECT_EQ(WriteID3Tag(Path16(path), tag, &status), 0);
  EXPECT_EQ(status.sys_errno, ENOENT);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(WriteID3Tag(Path16(dir()), tag, &status), 0);  // a folder
  // A file that cannot be read leaves nothing for the undo record.
  DiskEntry seen;
  EXPECT_EQ(ReadID3TagAt(AT_FDCWD, path.native(), tag, &status, &seen), 0);
  EXPECT_FALSE(seen.has_block);
}

TEST_F(ID3TagTest, WriteFailsOnReadOnlyFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write to read-only files";
  auto path = File("t.mp3", kAudio);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ID3TagData tag;
  TagIoStatus status;
  EXPECT_EQ(WriteID3Tag(Path16(path), tag, &status), 0);
  EXPECT_EQ(status.error, TagIoError::kOpen);
  EXPECT_EQ(status.sys_errno, EACCES);
  EXPECT_EQ(ReadBytes(path), kAudio);
}

// Where the open for writing is refused with EACCES (an ordinary user's
// read-only file), the file is made writable and opened again; no other
// failure, and no caller that did not ask for it, changes the mode.
TEST_F(ID3TagTest, WriteMakesAReadOnlyFileWritableOnlyWhenAskedAndRefused) {
  const struct {
    const char* label;
    int error;
    bool make_writable;
    int32_t written;
    mode_t mode_after;
  } kCases[] = {
      {"refused, made writable", EACCES, true, 1, 0644},
      {"refused, not to be made writable", EACCES, false, 0, 0444},
      {"another failure", EIO, true, 0, 0444},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto path = File("t.mp3", kAudio);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kOpenForWrite, .error = c.error});
    TagIoStatus status;
    EXPECT_EQ(UpdateID3TagTextsAt(AT_FDCWD, path.native(), u"New", u"", u"", c.make_writable,
                                  &status, nullptr, disk),
              c.written);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode_after);
    if (c.written == 0) {
      EXPECT_EQ(status.error, TagIoError::kOpen);
      EXPECT_EQ(status.sys_errno, c.error);
      EXPECT_EQ(ReadBytes(path), kAudio);
    }
    ::chmod(path.c_str(), 0644);
  }
}

TEST(DescribeTagIoStatusTest, NamesTheSystemsReasonWhereThereIsOne) {
  EXPECT_EQ(DescribeTagIoStatus({TagIoError::kOpen, EPERM}),
            std::string("cannot open the file: ") + std::strerror(EPERM));
  EXPECT_EQ(DescribeTagIoStatus({TagIoError::kTooShort, 0}), "the file is shorter than 128 bytes");
}

TEST(CutAtNullTest, Cuts) {
  struct {
    std::u16string text, expected;
  } kCases[] = {
      {u"abc", u"abc"},
      {std::u16string(u"ab\0c", 4), u"ab"},
      {std::u16string(u"\0x", 2), u""},
      {u"", u""},
      {u"曲名", u"曲名"},
  };
  for (const auto& c : kCases) EXPECT_EQ(CutAtNull(c.text), c.expected) << U8(c.text);
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

class TagIdentityTest : public TempDirTest {
 protected:
  // A file of `bytes` and what a run's capture records of it.
  DiskEntry Captured(const std::string& name, std::string_view bytes) {
    WriteBytes(dir() / name, bytes);
    DiskEntry entry;
    EXPECT_TRUE(CaptureFileAt(SystemDiskOps(), AT_FDCWD, (dir() / name).native(), entry));
    return entry;
  }
};

// The run's own check that a file is still the one it read: the size and
// last bytes always, the inode number only where the file system keeps it
// (after a cache drop on exFAT, the same file has another number).
TEST_F(TagIdentityTest, TagWriteKnowsTheFileByItsBytesWhereInodesChange) {
  const std::string tagged = kAudio + Block("TAG", "old");
  const std::string untagged = kAudio;
  struct Case {
    const char* name;
    std::string bytes;
    void (*change)(DiskEntry&);
    bool written;
  } const kCases[] = {
      {"another number where numbers change", tagged,
       [](DiskEntry& e) {
         e.inode_kept = false;
         ++e.ino;
       },
       true},
      {"another number where numbers hold", tagged, [](DiskEntry& e) { ++e.ino; }, false},
      {"other audio bytes at the end of a file without a tag", untagged,
       [](DiskEntry& e) {
         e.inode_kept = false;
         ++e.last_hash;
       },
       false},
      {"another size where numbers change", tagged,
       [](DiskEntry& e) {
         e.inode_kept = false;
         ++e.size;
       },
       false},
      {"another device where numbers change", untagged,
       [](DiskEntry& e) {
         e.inode_kept = false;
         ++e.dev;
       },
       true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    DiskEntry expected = Captured("a.mp3", c.bytes);
    c.change(expected);
    TagIoStatus status;
    const int32_t written = UpdateID3TagTextsAt(AT_FDCWD, (dir() / "a.mp3").native(), u"new", u"",
                                                u"", false, &status, &expected);
    EXPECT_EQ(written == 1, c.written) << DescribeTagIoStatus(status);
    if (!c.written) {
      EXPECT_EQ(DescribeTagIoStatus(status), "the file has changed since it was read");
      EXPECT_EQ(ReadBytes(dir() / "a.mp3"), c.bytes);
    }
  }
}

// The restore gives back the bytes, the mode and then the modification time
// (which writing the bytes changed), and only over the block the run wrote.
TEST_F(TagIdentityTest, RestoreGivesBackBytesModeAndTime) {
  const FileTime kThen{1000000000, 123456789};
  struct Case {
    const char* name;
    std::string bytes;
    bool run_writes;           // the run wrote its tag (else it stopped before)
    std::string other_change;  // bytes another program left after the run
    int32_t result;
    const char* why = "";  // what the refusal says
  } const kCases[] = {
      {"a tag the run wrote over", kAudio + Block("TAG", "old", "a"), true, "", 1},
      {"a tag the run appended", kAudio, true, "", 1},
      {"a tag the run never wrote", kAudio + Block("TAG", "old"), false, "", 1},
      {"a tag the run never appended", kAudio, false, "", 1},
      {"a tag another program changed since", kAudio + Block("TAG", "old"), true,
       kAudio + Block("TAG", "mine"), 0, "the file's tag has changed since the run"},
      {"an appended tag another program changed", kAudio, true, kAudio + Block("TAG", "mine"), 0,
       "the file's tag has changed since the run"},
      {"an appended tag another program overwrote with no tag", kAudio, true,
       kAudio + std::string(kTagBlockSize, 'x'), 0, "the file's size has changed since the run"},
      {"a file another program made longer after the appended tag", kAudio, true,
       kAudio + Block("TAG", "new") + "more", 0, "the file's size has changed since the run"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path path = dir() / "a.mp3";
    DiskEntry entry = Captured("a.mp3", c.bytes);
    entry.after_hash = UpdatedBlockHash(entry, u"new", u"", u"");
    entry.has_after = true;
    entry.mode = 0444;
    entry.mtime = kThen;
    if (c.run_writes) {
      ASSERT_EQ(UpdateID3TagTexts(*Utf8ToUtf16(path.native()), u"new", u"", u"", false), 1);
      ASSERT_NE(ReadBytes(path), c.bytes);
    }
    if (!c.other_change.empty()) WriteBytes(path, c.other_change);
    const std::string left = ReadBytes(path);
    TagIoStatus status;
    EXPECT_EQ(RestoreFileAt(AT_FDCWD, path.native(), entry, &status), c.result)
        << DescribeTagIoStatus(status);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    if (c.result == 1) {
      EXPECT_EQ(ReadBytes(path), c.bytes);
      EXPECT_EQ(st.st_mode & 07777, 0444u);
      EXPECT_EQ(st.st_mtim.tv_sec, kThen.sec);
      EXPECT_EQ(st.st_mtim.tv_nsec, kThen.nsec);
    } else {
      EXPECT_EQ(DescribeTagIoStatus(status), c.why);
      EXPECT_EQ(ReadBytes(path), left);
    }
    ::chmod(path.c_str(), 0644);
  }
}

// An entry captured again describes the new file only, not what it held.
TEST_F(TagIdentityTest, CaptureOfAShortFileForgetsTheTagBefore) {
  DiskEntry entry = Captured("a.mp3", kAudio + Block("TAG", "old"));
  ASSERT_TRUE(entry.had_tag && entry.has_last);
  WriteBytes(dir() / "short.mp3", "tiny");
  ASSERT_TRUE(CaptureFileAt(SystemDiskOps(), AT_FDCWD, (dir() / "short.mp3").native(), entry));
  EXPECT_EQ(entry.size, 4u);
  EXPECT_FALSE(entry.had_tag);
  EXPECT_FALSE(entry.has_last);
  EXPECT_TRUE(entry.block.empty());
}

// Only a plain file is captured, and a file its owner may not read gets its
// mode back however the capture ends.
TEST_F(TagIdentityTest, CaptureRefusesWhatItCannotReadAndKeepsTheMode) {
  const std::filesystem::path path = dir() / "x.mp3";
  const struct {
    const char* label;
    std::function<void()> make;
    int refused_opens;  // opens failing with EACCES, as for an ordinary user (2: all)
    bool captured;
  } kCases[] = {
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }, 0, false},
      {"a folder", [&] { std::filesystem::create_directory(path); }, 0, false},
      {"mode 244, readable once made so", [&] { WriteBytes(path, kAudio); }, 1, true},
      {"mode 244, refused every time", [&] { WriteBytes(path, kAudio); }, 2, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(path);
    c.make();
    const mode_t mode = c.refused_opens > 0 ? 0244 : 0644;  // 244: all but the owner read
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    testing::FaultDiskOps disk;
    if (c.refused_opens > 0) {
      disk.Add(
          {.call = testing::DiskCall::kOpen, .nth = c.refused_opens == 1 ? 1 : 0, .error = EACCES});
    }
    DiskEntry entry;
    EXPECT_EQ(CaptureFileAt(disk, AT_FDCWD, path.native(), entry), c.captured);
    struct stat st;
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
}

// A restore that is refused the open (EACCES) makes the file writable for
// it; any other failure leaves the file alone.
TEST_F(TagIdentityTest, RestoreReopensOnlyAFileItWasRefused) {
  const std::string bytes = kAudio + Block("TAG", "old");
  for (int error : {EACCES, EIO}) {
    SCOPED_TRACE(std::strerror(error));
    const std::filesystem::path path = dir() / "a.mp3";
    DiskEntry entry = Captured("a.mp3", bytes);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    entry.mode = 0444;
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kOpenForWrite, .error = error});
    TagIoStatus status;
    EXPECT_EQ(RestoreFileAt(AT_FDCWD, path.native(), entry, &status, disk), error == EACCES ? 1 : 0)
        << DescribeTagIoStatus(status);
    if (error != EACCES) {
      EXPECT_EQ(status.error, TagIoError::kOpen);
    }
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(ReadBytes(path), bytes);
    ::chmod(path.c_str(), 0644);
  }
}

// A restore that cannot read the file's last block leaves the file as the
// run left it: a tag the run wrote over or one it appended.
TEST_F(TagIdentityTest, RestoreThatCannotReadTheLastBlockChangesNothing) {
  const std::filesystem::path path = dir() / "a.mp3";
  for (const std::string& found : {kAudio + Block("TAG", "old"), kAudio}) {
    DiskEntry entry = Captured("a.mp3", found);
    ASSERT_EQ(UpdateID3TagTexts(*Utf8ToUtf16(path.native()), u"new", u"", u"", false), 1);
    const std::string left = ReadBytes(path);
    testing::FaultDiskOps disk;
    disk.Add({.call = testing::DiskCall::kRead, .error = EIO});
    TagIoStatus status;
    EXPECT_EQ(RestoreFileAt(AT_FDCWD, path.native(), entry, &status, disk), 0);
    EXPECT_EQ(status.error, TagIoError::kRead);
    EXPECT_EQ(ReadBytes(path), left);
  }
}

// A restore takes a file for the row's own when its size and last bytes are
// those the run found or those it left (the block whose hash the record
// holds), and no other bytes: inode numbers play no part, as after a stick
// is plugged in again.
TEST_F(TagIdentityTest, RestoreKnowsTheFileByTheBytesTheRunFoundOrLeft) {
  const std::string audio(300, '\xAA');
  const std::string old_tag = "TAG" + std::string(125, 'o');
  const std::string new_tag = "TAG" + std::string(125, 'n');
  const std::string other_tag = "TAG" + std::string(125, 'x');
  DiskEntry with_tag = Captured("a.mp3", audio + old_tag);
  DiskEntry without_tag = Captured("b.mp3", audio);
  for (DiskEntry* e : {&with_tag, &without_tag}) {
    e->after_hash = LastBytesHash(new_tag);
    e->has_after = true;
  }
  DiskEntry no_after = with_tag;  // a record that holds no hash of the block
  no_after.has_after = false;
  const struct {
    const char* name;
    const DiskEntry& recorded;
    std::string now;
    bool is_row;
  } kCases[] = {
      {"as the run found it", with_tag, audio + old_tag, true},
      {"as the run left it", with_tag, audio + new_tag, true},
      {"another tag", with_tag, audio + other_tag, false},
      {"another size", with_tag, audio + "x" + new_tag, false},
      {"no tag, as the run found it", without_tag, audio, true},
      {"the tag the run appended", without_tag, audio + new_tag, true},
      {"another tag appended", without_tag, audio + other_tag, false},
      {"no hash of the block: any tag of the size left", no_after, audio + other_tag, true},
  };
  for (const auto& c : kCases) {
    DiskEntry now = Captured("now.mp3", c.now);
    now.ino += 1;  // another number, as after a remount
    EXPECT_EQ(HasRunBytes(c.recorded, now), c.is_row) << c.name;
  }
}

}  // namespace
}  // namespace tarvel
