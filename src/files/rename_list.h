// list.csv, the rename list: every row of a run with its names and tag texts
// before and after and its three flags, written before anything on disk
// changes so that a restore can undo the run, even one that stopped part way.
//
// The file is CSV with every field quoted and CR LF after every record. The
// first record is blank (14 empty fields); then one record per row:
// number, OldPath, OldName, NewPath, NewName, OldTitle, OldArtist, OldAlbum,
// NewTitle, NewArtist, NewAlbum, RenameFlag, TagFlag, IsFile.
// It is written in code page 932 when every text survives that, else in
// UTF-8 behind a byte-order mark; the reader takes both.
#ifndef TARVEL_FILES_RENAME_LIST_H_
#define TARVEL_FILES_RENAME_LIST_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "app/entry_table.h"

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
// write leaves the old one as it was. Reports success to the log
// (FlagDisplayLog 1) or in a message; on failure it reports nothing and
// returns 0, with the reason (UTF-8) in `error`. `written_path` receives the
// path shown in the report.
int32_t WriteRenameList(AppState& app, const RunState& run, std::u16string* written_path = nullptr,
                        std::string* error = nullptr);

// Reads the list at `FileName` and replaces the table of `run` with its rows
// (record k+1 becomes row k; the blank first record and the number column
// are not read). A record with fewer fields reads the missing ones as empty
// and flags 0; a flag is the whole number at the start of its field, 0 when
// there is none. EntryCount and ChangeCount keep the values of the last
// conversion run: callers walk rows 1..EntryTable.size()-1. Returns 0, with
// the table untouched and the reason in `error`, when the file cannot be
// read, holds no record, or its first record has fewer than 14 fields as
// ParseCSV counts them.
int32_t ReadRenameList(std::u16string_view FileName, RunState& run, std::string* error = nullptr);

// The integer a flag field stands for: optional blanks, an optional sign and
// the digits that follow (clamped to the 32-bit range); 0 without digits.
int32_t ParseListFlag(std::u16string_view field);

}  // namespace tarvel

#endif  // TARVEL_FILES_RENAME_LIST_H_
