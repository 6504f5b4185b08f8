// Text services over ICU: UTF-8/UTF-16 conversion, code page 932 (Microsoft's
// Shift_JIS), the half-width kana form and the key under which two texts
// compare equal. Text in memory is UTF-16; lengths count UTF-16 code units.
#ifndef TARVEL_PLATFORM_TEXT_H_
#define TARVEL_PLATFORM_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// True when every code unit is ASCII (below U+0080); such a text reads the
// same in UTF-8, code page 932 and UTF-16, so the callers skip ICU for it.
inline bool IsAscii(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}
// True when every byte is ASCII (below 0x80).
inline bool IsAscii(std::string_view bytes) {
  for (char b : bytes) {
    if (static_cast<unsigned char>(b) >= 0x80) return false;
  }
  return true;
}

// UTF-8 → UTF-16. Empty when the bytes are not valid UTF-8 (names on disk
// that are not UTF-8 are left alone by the callers).
std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8);
// UTF-8 → UTF-16 with U+FFFD for each malformed sequence.
std::u16string Utf8ToUtf16Lossy(std::string_view utf8);
// UTF-16 → UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// True when the bytes form valid UTF-8.
bool IsValidUtf8(std::string_view bytes);
// The name as UTF-8 with every byte outside printable ASCII written \xNN, for
// messages about names that could not be decoded.
std::string EscapeBytes(std::string_view bytes);

// Encodes to code page 932 with Windows' best-fit fallbacks (〜 U+301C gives
// 0x8160); a character it cannot hold becomes '?'.
std::string EncodeCp932(std::u16string_view text);
// Decodes code page 932; a byte sequence it does not know becomes U+FFFD
// (or U+001A for a single unknown byte).
std::u16string DecodeCp932(std::string_view bytes);
// True when encoding to code page 932 and decoding again gives back the same
// text (〜 U+301C does not: it comes back as ～ U+FF5E).
bool SurvivesCp932(std::u16string_view text);
// True when the code unit takes two bytes in code page 932. A character the
// code page cannot encode (and a lone surrogate) counts as one byte, since it
// would be written as '?'.
bool IsTwoByteChar(char16_t c);
// Number of code page 932 bytes the text takes (as EncodeCp932 would write it).
size_t Cp932Length(std::u16string_view text);

// The half-width kana form: hiragana become katakana; full-width Latin,
// digits and punctuation become ASCII; U+3000 becomes a space; katakana and
// Japanese punctuation become their half-width forms, a voiced kana being
// split into base + U+FF9E/U+FF9F. Kana without a half-width form of their
// own take the nearest one (ヶ→ｹ, ヵ→ｶ, ヮ→ﾜ, ヰ→ｲ, ヱ→ｴ, 〆→ｼﾒ), and the
// iteration marks repeat the kana before them (いすゞ→ｲｽｽﾞ, こゝろ→ｺｺﾛ).
// Kanji and symbols without a half-width form stay as they are.
std::u16string ToHalfWidthKana(std::u16string_view text);

// Hiragana → katakana. Text with no hiragana comes back as it is; in text
// with some, ICU's transliterator also writes a few other characters in
// full (ヿ → コト, ㋐ → ア, ｶ → カ), which the comparison key, its only user,
// folds the same way anyway.
std::u16string HiraganaToKatakana(std::u16string_view text);

// The key of text comparison: two texts that differ only in letter case,
// full/half width or hiragana/katakana have equal keys. Usable as a hash key.
std::u16string ComparisonKey(std::u16string_view text);
// Equality under text comparison.
bool TextEquals(std::u16string_view a, std::u16string_view b);

// A number in plain decimal digits ("-1", "30"), as the texts of reports,
// lists and settings write it.
std::u16string DecimalText(int64_t n);

// Canonical composition (NFC) of the stretches that hold a combining mark,
// so that a decomposed name (as files copied from a Mac carry) converts as
// the composed one does. Everything else keeps its code units: a text
// without combining marks comes back as it was, compatibility ideographs
// (U+F900–U+FAFF) and singletons such as Ω U+2126 included.
std::u16string ToNfc(std::u16string_view text);

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_TEXT_H_
