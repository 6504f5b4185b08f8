#include "platform/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/syscall_fault.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::ReadBytes;
using testing::U8;
using testing::WriteBytes;

class TextFileTest : public testing::TempDirTest {};

TEST_F(TextFileTest, ReadsEachEncoding) {
  struct {
    std::string_view bytes;
    std::u16string_view text;
  } const kCases[] = {
      {"\xEF\xBB\xBF\xE6\x97\xA5,a\r\n", u"日,a\r\n"},  // UTF-8 with a mark
      {"\xE6\x97\xA5,a\r\n", u"日,a\r\n"},              // valid UTF-8
      {"\x93\xFA,\xB1\r\n", u"日,ｱ\r\n"},               // code page 932
      {"plain", u"plain"},
      {"", u""},
  };
  for (const auto& c : kCases) {
    WriteBytes(dir() / "t.csv", c.bytes);
    TextReadResult r = ReadTextFile(dir() / "t.csv");
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.text, c.text);
  }
}

TEST_F(TextFileTest, WritesCodePage932WhenLosslessElseUtf8WithMark) {
  ASSERT_TRUE(WriteTextFile(dir() / "a.txt", u"日本ｱ～").ok);
  EXPECT_EQ(ReadBytes(dir() / "a.txt"), "\x93\xFA\x96\x7B\xB1\x81\x60");
  ASSERT_TRUE(WriteTextFile(dir() / "b.txt", u"〜한").ok);
  EXPECT_EQ(ReadBytes(dir() / "b.txt"), "\xEF\xBB\xBF\xE3\x80\x9C\xED\x95\x9C");
  EXPECT_EQ(ReadTextFile(dir() / "b.txt").text, u"〜한");
  // Replacing an existing file leaves no temporary file behind.
  ASSERT_TRUE(WriteTextFile(dir() / "a.txt", u"x").ok);
  EXPECT_EQ(ReadBytes(dir() / "a.txt"), "x");
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir())) ++files;
  EXPECT_EQ(files, 5);  // a.txt, b.txt and the three XDG folders
}

TEST_F(TextFileTest, WhatIsWrittenReadsBackTheSame) {
  struct {
    std::u16string_view text;
    bool cp932;  // written without a mark
  } kCases[] = {
      {u"日本ｱ～", true},
      {u"ﾃｽ", false},  // C3 BD in code page 932 is valid UTF-8
      {u"ﾃｽﾄ,ﾃﾞｰﾀ\r\n", true},
      {u"\x1A"
       u"fK",
       false},  // found by fuzzing: a control code moved by the code page
      {u"abc\r\n", true},
      {u"〜한", false},
  };
  for (const auto& c : kCases) {
    const std::string bytes = EncodeTextBytes(c.text);
    EXPECT_EQ(DecodeTextBytes(bytes), c.text) << U8(c.text);
    EXPECT_EQ(!bytes.starts_with("\xEF\xBB\xBF"), c.cp932) << U8(c.text);
  }
}

TEST_F(TextFileTest, ReportsWhatCannotBeRead) {
  const TextReadResult missing = ReadTextFile(dir() / "missing");
  EXPECT_EQ(missing.code, TextReadResult::Code::kNotFound);
  EXPECT_EQ(missing.message,
            (dir() / "missing").native() + ": cannot open (" + std::strerror(ENOENT) + ")");
  const TextReadResult folder = ReadTextFile(dir());
  EXPECT_EQ(folder.code, TextReadResult::Code::kNotAFile);
  EXPECT_EQ(folder.message, dir().native() + ": not a plain file");
  WriteBytes(dir() / "huge", "");
  std::filesystem::resize_file(dir() / "huge", kMaxTextFileBytes + 1);
  const TextReadResult huge = ReadTextFile(dir() / "huge");
  EXPECT_EQ(huge.code, TextReadResult::Code::kTooLarge);
  EXPECT_EQ(huge.message, (dir() / "huge").native() + ": file too large");
  // Read in pieces, a file of any size is read to its end: a previous list
  // of a million files is larger than the limit, and must still be kept.
  std::size_t pieces_bytes = 0;
  const TextReadResult pieces = ReadFileInPieces(dir() / "huge", [&](std::string_view piece) {
    pieces_bytes += piece.size();
    return true;
  });
  EXPECT_TRUE(pieces.ok()) << pieces.message;
  EXPECT_EQ(pieces_bytes, kMaxTextFileBytes + 1);
  // A caller that names its own limit gets a file up to that size, no more.
  WriteBytes(dir() / "three", "abc");
  std::string bytes;
  EXPECT_EQ(ReadFileBytes(dir() / "three", bytes, 2).code, TextReadResult::Code::kTooLarge);
  EXPECT_TRUE(ReadFileBytes(dir() / "three", bytes, 3).ok());
  EXPECT_EQ(bytes, "abc");
  // A file is read into room for itself, not twice that.
  const std::string kMegabyte(1 << 20, 'x');
  WriteBytes(dir() / "mb", kMegabyte);
  std::string whole;
  ASSERT_TRUE(ReadFileBytes(dir() / "mb", whole, kMegabyte.size()).ok());
  EXPECT_EQ(whole, kMegabyte);
  EXPECT_LT(whole.capacity(), kMegabyte.size() + 4096);
  EXPECT_FALSE(WriteTextFile(dir() / "no-such-folder" / "x.csv", u"x").ok);
  if (::geteuid() != 0) {
    WriteBytes(dir() / "locked", "x");
    ::chmod((dir() / "locked").c_str(), 0);
    EXPECT_EQ(ReadTextFile(dir() / "locked").code, TextReadResult::Code::kReadError);
  }
}

// A file whose size the system does not know beforehand (such as those of
// /proc, which say 0) is read to its end, also when that takes more than
// one read.
TEST_F(TextFileTest, ReadsAFileThatSaysItIsEmpty) {
  struct {
    const char* path;
    std::u16string_view first, last_line;
    size_t at_least;
  } const kCases[] = {
      {"/proc/self/status", u"Name:", u"nonvoluntary_ctxt_switches:", 512},
      // Every mapping of the program, each ending in its flags: far more
      // than a page.
      {"/proc/self/smaps", u"", u"VmFlags:", 16384},
  };
  for (const auto& c : kCases) {
    const TextReadResult r = ReadTextFile(c.path);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_TRUE(r.text.starts_with(c.first)) << U8(r.text);
    EXPECT_GE(r.text.size(), c.at_least) << c.path;
    const size_t last_line = r.text.rfind(u'\n', r.text.size() - 2) + 1;
    EXPECT_TRUE(r.text.substr(last_line).starts_with(c.last_line)) << c.path;
  }
}

// A file read in pieces arrives whole and in order; a sink that has seen
// enough stops the reading.
TEST_F(TextFileTest, ReadsInPiecesUntilTheSinkStops) {
  WriteBytes(dir() / "f", "abcdefgh");
  struct {
    std::size_t piece, stop_after;
    std::vector<std::string> expected;
  } const kCases[] = {
      {3, 99, {"abc", "def", "gh"}},
      {100, 99, {"abcdefgh"}},
      {3, 1, {"abc"}},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> got;
    const TextReadResult r = ReadFileInPieces(
        dir() / "f",
        [&](std::string_view piece) {
          got.emplace_back(piece);
          return got.size() < c.stop_after;
        },
        c.piece);
    EXPECT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(got, c.expected) << c.piece;
  }
  EXPECT_EQ(ReadFileInPieces(dir() / "missing", [](std::string_view) { return true; }).code,
            TextReadResult::Code::kNotFound);
}

TEST_F(TextFileTest, WriterGathersPiecesAndChangesNothingUntilCommitted) {
  const std::string big(10000, 'b');
  struct {
    const char* label;
    std::size_t buffer;
    std::vector<std::string_view> pieces;
    bool commit;
  } const kCases[] = {
      {"pieces smaller than the buffer", 8, {"abc", "defgh", "ij", "", "k"}, true},
      {"a piece exactly the buffer's size", 4, {"ab", "cdef", "g", "hijk"}, true},
      {"pieces larger than the buffer", 3, {"a", big, "cd", big, "e"}, true},
      {"one byte of buffer", 1, {"ab", "c", "", "def"}, true},
      {"abandoned after writing", 4, {"abc", big}, false},
      {"nothing written", 4, {}, true},
  };
  const auto list = [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir())) {
      names.push_back(e.path().filename().native());
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> before = list();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    WriteBytes(dir() / "out.csv", "old");
    const mode_t mask = ::umask(027);
    std::string expected;
    {
      AtomicFileWriter writer(dir() / "out.csv", c.buffer);
      for (std::string_view piece : c.pieces) {
        ASSERT_TRUE(writer.Append(piece)) << writer.message();
        expected += piece;
      }
      ASSERT_TRUE(writer.Finish()) << writer.message();
      EXPECT_EQ(ReadBytes(dir() / "out.csv"), "old");  // nothing changes before the rename
      if (c.commit) {
        ASSERT_TRUE(writer.Commit().ok) << writer.message();
        EXPECT_TRUE(writer.Commit().ok) << "a second commit: " << writer.message();
      }
    }
    ::umask(mask);
    EXPECT_TRUE(ReadBytes(dir() / "out.csv") == (c.commit ? expected : "old"));
    struct stat st {};
    ASSERT_EQ(::stat((dir() / "out.csv").c_str(), &st), 0);
    if (c.commit) {
      EXPECT_EQ(st.st_mode & 07777, 0640u);  // 0644 less the umask
    }
    // Only the target is left beside what was there: no temporary file.
    std::vector<std::string> names = list();
    std::erase(names, "out.csv");
    EXPECT_EQ(names, before);
  }
  AtomicFileWriter nowhere(dir() / "no-such-folder" / "x.csv");
  EXPECT_FALSE(nowhere.Append("x"));
  EXPECT_EQ(nowhere.temp_path(), "");
  EXPECT_NE(nowhere.Commit().message.find("cannot create a temporary file beside it"),
            std::string::npos);
}

// A writer that has failed never puts its file in place, even where what it
// wrote before the failure is complete.
TEST_F(TextFileTest, AFailedWriterLeavesTheOldFile) {
  WriteBytes(dir() / "out.csv", "old");
  AtomicFileWriter writer(dir() / "out.csv");
  ASSERT_TRUE(writer.Append("new"));
  ASSERT_TRUE(writer.Finish());
  EXPECT_FALSE(writer.Append("late"));  // the file is closed: the writer fails
  EXPECT_FALSE(writer.Commit().ok);
  EXPECT_EQ(ReadBytes(dir() / "out.csv"), "old");
  // A disk that refuses every write.
  EXPECT_EXIT(
      {
        AtomicFileWriter full(dir() / "out.csv", 4);
        const bool failed = testing::FailSystemCall(SYS_write, ENOSPC) &&
                            !full.Append("new text") && !full.Commit().ok;
        std::_Exit(failed ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  // A disk that refuses the last piece, still in the buffer when the writer
  // finishes: the finish fails, not only the commit after it.
  EXPECT_EXIT(
      {
        AtomicFileWriter held(dir() / "out.csv");
        const bool failed = held.Append("new text") && testing::FailSystemCall(SYS_write, ENOSPC) &&
                            !held.Finish() && !held.Commit().ok;
        std::_Exit(failed ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadBytes(dir() / "out.csv"), "old");
}

}  // namespace
}  // namespace tarvel
