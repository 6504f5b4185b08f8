#include <gtest/gtest.h>

#include <string>

#include "app/music_dictionary.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

// The music dictionary is found as the tables are: portable beside the
// program, installed in the user's folder and then the data folder; the
// environment variable names another or, empty, none.
class MusicDictionaryPathTest : public testing::TempDirTest {};

TEST_F(MusicDictionaryPathTest, FindsTheDictionaryWhereTheTablesAre) {
  const fs::path bin = dir() / "bin", user = dir() / "config", share = dir() / "share";
  for (const fs::path& d : {bin, user, share}) fs::create_directories(d);
  testing::WriteBytes(share / "music.dic", "x");
  testing::WriteBytes(dir() / "other.dic", "x");
  AppFolder portable;
  portable.table_dirs = {bin};
  AppFolder installed;
  installed.table_dirs = {user, share};
  const std::string other = (dir() / "other.dic").native();
  struct {
    const char* what;
    const AppFolder& folder;
    const char* env;
    std::string expected;
  } const kCases[] = {
      {"installed: the data folder's", installed, nullptr, (share / "music.dic").native()},
      {"portable: none beside the program", portable, nullptr, ""},
      {"the variable wins", installed, other.c_str(), other},
      {"a path the variable names is taken as it is", portable, "/no/such.dic", "/no/such.dic"},
      {"an empty variable: none", installed, "", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(MusicDictionaryPath(c.folder, c.env), c.expected) << c.what;
  }
  // The user's own copy comes before the installed one.
  testing::WriteBytes(user / "music.dic", "x");
  EXPECT_EQ(MusicDictionaryPath(installed, nullptr), (user / "music.dic").native());
  testing::WriteBytes(bin / "music.dic", "x");
  EXPECT_EQ(MusicDictionaryPath(portable, nullptr), (bin / "music.dic").native());
}

}  // namespace
}  // namespace tarvel
