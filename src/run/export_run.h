// The road of an export: a converted copy of the library in a folder (a USB
// stick for the car), the library itself left exactly as it is. The plan of
// a run, its check, the destination's check (empty, or an export of the
// same plan started before, which is finished), the free space, then the
// folders and files.
#ifndef TARVEL_RUN_EXPORT_RUN_H_
#define TARVEL_RUN_EXPORT_RUN_H_

#include <cstdint>
#include <string>

#include "app/app_state.h"
#include "platform/disk_ops.h"
#include "run/export_plan.h"
#include "run/player_limits.h"

namespace tarvel {

struct ExportReport {
  enum class Outcome {
    kCompleted,      // every file of the plan is in the copy
    kStopped,        // the plan or a copy failed part way (whole files only are left)
    kRefused,        // the plan cannot be written as it stands, or the destination
                     // has too little room: nothing was written
    kInvalidFolder,  // the library names nothing or is the root folder, or the
                     // destination is not empty, not a folder, or inside the library
    kBusy,           // a run or restore is working on the library
  };
  Outcome outcome = Outcome::kCompleted;
  // Why it did not complete (English, naming the file or folder).
  std::string detail;
  int64_t files_written = 0;
  int64_t files_skipped = 0;  // already in the copy with their size and tag
  int64_t folders_made = 0;
  uint64_t bytes_written = 0;
  // Stale temporaries of an earlier export removed at the start.
  int64_t parts_removed = 0;
  // When stopped for room: the bytes still to write and those free.
  uint64_t bytes_needed = 0;
  uint64_t bytes_free = 0;
  // The player's limits: what the copy breaks (refused: nothing written),
  // the folders split, and the plan for the change table.
  PlayerCheck player;
};

struct ExportOptions {
  // Audio bytes copied in the kernel where the file systems allow it;
  // false copies through `disk` (every byte reaches a test's faults).
  bool kernel_copy = true;
  // Each copy is flushed to the disk before it is renamed into place, so
  // that a stick pulled out part way holds whole files only. Off by
  // default: a flush per file makes an export many times slower than a
  // plain copy, a killed export leaves whole files either way, and the
  // whole destination is flushed once at the end, so that an export that
  // says it is done is on the stick.
  bool flush = false;
};

// The report of an export (to a folder or an image) whose plan has been
// made: the plan's outcome in the export's terms, with its detail.
template <typename Report>
Report ReportOfPlan(const RunReport& planned) {
  Report report;
  switch (planned.outcome) {
    case RunReport::Outcome::kCompleted:
      break;
    case RunReport::Outcome::kInvalidFolder:
      report.outcome = ExportReport::Outcome::kInvalidFolder;
      break;
    case RunReport::Outcome::kBusy:
      report.outcome = ExportReport::Outcome::kBusy;
      break;
    case RunReport::Outcome::kStopped:
    case RunReport::Outcome::kRefused:
      report.outcome = ExportReport::Outcome::kStopped;
      break;
  }
  report.detail = planned.detail;
  return report;
}

// Exports the library app.settings.PathDataFolder to `destination` (UTF-8,
// absolute), which is created when missing. A copy that breaks a limit of
// the player the settings describe is refused, every violation named. Progress goes to app.ui
// (ProgressStage::kExport); the report holds the summary.
ExportReport RunExport(AppState& app, const std::string& destination,
                       DiskOps& disk = SystemDiskOps(), ExportOptions options = {});

// Writes `plan` into `destination` (the destination's checks, the room,
// folders and files), for a caller that has the plan already.
ExportReport WriteExport(const ExportPlan& plan, const std::string& destination, FrontEnd& ui,
                         DiskOps& disk = SystemDiskOps(), ExportOptions options = {});

}  // namespace tarvel

#endif  // TARVEL_RUN_EXPORT_RUN_H_
