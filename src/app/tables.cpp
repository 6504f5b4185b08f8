#include "app/tables.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "app/app_state.h"
#include "platform/text.h"
#include "platform/text_file.h"
#include "platform/translatable.h"

namespace tarvel {
namespace {

std::u16string Widen(std::string_view utf8) { return Utf8ToUtf16Lossy(utf8); }

// The path for a message: as it stands when it is UTF-8, else escaped.
std::string DisplayPath(const std::filesystem::path& path) {
  return IsValidUtf8(path.native()) ? path.native() : EscapeBytes(path.native());
}

std::u16string Number(int64_t n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

}  // namespace

std::u16string NormalizeLineEnds(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out.push_back(u'\r');
    out.push_back(text[i]);
  }
  return out;
}

void CheckTable(const CsvTable& table, std::string_view file_name, TableLoadResult& result) {
  const std::u16string name = Widen(file_name);
  result.looping_rows.clear();
  result.lacks_replacement_column = table.IsLoaded() && table.Columns() < 2;
  if (result.lacks_replacement_column) {
    result.notices.push_back(
        name +
        u": the first line has a single field, so the table has no replacement column "
        u"(later lines' second fields are dropped too); a conversion stops when one of "
        u"its search texts is found");
  }
  for (int32_t r = 1; r <= table.Rows(); ++r) {
    const std::u16string& search = table.Cell(1, r);
    const std::u16string& replacement = table.Cell(2, r);
    if (!IsLoopingRow(search, replacement)) continue;
    result.looping_rows.push_back(r);
    if (result.looping_rows.size() > kMaxLoopingRowNotices) continue;
    result.notices.push_back(u"row " + Number(r) + u" of " + name + u" ignored: " +
                             (search.empty() ? u"the search text is empty"
                                             : u"the replacement contains the search text"));
  }
  if (result.looping_rows.size() > kMaxLoopingRowNotices) {
    result.notices.push_back(
        Number(static_cast<int64_t>(result.looping_rows.size() - kMaxLoopingRowNotices)) +
        u" more rows of " + name + u" ignored for the same reasons");
  }
}

TableLoadResult LoadTable(const std::optional<std::filesystem::path>& path,
                          std::string_view file_name, CsvTable& table) {
  using Status = TableLoadResult::Status;
  TableLoadResult result;
  table.Clear();
  if (!path) {
    result.status = Status::kAbsent;
    result.message = std::string(file_name) + N_(": not found");
    return result;
  }
  result.path = *path;
  try {
    TextReadResult read = ReadTextFile(*path);
    switch (read.code) {
      case TextReadResult::Code::kOk:
        break;
      case TextReadResult::Code::kNotFound:
        result.status = Status::kAbsent;
        result.message = read.message;
        return result;
      case TextReadResult::Code::kNotAFile:
      case TextReadResult::Code::kReadError:
      case TextReadResult::Code::kTooLarge:
        result.status = Status::kUnreadable;
        result.message = read.message;
        return result;
    }
    const std::u16string text = NormalizeLineEnds(read.text);
    read.text.clear();
    read.text.shrink_to_fit();
    if (ParseCSV(text, table, kCsvFieldSeparator, kCsvLineSeparator, kCsvQuote) == 0) {
      table.Clear();
      result.status = Status::kEmpty;
      result.message = DisplayPath(*path) + N_(": the table is empty");
      return result;
    }
    result.status = Status::kLoaded;
    CheckTable(table, file_name, result);
  } catch (const std::exception& e) {
    // Only memory exhaustion can get here (a huge table).
    table.Clear();
    result.status = Status::kUnreadable;
    result.looping_rows.clear();
    result.notices.clear();
    result.message = DisplayPath(*path) + N_(": cannot load the table (") + e.what() + ")";
  }
  return result;
}

std::vector<std::u16string> StartupTableNotices(const StartupTablesResult& result) {
  std::vector<std::u16string> lines = result.dic.notices;
  if (result.dic.loaded() && !result.rome.loaded() &&
      result.rome.status != TableLoadResult::Status::kAbsent) {
    lines.push_back(Widen(result.rome.message) + u" (the romaji conversion is unavailable)");
  }
  lines.insert(lines.end(), result.rome.notices.begin(), result.rome.notices.end());
  return lines;
}

TableLoadResult LoadDictionary(const std::vector<std::filesystem::path>& files, CsvTable& table) {
  if (files.size() < 2) {
    return LoadTable(files.empty() ? std::nullopt : std::make_optional(files.front()), kDicFileName,
                     table);
  }
  CsvTable own;
  TableLoadResult mine = LoadTable(files.front(), kDicFileName, own);
  TableLoadResult result = LoadTable(files.back(), kDicFileName, table);
  if (!mine.loaded()) {
    if (mine.status != TableLoadResult::Status::kAbsent) {
      result.notices.insert(result.notices.begin(),
                            Widen(mine.message) + u" (only the installed dic.csv is used)");
    }
    return result;
  }
  mine.notices.insert(mine.notices.end(), result.notices.begin(), result.notices.end());
  if (!result.loaded()) {
    if (result.status != TableLoadResult::Status::kAbsent) {
      mine.notices.push_back(Widen(result.message) + u" (only your own dic.csv is used)");
    }
    table = std::move(own);
    return mine;
  }
  // Yours first: the substitution goes through the rows in order.
  CsvTable both(std::max(own.Columns(), table.Columns()), 0);
  for (const CsvTable* part : {&own, &table}) {
    for (int32_t r = 1; r <= part->Rows(); ++r) {
      std::vector<std::u16string> cells;
      for (int32_t c = 1; c <= part->Columns() && part->IsSet(c, r); ++c) {
        cells.push_back(part->Cell(c, r));
      }
      both.AddRow(std::move(cells));
    }
  }
  table = std::move(both);
  mine.looping_rows.clear();  // row numbers of the files, not of the joined table
  return mine;
}

StartupTablesResult LoadTables(AppState& state) {
  StartupTablesResult result;
  state.RomeTable.Clear();
  result.dic = LoadDictionary(state.folder.DictionaryFiles(), state.DicTable);
  if (!result.dic.loaded()) return result;
  result.rome = LoadTable(state.folder.FindTable(kRomeFileName), kRomeFileName, state.RomeTable);
  return result;
}

StartupTablesResult LoadTables(AppState& state,
                               const std::optional<std::filesystem::path>& dic_path,
                               const std::optional<std::filesystem::path>& rome_path) {
  StartupTablesResult result;
  state.RomeTable.Clear();
  result.dic = LoadTable(dic_path, kDicFileName, state.DicTable);
  if (!result.dic.loaded()) return result;
  result.rome = LoadTable(rome_path, kRomeFileName, state.RomeTable);
  return result;
}

}  // namespace tarvel
