// Adding a row to the user's own dic.csv, as the change table's reading
// correction does: the row goes above every shorter row whose search text
// it contains (the substitution works through the rows in order, so a
// shorter row taken first would break the longer word), in the file's own
// encoding and line ends; every other byte of the file stays as it was.
#ifndef TARVEL_APP_USER_DICTIONARY_H_
#define TARVEL_APP_USER_DICTIONARY_H_

#include <filesystem>
#include <string>
#include <string_view>

#include "app/app_folder.h"

namespace tarvel {

struct AppState;

// The dic.csv a user edits: in portable mode the one beside the program; in
// installed mode the one in the user's settings folder (which is read
// before the installed one), whether it exists yet or not.
std::filesystem::path UserDictionaryPath(const AppFolder& folder);

// Adds `"search","replacement"` to the user's dic.csv, made when missing
// (in installed mode the installed rows apply after it; see
// AppFolder::DictionaryFiles). Blanks around both texts are dropped. False, with
// `error` (Japanese, for the user), when the row cannot be a table row or
// the file cannot be read or written; the file is then as it was.
bool AddDictionaryRow(const AppFolder& folder, std::u16string_view search,
                      std::u16string_view replacement, std::u16string* error);

// The same on the file at `path`, which is made when missing.
bool AddDictionaryRowTo(const std::filesystem::path& path, std::u16string_view search,
                        std::u16string_view replacement, std::u16string* error);

// Loads the dictionary again (as start-up does) into `app.DicTable`; the
// table stays as it was when that fails, with `error`.
bool ReloadDictionary(AppState& app, std::u16string* error);

}  // namespace tarvel

#endif  // TARVEL_APP_USER_DICTIONARY_H_
