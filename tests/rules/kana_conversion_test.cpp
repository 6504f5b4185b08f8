#include "rules/kana_conversion.h"

#include <gtest/gtest.h>

#include "rules_test_support.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::RulesFixture;
using testing::U8;

constexpr std::u16string_view kNoReadingNotice =
    u"漢字→ｶﾀｶﾅ変換機能はIME98がないと使用できません\r\n\r\n";

TEST(ConvertKanjiToKanaTest, GivesTheHalfWidthKanaFormOfTheReading) {
  struct {
    std::u16string_view input, expected;
    std::u16string_view guessed = {};  // a word the service only guesses
    std::u16string_view log = u"";
  } kCases[] = {
      {u"東京の夜", u"ﾄｳｷｮｳﾉﾖﾙ"},
      {u"ガギ", u"ｶﾞｷﾞ"},  // voiced kana become two characters
      {u"パ", u"ﾊﾟ"},
      {u"ＡＢＣ１２３", u"ABC123"},  // the reading leaves them; the width step narrows
      {u"a　b", u"a b"},
      {u"「ー」、。・", u"｢ｰ｣､｡･"},
      {u"★漢", u"★漢"},  // no half-width form, no reading
      {u"ヶ", u"ｹ"},     // narrowed after the reading, which needs it
      {u"いすゞ", u"ｲｽｽﾞ"},
      {u"01 日本.mp3", u"01 ﾆﾎﾝ.mp3"},
      {u"😀ア", u"😀ｱ"},
      {u"", u""},
      {u"東京の夜", u"ﾄｳｷｮｳﾉﾖﾙ", u"夜",
       u"読みを推測しました。\r\n　東京の夜 → ﾄｳｷｮｳﾉﾖﾙ\r\n"
       u"　辞書ファイルに登録すると読みを直せます。\r\n"},
  };
  for (const auto& c : kCases) {
    RulesFixture f;
    f.reading.guess_word = c.guessed;
    std::u16string text(c.input);
    EXPECT_EQ(ConvertKanjiToKana(text, f.app), 1) << U8(c.input);
    EXPECT_EQ(text, c.expected) << U8(c.input) << " -> " << U8(text);
    EXPECT_EQ(f.reading.calls, 1);  // every text goes to the service, even empty
    EXPECT_EQ(f.ui.log, c.log);
  }
}

TEST(ConvertKanjiToKanaTest, FailsWithANoticeWhenThereIsNoReadingService) {
  RulesFixture failing;
  failing.reading.fail = true;
  RulesFixture missing;
  missing.app.reading = nullptr;
  for (RulesFixture* f : {&failing, &missing}) {
    std::u16string text = u"東京";
    EXPECT_EQ(ConvertKanjiToKana(text, f->app), 0);
    EXPECT_EQ(text, u"東京");
    EXPECT_EQ(f->ui.log, kNoReadingNotice);
    EXPECT_TRUE(f->ui.messages.empty());
    EXPECT_EQ(ReadingInKatakana(f->app, u"東京"), u"");
  }
  // The reading offered for a word to put in the dictionary, in katakana.
  RulesFixture working;
  EXPECT_EQ(ReadingInKatakana(working.app, u"東京の夜"), u"トウキョウノヨル");
  // The notice goes to the log even when the log display is off.
  RulesFixture quiet;
  quiet.reading.fail = true;
  quiet.app.settings.FlagDisplayLog = 0;
  std::u16string text;
  EXPECT_EQ(ConvertKanjiToKana(text, quiet.app), 0);
  EXPECT_EQ(quiet.ui.log, kNoReadingNotice);
}

std::u16string DetectionEntry(std::u16string_view c) {
  return u"全角→半角に変換できなかった文字（" + std::u16string(c) +
         u"）があります。\r\n辞書ファイルに登録する事で回避できます。\r\n"
         u"オプションをチェックのみにして続行します\r\n";
}

TEST(DetectFullWidthCharsTest, ReportsEveryTwoByteCharacterInOrder) {
  struct {
    std::u16string_view input;
    std::u16string_view found;  // the two-byte characters, in order
  } kCases[] = {
      {u"", u""},
      {u"ABC ｶﾞｷﾞ.mp3", u""},
      {u"ｱ😀€Ω", u"Ω"},  // emoji and € cannot be encoded: one byte
      {u"漢字三", u"漢字三"},
      {u"a★b", u"★"},
      {u"ＡあA", u"Ａあ"},
      {u"ﾄｳｷｮｳ々", u"々"},
  };
  for (const auto& c : kCases) {
    RulesFixture f;
    f.app.settings.FlagDisplayLog = 0;  // detections are logged regardless
    const std::u16string text(c.input);
    bool found = false;
    EXPECT_EQ(DetectFullWidthChars(text, f.app, found), 1);
    EXPECT_EQ(text, c.input);
    std::u16string expected_log;
    for (char16_t ch : c.found) expected_log += DetectionEntry(std::u16string_view(&ch, 1));
    EXPECT_EQ(f.ui.log, expected_log) << U8(c.input);
    EXPECT_EQ(found, !c.found.empty()) << U8(c.input);
    // The settings and the boxes are the run's to switch.
    EXPECT_EQ(f.app.settings.FlagCheckOnlyFilename, 0) << U8(c.input);
    EXPECT_EQ(f.app.settings.FlagCheckOnlyID3Tag, 0) << U8(c.input);
    EXPECT_EQ(f.ui.tick_count, 0) << U8(c.input);
    EXPECT_TRUE(f.ui.messages.empty());
  }
}

TEST(DetectFullWidthCharsTest, ThreeKanjiWriteNineLines) {
  RulesFixture f;
  bool found = false;
  EXPECT_EQ(DetectFullWidthChars(u"漢字三", f.app, found), 1);
  size_t lines = 0;
  for (size_t p = f.ui.log.find(u"\r\n"); p != std::u16string::npos;
       p = f.ui.log.find(u"\r\n", p + 2)) {
    ++lines;
  }
  EXPECT_EQ(lines, 9u);
}

}  // namespace
}  // namespace tarvel
