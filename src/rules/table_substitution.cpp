#include "rules/table_substitution.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <queue>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/tables.h"

namespace tarvel {
namespace {

// A table prepared for substitution: its rows copied out once, and for every
// code unit the rows whose search text starts with it, in file order. A text
// of twenty characters then looks only at the few rows that could match
// instead of at every row of the table.
struct PreparedTable {
  uint64_t version = 0;
  bool has_replacement_column = false;
  std::vector<std::u16string> search, replacement;  // index 0 unused
  std::unordered_map<char16_t, std::vector<int32_t>> rows_by_first;
};

const PreparedTable& Prepare(const CsvTable& table) {
  // A few tables are in use at once (the dictionary, the romaji table, test
  // tables); each is kept until its contents change.
  thread_local std::unordered_map<const CsvTable*, PreparedTable> cache;
  PreparedTable& prepared = cache[&table];
  if (prepared.version == table.version() && prepared.version != 0) return prepared;
  prepared = PreparedTable{};
  prepared.version = table.version();
  prepared.has_replacement_column = table.Columns() >= 2;
  const int32_t rows = table.Rows();
  prepared.search.resize(static_cast<size_t>(rows) + 1);
  prepared.replacement.resize(static_cast<size_t>(rows) + 1);
  for (int32_t row = 1; row <= rows; ++row) {
    prepared.search[row] = table.Cell(1, row);
    prepared.replacement[row] = table.Cell(2, row);
    if (!prepared.search[row].empty()) {
      prepared.rows_by_first[prepared.search[row][0]].push_back(row);
    }
  }
  return prepared;
}

// Adds to `pending` the rows after `after` whose search text starts with a
// code unit of `text`.
void AddCandidates(const PreparedTable& table, std::u16string_view text, int32_t after,
                   std::priority_queue<int32_t, std::vector<int32_t>, std::greater<>>& pending) {
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (text.substr(0, i).find(c) != std::u16string_view::npos) continue;  // seen already
    auto it = table.rows_by_first.find(c);
    if (it == table.rows_by_first.end()) continue;
    const auto& rows = it->second;
    for (auto r = std::upper_bound(rows.begin(), rows.end(), after); r != rows.end(); ++r) {
      pending.push(*r);
    }
  }
}

}  // namespace

int SubstituteByTable(std::u16string& result, const CsvTable& table) {
  if (result.empty()) return 1;
  try {
    // Worked on a copy: a substitution that fails half way (a runaway row
    // cut off) leaves the caller's text as it was.
    std::u16string text = result;
    if (!table.IsLoaded()) return 0;
    const PreparedTable& prepared = Prepare(table);
    // Rows that loop without containing their own search text ("ab" → "bbaa"
    // on "aab") are cut off here: no sane table grows a name this much.
    const size_t max_length = text.size() * 64 + 1024;
    const size_t max_replacements = max_length;
    // Rows are taken strictly in file order. Only a row whose first code unit
    // is in the text can match; a replacement may bring in new code units,
    // whose later rows join the queue then.
    std::priority_queue<int32_t, std::vector<int32_t>, std::greater<>> pending;
    AddCandidates(prepared, text, 0, pending);
    int32_t previous = 0;
    while (!pending.empty()) {
      const int32_t row = pending.top();
      pending.pop();
      if (row == previous) continue;
      previous = row;
      const std::u16string& search = prepared.search[row];
      size_t pos = text.find(search);
      if (pos == std::u16string::npos) continue;
      if (!prepared.has_replacement_column) return 0;
      const std::u16string& replacement = prepared.replacement[row];
      if (IsLoopingRow(search, replacement)) continue;
      const size_t d = search.size();
      size_t count = 0;
      while (pos != std::u16string::npos) {
        text.replace(pos, d, replacement);
        if (text.size() > max_length || ++count > max_replacements) return 0;
        // The text before `pos` held no match, so a new match (one the
        // replacement made across its joint) starts at most d - 1 code units
        // earlier: searching from there finds the same first occurrence as a
        // search from the first character.
        pos = text.find(search, pos >= d - 1 ? pos - (d - 1) : 0);
      }
      AddCandidates(prepared, replacement, row, pending);
    }
    result = std::move(text);
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

int ApplyDictionary(std::u16string& text, AppState& app) {
  return SubstituteByTable(text, app.DicTable);
}

int ConvertToRomaji(std::u16string& text, AppState& app) {
  return SubstituteByTable(text, app.RomeTable);
}

}  // namespace tarvel
