// What a library's file system promises about its files, learnt once per
// file system from statfs: whether an inode number names the same file for
// as long as it exists. Local Linux file systems keep the number in the
// inode on disk; FAT, exFAT and NTFS (through FUSE or the kernel) and
// network shares make numbers up when a file is looked up, so they change
// when the medium is plugged in again or the kernel drops its cache.
#ifndef TARVEL_PLATFORM_FILE_SYSTEM_H_
#define TARVEL_PLATFORM_FILE_SYSTEM_H_

#include <cstdint>

#include "platform/disk_ops.h"

namespace tarvel {

// True for the statfs f_type values of file systems known to keep inode
// numbers (ext2/3/4, btrfs, xfs, tmpfs, f2fs, zfs, ...); false for every
// other, unknown ones included.
bool KeepsInodeNumbers(int64_t fs_type);

// The same for the file system of the open file or folder `fd`; false when
// it cannot be learnt.
bool KeepsInodeNumbersOf(DiskOps& disk, int fd);

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_FILE_SYSTEM_H_
