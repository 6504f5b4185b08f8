// The two table steps of the conversion chains: the user's dictionary
// (dic.csv) and the romaji table (Rome.csv).
#ifndef TARVEL_RULES_TABLE_SUBSTITUTION_H_
#define TARVEL_RULES_TABLE_SUBSTITUTION_H_

#include <string>

#include "app/app_state.h"
#include "platform/csv.h"

namespace tarvel {

// Replaces pieces of `text` by table, in place: for each row in file order,
// every occurrence of the search text (column 1, exact code-unit match) is
// replaced by the replacement (column 2), searching again from the first
// character after each replacement, so that a match made by a replacement is
// replaced too. Rows that could never end (empty search text, or replacement
// containing its search text) are skipped. Returns 1 when the table was
// applied; 0 when the table is not loaded, when a search text is found and the
// table has no second column, or when one row keeps growing the text without
// end (the text is then left as it was). An empty text is
// left alone with 1 whatever the table.
int SubstituteByTable(std::u16string& text, const CsvTable& table);

// The dictionary step: SubstituteByTable with app.DicTable.
int ApplyDictionary(std::u16string& text, AppState& app);

// The romaji step: SubstituteByTable with app.RomeTable (half-width katakana
// to Latin letters).
int ConvertToRomaji(std::u16string& text, AppState& app);

}  // namespace tarvel

#endif  // TARVEL_RULES_TABLE_SUBSTITUTION_H_
