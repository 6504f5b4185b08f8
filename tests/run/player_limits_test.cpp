// What a player reads of a copy: each limit broken once and named, full
// folders split into numbered parts, and exports (folder and image) refused
// before anything is written while a limit is broken.
#include "run/player_limits.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/export_run.h"
#include "run/iso_export.h"
#include "run/run_test_support.h"
#include "sample_library.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::ExactTree;

ExportItem Folder(std::string target) {
  ExportItem item;
  item.source = target;
  item.target = std::move(target);
  return item;
}

ExportItem File(std::string target, uint64_t size = 100) {
  ExportItem item = Folder(std::move(target));
  item.is_file = true;
  item.row = 1;
  item.source_size = item.audio_size = size;
  return item;
}

ExportPlan PlanOf(std::vector<ExportItem> items) {
  ExportPlan plan;
  plan.library = "/lib";
  for (ExportItem& item : items) {
    if (item.is_file) {
      ++plan.file_count;
      plan.byte_count += item.size();
    } else {
      ++plan.folder_count;
    }
    plan.items.push_back(std::move(item));
  }
  return plan;
}

std::vector<std::string> Targets(const ExportPlan& plan) {
  std::vector<std::string> out;
  for (const ExportItem& item : plan.items) out.push_back(item.target);
  return out;
}

TEST(PlayerLimitsTest, EachLimitBrokenOnceIsNamedWithItsFigures) {
  constexpr uint64_t kMiB = 1024 * 1024;
  // Within every limit of `base`: folders 2 deep, 2 folders, 2 files in a
  // folder, names of 8 characters, 2 MiB.
  const PlayerLimits base{.max_depth = 2,
                          .max_folders = 2,
                          .max_files_in_folder = 2,
                          .max_name_length = 8,
                          .max_megabytes = 2};
  struct Case {
    const char* name;
    std::vector<ExportItem> items;
    PlayerLimit limit;
    std::string where;
    int64_t figure;
    int64_t allowed;
    std::vector<size_t> items_at_fault;
    std::vector<std::string> in_detail;
  } const kCases[] = {
      {"depth",
       {Folder("a"), Folder("a/b/c")},
       PlayerLimit::kDepth,
       "a/b/c",
       3,
       2,
       {1},
       {"folder depth", "a/b/c", "3", "reads 2"}},
      {"name",
       {Folder("a"), File("a/abcde.mp3"), File("a/ab.mp3")},
       PlayerLimit::kNameLength,
       "a/abcde.mp3",
       9,
       8,
       {1},
       {"name length", "abcde.mp3", "9 characters", "shows 8"}},
      {"files in a folder",
       {Folder("a"), File("a/1.mp3"), File("a/2.mp3"), File("b.mp3"), File("a/3.mp3")},
       PlayerLimit::kFilesInFolder,
       "a",
       3,
       2,
       {4},
       {"files in a folder", "folder a", "3 files", "reads 2"}},
      {"files at the top",
       {File("1.mp3"), File("2.mp3"), File("3.mp3")},
       PlayerLimit::kFilesInFolder,
       "",
       3,
       2,
       {2},
       {"the top of the copy holds 3 files"}},
      {"folders",
       {Folder("a"), Folder("b"), File("b/1.mp3"), Folder("c")},
       PlayerLimit::kFolders,
       "",
       3,
       2,
       {3},
       {"folders", "has 3 folders", "reads 2"}},
      {"size",
       {File("1.mp3", kMiB), File("2.mp3", kMiB), Folder("a"), File("a/3.mp3", kMiB / 2)},
       PlayerLimit::kSize,
       "",
       3,
       2,
       {3},
       {"size", "holds 3 MB", "holds 2 MB"}},
      {"one byte past the size",
       {File("1.mp3", kMiB), File("2.mp3", kMiB + 1)},
       PlayerLimit::kSize,
       "",
       3,
       2,
       {1},
       {"holds 3 MB", "holds 2 MB"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const auto found = CheckPlayerLimits(PlanOf(c.items), base);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].limit, c.limit);
    EXPECT_EQ(found[0].where, c.where);
    EXPECT_EQ(found[0].figure, c.figure);
    EXPECT_EQ(found[0].allowed, c.allowed);
    EXPECT_EQ(found[0].items, c.items_at_fault);
    for (const std::string& piece : c.in_detail) {
      EXPECT_NE(found[0].detail.find(piece), std::string::npos)
          << piece << " in " << found[0].detail;
    }
  }
  // Exactly at every limit: nothing to say, also with no size limit.
  EXPECT_TRUE(CheckPlayerLimits(PlanOf({Folder("a"), Folder("a/b"), File("a/b/abcd.mp3", 2 * kMiB),
                                        File("a/b/2.mp3", 0)}),
                                base)
                  .empty());
  PlayerLimits no_size = base;
  no_size.max_megabytes = 0;
  EXPECT_TRUE(CheckPlayerLimits(PlanOf({File("1.mp3", 9 * kMiB)}), no_size).empty());
}

TEST(PlayerLimitsTest, FullFoldersSplitIntoNumberedPartsInOrder) {
  PlayerLimits limits{.max_files_in_folder = 2, .max_name_length = 64};
  struct Case {
    const char* name;
    std::vector<ExportItem> items;
    int32_t part_name_length;
    int64_t split;
    std::vector<std::string> targets;
  } const kCases[] = {
      {"parts beside each other, the rest into the first",
       {Folder("A"), Folder("A/ALBUM"), File("A/ALBUM/1.mp3"), Folder("A/ALBUM/sub"),
        File("A/ALBUM/sub/x.mp3"), File("A/ALBUM/2.mp3"), File("A/ALBUM/3.mp3"),
        File("A/ALBUM/4.mp3"), File("A/ALBUM/5.mp3"), File("A/z.mp3")},
       255,
       1,
       {"A", "A/ALBUM-1", "A/ALBUM-1/1.mp3", "A/ALBUM-1/sub", "A/ALBUM-1/sub/x.mp3",
        "A/ALBUM-1/2.mp3", "A/ALBUM-2", "A/ALBUM-2/3.mp3", "A/ALBUM-2/4.mp3", "A/ALBUM-3",
        "A/ALBUM-3/5.mp3", "A/z.mp3"}},
      {"a number a neighbour has is passed over, case folded",
       {Folder("x"), File("x/1.mp3"), File("x/2.mp3"), File("x/3.mp3"), Folder("X-2")},
       255,
       1,
       {"x-1", "x-1/1.mp3", "x-1/2.mp3", "x-3", "x-3/3.mp3", "X-2"}},
      {"cut to the name length, as duplicates are",
       {Folder("ABCDEFGH"), File("ABCDEFGH/1.mp3"), File("ABCDEFGH/2.mp3"), File("ABCDEFGH/3.mp3")},
       6,
       1,
       {"ABCD-1", "ABCD-1/1.mp3", "ABCD-1/2.mp3", "ABCD-2", "ABCD-2/3.mp3"}},
      {"a full folder in a full folder",
       {Folder("a"), File("a/1.mp3"), File("a/2.mp3"), File("a/3.mp3"), Folder("a/b"),
        File("a/b/1.mp3"), File("a/b/2.mp3"), File("a/b/3.mp3")},
       255,
       2,
       {"a-1", "a-1/1.mp3", "a-1/2.mp3", "a-2", "a-2/3.mp3", "a-1/b-1", "a-1/b-1/1.mp3",
        "a-1/b-1/2.mp3", "a-1/b-2", "a-1/b-2/3.mp3"}},
      {"a folder within the limit stays",
       {Folder("a"), File("a/1.mp3"), File("a/2.mp3")},
       255,
       0,
       {"a", "a/1.mp3", "a/2.mp3"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ExportPlan plan = PlanOf(c.items);
    const int64_t folders = plan.folder_count;
    limits.part_name_length = c.part_name_length;
    int64_t split = -1;
    std::string error;
    ASSERT_TRUE(SplitFullFolders(plan, limits, &split, &error)) << error;
    EXPECT_EQ(split, c.split);
    EXPECT_EQ(Targets(plan), c.targets);
    int64_t folder_items = 0;
    for (const ExportItem& item : plan.items) folder_items += item.is_file ? 0 : 1;
    EXPECT_EQ(plan.folder_count, folder_items);
    EXPECT_GE(plan.folder_count, folders);
    // The split plan is taken: by the player and by any writer.
    EXPECT_TRUE(CheckPlayerLimits(plan, limits).empty());
    EXPECT_TRUE(CheckExportPlan(plan).empty());
  }
  // A part's number that cannot fit the name length is refused, not cut.
  ExportPlan plan =
      PlanOf({Folder("abc"), File("abc/1.mp3"), File("abc/2.mp3"), File("abc/3.mp3")});
  limits.part_name_length = 1;
  int64_t split = 0;
  std::string error;
  EXPECT_FALSE(SplitFullFolders(plan, limits, &split, &error));
  EXPECT_NE(error.find("abc"), std::string::npos) << error;
}

// The limits come from the Max... options; parts' names are cut to
// LengthName only when the run cuts names to it.
TEST(PlayerLimitsTest, LimitsComeFromTheSettings) {
  struct {
    int32_t convert, limit30;
    int32_t part_name_length;
  } const kCases[] = {{1, 1, 12}, {1, 0, 255}, {0, 1, 255}};
  for (const auto& c : kCases) {
    Settings s;
    s.FlagConvertFilename = c.convert;
    s.FlagLimit30Char = c.limit30;
    s.LengthName = 12;
    s.MaxFolderDepth = 3;
    s.MaxFolderCount = 4;
    s.MaxFilesInFolder = 5;
    s.MaxNameLength = 6;
    s.MaxMegabytes = 7;
    const PlayerLimits l = LimitsOf(s);
    EXPECT_EQ(l.part_name_length, c.part_name_length) << c.convert << c.limit30;
    EXPECT_EQ(std::vector<int32_t>({l.max_depth, l.max_folders, l.max_files_in_folder,
                                    l.max_name_length, l.max_megabytes}),
              std::vector<int32_t>({3, 4, 5, 6, 7}));
  }
}

// Exports of a small library whose one folder holds three songs, for a
// player that reads two in a folder.
class PlayerExportTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    music_ = dir() / "music";
    for (const char16_t* name : {u"album/s1.mp3", u"album/s2.mp3", u"album/s3.mp3"}) {
      sample::WriteMp3(music_, name, 64, std::nullopt);
    }
    app_.ui = &ui_;
    app_.reading = &reading_;
    ASSERT_TRUE(testing::LoadShippedTables(app_));
    app_.settings = testing::ApplyingRun(music_);
    app_.settings.MaxFilesInFolder = 2;
    before_ = ExactTree(music_);
  }

  fs::path music_;
  RecordingFrontEnd ui_;
  testing::FixedReadingService reading_{};
  AppState app_;
  std::map<std::string, std::string> before_;
};

TEST_F(PlayerExportTest, RefusesACopyBreakingALimitAndSplitsWhenAsked) {
  const fs::path dest = dir() / "stick";
  ExportReport refused = RunExport(app_, dest.native());
  EXPECT_EQ(refused.outcome, ExportReport::Outcome::kRefused);
  // Each broken limit on a line of its own, then what it means.
  EXPECT_EQ(refused.detail,
            "files in a folder: the folder album holds 3 files; the player reads 2\n"
            "the player cannot read the copy as it stands; nothing was written");
  EXPECT_FALSE(fs::exists(dest));
  ASSERT_NE(refused.player.changes, nullptr);
  int marked = 0;
  for (const PlanRow& row : refused.player.changes->rows) {
    if ((row.notices & kNoticePlayerLimit) != 0) {
      ++marked;
      EXPECT_EQ(row.old_name, u"s3.mp3");
    }
  }
  EXPECT_EQ(marked, 1);

  const fs::path image = dir() / "disc.iso";
  const ImageReport no_image = RunImageExport(app_, image.native());
  EXPECT_EQ(no_image.outcome, ImageReport::Outcome::kRefused);
  EXPECT_EQ(no_image.player.violations.size(), 1u);
  EXPECT_FALSE(fs::exists(image));

  app_.settings.FlagSplitFolders = 1;
  const ExportReport split = RunExport(app_, dest.native());
  ASSERT_EQ(split.outcome, ExportReport::Outcome::kCompleted) << split.detail;
  EXPECT_EQ(split.player.folders_split, 1);
  EXPECT_TRUE(fs::exists(dest / "album-1/s1.mp3"));
  EXPECT_TRUE(fs::exists(dest / "album-1/s2.mp3"));
  EXPECT_TRUE(fs::exists(dest / "album-2/s3.mp3"));
  EXPECT_FALSE(fs::exists(dest / "album"));
  EXPECT_EQ(ExactTree(music_), before_);
}

}  // namespace
}  // namespace tarvel
