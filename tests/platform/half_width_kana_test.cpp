#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/text.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::U8;

// Every character but an iteration mark gets its own form whatever stands
// next to it.
TEST(HalfWidthKanaFormTest, ConvertsCharacterByCharacter) {
  struct {
    std::u16string_view input, expected;
  } const kCases[] = {
      {u"カ\u3099", u"ｶﾞ"},                   // a separate combining mark narrows too
      {u"ゐ\u3099", u"ｲﾞ"},                   // ヰ has none of its own: the nearest
      {u"㋐ア", u"㋐ｱ"},                      // outside the kana block: kept, as when alone
      {u"\u302Bア\u302A", u"\u302Bｱ\u302A"},  // no reordering of marks
      {u"ｶﾞa", u"ｶﾞa"},
      {u"😀あ", u"😀ｱ"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ToHalfWidthKana(c.input), c.expected) << U8(c.input);
  }

  std::mt19937 rng(7);
  const std::u16string pool =
      u"あいうがぱゔアガパヴーｰ・「」。、　ＡＺａ０９！～漢々a1 .ヶゐ〆\u3099\u309A";
  for (int i = 0; i < 2000; ++i) {
    std::u16string text, expected;
    const int n = 1 + static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k) {
      char16_t c = pool[rng() % pool.size()];
      text.push_back(c);
      expected += ToHalfWidthKana(std::u16string(1, c));
    }
    ASSERT_EQ(ToHalfWidthKana(text), expected) << U8(text);
  }
}

// An iteration mark repeats the kana before it, voiced for ゞ ヾ where the
// kana can take the mark; with no kana right before it, it keeps its length.
TEST(HalfWidthKanaFormTest, IterationMarksRepeatTheKanaBefore) {
  struct {
    std::u16string_view input, expected;
  } const kCases[] = {
      {u"いすゞ", u"ｲｽｽﾞ"}, {u"こゝろ", u"ｺｺﾛ"}, {u"ぶゝ", u"ﾌﾞﾌ"},
      {u"ぱゞ", u"ﾊﾟﾊﾞ"},   {u"タヽミ", u"ﾀﾀﾐ"}, {u"ミヾ", u"ﾐﾐ"},  // ﾐ takes no mark
      {u"ゝ", u"ｰ"},        {u"漢ゝ", u"漢ｰ"},   {u"aゞ", u"aｰ"},
      {u"ゝゝ", u"ｰｰ"},     {u"カヽヽ", u"ｶｶｶ"}, {u"ヶ丘ヽ", u"ｹ丘ｰ"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(U8(ToHalfWidthKana(c.input)), U8(c.expected)) << U8(c.input);
  }
}

}  // namespace
}  // namespace tarvel
