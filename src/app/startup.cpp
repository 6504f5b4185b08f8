#include "app/startup.h"

#include "app/settings.h"
#include "app/tables.h"
#include "platform/text.h"

namespace tarvel {

StartupResult Startup(AppState& app, const std::filesystem::path& exe_path,
                      const std::optional<std::filesystem::path>& settings_file) {
  StartupResult result;
  app.folder = FindAppFolder(exe_path);
  app.IniPath = settings_file ? *settings_file : app.folder.IniPath;
  std::string error;
  app.settings = LoadSettings(app.IniPath, app.folder.DefaultDataFolderText(), &error,
                              &result.setting_notices);
  if (!error.empty()) {
    result.code = StartupResult::Code::kSettingsUnreadable;
    result.message = u"設定ファイルを読み込めません。\r\n" + Utf8ToUtf16Lossy(app.IniPath.string());
    result.detail = error;
    return result;
  }
  for (const std::string& line : result.setting_notices) {
    result.notices.push_back(Utf8ToUtf16Lossy(line));
  }
  StartupTablesResult tables = LoadTables(app);
  for (auto& line : StartupTableNotices(tables)) result.notices.push_back(std::move(line));
  if (tables.dictionary_missing()) {
    result.code = StartupResult::Code::kDictionaryMissing;
    result.message = std::u16string(kDictionaryMissingMessage);
    result.detail = tables.dic.message;
  }
  return result;
}

}  // namespace tarvel
