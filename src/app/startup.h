// Start-up shared by the window and the command line: finds the application
// folder, loads the settings and the two conversion tables.
#ifndef TARVEL_APP_STARTUP_H_
#define TARVEL_APP_STARTUP_H_

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"

namespace tarvel {

struct StartupResult {
  enum class Code { kOk, kDictionaryMissing, kSettingsUnreadable };
  Code code = Code::kOk;
  // For kDictionaryMissing ("全角→半角 変換辞書が見つかりません") and
  // kSettingsUnreadable (a settings file that exists but cannot be read: the
  // program would otherwise run on defaults the user never chose): the
  // message to show and why, for a log or standard error.
  std::u16string message;
  std::string detail;
  // Lines to write to the log after start-up (table rows ignored and the
  // like), without line ends.
  std::vector<std::u16string> notices;
  // The notices about settings values that were replaced by their defaults
  // (also in `notices`), UTF-8, for standard error.
  std::vector<std::string> setting_notices;
  bool ok() const { return code == Code::kOk; }
};

// Fills `app` (folder, IniPath, settings, DicTable, RomeTable) for the program
// at `exe_path`. `settings_file` replaces the settings file of the application
// folder. Settings are read before the tables, so a missing dictionary ends the
// program after the settings were read and before anything was written. A
// settings file that cannot be read ends start-up before the tables.
StartupResult Startup(AppState& app, const std::filesystem::path& exe_path,
                      const std::optional<std::filesystem::path>& settings_file = std::nullopt);

}  // namespace tarvel

#endif  // TARVEL_APP_STARTUP_H_
