#include "rules/table_substitution.h"

#include <cstdint>
#include <exception>
#include <string_view>

#include "app/tables.h"

namespace tarvel {
namespace {

// A 64-bit summary of the code units a text holds: a row whose first
// character's bit is missing cannot match, which spares most searches.
uint64_t CharMask(std::u16string_view text) {
  uint64_t mask = 0;
  for (char16_t c : text) mask |= uint64_t{1} << (c & 63);
  return mask;
}

bool MayContain(uint64_t mask, char16_t c) { return (mask >> (c & 63)) & 1; }

}  // namespace

int SubstituteByTable(std::u16string& text, const CsvTable& table) {
  if (text.empty()) return 1;
  try {
    if (!table.IsLoaded()) return 0;
    const bool has_replacement_column = table.Columns() >= 2;
    // Rows that loop without containing their own search text ("ab" → "bbaa"
    // on "aab") are cut off here: no sane table grows a name this much.
    const size_t max_length = text.size() * 64 + 1024;
    const size_t max_replacements = max_length;
    uint64_t mask = CharMask(text);
    const int32_t first = 1, last = table.Rows();
    for (int32_t row = first; row <= last; ++row) {
      const std::u16string& search = table.Cell(1, row);
      if (search.empty() || !MayContain(mask, search[0])) continue;
      size_t pos = text.find(search);
      if (pos == std::u16string::npos) continue;
      if (!has_replacement_column) return 0;
      const std::u16string& replacement = table.Cell(2, row);
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
      mask |= CharMask(replacement);
    }
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
