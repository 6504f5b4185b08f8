// What a run can learn about its changes before it makes the first one, so
// that a change it could not carry out stops it while the library is still
// as it was (and before its list is written), rather than half-way:
// - which tag writes happen: a file shorter than a tag block cannot hold one
//   and is left alone, and a file reached under two names (a hard link)
//   gets its tag once, through the first of them;
// - whether every rename can be made: each new name fits the file system
//   (in bytes), is not held by anything the stage does not move away, and
//   is not wanted by two rows; each folder is there and reached without a
//   link.
// Everything is looked at through the library's folders, never through a
// link, as the stages that follow do.
#ifndef TARVEL_FILES_PREFLIGHT_H_
#define TARVEL_FILES_PREFLIGHT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/entry_table.h"
#include "platform/disk_ops.h"

namespace tarvel {

// Why a change cannot be carried out.
enum class PreflightCode {
  kOk,
  kUnusableName,  // a name is not a single name, or the row moves to another folder
  kNameTooLong,   // the new name has more bytes than its folder's file system allows
  kTaken,         // the new name is held by something the stage does not move away
  kSameNewName,   // another row of the same folder gets the same new name
  kMissing,       // the file or folder is not there (or is no longer a plain file / folder)
  kUnreachable,   // its folder cannot be opened, or is reached through a link
};

// The first change found that cannot be carried out, or kOk.
struct PreflightRefusal {
  PreflightCode code = PreflightCode::kOk;
  size_t row = 0;           // the row that cannot be carried out
  size_t other_row = 0;     // kSameNewName: the row that gets the name too
  uint64_t name_bytes = 0;  // kNameTooLong: the new name's length in bytes (UTF-8)
  uint64_t name_max = 0;    // kNameTooLong: the most its folder allows
  int sys_errno = 0;        // the errno of the look-up that failed, when one did
  std::string detail;       // English, naming the item (for standard error)
  bool ok() const { return code == PreflightCode::kOk; }
};

// A row whose tag the run leaves alone, and why.
struct TagSkip {
  enum class Reason {
    kTooShort,  // shorter than 128 bytes: no room for a tag
    kSameFile,  // the same file as `same_as`, whose row writes its tag
  };
  size_t row = 0;
  Reason reason = Reason::kTooShort;
  size_t same_as = 0;
  uint64_t size = 0;  // kTooShort: the file's size
};

// What SettleTagWrites decided.
struct TagPlan {
  std::vector<TagSkip> skipped;  // in table order
  PreflightRefusal refusal;
};

// Looks at the file of every row with TagFlag 1 and IsFile 1 (what the scan
// kept in `run.FoundOnDisk`, read but not emptied, else the file on disk now
// below `library`, a UTF-8 folder ending in "/") and sets TagFlag 0, with an
// entry in `skipped`, for each file shorter than 128 bytes and for each
// later name of a file that an earlier row already writes (same device and
// inode, confirmed on disk with a link count above 1, so that a number a
// file system hands out again is not taken for a link). A file that is not
// there, or not a plain file, gives a refusal instead (its write would
// fail). Nothing is changed on disk.
TagPlan SettleTagWrites(RunState& run, std::string_view library, DiskOps& disk = SystemDiskOps());

// Checks the renames of the rows with RenameFlag 1 (files, then folders, as
// the stages make them) against the disk as it is now, before any of them:
// every name is a single name and stays in its folder; the folder can be
// opened below `library`; the new name has at most as many bytes as the
// folder's file system allows (fpathconf _PC_NAME_MAX); no two rows of a
// folder and kind get the same new name, nor a folder the new name of a
// file; an entry that holds a new name is one that the stage moves away (a
// file the file stage renames, for the folder stage also such a file): by
// name, or by device and inode for an entry with one name, so that a
// case-only rename on a case-insensitive file system is no conflict. An old name that is gone is
// left to the stage, as the scan has just seen it. The first problem in
// table order is returned; kOk when there is none. One look-up per new name.
PreflightRefusal CheckRenames(const RunState& run, std::string_view library,
                              DiskOps& disk = SystemDiskOps());

}  // namespace tarvel

#endif  // TARVEL_FILES_PREFLIGHT_H_
