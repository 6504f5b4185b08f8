#include "rules/kana_conversion.h"

#include <exception>
#include <optional>
#include <utility>

#include "platform/reading_service.h"
#include "platform/text.h"
#include "rules/rule_log.h"

namespace tarvel {

using rules_internal::AppendLog;

int ConvertKanjiToKana(std::u16string& text, AppState& app) {
  try {
    std::optional<std::u16string> reading;
    if (app.reading != nullptr) reading = app.reading->GetPhonetic(text);
    if (!reading) {
      AppendLog(app, u"漢字→ｶﾀｶﾅ変換機能はIME98がないと使用できません\r\n\r\n");
      return 0;
    }
    std::u16string converted = ToHalfWidthKana(*reading);
    if (app.reading->LastReadingGuessed()) {
      // A word the dictionary does not know was read kanji by kanji: said,
      // so that the user can add the right reading to dic.csv.
      std::u16string entry = u"読みを推測しました。\r\n　";
      entry += text;
      entry += u" → ";
      entry += converted;
      entry += u"\r\n　辞書ファイルに登録すると読みを直せます。\r\n";
      AppendLog(app, entry, kNoticeReadingGuess);
    }
    text = std::move(converted);
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

int DetectFullWidthChars(const std::u16string& text, AppState& app, bool& found) {
  try {
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
      if (!IsTwoByteChar(text[i])) continue;
      std::u16string entry = u"全角→半角に変換できなかった文字（";
      entry += text[i];
      entry +=
          u"）があります。\r\n"
          u"辞書ファイルに登録する事で回避できます。\r\n"
          u"オプションをチェックのみにして続行します\r\n";
      AppendLog(app, entry, kNoticeFullWidth);
      found = true;
    }
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

std::u16string ReadingInKatakana(AppState& app, std::u16string_view text) {
  if (app.reading == nullptr) return {};
  std::optional<std::u16string> reading = app.reading->GetPhonetic(ToNfc(text));
  return reading ? HiraganaToKatakana(*reading) : std::u16string();
}

}  // namespace tarvel
