// What the tests of real runs share: paths as a run takes them, the shipped
// tables, and the settings of a run that applies every change.
#ifndef TARVEL_TESTS_RUN_RUN_TEST_SUPPORT_H_
#define TARVEL_TESTS_RUN_RUN_TEST_SUPPORT_H_

#include <filesystem>
#include <string>

#include "app/app_state.h"
#include "app/settings.h"
#include "app/tables.h"
#include "platform/text.h"

namespace tarvel::testing {

// A path as the settings and the lists hold it (the test's paths are UTF-8).
inline std::u16string Text16(const std::filesystem::path& path) {
  return *Utf8ToUtf16(path.native());
}

// Loads the dic.csv and Rome.csv that ship with the program into `app`;
// false when the dictionary could not be read.
inline bool LoadShippedTables(AppState& app) {
  const std::filesystem::path data = std::filesystem::path(TARVEL_SOURCE_DIR) / "data";
  return LoadTables(app, data / "dic.csv", data / "Rome.csv").dic.loaded();
}

// The settings of a run on `library` that applies what it finds: names of
// files and folders (subfolders too) and tags, the full-width checks off so
// that no character turns the run check-only, the list in the library.
inline Settings ApplyingRun(const std::filesystem::path& library) {
  Settings s;
  s.PathDataFolder = Text16(library);
  s.FlagPathSaveCSV = 1;
  s.FlagCreateCSVFile = 1;
  s.FlagDisplayLog = 1;
  s.FlagCheckOnlyFilename = 0;
  s.FlagCheckOnlyID3Tag = 0;
  s.FlagDetectFullCharFilename = 0;
  s.FlagDetectFullCharID3Tag = 0;
  s.FlagRenameSubfolders = 1;
  s.FlagRenameFolderName = 1;
  s.FlagConvertFilename = 1;
  s.FlagConvertID3Tag = 1;
  return s;
}

}  // namespace tarvel::testing

#endif  // TARVEL_TESTS_RUN_RUN_TEST_SUPPORT_H_
