// Carrying a run's results to disk: the new tag texts, then the new file
// names, then the new folder names, each stage walking the whole table and
// acting on the rows whose flags ask for it.
#ifndef TARVEL_FILES_APPLY_CHANGES_H_
#define TARVEL_FILES_APPLY_CHANGES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "app/entry_table.h"
#include "app/report.h"
#include "files/file_stage.h"
#include "platform/disk_ops.h"

namespace tarvel {

struct UndoRecord;

// Writes NewTitle, NewArtist and NewAlbum into every file row with TagFlag 1
// (at OldPath + OldName, never through a link), keeping each tag's year,
// comment and genre and the bytes of every field whose text does not change;
// a file without a tag gets one with an empty year and comment and no genre
// (255). Every file is reached from the data folder down (see
// LibraryFolderOf), never through a link. A file whose owner has no write permission gets it first
// and keeps it (the undo record holds its old mode). Reports the count
// ("…個のID3Tagを変更しました。") and returns 1. A tag that cannot be written
// (gone, a link, locked, shorter than 128 bytes, a full disk) stops the stage
// with 0 and no count, the file left as it was, and `result` naming it.
// With the run's `undo` record, a file whose entry there no longer matches it
// (another file in its place, or other bytes at its end) stops the stage in
// the same way: the record must hold exactly what each write replaces.
// Every system call goes through `disk`. A stage of kItemsForASecondThread
// rows or more shares them with a second thread.
int32_t WriteTags(const Reporter& reporter, RunState& run, StageResult* result = nullptr,
                  const UndoRecord* undo = nullptr, DiskOps& disk = SystemDiskOps());

// Renames every file row with RenameFlag 1 from OldPath + OldName to
// NewPath + NewName (the same folder), never replacing anything. All renames
// of the stage are planned first (see rename_plan.h): a name that another
// row of the stage gives up is taken only after it has been given up, and a
// cycle goes through a temporary name. Reports the count
// ("…個のファイル名を変更しました。") and returns 1. At the first rename that
// fails (the file is gone, the new name is taken by something outside the
// stage or unusable, its folder reached through a link, the system refuses)
// it stops with 0 and reports nothing; the files renamed before stay
// renamed, and `result` says which file and why.
int32_t RenameFiles(const Reporter& reporter, RunState& run, StageResult* result = nullptr,
                    DiskOps& disk = SystemDiskOps());

// The same for folder rows, planned the same way, the deepest folders first,
// so that each folder is renamed after the folders inside it and while its
// own parent still has its old name. Count text: "…個のフォルダ名を変更しました。".
int32_t RenameFolders(const Reporter& reporter, RunState& run, StageResult* result = nullptr,
                      DiskOps& disk = SystemDiskOps());

}  // namespace tarvel

#endif  // TARVEL_FILES_APPLY_CHANGES_H_
