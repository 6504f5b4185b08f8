// The width steps of the conversion chains: the reading of Japanese text in
// half-width katakana, and the check for characters still two bytes wide.
#ifndef TARVEL_RULES_KANA_CONVERSION_H_
#define TARVEL_RULES_KANA_CONVERSION_H_

#include <string>
#include <string_view>

#include "app/app_state.h"

namespace tarvel {

// Replaces the text by its reading from app.reading, in the half-width kana
// form (ToHalfWidthKana): kanji, hiragana and full-width katakana become
// half-width katakana, full-width Latin letters and digits become ASCII. Every
// text is handed to the reading service, empty and plain ASCII ones included.
// When the service is missing or fails, the log gets "漢字→ｶﾀｶﾅ変換機能は
// IME98がないと使用できません" and two CR LF pairs, the text is left as it
// was and the result is 0; 0 also on an unexpected error. 1 otherwise.
// A reading the service guessed (a word it does not know, read kanji by
// kanji) is said in the log ("読みを推測しました。", the text and what it
// became) and marked on the row.
int ConvertKanjiToKana(std::u16string& text, AppState& app);

// Looks for characters that take two bytes in code page 932 and never changes
// the text or the settings. Each one found writes three lines to the log
// (whatever FlagDisplayLog says), the last saying that the run goes on as a
// check-only one; `found` becomes true when there was at least one, and the
// caller switches the run to check-only. Returns 1, or 0 on an unexpected
// error.
int DetectFullWidthChars(const std::u16string& text, AppState& app, bool& found);

// The reading the reading service gives `text`, in full-width katakana, as
// the reading correction offers it to be changed; empty when there is none.
// Says nothing to the log.
std::u16string ReadingInKatakana(AppState& app, std::u16string_view text);

}  // namespace tarvel

#endif  // TARVEL_RULES_KANA_CONVERSION_H_
