// The export plan: what a converted copy of the library holds, made from
// the plan of a run (scan and conversion pass, nothing written) without
// changing the library. One list of folders and MP3 files, each with where
// it comes from and where it goes, and for a file the exact bytes of its
// copy: the first `audio_size` bytes of the source as they are, then, when
// the run would write the file's tag, the 128-byte ID3v1 block it would
// write. Any writer of a copy (a folder on a stick, a disc image) takes the
// plan as it is and needs nothing else of the run.
#ifndef TARVEL_RUN_EXPORT_PLAN_H_
#define TARVEL_RUN_EXPORT_PLAN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/disk_entry.h"
#include "app/entry_table.h"
#include "platform/disk_ops.h"
#include "run/run_report.h"

namespace tarvel {

// One folder or MP3 file of the copy.
struct ExportItem {
  bool is_file = false;
  // The entry table row it was made from; 0 for a folder the scan went into
  // without giving it a row (folder names not converted).
  int32_t row = 0;
  // Where it is in the library, relative to the library folder, in the
  // system's UTF-8 form, "/" between names; never empty.
  std::string source;
  // Where it goes, relative to the top of the copy, made of the converted
  // folder and file names (what the change table shows), UTF-8, "/" between
  // names. A folder comes before everything below it.
  std::string target;
  // Files: the source's size when the plan was made; the copy refuses a
  // source whose size has changed since.
  uint64_t source_size = 0;
  // Files: how many bytes from the start of the source the copy takes
  // unchanged: the whole file when its tag stays as it is, the file without
  // its old tag block when it gets a new one (all of it when it had none).
  uint64_t audio_size = 0;
  // Files: the block written after the audio part, empty when the file's
  // bytes are copied as they are (the run would leave its tag alone).
  TagBytes tag;

  // The size of the copy.
  uint64_t size() const { return audio_size + tag.size(); }
};

struct ExportPlan {
  // The library folder, absolute, UTF-8, without a trailing "/".
  std::string library;
  // Folders and files in table order, every folder before what it holds;
  // the top of the copy itself is no item.
  std::vector<ExportItem> items;
  int64_t file_count = 0;
  int64_t folder_count = 0;
  uint64_t byte_count = 0;  // the sum of the files' size()
};

// Makes the export plan of the library app.settings.PathDataFolder: the
// scan and conversion pass of a run as PlanConversion makes them, as for a
// real run whatever the check-only settings say (and also when the pass
// turned the run check-only: the copy holds what the change table shows),
// then one read-only look at each file for its size and last 128 bytes.
// Nothing in the library is written: no list, no log, no tag, no rename,
// no lock file. The outcome is as for PlanConversion; a file that cannot be
// read stops the plan with kStopped and `detail` naming it.
RunReport MakeExportPlan(AppState& app, ExportPlan& plan, DiskOps& disk = SystemDiskOps());
// The same, keeping the converted table the plan was made from in `run`.
RunReport MakeExportPlan(AppState& app, ExportPlan& plan, RunState& run, DiskOps& disk);

// Derives the plan from a converted table of the library `library`
// (absolute, UTF-8, without a trailing "/"), with `settings` deciding which
// names and tags are converted. Reads each file below `library` through
// `disk`, opened read-only. False, with `error` naming the file, when one
// cannot be read.
bool DeriveExportPlan(const RunState& run, const Settings& settings, const std::string& library,
                      ExportPlan& plan, std::string* error, DiskOps& disk = SystemDiskOps());

// Why a plan cannot be written as it stands.
struct ExportPlanProblem {
  size_t item = 0;     // the item at fault
  std::string detail;  // English, naming the item
};

// Looks at the plan before anything is written: every target is a path of
// plain names (no empty name, "." or "..") of at most 255 bytes each, and no
// two items get the same target under a case-insensitive comparison (a
// stick's file system folds case). What a player reads is checked apart
// (run/player_limits.h). Empty when the plan can be written.
std::vector<ExportPlanProblem> CheckExportPlan(const ExportPlan& plan);

}  // namespace tarvel

#endif  // TARVEL_RUN_EXPORT_PLAN_H_
