#include "files/restore.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "app/report.h"
#include "files/file_stage.h"
#include "files/id3_tag.h"
#include "files/rename_plan.h"
#include "platform/library_folders.h"
#include "platform/name_folding.h"
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

// Whether `info`, found at `path`, can be the row's item: the right kind
// and, where the undo record knows the row, the same entry. Where the file
// system keeps inode numbers and the library is still on its device, the
// inode decides (a rename keeps it, and a file the user changed since is
// still the row's, to be reported by the tag step); elsewhere (exFAT after a
// remount, a library copied to another disk) a file must have the size and
// last bytes the run found or left, and a folder is taken by its name.
bool IsRowsItem(DiskOps& disk, const std::u16string& path, const PathInfo& info,
                const UndoEntry* entry, bool is_file) {
  if (!info.exists) return false;
  if (is_file ? !S_ISREG(info.st.st_mode) : !S_ISDIR(info.st.st_mode)) return false;
  if (entry == nullptr) return true;
  if (entry->inode_kept && info.st.st_dev == entry->dev) return info.st.st_ino == entry->ino;
  if (!is_file) return true;
  if (!entry->has_block) {
    // The run leaves the bytes of a file it only renames as they are.
    if (static_cast<uint64_t>(info.st.st_size) != entry->size) return false;
    if (!entry->has_last) return true;
  }
  DiskEntry now;
  return CaptureFileAt(disk, AT_FDCWD, Utf16ToUtf8(path), now) && HasRunBytes(*entry, now);
}

// Calls `f(length)` for the prefixes of the folder path `path` (ending in
// "/") that end in "/", longest first, until it returns true.
template <typename F>
bool AnyPrefix(std::u16string_view path, F f) {
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
// under that folder's new name; else `path` itself, its buffer shared, so
// that the rows waiting for their renames hold no copy of their folder.
SharedText WhereNow(const RestoreDetails& d, const SharedText& path) {
  if (d.folders_not_back.empty()) return path;
  SharedText now = path;
  const std::u16string_view text = path.view();
  AnyPrefix(text, [&](size_t end) {
    auto it = d.folders_not_back.find(std::u16string(text.substr(0, end)));
    if (it == d.folders_not_back.end()) return false;
    now = it->second + std::u16string(text.substr(end));
    return true;
  });
  return now;
}

bool UnderMissingFolder(const RestoreDetails& d, std::u16string_view path) {
  if (d.folders_missing.empty()) return false;
  return AnyPrefix(path, [&](size_t end) {
    return d.folders_missing.count(std::u16string(path.substr(0, end))) != 0;
  });
}

void ReportMissing(const Reporter& reporter, bool is_file, const std::u16string& full) {
  std::u16string text = is_file ? u"見つからないファイルがあります。\r\n　ファイル名　：　"
                                : u"見つからないフォルダがあります。\r\n　フォルダ名　：　";
  text += full;
  Report(reporter, text + std::u16string(kCrLf), text);
}

void ReportNotRestored(const Reporter& reporter, bool is_file, const std::u16string& now,
                       const std::u16string& old) {
  std::u16string text =
      is_file ? u"復元に失敗したファイルがあります。\r\n　現在のファイル名　：　" + now +
                    u"\r\n　　元のファイル名　：　" + old + u"\r\n　手動で復元をお願いします。"
              : u"復元に失敗したフォルダがあります。\r\n　現在のフォルダ名　：　" + now +
                    u"\r\n　　元のフォルダ名　：　" + old + u"\r\n　手動で復元をお願いします。";
  // The log gets its own line end, so that the next report starts on a line
  // of its own.
  Report(reporter, text + std::u16string(kCrLf), text);
}

// One restore step's rows of one kind, and what it works with.
struct RestoreStep {
  const Reporter& reporter;
  RunState& run;
  RestoreDetails& d;
  const UndoRecord* undo;
  bool is_file;
  LibraryFolders& folders;
};

// A row whose item is found, to be renamed back.
struct Pending {
  size_t row;
  SharedText folder_now;  // where the item is
  SharedText old_folder;  // where it goes (differs only in hand-made lists)
  SharedText source;      // its name there now
};

// Whether what is at `path` can be the item of a row of the step.
bool IsRowsItemAt(const RestoreStep& s, const std::u16string& path, const UndoEntry* entry) {
  return IsRowsItem(s.folders.disk(), path, LookUp(path), entry, s.is_file);
}

void NotBack(const RestoreStep& s, size_t i, const std::u16string& now) {
  const FileEntry& e = s.run.EntryTable[i];
  s.d.rows_not_back.insert(i);
  if (!s.is_file) s.d.folders_not_back[e.OldPath + e.OldName + u"/"] = now + u"/";
}

// Where the item of row `i` is found under its new or temporary name, or
// nothing when it is not found there.
std::optional<Pending> FindRenamed(const RestoreStep& s, size_t i) {
  const FileEntry& e = s.run.EntryTable[i];
  const UndoEntry* entry = EntryFor(s.undo, i);
  const SharedText folder_now = WhereNow(s.d, e.NewPath);
  const SharedText old_folder = WhereNow(s.d, e.OldPath);
  if ((e.NewName != e.OldName || folder_now != old_folder) &&
      IsRowsItemAt(s, folder_now + e.NewName, entry)) {
    return Pending{i, folder_now, old_folder, e.NewName};
  }
  if (IsRowsItemAt(s, old_folder + e.OldName, entry)) return std::nullopt;
  // A run (or restore) killed in the middle of a cycle left the item under
  // its temporary name.
  for (const std::u16string& temp :
       {TemporaryRenameName(e.OldName), TemporaryRenameName(e.NewName)}) {
    if (IsRowsItemAt(s, folder_now + temp, entry)) {
      return Pending{i, folder_now, old_folder, SharedText(temp)};
    }
  }
  return std::nullopt;
}

// Looks at row `i`: counts or reports it when it needs no rename (already
// back, not usable, unreachable, missing), else says where its item is.
std::optional<Pending> ClassifyRow(const RestoreStep& s, size_t i) {
  RestoreDetails& d = s.d;
  const FileEntry& e = s.run.EntryTable[i];
  // A new name that is no name ("..", a name the run could not give) was
  // never given: the item is still under its old name.
  if (IsSingleName(e.OldName) && !IsSingleName(e.NewName) && !UnderMissingFolder(d, e.OldPath) &&
      IsRowsItemAt(s, WhereNow(d, e.OldPath) + e.OldName, EntryFor(s.undo, i))) {
    ++d.already_restored;
    return std::nullopt;
  }
  if (!IsSingleName(e.OldName) || !IsSingleName(e.NewName)) {
    d.failed.push_back(Utf16ToUtf8(e.NewPath + e.NewName) + " -> " +
                       Utf16ToUtf8(e.OldPath + e.OldName) + ": not a usable name");
    ReportNotRestored(s.reporter, s.is_file, e.NewPath + e.NewName, e.OldPath + e.OldName);
    d.rows_not_back.insert(i);
    return std::nullopt;
  }
  if (UnderMissingFolder(d, e.OldPath) || UnderMissingFolder(d, e.NewPath)) {
    ++d.unreachable;
    d.rows_not_back.insert(i);
    return std::nullopt;
  }
  if (std::optional<Pending> found = FindRenamed(s, i)) return found;
  const SharedText folder_now = WhereNow(d, e.NewPath);
  if (IsRowsItemAt(s, WhereNow(d, e.OldPath) + e.OldName, EntryFor(s.undo, i))) {
    ++d.already_restored;
    return std::nullopt;
  }
  d.missing.push_back(Utf16ToUtf8(folder_now + e.NewName));
  ReportMissing(s.reporter, s.is_file, folder_now + e.NewName);
  d.rows_not_back.insert(i);
  if (!s.is_file) d.folders_missing.insert(e.OldPath + e.OldName + u"/");
  return std::nullopt;
}

// The names that a stage's items have now, by folder, each under the
// folder's folding: a folder that holds ab.mp3 and AB.mp3 as one name finds
// an old name AB.mp3 held by the item now called ab.mp3. Each folder is
// looked at when first asked about.
class FoldedSources {
 public:
  FoldedSources(const std::vector<Pending>& pending, LibraryFolders& folders)
      : pending_(pending), folders_(folders) {}

  // Whether the folder `folder`, folding names, holds `name` as one of the
  // names the stage moves away.
  bool Holds(std::u16string_view folder, std::u16string_view name) {
    auto [it, added] = by_folder_.try_emplace(std::u16string(folder));
    Folder& f = it->second;
    if (added) {
      f.folding = folders_.Folding(Utf16ToUtf8(folder));
      for (const Pending& p : pending_) {
        if (f.folding.folds() && p.folder_now == folder) {
          f.keys.insert(FoldedName(p.source, f.folding));
        }
      }
    }
    return f.folding.folds() && f.keys.count(FoldedName(name, f.folding));
  }

 private:
  struct Folder {
    NameFolding folding;
    std::unordered_set<std::u16string> keys;
  };
  const std::vector<Pending>& pending_;
  LibraryFolders& folders_;
  std::unordered_map<std::u16string, Folder> by_folder_;
};

// The paths the stage's items have now (folder and name as one text), held
// as a sorted list of their hashes: a target that is one of them is free
// once its item has moved. A million files cost 16 MB here, where a set of
// the joined paths took ten times that.
class SourcePaths {
 public:
  explicit SourcePaths(const std::vector<Pending>& pending) : pending_(pending) {
    by_hash_.reserve(pending.size());
    for (size_t i = 0; i < pending.size(); ++i) {
      by_hash_.emplace_back(Hash(pending[i].folder_now, pending[i].source), i);
    }
    std::sort(by_hash_.begin(), by_hash_.end());
  }

  // Whether `folder` + `name` is the path of one of the items. A name holds
  // no "/" (the list check refuses a list with such a name) and a folder
  // ends in one, so the same path is the same folder and name.
  bool Holds(std::u16string_view folder, std::u16string_view name) const {
    const auto [from, to] =
        std::equal_range(by_hash_.begin(), by_hash_.end(), std::pair(Hash(folder, name), size_t{0}),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    return std::any_of(from, to, [&](const auto& entry) {
      const Pending& p = pending_[entry.second];
      return p.folder_now == folder && p.source == name;
    });
  }

 private:
  static uint64_t Hash(std::u16string_view folder, std::u16string_view name) {
    uint64_t hash = 14695981039346656037ull;
    for (std::u16string_view part : {folder, name}) {
      for (char16_t c : part) {
        hash ^= c;
        hash *= 1099511628211ull;
      }
    }
    return hash;
  }

  const std::vector<Pending>& pending_;
  std::vector<std::pair<uint64_t, size_t>> by_hash_;
};

// Turns the found items into planned moves. An old name held by something
// that does not move away in this stage is a conflict: the item stays where
// it is. An item of a hand-made list that moves between folders is renamed
// here, on its own. Returns how many came back that way.
int32_t PlanMoves(const RestoreStep& s, const std::vector<Pending>& pending,
                  std::vector<PlannedMove>& moves) {
  const SourcePaths sources(pending);
  FoldedSources folded(pending, s.folders);
  int32_t count = 0;
  for (const Pending& p : pending) {
    const FileEntry& e = s.run.EntryTable[p.row];
    const std::u16string now = p.folder_now + p.source;
    const std::u16string target = p.old_folder + e.OldName;
    PathInfo held = LookUp(target);
    if (held.exists && !sources.Holds(p.old_folder, e.OldName) && !held.SameEntryAs(LookUp(now)) &&
        !folded.Holds(p.old_folder, e.OldName)) {
      s.d.conflicts.push_back(Utf16ToUtf8(now) + " -> " + Utf16ToUtf8(target));
      ReportNotRestored(s.reporter, s.is_file, now, target);
      NotBack(s, p.row, now);
      continue;
    }
    if (p.folder_now == p.old_folder) {
      moves.push_back({p.row, p.folder_now, p.source, e.OldName});
      continue;
    }
    StageResult moved = RenameItem(s.folders, p.folder_now, p.source, p.old_folder, e.OldName);
    if (moved.ok()) {
      ++count;
    } else {
      s.d.failed.push_back(moved.message);
      ReportNotRestored(s.reporter, s.is_file, now, target);
      NotBack(s, p.row, now);
    }
  }
  return count;
}

// Restores the renames of `rows` (all files, or the folders of one depth) as
// one planned stage and returns how many came back.
int32_t RestoreRows(const RestoreStep& s, const std::vector<size_t>& rows) {
  std::vector<Pending> pending;
  int64_t looked_at = 0;
  for (size_t i : rows) {
    if (s.is_file) {
      ReportProgress(s.reporter, ProgressStage::kRestoreFiles, ++looked_at,
                     static_cast<int64_t>(rows.size()));
    }
    if (std::optional<Pending> p = ClassifyRow(s, i)) pending.push_back(std::move(*p));
  }
  std::vector<PlannedMove> moves;
  int32_t count = PlanMoves(s, pending, moves);
  ExecuteRenames(
      moves,
      PlanRenames(moves, FolderOrder::kShallowestFirst,
                  [&](const std::u16string& f) { return s.folders.Folding(Utf16ToUtf8(f)); }),
      /*stop_at_failure=*/false, [&](size_t) { ++count; },
      [&](size_t m, const std::string& reason) {
        const PlannedMove& move = moves[m];
        const std::u16string now = move.folder + move.from;
        const std::u16string target = move.folder + move.to;
        if (LookUp(target).exists) {
          s.d.conflicts.push_back(Utf16ToUtf8(now) + " -> " + Utf16ToUtf8(target));
        } else {
          s.d.failed.push_back(reason);
        }
        ReportNotRestored(s.reporter, s.is_file, now, target);
        NotBack(s, move.row, now);
      },
      s.folders);
  return count;
}

size_t Depth(std::u16string_view path) {
  return static_cast<size_t>(std::count(path.begin(), path.end(), u'/'));
}

}  // namespace

int32_t RestoreFolders(const Reporter& reporter, RunState& run, RestoreDetails& details,
                       const UndoRecord* undo, DiskOps& disk) {
  try {
    // Outermost first: a folder's parent has its old name again before the
    // folder itself is looked for.
    std::map<size_t, std::vector<size_t>> by_depth;
    const size_t last = LastIndex(run);
    for (size_t i = 1; i <= last; ++i) {
      ReportProgress(reporter, ProgressStage::kRestoreFolders, static_cast<int64_t>(i),
                     static_cast<int64_t>(last));
      const FileEntry& e = run.EntryTable[i];
      if (e.RenameFlag == 1 && e.IsFile == 0) by_depth[Depth(e.OldPath)].push_back(i);
    }
    int32_t count = 0;
    LibraryFolders folders(disk, LibraryFolderOf(run, u""));
    const RestoreStep step{reporter, run, details, undo, /*is_file=*/false, folders};
    for (const auto& [depth, rows] : by_depth) count += RestoreRows(step, rows);
    details.folders_restored = count;
    ReportCount(reporter, count, kFoldersRestored);
    return 1;
  } catch (const std::exception& ex) {
    details.error = std::string("unexpected error: ") + ex.what();
    return 0;
  }
}

int32_t RestoreFiles(const Reporter& reporter, RunState& run, RestoreDetails& details,
                     const UndoRecord* undo, DiskOps& disk) {
  try {
    std::vector<size_t> rows;
    const size_t last = LastIndex(run);
    for (size_t i = 1; i <= last; ++i) {
      const FileEntry& e = run.EntryTable[i];
      if (e.RenameFlag == 1 && e.IsFile == 1) rows.push_back(i);
    }
    LibraryFolders folders(disk, LibraryFolderOf(run, u""));
    const int32_t count =
        RestoreRows(RestoreStep{reporter, run, details, undo, /*is_file=*/true, folders}, rows);
    details.files_restored = count;
    ReportCount(reporter, count, kFilesRestored);
    return 1;
  } catch (const std::exception& ex) {
    details.error = std::string("unexpected error: ") + ex.what();
    return 0;
  }
}

namespace {

// Puts the row's old texts back into a file the undo record knows nothing
// of. A file that cannot hold a tag, one whose tag has those texts already,
// and one without a tag whose old texts are empty (a run would have given
// it one) are as they were: nothing is written.
bool RestoreTexts(DiskOps& disk, int dir_fd, const std::string& name, const FileEntry& e,
                  TagIoStatus& status) {
  ID3TagData tag;
  TagIoStatus read;
  const int32_t has_tag = ReadID3TagAt(dir_fd, name, tag, &read, nullptr, disk);
  if (read.error == TagIoError::kTooShort) return true;
  if (has_tag == 1 && tag.Title == e.OldTitle && tag.Artist == e.OldArtist &&
      tag.Album == e.OldAlbum) {
    return true;
  }
  if (read.error == TagIoError::kNoTag && e.OldTitle.empty() && e.OldArtist.empty() &&
      e.OldAlbum.empty()) {
    return true;
  }
  return UpdateID3TagTextsAt(dir_fd, name, e.OldTitle, e.OldArtist, e.OldAlbum,
                             /*make_writable=*/true, &status, nullptr, disk) == 1;
}

// Puts back the tag of row `i` (under its old name in `folder` + its old
// name): its record entry's bytes, mode and time, or its old texts. False,
// with the reason in `status`, when it cannot.
bool RestoreOneTag(LibraryFolders& folders, const FileEntry& e, std::u16string_view folder,
                   const UndoEntry* entry, TagIoStatus& status) {
  const int dir_fd = folders.Open(Utf16ToUtf8(folder));
  if (dir_fd < 0) {
    status.error = IsOutsideLibraryError(errno) ? TagIoError::kOutsideLibrary : TagIoError::kOpen;
    status.sys_errno = errno;
    return false;
  }
  const std::string name = Utf16ToUtf8(e.OldName);
  if (entry != nullptr && entry->has_block) {
    return RestoreFileAt(dir_fd, name, *entry, &status, folders.disk()) == 1;
  }
  return RestoreTexts(folders.disk(), dir_fd, name, e, status);
}

// Gives the folders the run renamed in their times back, now that the
// restore's own renames in them are done; one that cannot take it is
// reported in `d.skipped`.
void RestoreFolderTimes(const RunState& run, RestoreDetails& d, const UndoRecord* undo,
                        LibraryFolders& folders) {
  if (undo == nullptr) return;
  const size_t last = LastIndex(run);
  for (const FolderTime& time : undo->folder_times) {
    if (time.row == 0 || time.row > last) continue;
    const FileEntry& e = run.EntryTable[time.row];
    if (UnderMissingFolder(d, e.OldPath)) continue;
    const std::string folder = Utf16ToUtf8(WhereNow(d, e.OldPath));
    const int dir_fd = folders.Open(folder);
    UniqueFd fd;
    if (dir_fd >= 0) fd = folders.disk().OpenAt(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time.mtime.sec, time.mtime.nsec}};
    if (!fd || folders.disk().FUtimens(fd.get(), times) != 0) {
      d.skipped.push_back(
          folder + ": cannot set the folder's modification time back: " + std::strerror(errno));
    }
  }
}

}  // namespace

int32_t RestoreTags(const Reporter& reporter, RunState& run, RestoreDetails& details,
                    const UndoRecord* undo, DiskOps& disk) {
  try {
    int32_t count = 0;
    LibraryFolders folders(disk, LibraryFolderOf(run, u""));
    const size_t last = LastIndex(run);
    for (size_t i = 1; i <= last; ++i) {
      ReportProgress(reporter, ProgressStage::kRestoreTags, static_cast<int64_t>(i),
                     static_cast<int64_t>(last));
      const FileEntry& e = run.EntryTable[i];
      if (e.TagFlag != 1 || e.IsFile != 1) continue;
      // A file left under its new name, or not found, is reported already.
      if (details.rows_not_back.count(i)) continue;
      if (UnderMissingFolder(details, e.OldPath)) {
        ++details.unreachable;
        continue;
      }
      const SharedText folder = WhereNow(details, e.OldPath);
      const std::u16string path = folder + e.OldName;
      const UndoEntry* entry = EntryFor(undo, i);
      if (!IsSingleName(e.OldName) || !IsRowsItem(disk, path, LookUp(path), entry, true)) {
        details.skipped.push_back(Utf16ToUtf8(path) + ": the file of this row is not there");
        continue;
      }
      TagIoStatus status;
      if (RestoreOneTag(folders, e, folder, entry, status)) {
        ++count;
      } else {
        details.skipped.push_back(Utf16ToUtf8(path) + ": " + DescribeTagIoStatus(status));
      }
    }
    RestoreFolderTimes(run, details, undo, folders);
    details.tags_restored = count;
    ReportCount(reporter, count, kTagsRestored);
    return 1;
  } catch (const std::exception& ex) {
    details.error = std::string("unexpected error: ") + ex.what();
    return 0;
  }
}

void ReportAlreadyRestored(const Reporter& reporter, const RestoreDetails& details) {
  if (details.already_restored == 0) return;
  std::u16string text = DecimalText(details.already_restored) + std::u16string(kAlreadyRestored);
  Report(reporter, text + std::u16string(kCrLf), text);
}

}  // namespace tarvel
