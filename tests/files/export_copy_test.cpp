// One file of an exported copy: its bytes, the temporary it is written
// under, and how a copy already in place is recognised.
#include "files/export_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::DiskCall;
using testing::ReadBytes;
using testing::WriteBytes;

std::string Pattern(size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 13 + i / 251) & 0xff);
  return bytes;
}

std::string Block(char fill) {
  std::string block = "TAG";
  block.resize(TagBytes::kSize, fill);
  return block;
}

class ExportCopyTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    fs::create_directories(dir() / "lib");
    fs::create_directories(dir() / "out");
    lib_ = UniqueFd(::open((dir() / "lib").c_str(), O_RDONLY | O_DIRECTORY));
    out_ = UniqueFd(::open((dir() / "out").c_str(), O_RDONLY | O_DIRECTORY));
  }

  ExportFileJob Job(const std::string& source_bytes, uint64_t audio, const std::string& tag) {
    WriteBytes(dir() / "lib" / "song.mp3", source_bytes);
    ExportFileJob job;
    job.source_dir_fd = lib_.get();
    job.source = "song.mp3";
    job.source_size = source_bytes.size();
    job.audio_size = audio;
    job.tag = tag;
    job.target_dir_fd = out_.get();
    job.target_name = "copy.mp3";
    return job;
  }

  bool NoPartLeft() {
    for (const auto& entry : fs::directory_iterator(dir() / "out")) {
      if (entry.path().filename().native().starts_with(kExportPartPrefix)) return false;
    }
    return true;
  }

  UniqueFd lib_;
  UniqueFd out_;
};

// The bytes arrive whole in the kernel's copy and in reads and writes that
// move a few bytes at a time or are interrupted.
TEST_F(ExportCopyTest, CopiesEveryByteEitherWay) {
  struct {
    size_t size;
    bool kernel;
    size_t max_transfer;
  } kCases[] = {
      {0, true, 0}, {1, false, 0}, {3u << 20, true, 0}, {3u << 20, false, 0}, {5000, false, 7},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.size) + (c.kernel ? " kernel" : " reads"));
    const std::string bytes = Pattern(c.size) + Block('x');
    ExportFileJob job = Job(bytes, c.size, Block('n'));
    testing::FaultDiskOps disk;
    disk.set_max_transfer(c.max_transfer);
    disk.set_interrupt(c.max_transfer != 0);
    std::string error;
    ASSERT_TRUE(WriteExportFile(disk, job, c.kernel, &error)) << error;
    EXPECT_EQ(ReadBytes(dir() / "out" / "copy.mp3"), Pattern(c.size) + Block('n'));
    EXPECT_EQ(disk.count(DiskCall::kRead) > 0, !c.kernel && c.size > 0);
    EXPECT_TRUE(NoPartLeft());
  }
}

// Where the kernel cannot copy at all (here a target that is not a regular
// file), the bytes go through reads and writes instead of failing the copy;
// a source shorter than asked (cut since the plan) ends the copy where it
// ends, either way.
TEST_F(ExportCopyTest, CopyFallsBackOrStopsWhereTheSourceEnds) {
  struct {
    const char* what;
    const char* target;  // in the out folder, or a device
    size_t have, asked;
    bool kernel, reads;
  } kCases[] = {
      {"no regular target", "/dev/null", 70000, 70000, true, true},
      {"short source, kernel copy", "short.bin", 1000, 3000, true, false},
      {"short source, reads", "short.bin", 1000, 3000, false, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteBytes(dir() / "lib" / "song.mp3", Pattern(c.have));
    const fs::path target = c.target[0] == '/' ? fs::path(c.target) : dir() / "out" / c.target;
    UniqueFd in(::open((dir() / "lib" / "song.mp3").c_str(), O_RDONLY | O_CLOEXEC));
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    ASSERT_TRUE(in && out);
    testing::FaultDiskOps disk;
    const Transfer t = CopyFileBytes(disk, in.get(), out.get(), c.asked, c.kernel);
    EXPECT_EQ(t.done, c.have) << std::strerror(t.error);
    EXPECT_EQ(t.ok(), c.have == c.asked);
    EXPECT_EQ(disk.count(DiskCall::kRead) > 0, c.reads);
    if (c.target[0] != '/') {
      EXPECT_EQ(ReadBytes(target), Pattern(c.have));
    }
  }
}

// A copy that fails at any step leaves no temporary, and a copy already in
// place stays as it was; the message names the file.
TEST_F(ExportCopyTest, FailedCopyLeavesNoTemporary) {
  struct {
    testing::DiskFault fault;
    bool source_changed;
    const char* what;  // how the message starts
  } kCases[] = {
      {{.call = DiskCall::kWrite, .nth = 1, .partial = 3}, false, "cannot copy copy.mp3"},
      {{.call = DiskCall::kSync, .error = EIO}, false, "cannot write copy.mp3"},
      {{.call = DiskCall::kRename, .error = EIO}, false, "cannot put in place copy.mp3"},
      {{.call = DiskCall::kOpenBeneath, .error = EACCES},
       false,
       "cannot read the source of copy.mp3"},
      {{.call = DiskCall::kStatFs, .error = EIO},
       true,  // no fault: the source grew
       "the source has changed since the export was planned: copy.mp3"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.fault.call));
    WriteBytes(dir() / "out" / "copy.mp3", "the old copy");
    ExportFileJob job = Job(Pattern(400), 400, Block('n'));
    if (c.source_changed) WriteBytes(dir() / "lib" / "song.mp3", Pattern(401));
    testing::FaultDiskOps disk;
    disk.Add(c.fault);
    std::string error;
    EXPECT_FALSE(WriteExportFile(disk, job, false, &error));
    EXPECT_TRUE(error.starts_with(c.what)) << error;
    // A system error's text follows where there is one, and only there.
    EXPECT_EQ(error.ends_with("(the copy of song.mp3)"), c.source_changed) << error;
    EXPECT_NE(error.find("(the copy of song.mp3)"), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(dir() / "out" / "copy.mp3"), "the old copy");
    EXPECT_TRUE(NoPartLeft());
  }
}

// A copy counts as in place only with the size and last bytes it is to end
// with.
TEST_F(ExportCopyTest, RecognisesACopyInPlace) {
  struct {
    const char* name;
    std::string tag;    // the new block, or "" to keep the bytes
    std::string there;  // what the copy holds now
    bool in_place;
  } kCases[] = {
      {"new tag", Block('n'), Pattern(300) + Block('n'), true},
      {"old tag", Block('n'), Pattern(300) + Block('o'), false},
      {"short", Block('n'), Pattern(299) + Block('n'), false},
      {"kept bytes", "", Pattern(300) + Block('o'), true},
      {"other end", "", Pattern(300) + Block('p'), false},
      {"missing", "", "", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const bool keeps = c.tag.empty();
    ExportFileJob job = Job(Pattern(300) + Block('o'), keeps ? 428 : 300, c.tag);
    fs::remove(dir() / "out" / "copy.mp3");
    if (!c.there.empty()) WriteBytes(dir() / "out" / "copy.mp3", c.there);
    EXPECT_EQ(ExportFileInPlace(SystemDiskOps(), job), c.in_place);
  }
}

}  // namespace
}  // namespace tarvel
