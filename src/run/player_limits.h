// What a car or portable player reads of an exported copy: how deep its
// folders go, how many folders and how many files in one folder it lists,
// how long a name it takes and how much its medium holds. The export checks
// its plan against them before anything is written, and can split a folder
// that holds too many files into numbered parts.
#ifndef TARVEL_RUN_PLAYER_LIMITS_H_
#define TARVEL_RUN_PLAYER_LIMITS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/change_plan.h"
#include "app/settings.h"
#include "platform/disk_ops.h"
#include "run/export_plan.h"
#include "run/run_report.h"

namespace tarvel {

struct PlayerLimits {
  int32_t max_depth = 8;  // a folder at the top of the copy lies 1 deep
  int32_t max_folders = 255;
  int32_t max_files_in_folder = 255;  // the top of the copy counts as a folder
  int32_t max_name_length = 64;       // UTF-16 characters, as Joliet counts them
  int32_t max_megabytes = 0;          // MiB of the files; 0: no limit
  // The length a part's name is cut to (besides max_name_length).
  int32_t part_name_length = 255;
};

// The limits the settings give: the Max… options, and for parts' names the
// length names are cut to when the run cuts them (FlagLimit30Char).
PlayerLimits LimitsOf(const Settings& settings);

enum class PlayerLimit { kDepth, kFolders, kFilesInFolder, kNameLength, kSize };

// One limit a copy breaks.
struct LimitViolation {
  PlayerLimit limit = PlayerLimit::kDepth;
  // The folder or name at fault, as a path in the copy ("" for its top, and
  // for the size and folder count, which are the whole copy's).
  std::string where;
  int64_t figure = 0;   // what the copy has
  int64_t allowed = 0;  // what the player reads
  // The items a player would not read or show: the folders too deep or past
  // the count, the files past a folder's count or the size, the item whose
  // name is too long.
  std::vector<size_t> items;
  std::string detail;  // English, one line with the limit, the place and both figures
};

// Every limit the plan breaks, in the order depth, name length (by item),
// files in a folder (by folder), folder count, size. Empty when a player
// reads the whole copy.
std::vector<LimitViolation> CheckPlayerLimits(const ExportPlan& plan, const PlayerLimits& limits);

// Splits each folder (not the top of the copy) holding more files than
// max_files_in_folder into parts beside each other where the folder was:
// "NAME-1", "NAME-2" … made as numbered duplicate names are (the name cut
// so that it and "-N" fit in the shorter of part_name_length and
// max_name_length, a number passed over when a neighbour has that name).
// The files keep their order, max_files_in_folder to a part; what else the
// folder holds goes into the first part. Returns the folders split; false
// with `error` when a part's name cannot be made.
bool SplitFullFolders(ExportPlan& plan, const PlayerLimits& limits, int64_t* split,
                      std::string* error);

// What the player's limits made of an export's plan.
struct PlayerCheck {
  std::vector<LimitViolation> violations;  // empty: the copy may be written
  int64_t folders_split = 0;
  // Why a full folder could not be split (it is among the violations).
  std::string split_error;
  // The plan of the run the copy is made from, for the change table: nothing
  // of it is applied to the library, and the rows a player would not read
  // carry kNoticePlayerLimit. Made only for a front end that wants a plan.
  std::shared_ptr<const ChangePlan> changes;
};

// The export plan of the library app.settings.PathDataFolder (as
// MakeExportPlan makes it), its full folders split when FlagSplitFolders is
// set, then checked against the limits the settings give.
RunReport MakePlayerExportPlan(AppState& app, ExportPlan& plan, PlayerCheck& check,
                               DiskOps& disk = SystemDiskOps());

// The refusal of a copy that breaks a limit: every violation on a line of
// its own, then that nothing was written.
std::string RefusalText(const PlayerCheck& check);

}  // namespace tarvel

#endif  // TARVEL_RUN_PLAYER_LIMITS_H_
