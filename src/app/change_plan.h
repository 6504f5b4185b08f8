// The plan of a run as the change table shows it: one row per file or
// folder whose name or tag texts the run changes (or that the conversion
// said something about), with what changes and what was said. Made once
// when the conversion pass is through; a self-contained copy, so a front end
// may keep it while the next run fills the entry table again.
#ifndef TARVEL_APP_CHANGE_PLAN_H_
#define TARVEL_APP_CHANGE_PLAN_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/entry_table.h"
#include "platform/shared_text.h"

namespace tarvel {

struct PlanRow {
  int32_t row = 0;      // the row of the entry table
  SharedText folder;    // the folder holding it, relative to the data folder ("." for itself)
  bool is_file = true;  // false: a folder
  SharedText old_name;
  SharedText new_name;  // empty when the name stays
  // "old → new" for each tag text that changes, empty otherwise.
  std::u16string title;
  std::u16string artist;
  std::u16string album;
  uint8_t notices = 0;  // RowNotice bits
};

struct ChangePlan {
  std::u16string data_folder;
  std::vector<PlanRow> rows;
  // Nothing of the plan is applied: both kinds of change are check-only (as
  // asked, or because the run was switched to check-only).
  bool check_only = false;
};

// The plan of the entry table as the conversion pass left it.
std::shared_ptr<const ChangePlan> MakeChangePlan(const RunState& run,
                                                 std::u16string_view data_folder, bool check_only);

// "old → new", the form of a changed text in the plan.
std::u16string ChangeText(std::u16string_view before, std::u16string_view after);

// The notices of a row as the change table shows them, joined by "、"; empty
// for none.
std::u16string NoticeText(uint8_t notices);

// `folder_path` (a row's OldPath, ending in "/") relative to `data_folder`,
// without the trailing "/": "." for the data folder itself, the path as it
// stands when it is not below it.
std::u16string RelativeFolder(std::u16string_view folder_path, std::u16string_view data_folder);

}  // namespace tarvel

#endif  // TARVEL_APP_CHANGE_PLAN_H_
