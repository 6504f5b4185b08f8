// The history of runs: before a run replaces a list.csv that recorded
// applied changes, that list (with its undo record) is kept in a folder of
// its own under $XDG_DATA_HOME/tarvel/history/, named by the date and time it
// was kept and never overwritten. Any kept list can be restored from. The
// history is only ever added to; a user clears it by deleting the folders.
#ifndef TARVEL_FILES_RUN_HISTORY_H_
#define TARVEL_FILES_RUN_HISTORY_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_folder.h"
#include "files/list_format.h"

namespace tarvel {

// The name of a kept list inside its history folder: the list keeps its own
// name, so its undo record is found beside it as beside any list.
inline constexpr std::string_view kHistoryListName = kRenameListName;

// Keeps the list at `list_path` in the history when it exists and records
// applied changes (a row with RenameFlag or TagFlag 1), or cannot be read as
// a list at all (it may still matter to someone), or is in another form than
// this program writes (every field quoted, 14 fields). The list and its
// record are read and copied a piece at a time, in bounded memory. True when
// nothing had to be kept or it was kept; false, with `error`, when it could
// not be.
bool KeepPreviousList(const AppFolder& folder, const std::filesystem::path& list_path,
                      std::string* error);

// One kept run, for a listing.
struct HistoryEntry {
  std::filesystem::path list;  // the kept list.csv
  std::string time;            // when it was kept, "YYYY-MM-DD HH:MM:SS"
  std::u16string folder;       // the outermost folder it names
  bool readable = false;       // false: the counts below are unknown
  int32_t rows = 0;
  int32_t renames = 0;  // rows with RenameFlag 1
  int32_t tags = 0;     // rows with TagFlag 1
};

// The kept runs, oldest first.
std::vector<HistoryEntry> ListHistory(const AppFolder& folder);

}  // namespace tarvel

#endif  // TARVEL_FILES_RUN_HISTORY_H_
