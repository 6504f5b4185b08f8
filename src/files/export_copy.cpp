#include "files/export_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tarvel {
namespace {

// The bytes moved per call when the kernel cannot copy by itself.
constexpr size_t kCopyChunk = size_t{1} << 20;
// The most bytes compared at the end of a copy that is already there.
constexpr size_t kLastBytes = TagBytes::kSize;

// `what` happened to the copy of `job`: a message naming both files.
bool Fail(std::string* error, const std::string& what, const ExportFileJob& job, int err) {
  if (error != nullptr) {
    *error = what + " " + job.target_name + " (the copy of " + job.source + ")";
    if (err != 0) *error += std::string(": ") + std::strerror(err);
  }
  return false;
}

// The kernel's copy, as far as it goes: false when it cannot be used at all
// (another file system, no support), with nothing copied.
bool KernelCopy(int in, int out, uint64_t size, Transfer& t) {
  loff_t in_offset = 0;
  loff_t out_offset = 0;
  while (t.done < size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size - t.done, size_t{1} << 30));
    const ssize_t n = ::copy_file_range(in, &in_offset, out, &out_offset, want, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && t.done == 0 &&
        (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
         errno == EPERM)) {
      return false;
    }
    if (n < 0) {
      t.error = errno;
      return true;
    }
    if (n == 0) return true;  // the source ended early
    t.done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string ExportPartName(size_t n) {
  return std::string(kExportPartPrefix) + std::to_string(::getpid()) + "-" + std::to_string(n);
}

UniqueFd OpenExportSource(DiskOps& disk, int dir_fd, const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  UniqueFd fd = disk.OpenBeneath(dir_fd, path.c_str(), kFlags | O_NOATIME);
  if (!fd && errno == EPERM) fd = disk.OpenBeneath(dir_fd, path.c_str(), kFlags);
  return fd;
}

Transfer CopyFileBytes(DiskOps& disk, int in, int out, uint64_t size, bool kernel_copy) {
  Transfer t;
  t.wanted = static_cast<size_t>(size);
  if (size == 0 || (kernel_copy && KernelCopy(in, out, size, t))) return t;
  std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(size, kCopyChunk)));
  while (t.done < size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size - t.done, buffer.size()));
    const off_t at = static_cast<off_t>(t.done);
    const Transfer read = ReadAt(disk, in, buffer.data(), want, at);
    if (read.done > 0) {
      const Transfer written = WriteAt(disk, out, buffer.data(), read.done, at);
      t.done += written.done;
      if (!written.ok()) {
        t.error = written.error;
        break;
      }
    }
    if (!read.ok()) {
      t.error = read.error;
      break;
    }
  }
  return t;
}

bool WriteExportPart(DiskOps& disk, const ExportFileJob& job, bool kernel_copy, ExportPart& part,
                     std::string* error) {
  UniqueFd in = OpenExportSource(disk, job.source_dir_fd, job.source);
  struct stat st {};
  if (!in || disk.FStat(in.get(), &st) != 0) {
    return Fail(error, "cannot read the source of", job, errno);
  }
  if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != job.source_size) {
    return Fail(error, "the source has changed since the export was planned:", job, 0);
  }
  // The part is made afresh: one left over has been removed at the start.
  part.fd = UniqueFd(::openat(job.target_dir_fd, part.name.c_str(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!part.fd) return Fail(error, "cannot create a file beside", job, errno);
  const Transfer audio = CopyFileBytes(disk, in.get(), part.fd.get(), job.audio_size, kernel_copy);
  bool ok = audio.ok() || Fail(error, "cannot copy", job, audio.error ? audio.error : EIO);
  if (ok && !job.tag.empty()) {
    const Transfer tag = WriteAt(disk, part.fd.get(), job.tag.data(), job.tag.size(),
                                 static_cast<off_t>(job.audio_size));
    ok = tag.ok() || Fail(error, "cannot write the tag of", job, tag.error);
  }
  if (!ok) {
    DropExportPart(job, part);
    return false;
  }
  // The data starts on its way to the disk now, so that the flush before
  // the rename finds it written or nearly so.
  ::sync_file_range(part.fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  return true;
}

bool FinishExportPart(DiskOps& disk, const ExportFileJob& job, ExportPart& part, std::string* error,
                      bool flush) {
  bool ok = !flush || disk.FSync(part.fd.get()) == 0 || Fail(error, "cannot write", job, errno);
  if (ok) {
    const int err = part.fd.Close();
    if (err != 0) ok = Fail(error, "cannot write", job, err);
  }
  if (ok && disk.RenameAt(job.target_dir_fd, part.name.c_str(), job.target_dir_fd,
                          job.target_name.c_str(), 0) != 0) {
    ok = Fail(error, "cannot put in place", job, errno);
  }
  if (!ok) DropExportPart(job, part);
  return ok;
}

void DropExportPart(const ExportFileJob& job, ExportPart& part) {
  part.fd.Close();
  ::unlinkat(job.target_dir_fd, part.name.c_str(), 0);
}

bool WriteExportFile(DiskOps& disk, const ExportFileJob& job, bool kernel_copy,
                     std::string* error) {
  ExportPart part{ExportPartName(0), UniqueFd()};
  return WriteExportPart(disk, job, kernel_copy, part, error) &&
         FinishExportPart(disk, job, part, error);
}

bool ExportFileInPlace(DiskOps& disk, const ExportFileJob& job) {
  UniqueFd copy = disk.OpenAt(job.target_dir_fd, job.target_name.c_str(),
                              O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
  struct stat st {};
  if (!copy || disk.FStat(copy.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) != job.size()) {
    return false;
  }
  const size_t n = static_cast<size_t>(std::min<uint64_t>(job.size(), kLastBytes));
  char have[kLastBytes];
  char want[kLastBytes];
  const off_t at = static_cast<off_t>(job.size() - n);
  if (!ReadAt(disk, copy.get(), have, n, at).ok()) return false;
  if (!job.tag.empty()) return std::memcmp(have, job.tag.data(), n) == 0;
  UniqueFd source = OpenExportSource(disk, job.source_dir_fd, job.source);
  return source && ReadAt(disk, source.get(), want, n, at).ok() && std::memcmp(have, want, n) == 0;
}

}  // namespace tarvel
