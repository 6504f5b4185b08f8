// The conversion tables dic.csv (required) and Rome.csv (optional), loaded
// once at start-up from the application folder.
#ifndef TARVEL_APP_TABLES_H_
#define TARVEL_APP_TABLES_H_

#include <string_view>

namespace tarvel {

// A table row whose substitution could never end: an empty search text, or a
// replacement that contains its own search text (each replacement would
// create a new match). Such rows are kept in the table as loaded but the
// substitution skips them, and start-up names them in the log.
inline bool IsLoopingRow(std::u16string_view search, std::u16string_view replacement) {
  return search.empty() || replacement.find(search) != std::u16string_view::npos;
}

}  // namespace tarvel

#endif  // TARVEL_APP_TABLES_H_
