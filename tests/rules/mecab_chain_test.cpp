// The chains with the real reading service and the default romaji table.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/csv.h"
#include "platform/mecab_reading.h"
#include "platform/text_file.h"
#include "rules/chains.h"
#include "rules/table_substitution.h"
#include "rules_test_support.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::RulesFixture;
using testing::U8;

constexpr char kIpadic[] = "/var/lib/mecab/dic/ipadic-utf8";

bool HaveIpadic() { return std::filesystem::exists(std::filesystem::path(kIpadic) / "sys.dic"); }

MecabReadingService& Mecab() {
  static MecabReadingService service(kIpadic);
  return service;
}

TEST(MecabChainTest, FileNamesInHalfWidthKana) {
  if (!HaveIpadic()) GTEST_SKIP() << "the UTF-8 IPA dictionary is not installed at " << kIpadic;
  struct {
    std::u16string_view input, expected;
  } kCases[] = {
      {u"01 東京の夜.mp3", u"01 ﾄｳｷｮｳﾉﾖﾙ.mp3"},
      {u"日本語.mp3", u"ﾆﾎﾝｺﾞ.mp3"},
      {u"ＡＢＣ１２３.mp3", u"ABC123.mp3"},
      {u"02 東京 (Live).mp3", u"02 ﾄｳｷｮｳ (Live).mp3"},
      {u"ひらがな カタカナ.MP3", u"ﾋﾗｶﾞﾅ ｶﾀｶﾅ.MP3"},
  };
  for (const auto& c : kCases) {
    RulesFixture f;
    f.app.reading = &Mecab();
    f.app.settings.ConvertLevelFilename = 1;
    f.app.settings.FlagDetectFullCharFilename = 1;
    std::u16string name(c.input);
    EXPECT_EQ(ConvertFileName(name, f.app), 1);
    EXPECT_EQ(name, c.expected) << U8(c.input) << " -> " << U8(name);
    EXPECT_EQ(f.ui.log, u"") << U8(f.ui.log);
  }
}

TEST(MecabChainTest, MissingDictionaryFailsTheKanaStep) {
  testing::TempDir dir;
  MecabReadingService missing((dir.path() / "none").string());
  RulesFixture f;
  f.app.reading = &missing;
  f.app.settings.ConvertLevelFilename = 1;
  std::u16string name = u"東京.mp3";
  EXPECT_EQ(ConvertFileName(name, f.app), 0);
  EXPECT_EQ(name, u"東京.mp3");
  EXPECT_EQ(f.ui.log,
            u"漢字→ｶﾀｶﾅ変換機能はIME98がないと使用できません\r\n\r\n"
            u"漢字の再変換中に異常が発生しました。\r\n処理を中断します。\r\n");
}

TEST(MecabChainTest, DefaultRomajiTable) {
  if (!HaveIpadic()) GTEST_SKIP() << "the UTF-8 IPA dictionary is not installed at " << kIpadic;
  TextReadResult file = ReadTextFile(TARVEL_SOURCE_DIR "/data/Rome.csv");
  ASSERT_TRUE(file.ok()) << file.message;
  RulesFixture f;
  if (ParseCSV(file.text, f.app.RomeTable, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote) == 0) {
    GTEST_SKIP() << "the CSV reader gave no rows for the default Rome.csv";
  }
  f.app.reading = &Mecab();
  f.app.settings.ConvertLevelID3Tag = 2;
  struct {
    std::u16string_view input, expected;
  } kCases[] = {
      {u"東京", u"toukyou"},
      {u"カップ", u"kappu"},
      {u"チャーハン", u"cha-han"},
  };
  for (const auto& c : kCases) {
    std::u16string text(c.input);
    EXPECT_EQ(ConvertTagText(text, f.app), 1);
    EXPECT_EQ(text, c.expected) << U8(c.input) << " -> " << U8(text);
  }
}

}  // namespace
}  // namespace tarvel
