// Renaming a file or folder without ever replacing what is already there.
#ifndef TARVEL_PLATFORM_RENAME_H_
#define TARVEL_PLATFORM_RENAME_H_

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/disk_ops.h"

namespace tarvel {

struct RenameResult {
  enum class Code {
    kOk,
    kSourceMissing,  // nothing at the old path
    kTargetExists,   // something else already has the new name
    kInvalidName,    // the new name is empty, ".", "..", or holds '/' or NUL
    kFailed,         // refused by the system (permissions, read-only medium, ...)
  };
  Code code = Code::kOk;
  int error = 0;        // errno of the failing call, when there was one
  std::string message;  // UTF-8, names both paths
  bool ok() const { return code == Code::kOk; }
};

// Renames `from` to `to` (the same folder or another on the same file
// system). Never replaces an existing entry: renameat2 with RENAME_NOREPLACE,
// or, where the file system refuses that flag, a lookup of the target first.
// A target that is the same file as the source (a case-only change on a
// case-insensitive file system such as FAT or exFAT) goes through a temporary
// name in the same folder, so it neither fails nor harms the file. Renaming a
// path to exactly itself succeeds and does nothing.
RenameResult RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// The same for the single names `from_name` and `to_name` in the open folder
// `dir_fd`, whose path `folder_shown` (ending in "/") messages put in front
// of the names.
// The calls go through `disk`.
RenameResult RenameNoReplaceAt(int dir_fd, const std::string& from_name, const std::string& to_name,
                               std::string_view folder_shown, DiskOps& disk = SystemDiskOps());

// The same from the open folder `from_dir` to the open folder `to_dir`
// (their paths, ending in "/", are `from_shown` and `to_shown`).
RenameResult RenameNoReplaceBetween(DiskOps& disk, int from_dir, const std::string& from_name,
                                    int to_dir, const std::string& to_name,
                                    std::string_view from_shown, std::string_view to_shown);

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_RENAME_H_
