// Reading list.csv back (see list_format.h), for a restore and for the
// listing of kept runs.
#ifndef TARVEL_FILES_RENAME_LIST_READER_H_
#define TARVEL_FILES_RENAME_LIST_READER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/entry_table.h"
#include "files/undo_record.h"

namespace tarvel {

// Tells whether a path (a row's folder and name joined) exists on disk.
using ListPathExists = std::function<bool(std::u16string_view path)>;

// What a restore knows beyond a list's bytes, to tell the encoding of a list
// without a byte-order mark that reads both as UTF-8 and as code page 932.
struct ListEncodingClues {
  ListPathExists exists;
  // Whether an undo record (beside the list or kept in the history) belongs
  // to a list of these bytes (its size and hash).
  std::function<bool(const ListBytesKey& list)> has_record;
  // Whether a record lies beside the list, fitting or not.
  bool record_beside = false;
};

// Reads the list at `FileName` and replaces the table of `run` with its rows
// (record k+1 becomes row k; the blank first record and the number column
// are not read). A list is read in the encoding it was written in: UTF-8
// when it starts with a byte-order mark; without one, code page 932 when it
// is not valid UTF-8 or is ASCII, and UTF-8 when it is valid UTF-8 but not
// valid code page 932. A list without a mark that is valid as both (a UTF-8
// list whose mark an editor dropped, an editor's UTF-8 copy of a code page
// 932 list, or code page 932 bytes that form UTF-8 by chance) is read, with
// `clues`: as code page 932 when an undo record belongs to its bytes (it is
// as this program wrote it); else the way whose rows' bytes, as this
// program writes them, an undo record belongs to; else the way whose row
// names (NewPath + NewName or OldPath + OldName, where the two ways differ)
// are on disk. It is refused when both ways are on disk, or neither is and a
// record lies beside the list; with no record, it is read as code page 932,
// as is every such list read without `clues`. Bytes that code page 932 does
// not have are never read as some other character. A file that is not a
// whole list is refused before anything changes, with the first bad record
// named in `error`: a line end other than CR LF, UTF-16 or binary data, a
// last record without its line end, no blank first record, no row after it,
// a row with fewer than 14 fields, or a number, RenameFlag, TagFlag or
// IsFile field that is not a whole number. EntryCount and ChangeCount keep
// the values of the last conversion run: callers walk rows
// 1..EntryTable.size()-1. `list_bytes`, when given, receives the file's
// bytes.
int32_t ReadRenameList(std::u16string_view FileName, RunState& run, std::string* error = nullptr,
                       std::string* list_bytes = nullptr, const ListEncodingClues* clues = nullptr);

// The integer a flag field stands for: optional blanks, an optional sign and
// the digits that follow (clamped to the 32-bit range); 0 without digits.
int32_t ParseListFlag(std::u16string_view field);

}  // namespace tarvel

#endif  // TARVEL_FILES_RENAME_LIST_READER_H_
