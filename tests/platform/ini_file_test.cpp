#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::ReadBytes;
using testing::U8;
using testing::WriteBytes;

// One value read or written the way the settings functions do it: the file
// loaded, read or changed, and saved, each time anew.
class IniFileTest : public testing::TempDirTest {
 protected:
  std::filesystem::path Ini() const { return dir() / "t.ini"; }

  static std::u16string ReadString(const std::filesystem::path& file, std::u16string_view section,
                                   std::u16string_view key, std::u16string_view default_value) {
    return IniFile::Load(file).ReadString(section, key, default_value);
  }
  static int32_t ReadInt(const std::filesystem::path& file, std::u16string_view section,
                         std::u16string_view key, int32_t default_value) {
    return IniFile::Load(file).ReadInt(section, key, default_value);
  }
  static bool Write(const std::filesystem::path& file, std::u16string_view section,
                    std::u16string_view key, std::u16string_view value) {
    IniFile ini = IniFile::Load(file);
    return ini.Set(section, key, value) && ini.Save();
  }
};

TEST_F(IniFileTest, ReadsValues) {
  WriteBytes(Ini(),
             "; comment=1\r\n"
             "top=9\r\n"  // before any section: not a value
             "[Option]\r\n"
             "  player = 2  \r\n"
             ";Player=5\r\n"
             "Path=\"/a b/ \"\r\n"
             "Quoted='x'\r\n"
             "Half=\"x\r\n"
             "Empty=\r\n"
             "NoEquals\r\n"
             "Dup=first\r\n"
             "dup=second\r\n"
             "𐐀=deseret\r\n"
             "[ general ] trailing\n"
             "FormTop=-15\n"
             "[option]\r\n"
             "Late=1\r\n"
             "[Tab]\r\n"
             "K=\ta\tb\t\r\n"
             "V=\r\v\fv\r\v\f\r\n"
             "[Last]\r\n"
             "NoEnd=end");
  struct {
    std::u16string_view section, key;
    std::optional<std::u16string> expected;
  } const kCases[] = {
      {u"Option", u"Player", u"2"},
      {u"OPTION", u"PLAYER", u"2"},
      {u"Option", u"Path", u"/a b/ "},
      {u"Option", u"Quoted", u"x"},
      {u"Option", u"Half", u"\"x"},
      {u"Option", u"Empty", u""},
      {u"Option", u"NoEquals", {}},
      {u"Option", u"Dup", u"first"},
      {u"Option", u"𐐨", u"deseret"},   // folded beyond the BMP too
      {u"Option", u"🐨", {}},           // the same second half, another first
      {u"Option", u"\U00010429", {}},  // the same first half, another second
      {u"General", u"FormTop", u"-15"},
      {u"Option", u"Late", {}},  // second [option] ignored
      {u"", u"top", {}},
      {u"Option", u"comment", {}},
      {u"Option", u";Player", {}},  // a comment, though it holds "="
      {u"Tab", u"K", u"a\tb"},
      {u"Tab", u"V", u"v"},  // every kind of blank is trimmed
      {u"Last", u"NoEnd", u"end"},
      {u"Missing", u"Player", {}},
      {u"Option", u"Missing", {}},
  };
  IniFile ini = IniFile::Load(Ini());
  ASSERT_TRUE(ini.load_ok()) << ini.error();
  for (const auto& c : kCases) {
    EXPECT_EQ(ini.Get(c.section, c.key), c.expected) << U8(c.section) << "/" << U8(c.key);
  }
}

TEST_F(IniFileTest, ReadsIntegersLikeGetPrivateProfileInt) {
  struct {
    std::string_view value;
    int32_t expected;
  } const kCases[] = {
      {"30", 30},
      {"-1", -1},
      {"+7", 7},
      {"1x", 1},
      {"abc", 0},
      {"", 99},  // an empty value gives the default
      {" 12 ", 12},
      {"- 1", 0},
      {"０", 0},
      {"99999999999", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-99999999999999999999", -2147483647 - 1},
  };
  for (const auto& c : kCases) {
    WriteBytes(Ini(), "[S]\nK=" + std::string(c.value) + "\n");
    EXPECT_EQ(ReadInt(Ini(), u"S", u"K", 99), c.expected) << c.value;
  }
  EXPECT_EQ(ReadInt(Ini(), u"S", u"Other", 99), 99);
  EXPECT_EQ(ReadInt(dir() / "absent.ini", u"S", u"K", 99), 99);
}

TEST_F(IniFileTest, WritesInPlaceAppendsAndKeepsOtherLines) {
  struct {
    const char* name;
    std::string before;
    std::u16string_view section, key, value;
    std::string after;
  } const kCases[] = {
      {"replace keeps spacing and other lines", "; c\r\n[A]\r\nk = 1\r\nx=2\r\n", u"a", u"K", u"5",
       "; c\r\n[A]\r\nk = 5\r\nx=2\r\n"},
      {"new key after the section's last value", "[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\n", u"A",
       u"y", u"2", "[A]\r\nx=1\r\ny=2\r\n\r\n; about B\r\n[B]\r\n"},
      {"new key in an empty section", "[A]\n\n[B]\nz=0\n", u"A", u"y", u"2",
       "[A]\ny=2\n\n[B]\nz=0\n"},
      {"new section at the end, LF kept", "[A]\nx=1\n", u"B", u"y", u"2", "[A]\nx=1\n[B]\ny=2\n"},
      {"unended last line", "[A]\r\nx=1", u"A", u"y", u"2", "[A]\r\nx=1\r\ny=2\r\n"},
      {"new file", "", u"Option", u"Player", u"1", "[Option]\r\nPlayer=1\r\n"},
      {"mixed line ends stay", "[A]\r\nx=1\nq\r\n", u"A", u"x", u"3", "[A]\r\nx=3\nq\r\n"},
      {"first duplicate written", "[A]\nk=1\nK=2\n[a]\nk=3\n", u"A", u"k", u"9",
       "[A]\nk=9\nK=2\n[a]\nk=3\n"},
      {"space at an end is quoted", "[A]\n", u"A", u"p", u" x ", "[A]\np=\" x \"\n"},
      {"quotes are quoted", "[A]\n", u"A", u"p", u"'x'", "[A]\np=\"'x'\"\n"},
      {"binary lines untouched", std::string("\x00\xFF\xFE garbage\n[A]\nk=1\n", 20), u"A", u"k",
       u"2", std::string("\x00\xFF\xFE garbage\n[A]\nk=2\n", 20)},
  };
  for (const auto& c : kCases) {
    std::filesystem::remove(Ini());
    if (!c.before.empty()) WriteBytes(Ini(), c.before);
    EXPECT_TRUE(Write(Ini(), c.section, c.key, c.value)) << c.name;
    EXPECT_EQ(ReadBytes(Ini()), c.after) << c.name;
    EXPECT_EQ(IniFile::Load(Ini()).Get(c.section, c.key), std::u16string(c.value)) << c.name;
  }
}

TEST_F(IniFileTest, EncodingOfTheFile) {
  // A code page 932 file is read and stays code page 932, byte for byte.
  const std::string cp932 =
      "[Option]\r\n; \x93\xFA\x96\x7B\r\nPathDataFolder=/\x89\xB9\x8A\x79\r\n";
  WriteBytes(Ini(), cp932);
  EXPECT_EQ(ReadString(Ini(), u"Option", u"PathDataFolder", u""), u"/音楽");
  ASSERT_TRUE(Write(Ini(), u"Option", u"Player", u"ｱ"));
  EXPECT_EQ(ReadBytes(Ini()), cp932 + "Player=\xB1\r\n");

  // A value code page 932 cannot hold turns the file into UTF-8 with a mark.
  ASSERT_TRUE(Write(Ini(), u"Option", u"Player", u"한"));
  EXPECT_EQ(ReadBytes(Ini()),
            "\xEF\xBB\xBF[Option]\r\n; \xE6\x97\xA5\xE6\x9C\xAC\r\n"
            "PathDataFolder=/\xE9\x9F\xB3\xE6\xA5\xBD\r\nPlayer=\xED\x95\x9C\r\n");
  EXPECT_EQ(ReadString(Ini(), u"Option", u"PathDataFolder", u""), u"/音楽");

  // A UTF-8 file without a mark stays so.
  WriteBytes(Ini(), "[A]\n; \xE6\x97\xA5\n");
  ASSERT_TRUE(Write(Ini(), u"A", u"k", u"音"));
  EXPECT_EQ(ReadBytes(Ini()), "[A]\nk=\xE9\x9F\xB3\n; \xE6\x97\xA5\n");
}

TEST_F(IniFileTest, ReadStringCutsAt254Cp932Bytes) {
  struct {
    const char* name;
    std::u16string value;
    size_t expected_units;
  } const kCases[] = {
      {"254 ASCII", std::u16string(254, u'a'), 254},
      {"300 ASCII", std::u16string(300, u'a'), 254},
      {"127 kanji", std::u16string(127, u'日'), 127},
      {"kanji across the cut", std::u16string(253, u'a') + u"日", 253},
      {"half-width kana is one byte", std::u16string(300, u'ｱ'), 254},
      {"surrogate pair never split", std::u16string(253, u'a') + u"\U0001F600", 253},
  };
  for (const auto& c : kCases) {
    ASSERT_TRUE(Write(Ini(), u"S", u"K", c.value)) << c.name;
    std::u16string got = ReadString(Ini(), u"S", u"K", u"default");
    EXPECT_EQ(got, c.value.substr(0, c.expected_units)) << c.name;
    EXPECT_EQ(*IniFile::Load(Ini()).Get(u"S", u"K"), c.value) << c.name;  // stored whole
  }
}

TEST_F(IniFileTest, ManyWritesThenOneSave) {
  IniFile ini = IniFile::Load(Ini());
  EXPECT_TRUE(ini.Set(u"A", u"x", u"1"));
  EXPECT_TRUE(ini.Set(u"B", u"y", u"2"));
  EXPECT_TRUE(ini.Set(u"A", u"z", u"3"));
  EXPECT_TRUE(ini.Set(u"a", u"X", u"4"));
  EXPECT_FALSE(std::filesystem::exists(Ini()));
  ASSERT_TRUE(ini.Save()) << ini.error();
  EXPECT_EQ(ReadBytes(Ini()), "[A]\r\nx=4\r\nz=3\r\n[B]\r\ny=2\r\n");
  // Setting the same values again changes nothing.
  EXPECT_TRUE(ini.Set(u"A", u"x", u"4"));
  EXPECT_FALSE(ini.dirty());
  EXPECT_TRUE(ini.Save()) << ini.error();  // nothing to write is no failure
}

TEST_F(IniFileTest, RefusesWhatCannotBeStored) {
  struct {
    std::u16string_view section, key, value;
  } const kCases[] = {
      {u"A", u"k", u"two\nlines"},
      {u"A", u"k", u"cr\r"},
      {u"A", u"k", std::u16string_view(u"n\0", 2)},
      {u"A", u"", u"v"},
      {u"A", u"k=1", u"v"},
      {u"A", u";k", u"v"},
      {u"A]", u"k", u"v"},
      {u" A", u"k", u"v"},
      {u"A", u"k ", u"v"},
      {u"A\n", u"k", u"v"},
  };
  WriteBytes(Ini(), "[A]\nk=1\n");
  for (const auto& c : kCases) {
    EXPECT_FALSE(Write(Ini(), c.section, c.key, c.value)) << U8(c.key) << U8(c.value);
  }
  EXPECT_EQ(ReadBytes(Ini()), "[A]\nk=1\n");
}

TEST_F(IniFileTest, FailuresAreReportedAndNothingIsLost) {
  EXPECT_FALSE(Write(dir() / "no-folder" / "t.ini", u"A", u"k", u"v"));
  // A folder in place of the file.
  std::filesystem::create_directory(dir() / "folder.ini");
  EXPECT_EQ(ReadString(dir() / "folder.ini", u"A", u"k", u"d"), u"d");
  IniFile folder = IniFile::Load(dir() / "folder.ini");
  EXPECT_FALSE(folder.load_ok());
  EXPECT_FALSE(folder.error().empty());
  EXPECT_TRUE(folder.Set(u"A", u"k", u"v"));
  EXPECT_FALSE(folder.Save());
  EXPECT_FALSE(Write(dir() / "folder.ini", u"A", u"k", u"v"));
  EXPECT_TRUE(std::filesystem::is_directory(dir() / "folder.ini"));
  // A save that works after one that failed leaves no error behind.
  IniFile later = IniFile::Load(dir() / "later" / "t.ini");
  EXPECT_TRUE(later.Set(u"A", u"k", u"v"));
  EXPECT_FALSE(later.Save());
  EXPECT_FALSE(later.error().empty());
  std::filesystem::create_directory(dir() / "later");
  EXPECT_TRUE(later.Save());
  EXPECT_EQ(later.error(), "");
  if (::geteuid() != 0) {
    // A read-only file is left alone, and so is one that cannot be read.
    WriteBytes(Ini(), "[A]\nk=1\n");
    ::chmod(Ini().c_str(), 0444);
    EXPECT_FALSE(Write(Ini(), u"A", u"k", u"2"));
    ::chmod(Ini().c_str(), 0200);
    EXPECT_FALSE(Write(Ini(), u"A", u"k", u"2"));
    ::chmod(Ini().c_str(), 0644);
    EXPECT_EQ(ReadBytes(Ini()), "[A]\nk=1\n");
  }
}

TEST_F(IniFileTest, KeepsModeAndWritesThroughALink) {
  WriteBytes(dir() / "real.ini", "[A]\nk=1\n");
  ::chmod((dir() / "real.ini").c_str(), 0600);
  std::filesystem::create_symlink(dir() / "real.ini", Ini());
  ASSERT_TRUE(Write(Ini(), u"A", u"k", u"2"));
  EXPECT_TRUE(std::filesystem::is_symlink(Ini()));
  EXPECT_EQ(ReadBytes(dir() / "real.ini"), "[A]\nk=2\n");
  struct stat st {};
  ASSERT_EQ(::stat((dir() / "real.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(IniFileTest, GarbageAndHugeFilesGiveDefaults) {
  std::string garbage;
  for (int i = 0; i < 100000; ++i) garbage.push_back(static_cast<char>((i * 7919) % 251));
  WriteBytes(Ini(), garbage);
  EXPECT_EQ(ReadInt(Ini(), u"Option", u"Player", 1), 1);
  ASSERT_TRUE(Write(Ini(), u"Option", u"Player", u"2"));
  EXPECT_EQ(ReadInt(Ini(), u"Option", u"Player", 1), 2);
  EXPECT_TRUE(ReadBytes(Ini()).starts_with(garbage));

  // One line of 4 MB and many sections.
  std::string big = "[S]\nK=" + std::string(4 << 20, 'x') + "\n";
  for (int i = 0; i < 20000; ++i)
    big += "[S" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
  WriteBytes(Ini(), big);
  IniFile ini = IniFile::Load(Ini());
  EXPECT_EQ(ini.ReadString(u"S", u"K", u"").size(), 254u);
  EXPECT_EQ(ini.ReadInt(u"S19999", u"k", -1), 19999);
}

}  // namespace
}  // namespace tarvel
