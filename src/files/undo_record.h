// What a rename list cannot hold and an exact undo needs, kept in one file
// beside the list (list.csv.undo, described in docs/undo-record.md): for
// every row the run will change, which entry on disk it is (device and
// inode, and whether its file system keeps inode numbers), its mode bits and
// modification time, its size and a hash of its last 128 bytes, and for a
// file whose tag the run writes, its original 128-byte tag block (or that it
// had none) and a hash of the block the run writes; and the modification
// times of the folders in which the run renames.
#ifndef TARVEL_FILES_UNDO_RECORD_H_
#define TARVEL_FILES_UNDO_RECORD_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/entry_table.h"
#include "platform/disk_ops.h"

namespace tarvel {

// One row of a record: the entry as it was before the run. `has_block` says
// that the run writes the file's tag, so the record holds its old block (or,
// without `had_tag`, that it had none).
using UndoEntry = DiskEntry;

// The modification time of the folder that holds row `row`'s item (its
// OldPath), from before the run renamed in it.
struct FolderTime {
  size_t row = 0;
  FileTime mtime;
  friend bool operator==(const FolderTime&, const FolderTime&) = default;
};

struct UndoRecord {
  // The list the record belongs to: its size and a hash of its bytes.
  uint64_t list_size = 0;
  uint64_t list_hash = 0;
  DiskEntryRows rows;  // by table index
  // One for each folder in which the run renames, by the first such row in
  // it, in increasing row order.
  std::vector<FolderTime> folder_times;
};

// The record's path for the list at `list_path`.
std::filesystem::path UndoRecordPath(const std::filesystem::path& list_path);

// Where ListBytesHash starts (the FNV-1a offset basis).
inline constexpr uint64_t kListBytesHashStart = 14695981039346656037ull;
// A 64-bit hash of a list's bytes (FNV-1a), tying a record to its list. A
// list written in pieces is hashed piece by piece, each from the hash of the
// pieces before it: ListBytesHash(b, ListBytesHash(a)) == ListBytesHash(a + b).
uint64_t ListBytesHash(std::string_view bytes, uint64_t hash = kListBytesHashStart);

// The entry of every row of `run` with RenameFlag or TagFlag 1: what the scan
// found of the row's file (`run.FoundOnDisk`, which this empties), else what
// is on disk now, looked at through `disk` without following links (a file
// its owner may not read is made readable for the look and gets its mode
// back at once). Rows that cannot be looked at get no entry (the stage that
// reaches them fails on its own). Each entry learns whether its file system
// keeps inode numbers (one statfs per device), and a file whose tag the run
// writes the hash of the block it will write; the folders the run renames
// in get their times (one stat per folder).
UndoRecord CaptureUndoRecord(RunState& run, DiskOps& disk = SystemDiskOps());

// The record as the bytes of its file.
std::string FormatUndoRecord(const UndoRecord& record);
// The same with the list size and hash given, for a record whose list was
// built after it (no copy of the record is made to set them).
std::string FormatUndoRecord(const UndoRecord& record, uint64_t list_size, uint64_t list_hash);

// The same bytes handed to `sink` a few kilobytes at a time, so that a
// record of any size is written without building it in memory.
void WriteUndoRecord(const UndoRecord& record, uint64_t list_size, uint64_t list_hash,
                     const std::function<void(std::string_view)>& sink);

// Reads a record's bytes (this version, or version 1, which has no times,
// hashes or file system facts: its entries are taken to keep inode
// numbers); nothing when they are not a whole record.
std::optional<UndoRecord> ParseUndoRecord(std::string_view bytes);

// A list as its record knows it: its size and the hash of its bytes.
struct ListBytesKey {
  uint64_t size = 0;
  uint64_t hash = kListBytesHashStart;

  // Takes in the next piece of the list's bytes.
  void Add(std::string_view piece) {
    size += piece.size();
    hash = ListBytesHash(piece, hash);
  }
  bool operator==(const ListBytesKey&) const = default;
};
ListBytesKey KeyOfListBytes(std::string_view bytes);

// Reads the record beside the list at `list_path` (a piece at a time) and
// keeps it only when it belongs to the list `list`. Nothing when there is
// none or it does not fit; `notice` then says why when a record was there.
std::optional<UndoRecord> ReadUndoRecordFor(const std::filesystem::path& list_path,
                                            const ListBytesKey& list, std::string* notice);
// The same for the list bytes `list_bytes`.
std::optional<UndoRecord> ReadUndoRecordFor(const std::filesystem::path& list_path,
                                            std::string_view list_bytes, std::string* notice);

}  // namespace tarvel

#endif  // TARVEL_FILES_UNDO_RECORD_H_
