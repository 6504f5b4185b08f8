// Where the program keeps its settings file and finds dic.csv, Rome.csv and
// the folder for list.csv.
//
// Portable mode, when dic.csv lies beside the executable (as in the build
// tree or an unpacked folder): everything lives beside the executable and the
// settings file is named after it with ".ini". A trailing "-cli" is dropped
// from that name, so tarvel and tarvel-cli share tarvel.ini.
//
// Installed mode, otherwise: the settings file is $XDG_CONFIG_HOME/tarvel/
// tarvel.ini (~/.config when unset), tables are looked up first in
// $XDG_CONFIG_HOME/tarvel/ (the user's own) and then in the installed data
// folder, list.csv goes to $XDG_DATA_HOME/tarvel/ (~/.local/share), and the
// default data folder is the user's music folder: XDG_MUSIC_DIR from
// $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Music, each when it is a folder,
// else the home folder. XDG variables that are empty or
// hold a relative path are ignored.
//
// Table names match without regard to ASCII letter case (DIC.CSV counts as
// dic.csv; an exact match wins), and only a plain file, or a link to one,
// counts.
#ifndef TARVEL_APP_APP_FOLDER_H_
#define TARVEL_APP_APP_FOLDER_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// The environment the folders are worked out from, so tests can give their own.
struct AppEnvironment {
  std::string home;             // HOME, or the account's home folder when unset
  std::string xdg_config_home;  // as set; empty when unset
  std::string xdg_data_home;
  std::filesystem::path install_data_dir;  // the tables installed with the program
  // The same folder seen from the program's own ("../share/tarvel"), so that
  // an installation moved to another prefix (or a package unpacked anywhere)
  // still finds its own tables; empty: not looked up.
  std::filesystem::path data_dir_from_exe;

  // The current process's environment and the installed data folder.
  static AppEnvironment FromProcess();
};

// The name of the required conversion table.
inline constexpr std::string_view kDicFileName = "dic.csv";
// The name of the optional romaji table.
inline constexpr std::string_view kRomeFileName = "Rome.csv";

struct AppFolder {
  enum class Mode { kPortable, kInstalled };
  Mode mode = Mode::kPortable;
  std::filesystem::path exe_dir;
  // The settings file.
  std::filesystem::path IniPath;
  // The data folder used when the settings name none.
  std::filesystem::path DefaultDataFolder;
  // Folders searched for dic.csv and Rome.csv, in order.
  std::vector<std::filesystem::path> table_dirs;
  // The "install folder" where list.csv goes when not in the data folder.
  std::filesystem::path list_dir;
  // Where earlier lists are kept before a run replaces them:
  // $XDG_DATA_HOME/tarvel/history/ in both modes.
  std::filesystem::path history_dir;

  // The path of a table (`kDicFileName`, `kRomeFileName`) in the first folder
  // of `table_dirs` that has it, or nothing.
  std::optional<std::filesystem::path> FindTable(std::string_view name) const;
  // The dic.csv files that make the dictionary, in the order their rows
  // apply: in installed mode the user's own (when there is one) before the
  // installed one, so a personal row wins and the installed rows still
  // apply; in portable mode the one file beside the program.
  std::vector<std::filesystem::path> DictionaryFiles() const;
  // `list_dir`, made (with its parents) when it does not exist yet. Nothing,
  // with `error` set, when it cannot be made.
  std::optional<std::filesystem::path> ListFolder(std::string* error = nullptr) const;
  // DefaultDataFolder as text for Settings::PathDataFolder.
  std::u16string DefaultDataFolderText() const;
};

// Works the folders out for the executable at `exe_path`.
AppFolder FindAppFolder(const std::filesystem::path& exe_path, const AppEnvironment& env);
// The same for this process's environment.
AppFolder FindAppFolder(const std::filesystem::path& exe_path);

// The running program's executable (/proc/self/exe), or nothing when it
// cannot be found.
std::optional<std::filesystem::path> ExecutablePath();

// The entry of `dir` whose name equals `name` without regard to ASCII case and
// that is a plain file (or a link to one); an exact match wins.
std::optional<std::filesystem::path> FindFileIgnoringCase(const std::filesystem::path& dir,
                                                          std::string_view name);

}  // namespace tarvel

#endif  // TARVEL_APP_APP_FOLDER_H_
