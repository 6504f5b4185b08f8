#include "platform/mecab_reading.h"

#include <gtest/gtest.h>

#include <filesystem>

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
      {u"2人の夜", u"2ニンのヨル"},
      {u"第2章 始まり", u"ダイ2ショウ ハジマリ"},
      {u"01 夜Blue.mp3", u"01 ヨルBlue.mp3"},
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
  MecabReadingService service(kIpadic);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(service.GetPhonetic(u"東京"), u"トウキョウ");
  }
}

TEST(MecabReadingUnavailableTest, FailsWhenTheDictionaryIsMissing) {
  testing::TempDir dir;
  MecabReadingService service((dir.path() / "no-dictionary").string());
  EXPECT_FALSE(service.IsAvailable());
  EXPECT_FALSE(service.LastError().empty());
  EXPECT_EQ(service.GetPhonetic(u"東京"), std::nullopt);
  EXPECT_EQ(service.GetPhonetic(u""), std::nullopt);
}

}  // namespace
}  // namespace tarvel
