// The tables shipped in data/ through the real chains: no row may give a name
// that a later step blanks, doubles a dot in, or that a CD-R cannot hold.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "rules/chains.h"
#include "rules_test_support.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::RulesFixture;
using testing::U8;

bool IsCdrInvalid(char16_t c) {
  return c < 0x20 || c == 0x7F ||
         std::u16string_view(u"\\/:,;*?\"<>|").find(c) != std::u16string_view::npos;
}

// What is wrong with a converted file name, or empty when nothing is.
std::string Fault(const std::u16string& name, int level) {
  if (!name.ends_with(u".mp3")) return "no .mp3 at the end";
  if (name.find(u'.') != name.size() - 4) return "a second dot";
  for (char16_t c : name) {
    if (IsCdrInvalid(c)) return "a character a CD-R cannot hold";
    if (IsTwoByteChar(c)) return "a two-byte character";
    if (level >= 2 && c >= 0x80) return "a character that is not ASCII";
  }
  return {};
}

// Each row's search text, alone and between kana, goes through the file-name
// chain (and the folder chain) with the dictionary on at both levels: the
// name stays valid and no repair or detection notice is written.
TEST(DefaultTablesChainTest, EveryRowGivesAValidNameAtBothLevels) {
  RulesFixture f;
  ASSERT_TRUE(testing::LoadDefaultTables(f.app));
  Settings& s = f.app.settings;
  s.FlagDicEnabledFilename = 1;
  s.FlagDetectFullCharFilename = 1;
  for (const CsvTable* table : {&f.app.DicTable, &f.app.RomeTable}) {
    const char* table_name = table == &f.app.DicTable ? "dic.csv" : "Rome.csv";
    for (int32_t r = 1; r <= table->Rows(); ++r) {
      const std::u16string& search = table->Cell(1, r);
      for (int level : {1, 2}) {
        s.ConvertLevelFilename = level;
        for (const std::u16string& text : {search, u"ｱ" + search + u"ｲ", u"ｱ" + search}) {
          // A row that drops its text (？) leaves no name of its own.
          if (text == search && table->Cell(2, r).empty()) continue;
          std::u16string name = text + u".mp3";
          f.ui.log.clear();
          ASSERT_EQ(ConvertFileName(name, f.app), 1) << table_name << " row " << r;
          EXPECT_EQ(Fault(name, level), "") << table_name << " row " << r << " at level " << level
                                            << ": " << U8(text) << " -> " << U8(name);
          EXPECT_EQ(f.ui.log, u"") << table_name << " row " << r << " at level " << level << ": "
                                   << U8(text) << " -> " << U8(name);
          std::u16string folder = text;
          ASSERT_EQ(ConvertFolderName(folder, f.app), 1);
          EXPECT_EQ(f.ui.log, u"") << table_name << " row " << r << ", folder " << U8(folder);
        }
      }
    }
  }
  EXPECT_EQ(s.FlagCheckOnlyFilename, 0);
}

// Names a new user tried with the default tables and MeCab.
TEST(DefaultTablesChainTest, NamesAReaderChecked) {
  RulesFixture f;
  f.app.reading = testing::SharedMecab();
  if (f.app.reading == nullptr) GTEST_SKIP() << "MeCab with the UTF-8 IPA dictionary is missing";
  ASSERT_TRUE(testing::LoadDefaultTables(f.app));
  struct {
    std::u16string_view input;
    int level;  // 0: every gate off
    std::u16string_view expected;
  } const kCases[] = {
      {u"ありがとう、さようなら.mp3", 2, u"arigatou sayounara.mp3"},
      {u"君の名は。.mp3", 2, u"kiminonaha.mp3"},
      {u"三ヶ月.mp3", 1, u"ｻﾝｶｹﾞﾂ.mp3"},
      {u"霞ヶ関ブルース.mp3", 1, u"ｶｽﾐｶﾞｾｷﾌﾞﾙｰｽ.mp3"},
      {u"いすゞのこゝろ.mp3", 1, u"ｲｽｽﾞﾉｺｺﾛ.mp3"},
      {u"★Love☆Story★.mp3", 1, u"+Love+Story+.mp3"},
      {u"さよなら…また明日.mp3", 1, u"ｻﾖﾅﾗ･･･ﾏﾀｱｼﾀ.mp3"},
      {u"さよなら…また明日.mp3", 2, u"sayonara~mataashita.mp3"},
      {u"未来→過去.mp3", 1, u"ﾐﾗｲ-ｶｺ.mp3"},
      {u"\uFA19社.mp3", 0, u"\uFA19社.mp3"},
      {u"ヶ丘.mp3", 1, u"ｹｵｶ.mp3"},  // a ヶ the reading leaves still narrows
      // Full-width marks a CD-R refuses leave no blank before the extension.
      {u"Question？.mp3", 1, u"Question.mp3"},
      {u"Question？.mp3", 2, u"Question.mp3"},
      {u"Time：Out！.mp3", 2, u"Time-Out!.mp3"},
  };
  for (const auto& c : kCases) {
    Settings& s = f.app.settings;
    s.FlagDicEnabledFilename = c.level > 0 ? 1 : 0;
    s.FlagDetectFullCharFilename = c.level > 0 ? 1 : 0;
    s.ConvertLevelFilename = c.level;
    f.ui.log.clear();
    std::u16string name(c.input);
    EXPECT_EQ(ConvertFileName(name, f.app), 1);
    EXPECT_EQ(U8(name), U8(c.expected)) << U8(c.input) << " at level " << c.level;
    EXPECT_EQ(U8(f.ui.log), "") << U8(c.input);
  }
  EXPECT_EQ(f.app.settings.FlagCheckOnlyFilename, 0);
}

// A user's own reading in dic.csv, in kana as the README says, goes ahead
// of MeCab's; rows a user adds may use any character, as before.
TEST(DefaultTablesChainTest, AUsersOwnReadingGoesFirst) {
  RulesFixture f;
  f.app.reading = testing::SharedMecab();
  if (f.app.reading == nullptr) GTEST_SKIP() << "MeCab with the UTF-8 IPA dictionary is missing";
  f.app.DicTable =
      testing::MakeTable({{u"紅蓮華", u"ぐれんげ"}, {u"紅", u"クレナイ"}, {u"!", u","}});
  f.app.RomeTable =
      testing::MakeTable({{u"ｸﾞ", u"gu"}, {u"ﾚ", u"re"}, {u"ﾝ", u"n"}, {u"ｹﾞ", u"ge"}});
  Settings& s = f.app.settings;
  s.FlagDicEnabledFilename = 1;
  struct {
    std::u16string_view input;
    int level;
    std::u16string_view expected;
  } const kCases[] = {
      {u"紅.mp3", 1, u"ｸﾚﾅｲ.mp3"},
      {u"紅蓮華.mp3", 1, u"ｸﾞﾚﾝｹﾞ.mp3"},
      {u"紅蓮華.mp3", 2, u"gurenge.mp3"},
      {u"紅!.mp3", 1, u"ｸﾚﾅｲ .mp3"},  // the user's comma is blanked with a notice
  };
  for (const auto& c : kCases) {
    s.ConvertLevelFilename = c.level;
    std::u16string name(c.input);
    EXPECT_EQ(ConvertFileName(name, f.app), 1);
    EXPECT_EQ(U8(name), U8(c.expected)) << U8(c.input);
  }
}

}  // namespace
}  // namespace tarvel
