#include "files/apply_changes.h"

#include <fcntl.h>

#include <algorithm>
#include <exception>
#include <map>
#include <unordered_map>
#include <string_view>

#include "app/report.h"
#include "files/id3_tag.h"
#include "files/rename_plan.h"
#include "files/undo_record.h"
#include "platform/directory.h"
#include "platform/rename.h"
#include "platform/text.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kTagsWritten = u"個のID3Tagを変更しました。";
constexpr std::u16string_view kFilesRenamed = u"個のファイル名を変更しました。";
constexpr std::u16string_view kFoldersRenamed = u"個のフォルダ名を変更しました。";

void SetError(StageDetails* details, std::string text) {
  if (details != nullptr) details->error = std::move(text);
}

}  // namespace

bool IsSingleName(std::u16string_view name) {
  constexpr std::u16string_view kForbidden(u"/\0", 2);
  return !name.empty() && name != u"." && name != u".." &&
         name.find_first_of(kForbidden) == std::u16string_view::npos;
}

bool RenameItem(std::u16string_view from_folder, std::u16string_view from_name,
                std::u16string_view to_folder, std::u16string_view to_name, StageDetails* details,
                FolderHandle* folder) {
  if (!IsSingleName(from_name) || !IsSingleName(to_name)) {
    SetError(details, "cannot rename " + Utf16ToUtf8(std::u16string(from_folder) +
                                                     std::u16string(from_name)) +
                          " to " +
                          Utf16ToUtf8(std::u16string(to_folder) + std::u16string(to_name)) +
                          ": not a usable name");
    return false;
  }
  RenameResult result;
  std::string folder_bytes;
  int dir_fd = -1;
  if (folder != nullptr && from_folder == to_folder) {
    folder_bytes = Utf16ToUtf8(from_folder);
    dir_fd = folder->Open(folder_bytes);
  }
  if (dir_fd >= 0) {
    result = RenameNoReplaceAt(dir_fd, Utf16ToUtf8(from_name), Utf16ToUtf8(to_name), folder_bytes);
  } else {
    result = RenameNoReplace(Utf16ToUtf8(std::u16string(from_folder) + std::u16string(from_name)),
                             Utf16ToUtf8(std::u16string(to_folder) + std::u16string(to_name)));
  }
  if (!result.ok()) {
    SetError(details, result.message);
    return false;
  }
  return true;
}

int32_t WriteTags(AppState& app, RunState& run, StageDetails* details, const UndoRecord* undo) {
  try {
    int32_t count = 0;
    const size_t last = LastIndex(run);
    FolderHandle folder;
    std::string name;
    std::map<size_t, UndoEntry>::const_iterator next_undo;
    if (undo != nullptr) next_undo = undo->rows.begin();
    for (size_t i = 1; i <= last; ++i) {
      ReportProgress(app, ProgressStage::kWriteTags, i, last);
      const FileEntry& e = run.EntryTable[i];
      if (e.TagFlag != 1 || e.IsFile != 1) continue;
      // The file by its name in its open folder; by its full path when the
      // folder cannot be opened, so that the failure names the same cause.
      int dir_fd = folder.Open(Utf16ToUtf8(e.OldPath));
      if (dir_fd >= 0 && IsSingleName(e.OldName)) {
        name = Utf16ToUtf8(e.OldName);
      } else {
        dir_fd = AT_FDCWD;
        name = Utf16ToUtf8(e.OldPath + e.OldName);
      }
      // The record's rows come in the table's order, as the walk does.
      const UndoEntry* expected = nullptr;
      if (undo != nullptr) {
        while (next_undo != undo->rows.end() && next_undo->first < i) ++next_undo;
        if (next_undo != undo->rows.end() && next_undo->first == i) expected = &next_undo->second;
      }
      TagIoStatus status;
      BeforeDiskChange();
      if (UpdateID3TagTextsAt(dir_fd, name, e.NewTitle, e.NewArtist, e.NewAlbum,
                              /*make_writable=*/true, &status, expected) != 1) {
        SetError(details, "cannot write the tag of " + Utf16ToUtf8(e.OldPath + e.OldName) + ": " +
                              DescribeTagIoStatus(status));
        return 0;
      }
      ++count;
    }
    ReportCount(app, count, kTagsWritten);
    return 1;
  } catch (const std::exception& ex) {
    SetError(details, std::string("unexpected error: ") + ex.what());
    return 0;
  }
}

namespace {

// Renames the rows of one kind (`is_file`) with RenameFlag 1 as one planned
// stage, stopping at the first rename that fails. Every row is checked
// before the first rename; then the stage goes folder by folder (renames
// never cross folders), so that only one folder's moves are planned at a
// time, however large the library.
int32_t RenameStage(AppState& app, RunState& run, int32_t is_file, FolderOrder order,
                    ProgressStage stage, std::u16string_view count_text, StageDetails* details) {
  struct Folder {
    size_t depth = 0;
    std::vector<size_t> rows;
  };
  std::vector<Folder> folders;
  std::unordered_map<std::u16string_view, size_t> folder_index;
  size_t total = 0;
  const size_t last = LastIndex(run);
  for (size_t i = 1; i <= last; ++i) {
    const FileEntry& e = run.EntryTable[i];
    if (e.RenameFlag != 1 || e.IsFile != is_file) continue;
    // An item is renamed where it is: a row whose new folder is another one
    // cannot be planned as a rename within its folder.
    if (e.NewPath != e.OldPath || !IsSingleName(e.OldName) || !IsSingleName(e.NewName)) {
      SetError(details, "cannot rename " + Utf16ToUtf8(e.OldPath + e.OldName) + " to " +
                            Utf16ToUtf8(e.NewPath + e.NewName) + ": not a usable name");
      return 0;
    }
    auto [it, added] = folder_index.emplace(std::u16string_view(e.OldPath), folders.size());
    if (added) {
      folders.emplace_back();
      folders.back().depth =
          static_cast<size_t>(std::count(e.OldPath.begin(), e.OldPath.end(), u'/'));
    }
    folders[it->second].rows.push_back(i);
    ++total;
  }
  // Folders in order of first appearance, then by depth as asked: the order
  // one plan over the whole stage would take them in.
  std::vector<size_t> folder_order(folders.size());
  for (size_t f = 0; f < folder_order.size(); ++f) folder_order[f] = f;
  std::stable_sort(folder_order.begin(), folder_order.end(), [&](size_t a, size_t b) {
    return order == FolderOrder::kDeepestFirst ? folders[a].depth > folders[b].depth
                                               : folders[a].depth < folders[b].depth;
  });
  int32_t count = 0;
  std::string error;
  std::vector<PlannedMove> moves;
  for (size_t f : folder_order) {
    moves.clear();
    for (size_t i : folders[f].rows) {
      const FileEntry& e = run.EntryTable[i];
      moves.push_back({i, e.OldPath, e.OldName, e.NewName});
    }
    folders[f].rows = {};
    const bool ok = ExecuteRenames(
        moves, PlanRenames(moves, order), /*stop_at_failure=*/true,
        [&](size_t) { ReportProgress(app, stage, ++count, static_cast<int64_t>(total)); },
        [&](size_t, const std::string& reason) {
          if (error.empty()) error = reason;
        });
    if (!ok) {
      SetError(details, error);
      return 0;
    }
  }
  ReportCount(app, count, count_text);
  return 1;
}

}  // namespace

int32_t RenameFiles(AppState& app, RunState& run, StageDetails* details) {
  try {
    return RenameStage(app, run, 1, FolderOrder::kDeepestFirst, ProgressStage::kRenameFiles,
                       kFilesRenamed, details);
  } catch (const std::exception& ex) {
    SetError(details, std::string("unexpected error: ") + ex.what());
    return 0;
  }
}

int32_t RenameFolders(AppState& app, RunState& run, StageDetails* details) {
  try {
    return RenameStage(app, run, 0, FolderOrder::kDeepestFirst, ProgressStage::kRenameFolders,
                       kFoldersRenamed, details);
  } catch (const std::exception& ex) {
    SetError(details, std::string("unexpected error: ") + ex.what());
    return 0;
  }
}

}  // namespace tarvel
