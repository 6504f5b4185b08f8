#include "platform/file_system.h"

#include <sys/statfs.h>

#include <algorithm>
#include <iterator>

namespace tarvel {
namespace {

// The magic numbers of linux/magic.h (and of zfs and bcachefs, which it
// does not list).
constexpr int64_t kKeepInodeNumbers[] = {
    0xEF53,      // ext2, ext3, ext4
    0x9123683E,  // btrfs
    0x58465342,  // xfs
    0x01021994,  // tmpfs
    0x858458F6,  // ramfs
    0xF2F52010,  // f2fs
    0x2FC12FC1,  // zfs
    0xCA451A4E,  // bcachefs
    0x52654973,  // reiserfs
    0x3153464A,  // jfs
    0x3434,      // nilfs2
};

}  // namespace

bool KeepsInodeNumbers(int64_t fs_type) {
  // f_type is a signed word: a magic number with its top bit set can come
  // back negative.
  const int64_t type = fs_type & 0xFFFFFFFF;
  return std::find(std::begin(kKeepInodeNumbers), std::end(kKeepInodeNumbers), type) !=
         std::end(kKeepInodeNumbers);
}

bool KeepsInodeNumbersOf(DiskOps& disk, int fd) {
  struct statfs st {};
  if (disk.FStatFs(fd, &st) != 0) return false;
  return KeepsInodeNumbers(static_cast<int64_t>(st.f_type));
}

}  // namespace tarvel
