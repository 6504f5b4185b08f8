#include "files/rename_list_reader.h"

#include <limits>
#include <optional>
#include <utility>

#include "files/list_format.h"
#include "platform/csv.h"
#include "platform/text.h"
#include "platform/text_file.h"

namespace tarvel {
namespace {

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

// Sets `path` to `text`, sharing the buffer of `same` when that holds the
// same text: a list keeps the rows of one folder together, so the path of
// a row is nearly always the one of the row before.
void SetPath(SharedText& path, const std::u16string& text, const SharedText& same) {
  if (same == text) {
    path = same;
  } else {
    path = text;
  }
}

// Decodes a list's bytes by their byte-order mark alone: with one UTF-8,
// without code page 932 (a short code page 932 text is often valid UTF-8
// as well, so guessing would misread it). False, with `error`, for bytes
// that cannot be a list.
bool DecodeListBytes(std::string_view bytes, std::u16string& text, std::string* error) {
  if (bytes.starts_with(kListUtf8Mark)) {
    bytes.remove_prefix(kListUtf8Mark.size());
    std::optional<std::u16string> utf8 = Utf8ToUtf16(bytes);
    if (!utf8) {
      SetError(error, "the list is marked as UTF-8 but is not valid UTF-8");
      return false;
    }
    text = std::move(*utf8);
  } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    SetError(error, "the list is in UTF-16, which Tarvel never writes");
    return false;
  } else {
    text = DecodeCp932(bytes);
  }
  if (text.find(u'\0') != std::u16string::npos) {
    SetError(error, "the list holds NUL characters (binary data or UTF-16)");
    return false;
  }
  return true;
}

// Checks that every record of `text` ends in CR LF and that no bare CR or LF
// stands outside quotes; names the first record that does not.
bool CheckLineEnds(std::u16string_view text, std::string* error) {
  bool quoted = false;
  size_t record = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'"') {
      quoted = !quoted;
    } else if (!quoted && c == u'\r') {
      if (i + 1 >= text.size() || text[i + 1] != u'\n') {
        SetError(error, "record " + std::to_string(record) + " ends in a bare CR, not CR LF");
        return false;
      }
      ++i;
      ++record;
    } else if (!quoted && c == u'\n') {
      SetError(error, "record " + std::to_string(record) + " ends in a bare LF, not CR LF");
      return false;
    }
  }
  if (text.empty()) {
    SetError(error, "the list is empty");
    return false;
  }
  if (quoted || !text.ends_with(u"\r\n")) {
    SetError(error, "record " + std::to_string(record) + " is cut short (no line end after it)");
    return false;
  }
  return true;
}

// Decodes and parses the list's bytes into `table`; the number of records,
// or 0 with `error` when the bytes hold no record with proper line ends.
int32_t ParseListBytes(std::string_view bytes, CsvTable& table, std::string* error) {
  std::u16string text;
  if (!DecodeListBytes(bytes, text, error) || !CheckLineEnds(text, error)) return 0;
  const int32_t records = ParseCSV(text, table, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote);
  if (records < 1) {
    SetError(error, "the list holds no record");
    return 0;
  }
  return records;
}

bool IsWholeNumber(std::u16string_view field) {
  if (field.empty()) return false;
  for (char16_t c : field) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

// Checks the blank first record and that rows follow it.
bool CheckFirstRecord(const CsvTable& table, int32_t records, std::string* error) {
  if (table.Columns() < kRenameListColumns) {
    SetError(error, "the first record of the list has " + std::to_string(table.Columns()) +
                        " fields, fewer than " + std::to_string(kRenameListColumns));
    return false;
  }
  for (int32_t c = 1; c <= kRenameListColumns; ++c) {
    if (!table.Cell(c, 1).empty()) {
      SetError(error, "record 1 is not the blank first record of a list (field " +
                          std::to_string(c) + " holds text)");
      return false;
    }
  }
  if (records < 2) {
    SetError(error, "the list holds no rows after its blank first record");
    return false;
  }
  return true;
}

// Checks that record `r` is a whole row: a short one or one whose numbers
// are not numbers is a sign of a cut or foreign file, which is not restored
// from.
bool CheckRow(const CsvTable& table, int32_t r, std::string* error) {
  auto fail = [&](const std::string& what) {
    SetError(error, "record " + std::to_string(r) + what);
    return false;
  };
  auto short_row = [] {
    return " has fewer than " + std::to_string(kRenameListColumns) + " fields";
  };
  if (!table.IsSet(kRenameListColumns, r)) return fail(short_row());
  for (int32_t c : kListNumberFields) {
    const std::u16string& field = table.Cell(c, r);
    // A quoted last field makes the parser count one field more, so a row
    // one field short shows as an empty number field.
    if (field.empty()) return fail(short_row() + " (field " + std::to_string(c) + " is empty)");
    if (!IsWholeNumber(field)) {
      return fail(", field " + std::to_string(c) + ": not a whole number (" + Utf16ToUtf8(field) +
                  ")");
    }
  }
  return true;
}

// Row `r - 1` of the table from record `r`; `before` is the row read just
// before it, whose paths the row shares when they are the same.
void ReadRow(const CsvTable& table, int32_t r, const FileEntry& before, FileEntry& e) {
  SetPath(e.OldPath, table.Cell(kListOldPath, r), before.OldPath);
  e.OldName = table.Cell(kListOldName, r);
  const std::u16string& new_path = table.Cell(kListNewPath, r);
  SetPath(e.NewPath, new_path, e.OldPath == new_path ? e.OldPath : before.NewPath);
  e.NewName = table.Cell(kListNewName, r);
  e.OldTitle = table.Cell(kListOldTitle, r);
  e.OldArtist = table.Cell(kListOldArtist, r);
  e.OldAlbum = table.Cell(kListOldAlbum, r);
  e.NewTitle = table.Cell(kListNewTitle, r);
  e.NewArtist = table.Cell(kListNewArtist, r);
  e.NewAlbum = table.Cell(kListNewAlbum, r);
  e.RenameFlag = ParseListFlag(table.Cell(kListRenameFlag, r));
  e.TagFlag = ParseListFlag(table.Cell(kListTagFlag, r));
  e.IsFile = ParseListFlag(table.Cell(kListIsFile, r));
}

}  // namespace

int32_t ParseListFlag(std::u16string_view field) {
  size_t i = 0;
  while (i < field.size() && (field[i] == u' ' || field[i] == u'\t')) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == u'-' || field[i] == u'+')) {
    negative = field[i] == u'-';
    ++i;
  }
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < field.size() && field[i] >= u'0' && field[i] <= u'9'; ++i) {
    value = value * 10 + (field[i] - u'0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

int32_t ReadRenameList(std::u16string_view FileName, RunState& run, std::string* error,
                       std::string* list_bytes) {
  try {
    std::string bytes;
    TextReadResult read = ReadFileBytes(Utf16ToUtf8(FileName), bytes);
    if (!read.ok()) {
      SetError(error, read.message);
      return 0;
    }
    CsvTable table;
    const int32_t records = ParseListBytes(bytes, table, error);
    if (records < 1 || !CheckFirstRecord(table, records, error)) return 0;
    for (int32_t r = 2; r <= records; ++r) {
      if (!CheckRow(table, r, error)) return 0;
    }
    // Built aside and swapped in, so a failure never leaves half a table.
    EntryRows rows(static_cast<size_t>(records));
    for (int32_t r = 2; r <= records; ++r) {
      ReadRow(table, r, rows[static_cast<size_t>(r - 2)], rows[static_cast<size_t>(r - 1)]);
    }
    run.EntryTable.swap(rows);
    if (list_bytes != nullptr) *list_bytes = std::move(bytes);
    return 1;
  } catch (const std::exception& e) {
    SetError(error, std::string("unexpected error: ") + e.what());
    return 0;
  }
}

}  // namespace tarvel
