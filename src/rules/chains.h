// The three conversion chains: one file name, one folder name, one tag text.
// Each runs its steps in a fixed order, each step only when its setting asks
// for it (settings are read afresh at every call). When a step fails, the
// chain writes a failure report (to the log when FlagDisplayLog is 1, else in
// a message box) naming the step and "処理を中断します。", runs no further
// step and returns 0, leaving the text as the earlier steps made it. The
// chains first compose the text (NFC), so a decomposed name, as files copied
// from a Mac carry, converts exactly as its composed form does.
//
// A character that the full-width check finds (a character still two bytes
// wide after the conversion) is logged, and the chain sets
// `*switch_to_check_only` (when given) to true: the caller turns the whole
// run into a check-only one. The chains never change the settings.
#ifndef TARVEL_RULES_CHAINS_H_
#define TARVEL_RULES_CHAINS_H_

#include <string>

#include "app/app_state.h"

namespace tarvel {

// A file name without its folder: dictionary, kana conversion, full-width
// check, invalid characters, extension, romaji, length limit. Governed by the
// file-name settings. Returns 1 when every enabled step completed.
int ConvertFileName(std::u16string& name, AppState& app, bool* switch_to_check_only = nullptr);

// A folder name: the file-name chain without the extension step, with the
// invalid characters blanked whatever the name's length, and its own length
// limit on the whole name. Governed by the file-name settings.
int ConvertFolderName(std::u16string& name, AppState& app, bool* switch_to_check_only = nullptr);

// One tag text (artist, album or title): dictionary, kana conversion,
// full-width check, romaji, then a silent cut to 30 characters once those
// succeeded. Governed by the ID3 settings.
int ConvertTagText(std::u16string& text, AppState& app, bool* switch_to_check_only = nullptr);

// The longest tag text the tag chain leaves, in characters.
inline constexpr size_t kTagTextLength = 30;

}  // namespace tarvel

#endif  // TARVEL_RULES_CHAINS_H_
