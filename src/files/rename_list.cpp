#include "files/rename_list.h"

#include <unistd.h>

#include <cerrno>
#include <functional>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "app/report.h"
#include "files/run_history.h"
#include "files/undo_record.h"
#include "platform/csv.h"
#include "platform/text.h"
#include "platform/text_file.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kWrittenText = u"変換リストをCSVファイルに出力しました。";
constexpr std::u16string_view kFileNameLabel = u"　ファイル名　：　";

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

// The 14 fields of one row, numbers as decimal text.
struct ListRecord {
  std::u16string number, rename, tag, is_file;
  std::u16string_view fields[kRenameListColumns];
  ListRecord(int32_t i, const FileEntry& e)
      : number(DecimalText(i)),
        rename(DecimalText(e.RenameFlag)),
        tag(DecimalText(e.TagFlag)),
        is_file(DecimalText(e.IsFile)),
        fields{number,     e.OldPath,  e.OldName,   e.NewPath,  e.NewName, e.OldTitle, e.OldArtist,
               e.OldAlbum, e.NewTitle, e.NewArtist, e.NewAlbum, rename,    tag,        is_file} {}
};

// The same choice as EncodeTextBytes (code page 932 when the text survives
// it, else UTF-8 behind a byte-order mark), made per distinct character: a
// list repeats a few hundred characters millions of times, and code page 932
// maps each character on its own, so the whole text survives exactly when
// each of its characters does.
bool ListSurvivesCp932(const RunState& run, int32_t count) {
  enum : uint8_t { kUnknown, kSurvives, kLost };
  std::vector<uint8_t> known(0x10000, kUnknown);
  for (int32_t i = 1; i <= count; ++i) {
    const FileEntry& e = run.EntryTable[static_cast<size_t>(i)];
    for (const std::u16string* text :
         {&e.OldPath.str(), &e.OldName, &e.NewPath.str(), &e.NewName, &e.OldTitle, &e.OldArtist,
          &e.OldAlbum, &e.NewTitle, &e.NewArtist, &e.NewAlbum}) {
      for (char16_t c : *text) {
        uint8_t& k = known[c];
        if (k == kUnknown) k = SurvivesCp932(std::u16string_view(&c, 1)) ? kSurvives : kLost;
        if (k == kLost) return false;
      }
    }
  }
  return true;
}

// The list's bytes handed to `sink` as they are made, a block of rows at a
// time, so that neither the whole text nor its bytes are ever held: in code
// page 932 when every text survives it, else UTF-8 with a byte-order mark.
// Lists are read by the mark alone, so code page 932 bytes that happen to
// form valid UTF-8 ("ﾃｽ" is C3 BD) still read back as written.
void WriteListBytes(const RunState& run, int32_t count,
                    const std::function<void(std::string_view)>& sink) {
  const bool cp932 = ListSurvivesCp932(run, count);
  if (!cp932) sink("\xEF\xBB\xBF");
  std::u16string chunk;
  auto flush = [&] {
    sink(cp932 ? EncodeCp932(chunk) : Utf16ToUtf8(chunk));
    chunk.clear();
  };
  const std::u16string_view blank[kRenameListColumns] = {};
  AppendCSVRecord(chunk, blank, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote);
  for (int32_t i = 1; i <= count; ++i) {
    ListRecord record(i, run.EntryTable[static_cast<size_t>(i)]);
    AppendCSVRecord(chunk, record.fields, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote);
    if (chunk.size() > 64 * 1024) flush();
  }
  flush();
}

// Puts the finished record (or, with `record` null, no record) and then the
// list in place. The record goes first, so that a list on disk always has its
// record beside it; should the list then fail to go in place, the record that
// was there is put back from a second name made for it beforehand, so that
// the old list keeps its own record. `touch_record` false leaves any record
// alone (a list written without one).
bool PutListInPlace(AtomicFileWriter& list, AtomicFileWriter* record, bool touch_record,
                    std::string* error) {
  const std::filesystem::path record_path = UndoRecordPath(list.path());
  // Beside the list's temporary file, whose name is unique.
  const std::string backup = list.temp_path() + ".undo";
  bool had_record = false, backed_up = false;
  if (touch_record) {
    backed_up = ::link(record_path.c_str(), backup.c_str()) == 0;
    // Without hard links (some file systems) the old record cannot be put
    // back, but it is not lost unless the list then fails to go in place.
    had_record = backed_up || errno != ENOENT;
    if (record != nullptr) {
      TextWriteResult r = record->Commit();
      if (!r.ok) {
        if (backed_up) ::unlink(backup.c_str());
        SetError(error, r.message);
        return false;
      }
    } else {
      // Nothing is to change (a check-only run): no record, and none left
      // over from an earlier list (which the history has kept).
      ::unlink(record_path.c_str());
    }
  }
  TextWriteResult written = list.Commit();
  if (!written.ok) {
    if (backed_up) {
      ::rename(backup.c_str(), record_path.c_str());
    } else if (touch_record && !had_record) {
      ::unlink(record_path.c_str());
    }
    SetError(error, written.message);
    return false;
  }
  if (backed_up) ::unlink(backup.c_str());
  return true;
}

}  // namespace

bool RenameListPath(const AppState& app, std::filesystem::path& path, std::u16string& shown,
                    std::string* error) {
  if (app.settings.FlagPathSaveCSV != 0) {
    const std::u16string& folder = app.settings.PathDataFolder;
    if (folder.empty()) {
      SetError(error, "no data folder is set");
      return false;
    }
    shown = folder;
    if (shown.back() != u'/') shown += u'/';
    shown += kRenameListName;
    path = Utf16ToUtf8(shown);
    return true;
  }
  std::optional<std::filesystem::path> folder = app.folder.ListFolder(error);
  if (!folder) return false;
  path = *folder / Utf16ToUtf8(kRenameListName);
  shown = Utf8ToUtf16Lossy(path.native());
  return true;
}

int32_t WriteRenameList(AppState& app, const RunState& run, std::u16string* written_path,
                        std::string* error, const UndoRecord* undo) {
  try {
    const int32_t count = run.EntryCount;
    if (count < 0 || static_cast<size_t>(count) >= run.EntryTable.size()) {
      SetError(error, "the table holds fewer rows than its count says");
      return 0;
    }
    std::filesystem::path path;
    std::u16string shown;
    if (!RenameListPath(app, path, shown, error)) return 0;
    // The list about to be replaced may be the only record of a run.
    if (!KeepPreviousList(app.folder, path, error)) return 0;

    // Both files are written whole under temporary names before either is
    // put in place; on any failure the writers remove their temporary files
    // and neither file on disk changes.
    AtomicFileWriter list(path);
    if (!list.ok()) {
      SetError(error, list.message());
      return 0;
    }
    uint64_t list_size = 0, list_hash = kListBytesHashStart;
    WriteListBytes(run, count, [&](std::string_view piece) {
      list_size += piece.size();
      list_hash = ListBytesHash(piece, list_hash);
      list.Append(piece);
    });
    if (!list.Finish()) {
      SetError(error, list.message());
      return 0;
    }
    std::optional<AtomicFileWriter> record;
    if (undo != nullptr && !undo->rows.empty()) {
      record.emplace(UndoRecordPath(path));
      WriteUndoRecord(*undo, list_size, list_hash,
                      [&](std::string_view piece) { record->Append(piece); });
      if (!record->Finish()) {
        SetError(error, record->message());
        return 0;
      }
    }
    if (!PutListInPlace(list, record ? &*record : nullptr, undo != nullptr, error)) return 0;

    std::u16string box(kWrittenText);
    box += u"\r\n";
    box += kFileNameLabel;
    box += shown;
    Report(app, u"\r\n" + box + u"\r\n\r\n", box);
    if (written_path != nullptr) *written_path = std::move(shown);
    return 1;
  } catch (const std::exception& e) {
    SetError(error, std::string("unexpected error: ") + e.what());
    return 0;
  }
}

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

namespace {

// Decodes a list's bytes by their byte-order mark alone: with one UTF-8,
// without code page 932 (a short code page 932 text is often valid UTF-8
// as well, so guessing would misread it). False, with `error`, for bytes
// that cannot be a list.
bool DecodeListBytes(std::string_view bytes, std::u16string& text, std::string* error) {
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
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

bool IsWholeNumber(std::u16string_view field) {
  if (field.empty()) return false;
  for (char16_t c : field) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

}  // namespace

int32_t ReadRenameList(std::u16string_view FileName, RunState& run, std::string* error,
                       std::string* list_bytes) {
  try {
    std::string bytes;
    TextReadResult read = ReadFileBytes(Utf16ToUtf8(FileName), bytes);
    if (!read.ok()) {
      SetError(error, read.message);
      return 0;
    }
    std::u16string text;
    if (!DecodeListBytes(bytes, text, error) || !CheckLineEnds(text, error)) return 0;
    CsvTable table;
    const int32_t records = ParseCSV(text, table, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote);
    text.clear();
    text.shrink_to_fit();
    if (records < 1) {
      SetError(error, "the list holds no record");
      return 0;
    }
    if (table.Columns() < kRenameListColumns) {
      SetError(error, "the first record of the list has " + std::to_string(table.Columns()) +
                          " fields, fewer than " + std::to_string(kRenameListColumns));
      return 0;
    }
    for (int32_t c = 1; c <= kRenameListColumns; ++c) {
      if (!table.Cell(c, 1).empty()) {
        SetError(error, "record 1 is not the blank first record of a list (field " +
                            std::to_string(c) + " holds text)");
        return 0;
      }
    }
    if (records < 2) {
      SetError(error, "the list holds no rows after its blank first record");
      return 0;
    }
    // Every row must be whole: a short one or one whose numbers are not
    // numbers is a sign of a cut or foreign file, which is not restored from.
    for (int32_t r = 2; r <= records; ++r) {
      if (!table.IsSet(kRenameListColumns, r)) {
        SetError(error, "record " + std::to_string(r) + " has fewer than " +
                            std::to_string(kRenameListColumns) + " fields");
        return 0;
      }
      for (int32_t c : {1, 12, 13, 14}) {
        // A quoted last field makes the parser count one field more, so a
        // row one field short shows as an empty number field.
        if (table.Cell(c, r).empty()) {
          SetError(error, "record " + std::to_string(r) + " has fewer than " +
                              std::to_string(kRenameListColumns) + " fields (field " +
                              std::to_string(c) + " is empty)");
          return 0;
        }
        if (!IsWholeNumber(table.Cell(c, r))) {
          SetError(error, "record " + std::to_string(r) + ", field " + std::to_string(c) +
                              ": not a whole number (" + Utf16ToUtf8(table.Cell(c, r)) + ")");
          return 0;
        }
      }
    }
    // Built aside and swapped in, so a failure never leaves half a table.
    EntryRows rows(static_cast<size_t>(records));
    for (int32_t r = 2; r <= records; ++r) {
      FileEntry& e = rows[static_cast<size_t>(r - 1)];
      const FileEntry& before = rows[static_cast<size_t>(r - 2)];
      SetPath(e.OldPath, table.Cell(2, r), before.OldPath);
      e.OldName = table.Cell(3, r);
      const std::u16string& new_path = table.Cell(4, r);
      SetPath(e.NewPath, new_path, e.OldPath == new_path ? e.OldPath : before.NewPath);
      e.NewName = table.Cell(5, r);
      e.OldTitle = table.Cell(6, r);
      e.OldArtist = table.Cell(7, r);
      e.OldAlbum = table.Cell(8, r);
      e.NewTitle = table.Cell(9, r);
      e.NewArtist = table.Cell(10, r);
      e.NewAlbum = table.Cell(11, r);
      e.RenameFlag = ParseListFlag(table.Cell(12, r));
      e.TagFlag = ParseListFlag(table.Cell(13, r));
      e.IsFile = ParseListFlag(table.Cell(14, r));
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
