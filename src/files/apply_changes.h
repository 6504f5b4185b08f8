// Carrying a run's results to disk: the new tag texts, then the new file
// names, then the new folder names, each stage walking the whole table and
// acting on the rows whose flags ask for it.
#ifndef TARVEL_FILES_APPLY_CHANGES_H_
#define TARVEL_FILES_APPLY_CHANGES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "app/entry_table.h"

namespace tarvel {

struct UndoRecord;
class FolderHandle;

// What a stage can tell its caller beyond its result, all in UTF-8.
struct StageDetails {
  // Why the stage broke off (naming the file or folder), empty when it
  // finished.
  std::string error;
  // Files the stage passed over without it being an error (a tag that could
  // not be written), one line each naming the file and the reason.
  std::vector<std::string> skipped;
};

// True when `name` stays a single entry of the folder it is in: not empty,
// not "." or "..", no "/" and no NUL.
bool IsSingleName(std::u16string_view name);

// Renames `from_folder` + `from_name` to `to_folder` + `to_name` without
// ever replacing anything (a case-only change on a case-insensitive file
// system included). Both names must be single names. False, with the reason
// naming both paths in `details->error`, when the rename is refused. Shared
// by the apply stages and the restore steps. With `folder`, a rename within
// one folder goes through that folder kept open (see FolderHandle).
bool RenameItem(std::u16string_view from_folder, std::u16string_view from_name,
                std::u16string_view to_folder, std::u16string_view to_name, StageDetails* details,
                FolderHandle* folder = nullptr);

// Writes NewTitle, NewArtist and NewAlbum into every file row with TagFlag 1
// (at OldPath + OldName, never through a link), keeping each tag's year,
// comment and genre and the bytes of every field whose text does not change;
// a file without a tag gets one with an empty year and comment and no genre
// (255). A file whose owner has no write permission gets it first and keeps
// it (the undo record holds its old mode). Reports the count
// ("…個のID3Tagを変更しました。") and returns 1. A tag that cannot be written
// (gone, a link, locked, shorter than 128 bytes, a full disk) stops the stage
// with 0 and no count, the file left as it was, and `details->error` naming it.
// With the run's `undo` record, a file whose entry there no longer matches it
// (another file in its place, or other bytes at its end) stops the stage in
// the same way: the record must hold exactly what each write replaces.
int32_t WriteTags(AppState& app, RunState& run, StageDetails* details = nullptr,
                  const UndoRecord* undo = nullptr);

// Renames every file row with RenameFlag 1 from OldPath + OldName to
// NewPath + NewName (the same folder), never replacing anything. All renames
// of the stage are planned first (see rename_plan.h): a name that another
// row of the stage gives up is taken only after it has been given up, and a
// cycle goes through a temporary name. Reports the count
// ("…個のファイル名を変更しました。") and returns 1. At the first rename that
// fails (the file is gone, the new name is taken by something outside the
// stage or unusable, the system refuses) it stops with 0 and reports
// nothing; the files renamed before stay renamed, and `details->error` says
// which file and why.
int32_t RenameFiles(AppState& app, RunState& run, StageDetails* details = nullptr);

// The same for folder rows, planned the same way, the deepest folders first,
// so that each folder is renamed after the folders inside it and while its
// own parent still has its old name. Count text: "…個のフォルダ名を変更しました。".
int32_t RenameFolders(AppState& app, RunState& run, StageDetails* details = nullptr);

}  // namespace tarvel

#endif  // TARVEL_FILES_APPLY_CHANGES_H_
