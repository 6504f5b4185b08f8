#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/text.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::U8;

// Every character gets its own form whatever stands next to it.
TEST(HalfWidthKanaFormTest, ConvertsCharacterByCharacter) {
  struct {
    std::u16string_view input, expected;
  } const kCases[] = {
      {u"カ\u3099", u"ｶﾞ"},                   // a separate combining mark narrows too
      {u"ゐ\u3099", u"ヰﾞ"},                  // ヰ has no half-width form
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
      u"あいうがぱゔゝゞアガパヴヽーｰ・「」。、　ＡＺａ０９！～漢々a1 .\u3099\u309A";
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

}  // namespace
}  // namespace tarvel
