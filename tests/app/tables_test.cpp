#include "app/tables.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/startup.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using ::tarvel::testing::TempDirTest;
using ::tarvel::testing::U8;
using ::tarvel::testing::WriteBytes;
using Status = TableLoadResult::Status;

const std::filesystem::path kDataDir = std::filesystem::path(TARVEL_SOURCE_DIR) / "data";

// The table substitution as the conversion steps apply it: rows in file
// order, each replacing every occurrence and searching again from the first
// character, looping rows skipped.
std::u16string Substitute(std::u16string text, const CsvTable& table) {
  for (int32_t r = 1; r <= table.Rows(); ++r) {
    const std::u16string& search = table.Cell(1, r);
    const std::u16string& replacement = table.Cell(2, r);
    if (IsLoopingRow(search, replacement)) continue;
    size_t p;
    for (int guard = 0; guard < 10000 && (p = text.find(search)) != std::u16string::npos; ++guard) {
      text.replace(p, search.size(), replacement);
    }
  }
  return text;
}

bool IsAscii(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

class LoadTableTest : public TempDirTest {
 protected:
  std::filesystem::path Write(const std::string& name, std::string_view bytes) {
    std::filesystem::path path = dir() / name;
    WriteBytes(path, bytes);
    return path;
  }
};

TEST_F(LoadTableTest, ReadsEveryEncodingAndLineEnd) {
  const std::u16string kText = u"\"ｱ\",\"a\"\r\n\"★\",\"*\"\r\nｷｬ,kya\r\n";
  struct Case {
    const char* name;
    std::string bytes;
  } const kCases[] = {
      {"utf-8", Utf16ToUtf8(kText)},
      {"utf-8 with byte-order mark", "\xEF\xBB\xBF" + Utf16ToUtf8(kText)},
      {"code page 932", EncodeCp932(kText)},
      {"LF only", "\"ｱ\",\"a\"\n\"★\",\"*\"\nｷｬ,kya\n"},
      {"LF only, no final line end", "\"ｱ\",\"a\"\n\"★\",\"*\"\nｷｬ,kya"},
      {"mixed line ends", "\"ｱ\",\"a\"\r\n\"★\",\"*\"\nｷｬ,kya\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    CsvTable table;
    TableLoadResult result = LoadTable(Write("t.csv", c.bytes), "t.csv", table);
    ASSERT_EQ(result.status, Status::kLoaded) << result.message;
    EXPECT_TRUE(result.message.empty());
    EXPECT_TRUE(result.notices.empty());
    ASSERT_EQ(table.Rows(), 3);
    EXPECT_EQ(table.Columns(), 3);  // the last quoted field adds an empty one
    EXPECT_EQ(U8(table.Cell(1, 1)), "ｱ");
    EXPECT_EQ(U8(table.Cell(2, 2)), "*");
    EXPECT_EQ(U8(table.Cell(1, 3)), "ｷｬ");
    EXPECT_EQ(U8(table.Cell(2, 3)), "kya");
  }
}

TEST_F(LoadTableTest, QuotedLineBreakStaysInField) {
  CsvTable table;
  TableLoadResult result = LoadTable(Write("t.csv", "\"a\r\nb\",x\r\nc,d\r\n"), "t.csv", table);
  ASSERT_TRUE(result.loaded());
  ASSERT_EQ(table.Rows(), 2);
  EXPECT_EQ(table.Cell(1, 1), u"a\r\nb");
}

TEST_F(LoadTableTest, UnusableFilesAreNotLoaded) {
  std::filesystem::create_directory(dir() / "folder.csv");
  ASSERT_EQ(::mkfifo((dir() / "fifo.csv").c_str(), 0644), 0);
  std::filesystem::create_symlink(dir() / "nowhere.csv", dir() / "dangling.csv");
  struct Case {
    const char* name;
    std::optional<std::filesystem::path> path;
    Status status;
  } const kCases[] = {
      {"no file found", std::nullopt, Status::kAbsent},
      {"file vanished", dir() / "gone.csv", Status::kAbsent},
      {"empty file", Write("empty.csv", ""), Status::kEmpty},
      {"one character", Write("one.csv", "x"), Status::kEmpty},
      {"folder", dir() / "folder.csv", Status::kUnreadable},
      {"pipe", dir() / "fifo.csv", Status::kUnreadable},
      {"dangling link", dir() / "dangling.csv", Status::kAbsent},
  };
  const std::filesystem::path good = Write("good.csv", "a,b\r\n");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    // A table loaded before keeps none of its rows.
    CsvTable table(2, 2);
    ASSERT_TRUE(LoadTable(good, "dic.csv", table).loaded());
    TableLoadResult result = LoadTable(c.path, "dic.csv", table);
    EXPECT_EQ(result.status, c.status);
    EXPECT_FALSE(result.loaded());
    EXPECT_FALSE(table.IsLoaded());
    EXPECT_NE(result.message.find(c.path ? c.path->filename().string() : "dic.csv"),
              std::string::npos)
        << result.message;
  }
}

TEST_F(LoadTableTest, UnreadableFileIsNotLoaded) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  std::filesystem::path path = Write("locked.csv", "a,b\r\n");
  ::chmod(path.c_str(), 0);
  CsvTable table;
  TableLoadResult result = LoadTable(path, "locked.csv", table);
  EXPECT_EQ(result.status, Status::kUnreadable);
  EXPECT_NE(result.message.find("locked.csv"), std::string::npos);
  EXPECT_FALSE(table.IsLoaded());
}

TEST_F(LoadTableTest, NamesLoopingRows) {
  CsvTable table;
  TableLoadResult result =
      LoadTable(Write("dic.csv", "\"\",\"x\"\r\nｱ,ｱｱ\r\nｲ,i\r\nｳ,ｳ\r\n,\r\n"), "dic.csv", table);
  ASSERT_TRUE(result.loaded());
  EXPECT_EQ(table.Rows(), 5);  // kept in the table; the substitution skips them
  EXPECT_EQ(result.looping_rows, (std::vector<int32_t>{1, 2, 4, 5}));
  ASSERT_EQ(result.notices.size(), 4u);
  EXPECT_EQ(U8(result.notices[0]), "row 1 of dic.csv ignored: the search text is empty");
  EXPECT_EQ(U8(result.notices[1]),
            "row 2 of dic.csv ignored: the replacement contains the search text");
  EXPECT_FALSE(result.lacks_replacement_column);
}

TEST_F(LoadTableTest, ManyLoopingRowsAreSummedUp) {
  std::string text;
  for (int i = 0; i < 250; ++i) text += ",x\r\n";
  CsvTable table;
  TableLoadResult result = LoadTable(Write("dic.csv", text), "dic.csv", table);
  ASSERT_TRUE(result.loaded());
  EXPECT_EQ(result.looping_rows.size(), 250u);
  ASSERT_EQ(result.notices.size(), kMaxLoopingRowNotices + 1);
  EXPECT_EQ(U8(result.notices.back()), "150 more rows of dic.csv ignored for the same reasons");
}

TEST_F(LoadTableTest, OneColumnTableIsNoticed) {
  // The first line fixes the columns: the second fields below are dropped.
  CsvTable table;
  TableLoadResult result = LoadTable(Write("dic.csv", "見出し\r\nｱ,a\r\n"), "dic.csv", table);
  ASSERT_TRUE(result.loaded());
  EXPECT_EQ(table.Columns(), 1);
  EXPECT_TRUE(result.lacks_replacement_column);
  ASSERT_EQ(result.notices.size(), 1u);
  EXPECT_NE(U8(result.notices[0]).find("dic.csv"), std::string::npos);
}

TEST_F(LoadTableTest, StartupLoadsBothTables) {
  std::filesystem::path dic = Write("dic.csv", "\"★\",\"*\"\r\n");
  std::filesystem::path rome = Write("Rome.csv", "\"ｱ\",\"a\"\r\n");
  std::filesystem::path empty = Write("empty.csv", "");
  struct Case {
    const char* name;
    std::optional<std::filesystem::path> dic, rome;
    bool dictionary_missing, rome_loaded;
  } const kCases[] = {
      {"both", dic, rome, false, true},
      {"no romaji table", dic, std::nullopt, false, false},
      {"empty romaji table", dic, empty, false, false},
      {"no dictionary", std::nullopt, rome, true, false},
      {"empty dictionary", empty, rome, true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    AppState state;
    state.RomeTable = CsvTable(2, 1);  // dropped whatever happens
    StartupTablesResult result = LoadTables(state, c.dic, c.rome);
    EXPECT_EQ(result.dictionary_missing(), c.dictionary_missing);
    EXPECT_EQ(state.DicTable.IsLoaded(), !c.dictionary_missing);
    EXPECT_EQ(result.rome.loaded(), c.rome_loaded);
    EXPECT_EQ(state.RomeTable.IsLoaded(), c.rome_loaded);
    if (c.rome_loaded) {
      EXPECT_EQ(state.RomeTable.Cell(2, 1), u"a");
    }
  }
}

TEST_F(LoadTableTest, StartupNoticesForTheLog) {
  std::filesystem::path dic = Write("dic.csv", ",x\r\n\"★\",\"*\"\r\n");
  std::filesystem::path rome = Write("Rome.csv", "ｱ,a\r\nｲ,ｲ\r\n");
  std::filesystem::path empty = Write("empty.csv", "");
  AppState state;
  std::vector<std::u16string> lines = StartupTableNotices(LoadTables(state, dic, rome));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(U8(lines[0]), "row 1 of dic.csv ignored: the search text is empty");
  EXPECT_EQ(U8(lines[1]), "row 2 of Rome.csv ignored: the replacement contains the search text");

  lines = StartupTableNotices(LoadTables(state, dic, empty));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(U8(lines[1]).find("empty.csv: the table is empty"), std::string::npos);
  EXPECT_EQ(StartupTableNotices(LoadTables(state, dic, std::nullopt)).size(), 1u);
}

// The start-up's notices for the log: first the settings values replaced by
// their defaults, then the table rows left out.
TEST_F(LoadTableTest, StartupGathersSettingAndTableNotices) {
  Write("dic.csv", ",x\r\n\"★\",\"*\"\r\n");
  Write("Rome.csv", "ｱ,a\r\nｲ,ｲ\r\n");
  Write("tarvel.ini", "[Option]\r\nLengthName=abc\r\n");
  AppState app;
  const StartupResult r = Startup(app, dir() / "tarvel");
  ASSERT_TRUE(r.ok()) << U8(r.message);
  ASSERT_EQ(r.setting_notices.size(), 1u);
  EXPECT_NE(r.setting_notices[0].find("LengthName"), std::string::npos) << r.setting_notices[0];
  ASSERT_EQ(r.notices.size(), 3u);
  EXPECT_EQ(U8(r.notices[0]), r.setting_notices[0]);
  EXPECT_EQ(U8(r.notices[1]), "row 1 of dic.csv ignored: the search text is empty");
  EXPECT_EQ(U8(r.notices[2]),
            "row 2 of Rome.csv ignored: the replacement contains the search text");
  EXPECT_EQ(app.RomeTable.Cell(2, 1), u"a");
  // Without its dictionary the start-up says so, and the program must not run.
  std::filesystem::remove(dir() / "dic.csv");
  const StartupResult missing = Startup(app, dir() / "tarvel");
  EXPECT_EQ(missing.code, StartupResult::Code::kDictionaryMissing);
  EXPECT_EQ(U8(missing.message), "全角→半角 変換辞書が見つかりません");
  // A settings file that cannot be read stops the start-up first.
  std::filesystem::create_directories(dir() / "unreadable.ini");
  const StartupResult unreadable = Startup(app, dir() / "tarvel", dir() / "unreadable.ini");
  EXPECT_EQ(unreadable.code, StartupResult::Code::kSettingsUnreadable);
  EXPECT_NE(U8(unreadable.message).find("unreadable.ini"), std::string::npos);
}

TEST(LineEndsTest, LoneLineFeedsBecomeCrLf) {
  struct {
    std::u16string_view input, expected;
  } const kCases[] = {
      {u"a\nb\n", u"a\r\nb\r\n"},   {u"\n", u"\r\n"},   {u"a\r\nb", u"a\r\nb"},
      {u"a\r\n\nb", u"a\r\n\r\nb"}, {u"a\rb", u"a\rb"}, {u"", u""},
  };
  for (const auto& c : kCases) EXPECT_EQ(U8(NormalizeLineEnds(c.input)), U8(c.expected));
}

// The default tables shipped in data/.
class DefaultTablesTest : public ::testing::Test {
 protected:
  static CsvTable Load(const char* name) {
    CsvTable table;
    TableLoadResult result = LoadTable(kDataDir / name, name, table);
    EXPECT_EQ(result.status, Status::kLoaded) << result.message;
    for (const auto& n : result.notices) ADD_FAILURE() << U8(n);
    EXPECT_GE(table.Columns(), 2);
    return table;
  }
};

TEST_F(DefaultTablesTest, FilesAreUtf8WithCrLf) {
  for (const char* name : {"dic.csv", "Rome.csv"}) {
    std::string bytes = ::tarvel::testing::ReadBytes(kDataDir / name);
    EXPECT_TRUE(IsValidUtf8(bytes)) << name;
    EXPECT_FALSE(bytes.starts_with("\xEF\xBB\xBF")) << name;
    EXPECT_TRUE(bytes.ends_with("\r\n")) << name;
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '\n') {
        ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << name << " byte " << i;
      }
    }
  }
}

// Every row gives its own replacement when applied to its search text alone:
// no earlier row takes part of it and no later row changes its result.
TEST_F(DefaultTablesTest, EveryRowIsReachedAndKept) {
  for (const char* name : {"dic.csv", "Rome.csv"}) {
    CsvTable table = Load(name);
    for (int32_t r = 1; r <= table.Rows(); ++r) {
      EXPECT_EQ(U8(Substitute(table.Cell(1, r), table)), U8(table.Cell(2, r)))
          << name << " row " << r << ": " << U8(table.Cell(1, r));
    }
  }
}

TEST_F(DefaultTablesTest, DictionaryLeavesOnlyOneByteCharacters) {
  CsvTable dic = Load("dic.csv");
  ASSERT_GT(dic.Rows(), 100);
  std::u16string all;
  for (int32_t r = 1; r <= dic.Rows(); ++r) {
    const std::u16string& search = dic.Cell(1, r);
    const std::u16string& replacement = dic.Cell(2, r);
    EXPECT_FALSE(IsLoopingRow(search, replacement)) << "row " << r;
    EXPECT_TRUE(SurvivesCp932(replacement)) << "row " << r << ": " << U8(replacement);
    EXPECT_EQ(Cp932Length(replacement), replacement.size())
        << "row " << r << ": " << U8(replacement);
    all += search;
  }
  // After the dictionary and the kana conversion nothing two bytes wide is
  // left of any of its search texts.
  std::u16string converted = ToHalfWidthKana(Substitute(all, dic));
  for (char16_t c : converted) {
    EXPECT_FALSE(IsTwoByteChar(c)) << U8(std::u16string(1, c));
  }
  // The characters the kana conversion cannot narrow.
  struct {
    std::u16string_view input, expected;
  } const kCases[] = {
      {u"★☆♪", u"++~"},
      {u"〜～", u"~~"},
      {u"…‥", u"･････"},
      {u"“a” ‘b’", u"'a' 'b'"},
      {u"—―‐–", u"----"},
      {u"①⑩⑳", u"(1)(10)(20)"},
      {u"ⅠⅣⅩⅻ", u"IIVXxii"},
      {u"→⇒〈》", u"-=(]"},
      {u"×※〒", u"x+T"},
      {u"ヶヵヮゝゞ", u"ヶヵヮゝゞ"},  // the reading needs them: the kana step narrows them
  };
  for (const auto& c : kCases)
    EXPECT_EQ(U8(Substitute(std::u16string(c.input), dic)), U8(c.expected));
}

TEST_F(DefaultTablesTest, RomajiExamples) {
  CsvTable rome = Load("Rome.csv");
  struct {
    std::u16string_view input, expected;
  } const kCases[] = {
      {u"ﾄｳｷｮｳ", u"toukyou"},
      {u"ｼﾝﾌﾞﾝ", u"shinbun"},
      {u"ｶｯﾌﾟ", u"kappu"},
      {u"ﾁｬｰﾊﾝ", u"cha-han"},
      {u"ｼﾞｬｽﾞ", u"jazu"},
      {u"ﾌｼﾞｻﾝ", u"fujisan"},
      {u"ﾂﾅﾐ", u"tsunami"},
      {u"ﾏｯﾁ", u"matchi"},
      {u"ｷｯﾁｬﾝ", u"kitchan"},
      {u"ｹｯｷｮｸ", u"kekkyoku"},
      {u"ｸﾞｯｷﾞｬ", u"guggya"},
      {u"ﾃｨｰ", u"ti-"},
      {u"ﾃﾞｨｽｸ", u"disuku"},
      {u"ﾌｧﾐﾘｰ", u"famiri-"},
      {u"ｼｪｱ", u"shea"},
      {u"ﾁｪｯｸ", u"chekku"},
      {u"ｼﾞｪｯﾄ", u"jetto"},
      {u"ｳｨﾝﾄﾞｳ", u"windou"},
      {u"ｳｪｰﾌﾞ", u"we-bu"},
      {u"ﾄｩﾓﾛｰ", u"tumoro-"},
      {u"ﾃﾞｭｴｯﾄ", u"dyuetto"},
      {u"ｳﾞｧｲｵﾘﾝ", u"vaiorin"},
      {u"ｱｯ", u"atsu"},
      {u"ｦ", u"wo"},
      {u"｢ｱ｣､ｲ｡", u"[a] i"},
      {u"ｱ･･･ｲ", u"a~i"},
      {u"ﾋﾞﾙ･ｴｳﾞｧﾝｽ", u"biru evansu"},
      {u"ｱﾞｰ", u"a-"},
      {u"song ｱ 01.mp3", u"song a 01.mp3"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(U8(Substitute(std::u16string(c.input), rome)), U8(c.expected)) << U8(c.input);
  }
  // Full-width text reaches the table through the kana conversion.
  EXPECT_EQ(U8(Substitute(ToHalfWidthKana(u"ヴァイオリン・ぎゃっぷ"), rome)), "vaiorin gyappu");
  EXPECT_EQ(U8(Substitute(ToHalfWidthKana(u"ヷヺ"), rome)), "vavo");
}

// Every half-width katakana, mark and punctuation, alone and followed by any
// other one, becomes plain ASCII.
TEST_F(DefaultTablesTest, RomajiLeavesNoKatakana) {
  CsvTable rome = Load("Rome.csv");
  for (char16_t a = 0xFF61; a <= 0xFF9F; ++a) {
    std::u16string alone(1, a);
    EXPECT_TRUE(IsAscii(Substitute(alone, rome))) << U8(alone);
    for (char16_t b = 0xFF61; b <= 0xFF9F; ++b) {
      std::u16string pair{a, b};
      std::u16string out = Substitute(pair, rome);
      ASSERT_TRUE(IsAscii(out)) << U8(pair) << " -> " << U8(out);
      std::u16string sokuon{u'ｯ', a, b};
      ASSERT_TRUE(IsAscii(Substitute(sokuon, rome))) << U8(sokuon);
    }
  }
}

}  // namespace
}  // namespace tarvel
