#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/ini_file.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::ReadBytes;
using testing::U8;
using testing::WriteBytes;

class SettingsTest : public testing::TempDirTest {
 protected:
  std::filesystem::path Ini() const { return dir() / "tarvel.ini"; }
};

TEST_F(SettingsTest, NoFileGivesDefaults) {
  std::string error = "unset";
  Settings s = LoadSettings(Ini(), u"/opt/music", &error);
  Settings expected;
  expected.PathDataFolder = u"/opt/music";
  EXPECT_EQ(s, expected);
  EXPECT_EQ(error, "");
  EXPECT_FALSE(std::filesystem::exists(Ini()));
}

TEST_F(SettingsTest, FirstSaveWritesTheOptionSectionInOrder) {
  Settings s;
  s.PathDataFolder = u"/home/u/音楽";
  s.LengthName = 50;
  s.ConvertLevelID3Tag = 2;
  s.ID3TagTitle = -1;
  ASSERT_TRUE(SaveSettings(s, Ini()));
  const std::string expected =
      "[Option]\r\nPathDataFolder=/home/u/\x89\xB9\x8A\x79\r\nPlayer=1\r\nFlagDisplayLog=1\r\n"
      "FlagRenameSubfolders=1\r\nFlagRenameFolderName=1\r\nFlagCreateCSVFile=1\r\n"
      "FlagPathSaveCSV=0\r\nFlagConvertFilename=1\r\nFlagCheckOnlyFilename=1\r\n"
      "FlagLimit30Char=1\r\nLengthName=50\r\nFlagDicEnabledFilename=1\r\n"
      "FlagDetectFullCharFilename=1\r\nConvertLevelFilename=1\r\nFlagConvertID3Tag=1\r\n"
      "FlagCheckOnlyID3Tag=1\r\nFlagDicEnabledID3Tag=1\r\nFlagDetectFullCharID3Tag=1\r\n"
      "ID3TagArtist=0\r\nID3TagAlbum=0\r\nID3TagTitle=-1\r\nConvertLevelID3Tag=2\r\n";
  EXPECT_EQ(ReadBytes(Ini()), expected);
  EXPECT_EQ(LoadSettings(Ini(), u"/elsewhere"), s);
  // Saving again writes the same file.
  ASSERT_TRUE(SaveSettings(s, Ini()));
  EXPECT_EQ(ReadBytes(Ini()), expected);
}

TEST_F(SettingsTest, SaveKeepsOtherSectionsAndLines) {
  WriteBytes(Ini(),
             "[General]\nFormTop=10\n; mine\n[option]\nplayer=0\nUnknown=7\n[LogWindow]\nTop=1\n");
  Settings s;
  s.PathDataFolder = u"/m";
  s.Player = 2;
  ASSERT_TRUE(SaveSettings(s, Ini()));
  std::string bytes = ReadBytes(Ini());
  EXPECT_TRUE(
      bytes.starts_with("[General]\nFormTop=10\n; mine\n[option]\nplayer=2\nUnknown=7\n"
                        "PathDataFolder=/m\nFlagDisplayLog=1\n"))
      << bytes;
  EXPECT_TRUE(bytes.ends_with("ConvertLevelID3Tag=1\n[LogWindow]\nTop=1\n")) << bytes;
}

TEST_F(SettingsTest, LoadsValuesAsTheFileHoldsThem) {
  WriteBytes(Ini(),
             "[OPTION]\r\nLengthName=abc\r\nFlagDisplayLog=1x\r\nplayer=2\r\n"
             "FlagRenameSubfolders=7\r\nID3TagAlbum=-3\r\nFlagPathSaveCSV=\r\n");
  Settings s = LoadSettings(Ini(), u"/d");
  EXPECT_EQ(s.LengthName, 30);  // not a number: the default
  EXPECT_EQ(s.FlagDisplayLog, 1);
  EXPECT_EQ(s.Player, 2);
  EXPECT_EQ(s.FlagRenameSubfolders, 7);  // unchanged, out of range
  EXPECT_EQ(s.ID3TagAlbum, -3);
  EXPECT_EQ(s.FlagPathSaveCSV, 0);  // empty: the default
  EXPECT_EQ(s.PathDataFolder, u"/d");

  Settings clean = SanitizedSettings(s);
  EXPECT_EQ(clean.LengthName, 30);
  EXPECT_EQ(clean.FlagRenameSubfolders, 1);
  EXPECT_EQ(clean.ID3TagAlbum, 0);
  EXPECT_EQ(clean.Player, 2);
  EXPECT_EQ(clean.PathDataFolder, u"/d");
}

// The player's limits: a value outside its range gives the default (a limit
// of 0 files would refuse every export), and the section of a user who never
// set them stays as it was, while a value set once is kept up to date.
TEST_F(SettingsTest, ExportOptionsLoadInTheirRangeAndAreWrittenOnceSet) {
  struct {
    const char* line;
    int32_t Settings::*member;
    int32_t expected;
    const char* notice;
  } const kLoads[] = {
      {"MaxFilesInFolder=0", &Settings::MaxFilesInFolder, 255, "outside 1 to 65535"},
      {"MaxNameLength=256", &Settings::MaxNameLength, 64, "outside 1 to 255"},
      {"FlagSplitFolders=2", &Settings::FlagSplitFolders, 0, "outside 0 or 1"},
      {"MaxFolderDepth=x", &Settings::MaxFolderDepth, 8, "not a whole number"},
      {"MaxMegabytes=700", &Settings::MaxMegabytes, 700, nullptr},
      {"MaxFolderCount=1", &Settings::MaxFolderCount, 1, nullptr},
  };
  for (const auto& c : kLoads) {
    WriteBytes(Ini(), std::string("[Option]\r\n") + c.line + "\r\n");
    std::vector<std::string> notices;
    Settings s = LoadSettings(Ini(), u"/d", nullptr, &notices);
    EXPECT_EQ(s.*c.member, c.expected) << c.line;
    ASSERT_EQ(notices.size(), c.notice == nullptr ? 0u : 1u) << c.line;
    if (c.notice != nullptr) {
      EXPECT_NE(notices[0].find(c.notice), std::string::npos) << notices[0];
    }
  }
  std::filesystem::remove(Ini());
  Settings s;
  ASSERT_TRUE(SaveSettings(s, Ini()));
  EXPECT_EQ(ReadBytes(Ini()).find("Max"), std::string::npos) << ReadBytes(Ini());
  s.MaxMegabytes = 700;
  ASSERT_TRUE(SaveSettings(s, Ini()));
  EXPECT_TRUE(ReadBytes(Ini()).ends_with("ConvertLevelID3Tag=1\r\nMaxMegabytes=700\r\n"))
      << ReadBytes(Ini());
  s.MaxMegabytes = 0;  // back to the default: written, not left at 700
  ASSERT_TRUE(SaveSettings(s, Ini()));
  EXPECT_TRUE(ReadBytes(Ini()).ends_with("MaxMegabytes=0\r\n")) << ReadBytes(Ini());
  EXPECT_EQ(LoadSettings(Ini(), u"/d"), s);
}

TEST_F(SettingsTest, ValuesThatAreNotWholeNumbersFallBackToTheirDefaults) {
  struct {
    const char* line;
    int32_t Settings::*member;
    int32_t expected;
    const char* notice;  // a part of the notice, or null for none
  } kCases[] = {
      // A hand-edited "yes" must not read as 0 and switch check-only off.
      {"FlagCheckOnlyFilename=yes", &Settings::FlagCheckOnlyFilename, 1,
       "FlagCheckOnlyFilename=yes is not a whole number; using the default 1"},
      {"FlagCreateCSVFile=on", &Settings::FlagCreateCSVFile, 1, "FlagCreateCSVFile=on"},
      {"FlagCheckOnlyID3Tag=1x", &Settings::FlagCheckOnlyID3Tag, 1, "not a whole number"},
      {"FlagPathSaveCSV=1.0", &Settings::FlagPathSaveCSV, 0, "FlagPathSaveCSV=1.0"},
      {"Player=\xef\xbc\x92", &Settings::Player, 1, "not a whole number"},  // full-width 2
      {"ConvertLevelFilename=99999999999", &Settings::ConvertLevelFilename, 1, "not a whole"},
      {"LengthName=0", &Settings::LengthName, 30,
       "LengthName=0 is outside 1 to 50; using the default 30"},
      {"LengthName=51", &Settings::LengthName, 30, "outside 1 to 50"},
      {"LengthName=-5", &Settings::LengthName, 30, "outside 1 to 50"},
      {"LengthName=1", &Settings::LengthName, 1, nullptr},
      {"LengthName=50", &Settings::LengthName, 50, nullptr},
      {"LengthName= 12 ", &Settings::LengthName, 12, nullptr},
      {"FlagCheckOnlyFilename=0", &Settings::FlagCheckOnlyFilename, 0, nullptr},
      // Whole numbers outside a flag's range stay: they act as "off".
      {"FlagRenameSubfolders=7", &Settings::FlagRenameSubfolders, 7, nullptr},
      {"ID3TagAlbum=-3", &Settings::ID3TagAlbum, -3, nullptr},
      {"FlagCreateCSVFile=", &Settings::FlagCreateCSVFile, 1, nullptr},
  };
  for (const auto& c : kCases) {
    WriteBytes(Ini(), std::string("[Option]\r\n") + c.line + "\r\n");
    std::vector<std::string> notices;
    Settings s = LoadSettings(Ini(), u"/d", nullptr, &notices);
    EXPECT_EQ(s.*c.member, c.expected) << c.line;
    if (c.notice == nullptr) {
      EXPECT_TRUE(notices.empty()) << c.line << ": " << (notices.empty() ? "" : notices[0]);
    } else {
      ASSERT_EQ(notices.size(), 1u) << c.line;
      EXPECT_NE(notices[0].find(c.notice), std::string::npos) << c.line << ": " << notices[0];
    }
  }
}

TEST_F(SettingsTest, SetSettingByName) {
  struct {
    std::u16string_view key, value;
    SetSettingResult::Code code;
  } const kCases[] = {
      {u"player", u"2", SetSettingResult::Code::kOk},
      {u"Player", u"3", SetSettingResult::Code::kBadValue},
      {u"LENGTHNAME", u"50", SetSettingResult::Code::kOk},
      {u"LengthName", u"1", SetSettingResult::Code::kOk},
      {u"LengthName", u"0", SetSettingResult::Code::kBadValue},
      {u"LengthName", u"51", SetSettingResult::Code::kBadValue},
      {u"FlagDisplayLog", u"2", SetSettingResult::Code::kBadValue},
      {u"FlagDisplayLog", u"1x", SetSettingResult::Code::kBadValue},
      {u"FlagDisplayLog", u"", SetSettingResult::Code::kBadValue},
      {u"FlagDisplayLog", u"-0", SetSettingResult::Code::kOk},
      {u"ConvertLevelFilename", u"3", SetSettingResult::Code::kBadValue},
      {u"ID3TagTitle", u"99999999999", SetSettingResult::Code::kBadValue},
      {u"maxmegabytes", u"700", SetSettingResult::Code::kOk},
      {u"MaxFilesInFolder", u"0", SetSettingResult::Code::kBadValue},
      {u"MaxNameLength", u"256", SetSettingResult::Code::kBadValue},
      {u"pathdatafolder", u"/x y", SetSettingResult::Code::kOk},
      {u"PathDataFolder", u"/x\ny", SetSettingResult::Code::kBadValue},
      {u"Colour", u"1", SetSettingResult::Code::kUnknownKey},
      {u"", u"1", SetSettingResult::Code::kUnknownKey},
  };
  for (const auto& c : kCases) {
    Settings s;
    SetSettingResult r = SetSettingByName(s, c.key, c.value);
    EXPECT_EQ(r.code, c.code) << U8(c.key) << "=" << U8(c.value);
    EXPECT_EQ(r.ok(), r.message.empty()) << r.message;
    EXPECT_EQ(IsValidSettingValue(c.key, c.value), r.ok()) << U8(c.key) << "=" << U8(c.value);
    if (!r.ok()) {
      EXPECT_EQ(s, Settings()) << "changed on failure";
    }
  }
  Settings s;
  SetSettingResult r = SetSettingByName(s, u"ConvertLevelFilename", u"3");
  EXPECT_NE(r.message.find("0, 1 or 2"), std::string::npos) << r.message;
  r = SetSettingByName(s, u"LengthName", u"x");
  EXPECT_NE(r.message.find("1 to 50"), std::string::npos) << r.message;
  ASSERT_TRUE(SetSettingByName(s, u"id3tagartist", u"2").ok());
  EXPECT_EQ(s.ID3TagArtist, 2);
}

TEST_F(SettingsTest, PathDataFolderWithALineBreakIsNotSaved) {
  Settings s;
  s.PathDataFolder = u"/a\n[Option]\nPlayer=0";
  s.Player = 2;
  std::string error;
  EXPECT_FALSE(SaveSettings(s, Ini(), &error));
  EXPECT_FALSE(error.empty());
  Settings back = LoadSettings(Ini(), u"/def");
  EXPECT_EQ(back.PathDataFolder, u"/def");
  EXPECT_EQ(back.Player, 2);
}

TEST_F(SettingsTest, WindowPositions) {
  EXPECT_EQ(LoadMainWindowPosition(Ini()).FormTop, 0);

  ASSERT_TRUE(SaveSettings(Settings{}, Ini()));
  std::string options = ReadBytes(Ini());
  ASSERT_TRUE(SaveMainWindowPosition(Ini(), {-150, 300}));
  ASSERT_TRUE(SaveLogWindowGeometry(Ini(), {1, 2, 3, 4}));
  EXPECT_EQ(ReadBytes(Ini()), options +
                                  "[General]\r\nFormTop=-150\r\nFormLeft=300\r\n"
                                  "[LogWindow]\r\nTop=1\r\nLeft=2\r\nWidth=3\r\nHeight=4\r\n");
  MainWindowPosition p = LoadMainWindowPosition(Ini());
  EXPECT_EQ(p.FormTop, -150);
  EXPECT_EQ(p.FormLeft, 300);
}

// A new user has no settings folder: every save makes it, and says which
// folder it could not make when something else stands in its place.
TEST_F(SettingsTest, SavesMakeTheSettingsFolder) {
  struct {
    const char* name;
    bool (*save)(const std::filesystem::path& ini, std::string* error);
    const char* written;  // a line the save must have written
  } kCases[] = {
      {"settings",
       [](const std::filesystem::path& ini, std::string* error) {
         return SaveSettings(Settings{}, ini, error);
       },
       "FlagDisplayLog=1"},
      {"window position",
       [](const std::filesystem::path& ini, std::string* error) {
         return SaveMainWindowPosition(ini, {5, 6}, error);
       },
       "FormLeft=6"},
      {"log window",
       [](const std::filesystem::path& ini, std::string* error) {
         return SaveLogWindowGeometry(ini, {1, 2, 3, 4}, error);
       },
       "Height=4"},
  };
  for (const auto& c : kCases) {
    const std::filesystem::path ini = dir() / c.name / "config" / "tarvel" / "tarvel.ini";
    std::string error;
    ASSERT_TRUE(c.save(ini, &error)) << c.name << ": " << error;
    EXPECT_NE(ReadBytes(ini).find(c.written), std::string::npos) << c.name;

    const std::filesystem::path blocked = dir() / c.name / "blocked";
    WriteBytes(blocked, "a file where the folder should be");
    EXPECT_FALSE(c.save(blocked / "tarvel" / "tarvel.ini", &error)) << c.name;
    EXPECT_NE(error.find("blocked/tarvel: cannot make the settings folder (Not a directory)"),
              std::string::npos)
        << c.name << ": " << error;

    // A folder nothing can be made in (immutable for root, read-only for an
    // ordinary user) gives the system's reason.
    const std::filesystem::path locked = dir() / c.name / "locked";
    std::filesystem::create_directories(locked);
    if (testing::SetUnwritable(locked, true)) {
      error.clear();
      EXPECT_FALSE(c.save(locked / "tarvel" / "tarvel.ini", &error)) << c.name;
      testing::SetUnwritable(locked, false);
      EXPECT_NE(error.find(std::string("locked/tarvel: cannot make the settings folder (") +
                           std::strerror(::geteuid() == 0 ? EPERM : EACCES) + ")"),
                std::string::npos)
          << c.name << ": " << error;
    }

    // A settings file that cannot be written says so, with its name.
    const std::filesystem::path folder = dir() / c.name / "folder.ini";
    std::filesystem::create_directories(folder);
    error.clear();
    EXPECT_FALSE(c.save(folder, &error)) << c.name;
    EXPECT_NE(error.find("folder.ini"), std::string::npos) << c.name << ": " << error;
  }
}

}  // namespace
}  // namespace tarvel
