// What the file stages (applying a run, restoring one) share: their result,
// the library folder they work below, and one rename through it.
#ifndef TARVEL_FILES_FILE_STAGE_H_
#define TARVEL_FILES_FILE_STAGE_H_

#include <string>
#include <string_view>

#include "app/entry_table.h"
#include "platform/library_folders.h"

namespace tarvel {

// Why a file stage, or one step of it, did not finish.
enum class StageCode {
  kOk,
  kUnusableName,    // a name that is empty, ".", "..", or holds "/" or NUL
  kMissing,         // the file or folder is not where the row says
  kTaken,           // the new name belongs to something else
  kOutsideLibrary,  // its folder is reached through a link or lies outside the library
  kRefused,         // the system refused (permissions, a full disk, a read-only medium)
  kTag,             // a tag could not be written (the message says why)
  kUnexpected,      // an error the stage did not expect (out of memory)
};

// The result of a file stage or step: a code, the errno of the system call
// that failed (0 when none), and a UTF-8 message naming the file or folder.
struct StageResult {
  StageCode code = StageCode::kOk;
  int sys_errno = 0;
  std::string message;
  bool ok() const { return code == StageCode::kOk; }
};

// True when `name` stays a single entry of the folder it is in: not empty,
// not "." or "..", no "/" and no NUL.
bool IsSingleName(std::u16string_view name);

// The folder (UTF-8, ending in "/") below which a stage works on the rows of
// `run`: `preferred` (the data folder of a run) when every row lies in or
// below it, else the deepest folder that holds every row (for a restore,
// the folder of its first row). Nothing is touched outside it, and nothing
// below it through a link.
std::string LibraryFolderOf(const RunState& run, std::u16string_view preferred);

// Renames `from_folder` + `from_name` to `to_folder` + `to_name` through
// `folders` (so never below a folder that a link stands in for), without
// ever replacing anything (a case-only change on a case-insensitive file
// system included). Both names must be single names. The message names both
// paths when the rename is refused. Shared by the apply stages and the
// restore steps.
StageResult RenameItem(LibraryFolders& folders, std::u16string_view from_folder,
                       std::u16string_view from_name, std::u16string_view to_folder,
                       std::u16string_view to_name);

}  // namespace tarvel

#endif  // TARVEL_FILES_FILE_STAGE_H_
