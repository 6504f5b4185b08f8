// The folder scan: fills the entry table with the MP3 files (and, when asked,
// the folders) under the data folder, with their current ID3v1 texts.
#ifndef TARVEL_RUN_SCAN_H_
#define TARVEL_RUN_SCAN_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "app/entry_table.h"
#include "platform/disk_ops.h"

namespace tarvel {

// Where and why a scan failed, for callers that want to tell the user more
// than that it did.
struct ScanError {
  std::u16string folder;  // the folder that could not be listed, ending in "/"
  int sys_errno = 0;      // why (0 for an unexpected error)
};

// Scans the folder `path` (with or without a trailing "/") and appends rows
// to `run`'s table:
// - entries are taken in name order, hidden ones included;
// - a file whose last three characters equal "mp3" under text comparison
//   gets a file row, and with FlagConvertID3Tag its current tag texts;
// - with FlagRenameFolderName each subfolder gets a folder row, before the
//   rows of what it holds; with FlagRenameSubfolders the scan goes into it;
// - symbolic links are never followed and get no row; a name that is not
//   UTF-8 gets no row and one line in the log.
// With FlagDisplayLog it appends "。" to the log for each folder entered, and
// it lets pending events run once per folder.
// Returns 1 on success, 0 when a folder could not be listed (the rows
// appended so far stay in the table); `error`, when given, then says which.
// The tags are read through `disk`.
int32_t ScanFolder(AppState& app, RunState& run, std::u16string_view path,
                   ScanError* error = nullptr, DiskOps& disk = SystemDiskOps());

// True when the last three characters of `name` equal "mp3" under text
// comparison (song.MP3, songmp3 and song.ｍｐ３ are; song.mp3.bak is not).
bool EndsInMp3(std::u16string_view name);

}  // namespace tarvel

#endif  // TARVEL_RUN_SCAN_H_
