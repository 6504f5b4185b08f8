// Reading list.csv back (see list_format.h), for a restore and for the
// listing of kept runs.
#ifndef TARVEL_FILES_RENAME_LIST_READER_H_
#define TARVEL_FILES_RENAME_LIST_READER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "app/entry_table.h"

namespace tarvel {

// Reads the list at `FileName` and replaces the table of `run` with its rows
// (record k+1 becomes row k; the blank first record and the number column
// are not read). The bytes are read as UTF-8 when they start with a
// byte-order mark, else as code page 932. A file that is not a whole list is
// refused before anything changes, with the first bad record named in
// `error`: a line end other than CR LF, UTF-16 or binary data, a last record
// without its line end, no blank first record, no row after it, a row with
// fewer than 14 fields, or a number, RenameFlag, TagFlag or IsFile field that
// is not a whole number. EntryCount and ChangeCount keep the values of the
// last conversion run: callers walk rows 1..EntryTable.size()-1.
// `list_bytes`, when given, receives the file's bytes.
int32_t ReadRenameList(std::u16string_view FileName, RunState& run, std::string* error = nullptr,
                       std::string* list_bytes = nullptr);

// The integer a flag field stands for: optional blanks, an optional sign and
// the digits that follow (clamped to the 32-bit range); 0 without digits.
int32_t ParseListFlag(std::u16string_view field);

}  // namespace tarvel

#endif  // TARVEL_FILES_RENAME_LIST_READER_H_
