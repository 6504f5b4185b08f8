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
  std::error_code ec;
  const std::filesystem::path lock_folder = LockFolder();
  std::filesystem::create_directories(lock_folder, ec);
  if (ec) {
    SetError(error, "cannot make the lock folder " + lock_folder.native() + ": " + ec.message());
    return Status::kFailed;
  }
  // The folder itself exclusively, each folder above it shared: runs on two
  // sibling folders go together, a run on a folder and one on a folder
  // inside it do not.
  std::vector<std::filesystem::path> chain;
  for (std::filesystem::path p = real; !p.empty(); p = p.parent_path()) {
    chain.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (size_t i = 0; i < chain.size(); ++i) {
    const std::filesystem::path file = LockFile(chain[i]);
    UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
      SetError(error, "cannot open the lock file " + file.native() + ": " + std::strerror(errno));
      Release();
      return Status::kFailed;
    }
    fds_.push_back(std::move(fd));
    const int locked = fds_.back().get();
    int how = (i == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
    int rc;
    do {
      rc = ::flock(locked, how);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      const int saved = errno;
      Release();
      if (saved == EWOULDBLOCK) {
        SetError(error, i == 0 ? "another run or restore is working on " + real.native() +
                                     " or a folder inside it"
                               : "another run or restore is working on " + chain[i].native() +
                                     ", which holds " + real.native());
        return Status::kBusy;
      }
      SetError(error, "cannot lock " + file.native() + ": " + std::strerror(saved));
      return Status::kFailed;
    }
  }
  return Status::kTaken;
}

void LibraryLock::Release() { fds_.clear(); }

}  // namespace tarvel
