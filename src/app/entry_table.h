// The rows of one run: one row per MP3 file or folder the run handles, and
// the two counters that go with them.
#ifndef TARVEL_APP_ENTRY_TABLE_H_
#define TARVEL_APP_ENTRY_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/disk_entry.h"
#include "platform/chunked_table.h"
#include "platform/shared_text.h"

namespace tarvel {

// What the conversion said about a row, as bits of FileEntry::Notices: the
// change table shows them beside the row, and its filter finds them.
enum RowNotice : uint8_t {
  kNoticeNumbered = 1,       // the name took a duplicate number
  kNoticeRepaired = 2,       // characters or an extension a player cannot take were replaced
  kNoticeShortened = 4,      // the name was cut to the length limit
  kNoticeFullWidth = 8,      // a character stayed full-width
  kNoticeReadingGuess = 16,  // a word the dictionary does not know was read kanji by kanji
  kNoticePlayerLimit = 32,   // an export's copy of it breaks a limit of the player
};

// One file or folder: where it is and what it is called now, its current
// ID3v1 texts, and what the run makes of them.
struct FileEntry {
  SharedText OldPath;  // folder holding the item, ending in "/"
  SharedText OldName;  // name as found on disk
  SharedText NewPath;  // folder after the run (the same as OldPath)
  SharedText NewName;  // name after the run
  // Every text is a shared one, 8 bytes in the row: a name or title the run
  // leaves as it was keeps the old one's buffer, and the artist and album are
  // mostly the same for every file of an album, so rows that follow each
  // other share one buffer for them. At a million rows this is hundreds of
  // megabytes.
  SharedText OldTitle;
  SharedText OldArtist;
  SharedText OldAlbum;
  SharedText NewTitle;
  SharedText NewArtist;
  SharedText NewAlbum;
  int32_t RenameFlag = 0;  // 1: NewName is to be applied on disk
  int32_t TagFlag = 0;     // 1: the new tag texts are to be written (files only)
  int32_t IsFile = 0;      // 1: an MP3 file, 0: a folder
  uint8_t Notices = 0;     // RowNotice bits of the conversion of this row
};

// The table of the current run, shared by the scan, the conversion pass, the
// rename list and the apply and restore stages. Slot 0 always exists and
// stays empty; rows 1..EntryCount are the entries in the order found, a
// folder's row before the rows of what it holds. Rows stay where they are
// while rows are added, and the rows of one folder share its path.
using EntryRows = ChunkedTable<FileEntry>;
struct RunState {
  EntryRows EntryTable = EntryRows(1);
  int32_t EntryCount = 0;   // number of rows in use (the highest index)
  int32_t ChangeCount = 0;  // rows whose name or tags differ after the pass
  // The files whose tags the scan read, as the scan found them, by row: the
  // undo record takes its entries from here rather than opening every file
  // a second time.
  DiskEntryRows FoundOnDisk;
  // Names the scan would have taken but left out because they are not
  // UTF-8 (each has its line in the log).
  int32_t SkippedNameCount = 0;
};

// The last index of the table (0 when it holds only slot 0). Walks that
// follow a list read back from disk go by this, not by EntryCount.
inline size_t LastIndex(const RunState& state) {
  return state.EntryTable.empty() ? 0 : state.EntryTable.size() - 1;
}

// Empties the table down to slot 0 and sets EntryCount and
// SkippedNameCount to 0. ChangeCount is
// left to the pass, which resets it before counting.
void ResetEntryTable(RunState& state);

// Appends a row with OldPath and NewPath set to `folder_path`, OldName and
// NewName to `name`, and IsFile to `is_file`; everything else is empty or 0.
// Returns the new row, which stays valid until the table is emptied. Rows
// given the same SharedText share its buffer; a plain text makes a new one.
FileEntry& AddEntry(RunState& state, const SharedText& folder_path, std::u16string_view name,
                    int32_t is_file);
FileEntry& AddEntry(RunState& state, std::u16string_view folder_path, std::u16string_view name,
                    int32_t is_file);

}  // namespace tarvel

#endif  // TARVEL_APP_ENTRY_TABLE_H_
