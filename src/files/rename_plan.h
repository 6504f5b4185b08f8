// Planning the renames of one stage (the file names of a run, its folder
// names, or those of a restore) before the first one is made, so that a name
// that one entry leaves is free for the entry that takes it, whatever their
// order in the table.
//
// A target held by an entry that the stage will move away waits until that
// entry has moved; a cycle (a -> b, b -> a) goes through a temporary name in
// the same folder. Nothing outside the plan is ever touched, and every rename
// still refuses to replace an existing entry.
//
// In a folder that holds names differing only in letter case (or width) as
// one name, such names are one slot: AB.mp3 waits for ab.mp3 to move away,
// and a rename that changes only the case (song.mp3 -> SONG.mp3) goes
// through the temporary name as a cycle of one, since the folder would find
// the new name taken by the entry itself.
#ifndef TARVEL_FILES_RENAME_PLAN_H_
#define TARVEL_FILES_RENAME_PLAN_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/library_folders.h"
#include "platform/name_folding.h"
#include "platform/shared_text.h"

namespace tarvel {

// One wanted rename: `folder` + `from` to `folder` + `to` (`folder` ends in
// "/"). `row` is the caller's own number for it (a table index). The texts
// share the table's: a stage of a hundred thousand moves holds no copies.
struct PlannedMove {
  size_t row = 0;
  SharedText folder;
  SharedText from;
  SharedText to;
};

// One rename to carry out, in plan order. `move` indexes the moves given to
// PlanRenames; `temporary` is the step that moves an entry of a cycle aside
// (its `to` is a temporary name), after which the move's own step follows.
struct RenameStep {
  size_t move = 0;
  SharedText from;
  SharedText to;
  bool temporary = false;
};

// How the folders of a plan are ordered among each other: renames inside the
// deepest folders first (the folder names of a run, each renamed while its
// parent still has its old name), or inside the shallowest first (the folder
// names of a restore, each parent back before what it holds). Files are in
// folders that do not move during their stage, so either does.
enum class FolderOrder { kDeepestFirst, kShallowestFirst };

// How a folder of the plan compares names (its path as in PlannedMove).
using FoldingOf = std::function<NameFolding(const std::u16string& folder)>;

// The steps that carry out `moves`. Moves whose `from` equals `to` get no
// step. Two moves of one folder to the same target are both planned; the
// second then fails at the rename, which never replaces. `folding` is asked
// only about a folder whose names could be one name under some folding;
// without it every folder keeps every spelling apart.
std::vector<RenameStep> PlanRenames(const std::vector<PlannedMove>& moves, FolderOrder order,
                                    const FoldingOf& folding = nullptr);

// The temporary name a cycle uses for the entry called `name`: hidden, fixed
// for that name, so that a restore can find an entry that a killed run left
// there.
std::u16string TemporaryRenameName(std::u16string_view name);

// Carries out `steps` (from PlanRenames over `moves`). `done(move)` is called
// after each move has reached its target; `failed(move, reason)` when its
// rename was refused, after an entry that had been moved aside for it has
// been put back. With `stop_at_failure` the walk ends at the first failure
// (false is returned); otherwise it goes on with the other moves. True when
// every move reached its target. Every rename goes through `folders`.
bool ExecuteRenames(const std::vector<PlannedMove>& moves, const std::vector<RenameStep>& steps,
                    bool stop_at_failure, const std::function<void(size_t move)>& done,
                    const std::function<void(size_t move, const std::string& reason)>& failed,
                    LibraryFolders& folders);

}  // namespace tarvel

#endif  // TARVEL_FILES_RENAME_PLAN_H_
