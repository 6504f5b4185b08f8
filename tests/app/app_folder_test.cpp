#include "app/app_folder.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::WriteBytes;
namespace fs = std::filesystem;

class AppFolderTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    fs::create_directories(dir() / "bin");
    fs::create_directories(dir() / "share");
  }
  AppEnvironment Env(std::string config, std::string data) const {
    AppEnvironment env;
    env.home = (dir() / "home").native();
    env.xdg_config_home = std::move(config);
    env.xdg_data_home = std::move(data);
    env.install_data_dir = dir() / "share";
    return env;
  }
};

TEST_F(AppFolderTest, PortableWhenDicCsvLiesBesideTheProgram) {
  struct {
    const char* dic_name;
    const char* exe_name;
    const char* ini_name;
  } const kCases[] = {
      {"dic.csv", "tarvel", "tarvel.ini"},
      {"DIC.CSV", "tarvel-cli", "tarvel.ini"},  // both programs share one file
      {"Dic.Csv", "mytool.bin", "mytool.ini"},
  };
  for (const auto& c : kCases) {
    fs::remove_all(dir() / "bin");
    fs::create_directories(dir() / "bin");
    WriteBytes(dir() / "bin" / c.dic_name, "a,b\r\n");
    AppFolder f = FindAppFolder(dir() / "bin" / c.exe_name, Env("", ""));
    EXPECT_EQ(f.mode, AppFolder::Mode::kPortable) << c.dic_name;
    EXPECT_EQ(f.IniPath, dir() / "bin" / c.ini_name);
    EXPECT_EQ(f.DefaultDataFolder, dir() / "bin");
    EXPECT_EQ(f.FindTable(kDicFileName), dir() / "bin" / c.dic_name);
    EXPECT_EQ(f.FindTable(kRomeFileName), std::nullopt);
    EXPECT_EQ(f.ListFolder(), dir() / "bin");
  }
  WriteBytes(dir() / "bin" / "rome.CSV", "");
  EXPECT_EQ(FindAppFolder(dir() / "bin" / "tarvel", Env("", "")).FindTable(kRomeFileName),
            dir() / "bin" / "rome.CSV");
}

TEST_F(AppFolderTest, AFolderNamedDicCsvIsNotATable) {
  fs::create_directories(dir() / "bin" / "dic.csv");
  AppFolder f = FindAppFolder(dir() / "bin" / "tarvel", Env("", ""));
  EXPECT_EQ(f.mode, AppFolder::Mode::kInstalled);
  EXPECT_EQ(f.FindTable(kDicFileName), std::nullopt);
}

TEST_F(AppFolderTest, InstalledFoldersFollowXdgVariables) {
  const fs::path home = dir() / "home";
  const std::string cfg = (dir() / "cfg").native();
  const std::string data = (dir() / "data").native();
  struct {
    const char* name;
    std::string config, data;
    fs::path ini, list;
  } const kCases[] = {
      {"unset", "", "", home / ".config/tarvel/tarvel.ini", home / ".local/share/tarvel"},
      {"set", cfg, data, dir() / "cfg/tarvel/tarvel.ini", dir() / "data/tarvel"},
      {"relative ignored", "rel/cfg", "rel", home / ".config/tarvel/tarvel.ini",
       home / ".local/share/tarvel"},
  };
  for (const auto& c : kCases) {
    fs::remove_all(c.list);
    AppFolder f = FindAppFolder(dir() / "bin" / "tarvel", Env(c.config, c.data));
    EXPECT_EQ(f.mode, AppFolder::Mode::kInstalled) << c.name;
    EXPECT_EQ(f.IniPath, c.ini) << c.name;
    EXPECT_EQ(f.list_dir, c.list) << c.name;
    EXPECT_EQ(f.DefaultDataFolder, home) << c.name;
    EXPECT_EQ(f.DefaultDataFolderText(), home.u16string()) << c.name;
    EXPECT_FALSE(fs::exists(c.list)) << "made before it was needed: " << c.name;
    auto list = f.ListFolder();
    ASSERT_TRUE(list.has_value()) << c.name;
    EXPECT_TRUE(fs::is_directory(*list)) << c.name;
  }
}

// A new user's first run looks in the music folder, not in the whole home
// folder with its caches and Trash.
TEST_F(AppFolderTest, DefaultDataFolderIsTheMusicFolder) {
  const fs::path home = dir() / "home";
  const fs::path cfg = dir() / "cfg";
  struct {
    const char* name;
    const char* user_dirs;  // nullptr: no user-dirs.dirs
    std::vector<fs::path> folders;
    fs::path expected;
  } const kCases[] = {
      {"nothing", nullptr, {}, home},
      {"~/Music", nullptr, {home / "Music"}, home / "Music"},
      {"XDG_MUSIC_DIR under $HOME",
       "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
       "XDG_MUSIC_DIR=\"$HOME/\xE9\x9F\xB3\xE6\xA5\xBD\"\n",
       {home / "Music", home / "\xE9\x9F\xB3\xE6\xA5\xBD"},
       home / "\xE9\x9F\xB3\xE6\xA5\xBD"},
      {"XDG_MUSIC_DIR absolute", "  XDG_MUSIC_DIR=\"/srv/x/../songs\"\n", {}, fs::path()},
      {"XDG_MUSIC_DIR missing", "XDG_MUSIC_DIR=\"$HOME/gone\"\n", {home / "Music"}, home / "Music"},
      {"XDG_MUSIC_DIR is $HOME", "XDG_MUSIC_DIR=\"$HOME\"\n", {home / "Music"}, home},
  };
  for (const auto& c : kCases) {
    fs::remove_all(home);
    fs::remove_all(cfg);
    fs::remove_all(dir() / "srv");
    fs::create_directories(home);
    fs::create_directories(cfg);
    for (const fs::path& folder : c.folders) fs::create_directories(folder);
    std::string user_dirs = c.user_dirs ? c.user_dirs : "";
    fs::path expected = c.expected;
    if (expected.empty()) {  // the absolute case, inside the temporary folder
      fs::create_directories(dir() / "srv" / "songs");
      fs::create_directories(dir() / "srv" / "x");
      const std::string at = "/srv/x/../songs";
      user_dirs.replace(user_dirs.find(at), at.size(), (dir() / "srv/x/../songs").native());
      expected = dir() / "srv" / "songs";
    }
    if (c.user_dirs != nullptr) WriteBytes(cfg / "user-dirs.dirs", user_dirs);
    AppFolder f = FindAppFolder(dir() / "bin" / "tarvel", Env(cfg.native(), ""));
    EXPECT_EQ(f.DefaultDataFolder, expected) << c.name;
  }
}

TEST_F(AppFolderTest, InstalledTablesPreferTheUsersOwn) {
  AppFolder f = FindAppFolder(dir() / "bin" / "tarvel", Env((dir() / "cfg").native(), ""));
  EXPECT_EQ(f.FindTable(kDicFileName), std::nullopt);
  WriteBytes(dir() / "share" / "dic.csv", "");
  WriteBytes(dir() / "share" / "Rome.csv", "");
  EXPECT_EQ(f.FindTable(kDicFileName), dir() / "share" / "dic.csv");
  fs::create_directories(dir() / "cfg" / "tarvel");
  WriteBytes(dir() / "cfg" / "tarvel" / "dic.csv", "");
  EXPECT_EQ(f.FindTable(kDicFileName), dir() / "cfg" / "tarvel" / "dic.csv");
  EXPECT_EQ(f.FindTable(kRomeFileName), dir() / "share" / "Rome.csv");
}

// A package unpacked under another root, or an installation moved to
// another prefix, uses the tables beside its own programs first.
TEST_F(AppFolderTest, InstalledTablesAreFoundFromTheProgramsFolder) {
  const fs::path prefix = dir() / "moved" / "usr";
  struct {
    const char* name;
    bool beside, compiled;  // which installed folders hold a dic.csv
    fs::path found;         // empty: none
  } const kCases[] = {
      {"only beside the programs", true, false, prefix / "share/tarvel/dic.csv"},
      {"only in the compiled-in folder", false, true, dir() / "share/dic.csv"},
      {"both: the program's own", true, true, prefix / "share/tarvel/dic.csv"},
      {"neither", false, false, {}},
  };
  for (const auto& c : kCases) {
    fs::remove_all(dir() / "moved");
    fs::remove(dir() / "share" / "dic.csv");
    fs::create_directories(prefix / "bin");
    if (c.beside) {
      fs::create_directories(prefix / "share/tarvel");
      WriteBytes(prefix / "share/tarvel/dic.csv", "");
    }
    if (c.compiled) WriteBytes(dir() / "share" / "dic.csv", "");
    AppEnvironment env = Env((dir() / "cfg").native(), "");
    env.data_dir_from_exe = "../share/tarvel";
    AppFolder f = FindAppFolder(prefix / "bin" / "tarvel-cli", env);
    EXPECT_EQ(f.mode, AppFolder::Mode::kInstalled) << c.name;
    auto found = f.FindTable(kDicFileName);
    EXPECT_EQ(found.value_or(fs::path()), c.found) << c.name;
  }
}

TEST_F(AppFolderTest, ProcessEnvironmentAndListFolderFailure) {
  // TempDirTest points the variables into the temporary folder.
  AppFolder f = FindAppFolder(dir() / "bin" / "tarvel");
  EXPECT_EQ(f.IniPath, dir() / "xdg-config" / "tarvel" / "tarvel.ini");
  EXPECT_EQ(f.list_dir, dir() / "xdg-data" / "tarvel");
  EXPECT_EQ(f.DefaultDataFolder, dir() / "home");
  ::setenv("XDG_CONFIG_HOME", "", 1);
  EXPECT_EQ(FindAppFolder(dir() / "bin" / "tarvel").IniPath,
            dir() / "home" / ".config" / "tarvel" / "tarvel.ini");

  WriteBytes(dir() / "xdg-data" / "tarvel", "a file where the folder should be");
  std::string error;
  EXPECT_EQ(f.ListFolder(&error), std::nullopt);
  EXPECT_FALSE(error.empty());

  auto exe = ExecutablePath();
  ASSERT_TRUE(exe.has_value());
  EXPECT_TRUE(fs::is_regular_file(*exe));
}

// Without HOME the account's own folder stands in; a uid the system has no
// account for (a container started with a bare uid) gives none, and no crash.
TEST_F(AppFolderTest, HomeWithoutTheVariable) {
  ::unsetenv("HOME");
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(AppEnvironment::FromProcess().home, pw->pw_dir);
  constexpr uid_t kNoAccount = 54321;
  if (::getuid() != 0 || ::getpwuid(kNoAccount) != nullptr) {
    GTEST_SKIP() << "needs root and a uid without an account";
  }
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setuid(kNoAccount) != 0) ::_exit(2);
    ::_exit(AppEnvironment::FromProcess().home.empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

}  // namespace
}  // namespace tarvel
