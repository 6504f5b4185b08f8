// The conversion tables dic.csv (required) and Rome.csv (optional), loaded
// once at start-up from the application folder.
#ifndef TARVEL_APP_TABLES_H_
#define TARVEL_APP_TABLES_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_folder.h"  // kDicFileName, kRomeFileName
#include "platform/csv.h"

namespace tarvel {

struct AppState;

// A table row whose substitution could never end: an empty search text, or a
// replacement that contains its own search text (each replacement would
// create a new match). Such rows are kept in the table as loaded but the
// substitution skips them, and start-up names them in the log.
inline bool IsLoopingRow(std::u16string_view search, std::u16string_view replacement) {
  return search.empty() || replacement.find(search) != std::u16string_view::npos;
}

// Shown (title "QX", OK only) when the dictionary cannot be loaded; the
// program then ends.
inline constexpr std::u16string_view kDictionaryMissingMessage =
    u"全角→半角 変換辞書が見つかりません";

// At most this many looping rows are named one by one in the notices; the
// rest are summed up in one more line (all of them stay in looping_rows).
inline constexpr size_t kMaxLoopingRowNotices = 100;

// What became of loading one table file.
struct TableLoadResult {
  enum class Status {
    kLoaded,      // the table holds at least one row
    kAbsent,      // no such file
    kEmpty,       // the file holds no record (an empty file, or one character)
    kUnreadable,  // not a plain file, no permission, read error or too large
  };
  Status status = Status::kAbsent;
  // The file that was read, when one was found.
  std::optional<std::filesystem::path> path;
  // Why the table is not loaded, naming the file (UTF-8); empty when loaded.
  std::string message;
  // Remarks on a loaded table, one line each without a line end: looping
  // rows (which the substitution skips) and a table without a replacement
  // column.
  std::vector<std::u16string> notices;
  // The rows (from 1) that IsLoopingRow rejects, in file order.
  std::vector<int32_t> looping_rows;
  // True when the first record has a single field, so the table has no
  // replacement column (a substitution that finds one of its search texts
  // fails).
  bool lacks_replacement_column = false;

  bool loaded() const { return status == Status::kLoaded; }
};

// Turns every line feed that does not follow a carriage return into CR LF,
// so that tables saved by editors that end lines with LF alone read the same
// as ones saved on Windows (a quoted field keeps its CR LF as it stands).
std::u16string NormalizeLineEnds(std::u16string_view text);

// Loads one table file into `table`: reads it (UTF-8 with or without a
// byte-order mark, else code page 932), turns lone LF line ends into CR LF
// and parses it as CSV ("," fields, CR LF lines, '"' quotes). `path` is the
// file the application folder found, or nothing when there is none;
// `file_name` names the table in messages. The table is left unloaded unless
// the result is kLoaded. Never throws.
TableLoadResult LoadTable(const std::optional<std::filesystem::path>& path,
                          std::string_view file_name, CsvTable& table);

// Loads the dictionary from `files` (AppFolder::DictionaryFiles) into
// `table`: one file as LoadTable does; two (the user's, then the installed
// one) as one table, the user's rows first. A user's file that cannot be
// loaded is passed over with a notice, so the installed table still works.
TableLoadResult LoadDictionary(const std::vector<std::filesystem::path>& files, CsvTable& table);

// The notices of a loaded table (looping rows, missing replacement column),
// as LoadTable fills them; `file_name` names the table in each line.
void CheckTable(const CsvTable& table, std::string_view file_name, TableLoadResult& result);

// What start-up loading of both tables came to.
struct StartupTablesResult {
  TableLoadResult dic;
  TableLoadResult rome;  // not attempted (kAbsent, no message) when dic failed
  // The dictionary is absent, empty or unreadable: the front end shows
  // kDictionaryMissingMessage (and may log dic.message) and ends.
  bool dictionary_missing() const { return !dic.loaded(); }
};

// The lines a front end writes to its log after start-up (without line
// ends): the notices of both tables and, for a Rome.csv that exists but could
// not be loaded, why. An absent Rome.csv is not mentioned; a missing
// dictionary is the caller's to show (kDictionaryMissingMessage, with
// dic.message for detail).
std::vector<std::u16string> StartupTableNotices(const StartupTablesResult& result);

// The dictionary made of `state.folder`'s DictionaryFiles into
// state.DicTable and, when it loaded, Rome.csv from its table folders, as
// start-up loads them.
StartupTablesResult LoadTables(AppState& state);
// Loads dic.csv into state.DicTable and, when the dictionary loaded,
// Rome.csv into state.RomeTable (left unloaded when absent, empty or
// unreadable). The paths are those the application folder found.
StartupTablesResult LoadTables(AppState& state,
                               const std::optional<std::filesystem::path>& dic_path,
                               const std::optional<std::filesystem::path>& rome_path);

}  // namespace tarvel

#endif  // TARVEL_APP_TABLES_H_
