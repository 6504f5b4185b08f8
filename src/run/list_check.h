// What a restore accepts from a list before it touches anything. A list is
// a file the user picks, possibly edited by hand or made by someone else, so
// every path in it is checked before a single rename: it must stay inside
// one library and name only the kind of item the row says it is.
#ifndef TARVEL_RUN_LIST_CHECK_H_
#define TARVEL_RUN_LIST_CHECK_H_

#include <string>
#include <string_view>

#include "app/entry_table.h"

namespace tarvel {

struct ListCheck {
  bool ok = true;
  // The first bad row and what is wrong with it (UTF-8); empty when ok.
  std::string problem;
  // The folder every row lies in (ends in "/"); empty for a list without
  // rows.
  std::u16string common_folder;
};

// Checks rows 1..LastIndex(run) as read from a list: OldPath and NewPath
// absolute, ending in "/", the same, without ".", ".." or empty segments;
// OldName and NewName single names (not empty, ".", "..", no "/"); no NUL
// anywhere in them; the names of file rows (IsFile 1) ending in "mp3" as the scan takes them, in
// any case; and every row in or below the folder of row 1 (the library
// folder, whose items a run records first), which is not the root.
ListCheck CheckRestoreList(const RunState& run);

// Takes a list checked by CheckRestoreList as the list of a library that now
// lies at `to` (an absolute folder; "/" is added when missing): every
// OldPath and NewPath that starts with `from` (the list's common folder)
// starts with `to` instead. The library's items keep their places below it.
void MoveLibrary(RunState& run, std::u16string_view from, std::u16string_view to);

// Checks, on disk and before any change, that the folder of every row is
// reached from `library` (the list's common folder, which may itself be
// reached through a link) without passing through a symbolic link: at each
// level below the library, under the folder's old name and, where a folder
// row renames it and the folder is not under its old name, its new name, as
// far as such a folder exists. The first
// row that passes through one fails, naming the link. `common_folder` of the
// result is `library`.
ListCheck CheckRowsReachWithoutLinks(const RunState& run, std::u16string_view library);

}  // namespace tarvel

#endif  // TARVEL_RUN_LIST_CHECK_H_
