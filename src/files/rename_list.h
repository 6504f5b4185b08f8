// list.csv, the rename list: every row of a run with its names and tag texts
// before and after and its three flags, written before anything on disk
// changes so that a restore can undo the run, even one that stopped part way.
//
// The file is CSV with every field quoted and CR LF after every record. The
// first record is blank (14 empty fields); then one record per row:
// number, OldPath, OldName, NewPath, NewName, OldTitle, OldArtist, OldAlbum,
// NewTitle, NewArtist, NewAlbum, RenameFlag, TagFlag, IsFile.
// It is written in code page 932 when every text survives that, else in
// UTF-8 behind a byte-order mark; the reader goes by that mark alone.
#ifndef TARVEL_FILES_RENAME_LIST_H_
#define TARVEL_FILES_RENAME_LIST_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "app/entry_table.h"
#include "files/undo_record.h"

namespace tarvel {

// The file name of the rename list.
inline constexpr std::u16string_view kRenameListName = u"list.csv";
// Columns of a list record.
inline constexpr int32_t kRenameListColumns = 14;

// Where list.csv goes, as the path to write to and the text shown to the
// user: with FlagPathSaveCSV not 0 in the data folder (PathDataFolder and
// "list.csv" joined by exactly one "/"), else in the program's list folder,
// which is made when missing. False, with `error` set, when there is no such
// folder (an empty PathDataFolder, or a list folder that cannot be made).
bool RenameListPath(const AppState& app, std::filesystem::path& path, std::u16string& shown,
                    std::string* error = nullptr);

// Writes rows 1..EntryCount of `run` as list.csv (see RenameListPath). The
// file is written beside its target under a temporary name, flushed to disk
// and renamed into place, so an existing list is replaced whole and a failed
// write leaves the old one as it was. A list already there that records
// applied changes is first kept in the history of runs. With `undo`, the undo
// record (list.csv.undo) is written beside the list, before it. Reports
// success to the log (FlagDisplayLog 1) or in a message; on failure it
// reports nothing and returns 0, with the reason (UTF-8) in `error`.
// `written_path` receives the path shown in the report.
int32_t WriteRenameList(AppState& app, const RunState& run, std::u16string* written_path = nullptr,
                        std::string* error = nullptr, const UndoRecord* undo = nullptr);

// Reads the list at `FileName` and replaces the table of `run` with its rows
// (record k+1 becomes row k; the blank first record and the number column
// are not read). The bytes are read as UTF-8 when they start with a
// byte-order mark, else as code page 932. A file that is not a whole list is
// refused before anything changes, with the first bad record named in
// `error`: a line end other than CR LF, UTF-16 or binary data, a last record
// without its line end, no blank first record, no row after it, a row with
// fewer than 14 fields, or a number, RenameFlag, TagFlag or IsFile field that
// is not a whole number. EntryCount and ChangeCount keep the values of the
// last conversion run: callers walk rows 1..EntryTable.size()-1.
// `list_bytes`, when given, receives the file's bytes.
int32_t ReadRenameList(std::u16string_view FileName, RunState& run, std::string* error = nullptr,
                       std::string* list_bytes = nullptr);

// The integer a flag field stands for: optional blanks, an optional sign and
// the digits that follow (clamped to the 32-bit range); 0 without digits.
int32_t ParseListFlag(std::u16string_view field);

}  // namespace tarvel

#endif  // TARVEL_FILES_RENAME_LIST_H_
