#include "platform/library_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/translatable.h"

namespace tarvel {
namespace {

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::filesystem::path AbsoluteEnvFolder(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return {};
  return std::filesystem::path(value);
}

// FNV-1a over the path's bytes: stable across runs and programs, which is
// all the name needs.
uint64_t PathHash(const std::string& bytes) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

// The folder as the file system knows it: symbolic links and "." / ".."
// resolved as far as the folder exists, so that two names of one library
// share a lock.
std::filesystem::path RealFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
  if (ec) absolute = folder;
  std::filesystem::path real = std::filesystem::weakly_canonical(absolute, ec);
  if (ec) real = absolute.lexically_normal();
  std::string text = real.native();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// flock without waiting, repeated when a signal came between; 0 or errno.
int FlockNow(int fd, int how) {
  int rc;
  do {
    rc = ::flock(fd, how | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

// How one folder of a library's chain was locked.
enum class FolderLock {
  kLocked,       // held through the descriptor given back
  kBusy,         // another holder's lock is in the way
  kNotLockable,  // the folder cannot be opened or its file system refuses
                 // flock on it; nothing is held
};

// Locks the folder itself: the lock belongs to the folder whatever path or
// mount it is reached by, and every user who can read it sees it.
FolderLock LockFolderItself(const std::filesystem::path& folder, bool exclusive, UniqueFd& fd) {
  fd = UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return FolderLock::kNotLockable;
  const int error = FlockNow(fd.get(), exclusive ? LOCK_EX : LOCK_SH);
  if (error == 0) return FolderLock::kLocked;
  fd.reset();
  // A network file system takes flock as a record lock, which a folder
  // opened for reading cannot hold (EBADF, ENOLCK).
  return error == EWOULDBLOCK ? FolderLock::kBusy : FolderLock::kNotLockable;
}

// The lock of a folder that cannot be locked itself: a lock file named
// after its real path in the user's own lock folder. It excludes only runs
// of the same user that reach the folder by the same path.
FolderLock LockThroughFile(const std::filesystem::path& real_folder, bool exclusive, UniqueFd& fd,
                           std::string* error) {
  std::error_code ec;
  const std::filesystem::path lock_folder = LibraryLock::LockFolder();
  std::filesystem::create_directories(lock_folder, ec);
  if (ec) {
    SetError(error,
             N_("cannot make the lock folder ") + lock_folder.native() + ": " + ec.message());
    return FolderLock::kNotLockable;
  }
  const std::filesystem::path file = LibraryLock::LockFile(real_folder);
  fd = UniqueFd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) {
    SetError(error, N_("cannot open the lock file ") + file.native() + ": " + std::strerror(errno));
    return FolderLock::kNotLockable;
  }
  const int saved = FlockNow(fd.get(), exclusive ? LOCK_EX : LOCK_SH);
  if (saved == 0) return FolderLock::kLocked;
  fd.reset();
  if (saved == EWOULDBLOCK) return FolderLock::kBusy;
  SetError(error, N_("cannot lock ") + file.native() + ": " + std::strerror(saved));
  return FolderLock::kNotLockable;
}

}  // namespace

LibraryLock& LibraryLock::operator=(LibraryLock&& other) noexcept {
  if (this != &other) {
    Release();
    fds_ = std::move(other.fds_);
    other.fds_.clear();
  }
  return *this;
}

std::filesystem::path LibraryLock::LockFolder() {
  std::filesystem::path runtime = AbsoluteEnvFolder("XDG_RUNTIME_DIR");
  if (!runtime.empty()) {
    struct stat st {};
    if (::stat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return runtime / "tarvel";
  }
  std::filesystem::path cache = AbsoluteEnvFolder("XDG_CACHE_HOME");
  if (cache.empty()) {
    std::filesystem::path home = AbsoluteEnvFolder("HOME");
    if (home.empty()) home = "/tmp";
    cache = home / ".cache";
  }
  return cache / "tarvel";
}

std::filesystem::path LibraryLock::LockFile(const std::filesystem::path& real_folder) {
  char name[40];
  std::snprintf(name, sizeof name, "library-%016llx.lock",
                static_cast<unsigned long long>(PathHash(real_folder.native())));
  return LockFolder() / name;
}

LibraryLock::Status LibraryLock::Take(const std::filesystem::path& folder, std::string* error) {
  Release();
  const std::filesystem::path real = RealFolder(folder);
  // The folder itself exclusively, each folder above it shared: runs on two
  // sibling folders go together, a run on a folder and one on a folder
  // inside it do not.
  std::vector<std::filesystem::path> chain;
  for (std::filesystem::path p = real; !p.empty(); p = p.parent_path()) {
    chain.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (size_t i = 0; i < chain.size(); ++i) {
    const bool exclusive = i == 0;
    UniqueFd fd;
    std::string why;
    FolderLock got = LockFolderItself(chain[i], exclusive, fd);
    if (got == FolderLock::kNotLockable) got = LockThroughFile(chain[i], exclusive, fd, &why);
    if (got == FolderLock::kBusy) {
      Release();
      SetError(error, exclusive ? N_("another run or restore is working on ") + real.native() +
                                      N_(" or a folder inside it")
                                : N_("another run or restore is working on ") + chain[i].native() +
                                      N_(", which holds ") + real.native());
      return Status::kBusy;
    }
    if (got == FolderLock::kLocked) {
      fds_.push_back(std::move(fd));
    } else if (exclusive) {
      // A folder above that can be locked neither way is passed over: it
      // only guards against a run on that folder as a whole.
      Release();
      SetError(error, why);
      return Status::kFailed;
    }
  }
  return Status::kTaken;
}

void LibraryLock::Release() { fds_.clear(); }

}  // namespace tarvel
