#include "platform/counter_reading.h"

#include <gtest/gtest.h>

#include <map>

#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::U8;

constexpr std::u16string_view kNumbers[] = {u"1", u"3", u"4", u"6", u"8", u"10", u"100", u"1000"};

// The counter's reading after each of kNumbers, as a Japanese reader says
// it; one reading stands for all eight, and one marked "!" replaces the
// number too. Every counter of the table is here,
// so a counter added without its readings fails.
const std::map<std::u16string_view, std::vector<std::u16string_view>>& Expected() {
  static const std::map<std::u16string_view, std::vector<std::u16string_view>> kExpected = {
      {u"本", {u"ポン", u"ボン", u"ホン", u"ポン", u"ポン", u"ポン", u"ポン", u"ボン"}},
      {u"杯", {u"パイ", u"バイ", u"ハイ", u"パイ", u"パイ", u"パイ", u"パイ", u"バイ"}},
      {u"匹", {u"ピキ", u"ビキ", u"ヒキ", u"ピキ", u"ピキ", u"ピキ", u"ピキ", u"ビキ"}},
      {u"票",
       {u"ピョウ", u"ビョウ", u"ヒョウ", u"ピョウ", u"ピョウ", u"ピョウ", u"ピョウ", u"ビョウ"}},
      {u"分", {u"プン", u"プン", u"プン", u"プン", u"プン", u"プン", u"プン", u"プン"}},
      {u"分間",
       {u"プンカン", u"プンカン", u"プンカン", u"プンカン", u"プンカン", u"プンカン", u"プンカン",
        u"プンカン"}},
      {u"泊", {u"パク", u"パク", u"パク", u"パク", u"パク", u"パク", u"パク", u"パク"}},
      {u"発", {u"パツ", u"パツ", u"パツ", u"パツ", u"パツ", u"パツ", u"パツ", u"パツ"}},
      {u"歩", {u"ポ", u"ポ", u"ホ", u"ポ", u"ポ", u"ポ", u"ポ", u"ポ"}},
      {u"編", {u"ペン", u"ペン", u"ヘン", u"ペン", u"ペン", u"ペン", u"ペン", u"ペン"}},
      {u"敗", {u"パイ", u"パイ", u"ハイ", u"パイ", u"パイ", u"パイ", u"パイ", u"パイ"}},
      {u"版", {u"パン", u"パン", u"ハン", u"パン", u"パン", u"パン", u"パン", u"パン"}},
      {u"拍", {u"パク", u"パク", u"ハク", u"パク", u"パク", u"パク", u"パク", u"パク"}},
      {u"箱", {u"パコ", u"ハコ", u"ハコ", u"パコ", u"パコ", u"パコ", u"パコ", u"ハコ"}},
      {u"羽", {u"ワ", u"バ", u"ワ", u"パ", u"パ", u"パ", u"パ", u"バ"}},
      {u"階", {u"カイ", u"ガイ", u"カイ", u"カイ", u"カイ", u"カイ", u"カイ", u"ガイ"}},
      {u"軒", {u"ケン", u"ゲン", u"ケン", u"ケン", u"ケン", u"ケン", u"ケン", u"ゲン"}},
      {u"足", {u"ソク", u"ゾク", u"ソク", u"ソク", u"ソク", u"ソク", u"ソク", u"ゾク"}},
      {u"回", {u"カイ"}},
      {u"個", {u"コ"}},
      {u"歳", {u"サイ"}},
      {u"才", {u"サイ"}},
      {u"冊", {u"サツ"}},
      {u"枚", {u"マイ"}},
      {u"台", {u"ダイ"}},
      {u"着", {u"チャク"}},
      {u"点", {u"テン"}},
      {u"曲", {u"キョク"}},
      {u"名", {u"メイ"}},
      {u"人", {u"!ヒトリ", u"ニン", u"ニン", u"ニン", u"ニン", u"ニン", u"ニン", u"ニン"}},
      {u"日",
       {u"ニチ", u"!ミッカ", u"!ヨッカ", u"!ムイカ", u"!ヨウカ", u"!トオカ", u"ニチ", u"ニチ"}},
      {u"月", {u"ガツ"}},
      {u"年", {u"ネン"}},
      {u"年間", {u"ネンカン"}},
      {u"年生", {u"ネンセイ"}},
      {u"時", {u"ジ"}},
      {u"時間", {u"ジカン"}},
      {u"秒", {u"ビョウ"}},
      {u"週", {u"シュウ"}},
      {u"週間", {u"シュウカン"}},
      {u"度", {u"ド"}},
      {u"番", {u"バン"}},
      {u"倍", {u"バイ"}},
      {u"件", {u"ケン"}},
      {u"頭", {u"トウ"}},
      {u"錠", {u"ジョウ"}},
      {u"缶", {u"カン"}},
      {u"周", {u"シュウ"}},
      {u"話", {u"ワ"}},
      {u"巻", {u"カン"}},
      {u"章", {u"ショウ"}},
      {u"部", {u"ブ"}},
      {u"行", {u"ギョウ"}},
      {u"列", {u"レツ"}},
      {u"位", {u"イ"}},
      {u"円", {u"エン"}},
      {u"号", {u"ゴウ"}},
      {u"代", {u"ダイ"}},
      {u"期", {u"キ"}},
      {u"色", {u"ショク"}},
      {u"社", {u"シャ"}},
      {u"校", {u"コウ"}},
      {u"戦", {u"セン"}},
      {u"勝", {u"ショウ"}},
      {u"球", {u"キュウ"}},
      {u"席", {u"セキ"}},
      {u"隻", {u"セキ"}},
      {u"基", {u"キ"}},
      {u"両", {u"リョウ"}},
      {u"棟", {u"トウ"}},
      {u"室", {u"シツ"}},
      {u"畳", {u"ジョウ"}},
      {u"通", {u"ツウ"}},
      {u"組", {u"クミ"}},
      {u"段", {u"ダン"}},
      {u"問", {u"モン"}},
      {u"首", {u"シュ"}},
      {u"夜", {u"ヤ"}},
      {u"作", {u"サク"}},
      {u"弾", {u"ダン"}},
      {u"次", {u"ジ"}},
      {u"丁目", {u"チョウメ"}},
      {u"番地", {u"バンチ"}},
      {u"試合", {u"シアイ"}},
      {u"ヶ月", {u"カゲツ"}},
      {u"ヵ月", {u"カゲツ"}},
      {u"か月", {u"カゲツ"}},
      {u"カ月", {u"カゲツ"}},
      {u"ケ月", {u"カゲツ"}},
      {u"箇月", {u"カゲツ"}},
      {u"ヶ所", {u"カショ"}},
      {u"か所", {u"カショ"}},
      {u"ヵ所", {u"カショ"}},
      {u"カ所", {u"カショ"}},
      {u"ケ所", {u"カショ"}},
      {u"箇所", {u"カショ"}},
      {u"世紀", {u"セイキ"}},
      {u"輪", {u"リン"}},
      {u"次元", {u"ジゲン"}},
      {u"周年", {u"シュウネン"}},
      {u"年度", {u"ネンド"}},
      {u"学期", {u"ガッキ"}},
      {u"回戦", {u"カイセン"}},
      {u"人前", {u"ニンマエ"}},
      {u"合", {u"ゴウ"}},
  };
  return kExpected;
}

TEST(CounterReadingTest, EveryCounterTakesTheSoundItsNumberCallsFor) {
  ASSERT_GE(Counters().size(), 60u);
  for (const CounterRow& row : Counters()) {
    if (row.reading.empty()) continue;  // つ has special forms only, tested below
    auto it = Expected().find(row.text);
    ASSERT_NE(it, Expected().end()) << "no readings for " << U8(row.text);
    for (size_t n = 0; n < std::size(kNumbers); ++n) {
      const std::u16string text = std::u16string(kNumbers[n]) + std::u16string(row.text);
      const std::u16string_view counter = it->second[it->second.size() == 1 ? 0 : n];
      std::optional<DigitCount> count = ReadDigitCount(text, 0, text.size(), false);
      ASSERT_TRUE(count.has_value()) << U8(text);
      const std::u16string expected = counter.starts_with(u"!")
                                          ? std::u16string(counter.substr(1))
                                          : std::u16string(kNumbers[n]) + std::u16string(counter);
      EXPECT_EQ(U8(count->reading), U8(expected)) << U8(text);
      EXPECT_EQ(count->end, text.size()) << U8(text);
    }
  }
}

// Special forms replace the number; a suffix reads with its counter; the
// number's last part, not its first digit, decides the sound.
TEST(CounterReadingTest, ReadsDigitsWithTheirCounter) {
  struct {
    std::u16string_view text;
    size_t begin;
    bool after_month;
    std::u16string_view expected;  // empty: no count; "|" marks where the count ends
  } const kCases[] = {
      {u"1人", 0, false, u"ヒトリ|"},
      {u"2人で", 0, false, u"フタリ|で"},
      {u"3人", 0, false, u"3ニン|"},
      {u"12人", 0, false, u"12ニン|"},
      {u"1日", 0, false, u"1ニチ|"},
      {u"1日", 0, true, u"ツイタチ|"},
      {u"2日", 0, false, u"フツカ|"},
      {u"10日", 0, false, u"トオカ|"},
      {u"14日", 0, false, u"ジュウヨッカ|"},
      {u"20日", 0, false, u"ハツカ|"},
      {u"24日", 0, false, u"ニジュウヨッカ|"},
      {u"21日", 0, false, u"21ニチ|"},
      {u"20歳", 0, false, u"ハタチ|"},
      {u"２０才", 0, false, u"ハタチ|"},
      {u"30歳", 0, false, u"30サイ|"},
      {u"1つ", 0, false, u"ヒトツ|"},
      {u"9つ", 0, false, u"ココノツ|"},
      {u"10つ", 0, false, u""},
      {u"3つ目", 0, false, u"ミッツメ|"},
      {u"7月", 0, false, u"7ガツ|"},
      {u"2人目", 0, false, u"フタリメ|"},
      {u"4人組", 0, false, u"4ニングミ|"},
      {u"3分間", 0, false, u"3プンカン|"},
      {u"5年後の", 0, false, u"5ネンゴ|の"},
      {u"13本", 0, false, u"13ボン|"},
      {u"31本", 0, false, u"31ポン|"},
      {u"３杯", 0, false, u"３バイ|"},
      {u"100万回", 0, false, u"100マンカイ|"},
      {u"3万本", 0, false, u"3マンボン|"},
      {u"1万", 0, false, u"1マン|"},
      {u"0本", 0, false, u"0ホン|"},
      {u"2.1人", 2, false, u"1ニン|"},  // the tail of a number: no special form
      {u"1,2人", 2, false, u"2ニン|"},
      {u"a.2人", 2, false, u"フタリ|"},
      {u"3D", 0, false, u""},
      {u"3", 0, false, u""},
  };
  for (const auto& c : kCases) {
    std::optional<DigitCount> count = ReadDigitCount(c.text, c.begin, c.text.size(), c.after_month);
    std::u16string got;
    if (count) got = count->reading + u"|" + std::u16string(c.text.substr(count->end));
    EXPECT_EQ(U8(got), U8(c.expected)) << U8(c.text);
  }
  // Only up to the end given.
  EXPECT_EQ(ReadDigitCount(u"3本", 0, 1, false), std::nullopt);
  EXPECT_TRUE(ReadDigitCount(u"7月", 0, 2, false)->month);
  EXPECT_FALSE(ReadDigitCount(u"7日", 0, 2, false)->month);
}

TEST(CounterReadingTest, ReadsKanjiNumeralsWithTheirCounter) {
  struct {
    std::u16string_view numerals, counter;
    bool after_month;
    std::u16string_view expected;  // empty: no count
  } const kCases[] = {
      {u"二", u"人", false, u"フタリ"},
      {u"四", u"人", false, u"ヨニン"},
      {u"百", u"人", false, u"ヒャクニン"},
      {u"一", u"本", false, u"イッポン"},
      {u"三", u"本", false, u"サンボン"},
      {u"六", u"杯", false, u"ロッパイ"},
      {u"十", u"本", false, u"ジュッポン"},
      {u"二十三", u"本", false, u"ニジュウサンボン"},
      {u"三百", u"本", false, u"サンビャッポン"},
      {u"八千", u"本", false, u"ハッセンボン"},
      {u"一万", u"円", false, u"イチマンエン"},
      {u"二万", u"円", false, u"ニマンエン"},
      {u"三千", u"円", false, u"サンゼンエン"},
      {u"一", u"回", false, u"イッカイ"},
      {u"三", u"階", false, u"サンガイ"},
      {u"八", u"歳", false, u"ハッサイ"},
      {u"六", u"歳", false, u"ロクサイ"},
      {u"百", u"点", false, u"ヒャクテン"},
      {u"一", u"羽", false, u"イチワ"},
      {u"四", u"時", false, u"ヨジ"},
      {u"十四", u"時", false, u"ジュウヨジ"},
      {u"九", u"月", false, u"クガツ"},
      {u"二〇二〇", u"年", false, u"ニセンニジュウネン"},
      {u"二十", u"歳", false, u"ハタチ"},
      {u"十", u"日", false, u"トオカ"},
      {u"一", u"日", false, u"イチニチ"},
      {u"一", u"日", true, u"ツイタチ"},
      {u"十", u"分", false, u"ジュウブン"},  // enough, more often than ten minutes
      {u"二", u"分", false, u"ニフン"},
      {u"十十", u"本", false, u""},
      {u"三", u"日月", false, u""},  // not a counter as written
      {u"三", u"つ", false, u"ミッツ"},
      {u"十", u"つ", false, u""},
      {u"何", u"本", false, u"ナンボン"},
      {u"何", u"階", false, u"ナンガイ"},
      {u"何", u"人", false, u"ナンニン"},
      {u"何", u"つ", false, u""},
      {u"二十", u"世紀", false, u"ニジュッセイキ"},
      {u"一", u"人前", false, u"イチニンマエ"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(U8(ReadNumeralCount(c.numerals, c.counter, c.after_month).value_or(u"")),
              U8(c.expected))
        << U8(c.numerals) << U8(c.counter);
  }
  EXPECT_TRUE(IsKanjiNumeral(u'〇') && IsKanjiNumeral(u'万') && IsKanjiNumeral(u'何') &&
              !IsKanjiNumeral(u'億'));
}

}  // namespace
}  // namespace tarvel
