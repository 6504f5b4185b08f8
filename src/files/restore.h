// The steps of the restore run, plain file work on a table read from a
// list.csv: the folders get their old names back first (outermost first),
// then the files, then the old tag texts, the reverse of the order in which
// the run applied them. A run that stopped part way is undone as far as it
// got.
#ifndef TARVEL_FILES_RESTORE_H_
#define TARVEL_FILES_RESTORE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "app/entry_table.h"

namespace tarvel {

// What the restore steps tell their caller beyond their results (texts in
// UTF-8). One object is passed through all three steps: RestoreTags reads
// which files RestoreFiles could not put back.
struct RestoreDetails {
  // Why the last step broke off (naming the file or folder); empty when it
  // finished.
  std::string error;
  // Converted files not found under their new name (the new full path).
  std::vector<std::string> missing;
  // Files left under their new name because something else holds the old
  // one ("new path -> old path").
  std::vector<std::string> conflicts;
  // Rows (table indices, ascending) of `conflicts`, which RestoreTags passes
  // over: their old path holds another file.
  std::vector<size_t> conflict_rows;
  // Tags not written back, one line each naming the file and the reason.
  std::vector<std::string> skipped;
  // What each step restored.
  int32_t folders_restored = 0;
  int32_t files_restored = 0;
  int32_t tags_restored = 0;
};

// Renames every folder row with RenameFlag 1 from NewPath + NewName back to
// OldPath + OldName, first row to last, so that a folder gets its old name
// before the folders inside it (whose paths hold the old name). A folder
// found under its old name while its new name holds nothing or no folder
// (the run stopped before renaming it, or it was restored before) is passed
// over and not counted. Reports the count ("…個のフォルダ名を復元しました。") and returns 1.
// Stops with 0, reporting nothing, at the first folder it cannot put back:
// missing under both names (renamed by hand), old name taken, rename refused.
int32_t RestoreFolders(AppState& app, RunState& run, RestoreDetails& details);

// Renames every file row with RenameFlag 1 from NewPath + NewName back to
// OldPath + OldName, never replacing anything. A file not found under its
// new name is reported missing, and one whose old name is held by another
// entry is reported as a conflict with both paths; neither stops the walk.
// (A case-only change on a case-insensitive file system finds the file
// itself under its old name: no conflict.) Reports the count
// ("…個のファイル名を復元しました。") and returns 1; 0, reporting no count,
// when a rename is refused.
int32_t RestoreFiles(AppState& app, RunState& run, RestoreDetails& details);

// Writes OldTitle, OldArtist and OldAlbum back into every file row with
// TagFlag 1, at OldPath + OldName, keeping each tag's year, comment and genre
// bytes; a read-only file is made writable first. Passes over the rows in
// details.conflict_rows (their old path holds another file) and rows whose
// old path holds no plain file (missing, and never there under its old
// name). A file reported missing that does sit under its old name (the run
// stopped before renaming it, or it was restored before) gets its texts
// back. A tag that cannot be written is not counted and the walk goes on.
// Reports the count ("…個のID3Tagを復元しました。") and returns 1; 0 only on an
// unexpected error.
int32_t RestoreTags(AppState& app, RunState& run, RestoreDetails& details);

}  // namespace tarvel

#endif  // TARVEL_FILES_RESTORE_H_
