// The steps of the restore run, plain file work on a table read from a
// list.csv: the folders get their old names back first (outermost first),
// then the files, then the tags, the reverse of the order in which the run
// applied them. The renames of each step are planned as a whole (see
// rename_plan.h), so names that the run handed from one entry to another
// come back too. A row that cannot be put back is reported and passed over;
// every other row is still restored. A run that stopped part way is undone
// as far as it got, and rows it never reached count as already restored.
// Renames and tag writes reach their items from the folder of the list's
// first row down, never through a link, and every system call goes through
// the `disk` given.
#ifndef TARVEL_FILES_RESTORE_H_
#define TARVEL_FILES_RESTORE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/entry_table.h"
#include "app/report.h"
#include "files/undo_record.h"
#include "platform/disk_ops.h"

namespace tarvel {

// What the restore steps tell their caller beyond their results (texts in
// UTF-8), and what they hand on to each other. One object is passed through
// all three steps.
struct RestoreDetails {
  // Why a step broke off on an unexpected error; empty when it finished.
  std::string error;
  // Converted files or folders not found under any of their names.
  std::vector<std::string> missing;
  // Items left under their new name because something else holds the old
  // one ("new path -> old path").
  std::vector<std::string> conflicts;
  // Items whose rename back was refused (the reason names them).
  std::vector<std::string> failed;
  // Tags not written back, one line each naming the file and the reason.
  std::vector<std::string> skipped;
  // Rows under a folder that is missing: not reported one by one.
  int32_t unreachable = 0;
  // What each step restored.
  int32_t folders_restored = 0;
  int32_t files_restored = 0;
  int32_t tags_restored = 0;
  // Rows found already under their old name (never renamed by a run that
  // stopped, or restored before).
  int32_t already_restored = 0;

  // Rows that did not come back.
  size_t NotRestored() const {
    return missing.size() + conflicts.size() + failed.size() + skipped.size() +
           static_cast<size_t>(unreachable);
  }

  // Between the steps: rows left under their new names (files whose tags are
  // then not touched), folders left under their new names (old full path +
  // "/" to where they are now), and folders missing altogether.
  std::set<size_t> rows_not_back;
  std::unordered_map<std::u16string, std::u16string> folders_not_back;
  std::set<std::u16string> folders_missing;
};

// Renames every folder row with RenameFlag 1 from NewPath + NewName back to
// OldPath + OldName, outermost folders first. A folder found under its old
// name (and not under its new one) is counted as already restored. A folder
// that cannot be put back (missing under every name, old name taken, rename
// refused) is reported with both names and passed over; what it holds is
// then restored where it is. With `undo`, the record tells which entry is
// the row's: by device and inode where the file system keeps inode numbers,
// else a file by its size and last bytes (see docs/undo-record.md). Reports the count
// ("…個のフォルダ名を復元しました。") and returns 1; 0 only on an unexpected error, with nothing
// reported.
int32_t RestoreFolders(const Reporter& reporter, RunState& run, RestoreDetails& details,
                       const UndoRecord* undo = nullptr, DiskOps& disk = SystemDiskOps());

// The same for file rows, one planned stage: a file not found under any of
// its names is reported missing ("見つからないファイルがあります。"), one whose
// old name is held by something else is reported as a conflict
// ("復元に失敗したファイルがあります。"); a refused rename is reported as well.
// None stops the walk. Count text: "…個のファイル名を復元しました。".
int32_t RestoreFiles(const Reporter& reporter, RunState& run, RestoreDetails& details,
                     const UndoRecord* undo = nullptr, DiskOps& disk = SystemDiskOps());

// Puts back the tags of every file row with TagFlag 1 that is under its old
// name: with an undo entry, its original 128 bytes (or cuts off the tag the
// run appended; only over the block the run wrote), its mode bits and its
// modification time; without one, OldTitle, OldArtist and OldAlbum, keeping
// the other bytes of the tag (a file that has them already, or could never
// have got a tag from the run, is left as it is). A file whose bytes are
// already the original ones counts as restored. Rows left under their new
// name, or whose old name holds another file, are passed over. A tag that
// cannot be put back is reported in `details.skipped`. Last, the folders the
// run renamed in get their times back (a failure is reported there too).
// Count text: "…個のID3Tagを復元しました。". Returns 0 only on an unexpected
// error.
int32_t RestoreTags(const Reporter& reporter, RunState& run, RestoreDetails& details,
                    const UndoRecord* undo = nullptr, DiskOps& disk = SystemDiskOps());

// Reports, once, how many rows were already under their old names; nothing
// when there were none.
void ReportAlreadyRestored(const Reporter& reporter, const RestoreDetails& details);

}  // namespace tarvel

#endif  // TARVEL_FILES_RESTORE_H_
