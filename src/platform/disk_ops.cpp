#include "platform/disk_ops.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace tarvel {
namespace {

class SystemOps final : public DiskOps {
 public:
  UniqueFd OpenAt(int dir_fd, const char* path, int flags) override {
    return UniqueFd(::openat(dir_fd, path, flags));
  }
  UniqueFd OpenBeneath(int dir_fd, const char* path, int flags) override {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
    const long fd = ::syscall(SYS_openat2, dir_fd, path, &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS) return UniqueFd(static_cast<int>(fd));
    // An older kernel: at least the last part of the path is no link.
    return UniqueFd(::openat(dir_fd, path, flags | O_NOFOLLOW));
  }
  ssize_t PRead(int fd, void* buffer, size_t size, off_t offset) override {
    return ::pread(fd, buffer, size, offset);
  }
  ssize_t PWrite(int fd, const void* buffer, size_t size, off_t offset) override {
    return ::pwrite(fd, buffer, size, offset);
  }
  int RenameAt(int from_dir, const char* from, int to_dir, const char* to,
               unsigned flags) override {
    if (flags == 0) return ::renameat(from_dir, from, to_dir, to);
    return ::renameat2(from_dir, from, to_dir, to, flags);
  }
  int FStat(int fd, struct stat* st) override { return ::fstat(fd, st); }
  int FStatAt(int dir_fd, const char* path, struct stat* st, int flags) override {
    return ::fstatat(dir_fd, path, st, flags);
  }
  int FChmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
  int FChmodAt(int dir_fd, const char* path, mode_t mode) override {
    return ::fchmodat(dir_fd, path, mode, 0);
  }
  int FTruncate(int fd, off_t length) override { return ::ftruncate(fd, length); }
  int FSync(int fd) override { return ::fsync(fd); }
  int FStatFs(int fd, struct statfs* st) override { return ::fstatfs(fd, st); }
  int FUtimens(int fd, const struct timespec times[2]) override { return ::futimens(fd, times); }
};

}  // namespace

DiskOps& SystemDiskOps() {
  static SystemOps ops;
  return ops;
}

Transfer ReadAt(DiskOps& disk, int fd, void* buffer, size_t size, off_t offset) {
  Transfer t;
  t.wanted = size;
  auto* bytes = static_cast<char*>(buffer);
  while (t.done < size) {
    const ssize_t n =
        disk.PRead(fd, bytes + t.done, size - t.done, offset + static_cast<off_t>(t.done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      t.error = errno;
      break;
    }
    if (n == 0) break;  // the end of the file
    t.done += static_cast<size_t>(n);
  }
  return t;
}

Transfer WriteAt(DiskOps& disk, int fd, const void* buffer, size_t size, off_t offset) {
  Transfer t;
  t.wanted = size;
  const auto* bytes = static_cast<const char*>(buffer);
  while (t.done < size) {
    const ssize_t n =
        disk.PWrite(fd, bytes + t.done, size - t.done, offset + static_cast<off_t>(t.done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      t.error = n < 0 ? errno : ENOSPC;
      break;
    }
    t.done += static_cast<size_t>(n);
  }
  return t;
}

}  // namespace tarvel
