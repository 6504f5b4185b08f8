// The history of runs: before a run replaces a list.csv that recorded
// applied changes, that list (with its undo record) is kept in a folder of
// its own under $XDG_DATA_HOME/tarvel/history/, named by the date and time it
// was kept and never overwritten. Any kept list can be restored from. The
// history is only ever added to; a user clears it by deleting the folders.
#ifndef TARVEL_FILES_RUN_HISTORY_H_
#define TARVEL_FILES_RUN_HISTORY_H_

#include <cstdint>
#include <filesystem>
#include <optional>
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

// One kept run (or the current list), for a listing.
struct HistoryEntry {
  std::filesystem::path list;  // the kept list.csv
  // When it was kept, "YYYY-MM-DD HH:MM:SS"; for the current list, when it
  // was written.
  std::string time;
  std::u16string folder;  // the outermost folder it names
  bool readable = false;  // false: the counts below are unknown
  bool current = false;   // the list the next run replaces, not a kept one
  std::string restored;   // when it was last restored from; empty: never
  int32_t rows = 0;
  int32_t renames = 0;  // rows with RenameFlag 1
  int32_t tags = 0;     // rows with TagFlag 1
};

// The kept runs, oldest first.
std::vector<HistoryEntry> ListHistory(const AppFolder& folder);

// The order of a listing of runs.
enum class RunOrder {
  kOldestFirst,  // the kept runs oldest first, then the current list
  kNewestFirst,  // the current list, then the kept runs newest first
};

// What the history of runs shows, the same for tarvel-cli --history and the
// window: the kept runs and the list at `current_list` (when there is one)
// marked as current, in `order`, each with the time it was last restored
// from (see NoteRestore).
std::vector<HistoryEntry> ListRuns(const AppFolder& folder,
                                   const std::filesystem::path& current_list,
                                   RunOrder order = RunOrder::kOldestFirst);

// Notes that a restore changed something from the list of `list_size` bytes
// with hash `list_hash` (see ListBytesHash) at `list_path`: one line appended
// to the history folder's file of restores, which ListRuns reads. A list is
// known by its bytes, so the note holds wherever the list is later found.
// False, with `error`, when it cannot be written.
bool NoteRestore(const AppFolder& folder, uint64_t list_size, uint64_t list_hash,
                 const std::filesystem::path& list_path, std::string* error);

// The kept list whose undo record says it belongs to a list of `list_size`
// bytes with hash `list_hash`, the most recently kept first; nothing when no
// record in the history does. Only the first lines of each record are read.
std::optional<std::filesystem::path> FindKeptListWithRecord(const AppFolder& folder,
                                                            uint64_t list_size, uint64_t list_hash);

}  // namespace tarvel

#endif  // TARVEL_FILES_RUN_HISTORY_H_
