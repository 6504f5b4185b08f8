#include "platform/rename.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/text.h"

namespace tarvel {
namespace {

std::string Shown(const std::filesystem::path& p) {
  return IsValidUtf8(p.native()) ? p.native() : EscapeBytes(p.native());
}

RenameResult Fail(RenameResult::Code code, int err, const std::filesystem::path& from,
                  const std::filesystem::path& to, std::string_view what) {
  RenameResult r;
  r.code = code;
  r.error = err;
  r.message = "cannot rename " + Shown(from) + " to " + Shown(to) + ": " + std::string(what);
  if (err != 0) r.message += std::string(" (") + std::strerror(err) + ")";
  return r;
}

bool SameEntry(const std::filesystem::path& a, const std::filesystem::path& b) {
  struct stat sa {
  }, sb{};
  if (::lstat(a.c_str(), &sa) != 0 || ::lstat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool Exists(const std::filesystem::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 || errno != ENOENT;
}

// One rename step that never replaces; `use_flag` false falls back to a
// lookup first. Returns 0 or an errno value.
int RenameStep(const std::filesystem::path& from, const std::filesystem::path& to, bool& use_flag) {
  if (use_flag) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    use_flag = false;  // this file system does not know the flag
  }
  if (Exists(to)) return EEXIST;
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  return errno;
}

std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
  static std::mt19937_64 rng{std::random_device{}()};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = ".tarvel-rename-";
  for (int i = 0; i < 10; ++i) name.push_back(kChars[rng() % (sizeof kChars - 1)]);
  return path.parent_path() / name;
}

bool IsValidName(const std::filesystem::path& to) {
  const std::string name = to.filename().native();
  return !name.empty() && name != "." && name != ".." &&
         name.find('\0') == std::string::npos;
}

}  // namespace

RenameResult RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (!IsValidName(to) || !IsValidName(from)) {
    return Fail(RenameResult::Code::kInvalidName, 0, from, to, "not a usable name");
  }
  if (from == to) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) {
      return Fail(RenameResult::Code::kSourceMissing, errno, from, to,
                  "the old name cannot be found");
    }
    return {};
  }

  bool use_flag = true;
  int err = RenameStep(from, to, use_flag);
  if (err == 0) return {};
  // The source is looked up only after a failure, to say why: a rename that
  // works needs no lookup of its own.
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
    return Fail(RenameResult::Code::kSourceMissing, errno, from, to,
                "the old name cannot be found");
  }
  if (err != EEXIST) return Fail(RenameResult::Code::kFailed, err, from, to, "refused");
  if (!SameEntry(from, to)) {
    return Fail(RenameResult::Code::kTargetExists, EEXIST, from, to, "the new name is taken");
  }
  // The new name finds the old file itself: a case-insensitive file system.
  // Move the file aside under a name of our own, then onto the new name.
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::filesystem::path temp = TemporaryBeside(from);
    err = RenameStep(from, temp, use_flag);
    if (err == EEXIST) continue;
    if (err != 0) return Fail(RenameResult::Code::kFailed, err, from, to, "refused");
    err = RenameStep(temp, to, use_flag);
    if (err == 0) return {};
    // Put it back where it was; the old name is free, as we just left it.
    bool flag = use_flag;
    RenameStep(temp, from, flag);
    return Fail(err == EEXIST ? RenameResult::Code::kTargetExists : RenameResult::Code::kFailed,
                err, from, to, "refused");
  }
  return Fail(RenameResult::Code::kFailed, EEXIST, from, to, "no free temporary name");
}

}  // namespace tarvel
