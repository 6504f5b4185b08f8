// The system calls that the file stages make on a library, behind one
// interface: the real calls in the programs, a fault-injecting stand-in in
// the tests, so that a test can make any one of them fail (on either thread
// of a stage) without a switch in the code that runs in production.
#ifndef TARVEL_PLATFORM_DISK_OPS_H_
#define TARVEL_PLATFORM_DISK_OPS_H_

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>

#include <cstddef>
#include <ctime>

#include "platform/unique_fd.h"

namespace tarvel {

// Each call behaves as the system call it is named after: on failure it
// returns -1 (an invalid UniqueFd for the opens) with errno set. Every
// implementation is safe to call from two threads at once.
class DiskOps {
 public:
  virtual ~DiskOps() = default;

  // openat(2).
  virtual UniqueFd OpenAt(int dir_fd, const char* path, int flags) = 0;
  // `path` below the open folder `dir_fd`, never leaving it and never
  // through a symbolic link anywhere in `path` (openat2 with RESOLVE_BENEATH
  // and RESOLVE_NO_SYMLINKS): ELOOP when a link is in the way, EXDEV when
  // the path climbs out. A kernel without openat2 gets openat with
  // O_NOFOLLOW, which guards the last part of the path only.
  virtual UniqueFd OpenBeneath(int dir_fd, const char* path, int flags) = 0;
  virtual ssize_t PRead(int fd, void* buffer, size_t size, off_t offset) = 0;
  virtual ssize_t PWrite(int fd, const void* buffer, size_t size, off_t offset) = 0;
  // renameat2(2); `flags` 0 is a plain renameat.
  virtual int RenameAt(int from_dir, const char* from, int to_dir, const char* to,
                       unsigned flags) = 0;
  virtual int FStat(int fd, struct stat* st) = 0;
  virtual int FStatAt(int dir_fd, const char* path, struct stat* st, int flags) = 0;
  virtual int FChmod(int fd, mode_t mode) = 0;
  // fchmodat(2) with no flags.
  virtual int FChmodAt(int dir_fd, const char* path, mode_t mode) = 0;
  virtual int FTruncate(int fd, off_t length) = 0;
  virtual int FSync(int fd) = 0;
  // fstatfs(2): which file system holds the open file or folder.
  virtual int FStatFs(int fd, struct statfs* st) = 0;
  // futimens(2): sets the times of an open file or folder.
  virtual int FUtimens(int fd, const struct timespec times[2]) = 0;
};

// The system's own calls. One instance serves the whole process; the front
// ends pass it to the runs (it is also the default of every stage).
DiskOps& SystemDiskOps();

// What an exact transfer did: `done` bytes, and the errno that stopped it
// (0 when it reached the end of the file first, or finished).
struct Transfer {
  size_t done = 0;
  int error = 0;
  size_t wanted = 0;
  bool ok() const { return done == wanted; }
};

// Reads exactly `size` bytes at `offset`, going on after EINTR and short
// reads; stops early at the end of the file or on an error.
Transfer ReadAt(DiskOps& disk, int fd, void* buffer, size_t size, off_t offset);
// Writes exactly `size` bytes at `offset`, going on after EINTR and short
// writes. A write that puts down nothing counts as a full disk (ENOSPC).
Transfer WriteAt(DiskOps& disk, int fd, const void* buffer, size_t size, off_t offset);

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_DISK_OPS_H_
