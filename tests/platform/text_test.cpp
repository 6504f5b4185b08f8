#include "platform/text.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::U8;

TEST(TextTest, IsAsciiStopsAtU0080AndByte0x80) {
  struct {
    std::u16string_view text;
    bool expected;
  } const kTexts[] = {
      {u"", true},         {u"song 01.mp3", true}, {u"\u007F", true},
      {u"a\u0080", false}, {u"\u00E9", false},     {u"日本", false},
  };
  for (const auto& c : kTexts) EXPECT_EQ(IsAscii(c.text), c.expected) << U8(c.text);
  struct {
    std::string_view bytes;
    bool expected;
  } const kBytes[] = {
      {"", true}, {"abc\x7F", true}, {"a\x80", false}, {"\xFF", false}, {"\xE6\x97\xA5", false},
  };
  for (const auto& c : kBytes) EXPECT_EQ(IsAscii(c.bytes), c.expected) << c.bytes;
}

TEST(Cp932Test, EncodesWithMicrosoftMappingsAndQuestionMarks) {
  struct {
    std::u16string_view text;
    std::string_view bytes;
  } const kCases[] = {
      {u"abc", "abc"},
      {u"～", "\x81\x60"},  // U+FF5E is Microsoft's 0x8160
      {u"〜", "\x81\x60"},  // the wave dash falls back to it as Windows does
      {u"－", "\x81\x7C"},  // U+FF0D
      {u"∥", "\x81\x61"},   // U+2225
      {u"￢", "\x81\xCA"},  // U+FFE2
      {u"①", "\x87\x40"},   // NEC special characters
      {u"ｱ", "\xB1"},
      {u"日本", "\x93\xFA\x96\x7B"},
      {u"한", "?"},              // Hangul is not in the code page
      {u"a\U0001F600b", "a?b"},  // nor are characters beyond the BMP
      {u"", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(EncodeCp932(c.text), c.bytes) << U8(c.text);
  }
}

TEST(Cp932Test, DecodesAndChecksRoundTrip) {
  EXPECT_EQ(DecodeCp932("\x81\x60"), u"～");
  EXPECT_EQ(DecodeCp932("\x93\xFA\x96\x7B\xB1"), u"日本ｱ");
  EXPECT_TRUE(SurvivesCp932(u"日本語 ｶﾀｶﾅ abc ～"));
  EXPECT_FALSE(SurvivesCp932(u"〜"));  // comes back as ～
  EXPECT_FALSE(SurvivesCp932(u"한국"));
  EXPECT_FALSE(SurvivesCp932(u"\U0001F600"));
  EXPECT_TRUE(SurvivesCp932(u""));
}

TEST(Cp932Test, TwoByteCharacterTest) {
  struct {
    char16_t c;
    bool two_bytes;
  } const kCases[] = {
      {u'a', false},
      {u'ｱ', false},
      {u'ﾞ', false},
      {u'あ', true},
      {u'ア', true},
      {u'漢', true},
      {u'Ａ', true},
      {u'　', true},
      {u'〜', true},
      {u'♪', true},
      // Hangul cannot be encoded: it is written as one '?'.
      {u'한', false},
      {u'\xD83D', false},
      {u'\x7F', false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(IsTwoByteChar(c.c), c.two_bytes) << U8(std::u16string(1, c.c));
  }
  EXPECT_EQ(Cp932Length(u"日本ｱa"), 6u);
}

TEST(HalfWidthKanaTest, Conversions) {
  struct {
    std::u16string_view input, expected;
  } const kCases[] = {
      {u"ガ", u"ｶﾞ"},
      {u"パピプ", u"ﾊﾟﾋﾟﾌﾟ"},
      {u"がっこう", u"ｶﾞｯｺｳ"},
      {u"ヴ", u"ｳﾞ"},
      {u"　", u" "},
      {u"ＡＢＣ１２３", u"ABC123"},
      {u"漢字", u"漢字"},
      {u"。「」、・ー", u"｡｢｣､･ｰ"},
      {u"￥", u"￥"},             // no ¥: code page 932 cannot hold it
      {u"ヶヵヮヰヱ", u"ｹｶﾜｲｴ"},  // no form of their own: the nearest
      {u"ゖゕゎゐゑヸヹ〆", u"ｹｶﾜｲｴｲﾞｴﾞｼﾒ"},
      {u"abc 01.mp3", u"abc 01.mp3"},
      {u"", u""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ToHalfWidthKana(c.input), c.expected) << U8(c.input);
  }
}

TEST(HiraganaToKatakanaTest, ChangesHiraganaAndNothingElse) {
  struct {
    std::u16string_view input, expected;
  } const kCases[] = {
      {u"ひらがなカナ漢字", u"ヒラガナカナ漢字"},
      {u"ヿ㋐ｶ", u"ヿ㋐ｶ"},  // katakana digraph, circled and half-width kana stay
      {u"", u""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(HiraganaToKatakana(c.input), c.expected) << U8(c.input);
  }
}

TEST(ComparisonKeyTest, EqualAndDifferentTexts) {
  struct {
    std::u16string_view a, b;
    bool equal;
  } const kCases[] = {
      {u"ｶﾞｷﾞ", u"ガギ", true},         {u"ガギ", u"がぎ", true},  {u"ｶﾞｷﾞ", u"がぎ", true},
      {u"ＡＢＣ", u"abc", true},        {u"ABC", u"abc", true},    {u"mp3", u"ＭＰ３", true},
      {u"Song.MP3", u"song.mp3", true}, {u"ab", u"abc", false},    {u"カ", u"ガ", false},
      {u"東京", u"東京", true},         {u"東京", u"京都", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(TextEquals(c.a, c.b), c.equal) << U8(c.a) << " / " << U8(c.b);
    EXPECT_EQ(ComparisonKey(c.a) == ComparisonKey(c.b), c.equal) << U8(c.a) << " / " << U8(c.b);
  }
}

TEST(Utf8Test, ConversionAndValidation) {
  EXPECT_EQ(Utf8ToUtf16("\xE6\x97\xA5"), u"日");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_FALSE(Utf8ToUtf16("\x93\xFA").has_value());  // code page 932 bytes
  EXPECT_FALSE(IsValidUtf8("a\xFF"));
  EXPECT_FALSE(
      IsValidUtf8("\xFF"
                  "a"));  // at the very start too
  EXPECT_EQ(Utf8ToUtf16Lossy("a\xFFz"), u"a\uFFFDz");
  EXPECT_EQ(Utf16ToUtf8(u"日\U0001F600"), "\xE6\x97\xA5\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  EXPECT_EQ(EscapeBytes("a\xFF/b"), "a\\xFF/b");
}

TEST(NfcTest, DecomposedNamesCompose) {
  struct {
    std::u16string_view input, expected;
  } const kCases[] = {
      {u"\u30AB\u3099", u"ガ"},
      {u"\u304B\u3099", u"が"},
      {u"abc", u"abc"},
      {u"e\u0301t\u0301e", u"\u00E9t\u0301e"},  // t has no composed form
      {u"\u1100\u1161\u11A8", u"\uAC01"},       // Hangul from a Mac
      {u"\uAC00\u11A8", u"\uAC01"},
      {u"\u0301a", u"\u0301a"},  // a mark with nothing before it
      {u"\u30D5\u309A\u30EC\u30B9\u3099", u"プレズ"},
      // Only a stretch with a mark is normalised, its first character too.
      {u"\U0001D15E\u0301x\u0301 \U0001D15E", u"\U0001D157\U0001D165\u0301x\u0301 \U0001D15E"},
      // Names without a combining mark keep every code unit, even where NFC
      // would replace a compatibility ideograph or a singleton.
      {u"\uFA19社", u"\uFA19社"},
      {u"\u2126 \u212B \uF900", u"\u2126 \u212B \uF900"},
      {u"\uFA19\u304B\u3099", u"\uFA19が"},
      {u"", u""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ToNfc(c.input), c.expected) << U8(c.input);
  }
}

}  // namespace
}  // namespace tarvel
