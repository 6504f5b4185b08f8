// The 22 options that steer every run and the options of an export (the
// player's limits), named exactly as their keys in the "Option" section of
// the settings file, and their loading and saving.
//
// Whole numbers are loaded as the file holds them, also when they lie outside
// the range the window offers (a flag of 2); the rest of the program
// tests flags for 1 exactly, so such a value acts like "off". Front ends that
// must show a value in a check box or option group call SanitizedSettings,
// which replaces each out-of-range value by its default; tarvel-cli checks
// each --set value with SetSettingByName and refuses what is out of range.
#ifndef TARVEL_APP_SETTINGS_H_
#define TARVEL_APP_SETTINGS_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

struct Settings {
  std::u16string PathDataFolder;  // root of the scan
  int32_t Player = 1;
  int32_t FlagDisplayLog = 1;
  int32_t FlagRenameSubfolders = 1;
  int32_t FlagRenameFolderName = 1;
  int32_t FlagCreateCSVFile = 1;
  int32_t FlagPathSaveCSV = 0;
  int32_t FlagConvertFilename = 1;
  int32_t FlagCheckOnlyFilename = 1;
  int32_t FlagLimit30Char = 1;
  int32_t LengthName = 30;
  int32_t FlagDicEnabledFilename = 1;
  int32_t FlagDetectFullCharFilename = 1;
  int32_t ConvertLevelFilename = 1;
  int32_t FlagConvertID3Tag = 1;
  int32_t FlagCheckOnlyID3Tag = 1;
  int32_t FlagDicEnabledID3Tag = 1;
  int32_t FlagDetectFullCharID3Tag = 1;
  int32_t ConvertLevelID3Tag = 1;
  int32_t ID3TagArtist = 0;
  int32_t ID3TagAlbum = 0;
  int32_t ID3TagTitle = 0;
  // What the player of an exported copy reads (set by the presets): folders
  // below the top of the copy, folders in all, files in one folder,
  // characters in a name, megabytes (MiB) on its medium (0: no limit).
  int32_t MaxFolderDepth = 8;
  int32_t MaxFolderCount = 255;
  int32_t MaxFilesInFolder = 255;
  int32_t MaxNameLength = 64;
  int32_t MaxMegabytes = 0;
  // An export splits a folder with more files than MaxFilesInFolder into
  // numbered parts instead of refusing it.
  int32_t FlagSplitFolders = 0;

  bool operator==(const Settings&) const = default;
};

// The settings file's section of the 22 options.
inline constexpr std::u16string_view kOptionSection = u"Option";
// The key of the one text option.
inline constexpr std::u16string_view kPathDataFolderKey = u"PathDataFolder";

// One integer option: its key, its member, the values the window offers and
// its default.
struct IntSetting {
  std::u16string_view key;
  int32_t Settings::*member;
  int32_t min;
  int32_t max;
  int32_t default_value;
  // An option of the export, unknown to older versions: loaded only in its
  // range, and written only once it differs from its default or the file
  // holds it, so that the section stays as it was for those who never
  // change it.
  bool export_option = false;
};

// The integer options in table order (Player … ID3TagTitle, then the six
// options of the export, MaxFolderDepth … FlagSplitFolders), the order in
// which they are loaded.
std::span<const IntSetting> IntSettings();
// The option with this key (case-insensitive), or null.
const IntSetting* FindIntSetting(std::u16string_view key);

// Loads the options from section "Option" of `ini_path`. A missing file,
// section or key gives that option's default; PathDataFolder defaults to
// `default_data_folder`. A value that is not a whole decimal number, and a
// LengthName or an export option outside its range, gives that option's default and a line in
// `notices` (UTF-8, if given); other values are taken as they stand. When
// the file exists but cannot be read, every option takes its default and
// `error` (if given) says why.
Settings LoadSettings(const std::filesystem::path& ini_path,
                      std::u16string_view default_data_folder, std::string* error = nullptr,
                      std::vector<std::string>* notices = nullptr);

// Writes the 22 options to section "Option" in table order, ConvertLevelID3Tag
// last, integers as plain decimal text, then the export options that differ
// from their defaults or are in the file already. The other lines of the file stay as
// they are. False (with `error`) when the file could not be written or
// PathDataFolder holds a line break; the other options are still written in
// the latter case.
bool SaveSettings(const Settings& settings, const std::filesystem::path& ini_path,
                  std::string* error = nullptr);

// True when `value` is allowed for the option `key` (case-insensitive): an
// integer option needs a whole decimal number in its range, PathDataFolder any
// text without a line break or NUL. False for an unknown key.
bool IsValidSettingValue(std::u16string_view key, std::u16string_view value);
// The same for an integer value (false for PathDataFolder and unknown keys).
bool IsValidSettingValue(std::u16string_view key, int32_t value);

struct SetSettingResult {
  enum class Code { kOk, kUnknownKey, kBadValue };
  Code code = Code::kOk;
  std::string message;  // UTF-8, names the key and the allowed values
  bool ok() const { return code == Code::kOk; }
};

// Sets one option from text, as tarvel-cli's --set KEY=VALUE does: the key is
// matched case-insensitively, an integer must be a whole decimal number in the
// option's range ("1x" is refused). On failure `settings` is unchanged.
SetSettingResult SetSettingByName(Settings& settings, std::u16string_view key,
                                  std::u16string_view value);

// One integer option set to one value: a step of a player preset or of an
// option rule.
struct SettingChange {
  int32_t Settings::*member;
  int32_t value;
  bool operator==(const SettingChange&) const = default;
};

// Makes `changes` on `settings`, in order.
void ApplyChanges(Settings& settings, std::span<const SettingChange> changes);

// A copy with every integer option outside its range replaced by its default,
// for the windows, whose check boxes and option groups cannot show others.
Settings SanitizedSettings(const Settings& settings);

// The main window's position in twips, section "General".
struct MainWindowPosition {
  int32_t FormTop = 0;
  int32_t FormLeft = 0;
};
MainWindowPosition LoadMainWindowPosition(const std::filesystem::path& ini_path);
// Writes "FormTop" then "FormLeft"; section "Option" is not touched.
bool SaveMainWindowPosition(const std::filesystem::path& ini_path, const MainWindowPosition& pos,
                            std::string* error = nullptr);

// The log window's position and size in twips, section "LogWindow".
struct LogWindowGeometry {
  int32_t Top = 1635;
  int32_t Left = 4080;
  int32_t Width = 6840;
  int32_t Height = 5715;
};
// Writes "Top", "Left", "Width", "Height" in this order.
bool SaveLogWindowGeometry(const std::filesystem::path& ini_path, const LogWindowGeometry& geometry,
                           std::string* error = nullptr);

}  // namespace tarvel

#endif  // TARVEL_APP_SETTINGS_H_
