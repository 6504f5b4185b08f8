// A DiskOps for tests: the system's calls, except where a test has planted a
// fault (a call that fails, a write that stops part way as on a full disk,
// an action of the test's own just before a call) or asked for transfers in
// small pieces and interrupted calls. Safe to use from both threads of a
// stage.
#ifndef TARVEL_TESTS_SUPPORT_FAULT_DISK_OPS_H_
#define TARVEL_TESTS_SUPPORT_FAULT_DISK_OPS_H_

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/disk_ops.h"

namespace tarvel::testing {

// The kinds of call a fault can aim at. kChange stands for either call that
// starts a change on disk: an open for writing or a rename.
enum class DiskCall {
  kOpen,
  kOpenForWrite,
  kOpenBeneath,
  kRead,
  kWrite,
  kRename,
  kStat,
  kChmod,
  kTruncate,
  kSync,
  kStatFs,
  kTimes,
  kChange
};

// A test names only the members of a fault that matter to it
// ({.call = DiskCall::kWrite, .name = victim}); GCC 12 warns about every
// member such a designated initializer leaves at its default, in every file
// that builds one, so the warning is off from here on in those files.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

struct DiskFault {
  DiskCall call = DiskCall::kChange;
  // The matching call it hits, counting from 1; 0 hits every matching call.
  int nth = 1;
  // Only calls on a name containing this (for a call on a descriptor, the
  // name it was opened by); empty for any.
  std::string name;
  // The errno the call fails with; 0 lets it go through.
  int error = EIO;
  // For kWrite: the call writes this many bytes and succeeds, and the next
  // write on that descriptor fails with ENOSPC, as a disk that fills up.
  long partial = -1;
  // Run just before the call, on the thread that makes it.
  std::function<void()> before;
};

class FaultDiskOps final : public DiskOps {
 public:
  void Add(DiskFault fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back({std::move(fault), 0});
  }
  // Reads and writes move at most this many bytes per call (0: no limit).
  void set_max_transfer(size_t bytes) { max_transfer_ = bytes; }
  // Every other read and write fails with EINTR before it goes through.
  void set_interrupt(bool on) { interrupt_ = on; }
  // How many calls of each kind were made.
  int count(DiskCall call) {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[call];
  }

  UniqueFd OpenAt(int dir_fd, const char* path, int flags) override {
    const DiskCall call =
        (flags & (O_RDWR | O_WRONLY)) != 0 ? DiskCall::kOpenForWrite : DiskCall::kOpen;
    if (Hit(call, path)) return UniqueFd();
    return Named(system_.OpenAt(dir_fd, path, flags), path);
  }
  UniqueFd OpenBeneath(int dir_fd, const char* path, int flags) override {
    if (Hit(DiskCall::kOpenBeneath, path)) return UniqueFd();
    return Named(system_.OpenBeneath(dir_fd, path, flags), path);
  }
  ssize_t PRead(int fd, void* buffer, size_t size, off_t offset) override {
    if (Hit(DiskCall::kRead, NameOf(fd)) || Interrupted()) return -1;
    return system_.PRead(fd, buffer, Limit(size), offset);
  }
  ssize_t PWrite(int fd, const void* buffer, size_t size, off_t offset) override {
    long partial = -1;
    if (Hit(DiskCall::kWrite, NameOf(fd), fd, &partial) || Interrupted()) return -1;
    if (partial >= 0) return system_.PWrite(fd, buffer, std::min(size, size_t(partial)), offset);
    return system_.PWrite(fd, buffer, Limit(size), offset);
  }
  int RenameAt(int from_dir, const char* from, int to_dir, const char* to,
               unsigned flags) override {
    if (Hit(DiskCall::kRename, from)) return -1;
    return system_.RenameAt(from_dir, from, to_dir, to, flags);
  }
  int FStat(int fd, struct stat* st) override {
    return Hit(DiskCall::kStat, NameOf(fd)) ? -1 : system_.FStat(fd, st);
  }
  int FStatAt(int dir_fd, const char* path, struct stat* st, int flags) override {
    return Hit(DiskCall::kStat, path) ? -1 : system_.FStatAt(dir_fd, path, st, flags);
  }
  int FChmod(int fd, mode_t mode) override {
    return Hit(DiskCall::kChmod, NameOf(fd)) ? -1 : system_.FChmod(fd, mode);
  }
  int FChmodAt(int dir_fd, const char* path, mode_t mode) override {
    return Hit(DiskCall::kChmod, path) ? -1 : system_.FChmodAt(dir_fd, path, mode);
  }
  int FTruncate(int fd, off_t length) override {
    return Hit(DiskCall::kTruncate, NameOf(fd)) ? -1 : system_.FTruncate(fd, length);
  }
  int FSync(int fd) override { return Hit(DiskCall::kSync, NameOf(fd)) ? -1 : system_.FSync(fd); }
  int FStatFs(int fd, struct statfs* st) override {
    return Hit(DiskCall::kStatFs, NameOf(fd)) ? -1 : system_.FStatFs(fd, st);
  }
  int FUtimens(int fd, const struct timespec times[2]) override {
    return Hit(DiskCall::kTimes, NameOf(fd)) ? -1 : system_.FUtimens(fd, times);
  }

 private:
  struct Planted {
    DiskFault fault;
    int seen;
  };

  static bool Matches(DiskCall aimed, DiskCall call) {
    return aimed == call || (aimed == DiskCall::kChange &&
                             (call == DiskCall::kOpenForWrite || call == DiskCall::kRename));
  }

  // Counts the call and applies the faults aimed at it: true (errno set)
  // when it is to fail. `partial` receives a partial write's length.
  bool Hit(DiskCall call, const std::string& name, int fd = -1, long* partial = nullptr) {
    std::vector<std::function<void()>> actions;
    int error = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++counts_[call];
      if (fd >= 0 && full_.erase(fd) > 0) error = ENOSPC;
      for (Planted& p : faults_) {
        if (error != 0) break;
        if (!Matches(p.fault.call, call)) continue;
        if (!p.fault.name.empty() && name.find(p.fault.name) == std::string::npos) continue;
        ++p.seen;
        if (p.fault.nth != 0 && p.seen != p.fault.nth) continue;
        if (p.fault.before) actions.push_back(p.fault.before);
        if (p.fault.partial >= 0 && partial != nullptr) {
          *partial = p.fault.partial;
          full_[fd] = true;
        } else {
          error = p.fault.error;
        }
      }
    }
    for (const auto& action : actions) action();
    if (error == 0) return false;
    errno = error;
    return true;
  }

  bool Interrupted() {
    if (!interrupt_) return false;
    if (interrupt_turn_.fetch_xor(1) != 0) return false;
    errno = EINTR;
    return true;
  }

  size_t Limit(size_t size) const {
    const size_t most = max_transfer_;
    return most != 0 && size > most ? most : size;
  }

  UniqueFd Named(UniqueFd fd, const char* path) {
    if (fd) {
      std::lock_guard<std::mutex> lock(mutex_);
      names_[fd.get()] = path;
    }
    return fd;
  }

  std::string NameOf(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = names_.find(fd);
    return it == names_.end() ? std::string() : it->second;
  }

  DiskOps& system_ = SystemDiskOps();
  std::mutex mutex_;
  std::vector<Planted> faults_;
  std::map<DiskCall, int> counts_;
  std::map<int, std::string> names_;  // by descriptor, the name it was opened by
  std::map<int, bool> full_;          // descriptors whose next write fails as a full disk
  std::atomic<size_t> max_transfer_{0};
  std::atomic<bool> interrupt_{false};
  std::atomic<int> interrupt_turn_{0};
};

}  // namespace tarvel::testing

#endif  // TARVEL_TESTS_SUPPORT_FAULT_DISK_OPS_H_
