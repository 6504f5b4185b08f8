// The whole road of one conversion run, the same for the window's start
// button and for tarvel-cli: data-folder check, scan, conversion pass, list,
// listing of the changes, tags, file names, folder names, stopping at the
// first stage that fails.
#ifndef TARVEL_RUN_RUN_DRIVER_H_
#define TARVEL_RUN_RUN_DRIVER_H_

#include <string>

#include "app/app_state.h"
#include "app/entry_table.h"
#include "platform/disk_ops.h"
#include "run/run_report.h"

namespace tarvel {

// Runs one conversion of app.settings.PathDataFolder into `run`. Every
// message goes to the log (FlagDisplayLog 1) or into message boxes.
RunReport RunConversion(AppState& app, RunState& run, DiskOps& disk = SystemDiskOps());

// The same run up to its plan, with nothing written: no list, no change on
// disk, no setting changed, nothing in the log. The plan goes to the front
// end (not to be opened); when the pass cannot be made, what ended it is
// shown as messages and the outcome says so.
RunReport PlanConversion(AppState& app, RunState& run, DiskOps& disk = SystemDiskOps());

// The change listing block of one row ("　" + OldName and one line per
// difference), empty when the row does not change.
std::u16string ChangeListing(const FileEntry& row);

}  // namespace tarvel

#endif  // TARVEL_RUN_RUN_DRIVER_H_
