#include "files/restore.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <map>
#include <string_view>
#include <unordered_set>

#include "app/report.h"
#include "files/apply_changes.h"
#include "files/id3_tag.h"
#include "files/rename_plan.h"
#include "platform/text.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kFoldersRestored = u"個のフォルダ名を復元しました。";
constexpr std::u16string_view kFilesRestored = u"個のファイル名を復元しました。";
constexpr std::u16string_view kTagsRestored = u"個のID3Tagを復元しました。";
constexpr std::u16string_view kAlreadyRestored = u"個のファイルまたはフォルダは既に元の名前です。";

// What a path names, without following a link at its end.
struct PathInfo {
  bool exists = false;
  struct stat st {};
  bool SameEntryAs(const PathInfo& other) const {
    return exists && other.exists && st.st_dev == other.st.st_dev && st.st_ino == other.st.st_ino;
  }
};

PathInfo LookUp(const std::u16string& path) {
  PathInfo info;
  const std::string bytes = Utf16ToUtf8(path);
  info.exists = ::lstat(bytes.c_str(), &info.st) == 0;
  return info;
}

const UndoEntry* EntryFor(const UndoRecord* undo, size_t row) {
  if (undo == nullptr) return nullptr;
  auto it = undo->rows.find(row);
  return it == undo->rows.end() ? nullptr : &it->second;
}

// Whether `info` can be the row's item: the right kind, and, where the undo
// record knows it and the library is still on the same device, the same
// inode (a rename keeps it).
bool IsRowsItem(const PathInfo& info, const UndoEntry* entry, bool is_file) {
  if (!info.exists) return false;
  if (is_file ? !S_ISREG(info.st.st_mode) : !S_ISDIR(info.st.st_mode)) return false;
  if (entry == nullptr || info.st.st_dev != entry->dev) return true;
  return info.st.st_ino == entry->ino;
}

// Calls `f(length)` for the prefixes of the folder path `path` (ending in
// "/") that end in "/", longest first, until it returns true.
template <typename F>
bool AnyPrefix(const std::u16string& path, F f) {
  size_t end = path.size();
  while (end > 0) {
    if (f(end)) return true;
    if (end < 2) return false;
    size_t slash = path.rfind(u'/', end - 2);
    if (slash == std::u16string::npos) return false;
    end = slash + 1;
  }
  return false;
}

// Where the folder `path` is now: inside a folder that did not come back,
// under that folder's new name.
std::u16string WhereNow(const RestoreDetails& d, const std::u16string& path) {
  if (d.folders_not_back.empty()) return path;
  std::u16string now = path;
  AnyPrefix(path, [&](size_t end) {
    auto it = d.folders_not_back.find(path.substr(0, end));
    if (it == d.folders_not_back.end()) return false;
    now = it->second + path.substr(end);
    return true;
  });
  return now;
}

bool UnderMissingFolder(const RestoreDetails& d, const std::u16string& path) {
  if (d.folders_missing.empty()) return false;
  return AnyPrefix(path, [&](size_t end) { return d.folders_missing.count(path.substr(0, end)); });
}

void ReportMissing(AppState& app, bool is_file, const std::u16string& full) {
  std::u16string text = is_file ? u"見つからないファイルがあります。\r\n　ファイル名　：　"
                                : u"見つからないフォルダがあります。\r\n　フォルダ名　：　";
  text += full;
  Report(app, text + std::u16string(kCrLf), text);
}

void ReportNotRestored(AppState& app, bool is_file, const std::u16string& now,
                       const std::u16string& old) {
  std::u16string text =
      is_file ? u"復元に失敗したファイルがあります。\r\n　現在のファイル名　：　" + now +
                    u"\r\n　　元のファイル名　：　" + old + u"\r\n　手動で復元をお願いします。"
              : u"復元に失敗したフォルダがあります。\r\n　現在のフォルダ名　：　" + now +
                    u"\r\n　　元のフォルダ名　：　" + old + u"\r\n　手動で復元をお願いします。";
  // The log gets its own line end, so that the next report starts on a line
  // of its own.
  Report(app, text + std::u16string(kCrLf), text);
}

// Restores the renames of `rows` (all files, or the folders of one depth) as
// one planned stage and returns how many came back.
int32_t RestoreRows(AppState& app, RunState& run, RestoreDetails& d, const UndoRecord* undo,
                    const std::vector<size_t>& rows, bool is_file) {
  struct Pending {
    size_t row;
    std::u16string folder_now;  // where the item is
    std::u16string old_folder;  // where it goes (differs only in hand-made lists)
    std::u16string source;      // its name there now
  };
  std::vector<Pending> pending;
  int64_t looked_at = 0;
  for (size_t i : rows) {
    if (is_file) {
      ReportProgress(app, ProgressStage::kRestoreFiles, ++looked_at, static_cast<int64_t>(rows.size()));
    }
    const FileEntry& e = run.EntryTable[i];
    // A new name that is no name ("..", a name the run could not give) was
    // never given: the item is still under its old name.
    if (IsSingleName(e.OldName) && !IsSingleName(e.NewName) && !UnderMissingFolder(d, e.OldPath) &&
        IsRowsItem(LookUp(WhereNow(d, e.OldPath) + e.OldName), EntryFor(undo, i), is_file)) {
      ++d.already_restored;
      continue;
    }
    if (!IsSingleName(e.OldName) || !IsSingleName(e.NewName)) {
      d.failed.push_back(Utf16ToUtf8(e.NewPath + e.NewName) + " -> " +
                         Utf16ToUtf8(e.OldPath + e.OldName) + ": not a usable name");
      ReportNotRestored(app, is_file, e.NewPath + e.NewName, e.OldPath + e.OldName);
      d.rows_not_back.insert(i);
      continue;
    }
    if (UnderMissingFolder(d, e.OldPath) || UnderMissingFolder(d, e.NewPath)) {
      ++d.unreachable;
      d.rows_not_back.insert(i);
      continue;
    }
    const UndoEntry* entry = EntryFor(undo, i);
    const std::u16string folder_now = WhereNow(d, e.NewPath);
    const std::u16string old_folder = WhereNow(d, e.OldPath);
    PathInfo at_new = LookUp(folder_now + e.NewName);
    if (e.NewName != e.OldName || folder_now != old_folder) {
      if (IsRowsItem(at_new, entry, is_file)) {
        pending.push_back({i, folder_now, old_folder, e.NewName});
        continue;
      }
    }
    if (IsRowsItem(LookUp(old_folder + e.OldName), entry, is_file)) {
      ++d.already_restored;
      continue;
    }
    // A run (or restore) killed in the middle of a cycle left the item under
    // its temporary name.
    bool found = false;
    for (const std::u16string& temp :
         {TemporaryRenameName(e.OldName), TemporaryRenameName(e.NewName)}) {
      if (IsRowsItem(LookUp(folder_now + temp), entry, is_file)) {
        pending.push_back({i, folder_now, old_folder, temp});
        found = true;
        break;
      }
    }
    if (found) continue;
    d.missing.push_back(Utf16ToUtf8(folder_now + e.NewName));
    ReportMissing(app, is_file, folder_now + e.NewName);
    d.rows_not_back.insert(i);
    if (!is_file) d.folders_missing.insert(e.OldPath + e.OldName + u"/");
  }

  // An old name held by something that does not move away in this stage is
  // a conflict: the item stays where it is.
  std::unordered_set<std::u16string> sources;
  for (const Pending& p : pending) sources.insert(p.folder_now + p.source);
  int32_t count = 0;
  std::vector<PlannedMove> moves;
  std::vector<size_t> move_row;
  auto not_back = [&](size_t i, const std::u16string& now) {
    const FileEntry& e = run.EntryTable[i];
    d.rows_not_back.insert(i);
    if (!is_file) d.folders_not_back[e.OldPath + e.OldName + u"/"] = now + u"/";
  };
  for (const Pending& p : pending) {
    const FileEntry& e = run.EntryTable[p.row];
    const std::u16string now = p.folder_now + p.source;
    const std::u16string target = p.old_folder + e.OldName;
    PathInfo held = LookUp(target);
    if (held.exists && !sources.count(target) && !held.SameEntryAs(LookUp(now))) {
      d.conflicts.push_back(Utf16ToUtf8(now) + " -> " + Utf16ToUtf8(target));
      ReportNotRestored(app, is_file, now, target);
      not_back(p.row, now);
      continue;
    }
    if (p.folder_now != p.old_folder) {
      // Only a hand-made list moves an item between folders: one rename.
      StageDetails stage;
      BeforeDiskChange();
      if (RenameItem(p.folder_now, p.source, p.old_folder, e.OldName, &stage)) {
        ++count;
      } else {
        d.failed.push_back(stage.error);
        ReportNotRestored(app, is_file, now, target);
        not_back(p.row, now);
      }
      continue;
    }
    moves.push_back({p.row, p.folder_now, p.source, e.OldName});
  }
  ExecuteRenames(
      moves, PlanRenames(moves, FolderOrder::kShallowestFirst), /*stop_at_failure=*/false,
      [&](size_t) { ++count; },
      [&](size_t m, const std::string& reason) {
        const PlannedMove& move = moves[m];
        const std::u16string now = move.folder + move.from;
        const std::u16string target = move.folder + move.to;
        if (LookUp(target).exists) {
          d.conflicts.push_back(Utf16ToUtf8(now) + " -> " + Utf16ToUtf8(target));
        } else {
          d.failed.push_back(reason);
        }
        ReportNotRestored(app, is_file, now, target);
        not_back(move.row, now);
      });
  return count;
}

size_t Depth(std::u16string_view path) {
  return static_cast<size_t>(std::count(path.begin(), path.end(), u'/'));
}

}  // namespace

int32_t RestoreFolders(AppState& app, RunState& run, RestoreDetails& details,
                       const UndoRecord* undo) {
  try {
    // Outermost first: a folder's parent has its old name again before the
    // folder itself is looked for.
    std::map<size_t, std::vector<size_t>> by_depth;
    const size_t last = LastIndex(run);
    for (size_t i = 1; i <= last; ++i) {
      ReportProgress(app, ProgressStage::kRestoreFolders, i, last);
      const FileEntry& e = run.EntryTable[i];
      if (e.RenameFlag == 1 && e.IsFile == 0) by_depth[Depth(e.OldPath)].push_back(i);
    }
    int32_t count = 0;
    for (const auto& [depth, rows] : by_depth) {
      count += RestoreRows(app, run, details, undo, rows, /*is_file=*/false);
    }
    details.folders_restored = count;
    ReportCount(app, count, kFoldersRestored);
    return 1;
  } catch (const std::exception& ex) {
    details.error = std::string("unexpected error: ") + ex.what();
    return 0;
  }
}

int32_t RestoreFiles(AppState& app, RunState& run, RestoreDetails& details,
                     const UndoRecord* undo) {
  try {
    std::vector<size_t> rows;
    const size_t last = LastIndex(run);
    for (size_t i = 1; i <= last; ++i) {
      const FileEntry& e = run.EntryTable[i];
      if (e.RenameFlag == 1 && e.IsFile == 1) rows.push_back(i);
    }
    const int32_t count = RestoreRows(app, run, details, undo, rows, /*is_file=*/true);
    details.files_restored = count;
    ReportCount(app, count, kFilesRestored);
    return 1;
  } catch (const std::exception& ex) {
    details.error = std::string("unexpected error: ") + ex.what();
    return 0;
  }
}

int32_t RestoreTags(AppState& app, RunState& run, RestoreDetails& details, const UndoRecord* undo) {
  try {
    int32_t count = 0;
    const size_t last = LastIndex(run);
    for (size_t i = 1; i <= last; ++i) {
      ReportProgress(app, ProgressStage::kRestoreTags, i, last);
      const FileEntry& e = run.EntryTable[i];
      if (e.TagFlag != 1 || e.IsFile != 1) continue;
      // A file left under its new name, or not found, is reported already.
      if (details.rows_not_back.count(i)) continue;
      if (UnderMissingFolder(details, e.OldPath)) {
        ++details.unreachable;
        continue;
      }
      const std::u16string path = WhereNow(details, e.OldPath) + e.OldName;
      const UndoEntry* entry = EntryFor(undo, i);
      if (!IsSingleName(e.OldName) || !IsRowsItem(LookUp(path), entry, true)) {
        details.skipped.push_back(Utf16ToUtf8(path) + ": the file of this row is not there");
        continue;
      }
      TagIoStatus status;
      BeforeDiskChange();
      const int32_t ok = entry != nullptr && entry->has_block
                             ? RestoreID3Block(path, entry->size, entry->had_tag, entry->block,
                                               entry->mode, &status)
                             : UpdateID3TagTexts(path, e.OldTitle, e.OldArtist, e.OldAlbum,
                                                 /*make_writable=*/true, &status);
      if (ok == 1) {
        ++count;
      } else {
        details.skipped.push_back(Utf16ToUtf8(path) + ": " + DescribeTagIoStatus(status));
      }
    }
    details.tags_restored = count;
    ReportCount(app, count, kTagsRestored);
    return 1;
  } catch (const std::exception& ex) {
    details.error = std::string("unexpected error: ") + ex.what();
    return 0;
  }
}

void ReportAlreadyRestored(AppState& app, const RestoreDetails& details) {
  if (details.already_restored == 0) return;
  std::u16string text = DecimalText(details.already_restored) + std::u16string(kAlreadyRestored);
  Report(app, text + std::u16string(kCrLf), text);
}

}  // namespace tarvel
