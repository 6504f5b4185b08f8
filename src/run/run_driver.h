// The whole road of one conversion run, the same for the window's start
// button and for tarvel-cli: data-folder check, scan, conversion pass, list,
// listing of the changes, tags, file names, folder names, stopping at the
// first stage that fails.
#ifndef TARVEL_RUN_RUN_DRIVER_H_
#define TARVEL_RUN_RUN_DRIVER_H_

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/entry_table.h"
#include "platform/disk_ops.h"
#include "run/run_report.h"

namespace tarvel {

struct RunReport {
  enum class Outcome {
    kCompleted,      // the run reached its end (also "nothing to change")
    kStopped,        // a stage failed and ended the run
    kInvalidFolder,  // the data folder names nothing
    kBusy,           // another run or restore is in progress
  };
  Outcome outcome = Outcome::kCompleted;
  // list.csv was written (the window then enables its restore button).
  bool list_written = false;
  std::u16string list_path;
  // Why a stage failed, naming the file or folder (UTF-8); empty otherwise.
  std::string detail;
  // Files passed over without stopping the run, one line each (UTF-8). None
  // today: a tag that cannot be written stops the run.
  std::vector<std::string> skipped;
  // A character the full-width check could not convert turned a run that
  // was to change names or tags into a check-only one: nothing it was asked
  // to change was changed.
  bool switched_to_check_only = false;
};

// Runs one conversion of app.settings.PathDataFolder into `run`. Every
// message goes to the log (FlagDisplayLog 1) or into message boxes.
RunReport RunConversion(AppState& app, RunState& run, DiskOps& disk = SystemDiskOps());

// The change listing block of one row ("　" + OldName and one line per
// difference), empty when the row does not change.
std::u16string ChangeListing(const FileEntry& row);

}  // namespace tarvel

#endif  // TARVEL_RUN_RUN_DRIVER_H_
