#include "app/app_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/text.h"

#ifndef TARVEL_INSTALL_DATADIR
#define TARVEL_INSTALL_DATADIR "/usr/local/share/tarvel"
#endif
#ifndef TARVEL_INSTALL_DATADIR_FROM_BIN
#define TARVEL_INSTALL_DATADIR_FROM_BIN "../share/tarvel"
#endif

namespace tarvel {
namespace {

constexpr std::string_view kAppDirName = "tarvel";
constexpr std::string_view kInstalledIniName = "tarvel.ini";
constexpr std::string_view kCliSuffix = "-cli";

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

bool IsPlainFile(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::is_regular_file(p, ec);  // follows a link
}

// An XDG base folder: the variable when it holds an absolute path, else the
// fallback under the home folder.
std::filesystem::path XdgFolder(const std::string& value, const std::filesystem::path& home,
                                std::string_view fallback) {
  std::filesystem::path p(value);
  if (!value.empty() && p.is_absolute()) return p;
  return home / fallback;
}

bool IsFolder(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::is_directory(p, ec);
}

// XDG_MUSIC_DIR as xdg-user-dirs writes it into user-dirs.dirs:
// XDG_MUSIC_DIR="$HOME/Music" (or an absolute path), the last such line
// counting. Empty when the file has none or it holds anything else.
std::filesystem::path MusicDirSetting(const std::filesystem::path& user_dirs,
                                      const std::filesystem::path& home) {
  std::ifstream in(user_dirs);
  std::filesystem::path found;
  constexpr std::string_view kKey = "XDG_MUSIC_DIR=\"";
  constexpr std::string_view kHome = "$HOME";
  for (std::string line; std::getline(in, line);) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, kKey.size(), kKey) != 0) continue;
    const size_t open = start + kKey.size();
    const size_t close = line.find('"', open);
    if (close == std::string::npos) continue;
    std::string value = line.substr(open, close - open);
    if (value == kHome) {
      found = home;
    } else if (value.starts_with(std::string(kHome) + "/")) {
      found = home / value.substr(kHome.size() + 1);
    } else if (value.starts_with('/')) {
      found = value;
    }
  }
  return found;
}

// Where a run looks when the user has chosen no folder yet: the user's
// music folder (XDG_MUSIC_DIR, else ~/Music), never the whole home folder
// with its caches and Trash unless there is no music folder at all.
std::filesystem::path DefaultMusicFolder(const std::filesystem::path& config_home,
                                         const std::filesystem::path& home) {
  std::filesystem::path set = MusicDirSetting(config_home / "user-dirs.dirs", home);
  if (!set.empty() && IsFolder(set)) return set.lexically_normal();
  if (IsFolder(home / "Music")) return home / "Music";
  return home;
}

std::string GetEnv(const char* name) {
  const char* v = ::getenv(name);
  return v != nullptr ? v : "";
}

}  // namespace

AppEnvironment AppEnvironment::FromProcess() {
  AppEnvironment env;
  env.home = GetEnv("HOME");
  if (env.home.empty()) {
    // A service or a sudo without -H may run without HOME; ask the account.
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
      env.home = pw->pw_dir;
    }
  }
  env.xdg_config_home = GetEnv("XDG_CONFIG_HOME");
  env.xdg_data_home = GetEnv("XDG_DATA_HOME");
  env.install_data_dir = TARVEL_INSTALL_DATADIR;
  env.data_dir_from_exe = TARVEL_INSTALL_DATADIR_FROM_BIN;
  return env;
}

std::optional<std::filesystem::path> FindFileIgnoringCase(const std::filesystem::path& dir,
                                                          std::string_view name) {
  if (IsPlainFile(dir / name)) return dir / name;
  std::error_code ec;
  std::optional<std::filesystem::path> found;
  for (auto it = std::filesystem::directory_iterator(dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::filesystem::path& p = it->path();
    if (!EqualsIgnoringAsciiCase(p.filename().native(), name) || !IsPlainFile(p)) continue;
    // Of several spellings, take the first in name order so every start picks the same.
    if (!found || p.filename().native() < found->filename().native()) found = p;
  }
  return found;
}

AppFolder FindAppFolder(const std::filesystem::path& exe_path, const AppEnvironment& env) {
  AppFolder f;
  f.exe_dir = exe_path.parent_path();
  // Kept runs live in the user's data folder in both modes, so that a
  // portable copy on a stick does not carry another machine's history.
  {
    std::filesystem::path home = env.home.empty() ? f.exe_dir : std::filesystem::path(env.home);
    f.history_dir = XdgFolder(env.xdg_data_home, home, ".local/share") / kAppDirName / "history";
  }
  if (FindFileIgnoringCase(f.exe_dir, kDicFileName)) {
    f.mode = AppFolder::Mode::kPortable;
    std::string stem = exe_path.stem().native();
    if (stem.size() > kCliSuffix.size() && stem.ends_with(kCliSuffix)) {
      stem.resize(stem.size() - kCliSuffix.size());
    }
    f.IniPath = f.exe_dir / (stem + ".ini");
    f.DefaultDataFolder = f.exe_dir;
    f.table_dirs = {f.exe_dir};
    f.list_dir = f.exe_dir;
    return f;
  }
  f.mode = AppFolder::Mode::kInstalled;
  std::filesystem::path home = env.home.empty() ? f.exe_dir : std::filesystem::path(env.home);
  const std::filesystem::path config_home = XdgFolder(env.xdg_config_home, home, ".config");
  std::filesystem::path config = config_home / kAppDirName;
  std::filesystem::path data = XdgFolder(env.xdg_data_home, home, ".local/share") / kAppDirName;
  f.IniPath = config / kInstalledIniName;
  f.DefaultDataFolder = DefaultMusicFolder(config_home, home);
  f.table_dirs = {config};
  if (!env.data_dir_from_exe.empty()) {
    f.table_dirs.push_back((f.exe_dir / env.data_dir_from_exe).lexically_normal());
  }
  if (!env.install_data_dir.empty() && std::find(f.table_dirs.begin(), f.table_dirs.end(),
                                                 env.install_data_dir) == f.table_dirs.end()) {
    f.table_dirs.push_back(env.install_data_dir);
  }
  f.list_dir = data;
  return f;
}

AppFolder FindAppFolder(const std::filesystem::path& exe_path) {
  return FindAppFolder(exe_path, AppEnvironment::FromProcess());
}

std::optional<std::filesystem::path> AppFolder::FindTable(std::string_view name) const {
  for (const std::filesystem::path& dir : table_dirs) {
    if (auto p = FindFileIgnoringCase(dir, name)) return p;
  }
  return std::nullopt;
}

std::vector<std::filesystem::path> AppFolder::DictionaryFiles() const {
  std::vector<std::filesystem::path> files;
  for (const std::filesystem::path& dir : table_dirs) {
    std::optional<std::filesystem::path> found = FindFileIgnoringCase(dir, kDicFileName);
    if (!found) continue;
    files.push_back(*found);
    // Only the user's own file comes before another one.
    if (mode != Mode::kInstalled || dir != table_dirs.front()) break;
  }
  return files;
}

std::optional<std::filesystem::path> AppFolder::ListFolder(std::string* error) const {
  std::error_code ec;
  if (std::filesystem::is_directory(list_dir, ec)) return list_dir;
  std::filesystem::create_directories(list_dir, ec);
  if (ec || !std::filesystem::is_directory(list_dir, ec)) {
    if (error != nullptr) {
      *error = EscapeBytes(list_dir.native()) + ": cannot make the folder (" +
               (ec ? ec.message() : std::string("not a folder")) + ")";
    }
    return std::nullopt;
  }
  return list_dir;
}

std::u16string AppFolder::DefaultDataFolderText() const {
  return Utf8ToUtf16Lossy(DefaultDataFolder.native());
}

std::optional<std::filesystem::path> ExecutablePath() {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || p.empty()) return std::nullopt;
  return p;
}

}  // namespace tarvel
