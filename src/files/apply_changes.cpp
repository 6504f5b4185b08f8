#include "files/apply_changes.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "app/report.h"
#include "files/id3_tag.h"
#include "files/rename_plan.h"
#include "files/undo_record.h"
#include "platform/library_folders.h"
#include "platform/text.h"
#include "platform/translatable.h"
#include "platform/two_threads.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kTagsWritten = u"個のID3Tagを変更しました。";
constexpr std::u16string_view kFilesRenamed = u"個のファイル名を変更しました。";
constexpr std::u16string_view kFoldersRenamed = u"個のフォルダ名を変更しました。";

void SetResult(StageResult* result, StageResult value) {
  if (result != nullptr) *result = std::move(value);
}

StageResult Unexpected(const char* what) {
  return StageResult{StageCode::kUnexpected, 0, std::string("unexpected error: ") + what};
}

// The first failure of a stage carried out in two parts, by its place in the
// stage's order. A part does nothing at a place past a known failure, as a
// stage in one part stops at its first; what the stage reports is the
// failure that one part would have met first.
class FirstFailure {
 public:
  bool Passed(size_t at) const { return at > first_.load(std::memory_order_relaxed); }
  void Record(size_t at, StageResult result) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (at < first_.load(std::memory_order_relaxed)) {
      first_.store(at, std::memory_order_relaxed);
      result_ = std::move(result);
    }
  }
  bool failed() const { return first_.load() != SIZE_MAX; }
  const StageResult& result() const { return result_; }

 private:
  std::atomic<size_t> first_{SIZE_MAX};
  std::mutex mutex_;
  StageResult result_;
};

// Runs `part(from, to, progress)` over [0, split) on this thread and, when
// split < end, over [split, end) on a second one. The first part reports its
// progress as it goes; the second part's is shown by `shown(second)` while
// this thread waits for it.
void RunParts(size_t split, size_t end,
              const std::function<void(size_t, size_t, const std::function<void(int64_t)>&)>& part,
              const std::function<void(int64_t)>& first_progress,
              const std::function<void(int64_t)>& shown) {
  if (split >= end) {
    part(0, end, first_progress);
    return;
  }
  std::atomic<int64_t> second{0};
  RunInTwoParts([&] { part(0, split, first_progress); },
                [&] { part(split, end, [&](int64_t done) { second.store(done); }); },
                [&] { shown(second.load()); });
  // The waits may have ended before the second part's last step: the
  // progress ends where the stage did.
  shown(second.load());
}

// The tag stage's file rows, where its second half starts (past the end
// when one thread does it all), and its last row.
struct TagRows {
  size_t count = 0;
  size_t split = 0;
  size_t last = 0;
};

TagRows CountTagRows(const RunState& run) {
  TagRows rows;
  rows.last = LastIndex(run);
  rows.split = rows.last + 1;
  auto writes_tag = [&](size_t i) {
    const FileEntry& e = run.EntryTable[i];
    return e.TagFlag == 1 && e.IsFile == 1;
  };
  for (size_t i = 1; i <= rows.last; ++i) rows.count += writes_tag(i) ? 1 : 0;
  if (!SecondThreadPays(rows.count)) return rows;
  size_t seen = 0;
  for (size_t i = 1; i <= rows.last; ++i) {
    if (writes_tag(i) && ++seen > rows.count / 2) {
      rows.split = i;
      break;
    }
  }
  return rows;
}

// Writes the tag of row `i` through `folders`; false, with the reason in
// `failure`, when it cannot be written.
bool WriteOneTag(const FileEntry& e, size_t i, const UndoEntry* expected, LibraryFolders& folders,
                 FirstFailure& failure) {
  TagIoStatus status;
  const int dir_fd = folders.Open(Utf16ToUtf8(e.OldPath));
  if (dir_fd < 0) {
    status.error = IsOutsideLibraryError(errno) ? TagIoError::kOutsideLibrary : TagIoError::kOpen;
    status.sys_errno = errno;
  } else if (!IsSingleName(e.OldName)) {
    status.error = TagIoError::kOpen;
    status.sys_errno = EINVAL;
  } else if (UpdateID3TagTextsAt(dir_fd, Utf16ToUtf8(e.OldName), e.NewTitle, e.NewArtist,
                                 e.NewAlbum, /*make_writable=*/true, &status, expected,
                                 folders.disk()) == 1) {
    return true;
  }
  failure.Record(
      i, StageResult{status.error == TagIoError::kOutsideLibrary ? StageCode::kOutsideLibrary
                                                                 : StageCode::kTag,
                     status.sys_errno,
                     N_("cannot write the tag of ") + Utf16ToUtf8(e.OldPath + e.OldName) + ": " +
                         DescribeTagIoStatus(status)});
  return false;
}

// Writes the tags of the rows [from, to) of `run`, adding each to `count`.
// Never throws: a failure is recorded in `failure` and ends the part.
void WriteTagPart(const RunState& run, const UndoRecord* undo, size_t from, size_t to,
                  LibraryFolders& folders, FirstFailure& failure, int32_t& count,
                  const std::function<void(int64_t)>& progress) {
  size_t i = from;
  try {
    // The record's rows come in the table's order, as the walk does.
    DiskEntryRows::const_iterator next_undo;
    if (undo != nullptr) next_undo = undo->rows.lower_bound(from);
    for (; i < to; ++i) {
      progress(static_cast<int64_t>(i));
      const FileEntry& e = run.EntryTable[i];
      if (e.TagFlag != 1 || e.IsFile != 1) continue;
      if (failure.Passed(i)) return;
      const UndoEntry* expected = nullptr;
      if (undo != nullptr) {
        while (next_undo != undo->rows.end() && next_undo->first < i) ++next_undo;
        if (next_undo != undo->rows.end() && next_undo->first == i) expected = &next_undo->second;
      }
      if (!WriteOneTag(e, i, expected, folders, failure)) return;
      ++count;
    }
  } catch (const std::exception& ex) {
    failure.Record(i, Unexpected(ex.what()));
  } catch (...) {
    failure.Record(i, Unexpected("unknown"));
  }
}

}  // namespace

int32_t WriteTags(const Reporter& reporter, RunState& run, StageResult* result,
                  const UndoRecord* undo, DiskOps& disk) {
  try {
    const TagRows rows = CountTagRows(run);
    const std::string library = LibraryFolderOf(run, reporter.data_folder());
    const auto total = static_cast<int64_t>(rows.last);
    FirstFailure failure;
    int32_t counts[2] = {0, 0};
    RunParts(
        rows.split, rows.last + 1,
        [&](size_t from, size_t to, const std::function<void(int64_t)>& progress) {
          LibraryFolders folders(disk, library);
          WriteTagPart(run, undo, std::max<size_t>(from, 1), to, folders, failure,
                       counts[from == 0 ? 0 : 1], progress);
        },
        [&](int64_t done) { ReportProgress(reporter, ProgressStage::kWriteTags, done, total); },
        [&](int64_t second) {
          ReportProgress(reporter, ProgressStage::kWriteTags, second, total);
        });
    if (failure.failed()) {
      SetResult(result, failure.result());
      return 0;
    }
    ReportCount(reporter, counts[0] + counts[1], kTagsWritten);
    return 1;
  } catch (const std::exception& ex) {
    SetResult(result, Unexpected(ex.what()));
    return 0;
  }
}

namespace {

// The rows of one rename stage, folder by folder (renames never cross
// folders), in the order one plan over the whole stage would take them.
struct FolderRows {
  size_t depth = 0;
  std::vector<size_t> rows;
};
struct RenameRows {
  std::vector<FolderRows> folders;
  std::vector<size_t> order;  // indexes into `folders`
  size_t total = 0;
};

// Gathers the rows of one kind (`is_file`) with RenameFlag 1 by folder.
// False, with `result` naming the row, when a row cannot be renamed where it
// is: its new folder is another, or a name is not a single name.
bool GatherRenameRows(const RunState& run, int32_t is_file, FolderOrder order, RenameRows& out,
                      StageResult* result) {
  std::unordered_map<std::u16string_view, size_t> folder_index;
  const size_t last = LastIndex(run);
  for (size_t i = 1; i <= last; ++i) {
    const FileEntry& e = run.EntryTable[i];
    if (e.RenameFlag != 1 || e.IsFile != is_file) continue;
    if (e.NewPath != e.OldPath || !IsSingleName(e.OldName) || !IsSingleName(e.NewName)) {
      SetResult(result,
                StageResult{StageCode::kUnusableName, 0,
                            N_("cannot rename ") + Utf16ToUtf8(e.OldPath + e.OldName) + " to " +
                                Utf16ToUtf8(e.NewPath + e.NewName) + ": not a usable name"});
      return false;
    }
    auto [it, added] = folder_index.emplace(std::u16string_view(e.OldPath), out.folders.size());
    if (added) {
      out.folders.emplace_back();
      out.folders.back().depth =
          static_cast<size_t>(std::count(e.OldPath.begin(), e.OldPath.end(), u'/'));
    }
    out.folders[it->second].rows.push_back(i);
    ++out.total;
  }
  // Folders in order of first appearance, then by depth as asked.
  out.order.resize(out.folders.size());
  for (size_t f = 0; f < out.order.size(); ++f) out.order[f] = f;
  std::stable_sort(out.order.begin(), out.order.end(), [&](size_t a, size_t b) {
    const size_t da = out.folders[a].depth, db = out.folders[b].depth;
    return order == FolderOrder::kDeepestFirst ? da > db : da < db;
  });
  return true;
}

// Where the second thread's share of a file stage starts: files of
// different folders never meet, so the folders can be shared. Folders are
// renamed inside folders that move later, so their stage keeps one order.
size_t RenameSplit(const RenameRows& rows, int32_t is_file) {
  if (is_file != 1 || !SecondThreadPays(rows.total)) return rows.order.size();
  size_t moves_before = 0;
  for (size_t at = 0; at < rows.order.size(); ++at) {
    if (moves_before >= rows.total / 2) return at;
    moves_before += rows.folders[rows.order[at]].rows.size();
  }
  return rows.order.size();
}

// Renames the folders [from, to) of `rows.order`, each planned and carried
// out on its own, adding each move to `count`. Never throws.
void RenamePart(const RunState& run, RenameRows& rows, FolderOrder order, size_t from, size_t to,
                LibraryFolders& folders, FirstFailure& failure, int32_t& count,
                const std::function<void(int64_t)>& progress) {
  size_t at = from;
  try {
    std::vector<PlannedMove> moves;
    for (; at < to; ++at) {
      if (failure.Passed(at)) return;
      FolderRows& folder = rows.folders[rows.order[at]];
      moves.clear();
      for (size_t i : folder.rows) {
        const FileEntry& e = run.EntryTable[i];
        moves.push_back({i, e.OldPath, e.OldName, e.NewName});
      }
      folder.rows = {};
      std::string error;
      const FoldingOf folding = [&](const std::u16string& f) {
        return folders.Folding(Utf16ToUtf8(f));
      };
      const bool ok = ExecuteRenames(
          moves, PlanRenames(moves, order, folding), /*stop_at_failure=*/true,
          [&](size_t) { progress(++count); },
          [&](size_t, const std::string& reason) {
            if (error.empty()) error = reason;
          },
          folders);
      if (!ok) {
        failure.Record(at, StageResult{StageCode::kRefused, 0, error});
        return;
      }
    }
  } catch (const std::exception& ex) {
    failure.Record(at, Unexpected(ex.what()));
  } catch (...) {
    failure.Record(at, Unexpected("unknown"));
  }
}

// Renames the rows of one kind (`is_file`) with RenameFlag 1 as one planned
// stage, stopping at the first rename that fails. Every row is checked
// before the first rename; then the stage goes folder by folder, so that
// only one folder's moves are planned at a time, however large the library.
int32_t RenameStage(const Reporter& reporter, RunState& run, int32_t is_file, ProgressStage stage,
                    std::u16string_view count_text, StageResult* result, DiskOps& disk) {
  constexpr FolderOrder kOrder = FolderOrder::kDeepestFirst;
  RenameRows rows;
  if (!GatherRenameRows(run, is_file, kOrder, rows, result)) return 0;
  const std::string library = LibraryFolderOf(run, reporter.data_folder());
  const auto total = static_cast<int64_t>(rows.total);
  FirstFailure failure;
  int32_t counts[2] = {0, 0};
  RunParts(
      RenameSplit(rows, is_file), rows.order.size(),
      [&](size_t from, size_t to, const std::function<void(int64_t)>& progress) {
        LibraryFolders folders(disk, library);
        RenamePart(run, rows, kOrder, from, to, folders, failure, counts[from == 0 ? 0 : 1],
                   progress);
      },
      [&](int64_t done) { ReportProgress(reporter, stage, done, total); },
      [&](int64_t second) { ReportProgress(reporter, stage, counts[0] + second, total); });
  if (failure.failed()) {
    SetResult(result, failure.result());
    return 0;
  }
  ReportCount(reporter, counts[0] + counts[1], count_text);
  return 1;
}

}  // namespace

int32_t RenameFiles(const Reporter& reporter, RunState& run, StageResult* result, DiskOps& disk) {
  try {
    return RenameStage(reporter, run, 1, ProgressStage::kRenameFiles, kFilesRenamed, result, disk);
  } catch (const std::exception& ex) {
    SetResult(result, Unexpected(ex.what()));
    return 0;
  }
}

int32_t RenameFolders(const Reporter& reporter, RunState& run, StageResult* result, DiskOps& disk) {
  try {
    return RenameStage(reporter, run, 0, ProgressStage::kRenameFolders, kFoldersRenamed, result,
                       disk);
  } catch (const std::exception& ex) {
    SetResult(result, Unexpected(ex.what()));
    return 0;
  }
}

}  // namespace tarvel
