#include "app/settings.h"

#include <array>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "platform/ini_file.h"
#include "platform/text.h"
#include "platform/translatable.h"

namespace tarvel {
namespace {

constexpr std::array<IntSetting, 27> kIntSettings = {{
    {u"Player", &Settings::Player, 0, 2, 1},
    {u"FlagDisplayLog", &Settings::FlagDisplayLog, 0, 1, 1},
    {u"FlagRenameSubfolders", &Settings::FlagRenameSubfolders, 0, 1, 1},
    {u"FlagRenameFolderName", &Settings::FlagRenameFolderName, 0, 1, 1},
    {u"FlagCreateCSVFile", &Settings::FlagCreateCSVFile, 0, 1, 1},
    {u"FlagPathSaveCSV", &Settings::FlagPathSaveCSV, 0, 1, 0},
    {u"FlagConvertFilename", &Settings::FlagConvertFilename, 0, 1, 1},
    {u"FlagCheckOnlyFilename", &Settings::FlagCheckOnlyFilename, 0, 1, 1},
    {u"FlagLimit30Char", &Settings::FlagLimit30Char, 0, 1, 1},
    {u"LengthName", &Settings::LengthName, 1, 50, 30},
    {u"FlagDicEnabledFilename", &Settings::FlagDicEnabledFilename, 0, 1, 1},
    {u"FlagDetectFullCharFilename", &Settings::FlagDetectFullCharFilename, 0, 1, 1},
    {u"ConvertLevelFilename", &Settings::ConvertLevelFilename, 0, 2, 1},
    {u"FlagConvertID3Tag", &Settings::FlagConvertID3Tag, 0, 1, 1},
    {u"FlagCheckOnlyID3Tag", &Settings::FlagCheckOnlyID3Tag, 0, 1, 1},
    {u"FlagDicEnabledID3Tag", &Settings::FlagDicEnabledID3Tag, 0, 1, 1},
    {u"FlagDetectFullCharID3Tag", &Settings::FlagDetectFullCharID3Tag, 0, 1, 1},
    {u"ConvertLevelID3Tag", &Settings::ConvertLevelID3Tag, 0, 2, 1},
    {u"ID3TagArtist", &Settings::ID3TagArtist, 0, 2, 0},
    {u"ID3TagAlbum", &Settings::ID3TagAlbum, 0, 2, 0},
    {u"ID3TagTitle", &Settings::ID3TagTitle, 0, 2, 0},
    {u"MaxFolderDepth", &Settings::MaxFolderDepth, 1, 255, 8, true},
    {u"MaxFolderCount", &Settings::MaxFolderCount, 1, 65535, 255, true},
    {u"MaxFilesInFolder", &Settings::MaxFilesInFolder, 1, 65535, 255, true},
    {u"MaxNameLength", &Settings::MaxNameLength, 1, 255, 64, true},
    {u"MaxMegabytes", &Settings::MaxMegabytes, 0, 16777216, 0, true},
    {u"FlagSplitFolders", &Settings::FlagSplitFolders, 0, 1, 0, true},
}};

constexpr std::u16string_view kGeneralSection = u"General";
constexpr std::u16string_view kLogWindowSection = u"LogWindow";

bool IsPathDataFolderKey(std::u16string_view key) {
  return FoldIniName(key) == FoldIniName(kPathDataFolderKey);
}

bool IsUsablePath(std::u16string_view value) {
  return value.find_first_of(std::u16string_view(u"\r\n\0", 3)) == std::u16string_view::npos;
}

// A whole decimal number (optional minus sign, ASCII digits, nothing else)
// that fits 32 bits.
std::optional<int32_t> ParseWholeInt(std::u16string_view text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  if (!IsAscii(text)) return std::nullopt;
  const std::string ascii(text.begin(), text.end());
  int32_t n = 0;
  auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), n);
  if (ec != std::errc() || end != ascii.data() + ascii.size()) return std::nullopt;
  return n;
}

std::string AllowedText(const IntSetting& s) {
  if (s.max - s.min > 2) return std::to_string(s.min) + " to " + std::to_string(s.max);
  std::string text;
  for (int32_t v = s.min; v <= s.max; ++v) {
    if (v != s.min) text += v == s.max ? " or " : ", ";
    text += std::to_string(v);
  }
  return text;
}

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// A new user has no settings folder yet ($XDG_CONFIG_HOME/tarvel): it is
// made, with its parents, on the first save. False, with `error` naming the
// folder, when it cannot be made.
bool MakeIniFolder(const std::filesystem::path& ini_path, std::string* error) {
  const std::filesystem::path folder = ini_path.parent_path();
  std::error_code ec;
  if (folder.empty() || std::filesystem::is_directory(folder, ec)) return true;
  std::filesystem::create_directories(folder, ec);
  if (!ec && std::filesystem::is_directory(folder, ec)) return true;
  SetError(error, EscapeBytes(folder.native()) + ": cannot make the settings folder (" +
                      (ec ? ec.message() : std::string("not a folder")) + ")");
  return false;
}

}  // namespace

std::span<const IntSetting> IntSettings() { return kIntSettings; }

const IntSetting* FindIntSetting(std::u16string_view key) {
  std::u16string folded = FoldIniName(key);
  for (const IntSetting& s : kIntSettings) {
    if (FoldIniName(s.key) == folded) return &s;
  }
  return nullptr;
}

Settings LoadSettings(const std::filesystem::path& ini_path,
                      std::u16string_view default_data_folder, std::string* error,
                      std::vector<std::string>* notices) {
  IniFile ini = IniFile::Load(ini_path);
  SetError(error, ini.error());
  Settings settings;
  // The data folder loads whole: cut to the 254 bytes of the old fixed
  // buffer it would name a different folder, and a run there would rename
  // files the user never chose.
  settings.PathDataFolder =
      ini.Get(kOptionSection, kPathDataFolderKey).value_or(std::u16string(default_data_folder));
  for (const IntSetting& s : kIntSettings) {
    // Reading "yes" or "1x" as a number would turn a hand-edited option into
    // 0 (check-only off, no list): such a value falls back to the default.
    const std::u16string text = ini.ReadString(kOptionSection, s.key, u"");
    if (text.empty()) {
      settings.*s.member = s.default_value;
      continue;
    }
    std::optional<int32_t> n = ParseWholeInt(text);
    // A name cut to nothing would leave only its extension, a hidden file.
    // A limit outside its range would refuse every export or none.
    const bool checked = s.member == &Settings::LengthName || s.export_option;
    const bool length_ok = !checked || (n && *n >= s.min && *n <= s.max);
    if (n && length_ok) {
      settings.*s.member = *n;
      continue;
    }
    settings.*s.member = s.default_value;
    if (notices != nullptr) {
      notices->push_back(
          N_("setting ") + Utf16ToUtf8(s.key) + "=" + Utf16ToUtf8(text) +
          (n ? N_(" is outside ") + AllowedText(s) : std::string(N_(" is not a whole number"))) +
          N_("; using the default ") + std::to_string(s.default_value));
    }
  }
  return settings;
}

bool SaveSettings(const Settings& settings, const std::filesystem::path& ini_path,
                  std::string* error) {
  if (!MakeIniFolder(ini_path, error)) return false;
  IniFile ini = IniFile::Load(ini_path);
  std::string first_error;
  if (!ini.Set(kOptionSection, kPathDataFolderKey, settings.PathDataFolder)) {
    first_error = ini.error();
  }
  // ConvertLevelID3Tag goes last, after ID3TagTitle.
  const IntSetting* last = nullptr;
  for (const IntSetting& s : kIntSettings) {
    if (s.export_option) continue;
    if (s.member == &Settings::ConvertLevelID3Tag) {
      last = &s;
      continue;
    }
    ini.Set(kOptionSection, s.key, DecimalText(settings.*s.member));
  }
  ini.Set(kOptionSection, last->key, DecimalText(settings.*last->member));
  for (const IntSetting& s : kIntSettings) {
    if (!s.export_option) continue;
    if (settings.*s.member != s.default_value || ini.Get(kOptionSection, s.key)) {
      ini.Set(kOptionSection, s.key, DecimalText(settings.*s.member));
    }
  }
  bool saved = ini.Save();
  if (!saved && first_error.empty()) first_error = ini.error();
  SetError(error, first_error);
  return saved && first_error.empty();
}

bool IsValidSettingValue(std::u16string_view key, std::u16string_view value) {
  if (IsPathDataFolderKey(key)) return IsUsablePath(value);
  std::optional<int32_t> n = ParseWholeInt(value);
  return n && IsValidSettingValue(key, *n);
}

bool IsValidSettingValue(std::u16string_view key, int32_t value) {
  const IntSetting* s = FindIntSetting(key);
  return s != nullptr && value >= s->min && value <= s->max;
}

SetSettingResult SetSettingByName(Settings& settings, std::u16string_view key,
                                  std::u16string_view value) {
  SetSettingResult result;
  if (IsPathDataFolderKey(key)) {
    if (!IsUsablePath(value)) {
      result.code = SetSettingResult::Code::kBadValue;
      result.message = N_("PathDataFolder: the folder must not contain a line break or NUL");
      return result;
    }
    settings.PathDataFolder = value;
    return result;
  }
  const IntSetting* s = FindIntSetting(key);
  if (s == nullptr) {
    result.code = SetSettingResult::Code::kUnknownKey;
    result.message = N_("unknown setting \"") + Utf16ToUtf8(key) + N_("\"; the settings are ") +
                     Utf16ToUtf8(kPathDataFolderKey);
    for (const IntSetting& known : kIntSettings) result.message += ", " + Utf16ToUtf8(known.key);
    return result;
  }
  std::optional<int32_t> n = ParseWholeInt(value);
  if (!n || *n < s->min || *n > s->max) {
    result.code = SetSettingResult::Code::kBadValue;
    result.message = Utf16ToUtf8(s->key) + ": \"" + Utf16ToUtf8(value) +
                     N_("\" is not allowed; use ") + AllowedText(*s);
    return result;
  }
  settings.*s->member = *n;
  return result;
}

void ApplyChanges(Settings& settings, std::span<const SettingChange> changes) {
  for (const SettingChange& change : changes) settings.*change.member = change.value;
}

Settings SanitizedSettings(const Settings& settings) {
  Settings out = settings;
  for (const IntSetting& s : kIntSettings) {
    int32_t& v = out.*s.member;
    if (v < s.min || v > s.max) v = s.default_value;
  }
  return out;
}

MainWindowPosition LoadMainWindowPosition(const std::filesystem::path& ini_path) {
  IniFile ini = IniFile::Load(ini_path);
  MainWindowPosition pos;
  pos.FormTop = ini.ReadInt(kGeneralSection, u"FormTop", pos.FormTop);
  pos.FormLeft = ini.ReadInt(kGeneralSection, u"FormLeft", pos.FormLeft);
  return pos;
}

bool SaveMainWindowPosition(const std::filesystem::path& ini_path, const MainWindowPosition& pos,
                            std::string* error) {
  if (!MakeIniFolder(ini_path, error)) return false;
  IniFile ini = IniFile::Load(ini_path);
  ini.Set(kGeneralSection, u"FormTop", DecimalText(pos.FormTop));
  ini.Set(kGeneralSection, u"FormLeft", DecimalText(pos.FormLeft));
  bool ok = ini.Save();
  SetError(error, ini.error());
  return ok;
}

bool SaveLogWindowGeometry(const std::filesystem::path& ini_path, const LogWindowGeometry& geometry,
                           std::string* error) {
  if (!MakeIniFolder(ini_path, error)) return false;
  IniFile ini = IniFile::Load(ini_path);
  ini.Set(kLogWindowSection, u"Top", DecimalText(geometry.Top));
  ini.Set(kLogWindowSection, u"Left", DecimalText(geometry.Left));
  ini.Set(kLogWindowSection, u"Width", DecimalText(geometry.Width));
  ini.Set(kLogWindowSection, u"Height", DecimalText(geometry.Height));
  bool ok = ini.Save();
  SetError(error, ini.error());
  return ok;
}

}  // namespace tarvel
