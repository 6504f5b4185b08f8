// One file of an exported copy of the library: its audio bytes copied
// unchanged, its new tag block after them, written under a temporary name
// and renamed into place once it is whole and flushed, so that a copy cut
// short leaves whole files and temporaries only.
#ifndef TARVEL_FILES_EXPORT_COPY_H_
#define TARVEL_FILES_EXPORT_COPY_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/disk_entry.h"
#include "platform/disk_ops.h"

namespace tarvel {

// Names beginning with this are files being written; a name left over from
// an export that was cut short is removed when the next one starts.
inline constexpr std::string_view kExportPartPrefix = ".tarvel-part-";

// What one file's copy is made of.
struct ExportFileJob {
  int source_dir_fd = -1;    // the library folder
  std::string source;        // the file below it, UTF-8 (opened read-only, never through a link)
  uint64_t source_size = 0;  // the size the source must still have
  uint64_t audio_size = 0;   // the bytes taken unchanged from its start
  TagBytes tag;              // written after them; empty for none
  int target_dir_fd = -1;    // the folder of the copy
  std::string target_name;   // the copy's name in it
  uint64_t size() const { return audio_size + tag.size(); }
};

// Opens the file `path` below the library folder `dir_fd` for reading,
// never through a link, without touching its access time where the file's
// owner may ask for that (the library stays as it was).
UniqueFd OpenExportSource(DiskOps& disk, int dir_fd, const std::string& path);

// Copies `size` bytes from the start of `in` to the start of `out`: in the
// kernel (copy_file_range) when `kernel_copy` and both file systems allow
// it, else by reads and writes through `disk`.
Transfer CopyFileBytes(DiskOps& disk, int in, int out, uint64_t size, bool kernel_copy = true);

// A copy being written: its temporary name in the copy's folder, and the
// file open for writing.
struct ExportPart {
  std::string name;
  UniqueFd fd;
};

// The temporary name of the `n`th copy this process has in hand.
std::string ExportPartName(size_t n);

// Writes the bytes of `job`'s copy into the temporary `part.name` (made
// afresh) and keeps it open in `part.fd`. On failure the temporary is
// removed and `error` says why.
bool WriteExportPart(DiskOps& disk, const ExportFileJob& job, bool kernel_copy, ExportPart& part,
                     std::string* error);

// Flushes the written `part` and renames it over `target_name`: the copy
// appears under its name only once its bytes are on the disk. On failure
// the temporary is removed. Flushing many parts written one after another
// costs little more than one (their data goes down together).
// Without `flush` the part is renamed as soon as it is written: a killed
// export still leaves whole files, a stick pulled out may not.
bool FinishExportPart(DiskOps& disk, const ExportFileJob& job, ExportPart& part, std::string* error,
                      bool flush = true);

// Closes and removes a part that is not to be finished.
void DropExportPart(const ExportFileJob& job, ExportPart& part);

// WriteExportPart and FinishExportPart of one file: the copy of `job`
// under a temporary name in its folder, flushed and renamed over
// `target_name`. On failure nothing but that
// temporary is left (removed where it can be) and `error` says why
// (English, naming the file).
bool WriteExportFile(DiskOps& disk, const ExportFileJob& job, bool kernel_copy, std::string* error);

// Whether `target_name` already holds the copy: a plain file of the copy's
// size whose last bytes are the tag block, or, for a copy that keeps the
// source's bytes, the source's last bytes (up to 128).
bool ExportFileInPlace(DiskOps& disk, const ExportFileJob& job);

}  // namespace tarvel

#endif  // TARVEL_FILES_EXPORT_COPY_H_
