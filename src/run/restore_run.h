// The restore run: undoes a conversion run from its list.csv, the same for
// the window's restore button and for tarvel-cli --restore.
#ifndef TARVEL_RUN_RESTORE_RUN_H_
#define TARVEL_RUN_RESTORE_RUN_H_

#include <string>
#include <string_view>

#include "app/app_state.h"
#include "app/entry_table.h"
#include "files/restore.h"

namespace tarvel {

struct RestoreReport {
  enum class Outcome {
    kCompleted,       // the restore reached its end
    kStopped,         // a step failed and ended the restore
    kListUnreadable,  // the list could not be read; nothing was touched
    kBusy,            // another run or restore is in progress
  };
  Outcome outcome = Outcome::kCompleted;
  // Why the list could not be read or a step failed (UTF-8); empty otherwise.
  std::string detail;
  // Per-file lines and counts of the steps that ran.
  RestoreDetails details;
};

// The restore run after the user chose the list at `list_path`: shows the
// log (FlagDisplayLog 1), reads the list into `run` (EntryCount and
// ChangeCount stay as they are), then RestoreFolders, RestoreFiles and
// RestoreTags, stopping at the first step that fails with its message and
// "処理を中断します。". Every text goes to the log (FlagDisplayLog 1) or into
// message boxes. Takes the same guard as the conversion run.
RestoreReport RunRestore(AppState& app, RunState& run, std::u16string_view list_path);

}  // namespace tarvel

#endif  // TARVEL_RUN_RESTORE_RUN_H_
