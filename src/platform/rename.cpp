#include "platform/rename.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/disk_ops.h"
#include "platform/name_folding.h"
#include "platform/text.h"
#include "platform/translatable.h"

namespace tarvel {
namespace {

std::string Shown(const std::filesystem::path& p) {
  return IsValidUtf8(p.native()) ? p.native() : EscapeBytes(p.native());
}

// The two paths as messages name them: a rename relative to an open folder
// is shown with that folder's path in front.
struct Shown2 {
  std::string_view folder;
  const std::filesystem::path& from;
  const std::filesystem::path& to;
  std::string_view to_folder;  // the target's folder, when it is another
};

RenameResult Fail(RenameResult::Code code, int err, const Shown2& shown, std::string_view what) {
  RenameResult r;
  r.code = code;
  r.error = err;
  const std::filesystem::path from = std::string(shown.folder) + shown.from.native();
  const std::filesystem::path to =
      std::string(shown.to_folder.empty() ? shown.folder : shown.to_folder) + shown.to.native();
  r.message = N_("cannot rename ") + Shown(from) + " to " + Shown(to) + ": " + std::string(what);
  if (err != 0) r.message += std::string(" (") + std::strerror(err) + ")";
  return r;
}

// The folders of a rename and the calls that reach them.
struct Place {
  DiskOps& disk;
  int from_dir;
  int to_dir;
};

// Calls `f(folder_fd, name)` for the folder that holds `path` (relative to
// `dir`) and its last name; false when that folder cannot be opened.
template <typename F>
bool InFolderOf(DiskOps& disk, int dir, const std::filesystem::path& path, F f) {
  if (!path.has_parent_path()) return f(dir, path.native());
  UniqueFd folder = disk.OpenAt(dir, path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (!folder) return false;
  return f(folder.get(), path.filename().native());
}

// Whether `a` and `b` are one entry: the same inode, or two spellings that
// their folder holds as one name. The second is what tells on a file system
// through FUSE, which may give each spelling an inode number of its own.
bool SameEntry(const Place& at, const std::filesystem::path& a, const std::filesystem::path& b) {
  struct stat sa {
  }, sb{};
  if (at.disk.FStatAt(at.from_dir, a.c_str(), &sa, AT_SYMLINK_NOFOLLOW) != 0 ||
      at.disk.FStatAt(at.to_dir, b.c_str(), &sb, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return true;
  if (at.from_dir != at.to_dir || a.parent_path() != b.parent_path()) return false;
  return InFolderOf(at.disk, at.from_dir, a, [&](int folder, const std::string& name) {
    const NameFolding folding = DetectNameFolding(at.disk, folder);
    return folding.folds() &&
           FoldedName(name, folding) == FoldedName(b.filename().native(), folding);
  });
}

// Whether something holds the name `p`. A lookup that finds something is
// checked against the folder's listing: a file system through FUSE keeps
// what a lookup found for a while, so a spelling of a name that has just
// moved away (song.mp3 after SONG.mp3 was renamed) still seems taken.
// Where the listing cannot be read, the lookup's answer stands.
bool Exists(DiskOps& disk, int dir, const std::filesystem::path& p) {
  struct stat st {};
  if (disk.FStatAt(dir, p.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno != ENOENT;
  bool listed = true;
  InFolderOf(disk, dir, p, [&](int folder, const std::string& name) {
    listed = ListsNameAs(disk, folder, name, kWidestFolding);
    return true;
  });
  return listed;
}

// One rename step that never replaces, from `from` in `from_dir` to `to` in
// `to_dir`; `use_flag` false falls back to a lookup first. Returns 0 or an
// errno value.
int RenameStep(DiskOps& disk, int from_dir, const std::filesystem::path& from, int to_dir,
               const std::filesystem::path& to, bool& use_flag) {
  if (use_flag) {
    if (disk.RenameAt(from_dir, from.c_str(), to_dir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    use_flag = false;  // this file system does not know the flag
  }
  if (Exists(disk, to_dir, to)) return EEXIST;
  if (disk.RenameAt(from_dir, from.c_str(), to_dir, to.c_str(), 0) == 0) return 0;
  return errno;
}

std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
  thread_local std::mt19937_64 rng{std::random_device{}()};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = ".tarvel-rename-";
  for (int i = 0; i < 10; ++i) name.push_back(kChars[rng() % (sizeof kChars - 1)]);
  return path.parent_path() / name;
}

bool IsValidName(const std::filesystem::path& to) {
  const std::string name = to.filename().native();
  return !name.empty() && name != "." && name != ".." && name.find('\0') == std::string::npos;
}

// A case-only change on a case-insensitive file system: the new name finds
// the old file itself. The file moves aside under a name of our own, then
// onto the new name.
RenameResult RenameThroughTemporary(const Place& at, const std::filesystem::path& from,
                                    const std::filesystem::path& to, const Shown2& shown,
                                    bool& use_flag) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::filesystem::path temp = TemporaryBeside(from);
    int err = RenameStep(at.disk, at.from_dir, from, at.from_dir, temp, use_flag);
    if (err == EEXIST) continue;
    if (err != 0) return Fail(RenameResult::Code::kFailed, err, shown, N_("refused"));
    err = RenameStep(at.disk, at.from_dir, temp, at.to_dir, to, use_flag);
    if (err == 0) return {};
    // Put it back where it was; the old name is free, as we just left it.
    bool flag = use_flag;
    RenameStep(at.disk, at.from_dir, temp, at.from_dir, from, flag);
    return Fail(err == EEXIST ? RenameResult::Code::kTargetExists : RenameResult::Code::kFailed,
                err, shown, N_("refused"));
  }
  return Fail(RenameResult::Code::kFailed, EEXIST, shown, N_("no free temporary name"));
}

RenameResult RenameIn(const Place& at, const std::filesystem::path& from,
                      const std::filesystem::path& to, const Shown2& shown) {
  if (!IsValidName(to) || !IsValidName(from)) {
    return Fail(RenameResult::Code::kInvalidName, 0, shown, N_("not a usable name"));
  }
  if (from == to && at.from_dir == at.to_dir) {
    struct stat st {};
    if (at.disk.FStatAt(at.from_dir, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return Fail(RenameResult::Code::kSourceMissing, errno, shown,
                  N_("the old name cannot be found"));
    }
    return {};
  }

  bool use_flag = true;
  int err = RenameStep(at.disk, at.from_dir, from, at.to_dir, to, use_flag);
  if (err == 0) return {};
  // The source is looked up only after a failure, to say why: a rename that
  // works needs no lookup of its own.
  struct stat st {};
  if (at.disk.FStatAt(at.from_dir, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
      (errno == ENOENT || errno == ENOTDIR)) {
    return Fail(RenameResult::Code::kSourceMissing, errno, shown,
                N_("the old name cannot be found"));
  }
  if (err != EEXIST) return Fail(RenameResult::Code::kFailed, err, shown, N_("refused"));
  if (!SameEntry(at, from, to)) {
    return Fail(RenameResult::Code::kTargetExists, EEXIST, shown, N_("the new name is taken"));
  }
  return RenameThroughTemporary(at, from, to, shown, use_flag);
}

}  // namespace

RenameResult RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  return RenameIn(Place{SystemDiskOps(), AT_FDCWD, AT_FDCWD}, from, to, Shown2{{}, from, to, {}});
}

RenameResult RenameNoReplaceAt(int dir_fd, const std::string& from_name, const std::string& to_name,
                               std::string_view folder_shown, DiskOps& disk) {
  const std::filesystem::path from = from_name, to = to_name;
  return RenameIn(Place{disk, dir_fd, dir_fd}, from, to, Shown2{folder_shown, from, to, {}});
}

RenameResult RenameNoReplaceBetween(DiskOps& disk, int from_dir, const std::string& from_name,
                                    int to_dir, const std::string& to_name,
                                    std::string_view from_shown, std::string_view to_shown) {
  const std::filesystem::path from = from_name, to = to_name;
  const Shown2 shown{from_shown, from, to, to_shown};
  return RenameIn(Place{disk, from_dir, to_dir}, from, to, shown);
}

}  // namespace tarvel
