// The folders of a library opened from the library folder down, never
// through a symbolic link and never outside it, so that a folder replaced by
// a link after the scan cannot send a read, a tag write or a rename
// elsewhere.
#ifndef TARVEL_PLATFORM_LIBRARY_FOLDERS_H_
#define TARVEL_PLATFORM_LIBRARY_FOLDERS_H_

#include <string>
#include <unordered_map>

#include "platform/disk_ops.h"
#include "platform/name_folding.h"
#include "platform/unique_fd.h"

namespace tarvel {

// One object serves one thread; it keeps the folder last asked for open,
// since the rows of a folder follow each other.
class LibraryFolders {
 public:
  // `root` is the library folder (UTF-8, ending in "/"); it may itself be
  // reached through a link. It is opened at the first Open.
  LibraryFolders(DiskOps& disk, std::string root) : disk_(disk), root_path_(std::move(root)) {}

  // The open folder at `folder` (a path in or below the library, ending in
  // "/"), for use with the *at calls; -1 when it cannot be opened, with
  // errno saying why: EXDEV when `folder` is not below the library, ELOOP
  // when a link is in the way, ENOENT or ENOTDIR when it is gone.
  int Open(const std::string& folder);

  // How the folder at `folder` compares names (see name_folding.h), found
  // once per folder and kept; no folding when it cannot be opened.
  NameFolding Folding(const std::string& folder);

  const std::string& root() const { return root_path_; }
  DiskOps& disk() const { return disk_; }

 private:
  DiskOps& disk_;
  std::string root_path_;
  UniqueFd root_;
  int root_error_ = 0;
  bool root_tried_ = false;
  std::string path_;
  UniqueFd folder_;
  std::unordered_map<std::string, NameFolding> foldings_;
};

// True for the errno values by which LibraryFolders refuses a folder that a
// link or a path outside the library stands in for.
inline bool IsOutsideLibraryError(int error) { return error == ELOOP || error == EXDEV; }

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_LIBRARY_FOLDERS_H_
