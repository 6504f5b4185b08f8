// What a rename list cannot hold and an exact undo needs, kept in one file
// beside the list (list.csv.undo, described in docs/undo-record.md): for
// every row the run will change, which entry on disk it is (device and
// inode), its mode bits, and for a file whose tag the run writes, its
// original 128-byte tag block or, when it had none, its size.
#ifndef TARVEL_FILES_UNDO_RECORD_H_
#define TARVEL_FILES_UNDO_RECORD_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/entry_table.h"
#include "platform/disk_ops.h"

namespace tarvel {

// One row of a record: the entry as it was before the run. `has_block` says
// that the run writes the file's tag, so the record holds its old block (or,
// without `had_tag`, that it had none).
using UndoEntry = DiskEntry;

struct UndoRecord {
  // The list the record belongs to: its size and a hash of its bytes.
  uint64_t list_size = 0;
  uint64_t list_hash = 0;
  DiskEntryRows rows;  // by table index
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
// is on disk now, looked at through `disk` without following links. Rows
// that cannot be looked at get no entry (the stage that reaches them fails on its own).
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

// Reads a record's bytes; nothing when they are not a whole record.
std::optional<UndoRecord> ParseUndoRecord(std::string_view bytes);

// Reads the record beside the list at `list_path` and keeps it only when it
// belongs to the list bytes `list_bytes`. Nothing when there is none or it
// does not fit; `notice` then says why when a record was there.
std::optional<UndoRecord> ReadUndoRecordFor(const std::filesystem::path& list_path,
                                            std::string_view list_bytes, std::string* notice);

}  // namespace tarvel

#endif  // TARVEL_FILES_UNDO_RECORD_H_
