#include "files/rename_list_reader.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "files/list_format.h"
#include "files/rename_list.h"
#include "platform/csv.h"
#include "platform/text.h"
#include "platform/text_file.h"
#include "platform/translatable.h"

namespace tarvel {
namespace {

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

// Sets `field` to `text`, sharing the buffer of `same` when that holds the
// same text: a list keeps the rows of one folder together, so the path of
// a row is nearly always the one of the row before, and so are its artist
// and album; a new name or title is mostly its row's old one.
void SetShared(SharedText& field, const std::u16string& text, const SharedText& same) {
  if (same == text) {
    field = same;
  } else {
    field = text;
  }
}

// The encodings a list is read in.
enum class ListEncoding { kCodePage932, kUtf8 };

// A list's bytes are decoded a piece at a time, each piece ending just
// after a line feed byte: a line feed is never part of a two-byte character
// in either encoding, so the pieces decode to the text of the whole. A list
// of a million rows is then never held as one text beside its bytes. The
// end of the piece that starts at `pos`:
size_t PieceEnd(std::string_view bytes, size_t pos) {
  constexpr size_t kPieceBytes = size_t{1} << 20;
  if (bytes.size() - pos <= kPieceBytes) return bytes.size();
  const size_t line_feed = bytes.find('\n', pos + kPieceBytes);
  return line_feed == std::string_view::npos ? bytes.size() : line_feed + 1;
}

// Whether `bytes` are exactly code page 932, decoded a piece at a time and
// let go. The decoder puts U+FFFD, or U+001A for some single bytes, in place
// of a sequence code page 932 does not have; a list written in code page 932
// never holds U+FFFD (it does not survive the code page), and U+001A only
// where its own byte stands.
bool IsExactlyCp932(std::string_view bytes) {
  // The byte of U+001A is below 0x80, so it never stands inside a two-byte
  // character.
  static const std::string kSubByte = EncodeCp932(u"\x1A");
  if (kSubByte.size() != 1) return false;
  for (size_t pos = 0, end = 0; pos < bytes.size(); pos = end) {
    end = PieceEnd(bytes, pos);
    const std::string_view piece = bytes.substr(pos, end - pos);
    const std::u16string text = DecodeCp932(piece);
    if (text.find(u'\uFFFD') != std::u16string::npos ||
        std::count(text.begin(), text.end(), u'\x1A') !=
            std::count(piece.begin(), piece.end(), kSubByte[0])) {
      return false;
    }
  }
  return true;
}

// The text of a list's bytes, checked before to be in `encoding`, as a
// source of pieces.
CsvTextSource ListText(std::string_view bytes, ListEncoding encoding) {
  return [bytes, encoding, pos = size_t{0}](std::u16string& text) mutable {
    if (pos >= bytes.size()) return false;
    const size_t end = PieceEnd(bytes, pos);
    const std::string_view piece = bytes.substr(pos, end - pos);
    pos = end;
    text += encoding == ListEncoding::kUtf8 ? Utf8ToUtf16Lossy(piece) : DecodeCp932(piece);
    return true;
  };
}

// Adds the encodings a list's bytes can be in to `encodings`, code page 932
// first; `bytes` loses its byte-order mark. With a mark the list is UTF-8.
// Without one, it is code page 932 when it is not valid UTF-8 (or is ASCII,
// the same either way), UTF-8 when it is not valid code page 932, and
// either when it is both (an editor may have dropped the mark, or code page
// 932 bytes may form UTF-8 by chance: "ﾃｽ" is C3 BD). False, with `error`,
// for bytes that cannot be a list.
bool ListEncodings(std::string_view& bytes, std::vector<ListEncoding>& encodings,
                   std::string* error) {
  if (bytes.starts_with(kListUtf8Mark)) {
    bytes.remove_prefix(kListUtf8Mark.size());
    if (!IsValidUtf8(bytes)) {
      SetError(error, "the list is marked as UTF-8 but is not valid UTF-8");
      return false;
    }
    encodings.push_back(ListEncoding::kUtf8);
  } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    SetError(error, "the list is in UTF-16, which Tarvel never writes");
    return false;
  } else {
    if (IsExactlyCp932(bytes)) encodings.push_back(ListEncoding::kCodePage932);
    if (!IsAscii(bytes) && IsValidUtf8(bytes)) encodings.push_back(ListEncoding::kUtf8);
    if (encodings.empty()) {
      SetError(error,
               "the list has no byte-order mark and is neither UTF-8 nor code page 932 (it holds "
               "bytes code page 932 does not have)");
      return false;
    }
  }
  // A NUL byte is the NUL character in both encodings, and nothing else is.
  if (bytes.find('\0') != std::string_view::npos) {
    SetError(error, "the list holds NUL characters (binary data or UTF-16)");
    return false;
  }
  return true;
}

// Checks that every record of `bytes` ends in CR LF and that no bare CR or
// LF stands outside quotes; names the first record that does not. The quote,
// CR and LF are single bytes in both encodings, never part of another
// character, so the bytes tell what the text would.
bool CheckLineEnds(std::string_view bytes, std::string* error) {
  bool quoted = false;
  size_t record = 1;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == '\r') {
      if (i + 1 >= bytes.size() || bytes[i + 1] != '\n') {
        SetError(error, "record " + std::to_string(record) + " ends in a bare CR, not CR LF");
        return false;
      }
      ++i;
      ++record;
    } else if (!quoted && c == '\n') {
      SetError(error, "record " + std::to_string(record) + " ends in a bare LF, not CR LF");
      return false;
    }
  }
  if (bytes.empty()) {
    SetError(error, N_("the list is empty"));
    return false;
  }
  if (quoted || !bytes.ends_with("\r\n")) {
    SetError(error, "record " + std::to_string(record) + " is cut short (no line end after it)");
    return false;
  }
  return true;
}

// One record of a list as it is read: its fields (as many as it has) and
// its number, from 1.
struct ListRecord {
  const std::vector<std::u16string>& fields;
  int32_t number;

  bool IsSet(int32_t column) const {
    return column >= 1 && static_cast<size_t>(column) <= fields.size();
  }
  // The field's text; empty for a field the record does not reach.
  const std::u16string& Cell(int32_t column) const {
    static const std::u16string kUnset;
    return IsSet(column) ? fields[static_cast<size_t>(column) - 1] : kUnset;
  }
};

bool IsWholeNumber(std::u16string_view field) {
  if (field.empty()) return false;
  for (char16_t c : field) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

// Checks the blank first record, which has the list's `columns` fields.
bool CheckFirstRecord(int32_t columns, const ListRecord& record, std::string* error) {
  if (columns < kRenameListColumns) {
    SetError(error, "the first record of the list has " + std::to_string(columns) +
                        " fields, fewer than " + std::to_string(kRenameListColumns));
    return false;
  }
  for (int32_t c = 1; c <= kRenameListColumns; ++c) {
    if (!record.Cell(c).empty()) {
      SetError(error, "record 1 is not the blank first record of a list (field " +
                          std::to_string(c) + " holds text)");
      return false;
    }
  }
  return true;
}

// Checks that a record after the first is a whole row: a short one or one
// whose numbers are not numbers is a sign of a cut or foreign file, which is
// not restored from.
bool CheckRow(const ListRecord& record, std::string* error) {
  auto fail = [&](const std::string& what) {
    SetError(error, "record " + std::to_string(record.number) + what);
    return false;
  };
  auto short_row = [] {
    return " has fewer than " + std::to_string(kRenameListColumns) + " fields";
  };
  if (!record.IsSet(kRenameListColumns)) return fail(short_row());
  for (int32_t c : kListNumberFields) {
    const std::u16string& field = record.Cell(c);
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

// A row of the table from a record after the first; `before` is the row
// read just before it, whose texts the row shares when they are the same.
void ReadRow(const ListRecord& record, const FileEntry& before, FileEntry& e) {
  SetShared(e.OldPath, record.Cell(kListOldPath), before.OldPath);
  e.OldName = record.Cell(kListOldName);
  const std::u16string& new_path = record.Cell(kListNewPath);
  SetShared(e.NewPath, new_path, e.OldPath == new_path ? e.OldPath : before.NewPath);
  SetShared(e.NewName, record.Cell(kListNewName), e.OldName);
  e.OldTitle = record.Cell(kListOldTitle);
  const std::u16string& old_artist = record.Cell(kListOldArtist);
  SetShared(e.OldArtist, old_artist, before.OldArtist);
  const std::u16string& old_album = record.Cell(kListOldAlbum);
  SetShared(e.OldAlbum, old_album, before.OldAlbum);
  SetShared(e.NewTitle, record.Cell(kListNewTitle), e.OldTitle);
  const std::u16string& new_artist = record.Cell(kListNewArtist);
  SetShared(e.NewArtist, new_artist, e.OldArtist == new_artist ? e.OldArtist : before.NewArtist);
  const std::u16string& new_album = record.Cell(kListNewAlbum);
  SetShared(e.NewAlbum, new_album, e.OldAlbum == new_album ? e.OldAlbum : before.NewAlbum);
  e.RenameFlag = ParseListFlag(record.Cell(kListRenameFlag));
  e.TagFlag = ParseListFlag(record.Cell(kListTagFlag));
  e.IsFile = ParseListFlag(record.Cell(kListIsFile));
}

// The rows of a list's text (row k at index k); false, with `error`, for a
// text that is not a whole list. The records are read one at a time into
// their rows, so that a list of a million rows never stands in memory as a
// table of texts too.
bool ReadRows(std::string_view bytes, ListEncoding encoding, EntryRows& rows, std::string* error) {
  if (!CheckLineEnds(bytes, error)) return false;
  EntryRows out(1);  // slot 0
  int32_t number = 0;
  bool whole = true;
  const int32_t records =
      ForEachCSVRecord(ListText(bytes, encoding), kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote,
                       [&](const std::vector<std::u16string>& fields, int32_t columns) {
                         const ListRecord record{fields, ++number};
                         if (record.number == 1) {
                           whole = CheckFirstRecord(columns, record, error);
                         } else if ((whole = CheckRow(record, error))) {
                           FileEntry& e = out.emplace_back();
                           ReadRow(record, out[out.size() - 2], e);
                         }
                         return whole;
                       });
  // A text that ends in CR LF holds at least one record, so the first
  // record's check has always been made.
  if (!whole) return false;
  if (records < 2) {
    SetError(error, N_("the list holds no rows after its blank first record"));
    return false;
  }
  rows.swap(out);
  return true;
}

// Which reading of a list the disk supports (see ChooseByDisk).
enum class DiskSays { kCodePage932, kUtf8, kBoth, kNeither };

// Of the rows of a list read as code page 932 (`a`) and as UTF-8 (`b`),
// which reading has names on disk, looking only at the names the two
// readings give differently (a name that reads the same either way tells
// nothing).
DiskSays ChooseByDisk(const EntryRows& a, const EntryRows& b, const ListPathExists& exists) {
  bool found[2] = {false, false};
  for (size_t i = 1; i < a.size() && i < b.size() && !(found[0] && found[1]); ++i) {
    const std::u16string new_a = a[i].NewPath.str() + a[i].NewName;
    const std::u16string new_b = b[i].NewPath.str() + b[i].NewName;
    const std::u16string old_a = a[i].OldPath.str() + a[i].OldName;
    const std::u16string old_b = b[i].OldPath.str() + b[i].OldName;
    if (new_a != new_b) {
      found[0] = found[0] || exists(new_a);
      found[1] = found[1] || exists(new_b);
    }
    if (old_a != old_b) {
      found[0] = found[0] || exists(old_a);
      found[1] = found[1] || exists(old_b);
    }
  }
  if (found[0] != found[1]) return found[0] ? DiskSays::kCodePage932 : DiskSays::kUtf8;
  return found[0] ? DiskSays::kBoth : DiskSays::kNeither;
}

// Whether an undo record belongs to the bytes this program writes for
// `rows`: a list re-saved in another encoding still has the rows it was
// written with.
bool RecordFitsRows(EntryRows& rows, const ListEncodingClues& clues) {
  RunState run;
  run.EntryTable.swap(rows);
  ListBytesKey key;
  FormatRenameList(run, static_cast<int32_t>(LastIndex(run)),
                   [&key](std::string_view piece) { key.Add(piece); });
  run.EntryTable.swap(rows);
  return clues.has_record(key);
}

// Which of two readings of a list without a byte-order mark (code page 932
// first) is the one it was written in, or -1 with `error`. An undo record
// that belongs to the bytes as they are says the list is as this program
// wrote it, so code page 932; one that belongs to what this program would
// write for one reading's rows says that reading. Else the names on disk
// decide; where they cannot and no record lies beside the list (a list
// written without one), it is read as this program writes such a list.
int ChooseReading(std::string_view bytes, EntryRows (&readings)[2], const ListEncodingClues& clues,
                  std::string* error) {
  if (clues.has_record) {
    if (clues.has_record(KeyOfListBytes(bytes))) return 0;
    const bool fits[2] = {RecordFitsRows(readings[0], clues), RecordFitsRows(readings[1], clues)};
    if (fits[0] != fits[1]) return fits[0] ? 0 : 1;
  }
  DiskSays disk =
      clues.exists ? ChooseByDisk(readings[0], readings[1], clues.exists) : DiskSays::kNeither;
  if (disk == DiskSays::kCodePage932) return 0;
  if (disk == DiskSays::kUtf8) return 1;
  if (disk == DiskSays::kNeither && !clues.record_beside) return 0;
  SetError(error,
           std::string("the list has no byte-order mark and reads both as UTF-8 and as code page "
                       "932, and ") +
               (disk == DiskSays::kBoth ? "names of both readings are on disk"
                                        : "neither its undo record nor the names on disk tell "
                                          "which it is") +
               "; save it again in UTF-8 with a byte-order mark, or in code page 932");
  return -1;
}

// The rows of a list's bytes, read in the encoding the list was written in
// (see ListEncodings); where that leaves two readings, `clues` choose (see
// ChooseReading), and without them the list is read as code page 932, as
// this program writes a list without a byte-order mark.
bool ReadListRows(std::string_view bytes, const ListEncodingClues* clues, EntryRows& rows,
                  std::string* error) {
  const std::string_view whole = bytes;
  std::vector<ListEncoding> encodings;
  if (!ListEncodings(bytes, encodings, error)) return false;
  if (encodings.size() == 1 || clues == nullptr) return ReadRows(bytes, encodings[0], rows, error);
  EntryRows readings[2];
  for (int i = 0; i < 2; ++i) {
    if (!ReadRows(bytes, encodings[i], readings[i], error)) return false;
  }
  const int chosen = ChooseReading(whole, readings, *clues, error);
  if (chosen < 0) return false;
  rows.swap(readings[chosen]);
  return true;
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
                       std::string* list_bytes, const ListEncodingClues* clues) {
  try {
    std::string bytes;
    TextReadResult read = ReadFileBytes(Utf16ToUtf8(FileName), bytes, kMaxListFileBytes);
    if (!read.ok()) {
      SetError(error, read.message);
      return 0;
    }
    // Built aside and swapped in, so a failure never leaves half a table.
    EntryRows rows;
    if (!ReadListRows(bytes, clues, rows, error)) return 0;
    run.EntryTable.swap(rows);
    if (list_bytes != nullptr) *list_bytes = std::move(bytes);
    return 1;
  } catch (const std::exception& e) {
    SetError(error, std::string("unexpected error: ") + e.what());
    return 0;
  }
}

}  // namespace tarvel
