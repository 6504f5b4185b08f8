#include "rules/table_substitution.h"

#include <gtest/gtest.h>

#include <random>

#include "app/tables.h"
#include "rules_test_support.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::MakeTable;
using testing::U8;

TEST(SubstituteByTableTest, AppliesRowsInFileOrder) {
  const CsvTable kKiFirst = MakeTable({{u"ｷ", u"ki"}, {u"ｷｬ", u"kya"}});
  const CsvTable kKyaFirst = MakeTable({{u"ｷｬ", u"kya"}, {u"ｷ", u"ki"}});
  const CsvTable kA = MakeTable({{u"ｱ", u"a"}});
  const CsvTable kJoint = MakeTable({{u"ab", u"b"}});
  const CsvTable kRemove = MakeTable({{u"★", u""}});
  const CsvTable kChain = MakeTable({{u"ｶ", u"ｷ"}, {u"ｷ", u"ki"}});
  struct {
    const CsvTable* table;
    std::u16string_view input, expected;
  } kCases[] = {
      {&kKiFirst, u"ｷｬ", u"kiｬ"},
      {&kKyaFirst, u"ｷｬ", u"kya"},
      {&kA, u"ｱｱｱ", u"aaa"},
      {&kA, u"ｱ", u"a"},      // the whole text
      {&kA, u"ｱxｱ", u"axa"},  // first and last position
      {&kA, u"ｱﾞ", u"aﾞ"},
      {&kA, u"ｲｳ", u"ｲｳ"},       // no match
      {&kJoint, u"aaab", u"b"},  // matches made by a replacement
      {&kRemove, u"★a★★b★", u"ab"},
      {&kChain, u"ｶｷ", u"kiki"},  // a later row sees an earlier one's output
      {&kA, u"", u""},
  };
  for (const auto& c : kCases) {
    std::u16string text(c.input);
    EXPECT_EQ(SubstituteByTable(text, *c.table), 1) << U8(c.input);
    EXPECT_EQ(text, c.expected) << U8(c.input) << " -> " << U8(text);
  }
}

TEST(SubstituteByTableTest, MatchesExactly) {
  const CsvTable table = MakeTable({{u"Love", u"LV"}});
  struct {
    std::u16string_view input, expected;
  } kCases[] = {
      {u"Love", u"LV"},
      {u"love", u"love"},
      {u"LOVE", u"LOVE"},
      {u"Ｌｏｖｅ", u"Ｌｏｖｅ"},
  };
  for (const auto& c : kCases) {
    std::u16string text(c.input);
    EXPECT_EQ(SubstituteByTable(text, table), 1);
    EXPECT_EQ(text, c.expected) << U8(c.input);
  }
}

TEST(SubstituteByTableTest, FailsWithoutTableOrReplacementColumn) {
  std::u16string text = u"ｱｲ";
  EXPECT_EQ(SubstituteByTable(text, CsvTable()), 0);
  EXPECT_EQ(text, u"ｱｲ");

  std::u16string empty;
  EXPECT_EQ(SubstituteByTable(empty, CsvTable()), 1);  // an empty text never needs a table

  // One column only: harmless until a search text is found; earlier rows'
  // replacements stay.
  CsvTable one_column(1, 0);
  one_column.AddRow({u"ｳ"});
  one_column.AddRow({u"ｲ"});
  text = u"ｱｲ";
  EXPECT_EQ(SubstituteByTable(text, one_column), 0);
  text = u"ｱ";
  EXPECT_EQ(SubstituteByTable(text, one_column), 1);

  // A short record in a two-column table has an empty replacement.
  CsvTable short_row(2, 0);
  short_row.AddRow({u"ｲ"});
  text = u"ｱｲ";
  EXPECT_EQ(SubstituteByTable(text, short_row), 1);
  EXPECT_EQ(text, u"ｱ");
}

TEST(SubstituteByTableTest, SkipsRowsThatWouldNeverEnd) {
  const CsvTable table = MakeTable({{u"", u"x"}, {u"a", u"aa"}, {u"b", u"xbx"}, {u"c", u"C"}});
  std::u16string text = u"abc";
  EXPECT_EQ(SubstituteByTable(text, table), 1);
  EXPECT_EQ(text, u"abC");
}

TEST(SubstituteByTableTest, AFailedSubstitutionLeavesTheTextAsItWas) {
  struct {
    const char* what;
    CsvTable table;
    std::u16string_view input;
  } kCases[] = {
      // "ab" → "bbaa" does not contain "ab" but makes a new one at every step.
      {"runaway row", MakeTable({{u"ab", u"bbaa"}, {u"z", u"Z"}}), u"aab"},
      {"runaway row after rows that matched", MakeTable({{u"x", u"y"}, {u"ab", u"bbaa"}}), u"xaab"},
      {"runaway row on a long text", MakeTable({{u"東", u"T"}, {u"ab", u"bbaa"}}),
       u"東京aab東京aab東京aab東京aab東京aab東京aab東京aab東京aab"},
      // The limit is 64 times the text's length and 1,024 more.
      {"a row that makes the text one code unit longer than the limit",
       MakeTable({{u"a", std::u16string(64 + 1024 + 1, u'x')}}), u"a"},
      {"unloaded table", CsvTable(), u"ｱｲ"},
  };
  for (const auto& c : kCases) {
    std::u16string text(c.input);
    EXPECT_EQ(SubstituteByTable(text, c.table), 0) << c.what;
    EXPECT_EQ(text, c.input) << c.what << ": " << U8(text).substr(0, 80);
  }
  std::u16string at_limit = u"a";
  EXPECT_EQ(SubstituteByTable(at_limit, MakeTable({{u"a", std::u16string(64 + 1024, u'x')}})), 1);
  EXPECT_EQ(at_limit.size(), 64u + 1024u);
}

// The substitution as plainly as it can be written: every row in file order,
// every search from the first character. The indexed one must agree.
std::u16string PlainSubstitution(std::u16string text, const CsvTable& table) {
  for (int32_t row = 1; row <= table.Rows(); ++row) {
    const std::u16string& search = table.Cell(1, row);
    const std::u16string& replacement = table.Cell(2, row);
    if (IsLoopingRow(search, replacement)) continue;
    for (size_t p = text.find(search); p != std::u16string::npos; p = text.find(search)) {
      text.replace(p, search.size(), replacement);
    }
  }
  return text;
}

TEST(SubstituteByTableTest, AgreesWithThePlainAlgorithmOnRandomTables) {
  // Short rows over a small alphabet, so that replacements make new matches
  // across their joints and bring in characters that enable later rows.
  const char16_t kAlphabet[] = u"abcｱｲ";
  std::mt19937 rng(11);
  auto word = [&](size_t max) {
    std::u16string w;
    for (size_t n = rng() % (max + 1); n > 0; --n) w.push_back(kAlphabet[rng() % 5]);
    return w;
  };
  for (int round = 0; round < 2000; ++round) {
    CsvTable table(2, 0);
    for (int r = 1 + static_cast<int>(rng() % 6); r > 0; --r) {
      std::u16string search = word(2), replacement = word(2);
      if (replacement.size() > search.size()) replacement.resize(search.size());  // shrinks: ends
      table.AddRow({search, replacement});
    }
    std::u16string text = word(8);
    std::u16string expected = PlainSubstitution(text, table);
    ASSERT_EQ(SubstituteByTable(text, table), 1);
    ASSERT_EQ(U8(text), U8(expected)) << "round " << round;
  }
}

TEST(SubstituteByTableTest, StepsReadTheirOwnTable) {
  AppState app;
  app.DicTable = MakeTable({{u"★", u"*"}});
  app.RomeTable = MakeTable({{u"ｱ", u"a"}});
  std::u16string text = u"★ｱ";
  EXPECT_EQ(ApplyDictionary(text, app), 1);
  EXPECT_EQ(text, u"*ｱ");
  EXPECT_EQ(ConvertToRomaji(text, app), 1);
  EXPECT_EQ(text, u"*a");

  app.RomeTable = CsvTable();
  EXPECT_EQ(ConvertToRomaji(text, app), 0);
  app.DicTable = CsvTable();
  EXPECT_EQ(ApplyDictionary(text, app), 0);
}

}  // namespace
}  // namespace tarvel
