// The restore run: undoes a conversion run from its list.csv, the same for
// the window's restore button and for tarvel-cli --restore.
#ifndef TARVEL_RUN_RESTORE_RUN_H_
#define TARVEL_RUN_RESTORE_RUN_H_

#include <string>
#include <string_view>

#include "app/app_state.h"
#include "app/entry_table.h"
#include "files/restore.h"
#include "platform/disk_ops.h"

namespace tarvel {

struct RestoreReport {
  enum class Outcome {
    kCompleted,       // the restore reached its end and every row is back
    kIncomplete,      // it reached its end, but rows were reported (not back)
    kStopped,         // a step failed on an unexpected error and ended it
    kListUnreadable,  // the list could not be read; nothing was touched
    kBusy,            // another run or restore is in progress
    kLibraryMissing,  // the list's library folder is not there and no new
                      // place was given; nothing was touched
  };
  Outcome outcome = Outcome::kCompleted;
  // Why the list could not be read or a step failed (UTF-8); empty otherwise.
  std::string detail;
  // Per-file lines and counts of the steps that ran.
  RestoreDetails details;
  // Whether an undo record of the list was used; when one was there but
  // could not be, why (UTF-8).
  bool used_undo_record = false;
  std::string undo_notice;
  // The record used was not the one beside the list but the one kept with
  // the same list in the history (a run that stopped between putting its
  // record and its list in place leaves another list's record beside it).
  std::string undo_record_from;
  // A record was beside the list but neither it nor any in the history
  // belongs to the list: names and tag texts came back, but the files'
  // bytes, modes and times could not be checked. Makes the outcome
  // kIncomplete at best.
  bool unchecked = false;
  // When the restore could not be noted in the history (UTF-8); the
  // restore itself is not affected.
  std::string history_notice;
};

// The restore run after the user chose the list at `list_path`: shows the
// log (FlagDisplayLog 1), reads the list into `run` (EntryCount and
// ChangeCount stay as they are) and the undo record beside it when it
// belongs to the list (else the one kept with the same list in the history),
// then RestoreFolders, RestoreFiles and RestoreTags. A restore that changed
// something is noted in the history (see NoteRestore).
// Rows that cannot be put back are reported and passed over; rows already
// under their old names are reported once, as a count. Only an unexpected
// error stops a step, with its message and "処理を中断します。". Every text
// goes to the log (FlagDisplayLog 1) or into message boxes. Takes the same
// guard as the conversion run.
//
// `library`, when not empty, is where the list's library (the folder of its
// first row) lies now: every row is taken as below it. Without it, a list
// whose library folder does not exist asks the front end for the new place
// (AskLibraryFolder) and ends as kLibraryMissing when there is none. Before
// anything changes, every row's folder must be reached from the library
// without a symbolic link; a row that is not ends the restore as an
// unreadable list, naming it.
RestoreReport RunRestore(AppState& app, RunState& run, std::u16string_view list_path,
                         std::u16string_view library = {}, DiskOps& disk = SystemDiskOps());

}  // namespace tarvel

#endif  // TARVEL_RUN_RESTORE_RUN_H_
