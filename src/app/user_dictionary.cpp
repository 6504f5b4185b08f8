#include "app/user_dictionary.h"

#include <sys/stat.h>

#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/tables.h"
#include "platform/text.h"
#include "platform/text_file.h"

namespace tarvel {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'　'; }

std::u16string Trimmed(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return std::u16string(text);
}

// One record of the file: its bytes from `begin` to `end` (the line end
// included).
struct Record {
  size_t begin;
  size_t end;
};

// The records of a CSV file's bytes from `start`. A quote, a comma and a
// line end are single bytes that never occur inside a character of UTF-8
// or code page 932, so the bytes can be split without decoding them.
std::vector<Record> SplitRecords(std::string_view bytes, size_t start) {
  std::vector<Record> records;
  bool quoted = false;
  size_t begin = start;
  for (size_t i = start; i < bytes.size(); ++i) {
    if (bytes[i] == '"') quoted = !quoted;
    if (bytes[i] == '\n' && !quoted) {
      records.push_back({begin, i + 1});
      begin = i + 1;
    }
  }
  if (begin < bytes.size()) records.push_back({begin, bytes.size()});
  return records;
}

// The first field of a record's text, quotes taken off.
std::u16string FirstField(std::u16string_view record) {
  std::u16string field;
  if (record.empty() || record.front() != u'"') {
    size_t end = record.find_first_of(u",\r\n");
    return std::u16string(record.substr(0, end));
  }
  for (size_t i = 1; i < record.size(); ++i) {
    if (record[i] != u'"') {
      field += record[i];
    } else if (i + 1 < record.size() && record[i + 1] == u'"') {
      field += u'"';
      ++i;
    } else {
      break;
    }
  }
  return field;
}

std::u16string Quoted(std::u16string_view text) {
  std::u16string out = u"\"";
  for (char16_t c : text) {
    if (c == u'"') out += u'"';
    out += c;
  }
  out += u'"';
  return out;
}

// Why `search` → `replacement` cannot be a row; empty when it can.
std::u16string RowProblem(const std::u16string& search, const std::u16string& replacement) {
  if (search.empty()) return u"元の文字が空です。";
  if (replacement.empty()) return u"読みが空です。";
  for (const std::u16string* text : {&search, &replacement}) {
    if (text->find_first_of(u"\r\n") != std::u16string::npos) return u"改行は登録できません。";
  }
  if (IsLoopingRow(search, replacement)) {
    return u"読みが元の文字を含むため、変換が終わらなくなります。";
  }
  return {};
}

bool Fail(std::u16string* error, std::u16string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

std::u16string PathText(const std::filesystem::path& path) {
  return Utf8ToUtf16Lossy(path.native());
}

// The bytes of the file at `path`, empty when it is missing; nothing (with
// `error`) when it cannot be read.
std::optional<std::string> ReadDictionaryBytes(const std::filesystem::path& path,
                                               std::u16string* error) {
  std::string bytes;
  TextReadResult read = ReadFileBytes(path, bytes);
  if (read.ok()) return bytes;
  if (read.code == TextReadResult::Code::kNotFound) return std::string();
  Fail(error, u"辞書ファイルを読み込めません：" + Utf8ToUtf16Lossy(read.message));
  return std::nullopt;
}

}  // namespace

std::filesystem::path UserDictionaryPath(const AppFolder& folder) {
  const std::filesystem::path dir =
      folder.table_dirs.empty() ? folder.exe_dir : folder.table_dirs.front();
  if (auto found = FindFileIgnoringCase(dir, kDicFileName)) return *found;
  return dir / kDicFileName;
}

bool AddDictionaryRow(const AppFolder& folder, std::u16string_view search,
                      std::u16string_view replacement, std::u16string* error) {
  // In installed mode the installed rows apply after the user's own: a new
  // file of the user's holds only the user's rows.
  return AddDictionaryRowTo(UserDictionaryPath(folder), search, replacement, error);
}

bool AddDictionaryRowTo(const std::filesystem::path& path, std::u16string_view search_text,
                        std::u16string_view replacement_text, std::u16string* error) {
  const std::u16string search = Trimmed(search_text);
  const std::u16string replacement = Trimmed(replacement_text);
  if (std::u16string problem = RowProblem(search, replacement); !problem.empty()) {
    return Fail(error, problem);
  }
  // A linked table is changed where it lies; the link stays.
  std::error_code ec;
  std::filesystem::path target = path;
  if (std::filesystem::is_symlink(path, ec)) {
    target = std::filesystem::canonical(path, ec);
    if (ec) return Fail(error, u"辞書ファイルのリンク先が見つかりません：" + PathText(path));
  }
  std::optional<std::string> bytes = ReadDictionaryBytes(target, error);
  if (!bytes) return false;

  const bool marked = bytes->starts_with(kUtf8Mark);
  const bool utf8 = marked || IsValidUtf8(*bytes);
  const size_t newline = bytes->find('\n');
  const bool lf_only =
      newline != std::string::npos && (newline == 0 || (*bytes)[newline - 1] != '\r');
  std::u16string row = Quoted(search) + u"," + Quoted(replacement) + (lf_only ? u"\n" : u"\r\n");
  if (!utf8 && !SurvivesCp932(row)) {
    return Fail(error, u"辞書ファイルはShift_JISで書かれているため、この文字は登録できません：" +
                           search + u"," + replacement);
  }
  const std::string row_bytes = utf8 ? Utf16ToUtf8(row) : EncodeCp932(row);

  // Above the first row whose search text is part of the new one and not
  // longer (the same text included: the new reading is then found first).
  const std::vector<Record> records = SplitRecords(*bytes, marked ? kUtf8Mark.size() : 0);
  size_t at = bytes->size();
  for (const Record& r : records) {
    std::string_view record_bytes = std::string_view(*bytes).substr(r.begin, r.end - r.begin);
    std::u16string text = utf8 ? Utf8ToUtf16Lossy(record_bytes) : DecodeCp932(record_bytes);
    std::u16string field = FirstField(text);
    if (!field.empty() && field.size() <= search.size() &&
        search.find(field) != std::u16string::npos) {
      at = r.begin;
      break;
    }
  }
  std::string out = bytes->substr(0, at);
  if (at == bytes->size() && !out.empty() && out.back() != '\n') out += lf_only ? "\n" : "\r\n";
  out += row_bytes;
  out.append(*bytes, at, std::string::npos);

  std::filesystem::create_directories(target.parent_path(), ec);
  TextWriteResult written = WriteFileAtomically(target, out);
  if (!written.ok) {
    return Fail(error, u"辞書ファイルに書き込めません：" + Utf8ToUtf16Lossy(written.message));
  }
  return true;
}

bool ReloadDictionary(AppState& app, std::u16string* error) {
  CsvTable table;
  TableLoadResult loaded = LoadDictionary(app.folder.DictionaryFiles(), table);
  if (!loaded.loaded()) {
    return Fail(error, u"辞書ファイルを読み込めません：" + Utf8ToUtf16Lossy(loaded.message));
  }
  app.DicTable = std::move(table);
  return true;
}

}  // namespace tarvel
