// The conversion pass split over two threads gives exactly what one thread
// gives: the rows, the log and its order, the messages, the notices, the
// duplicate numbers and the switch to check-only.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "rules/rules_test_support.h"
#include "run/conversion_pass.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::U8;

// Fixed readings that can be had for a second thread; the readings given
// there are counted, so that a test knows the second thread did read.
class TwinReadingService : public testing::FixedReadingService {
 public:
  TwinReadingService(std::initializer_list<std::pair<std::u16string, std::u16string>> words,
                     std::atomic<int>* twin_calls)
      : FixedReadingService(words), twin_calls_(twin_calls) {}
  std::optional<std::u16string> GetPhonetic(std::u16string_view text) override {
    if (is_twin_) ++*twin_calls_;
    return FixedReadingService::GetPhonetic(text);
  }
  std::unique_ptr<ReadingService> NewForAnotherThread() override {
    auto twin = std::make_unique<TwinReadingService>(*this);
    twin->is_twin_ = true;
    return twin;
  }

 private:
  std::atomic<int>* twin_calls_;
  bool is_twin_ = false;
};

struct Row {
  std::u16string path, name;
  int32_t is_file = 1;
  std::u16string artist, album, title;
};

struct Case {
  const char* name;
  std::vector<Row> rows;
  int32_t rows_per_part;  // the calling thread the even parts, the other the odd ones
  std::function<void(Settings&)> configure;
  bool reading_fails = false;
  bool front_end_fails = false;  // the first PumpEvents throws
};

// A front end whose first PumpEvents fails (memory ran out).
class FailingOnceFrontEnd : public RecordingFrontEnd {
 public:
  void PumpEvents() override {
    if (fail) {
      fail = false;
      throw std::bad_alloc();
    }
  }
  bool fail = false;
};

// Everything the pass leaves behind, for comparison.
struct Outcome {
  int32_t result = 0;
  bool switched = false;
  std::vector<std::u16string> rows;
  int32_t change_count = 0;
  std::u16string log;
  std::vector<std::u16string> messages;
  int tick_count = 0;
  uint64_t rule_notices = 0;
  int32_t check_only_name = 0, check_only_tag = 0;
  int64_t progress = -1;  // the last count of rows the pass reported
};

Outcome Convert(const Case& c, int32_t rows_per_part, std::atomic<int>* twin_calls,
                bool alternate = true) {
  FailingOnceFrontEnd ui;
  ui.fail = c.front_end_fails;
  TwinReadingService reading({{u"東京", u"トウキョウ"}, {u"夜", u"よる"}}, twin_calls);
  reading.guess_word = u"推";
  reading.fail = c.reading_fails;
  AppState app;
  app.ui = &ui;
  app.reading = &reading;
  Settings& s = app.settings;
  s.FlagDisplayLog = 1;
  s.FlagConvertFilename = 1;
  s.FlagRenameFolderName = 1;
  s.FlagConvertID3Tag = 1;
  s.FlagCheckOnlyFilename = 0;
  s.FlagCheckOnlyID3Tag = 0;
  s.ConvertLevelFilename = 1;
  s.ConvertLevelID3Tag = 1;
  s.FlagDetectFullCharFilename = 1;
  s.FlagDetectFullCharID3Tag = 1;
  s.LengthName = 30;
  s.FlagDicEnabledFilename = 0;  // no dic.csv here
  s.FlagDicEnabledID3Tag = 0;
  if (c.configure) c.configure(s);
  RunState run;
  for (const Row& r : c.rows) {
    FileEntry& e = AddEntry(run, r.path, r.name, r.is_file);
    e.OldArtist = e.NewArtist = r.artist;
    e.OldAlbum = e.NewAlbum = r.album;
    e.OldTitle = e.NewTitle = r.title;
  }
  Outcome out;
  out.result = ConvertEntriesScheduled(app, run, {rows_per_part, alternate}, &out.switched);
  for (int32_t i = 1; i <= run.EntryCount; ++i) {
    const FileEntry& e = run.EntryTable[i];
    out.rows.push_back(e.NewName + u"|" + e.NewArtist + u"|" + e.NewAlbum + u"|" + e.NewTitle +
                       u"|" + std::u16string(1, u'0' + e.Notices) + u"|" +
                       std::u16string(1, u'0' + e.RenameFlag) +
                       std::u16string(1, u'0' + e.TagFlag));
  }
  out.change_count = run.ChangeCount;
  out.progress = ui.last_progress[static_cast<size_t>(ProgressStage::kConvert)];
  out.log = ui.log;
  out.messages = ui.messages;
  out.tick_count = ui.tick_count;
  out.rule_notices = app.rule_notices;
  out.check_only_name = s.FlagCheckOnlyFilename;
  out.check_only_tag = s.FlagCheckOnlyID3Tag;
  return out;
}

// The row of folder `folder` in `parent`, then its `n` files, named and
// titled from `word` and the track number.
std::vector<Row> Album(std::u16string_view parent, std::u16string_view folder,
                       std::u16string_view word, int n) {
  std::vector<Row> rows = {{std::u16string(parent), std::u16string(folder), 0, {}, {}, {}}};
  const std::u16string path = std::u16string(parent) + std::u16string(folder) + u"/";
  for (int t = 1; t <= n; ++t) {
    std::u16string title = std::u16string(word) + u"の" + std::u16string(1, u'0' + t % 10);
    rows.push_back({path, title + u".mp3", 1, u"東京", u"夜の東京", title});
  }
  return rows;
}

// A file without tag texts.
Row Bare(std::u16string_view path, std::u16string_view name) {
  return {std::u16string(path), std::u16string(name), 1, {}, {}, {}};
}

std::vector<Row> Join(std::initializer_list<std::vector<Row>> parts) {
  std::vector<Row> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const Case kCases[] = {
    // 01 ハロー and 01 ﾊﾛｰ become one name: one on each side of the split,
    // and a third one further on; the numbers follow the rows' order.
    {"duplicates across the split point",
     Join({Album(u"/m/", u"東京", u"夜", 3),
           {Bare(u"/m/東京/", u"01 ハロー.mp3"), Bare(u"/m/東京/", u"01 ﾊﾛｰ.mp3")},
           Album(u"/m/", u"東京", u"東京", 2),
           {Bare(u"/m/東京/", u"01 ハロー.mp3")}}),
     5, nullptr},
    // A character that cannot be made half-width after the split turns the
    // whole run check-only, and the first part's rows keep no flag either.
    {"a character in the second part turns the run check-only",
     Join({Album(u"/m/", u"a", u"夜", 4), Album(u"/m/", u"b", u"猫", 2)}), 5, nullptr},
    // The repairs, guesses and shortened names said on both sides, with the
    // tags taken from the file names and the folder.
    {"notices in both parts",
     Join({{Bare(u"/m/a/", u"推理?.mp3"), Bare(u"/m/a/", u"a.mp3")},
           Album(u"/m/", u"a", u"東京東京東京東京東京東京東京", 2),
           {Bare(u"/m/a/", u"推測*の夜.mp3"), Bare(u"/m/a/", u"x.MP3.txt")}}),
     3,
     [](Settings& s) {
       s.ID3TagTitle = 1;
       s.ID3TagAlbum = 2;
       s.FlagDetectFullCharFilename = 0;
       s.FlagDetectFullCharID3Tag = 0;
     }},
    // Without the log the failures become messages, from both parts, in the
    // order of the rows.
    {"messages of a failing reading from both parts",
     Join({Album(u"/m/", u"a", u"夜", 2), Album(u"/m/", u"b", u"東京", 2)}), 3,
     [](Settings& s) { s.FlagDisplayLog = 0; }, true},
    // The second part holds one row only, a folder.
    {"a split before the last row",
     Join({Album(u"/m/", u"a", u"夜", 3), Album(u"/m/", u"b", u"夜", 0)}), 4, nullptr},
};

TEST(TwoThreadPassTest, GivesWhatOneThreadGives) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::atomic<int> twin_calls{0};
    const Outcome one = Convert(c, 0, &twin_calls);
    ASSERT_EQ(twin_calls, 0);
    // Alternating parts, so that both threads surely have rows; then as the
    // program shares them, each thread taking the next part when free.
    for (const bool alternate : {true, false}) {
      SCOPED_TRACE(alternate ? "alternating parts" : "the next free part");
      const Outcome two = Convert(c, c.rows_per_part, &twin_calls, alternate);
      if (alternate && c.rows.back().is_file == 1) {
        EXPECT_GT(twin_calls, 0) << "the second part did not read on its own service";
      }
      // The rows are counted as they are through on both threads.
      EXPECT_EQ(one.progress, static_cast<int64_t>(c.rows.size()));
      if (alternate) {
        EXPECT_GT(two.progress, 0);
      }
      EXPECT_EQ(two.result, one.result);
      EXPECT_EQ(two.switched, one.switched);
      EXPECT_EQ(two.rows, one.rows);
      EXPECT_EQ(two.change_count, one.change_count);
      EXPECT_EQ(U8(two.log), U8(one.log));
      EXPECT_EQ(two.messages, one.messages);
      EXPECT_EQ(two.tick_count, one.tick_count);
      EXPECT_EQ(two.rule_notices, one.rule_notices);
      EXPECT_EQ(two.check_only_name, one.check_only_name);
      EXPECT_EQ(two.check_only_tag, one.check_only_tag);
    }
  }
}

// A row whose conversion fails stops the pass on two threads as on one,
// whatever the other thread has done meanwhile.
TEST(TwoThreadPassTest, AFailedRowStopsThePass) {
  Case c{"front end fails", Join({Album(u"/m/", u"a", u"夜", 3), Album(u"/m/", u"b", u"夜", 3)}), 2,
         nullptr};
  c.front_end_fails = true;
  std::atomic<int> calls{0};
  for (int32_t rows_per_part : {0, c.rows_per_part}) {
    EXPECT_EQ(Convert(c, rows_per_part, &calls).result, 0) << rows_per_part;
  }
}

// The cases above must say what they are about, or the comparison proves
// little: the one-thread outcomes hold what each case is named for.
TEST(TwoThreadPassTest, CasesHoldWhatTheyAreAbout) {
  std::atomic<int> calls{0};
  const Outcome dup = Convert(kCases[0], 0, &calls);
  EXPECT_NE(U8(dup.log).find("重複したファイル名"), std::string::npos);
  const Outcome full = Convert(kCases[1], 0, &calls);
  EXPECT_TRUE(full.switched);
  EXPECT_EQ(full.tick_count, 1);
  const Outcome notices = Convert(kCases[2], 0, &calls);
  EXPECT_NE(U8(notices.log).find("読みを推測しました"), std::string::npos);
  EXPECT_NE(U8(notices.log).find("CDRに焼けない文字"), std::string::npos);
  const Outcome messages = Convert(kCases[3], 0, &calls);
  EXPECT_GE(messages.messages.size(), 2u);
}

}  // namespace
}  // namespace tarvel
