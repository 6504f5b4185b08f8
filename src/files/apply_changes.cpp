#include "files/apply_changes.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
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

namespace {

// A stage with this many items or more shares them with a second thread (the
// machines this runs on have two cores or more): the system calls of tag
// writes and renames are most of a large run, and two cores carry them out
// side by side. Below it a thread costs more than it saves. A test that
// stops a run at a chosen change (the hooks) keeps the one order it counts.
constexpr size_t kItemsForASecondThread = 2048;

bool SecondThreadPays(size_t items) {
  return items >= kItemsForASecondThread && std::thread::hardware_concurrency() > 1 &&
         !HasDiskChangeHook() && !HasTagWriteFault();
}

// The first failure of a stage carried out in two parts, by its place in the
// stage's order. A part does nothing at a place past a known failure, as a
// stage in one part stops at its first; what the stage reports is the
// failure that one part would have met first.
class FirstFailure {
 public:
  bool Passed(size_t at) const { return at > first_.load(std::memory_order_relaxed); }
  void Record(size_t at, std::string error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (at < first_.load(std::memory_order_relaxed)) {
      first_.store(at, std::memory_order_relaxed);
      error_ = std::move(error);
    }
  }
  bool failed() const { return first_.load() != SIZE_MAX; }
  const std::string& error() const { return error_; }

 private:
  std::atomic<size_t> first_{SIZE_MAX};
  std::mutex mutex_;
  std::string error_;
};

// Runs `part(progress)` on a second thread while `first_part` runs on this
// one, then reports the second part's progress (which it gives through
// `progress`) until it has ended. Neither part may throw.
void RunInTwoParts(AppState& app, ProgressStage stage, int64_t total,
                   const std::function<void(std::atomic<int64_t>&)>& second_part,
                   const std::function<void()>& first_part, const int32_t* offset = nullptr) {
  std::atomic<int64_t> progress{0};
  std::atomic<bool> ended{false};
  std::thread worker([&] {
    second_part(progress);
    ended.store(true);
  });
  first_part();
  while (!ended.load()) {
    ReportProgress(app, stage, progress.load() + (offset != nullptr ? *offset : 0), total);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  worker.join();
}

// Writes the tags of the rows [from, to) of `run`, adding each to `count`.
// Never throws: a failure is recorded in `failure` and ends the part.
void WriteTagPart(const RunState& run, const UndoRecord* undo, size_t from, size_t to,
                  FirstFailure& failure, int32_t& count,
                  const std::function<void(size_t)>& progress) {
  size_t i = from;
  try {
    FolderHandle folder;
    std::string name;
    // The record's rows come in the table's order, as the walk does.
    DiskEntryRows::const_iterator next_undo;
    if (undo != nullptr) next_undo = undo->rows.lower_bound(from);
    for (; i < to; ++i) {
      progress(i);
      const FileEntry& e = run.EntryTable[i];
      if (e.TagFlag != 1 || e.IsFile != 1) continue;
      if (failure.Passed(i)) return;
      // The file by its name in its open folder; by its full path when the
      // folder cannot be opened, so that the failure names the same cause.
      int dir_fd = folder.Open(Utf16ToUtf8(e.OldPath));
      if (dir_fd >= 0 && IsSingleName(e.OldName)) {
        name = Utf16ToUtf8(e.OldName);
      } else {
        dir_fd = AT_FDCWD;
        name = Utf16ToUtf8(e.OldPath + e.OldName);
      }
      const UndoEntry* expected = nullptr;
      if (undo != nullptr) {
        while (next_undo != undo->rows.end() && next_undo->first < i) ++next_undo;
        if (next_undo != undo->rows.end() && next_undo->first == i) expected = &next_undo->second;
      }
      TagIoStatus status;
      BeforeDiskChange();
      if (UpdateID3TagTextsAt(dir_fd, name, e.NewTitle, e.NewArtist, e.NewAlbum,
                              /*make_writable=*/true, &status, expected) != 1) {
        failure.Record(i, "cannot write the tag of " + Utf16ToUtf8(e.OldPath + e.OldName) + ": " +
                              DescribeTagIoStatus(status));
        return;
      }
      ++count;
    }
  } catch (const std::exception& ex) {
    failure.Record(i, std::string("unexpected error: ") + ex.what());
  } catch (...) {
    failure.Record(i, "unexpected error");
  }
}

}  // namespace

int32_t WriteTags(AppState& app, RunState& run, StageDetails* details, const UndoRecord* undo) {
  try {
    const size_t last = LastIndex(run);
    size_t tag_rows = 0;
    for (size_t i = 1; i <= last; ++i) {
      const FileEntry& e = run.EntryTable[i];
      if (e.TagFlag == 1 && e.IsFile == 1) ++tag_rows;
    }
    // The second half of the tag rows goes to a second thread.
    size_t split = last + 1;
    if (SecondThreadPays(tag_rows)) {
      size_t seen = 0;
      for (size_t i = 1; i <= last; ++i) {
        const FileEntry& e = run.EntryTable[i];
        if (e.TagFlag == 1 && e.IsFile == 1 && ++seen > tag_rows / 2) {
          split = i;
          break;
        }
      }
    }
    FirstFailure failure;
    int32_t first_count = 0, second_count = 0;
    auto first_part = [&] {
      WriteTagPart(run, undo, 1, split, failure, first_count, [&](size_t i) {
        ReportProgress(app, ProgressStage::kWriteTags, static_cast<int64_t>(i),
                       static_cast<int64_t>(last));
      });
    };
    if (split <= last) {
      RunInTwoParts(
          app, ProgressStage::kWriteTags, static_cast<int64_t>(last),
          [&](std::atomic<int64_t>& progress) {
            WriteTagPart(run, undo, split, last + 1, failure, second_count,
                         [&](size_t i) { progress.store(static_cast<int64_t>(i)); });
          },
          first_part);
    } else {
      first_part();
    }
    if (failure.failed()) {
      SetError(details, failure.error());
      return 0;
    }
    ReportCount(app, first_count + second_count, kTagsWritten);
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
  // The folders from `from` to `to` in folder_order, each planned and
  // carried out on its own. Never throws.
  FirstFailure failure;
  auto rename_part = [&](size_t from, size_t to, int32_t& count,
                         const std::function<void()>& done) {
    size_t at = from;
    try {
      std::vector<PlannedMove> moves;
      for (; at < to; ++at) {
        if (failure.Passed(at)) return;
        Folder& folder = folders[folder_order[at]];
        moves.clear();
        for (size_t i : folder.rows) {
          const FileEntry& e = run.EntryTable[i];
          moves.push_back({i, e.OldPath, e.OldName, e.NewName});
        }
        folder.rows = {};
        std::string error;
        const bool ok = ExecuteRenames(
            moves, PlanRenames(moves, order), /*stop_at_failure=*/true,
            [&](size_t) {
              ++count;
              done();
            },
            [&](size_t, const std::string& reason) {
              if (error.empty()) error = reason;
            });
        if (!ok) {
          failure.Record(at, error);
          return;
        }
      }
    } catch (const std::exception& ex) {
      failure.Record(at, std::string("unexpected error: ") + ex.what());
    } catch (...) {
      failure.Record(at, "unexpected error");
    }
  };
  // Files of different folders never meet, so the folders can be shared with
  // a second thread; folders are renamed inside folders that move later, so
  // their stage keeps its one order.
  size_t split = folder_order.size();
  if (is_file == 1 && SecondThreadPays(total)) {
    size_t moves_before = 0;
    for (size_t at = 0; at < folder_order.size(); ++at) {
      if (moves_before >= total / 2) {
        split = at;
        break;
      }
      moves_before += folders[folder_order[at]].rows.size();
    }
  }
  int32_t first_count = 0, second_count = 0;
  auto first_part = [&] {
    rename_part(0, split, first_count, [&] {
      ReportProgress(app, stage, first_count, static_cast<int64_t>(total));
    });
  };
  if (split < folder_order.size()) {
    RunInTwoParts(
        app, stage, static_cast<int64_t>(total),
        [&](std::atomic<int64_t>& progress) {
          rename_part(split, folder_order.size(), second_count,
                      [&] { progress.store(second_count); });
        },
        first_part, &first_count);
  } else {
    first_part();
  }
  if (failure.failed()) {
    SetError(details, failure.error());
    return 0;
  }
  const int32_t count = first_count + second_count;
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
