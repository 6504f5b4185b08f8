// Owning a file descriptor or an open folder stream: closed when the owner
// goes, so that no early return can leak one.
#ifndef TARVEL_PLATFORM_UNIQUE_FD_H_
#define TARVEL_PLATFORM_UNIQUE_FD_H_

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tarvel {

// One open file descriptor (-1 for none). Move-only; the destructor closes
// it and ignores what close says, which is right for reads and for a
// descriptor given up on a failure. A write whose result counts is ended
// with Close(), which reports close's errno.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  explicit operator bool() const noexcept { return valid(); }

  // Gives the descriptor up without closing it.
  int release() noexcept { return std::exchange(fd_, -1); }
  // Closes the descriptor held (if any) and takes `fd` instead.
  void reset(int fd = -1) noexcept {
    const int old = std::exchange(fd_, fd);
    if (old >= 0) {
      const int saved = errno;  // a close on a failure path keeps the failure's errno
      ::close(old);
      errno = saved;
    }
  }
  // Closes the descriptor and returns 0, or the errno close gave (a write
  // that the file system refuses late, as NFS and full disks can). 0 when
  // none was held.
  int Close() noexcept {
    const int fd = release();
    if (fd < 0) return 0;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

// One open folder stream (from fdopendir), closed with closedir, which also
// closes the descriptor it was made from.
class UniqueDir {
 public:
  UniqueDir() = default;
  explicit UniqueDir(DIR* dir) noexcept : dir_(dir) {}
  ~UniqueDir() { reset(); }
  UniqueDir(UniqueDir&& other) noexcept : dir_(std::exchange(other.dir_, nullptr)) {}
  UniqueDir& operator=(UniqueDir&& other) noexcept {
    if (this != &other) reset(std::exchange(other.dir_, nullptr));
    return *this;
  }
  UniqueDir(const UniqueDir&) = delete;
  UniqueDir& operator=(const UniqueDir&) = delete;

  DIR* get() const noexcept { return dir_; }
  explicit operator bool() const noexcept { return dir_ != nullptr; }
  // The descriptor of the stream, -1 for none.
  int fd() const noexcept { return dir_ != nullptr ? ::dirfd(dir_) : -1; }
  void reset(DIR* dir = nullptr) noexcept {
    DIR* old = std::exchange(dir_, dir);
    if (old != nullptr) ::closedir(old);
  }

 private:
  DIR* dir_ = nullptr;
};

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_UNIQUE_FD_H_
