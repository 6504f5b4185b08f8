#include "app/user_dictionary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/app_state.h"
#include "app/tables.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::WriteBytes;

class UserDictionaryTest : public testing::TempDirTest {
 protected:
  fs::path Dic() const { return dir() / "dic.csv"; }
};

std::string U8(std::u16string_view text) { return Utf16ToUtf8(text); }
std::string Sjis(std::u16string_view text) { return EncodeCp932(text); }

// The new row lands above the first shorter row it contains, in the
// file's encoding and line ends, and every other byte stays as it was.
TEST_F(UserDictionaryTest, AddsTheRowInPlaceKeepingEveryOtherByte) {
  const std::string bom = "\xEF\xBB\xBF";
  struct {
    const char* what;
    std::string before;
    std::u16string search, reading;
    std::string after;
  } kCases[] = {
      {"above a shorter row it contains", U8(u"\"★\",\"*\"\r\n\"華\",\"ハナ\"\r\n"), u"紅蓮華",
       u"グレンゲ", U8(u"\"★\",\"*\"\r\n\"紅蓮華\",\"グレンゲ\"\r\n\"華\",\"ハナ\"\r\n")},
      {"above the same text, which it then wins over", U8(u"\"紅蓮華\",\"グレンハナ\"\r\n"),
       u"紅蓮華", u"グレンゲ", U8(u"\"紅蓮華\",\"グレンゲ\"\r\n\"紅蓮華\",\"グレンハナ\"\r\n")},
      {"below a longer row that contains it", U8(u"\"紅蓮華の弓\",\"x\"\r\n"), u"紅蓮華",
       u"グレンゲ", U8(u"\"紅蓮華の弓\",\"x\"\r\n\"紅蓮華\",\"グレンゲ\"\r\n")},
      {"at the end, after a last line without a line end", U8(u"\"★\",\"*\""), u"源", u"ゲン",
       U8(u"\"★\",\"*\"\r\n\"源\",\"ゲン\"\r\n")},
      {"LF line ends stay LF", U8(u"\"a\",\"b\"\n"), u"星野源", u"ホシノゲン",
       U8(u"\"a\",\"b\"\n\"星野源\",\"ホシノゲン\"\n")},
      {"a byte-order mark stays in front", bom + U8(u"\"華\",\"ハナ\"\r\n"), u"紅蓮華", u"グレンゲ",
       bom + U8(u"\"紅蓮華\",\"グレンゲ\"\r\n\"華\",\"ハナ\"\r\n")},
      {"a code page 932 file stays one", Sjis(u"\"ソ\",\"ｿ\"\r\n\"華\",\"ハナ\"\r\n"), u"紅蓮華",
       u"グレンゲ", Sjis(u"\"ソ\",\"ｿ\"\r\n\"紅蓮華\",\"グレンゲ\"\r\n\"華\",\"ハナ\"\r\n")},
      {"a quoted line end and quotes inside fields",
       U8(u"\"a\r\n華\",\"1\"\r\n\"華\",\"ハナ\"\r\n"), u"\"華\"", u"ハ\"ナ",
       U8(u"\"a\r\n華\",\"1\"\r\n\"\"\"華\"\"\",\"ハ\"\"ナ\"\r\n\"華\",\"ハナ\"\r\n")},
      {"blanks around the texts are dropped", "", u" 源　", u"\tゲン ", U8(u"\"源\",\"ゲン\"\r\n")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteBytes(Dic(), c.before);
    std::u16string error;
    ASSERT_TRUE(AddDictionaryRowTo(Dic(), c.search, c.reading, &error)) << U8(error);
    EXPECT_EQ(ReadBytes(Dic()), c.after);
  }
}

// A row that cannot be one, or cannot be written in the file's encoding,
// leaves the file as it was and says why.
TEST_F(UserDictionaryTest, RefusesWhatCannotBeARowAndKeepsTheFile) {
  struct {
    const char* what;
    std::string before;
    std::u16string search, reading;
  } kCases[] = {
      {"an empty search text", U8(u"\"a\",\"b\"\r\n"), u"　", u"ア"},
      {"an empty reading", U8(u"\"a\",\"b\"\r\n"), u"源", u""},
      {"a reading that holds its search text", U8(u"\"a\",\"b\"\r\n"), u"ア", u"アア"},
      {"a line end in a text", U8(u"\"a\",\"b\"\r\n"), u"源\n", u"ゲン\nx"},
      {"a character code page 932 lacks", Sjis(u"\"ソ\",\"ｿ\"\r\n"), u"𠮷野家", u"ヨシノヤ"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteBytes(Dic(), c.before);
    std::u16string error;
    EXPECT_FALSE(AddDictionaryRowTo(Dic(), c.search, c.reading, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadBytes(Dic()), c.before);
  }
  // A file that cannot be written: its folder is a file.
  std::u16string error;
  WriteBytes(dir() / "plain", "x");
  EXPECT_FALSE(AddDictionaryRowTo(dir() / "plain" / "dic.csv", u"源", u"ゲン", &error));
  EXPECT_NE(error.find(u"辞書ファイル"), std::u16string::npos);
}

// In installed mode the user's own file holds the user's rows and applies
// before the installed one, whose rows still apply; a linked file is changed
// where it lies.
TEST_F(UserDictionaryTest, TheUsersRowsComeFirstAndTheInstalledOnesStill) {
  AppState app;
  app.folder.mode = AppFolder::Mode::kInstalled;
  app.folder.table_dirs = {dir() / "config", dir() / "share"};
  fs::create_directories(dir() / "share");
  const std::string shipped = U8(u"\"★\",\"*\"\r\n\"華\",\"ハナ\"\r\n");
  WriteBytes(dir() / "share" / "dic.csv", shipped);
  std::u16string error;
  ASSERT_TRUE(AddDictionaryRow(app.folder, u"紅蓮華", u"グレンゲ", &error)) << U8(error);
  EXPECT_EQ(UserDictionaryPath(app.folder), dir() / "config" / "dic.csv");
  EXPECT_EQ(ReadBytes(dir() / "config" / "dic.csv"), U8(u"\"紅蓮華\",\"グレンゲ\"\r\n"));
  EXPECT_EQ(ReadBytes(dir() / "share" / "dic.csv"), shipped);
  ASSERT_TRUE(ReloadDictionary(app, &error)) << U8(error);
  const std::u16string kSearch[] = {u"紅蓮華", u"★", u"華"};
  ASSERT_EQ(app.DicTable.Rows(), 3);
  for (int32_t r = 1; r <= 3; ++r) EXPECT_EQ(app.DicTable.Cell(1, r), kSearch[r - 1]) << r;

  // A personal file that cannot be read leaves the installed one in use.
  fs::remove(dir() / "config" / "dic.csv");
  fs::create_directories(dir() / "config" / "dic.csv");
  ASSERT_TRUE(ReloadDictionary(app, &error)) << U8(error);
  EXPECT_EQ(app.DicTable.Rows(), 2);
  fs::remove(dir() / "config" / "dic.csv");

  fs::create_symlink(dir() / "share" / "dic.csv", dir() / "config" / "dic.csv");
  ASSERT_TRUE(AddDictionaryRow(app.folder, u"源", u"ゲン", &error)) << U8(error);
  EXPECT_TRUE(fs::is_symlink(dir() / "config" / "dic.csv"));
  EXPECT_EQ(ReadBytes(dir() / "share" / "dic.csv"), shipped + U8(u"\"源\",\"ゲン\"\r\n"));

  // Nothing to load: the table stays as it was.
  fs::remove(dir() / "config" / "dic.csv");
  fs::remove(dir() / "share" / "dic.csv");
  EXPECT_FALSE(ReloadDictionary(app, &error));
  EXPECT_EQ(app.DicTable.Rows(), 2);
}

}  // namespace
}  // namespace tarvel
