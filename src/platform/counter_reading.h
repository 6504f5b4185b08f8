// Numbers with a counter after them (3本, 8杯, 2人, 7月1日, 二十歳): the
// counter's reading with the sound change its number calls for, and the
// special forms that replace the number (ひとり, ついたち, はたち, ひとつ).
// Pure text work on a fixed table; MeCab is not involved.
#ifndef TARVEL_PLATFORM_COUNTER_READING_H_
#define TARVEL_PLATFORM_COUNTER_READING_H_

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvel {

// How the first sound of a counter changes after a number.
enum class SoundChange : char {
  kNone = '.',
  kVoiced = 'b',      // ホン → ボン, カイ → ガイ, ワ → バ
  kHalfVoiced = 'p',  // ホン → ポン, ワ → パ
};

// One counter: how it is written, its reading after most numbers, and the
// change to that reading after a number whose last spoken part is 1, 3, 4,
// 6, 8, 10 (also 20, 30, …), 100 (also 200, …) and 1000 (also 2000, …, and
// ten thousands), in that order, one SoundChange character each.
struct CounterRow {
  std::u16string_view text;
  std::u16string_view reading;
  std::string_view changes = "........";
};

// Every counter known, longest written form first where one begins another.
std::span<const CounterRow> Counters();

// A number written in digits with the counter after it, read.
struct DigitCount {
  size_t end = 0;          // where the number, counter and suffix end in the text
  std::u16string reading;  // the digits as written and the counter's reading,
                           // or the special form that replaces the number
  bool month = false;      // the counter is 月: a day may follow (7月1日)
};

// Reads the digits that begin at `begin` (which must not follow another
// digit) and the counter right after them, within text[..end). A number
// that follows a decimal point or a thousands separator is only the tail
// of a number: its counter still takes the sound change, but no special
// form. `after_month` says the number follows a month (1日 is then
// ついたち). Nothing when no counter follows.
std::optional<DigitCount> ReadDigitCount(std::u16string_view text, size_t begin, size_t end,
                                         bool after_month);

// Whether the character is a kanji numeral (〇 一 … 九 十 百 千 万), or 何
// which counts like one (何本 なんぼん).
bool IsKanjiNumeral(char16_t c);

// The reading of kanji numerals and the counter after them (二人 ふたり,
// 三本 さんぼん, 六杯 ろっぱい, 二十歳 はたち), in katakana; a pair that is
// a word of its own reads as that word (十分 じゅうぶん). Nothing when
// `counter` is not a counter.
std::optional<std::u16string> ReadNumeralCount(std::u16string_view numerals,
                                               std::u16string_view counter, bool after_month);

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_COUNTER_READING_H_
