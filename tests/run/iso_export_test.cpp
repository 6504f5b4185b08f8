// A CD image of a generated library, read back by xorriso: the image holds
// the plan's names and bytes under Joliet and Rock Ridge, the library keeps
// every byte, and an image that cannot be made whole (too large, a name a
// disc cannot hold, a failed read or write) leaves nothing under its name.
#include "run/iso_export.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "files/export_copy.h"
#include "files/iso_image.h"
#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/export_plan.h"
#include "run/run_test_support.h"
#include "sample_library.h"
#include "support/disc_image.h"
#include "support/fault_disk_ops.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::ContentTree;
using testing::DiskCall;
using testing::ExactTreeWithTimes;
using testing::HaveXorriso;
using testing::Output;
using testing::Quoted;
using testing::ReadBytes;
using testing::U8;
using testing::WriteBytes;

class IsoExportTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    music_ = dir() / "Music 2024";
    const sample::Tag tag{u"夜", u"さくら", u"夜", u"1999", u"", 13};
    sample::WriteMp3(music_, u"東京.mp3", 3000, tag);
    sample::WriteMp3(music_, u"歌手/夜.mp3", 5000, tag);
    sample::WriteMp3(music_, u"歌手/notag.mp3", 7000, std::nullopt);
    WriteBytes(music_ / "cover.jpg", "not music");
    fs::create_directories(music_ / "empty");
    image_ = dir() / "car.iso";
    app_.ui = &ui_;
    app_.reading = &reading_;
    ASSERT_TRUE(testing::LoadShippedTables(app_));
    app_.settings = testing::ApplyingRun(music_);
    ASSERT_EQ(MakeExportPlan(app_, plan_).outcome, RunReport::Outcome::kCompleted);
  }

  // What the plan says the image holds: the converted paths, each file's
  // source audio followed by its new tag.
  std::map<std::string, std::string> Planned() const {
    std::map<std::string, std::string> tree;
    for (const ExportItem& item : plan_.items) {
      tree[item.target] = item.is_file
                              ? ReadBytes(music_ / item.source).substr(0, item.audio_size) +
                                    std::string(item.tag.view())
                              : "<folder>";
    }
    return tree;
  }

  // Nothing under the image's name but `old` (empty: nothing at all), and
  // no temporary beside it.
  void ExpectNoNewImage(const std::string& old) {
    const std::string now = fs::exists(image_) ? ReadBytes(image_) : std::string();
    EXPECT_TRUE(now == old) << now.size() << " bytes under the image's name";
    for (const auto& entry : fs::directory_iterator(dir())) {
      EXPECT_FALSE(entry.path().filename().native().starts_with(kExportPartPrefix)) << entry.path();
    }
  }

  fs::path music_;
  fs::path image_;
  ExportPlan plan_;
  RecordingFrontEnd ui_;
  testing::FixedReadingService reading_{
      {u"東京", u"トウキョウ"}, {u"夜", u"よる"}, {u"歌手", u"かしゅ"}};
  AppState app_;
};

// Read back through either tree of names, the image holds exactly the
// plan: converted names, source audio and new tags, nothing else; the
// library is untouched and an older image under the name is replaced.
TEST_F(IsoExportTest, ImageHoldsThePlanAndLibraryStaysAsItWas) {
  if (!HaveXorriso()) GTEST_SKIP() << "xorriso is missing: the image cannot be read back";
  WriteBytes(image_, "an older image");
  const auto before = ExactTreeWithTimes(music_);
  const ImageReport report = RunImageExport(app_, image_.native());
  ASSERT_EQ(report.outcome, ImageReport::Outcome::kCompleted) << report.detail;
  EXPECT_EQ(ExactTreeWithTimes(music_), before);
  EXPECT_EQ(report.files, 3);
  EXPECT_EQ(report.folders, 2);
  EXPECT_EQ(report.label, "MUSIC_2024");
  EXPECT_EQ(report.image_size, fs::file_size(image_));
  EXPECT_EQ(report.image_size % kIsoSectorSize, 0u);
  EXPECT_EQ(ui_.last_progress[static_cast<size_t>(ProgressStage::kExport)], 3);
  ExpectNoNewImage(ReadBytes(image_));
  const auto planned = Planned();
  ASSERT_EQ(planned.count(U8(u"ｶｼｭ/ﾖﾙ.mp3")), 1u);  // the names are the converted ones
  // "norock" reads the Joliet names, "any" the Rock Ridge ones.
  for (const std::string tree : {"norock", "any"}) {
    SCOPED_TRACE(tree);
    const fs::path out = dir() / ("out-" + tree);
    Output("xorriso -osirrox on -read_fs " + tree + " -indev " + Quoted(image_) + " -extract / " +
           Quoted(out) + " 2>&1");
    ASSERT_EQ(std::system(("chmod -R u+w " + Quoted(out)).c_str()), 0);
    EXPECT_EQ(ContentTree(out), planned);
  }
  EXPECT_NE(Output("xorriso -indev " + Quoted(image_) + " 2>&1").find("'MUSIC_2024'"),
            std::string::npos);
}

// An image that cannot be written as planned is refused before anything is
// written: the older image under the name stays, no temporary is left.
TEST_F(IsoExportTest, RefusedImageLeavesTheOldOne) {
  const std::string long_name = std::string(61, 'a') + ".mp3";  // 65 characters
  struct {
    const char* what;
    uint64_t max_sectors;
    std::string rename_to;  // a new target for the last file, when not empty
    fs::path image;         // empty: the usual one
    ImageReport::Outcome outcome;
    std::string detail;  // found in the report's
  } kCases[] = {
      {"larger than the disc", 10, "", {}, ImageReport::Outcome::kRefused, "sectors of 2048 bytes"},
      {"a name too long for Joliet",
       kCdSectors,
       long_name,
       {},
       ImageReport::Outcome::kRefused,
       long_name + ") has 65 characters"},
      {"in the library", kCdSectors, "", music_ / "car.iso", ImageReport::Outcome::kInvalidFolder,
       "lies in the library"},
      {"in no folder", kCdSectors, "", dir() / "none" / "car.iso",
       ImageReport::Outcome::kInvalidFolder, "does not exist"},
  };
  const auto before = ExactTreeWithTimes(music_);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteBytes(image_, "an older image");
    ExportPlan plan = plan_;
    if (!c.rename_to.empty()) {
      std::string& target = plan.items.back().target;
      const size_t slash = target.rfind('/');
      target = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) + c.rename_to;
    }
    const fs::path image = c.image.empty() ? image_ : c.image;
    const ImageReport report = WriteImage(plan, image.native(), ui_, SystemDiskOps(),
                                          ImageOptions{.max_sectors = c.max_sectors});
    EXPECT_EQ(report.outcome, c.outcome);
    EXPECT_NE(report.detail.find(c.detail), std::string::npos) << report.detail;
    EXPECT_FALSE(report.detail.starts_with('\n')) << report.detail;
    EXPECT_FALSE(fs::exists(c.image.empty() ? fs::path() : c.image));
    ExpectNoNewImage("an older image");
  }
  EXPECT_EQ(ExactTreeWithTimes(music_), before);
}

// The room is checked against the whole image before a byte of it is
// written (a tmpfs smaller than the image; root only).
TEST_F(IsoExportTest, TooLittleRoomWritesNothing) {
  const fs::path small = dir() / "small";
  fs::create_directories(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  }
  const fs::path image = small / "car.iso";
  const ImageReport report = WriteImage(plan_, image.native(), ui_);
  const bool left = fs::exists(image) || !fs::is_empty(small);
  ::umount2(small.c_str(), MNT_DETACH);
  EXPECT_EQ(report.outcome, ImageReport::Outcome::kRefused);
  EXPECT_NE(report.detail.find(
                "not enough room for the image: " + std::to_string(report.image_size) + " bytes"),
            std::string::npos)
      << report.detail;
  EXPECT_GT(report.image_size, 64u * 1024);
  EXPECT_FALSE(left);
}

// A source or the image failing part way stops the image: the older image
// under the name is kept whole and the part written is removed.
TEST_F(IsoExportTest, FailurePartWayLeavesNoImage) {
  struct {
    const char* what;
    testing::DiskFault fault;
    std::string detail;
  } kCases[] = {
      {"a source read fails",
       {.call = DiskCall::kRead, .nth = 2, .name = "notag.mp3"},
       "cannot read " + U8(u"歌手/notag.mp3")},
      {"a source cannot be opened",
       {.call = DiskCall::kOpenBeneath, .name = "notag.mp3"},
       "cannot read " + U8(u"歌手/notag.mp3")},
      {"the image's disk fails",
       {.call = DiskCall::kWrite, .nth = 2, .error = ENOSPC},
       "cannot write the image"},
  };
  const auto before = ExactTreeWithTimes(music_);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteBytes(image_, "an older image");
    testing::FaultDiskOps disk;
    disk.Add(c.fault);
    const ImageReport report = WriteImage(plan_, image_.native(), ui_, disk);
    EXPECT_EQ(report.outcome, ImageReport::Outcome::kStopped);
    EXPECT_NE(report.detail.find(c.detail), std::string::npos) << report.detail;
    ExpectNoNewImage("an older image");
  }
  EXPECT_EQ(ExactTreeWithTimes(music_), before);
}

// Joliet counts UTF-16 units: 64 of them pass, one more is reported with
// the name and its length, never cut; characters Joliet forbids are
// reported too.
TEST(CheckImagePlanTest, NamesADiscCannotHold) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
  std::string dakuten;
  for (int i = 0; i < 33; ++i) dakuten += U8(u"ｶﾞ");  // 66 characters in 198 bytes
  struct {
    std::string name;
    std::string problem;  // empty: none
  } kCases[] = {
      {std::string(64, 'a'), ""},
      {std::string(65, 'a'), "has 65 characters"},
      {std::string(62, 'a') + emoji, ""},
      {std::string(63, 'a') + emoji, "has 65 characters"},
      {dakuten, "has 66 characters"},
      {"a?b.mp3", "cannot"},
      {"a;1.mp3", "cannot"},
      {U8(u"ﾄｳｷｮｳ.mp3"), ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ExportPlan plan;
    plan.items.push_back({.is_file = false, .source = "a", .target = "folder"});
    plan.items.push_back({.is_file = true, .source = "a/b.mp3", .target = "folder/" + c.name});
    const auto problems = CheckImagePlan(plan);
    if (c.problem.empty()) {
      EXPECT_TRUE(problems.empty()) << problems.front().detail;
      continue;
    }
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].item, 1u);
    EXPECT_NE(problems[0].detail.find(c.name), std::string::npos) << problems[0].detail;
    EXPECT_NE(problems[0].detail.find(c.problem), std::string::npos) << problems[0].detail;
  }
}

}  // namespace
}  // namespace tarvel
