// Writing list.csv, the rename list (see list_format.h), before anything on
// disk changes, and where it goes.
#ifndef TARVEL_FILES_RENAME_LIST_H_
#define TARVEL_FILES_RENAME_LIST_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "app/app_state.h"
#include "app/entry_table.h"
#include "files/list_format.h"
#include "files/undo_record.h"

namespace tarvel {

// Where list.csv goes, as the path to write to and the text shown to the
// user: with FlagPathSaveCSV not 0 in the data folder (PathDataFolder and
// "list.csv" joined by exactly one "/"), else in the program's list folder,
// which is made when missing. False, with `error` set, when there is no such
// folder (an empty PathDataFolder, or a list folder that cannot be made).
bool RenameListPath(const AppState& app, std::filesystem::path& path, std::u16string& shown,
                    std::string* error = nullptr);

// The bytes of the list of rows 1..`count` of `run`, handed to `sink` as
// they are made, a block of rows at a time, so that neither the whole text
// nor its bytes are ever held: in code page 932 when every text survives it,
// else UTF-8 with a byte-order mark. Code page 932 bytes that happen to form
// valid UTF-8 ("ﾃｽ" is C3 BD) still read back as written (see
// ReadRenameList). The rows of a list read back give the bytes it was
// written with.
void FormatRenameList(const RunState& run, int32_t count,
                      const std::function<void(std::string_view)>& sink);

// A step run while the list folder is locked, after the previous list was
// kept and before the new one goes in place (tests start a second writer
// there to see it wait).
using ListLockedStep = std::function<void()>;

// Writes rows 1..EntryCount of `run` as list.csv (see RenameListPath). The
// file is written beside its target under a temporary name, flushed to disk
// and renamed into place, so an existing list is replaced whole and a failed
// write leaves the old one as it was. With `undo`, the undo record
// (list.csv.undo) is written beside the list, before it. Both are written
// whole first; then, under one lock on the program's list folder (where
// runs on several libraries share one list.csv), a list already there that
// records applied changes is kept in the history of runs and the new record
// and list are put in place, so that no run replaces a list another run put
// there before it was kept. Reports
// success to the log (FlagDisplayLog 1) or in a message; on failure it
// reports nothing and returns 0, with the reason (UTF-8) in `error`.
// `written_path` receives the path shown in the report. A list or record
// of more than `max_bytes` (what a restore reads) is refused, and neither
// is written.
int32_t WriteRenameList(AppState& app, const RunState& run, std::u16string* written_path = nullptr,
                        std::string* error = nullptr, const UndoRecord* undo = nullptr,
                        const ListLockedStep& in_lock = {},
                        std::size_t max_bytes = kMaxListFileBytes);

}  // namespace tarvel

#endif  // TARVEL_FILES_RENAME_LIST_H_
