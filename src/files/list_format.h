// The form of list.csv, the rename list: every row of a run with its names
// and tag texts before and after and its three flags, written before anything
// on disk changes so that a restore can undo the run, even one that stopped
// part way.
//
// The file is CSV with every field quoted and CR LF after every record. The
// first record is blank (14 empty fields); then one record per row, its
// fields in the order of ListField. It is written in code page 932 when every
// text survives that, else in UTF-8 behind a byte-order mark; the reader goes
// by that mark alone.
#ifndef TARVEL_FILES_LIST_FORMAT_H_
#define TARVEL_FILES_LIST_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace tarvel {

// The file name of the rename list (ASCII).
inline constexpr std::string_view kRenameListName = "list.csv";

// The largest list, or undo record beside it, that a restore reads. A run of
// a million files writes a list of over 300 MB, more than other text files
// are allowed; what a run wrote must be read back. The code page 932
// decoder (ICU) counts in 32 bits, so a larger list (of some six million
// files) is refused as too large rather than misread.
inline constexpr std::size_t kMaxListFileBytes = std::numeric_limits<int32_t>::max();

// The fields of a list record, counted from 1 as the CSV table counts them.
enum ListField : int32_t {
  kListNumber = 1,  // the row's number
  kListOldPath,
  kListOldName,
  kListNewPath,
  kListNewName,
  kListOldTitle,
  kListOldArtist,
  kListOldAlbum,
  kListNewTitle,
  kListNewArtist,
  kListNewAlbum,
  kListRenameFlag,
  kListTagFlag,
  kListIsFile,
};

// Columns of a list record.
inline constexpr int32_t kRenameListColumns = kListIsFile;

// The fields that must hold a whole number: the number and the three flags.
inline constexpr ListField kListNumberFields[] = {kListNumber, kListRenameFlag, kListTagFlag,
                                                  kListIsFile};

constexpr bool IsListNumberField(int32_t field) {
  return field == kListNumber || (field >= kListRenameFlag && field <= kListIsFile);
}

// The byte-order mark in front of a list written in UTF-8.
inline constexpr std::string_view kListUtf8Mark = "\xEF\xBB\xBF";

}  // namespace tarvel

#endif  // TARVEL_FILES_LIST_FORMAT_H_
