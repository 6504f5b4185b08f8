#include "platform/mecab_reading.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::U8;

constexpr char kIpadic[] = "/var/lib/mecab/dic/ipadic-utf8";

class MecabReadingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(std::filesystem::path(kIpadic) / "sys.dic")) {
      GTEST_SKIP() << "the UTF-8 IPA dictionary is not installed at " << kIpadic;
    }
  }
};

TEST_F(MecabReadingTest, ReadsOnlyTokensWithAKanji) {
  MecabReadingService service(kIpadic);
  ASSERT_TRUE(service.IsAvailable()) << service.LastError();
  struct {
    std::u16string_view input, expected;
  } kCases[] = {
      {u"01 東京の夜.mp3", u"01 トウキョウの夜.mp3"},
      {u"日本語", u"ニホンゴ"},
      {u"佐々木", u"ササキ"},
      {u"ＡＢＣ１２３", u"ＡＢＣ１２３"},  // no kanji: surfaces, not エイビーシー
      {u"  東京 (Live)  ", u"  トウキョウ (Live)  "},
      {u"東京\t\t夜", u"トウキョウ\t\tヨル"},
      {u"😀東京😀", u"😀トウキョウ😀"},
      {u"Hello, World!", u"Hello, World!"},
      {u"", u""},
      // Digits stay with the counter they belong to; a Latin word beside a
      // kanji does not turn it into a suffix reading.
      {u"2人の夜", u"フタリのヨル"},
      {u"第2章 始まり", u"ダイ2ショウ ハジマリ"},
      {u"01 夜Blue.mp3", u"01 ヨルBlue.mp3"},
      {u"東京 2つ", u"トウキョウ フタツ"},  // a count is read without a kanji too
  };
  for (const auto& c : kCases) {
    auto reading = service.GetPhonetic(c.input);
    ASSERT_TRUE(reading.has_value()) << U8(c.input);
    if (c.input == u"01 東京の夜.mp3") {
      // 夜 alone may be read ヨ or ヨル depending on context; only the
      // surroundings are checked here.
      EXPECT_TRUE(reading->starts_with(u"01 トウキョウの")) << U8(*reading);
      EXPECT_TRUE(reading->ends_with(u".mp3")) << U8(*reading);
      continue;
    }
    EXPECT_EQ(*reading, c.expected) << U8(c.input) << " -> " << U8(*reading);
  }
}

TEST_F(MecabReadingTest, KeepsALoneSurrogateAndNul) {
  MecabReadingService service(kIpadic);
  std::u16string input(u"a?b東京\0c", 7);
  input[1] = 0xD800;
  std::u16string expected(u"a?bトウキョウ\0c", 10);
  expected[1] = 0xD800;
  EXPECT_EQ(service.GetPhonetic(input), expected);
}

TEST_F(MecabReadingTest, KeepsItsTaggerAcrossCalls) {
  // Opened once: a dictionary that goes away afterwards is no longer needed.
  testing::TempDir dir;
  std::filesystem::create_directory_symlink(kIpadic, dir.path() / "dic");
  MecabReadingService service((dir.path() / "dic").string());
  ASSERT_TRUE(service.IsAvailable()) << service.LastError();
  std::filesystem::remove(dir.path() / "dic");
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(service.GetPhonetic(u"東京"), u"トウキョウ");
  }
}

// How many pieces of the system dictionary are mapped into this process.
size_t DictionaryMappings() {
  std::ifstream maps("/proc/self/maps");
  size_t count = 0;
  for (std::string line; std::getline(maps, line);) count += line.ends_with("/sys.dic") ? 1 : 0;
  return count;
}

// A service at rest holds no dictionary, and reads as before once asked.
TEST_F(MecabReadingTest, RestLetsGoOfTheDictionaryAndReadsTheSameAfter) {
  MecabReadingService service(kIpadic);
  const std::u16string_view kTexts[] = {u"東京", u"2人の夜空", u"湘南乃風", u"Blue今～"};
  std::vector<std::optional<std::u16string>> before;
  for (std::u16string_view text : kTexts) before.push_back(service.GetPhonetic(text));
  ASSERT_GT(DictionaryMappings(), 0u);
  service.Rest();
  EXPECT_EQ(DictionaryMappings(), 0u);
  for (size_t i = 0; i < std::size(kTexts); ++i) {
    SCOPED_TRACE(U8(kTexts[i]));
    ASSERT_TRUE(before[i]);
    EXPECT_EQ(service.GetPhonetic(kTexts[i]), before[i]);
  }
  EXPECT_GT(DictionaryMappings(), 0u);
}

// A number is read with the counter it belongs to; its digits stay as
// written unless a special form replaces them (2人 ふたり, 7日 なのか).
TEST_F(MecabReadingTest, ReadsALoneDigitWithItsCounter) {
  MecabReadingService service(kIpadic);
  struct {
    std::u16string_view input, expected;
  } const kCases[] = {
      {u"2人", u"フタリ"},
      {u"２人", u"フタリ"},
      {u"1人旅", u"ヒトリタビ"},
      {u"7日", u"ナノカ"},
      {u"12人", u"12ニン"},    // a longer number keeps its digits
      {u"2.5人", u"2.5ニン"},  // so does a decimal
      {u"1,2人", u"1,2ニン"},
      {u"第2章", u"ダイ2ショウ"},
      {u"3脚", u"3キャク"},  // a counter the table lacks, not 三脚 (さんきゃく, tripod)
      {u"3年", u"3ネン"},
      {u"2001年", u"2001ネン"},
      {u"2人と3人", u"フタリと3ニン"},  // only 1 and 2 have their own word
      // After a longer number too.
      {u"12月の雨", u"12ガツのアメ"},
      {u"11月", u"11ガツ"},
      {u"24時間", u"24ジカン"},
      {u"365日", u"365ニチ"},
      // The same stretch read anew when its text differs.
      {u"1.2人", u"1.2ニン"},
      {u"第二章", u"ダイニショウ"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(U8(service.GetPhonetic(c.input).value_or(u"(failed)")), U8(c.expected))
        << U8(c.input);
  }
  // The one-word parse leaves nothing behind for the next text.
  EXPECT_EQ(service.GetPhonetic(u"東京都"), u"トウキョウト");
}

// Counts are read from the counter table wherever they stand, never as a
// dictionary word spanning them; symbols never change the reading of the
// word beside them and come back in place.
TEST_F(MecabReadingTest, ReadsCountsAndWordsBesideSymbols) {
  MecabReadingService service(kIpadic);
  struct {
    std::u16string_view input, expected;
  } const kCases[] = {
      {u"8杯", u"8パイ"},
      {u"2分", u"2フン"},  // not 二分 (にぶん, half)
      {u"7月1日", u"7ガツツイタチ"},
      {u"7月 1日", u"7ガツ 1ニチ"},
      {u"二人で", u"フタリで"},
      {u"三本の矢", u"サンボンのヤ"},
      {u"十分", u"ジュウブン"},
      {u"1つ！", u"ヒトツ！"},
      {u"A4", u"A4"},
      {u"今～", u"イマ～"},
      {u"今♪君へ", u"イマ♪キミへ"},
      {u"「下」", u"「シタ」"},
      {u"夢　花", u"ユメ　ハナ"},
      {u"3分～", u"3プン～"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(U8(service.GetPhonetic(c.input).value_or(u"(failed)")), U8(c.expected))
        << U8(c.input);
  }
}

// A run of kanji MeCab does not know as a word is read kanji by kanji, so
// the kanji it knows alone still reach the player.
TEST_F(MecabReadingTest, ReadsAnUnknownRunKanjiByKanji) {
  MecabReadingService service(kIpadic);
  const std::u16string reading = service.GetPhonetic(u"聖飢魔").value_or(u"(failed)");
  EXPECT_FALSE(reading.starts_with(u"聖")) << U8(reading);
  EXPECT_TRUE(reading.ends_with(u"マ")) << U8(reading);
  // Such a reading is a guess, also when it comes from the recent readings
  // or with a known word beside it; a reading of known words is not.
  EXPECT_TRUE(service.LastReadingGuessed());
  EXPECT_EQ(service.GetPhonetic(u"聖飢魔 東京"), reading + u" トウキョウ");
  EXPECT_TRUE(service.LastReadingGuessed());
  service.GetPhonetic(u"東京");
  EXPECT_FALSE(service.LastReadingGuessed());
  // A kanji the dictionary does not know at all stays as it is.
  EXPECT_EQ(service.GetPhonetic(u"窈"), u"窈");
}

// A service for another thread reads as the first one does, guesses
// included, while the first one is reading at the same time.
TEST_F(MecabReadingTest, ServiceForAnotherThreadReadsTheSame) {
  const std::u16string kTexts[] = {u"東京の夜", u"聖飢魔",   u"2人で3本",   u"二十歳の約束",
                                   u"今～Blue", u"湘南乃風", u"桜の花びら", u"一人"};
  MecabReadingService service(kIpadic);
  std::unique_ptr<ReadingService> twin = service.NewForAnotherThread();
  ASSERT_NE(twin, nullptr);
  struct Reading {
    std::optional<std::u16string> text;
    bool guessed = false;
  };
  auto read_all = [&](ReadingService& s, std::vector<Reading>& out) {
    for (int round = 0; round < 50; ++round) {
      out.clear();
      for (const std::u16string& text : kTexts) {
        auto reading = s.GetPhonetic(text);
        out.push_back({reading, s.LastReadingGuessed()});
      }
    }
  };
  std::vector<Reading> here, there;
  std::thread other([&] { read_all(*twin, there); });
  read_all(service, here);
  other.join();
  ASSERT_EQ(here.size(), there.size());
  for (size_t i = 0; i < here.size(); ++i) {
    SCOPED_TRACE(U8(kTexts[i]));
    ASSERT_TRUE(here[i].text.has_value());
    EXPECT_EQ(there[i].text, here[i].text);
    EXPECT_EQ(there[i].guessed, here[i].guessed);
  }
}

TEST(MecabReadingUnavailableTest, FailsWhenTheDictionaryIsMissing) {
  testing::TempDir dir;
  MecabReadingService service((dir.path() / "no-dictionary").string());
  EXPECT_FALSE(service.IsAvailable());
  // MeCab's own words, which name what is missing.
  EXPECT_NE(service.LastError().find("no-dictionary"), std::string::npos) << service.LastError();
  EXPECT_EQ(service.GetPhonetic(u"東京"), std::nullopt);
  EXPECT_EQ(service.GetPhonetic(u""), std::nullopt);
  EXPECT_EQ(service.NewForAnotherThread(), nullptr);
}

}  // namespace
}  // namespace tarvel
