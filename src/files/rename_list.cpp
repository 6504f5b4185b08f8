#include "files/rename_list.h"

#include <limits>
#include <utility>
#include <vector>

#include "app/report.h"
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
         {&e.OldPath, &e.OldName, &e.NewPath, &e.NewName, &e.OldTitle, &e.OldArtist, &e.OldAlbum,
          &e.NewTitle, &e.NewArtist, &e.NewAlbum}) {
      for (char16_t c : *text) {
        uint8_t& k = known[c];
        if (k == kUnknown) k = SurvivesCp932(std::u16string_view(&c, 1)) ? kSurvives : kLost;
        if (k == kLost) return false;
      }
    }
  }
  return true;
}

// The whole list as bytes, built and encoded a block of rows at a time so
// that no second copy of every text is held.
std::string BuildListBytes(const RunState& run, int32_t count, bool cp932) {
  std::string bytes = cp932 ? std::string() : std::string("\xEF\xBB\xBF");
  std::u16string chunk;
  auto flush = [&] {
    bytes += cp932 ? EncodeCp932(chunk) : Utf16ToUtf8(chunk);
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
  return bytes;
}

// The list in code page 932 when every text survives it and the reader will
// not take the bytes for UTF-8 (a list of half-width kana names such as
// "ﾃｽ" can be valid UTF-8 and would read back as other names); else UTF-8.
std::string BuildListBytes(const RunState& run, int32_t count) {
  if (ListSurvivesCp932(run, count)) {
    std::string bytes = BuildListBytes(run, count, true);
    if (!IsValidUtf8(bytes)) return bytes;
    if (Utf8ToUtf16(bytes) == DecodeCp932(bytes)) return bytes;
  }
  return BuildListBytes(run, count, false);
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
                        std::string* error) {
  try {
    const int32_t count = run.EntryCount;
    if (count < 0 || static_cast<size_t>(count) >= run.EntryTable.size()) {
      SetError(error, "the table holds fewer rows than its count says");
      return 0;
    }
    std::string bytes = BuildListBytes(run, count);

    std::filesystem::path path;
    std::u16string shown;
    if (!RenameListPath(app, path, shown, error)) return 0;
    TextWriteResult written = WriteFileAtomically(path, bytes);
    if (!written.ok) {
      SetError(error, written.message);
      return 0;
    }

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

int32_t ReadRenameList(std::u16string_view FileName, RunState& run, std::string* error) {
  try {
    TextReadResult read = ReadTextFile(Utf16ToUtf8(FileName));
    if (!read.ok()) {
      SetError(error, read.message);
      return 0;
    }
    CsvTable table;
    const int32_t records =
        ParseCSV(read.text, table, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote);
    read.text.clear();
    read.text.shrink_to_fit();
    if (records < 1) {
      SetError(error, "the list holds no record");
      return 0;
    }
    if (table.Columns() < kRenameListColumns) {
      SetError(error, "the first record of the list has " + std::to_string(table.Columns()) +
                          " fields, fewer than " + std::to_string(kRenameListColumns));
      return 0;
    }
    // Built aside and swapped in, so a failure never leaves half a table.
    std::vector<FileEntry> rows(static_cast<size_t>(records));
    for (int32_t r = 2; r <= records; ++r) {
      FileEntry& e = rows[static_cast<size_t>(r - 1)];
      e.OldPath = table.Cell(2, r);
      e.OldName = table.Cell(3, r);
      e.NewPath = table.Cell(4, r);
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
    return 1;
  } catch (const std::exception& e) {
    SetError(error, std::string("unexpected error: ") + e.what());
    return 0;
  }
}

}  // namespace tarvel
