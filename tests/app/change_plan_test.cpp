#include "app/change_plan.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace tarvel {
namespace {

TEST(ChangePlanTest, RelativeFolders) {
  struct {
    std::u16string_view path, data_folder, expected;
  } kCases[] = {
      {u"/m/", u"/m", u"."},
      {u"/m/", u"/m/", u"."},
      {u"/m/a/b/", u"/m", u"a/b"},
      {u"/m/a/", u"/m/", u"a"},
      {u"/mx/a/", u"/m", u"/mx/a"},  // only a prefix of the name: not
                                     // below it
      {u"/a/", u"/", u"a"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Utf16ToUtf8(RelativeFolder(c.path, c.data_folder)), Utf16ToUtf8(c.expected))
        << Utf16ToUtf8(c.path) << " in " << Utf16ToUtf8(c.data_folder);
  }
}

// Rows that change or carry a notice are in the plan, in table order, with
// only what changes filled in.
TEST(ChangePlanTest, TakesTheRowsThatChangeOrCarryANotice) {
  RunState run;
  FileEntry& folder = AddEntry(run, u"/m/", u"歌手", 0);
  folder.NewName = u"ｶｼｭ";
  const SharedText sub(u"/m/歌手/");
  AddEntry(run, sub, u"same.mp3", 1);  // nothing changes: left out
  FileEntry& tagged = AddEntry(run, sub, u"tag.mp3", 1);
  tagged.OldTitle = u"夜";
  tagged.NewTitle = u"ﾖﾙ";
  tagged.OldArtist = tagged.NewArtist = u"同じ";
  FileEntry& noted = AddEntry(run, sub, u"∴.mp3", 1);  // unchanged, with a notice
  noted.Notices = kNoticeFullWidth | kNoticeNumbered;

  auto plan = MakeChangePlan(run, u"/m", true);
  ASSERT_EQ(plan->rows.size(), 3u);
  EXPECT_TRUE(plan->check_only);
  const PlanRow& f = plan->rows[0];
  EXPECT_EQ(f.row, 1);
  EXPECT_FALSE(f.is_file);
  EXPECT_EQ(f.folder, u".");
  EXPECT_EQ(f.new_name, u"ｶｼｭ");
  const PlanRow& t = plan->rows[1];
  EXPECT_EQ(t.row, 3);
  EXPECT_EQ(t.folder, u"歌手");
  EXPECT_TRUE(t.is_file);
  EXPECT_TRUE(t.new_name.empty());
  EXPECT_EQ(t.title, u"夜 → ﾖﾙ");
  EXPECT_TRUE(t.artist.empty());
  const PlanRow& n = plan->rows[2];
  EXPECT_EQ(n.row, 4);
  EXPECT_TRUE(n.folder.SharesWith(t.folder));
  EXPECT_EQ(Utf16ToUtf8(NoticeText(n.notices)), Utf16ToUtf8(u"重複番号を付加、全角文字が残る"));
  EXPECT_TRUE(NoticeText(0).empty());
  // The player's limit comes last, after the notices of the conversion.
  EXPECT_EQ(Utf16ToUtf8(NoticeText(kNoticePlayerLimit | kNoticeReadingGuess)),
            Utf16ToUtf8(u"読みを推測、プレーヤーの制限を超える"));
}

}  // namespace
}  // namespace tarvel
