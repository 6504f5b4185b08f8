// The program's shared state: the settings, the two conversion tables and the
// services the rules call. One object lives for the whole program; `main` of
// each front end makes it and wires the services in.
#ifndef TARVEL_APP_APP_STATE_H_
#define TARVEL_APP_APP_STATE_H_

#include <cstdint>
#include <filesystem>

#include "app/app_folder.h"
#include "app/front_end.h"
#include "app/settings.h"
#include "platform/csv.h"

namespace tarvel {

class ReadingService;

struct AppState {
  AppFolder folder;  // where the settings, the tables and list.csv live
  std::filesystem::path IniPath;
  Settings settings;
  CsvTable DicTable;   // dic.csv: column 1 search text, column 2 replacement
  CsvTable RomeTable;  // Rome.csv; unloaded when the file is absent
  // Never null: a state no front end was wired into says nothing.
  FrontEnd* ui = SilentFrontEnd::Shared();
  ReadingService* reading = nullptr;
  // True while a conversion or restore run is in progress.
  bool run_in_progress = false;
  // How many times the conversion rules have said something (a log entry or
  // a message). A conversion that leaves it as it was said nothing and
  // changed no setting, so its result depends on its text alone.
  uint64_t rule_notices = 0;
  // RowNotice bits the rules set while converting the current row; the
  // conversion pass clears them before each row and keeps them with it.
  uint8_t row_notices = 0;
};

}  // namespace tarvel

#endif  // TARVEL_APP_APP_STATE_H_
