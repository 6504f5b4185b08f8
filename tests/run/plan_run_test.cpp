// The plan a run hands its front end, and the pass that only makes one.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/change_plan.h"
#include "app/tables.h"
#include "platform/text.h"
#include "rules/rules_test_support.h"
#include "run/run_driver.h"
#include "run/run_test_support.h"
#include "sample_library.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

class PlanRunTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    music_ = dir() / "music";
    const sample::Tag tag{u"夜", u"さくら", u"夜", u"1999", u"", 13};
    sample::WriteMp3(music_, u"東京.mp3", 300, tag);
    sample::WriteMp3(music_, u"歌手/夜.mp3", 200, tag);
    app_.ui = &ui_;
    app_.reading = &reading_;
    ASSERT_TRUE(testing::LoadShippedTables(app_));
    app_.settings = testing::ApplyingRun(music_);
  }

  // The plan row whose old name is `name`.
  const PlanRow* Row(std::u16string_view name) const {
    if (!ui_.plan) return nullptr;
    for (const PlanRow& r : ui_.plan->rows) {
      if (r.old_name == name) return &r;
    }
    return nullptr;
  }

  fs::path music_;
  RecordingFrontEnd ui_;
  testing::FixedReadingService reading_{
      {u"東京", u"トウキョウ"}, {u"夜", u"よる"}, {u"歌手", u"かしゅ"}};
  AppState app_;
};

// A check-only run opens its plan, a run that applies it only fills the
// table; both plans hold the same rows. A run that applies either part
// (names or tags) is no check-only run.
TEST_F(PlanRunTest, ARunShowsItsPlanAndOpensItWhenCheckOnly) {
  struct {
    int32_t convert_names, check_only_names, convert_tags, check_only_tags;
    bool check_only;
  } kCases[] = {
      {1, 1, 1, 1, true},  {1, 0, 1, 0, false},  // the library is converted from here on
      {1, 0, 0, 1, false}, {0, 1, 1, 0, false}, {1, 1, 1, 0, false}, {1, 0, 1, 1, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message()
                 << c.convert_names << c.check_only_names << c.convert_tags << c.check_only_tags);
    app_.settings.FlagConvertFilename = c.convert_names;
    app_.settings.FlagCheckOnlyFilename = c.check_only_names;
    app_.settings.FlagConvertID3Tag = c.convert_tags;
    app_.settings.FlagCheckOnlyID3Tag = c.check_only_tags;
    ui_.plan.reset();
    RunState run;
    RunConversion(app_, run);
    ASSERT_TRUE(ui_.plan);
    EXPECT_EQ(ui_.plan_opened, c.check_only);
    EXPECT_EQ(ui_.plan->check_only, c.check_only);
    if (&c - kCases >= 2) continue;
    ASSERT_EQ(ui_.plan->rows.size(), 3u);
    const PlanRow* song = Row(u"東京.mp3");
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->folder, u".");
    EXPECT_EQ(Utf16ToUtf8(song->new_name), Utf16ToUtf8(u"ﾄｳｷｮｳ.mp3"));
    EXPECT_EQ(Utf16ToUtf8(song->title), Utf16ToUtf8(u"夜 → ﾖﾙ"));
    const PlanRow* folder = Row(u"歌手");
    ASSERT_NE(folder, nullptr);
    EXPECT_FALSE(folder->is_file);
    EXPECT_EQ(Utf16ToUtf8(Row(u"夜.mp3")->folder), Utf16ToUtf8(u"歌手"));
  }
  // A single change is enough to open the plan (the rest is converted).
  fs::remove_all(music_ / Utf16ToUtf8(u"歌手"));
  sample::WriteMp3(music_, u"夜.mp3", 100, std::nullopt);
  app_.settings.FlagCheckOnlyFilename = app_.settings.FlagCheckOnlyID3Tag = 1;
  RunState one;
  RunConversion(app_, one);
  EXPECT_EQ(one.ChangeCount, 1);
  EXPECT_TRUE(ui_.plan_opened);
}

// The pass that only plans changes nothing: no list, no file, no setting,
// no log; what stops it is shown.
TEST_F(PlanRunTest, APlanOnlyPassWritesNothing) {
  app_.settings.FlagCheckOnlyFilename = 0;
  app_.settings.FlagCheckOnlyID3Tag = 0;
  app_.settings.FlagDisplayLog = 1;
  app_.settings.FlagDetectFullCharFilename = 1;  // ∴ would switch a run to check-only
  sample::WriteMp3(music_, u"∴.mp3", 100, std::nullopt);
  const auto before = testing::ExactTree(music_);
  const Settings settings = app_.settings;
  RunState run;
  RunReport report = PlanConversion(app_, run);
  EXPECT_EQ(report.outcome, RunReport::Outcome::kCompleted);
  EXPECT_EQ(testing::ExactTree(music_), before);
  EXPECT_FALSE(fs::exists(music_ / "list.csv"));
  EXPECT_EQ(app_.settings.FlagCheckOnlyFilename, settings.FlagCheckOnlyFilename);
  EXPECT_EQ(app_.settings.FlagDisplayLog, 1);
  EXPECT_TRUE(ui_.log.empty());
  EXPECT_EQ(ui_.tick_count, 0);
  ASSERT_TRUE(ui_.plan);
  EXPECT_FALSE(ui_.plan_opened);
  EXPECT_EQ(Utf16ToUtf8(Row(u"東京.mp3")->new_name), Utf16ToUtf8(u"ﾄｳｷｮｳ.mp3"));
  EXPECT_EQ(Row(u"∴.mp3")->notices, kNoticeFullWidth);

  app_.settings.PathDataFolder = *Utf8ToUtf16((dir() / "gone").native());
  ui_.plan.reset();
  report = PlanConversion(app_, run);
  EXPECT_EQ(report.outcome, RunReport::Outcome::kInvalidFolder);
  EXPECT_FALSE(ui_.plan);
  ASSERT_EQ(ui_.messages.size(), 1u);
}

// A front end that shows no plan (the command line) is handed none; the run
// and the plan-only pass still end as they would with one, with the same
// rows counted as changed.
TEST_F(PlanRunTest, AFrontEndThatShowsNoPlanGetsNone) {
  class NoPlanFrontEnd : public RecordingFrontEnd {
   public:
    bool WantsPlan() const override { return false; }
  };
  struct {
    const char* name;
    RunReport (*pass)(AppState&, RunState&, DiskOps&);
  } kCases[] = {{"run", RunConversion}, {"plan only", PlanConversion}};
  app_.settings.FlagCheckOnlyFilename = 1;
  app_.settings.FlagCheckOnlyID3Tag = 1;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    NoPlanFrontEnd quiet_ui;
    app_.ui = &quiet_ui;
    RunState run;
    const RunReport report = c.pass(app_, run, SystemDiskOps());
    EXPECT_EQ(report.outcome, RunReport::Outcome::kCompleted);
    EXPECT_FALSE(quiet_ui.plan);
    EXPECT_EQ(run.ChangeCount, 3);
  }
}

}  // namespace
}  // namespace tarvel
