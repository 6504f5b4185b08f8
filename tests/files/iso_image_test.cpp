// The image writer on its own: read back by xorriso, an image holds each
// file's first bytes followed by its tag, in its folder, however many reads
// a file takes; the progress counts the files; an image that cannot be
// made whole leaves nothing under its name and no temporary beside it.
#include "files/iso_image.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "files/export_copy.h"
#include "support/disc_image.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::DiskCall;
using testing::ReadBytes;
using testing::WriteBytes;

// Bytes that differ from place to place, so that a piece read twice or
// skipped shows.
std::string Pattern(size_t n, unsigned seed) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 31 + i / 251 + seed) & 0xff);
  return bytes;
}

class IsoImageTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    lib_ = dir() / "lib";
    fs::create_directories(lib_ / "sub");
    WriteBytes(lib_ / "a.mp3", Pattern(5000, 1));
    WriteBytes(lib_ / "sub" / "b.mp3", Pattern(300000, 2));  // read in many pieces
    library_ = UniqueFd(::open(lib_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(library_);
    tag_ = "TAG" + Pattern(125, 3);
    request_.source_dir_fd = library_.get();
    request_.volume_id = "TEST";
    request_.entries = {
        {.is_file = false, .target = "D"},
        {.is_file = true,
         .source = "a.mp3",
         .target = "D/A.mp3",
         .source_size = 5000,
         .audio_size = 4000,
         .tag = tag_},
        {.is_file = true,
         .source = "sub/b.mp3",
         .target = "B.mp3",
         .source_size = 300000,
         .audio_size = 300000},
    };
    image_ = dir() / "out.iso";
  }

  // Nothing under the image's name but `old`, and no temporary beside it.
  void ExpectNoNewImage(const std::string& old) {
    EXPECT_EQ(ReadBytes(image_), old);
    for (const auto& entry : fs::directory_iterator(dir())) {
      EXPECT_FALSE(entry.path().filename().native().starts_with(kExportPartPrefix)) << entry.path();
    }
  }

  fs::path lib_;
  UniqueFd library_;
  std::string tag_;
  IsoImageRequest request_;
  fs::path image_;
};

TEST_F(IsoImageTest, ImageHoldsEachFilesBytesThenItsTag) {
  if (!testing::HaveXorriso()) GTEST_SKIP() << "xorriso is missing: the image cannot be read back";
  std::vector<int64_t> shown;
  const IsoImageResult result =
      WriteIsoImage(request_, image_.native(), [&](int64_t files) { shown.push_back(files); });
  ASSERT_EQ(result.outcome, IsoImageResult::Outcome::kWritten) << result.detail;
  EXPECT_EQ(result.image_size, fs::file_size(image_));
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), 2);
  const fs::path out = dir() / "out";
  testing::Output("xorriso -osirrox on -indev " + testing::Quoted(image_) + " -extract / " +
                  testing::Quoted(out) + " 2>&1");
  const std::map<std::string, std::string> expected = {
      {"D", "<folder>"},
      {"D/A.mp3", Pattern(5000, 1).substr(0, 4000) + tag_},
      {"B.mp3", Pattern(300000, 2)},
  };
  EXPECT_EQ(testing::ContentTree(out), expected);
  ExpectNoNewImage(ReadBytes(image_));
}

// The window may make one image after another: each one's generator, its
// buffers and its tree are given back when it is written.
TEST_F(IsoImageTest, ImagesMadeOneAfterAnotherHoldNoMemory) {
  auto heap_in_use = [] {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
  };
  ASSERT_EQ(WriteIsoImage(request_, image_.native(), nullptr).outcome,
            IsoImageResult::Outcome::kWritten);
  const size_t before = heap_in_use();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(WriteIsoImage(request_, image_.native(), nullptr).outcome,
              IsoImageResult::Outcome::kWritten);
  }
  EXPECT_LT(heap_in_use(), before + (size_t{1} << 20));
}

TEST_F(IsoImageTest, AnImageThatCannotBeMadeWholeLeavesNone) {
  struct Case {
    const char* what;
    IsoImageResult::Outcome outcome;
    std::string detail;
    testing::DiskFault fault = {.call = DiskCall::kRead, .name = "never"};
    uint64_t a_size = 5000;  // what the request says a.mp3 holds
    uint64_t max_sectors = kCdSectors;
    const char* a_target = "D/A.mp3";
  } const kCases[] = {
      {"a source that changed since the plan",
       IsoImageResult::Outcome::kFailed,
       "a.mp3 has changed since the image was planned",
       {.call = DiskCall::kRead, .name = "never"},
       4999},
      {"a source that cannot be opened",
       IsoImageResult::Outcome::kFailed,
       "cannot read a.mp3: Input/output error",
       {.call = DiskCall::kOpenBeneath, .name = "a.mp3"}},
      {"a file in a folder the image does not hold",
       IsoImageResult::Outcome::kFailed,
       "no folder holds E/A.mp3 in the image",
       {.call = DiskCall::kRead, .name = "never"},
       5000,
       kCdSectors,
       "E/A.mp3"},
      {"a source read that fails part way",
       IsoImageResult::Outcome::kFailed,
       "cannot read sub/b.mp3",
       {.call = DiskCall::kRead, .nth = 2, .name = "b.mp3"}},
      {"the image's disk full",
       IsoImageResult::Outcome::kFailed,
       "cannot write the image",
       {.call = DiskCall::kWrite, .nth = 2, .error = ENOSPC}},
      {"more sectors than allowed",
       IsoImageResult::Outcome::kTooLarge,
       "sectors a CD holds",
       {.call = DiskCall::kRead, .name = "never"},
       5000,
       10},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteBytes(image_, "an older image");
    IsoImageRequest request = request_;
    request.entries[1].source_size = c.a_size;
    request.max_sectors = c.max_sectors;
    request.entries[1].target = c.a_target;
    testing::FaultDiskOps disk;
    disk.Add(c.fault);
    const IsoImageResult result = WriteIsoImage(request, image_.native(), nullptr, disk);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_NE(result.detail.find(c.detail), std::string::npos) << result.detail;
    ExpectNoNewImage("an older image");
  }
}

TEST(IsoVolumeLabelTest, AsciiCapitalsOfTheFolderName) {
  struct {
    std::string folder;
    std::string label;
  } kCases[] = {
      {"Music", "MUSIC"},
      {"my music 2024", "MY_MUSIC_2024"},
      {testing::U8(u"J-Pop 音楽!"), "J_POP"},
      {testing::U8(u"音楽"), "TARVEL"},
      {"2024", "TARVEL"},
      {std::string(40, 'x'), std::string(32, 'X')},
      {std::string(31, 'x') + "-yz", std::string(31, 'X')},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(IsoVolumeLabel(c.folder), c.label) << c.folder;
  }
}

// Joliet counts a name in UTF-16 units: one for each character, two for one
// beyond the basic plane.
TEST(JolietLengthTest, CountsUtf16UnitsOfAUtf8Name) {
  struct {
    std::u16string name;
    size_t units;
  } kCases[] = {
      {u"", 0},
      {u"abc.mp3", 7},
      {u"ｱｲｳ", 3},                       // three bytes each
      {u"é夜", 2},                       // two and three bytes
      {u"\U0001F3B5", 2},                // four bytes: a surrogate pair
      {u"a\U0001F3B5夜\U0001F3B5b", 7},  // all of them in one name
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(JolietLength(testing::U8(c.name)), c.units) << testing::U8(c.name);
  }
}

}  // namespace
}  // namespace tarvel
