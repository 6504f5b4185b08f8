#include "platform/csv.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tarvel {
namespace {

using ::tarvel::testing::U8;

int32_t Parse(std::u16string_view text, CsvTable& table) {
  return ParseCSV(text, table, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote);
}

std::u16string Build(const CsvTable& table) {
  return BuildCSV(table, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote);
}

// Compares a parsed table with the expected rows: each expected row lists the
// cells that are set; cells past its end must be unset.
void ExpectTable(const CsvTable& table, int32_t columns,
                 const std::vector<std::vector<std::u16string_view>>& rows,
                 const std::string& name) {
  SCOPED_TRACE(name);
  ASSERT_EQ(table.Rows(), static_cast<int32_t>(rows.size()));
  EXPECT_EQ(table.Columns(), columns);
  for (int32_t r = 1; r <= table.Rows(); ++r) {
    const auto& expected = rows[static_cast<size_t>(r - 1)];
    for (int32_t c = 1; c <= table.Columns(); ++c) {
      if (static_cast<size_t>(c) <= expected.size()) {
        EXPECT_TRUE(table.IsSet(c, r)) << "cell " << c << "," << r;
        EXPECT_EQ(U8(table.Cell(c, r)), U8(expected[static_cast<size_t>(c - 1)]))
            << "cell " << c << "," << r;
      } else {
        EXPECT_FALSE(table.IsSet(c, r)) << "cell " << c << "," << r;
      }
    }
    EXPECT_EQ(U8(table.Cell(0, r)), "") << "cell 0," << r;
  }
  EXPECT_EQ(U8(table.Cell(1, table.Rows() + 1)), "") << "a row past the last";
  EXPECT_FALSE(table.IsSet(1, table.Rows() + 1)) << "a row past the last";
  EXPECT_FALSE(table.IsSet(1, 0)) << "row 0";
}

TEST(ParseCsvTest, Rules) {
  struct Case {
    const char* name;
    std::u16string_view text;
    int32_t columns;
    std::vector<std::vector<std::u16string_view>> rows;
  } const kCases[] = {
      {"empty middle field", u"a,,b\r\n", 3, {{u"a", u"", u"b"}}},
      {"trailing comma", u"a,b,\r\n", 3, {{u"a", u"b", u""}}},
      {"empty line is a record", u"a\r\n\r\nb\r\n", 1, {{u"a"}, {u""}, {u"b"}}},
      {"last line without CR LF", u"ab\r\ncd", 1, {{u"ab"}, {u"cd"}}},
      {"one-char last line not read", u"ab\r\nc", 1, {{u"ab"}}},
      {"final CR LF adds no record", u"ab\r\n", 1, {{u"ab"}}},
      {"lone CR LF", u"\r\n", 1, {{u""}}},
      {"two-char text", u"ab", 1, {{u"ab"}}},
      {"spaces stay", u"a , b\r\n", 2, {{u"a ", u" b"}}},
      {"quotes in plain field", u"a\"b,c\"\r\n", 2, {{u"a\"b", u"c\""}}},
      {"last quoted field adds an empty one", u"\"a\",\"b\"\r\n", 3, {{u"a", u"b", u""}}},
      {"quoted then comma at end", u"\"a\",\r\n", 2, {{u"a", u""}}},
      {"doubled quote", u"\"a\"\"b\",c\r\n", 2, {{u"a\"b", u"c"}}},
      {"doubled quote at end", u"\"a\"\"\"\r\n", 2, {{u"a\"", u""}}},
      {"only a quote", u"\"\"\"\"\r\n", 2, {{u"\"", u""}}},
      {"doubled quote before a line break", u"\"a\"\"\r\nb\",c\r\n", 2, {{u"a\"\r\nb", u"c"}}},
      {"char after second-to-last quote dropped", u"\"ab\"x\r\n", 2, {{u"ab", u""}}},
      {"other char after closing quote stays", u"\"a\"xy\"z\",q\r\n", 2, {{u"axyz", u"q"}}},
      {"quoted empty fields", u"\"\",\"\"\r\n", 3, {{u"", u"", u""}}},
      {"quoted field over lines", u"\"a\r\nb\",c\r\nd,e\r\n", 2, {{u"a\r\nb", u"c"}, {u"d", u"e"}}},
      {"quote opens at line end", u"a,\"\r\nb\"\r\n", 3, {{u"a", u"\r\nb", u""}}},
      {"quoted closes line, next record", u"\"a\"\r\nb\r\n", 2, {{u"a", u""}, {u"b"}}},
      {"unterminated takes the rest", u"x,\"ab\r\ncd\r\nef", 2, {{u"x", u"ab\r\ncd\r\nef"}}},
      {"unterminated ending in CR LF", u"x,\"ab\r\n", 2, {{u"x", u"ab\r\n"}}},
      {"unterminated, one last char taken once", u"x,\"ab\r\nc", 2, {{u"x", u"ab\r\nc"}}},
      {"unterminated, separator on last line", u"\"a\r\nb,c", 1, {{u"a\r\nb,c"}}},
      {"unterminated on one line", u"x,\"abc", 2, {{u"x", u"abc"}}},
      {"extra fields dropped, short rows unset",
       u"a,b\r\n1,2,3\r\n4\r\n",
       2,
       {{u"a", u"b"}, {u"1", u"2"}, {u"4"}}},
      {"header-like first line is data",
       u"search,replace\r\nｱ,a\r\n",
       2,
       {{u"search", u"replace"}, {u"ｱ", u"a"}}},
  };
  for (const auto& c : kCases) {
    CsvTable table;
    int32_t n = Parse(c.text, table);
    EXPECT_EQ(n, static_cast<int32_t>(c.rows.size())) << c.name;
    ExpectTable(table, c.columns, c.rows, c.name);
  }
}

TEST(ParseCsvTest, NoRecordLeavesTableUnloaded) {
  const std::u16string_view kTexts[] = {u"", u"x", u"\"", u","};
  for (auto text : kTexts) {
    CsvTable table(3, 2);  // whatever it held before is dropped
    EXPECT_EQ(Parse(text, table), 0) << U8(text);
    EXPECT_FALSE(table.IsLoaded()) << U8(text);
    EXPECT_EQ(table.Rows(), 0);
    EXPECT_EQ(table.Columns(), 0);
  }
}

TEST(ParseCsvTest, OtherSeparators) {
  CsvTable table;
  EXPECT_EQ(ParseCSV(u"a;'b;c'\nd;e\n", table, u';', u"\n", u'\''), 2);
  ExpectTable(table, 3, {{u"a", u"b;c", u""}, {u"d", u"e"}}, "semicolon, LF, apostrophe");

  // A table written with LF as line separator is not split at CR LF.
  CsvTable lf;
  EXPECT_EQ(ParseCSV(u"a,b\r\nc", lf, u',', u"\r\n\r\n", u'"'), 1);
  ExpectTable(lf, 2, {{u"a", u"b\r\nc"}}, "long line separator not found");

  // An empty line separator never matches (and never hangs).
  CsvTable none;
  EXPECT_EQ(ParseCSV(u"a,b\r\nc", none, u',', u"", u'"'), 1);
  ExpectTable(none, 2, {{u"a", u"b\r\nc"}}, "empty line separator");
}

TEST(ParseCsvTest, ColumnCountIsCapped) {
  std::u16string wide;
  for (int i = 0; i < kMaxCsvColumns + 5000; ++i) wide += u"x,";
  std::u16string text = wide + u"\r\n" + wide + u"\r\n";
  CsvTable table;
  ASSERT_EQ(Parse(text, table), 2);
  EXPECT_EQ(table.Columns(), kMaxCsvColumns);
  EXPECT_EQ(table.Cell(kMaxCsvColumns, 2), u"x");
  EXPECT_FALSE(table.IsSet(kMaxCsvColumns + 1, 2));
}

// Records one at a time: each with the fields it has (at most the first
// record's count), the count the first record fixed, and an early stop.
TEST(ForEachCsvRecordTest, GivesEachRecordAndStopsWhenAsked) {
  const struct {
    const char* label;
    std::u16string_view text;
    int stop_after;  // records to take before stopping (0: all)
    int32_t taken;
    std::vector<std::vector<std::string>> records;
  } kCases[] = {
      {"three records", u"a,b\r\nc\r\nd,e,f\r\n", 0, 3, {{"a", "b"}, {"c"}, {"d", "e"}}},
      {"stopped at the second", u"a,b\r\nc\r\nd,e\r\n", 2, 2, {{"a", "b"}, {"c"}}},
      {"a quoted line end", u"\"x\r\ny\",z\r\nw\r\n", 0, 2, {{"x\r\ny", "z"}, {"w"}}},
      {"nothing", u"", 0, 0, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::vector<std::vector<std::string>> seen;
    std::vector<int32_t> columns;
    const int32_t taken =
        ForEachCSVRecord(c.text, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote,
                         [&](std::vector<std::u16string>& fields, int32_t n) {
                           seen.emplace_back();
                           for (const std::u16string& f : fields) seen.back().push_back(U8(f));
                           columns.push_back(n);
                           return c.stop_after == 0 || static_cast<int>(seen.size()) < c.stop_after;
                         });
    EXPECT_EQ(taken, c.taken);
    EXPECT_EQ(seen, c.records);
    for (int32_t n : columns) EXPECT_EQ(n, c.records.front().size());
  }
}

// A text given in pieces reads as the same records as the whole text,
// wherever the pieces end: inside a line separator, inside a quoted field
// that runs over a line end, just before a last line of one character.
TEST(ForEachCsvRecordTest, AnyPiecesGiveTheRecordsOfTheWholeText) {
  const std::u16string_view kTexts[] = {
      u"a,b\r\nc\r\nd,e,f\r\n",
      u"\"x\r\ny\",z\r\n\"q\"\"\r\n\"\r\nw\r\n",
      u"\"\",\"\"\r\n\"open\r\nto the end",
      u"a\r\nb\r\nc",
      u"a\r\n\r\n\r\nbc\r",
  };
  auto records = [](auto&& input) {
    std::vector<std::vector<std::string>> seen;
    const int32_t taken = ForEachCSVRecord(input, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote,
                                           [&](std::vector<std::u16string>& fields, int32_t n) {
                                             seen.emplace_back(1, std::to_string(n));
                                             for (const std::u16string& f : fields)
                                               seen.back().push_back(U8(f));
                                             return true;
                                           });
    seen.emplace_back(1, std::to_string(taken));
    return seen;
  };
  for (std::u16string_view text : kTexts) {
    const auto whole = records(text);
    for (size_t piece = 1; piece <= text.size(); ++piece) {
      SCOPED_TRACE(U8(text) + ", pieces of " + std::to_string(piece));
      size_t at = 0;
      const CsvTextSource source = [&](std::u16string& out) {
        if (at >= text.size()) return false;
        out.append(text.substr(at, piece));
        at += piece;
        return true;
      };
      EXPECT_EQ(records(source), whole);
    }
  }
}

TEST(BuildCsvTest, Format) {
  struct Case {
    const char* name;
    int32_t columns;
    std::vector<std::vector<std::u16string>> rows;
    std::u16string_view expected;
  } const kCases[] = {
      {"all empty", 3, {{}, {}}, u"\"\",\"\",\"\"\r\n\"\",\"\",\"\"\r\n"},
      {"quotes doubled", 2, {{u"a\"b", u"\""}}, u"\"a\"\"b\",\"\"\"\"\r\n"},
      {"nothing else escaped", 2, {{u" a,b ", u"x\r\ny"}}, u"\" a,b \",\"x\r\ny\"\r\n"},
      {"no rows", 2, {}, u""},
  };
  for (const auto& c : kCases) {
    CsvTable table(c.columns, 0);
    for (const auto& row : c.rows) table.AddRow(row);
    EXPECT_EQ(U8(Build(table)), U8(c.expected)) << c.name;
  }
  CsvTable table(2, 1);
  table.SetCell(1, 1, u"a");
  EXPECT_EQ(BuildCSV(table, u';', u"\n", u'\''), u"'a';''\n");
}

// Building and parsing gives every value back; the trailing quoted field adds
// one empty column.
TEST(CsvRoundTripTest, ValuesSurvive) {
  const std::u16string kValues[] = {
      u"",
      u"plain",
      u"with \"quote\"",
      u"\"",
      u"\"\"",
      u"a,b",
      u"line\r\nbrk",
      u" spaces ",
      u"trailing\r\n",
      u"\r\n",
      u"全角テキスト",
      u"ｶﾞｷﾞ",
      u"x\"",
      u"\",\"",
      u"\r",
      u"\n",
      u"a\"\r\n\"b",
      u",",
      u"\"\r\n",
      u"末尾\"",
  };
  std::mt19937 rng(12345);
  for (int columns = 1; columns <= 4; ++columns) {
    CsvTable table(columns, 0);
    std::vector<std::u16string> fixed(std::begin(kValues), std::end(kValues));
    // Every value in every column, then random rows.
    for (const auto& v : fixed) table.AddRow(std::vector<std::u16string>(columns, v));
    for (int r = 0; r < 200; ++r) {
      std::vector<std::u16string> row;
      for (int c = 0; c < columns; ++c) row.push_back(fixed[rng() % fixed.size()]);
      table.AddRow(row);
    }
    std::u16string text = Build(table);
    CsvTable back;
    ASSERT_EQ(Parse(text, back), table.Rows()) << columns;
    ASSERT_EQ(back.Columns(), columns + 1);
    for (int32_t r = 1; r <= table.Rows(); ++r) {
      for (int32_t c = 1; c <= columns; ++c) {
        ASSERT_EQ(U8(back.Cell(c, r)), U8(table.Cell(c, r))) << "cell " << c << "," << r;
      }
      EXPECT_EQ(back.Cell(columns + 1, r), u"");
    }
  }
}

// Malformed and binary input never crashes and keeps the table consistent.
TEST(ParseCsvTest, GarbageIsSafe) {
  const char16_t kAlphabet[] = {u',', u'"', u'\r', u'\n', u'a', u' ', 0, 0xD800, 0xDC00, 0xFFFF};
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::u16string text;
    size_t length = rng() % 40;
    for (size_t i = 0; i < length; ++i) {
      text.push_back(rng() % 3 == 0 ? static_cast<char16_t>(rng())
                                    : kAlphabet[rng() % std::size(kAlphabet)]);
    }
    CsvTable table;
    int32_t n = Parse(text, table);
    ASSERT_EQ(n, table.Rows());
    ASSERT_EQ(n > 0, table.IsLoaded());
    size_t taken = 0;
    for (int32_t r = 1; r <= n; ++r) {
      ASSERT_FALSE(table.IsSet(table.Columns() + 1, r));
      for (int32_t c = 1; c <= table.Columns(); ++c) taken += table.Cell(c, r).size();
    }
    ASSERT_LE(taken, text.size()) << "nothing is taken twice";
  }
}

TEST(ParseCsvTest, LargeTexts) {
  // A list of 100,000 rows of 14 quoted fields.
  CsvTable list(14, 0);
  for (int r = 0; r < 100000; ++r) {
    list.AddRow(std::vector<std::u16string>(
        14, u"/music/アルバム/曲名 \"" + std::u16string(1, u'0' + r % 10)));
  }
  CsvTable parsed;
  ASSERT_EQ(Parse(Build(list), parsed), 100000);
  EXPECT_EQ(parsed.Columns(), 15);
  EXPECT_EQ(parsed.Cell(14, 100000), list.Cell(14, 100000));

  // 10 MB inside one quoted field that is never closed.
  std::u16string open = u"\"" + std::u16string(10 * 1024 * 1024, u'x');
  for (size_t i = 1000; i < open.size(); i += 1000) open[i] = u'\n';
  CsvTable one;
  ASSERT_EQ(Parse(open, one), 1);
  EXPECT_EQ(one.Cell(1, 1).size(), open.size() - 1);

  // 10 MB of short plain lines, and a 10 MB line of doubled quotes.
  std::u16string lines;
  while (lines.size() < 10 * 1024 * 1024) lines += u"ｱｲｳ,aiu\r\n";
  CsvTable many;
  EXPECT_EQ(Parse(lines, many), static_cast<int32_t>(lines.size() / 9));
  std::u16string quotes = u"\"" + std::u16string(10 * 1024 * 1024, u'"');
  CsvTable q;
  EXPECT_EQ(Parse(quotes, q), 1);
}

}  // namespace
}  // namespace tarvel
