#include "files/preflight.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "files/file_stage.h"
#include "platform/library_folders.h"
#include "platform/name_folding.h"
#include "platform/text.h"
#include "platform/translatable.h"
#include "platform/two_threads.h"

namespace tarvel {
namespace {

// Which entry a file or folder is.
struct EntryId {
  uint64_t dev = 0;
  uint64_t ino = 0;
  bool operator==(const EntryId&) const = default;
};
struct EntryIdHash {
  size_t operator()(const EntryId& id) const noexcept {
    return std::hash<uint64_t>{}(id.ino * 1099511628211ull ^ id.dev);
  }
};
EntryId IdOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

std::string PathOf(const FileEntry& e) { return Utf16ToUtf8(e.OldPath + e.OldName); }

std::string WithErrno(std::string text, int error) {
  if (error != 0) text += std::string(" (") + std::strerror(error) + ")";
  return text;
}

PreflightRefusal Refusal(PreflightCode code, size_t row, std::string detail, int error = 0) {
  PreflightRefusal r;
  r.code = code;
  r.row = row;
  r.sys_errno = error;
  r.detail = WithErrno(std::move(detail), error);
  return r;
}

// Keeps in `first` whichever of it and `found` comes first in the table.
void Keep(PreflightRefusal& first, PreflightRefusal found) {
  if (!found.ok() && (first.ok() || found.row < first.row)) first = std::move(found);
}

// Looks at the entry OldPath + OldName of `e` without following a link.
// kOk with `st` filled, else the refusal that says why it cannot be reached.
PreflightRefusal LookAtRow(LibraryFolders& folders, const FileEntry& e, size_t row,
                           struct stat& st) {
  const int dir = folders.Open(Utf16ToUtf8(e.OldPath));
  if (dir < 0) {
    const int error = errno;
    const bool gone = error == ENOENT || error == ENOTDIR;
    return Refusal(
        gone ? PreflightCode::kMissing : PreflightCode::kUnreachable, row,
        PathOf(e) + (gone ? ": its folder is not there"
                          : ": its folder cannot be opened or is reached through a link"),
        error);
  }
  if (!IsSingleName(e.OldName)) {
    return Refusal(PreflightCode::kUnusableName, row, PathOf(e) + ": not a usable name");
  }
  if (folders.disk().FStatAt(dir, Utf16ToUtf8(e.OldName).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return Refusal(PreflightCode::kMissing, row, PathOf(e) + ": not there", errno);
  }
  const bool right_kind = e.IsFile == 1 ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode);
  if (!right_kind) {
    return Refusal(
        PreflightCode::kMissing, row,
        PathOf(e) + (e.IsFile == 1 ? ": no longer a plain file" : ": no longer a folder"));
  }
  return {};
}

// True when rows `a` and `b` name one file now: the same entry under both
// names, which it can only be with a link count above 1.
bool SameFileNow(const RunState& run, size_t a, size_t b, LibraryFolders& folders) {
  struct stat sa, sb;
  return LookAtRow(folders, run.EntryTable[a], a, sa).ok() &&
         LookAtRow(folders, run.EntryTable[b], b, sb).ok() && IdOf(sa) == IdOf(sb) &&
         sb.st_nlink > 1;
}

}  // namespace

TagPlan SettleTagWrites(RunState& run, std::string_view library, DiskOps& disk) {
  TagPlan plan;
  LibraryFolders folders(disk, std::string(library));
  LibraryFolders second_look(disk, std::string(library));
  std::unordered_map<EntryId, size_t, EntryIdHash> writer;  // the first row of each file
  const DiskEntryRows& found = run.FoundOnDisk;
  auto next_found = found.begin();
  const size_t last = LastIndex(run);
  for (size_t i = 1; i <= last; ++i) {
    FileEntry& e = run.EntryTable[i];
    if (e.TagFlag != 1 || e.IsFile != 1) continue;
    while (next_found != found.end() && next_found->first < i) ++next_found;
    uint64_t size = 0;
    EntryId id;
    if (next_found != found.end() && next_found->first == i && next_found->second.is_file &&
        next_found->second.has_block) {
      // What the scan read; a change since is the tag stage's to find.
      size = next_found->second.size;
      id = {next_found->second.dev, next_found->second.ino};
    } else {
      struct stat st;
      plan.refusal = LookAtRow(folders, e, i, st);
      if (!plan.refusal.ok()) return plan;
      size = static_cast<uint64_t>(st.st_size);
      id = IdOf(st);
    }
    if (size < TagBytes::kSize) {
      e.TagFlag = 0;
      plan.skipped.push_back({i, TagSkip::Reason::kTooShort, 0, size});
      continue;
    }
    auto [first, added] = writer.emplace(id, i);
    if (!added && SameFileNow(run, first->second, i, second_look)) {
      e.TagFlag = 0;
      plan.skipped.push_back({i, TagSkip::Reason::kSameFile, first->second, size});
    }
  }
  return plan;
}

namespace {

// What one rename stage does in one folder: its rows, the entries it moves
// away by name and by device and inode (looked at only once a new name is
// found held: mostly none is), and the new names it gives, with their rows.
// Names are UTF-8.
struct StageNames {
  const std::vector<size_t>* rows = nullptr;
  bool looked = false;
  std::unordered_set<std::string> leaving_names;
  // The same names as the folder holds them, where it holds several
  // spellings as one name (an exFAT stick).
  NameFolding folding;
  std::unordered_set<std::string> leaving_folded;
  std::unordered_set<EntryId, EntryIdHash> leaving;
  std::unordered_map<std::string, size_t> arriving;
};

// True when the stage of `names` moves away the entry that `to` finds, as
// `st` says: the entry called `to` itself, or, on a file system that finds
// it under another case, the same entry under its own name (by its name as
// the folder folds it: through FUSE each spelling may get an inode number
// of its own). A file with a second name (a hard link) is not taken for it:
// that name stays.
bool Leaves(const RunState& run, StageNames& names, LibraryFolders& folders, const std::string& to,
            const struct stat& st) {
  if (!names.looked) {
    names.looked = true;
    if (!names.rows->empty()) {
      names.folding = folders.Folding(Utf16ToUtf8(run.EntryTable[names.rows->front()].OldPath));
    }
    for (size_t i : *names.rows) {
      const std::string old_name = Utf16ToUtf8(run.EntryTable[i].OldName);
      if (names.folding.folds()) names.leaving_folded.insert(FoldedName(old_name, names.folding));
      names.leaving_names.insert(old_name);
      struct stat from;
      if (LookAtRow(folders, run.EntryTable[i], i, from).ok()) names.leaving.insert(IdOf(from));
    }
  }
  if (names.leaving_names.count(to) != 0) return true;
  if (!S_ISDIR(st.st_mode) && st.st_nlink > 1) return false;
  if (names.folding.folds() && names.leaving_folded.count(FoldedName(to, names.folding)) != 0) {
    return true;
  }
  return names.leaving.count(IdOf(st)) != 0;
}

// The rows of one folder whose names change, by kind, in table order.
struct FolderMoves {
  std::u16string_view folder;
  std::vector<size_t> files;
  std::vector<size_t> folders;
};

// The first row of a folder's moves (it has at least one).
size_t FirstRow(const FolderMoves& moves) {
  if (moves.files.empty()) return moves.folders.front();
  if (moves.folders.empty()) return moves.files.front();
  return std::min(moves.files.front(), moves.folders.front());
}

// Checks one new name in the open folder `dir`: its length, a second row
// that wants it, and what holds it now. `before` is the file stage of the
// same folder when `names` is its folder stage.
PreflightRefusal CheckNewName(const RunState& run, size_t i, int dir, long name_max,
                              StageNames& names, StageNames* before, LibraryFolders& folders) {
  const FileEntry& e = run.EntryTable[i];
  const std::string to = Utf16ToUtf8(e.NewName);
  const std::string shown = PathOf(e) + " to " + to;
  struct stat st;
  const bool held = folders.disk().FStatAt(dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if ((name_max > 0 && to.size() > static_cast<size_t>(name_max)) ||
      (!held && errno == ENAMETOOLONG)) {
    PreflightRefusal r = Refusal(PreflightCode::kNameTooLong, i, "");
    r.name_bytes = to.size();
    r.name_max = name_max > 0 ? static_cast<uint64_t>(name_max) : 0;
    r.detail = N_("cannot rename ") + shown + ": the new name is " + std::to_string(to.size()) +
               " bytes long, more than the " +
               (name_max > 0 ? std::to_string(name_max) : std::string("unknown number of")) +
               " bytes its file system allows; limit the length of names "
               "(FlagLimit30Char=1, LengthName)";
    return r;
  }
  auto [other, added] = names.arriving.emplace(to, i);
  std::optional<size_t> twice;
  if (!added) twice = other->second;
  if (auto file = before ? before->arriving.find(to) : names.arriving.end();
      before != nullptr && file != before->arriving.end()) {
    twice = file->second;
  }
  if (twice) {
    PreflightRefusal r = Refusal(PreflightCode::kSameNewName, i,
                                 N_("cannot rename ") + shown + ": " +
                                     PathOf(run.EntryTable[*twice]) + " gets that name too");
    r.other_row = *twice;
    return r;
  }
  if (held && !Leaves(run, names, folders, to, st) &&
      (before == nullptr || !Leaves(run, *before, folders, to, st))) {
    return Refusal(PreflightCode::kTaken, i,
                   N_("cannot rename ") + shown + N_(": the new name is taken by something else"));
  }
  return {};
}

// Checks the moves of one stage in the open folder `dir`, filling `names`.
void CheckStage(const RunState& run, const std::vector<size_t>& rows, int dir, long name_max,
                LibraryFolders& folders, StageNames& names, StageNames* before,
                PreflightRefusal& first) {
  names.rows = &rows;
  for (size_t i : rows) Keep(first, CheckNewName(run, i, dir, name_max, names, before, folders));
}

void CheckFolder(const RunState& run, const FolderMoves& moves, LibraryFolders& folders,
                 PreflightRefusal& first) {
  const int dir = folders.Open(Utf16ToUtf8(moves.folder));
  if (dir < 0) {
    const int error = errno;
    const bool gone = error == ENOENT || error == ENOTDIR;
    Keep(first,
         Refusal(gone ? PreflightCode::kMissing : PreflightCode::kUnreachable, FirstRow(moves),
                 Utf16ToUtf8(moves.folder) +
                     (gone ? ": not there" : ": cannot be opened, or is reached through a link"),
                 error));
    return;
  }
  // The limit of the file system that holds the folder (for most 255 bytes;
  // 1530 for exFAT and FAT, which count 255 UTF-16 units).
  errno = 0;
  const long name_max = ::fpathconf(dir, _PC_NAME_MAX);
  StageNames file_stage, folder_stage;
  CheckStage(run, moves.files, dir, name_max, folders, file_stage, nullptr, first);
  // The folder stage comes after every file has its new name.
  CheckStage(run, moves.folders, dir, name_max, folders, folder_stage, &file_stage, first);
}

}  // namespace

PreflightRefusal CheckRenames(const RunState& run, std::string_view library, DiskOps& disk) {
  PreflightRefusal first;
  std::vector<FolderMoves> moves;
  std::unordered_map<std::u16string_view, size_t> folder_index;
  const size_t last = LastIndex(run);
  for (size_t i = 1; i <= last; ++i) {
    const FileEntry& e = run.EntryTable[i];
    if (e.RenameFlag != 1) continue;
    if (e.NewPath != e.OldPath || !IsSingleName(e.OldName) || !IsSingleName(e.NewName)) {
      Keep(first, Refusal(PreflightCode::kUnusableName, i,
                          N_("cannot rename ") + PathOf(e) + " to " +
                              Utf16ToUtf8(e.NewPath + e.NewName) + ": not a usable name"));
      break;
    }
    if (e.NewName == e.OldName) continue;
    auto [at, added] = folder_index.emplace(std::u16string_view(e.OldPath), moves.size());
    if (added) moves.push_back({std::u16string_view(e.OldPath), {}, {}});
    (e.IsFile == 1 ? moves[at->second].files : moves[at->second].folders).push_back(i);
  }
  // The folders [from, to) of `moves`, each thread with folders of its own.
  auto check = [&](size_t from, size_t to, PreflightRefusal& found) {
    LibraryFolders folders(disk, std::string(library));
    for (size_t k = from; k < to; ++k) {
      // Nothing in a folder whose rows all come later can come before what
      // was found.
      if (!found.ok() && FirstRow(moves[k]) > found.row) continue;
      CheckFolder(run, moves[k], folders, found);
    }
  };
  // A large run's folders are looked at in two halves (by their rows), one
  // on a second thread; the refusal that comes first in the table counts.
  size_t rows = 0;
  for (const FolderMoves& folder : moves) rows += folder.files.size() + folder.folders.size();
  size_t mid = 0;
  for (size_t half = 0; mid < moves.size() && half < rows / 2; ++mid) {
    half += moves[mid].files.size() + moves[mid].folders.size();
  }
  if (!SecondThreadPays(rows) || mid == moves.size()) {
    check(0, moves.size(), first);
    return first;
  }
  PreflightRefusal second;
  RunInTwoParts([&] { check(0, mid, first); }, [&] { check(mid, moves.size(), second); }, nullptr);
  Keep(first, std::move(second));
  return first;
}

}  // namespace tarvel
