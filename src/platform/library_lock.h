// One run per library: an advisory lock (flock) on the library folder
// itself, so that two runs or restores of the same library never mix their
// renames and lists, whichever program, user, path or mount (a bind mount,
// a link) they reach it by. A library also counts as busy while a run works
// on a folder above or below it, since their rows overlap. Where a folder
// cannot be opened for reading or its file system refuses flock on a folder
// (network file systems), a small lock file named after the folder's real
// path in the user's own lock folder stands in for it, which excludes only
// the same user's runs by that path.
#ifndef TARVEL_PLATFORM_LIBRARY_LOCK_H_
#define TARVEL_PLATFORM_LIBRARY_LOCK_H_

#include <filesystem>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace tarvel {

class LibraryLock {
 public:
  enum class Status {
    kTaken,   // the lock is held until Release or destruction
    kBusy,    // another holder works on this folder, one above or one below it
    kFailed,  // the folder can be locked neither itself nor through a lock file
  };

  LibraryLock() = default;
  ~LibraryLock() { Release(); }
  LibraryLock(LibraryLock&& other) noexcept : fds_(std::move(other.fds_)) { other.fds_.clear(); }
  LibraryLock& operator=(LibraryLock&& other) noexcept;
  LibraryLock(const LibraryLock&) = delete;
  LibraryLock& operator=(const LibraryLock&) = delete;

  // Takes the lock of `folder` (its real path where it exists): exclusive on
  // the folder itself, shared on every folder above it (a folder above that
  // can be locked neither way is passed over). Never waits. On kBusy and
  // kFailed nothing is held and `error` says why (UTF-8).
  Status Take(const std::filesystem::path& folder, std::string* error = nullptr);
  void Release();
  bool held() const { return !fds_.empty(); }

  // Where the lock files of folders that cannot be locked themselves go: $XDG_RUNTIME_DIR/tarvel
  // when that variable names an absolute folder, else the user's cache folder
  // ($XDG_CACHE_HOME or ~/.cache) + /tarvel.
  static std::filesystem::path LockFolder();
  // The lock file of one folder's real path.
  static std::filesystem::path LockFile(const std::filesystem::path& real_folder);

 private:
  std::vector<UniqueFd> fds_;
};

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_LIBRARY_LOCK_H_
