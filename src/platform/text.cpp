#include "platform/text.h"

#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <array>
#include <bitset>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace tarvel {
namespace {

icu::UnicodeString ToUnicode(std::u16string_view text) {
  return icu::UnicodeString(false, text.data(), static_cast<int32_t>(text.size()));
}

std::u16string FromUnicode(const icu::UnicodeString& text) {
  return std::u16string(text.getBuffer(), text.getBuffer() + text.length());
}

// One converter per thread: ICU converters keep state and are not shared.
UConverter* Cp932Converter() {
  struct Holder {
    UConverter* cnv = nullptr;
    Holder() {
      UErrorCode status = U_ZERO_ERROR;
      cnv = ucnv_open("windows-31j", &status);
      if (U_FAILURE(status)) throw std::runtime_error("code page 932 converter unavailable");
      ucnv_setFallback(cnv, true);
      status = U_ZERO_ERROR;
      ucnv_setSubstChars(cnv, "?", 1, &status);
    }
    ~Holder() { ucnv_close(cnv); }
  };
  thread_local Holder holder;
  return holder.cnv;
}

// Transliterators are expensive to make (about 20 ms for the first), so each
// thread makes them once and keeps them.
icu::Transliterator* MakeTransliterator(const char16_t* id) {
  UErrorCode status = U_ZERO_ERROR;
  icu::Transliterator* t =
      icu::Transliterator::createInstance(icu::UnicodeString(id), UTRANS_FORWARD, status);
  if (U_FAILURE(status) || t == nullptr) throw std::runtime_error("ICU transliterator unavailable");
  return t;
}

icu::Transliterator& HalfWidthKanaTransliterator() {
  // The width step is limited to CJK punctuation, kana and the full-width ASCII
  // block: unfiltered it would also turn ￥ into ¥ and the like, which code
  // page 932 cannot hold.
  thread_local std::unique_ptr<icu::Transliterator> t(MakeTransliterator(
      u"Hiragana-Katakana; [[\\u3000-\\u30FF][\\uFF01-\\uFF5E]] Fullwidth-Halfwidth"));
  return *t;
}

icu::Transliterator& HiraganaKatakanaTransliterator() {
  thread_local std::unique_ptr<icu::Transliterator> t(MakeTransliterator(u"Hiragana-Katakana"));
  return *t;
}

bool HasHiragana(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x3041 && c <= 0x309F) return true;
  }
  return false;
}

// Only these code units have a half-width kana form that differs from them:
// CJK punctuation, hiragana and katakana, and the full-width ASCII block.
constexpr char16_t kKanaBlockFirst = 0x3000, kKanaBlockLast = 0x30FF;
constexpr char16_t kWideAsciiFirst = 0xFF01, kWideAsciiLast = 0xFF5E;

bool HasHalfWidthForm(char16_t c) {
  return (c >= kKanaBlockFirst && c <= kKanaBlockLast) ||
         (c >= kWideAsciiFirst && c <= kWideAsciiLast);
}

// Characters outside the two blocks are untouched by the half-width kana form;
// this lets plain Latin names skip the table.
bool NeedsWidthConversion(std::u16string_view text) {
  for (char16_t c : text) {
    if (HasHalfWidthForm(c)) return true;
  }
  return false;
}

// Kana that have no half-width form of their own, given the nearest one so
// that they reach a player that shows only one-byte characters. They are
// narrowed here, after the reading, and never by the dictionary: the reading
// service needs them to read a word (三ヶ月 is サンカゲツ, not サンケツキ).
// A hiragana is listed where its katakana has no form either.
constexpr std::pair<char16_t, std::u16string_view> kKanaWithoutHalfWidthForm[] = {
    {u'ヶ', u"ｹ"},  {u'ゖ', u"ｹ"},  {u'ヵ', u"ｶ"},  {u'ゕ', u"ｶ"},  {u'ヮ', u"ﾜ"},
    {u'ゎ', u"ﾜ"},  {u'ヰ', u"ｲ"},  {u'ゐ', u"ｲ"},  {u'ヱ', u"ｴ"},  {u'ゑ', u"ｴ"},
    {u'ヸ', u"ｲﾞ"}, {u'ヹ', u"ｴﾞ"}, {u'〆', u"ｼﾒ"}, {u'ヿ', u"ｺﾄ"}, {u'ゟ', u"ﾖﾘ"},
};

// The iteration marks ゝ ヽ (repeat the kana before) and ゞ ヾ (repeat it
// voiced).
bool IsIterationMark(char16_t c) { return c == u'ゝ' || c == u'ゞ' || c == u'ヽ' || c == u'ヾ'; }
bool IsVoicedIterationMark(char16_t c) { return c == u'ゞ' || c == u'ヾ'; }

constexpr char16_t kHalfVoicedMark = u'ﾞ', kHalfSemiVoicedMark = u'ﾟ';

// Half-width kana that take the voiced sound mark: ｶ to ﾄ, ﾊ to ﾎ and ｳ.
bool TakesVoicedMark(char16_t c) {
  return (c >= u'ｶ' && c <= u'ﾄ') || (c >= u'ﾊ' && c <= u'ﾎ') || c == u'ｳ';
}

// What an iteration mark stands for, given the half-width text before it:
// the last kana without its sound mark, voiced for ゞ ヾ where it can be. A
// mark with no kana right before it keeps the length it stands for as ｰ.
std::u16string RepeatedKana(std::u16string_view before, char16_t mark) {
  size_t end = before.size();
  if (end > 0 && (before[end - 1] == kHalfVoicedMark || before[end - 1] == kHalfSemiVoicedMark))
    --end;
  if (end == 0 || before[end - 1] < u'ｦ' || before[end - 1] > u'ﾝ') return u"ｰ";
  std::u16string kana(1, before[end - 1]);
  if (IsVoicedIterationMark(mark) && TakesVoicedMark(kana[0])) kana += kHalfVoicedMark;
  return kana;
}

// The half-width kana form of every code unit of the two blocks, made once per
// thread by ICU's transliterators on each unit alone. The form is defined
// character by character, so a text converts as the concatenation of its
// characters' forms; the table costs a lookup per character where
// transliterating the whole text costs microseconds, and it keeps ICU's
// normalisation side effects (reordering combining marks, decomposing
// squared katakana) out of the result, so every character gets the same form
// whatever stands next to it.
struct HalfWidthKanaTable {
  std::array<std::u16string, kKanaBlockLast - kKanaBlockFirst + 1> kana;
  std::array<std::u16string, kWideAsciiLast - kWideAsciiFirst + 1> wide;

  HalfWidthKanaTable() {
    icu::Transliterator& t = HalfWidthKanaTransliterator();
    auto form = [&t](char16_t c) {
      icu::UnicodeString s(c);
      t.transliterate(s);
      return FromUnicode(s);
    };
    for (char16_t c = kKanaBlockFirst; c <= kKanaBlockLast; ++c)
      kana[c - kKanaBlockFirst] = form(c);
    for (char16_t c = kWideAsciiFirst; c <= kWideAsciiLast; ++c)
      wide[c - kWideAsciiFirst] = form(c);
    for (const auto& [c, narrow] : kKanaWithoutHalfWidthForm) kana[c - kKanaBlockFirst] = narrow;
  }
  const std::u16string& Form(char16_t c) const {
    return c <= kKanaBlockLast ? kana[c - kKanaBlockFirst] : wide[c - kWideAsciiFirst];
  }
};

const HalfWidthKanaTable& HalfWidthKanaForms() {
  thread_local const HalfWidthKanaTable table;
  return table;
}

void AppendCodePoint(std::u16string& out, UChar32 c) {
  if (c <= 0xFFFF) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    out.push_back(U16_LEAD(c));
    out.push_back(U16_TRAIL(c));
  }
}

// A character composes with the one before it when NFC has no boundary
// before it: a combining mark, or a mark that may combine (U+3099, Hangul
// vowels and finals). Nothing below U+0300 does.
bool Composes(const icu::Normalizer2& nfc, UChar32 c) {
  return c >= 0x300 && !nfc.hasBoundaryBefore(c);
}

// Where the stretch of the mark at `mark` begins: at the character the mark
// belongs to, never before `floor` (the text already copied).
size_t StretchBegin(const icu::Normalizer2& nfc, std::u16string_view text, size_t floor,
                    size_t mark) {
  if (mark <= floor) return mark;
  size_t previous = mark;
  UChar32 p;
  U16_PREV(text.data(), floor, previous, p);
  return Composes(nfc, p) ? mark : previous;
}

// Where a stretch whose marks reach `end` ends: at the next character that
// does not compose with the one before it.
size_t StretchEnd(const icu::Normalizer2& nfc, std::u16string_view text, size_t end) {
  const size_t n = text.size();
  while (end < n) {
    size_t next = end;
    UChar32 m;
    U16_NEXT(text.data(), next, n, m);
    if (!Composes(nfc, m)) break;
    end = next;
  }
  return end;
}

const std::bitset<65536>& TwoByteTable() {
  static const std::bitset<65536> table = [] {
    std::bitset<65536> bits;
    UConverter* cnv = Cp932Converter();
    char out[8];
    for (uint32_t c = 0x80; c <= 0xFFFF; ++c) {
      if (U16_IS_SURROGATE(c)) continue;
      char16_t unit = static_cast<char16_t>(c);
      UErrorCode status = U_ZERO_ERROR;
      int32_t n = ucnv_fromUChars(cnv, out, sizeof out, &unit, 1, &status);
      if (U_SUCCESS(status) && n == 2) bits.set(c);
    }
    return bits;
  }();
  return table;
}

}  // namespace

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
  const int64_t length = static_cast<int64_t>(utf8.size());
  int64_t i = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) return std::nullopt;
    AppendCodePoint(out, c);
  }
  return out;
}

std::u16string Utf8ToUtf16Lossy(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
  const int64_t length = static_cast<int64_t>(utf8.size());
  int64_t i = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT_OR_FFFD(s, i, length, c);
    AppendCodePoint(out, c);
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out(text.size() * 3, '\0');
  char* p = out.data();
  size_t i = 0;
  while (i < text.size()) {
    uint32_t c = text[i++];
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (U16_IS_LEAD(c) && i < text.size() && U16_IS_TRAIL(text[i])) {
      c = U16_GET_SUPPLEMENTARY(c, text[i++]);
    } else if (U16_IS_SURROGATE(c)) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {
      *p++ = static_cast<char>(0xF0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  out.resize(static_cast<size_t>(p - out.data()));
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
  const int64_t length = static_cast<int64_t>(bytes.size());
  int64_t i = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

std::string EscapeBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out.push_back(static_cast<char>(b));
    } else {
      out += "\\x";
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 15]);
    }
  }
  return out;
}

std::string EncodeCp932(std::u16string_view text) {
  if (text.empty()) return {};
  UConverter* cnv = Cp932Converter();
  std::string out(text.size() * 2 + 2, '\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(cnv, out.data(), static_cast<int32_t>(out.size()), text.data(),
                              static_cast<int32_t>(text.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(n + 1);
    status = U_ZERO_ERROR;
    n = ucnv_fromUChars(cnv, out.data(), static_cast<int32_t>(out.size()), text.data(),
                        static_cast<int32_t>(text.size()), &status);
  }
  if (U_FAILURE(status)) return std::string(text.size(), '?');
  out.resize(n);
  return out;
}

std::u16string DecodeCp932(std::string_view bytes) {
  if (bytes.empty()) return {};
  UConverter* cnv = Cp932Converter();
  std::u16string out(bytes.size() + 2, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(cnv, out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                            static_cast<int32_t>(bytes.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(n + 1);
    status = U_ZERO_ERROR;
    n = ucnv_toUChars(cnv, out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                      static_cast<int32_t>(bytes.size()), &status);
  }
  if (U_FAILURE(status)) return std::u16string(bytes.size(), u'\uFFFD');
  out.resize(n);
  return out;
}

bool SurvivesCp932(std::u16string_view text) {
  if (IsAscii(text)) return true;
  return DecodeCp932(EncodeCp932(text)) == text;
}

bool IsTwoByteChar(char16_t c) { return c >= 0x80 && TwoByteTable().test(c); }

size_t Cp932Length(std::u16string_view text) { return EncodeCp932(text).size(); }

std::u16string ToHalfWidthKana(std::u16string_view text) {
  if (!NeedsWidthConversion(text)) return std::u16string(text);
  const HalfWidthKanaTable& table = HalfWidthKanaForms();
  std::u16string out;
  out.reserve(text.size() + text.size() / 2);
  for (char16_t c : text) {
    if (IsIterationMark(c)) {
      out += RepeatedKana(out, c);
    } else if (HasHalfWidthForm(c)) {
      out += table.Form(c);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::u16string HiraganaToKatakana(std::u16string_view text) {
  if (!HasHiragana(text)) return std::u16string(text);
  icu::UnicodeString s(text.data(), static_cast<int32_t>(text.size()));
  HiraganaKatakanaTransliterator().transliterate(s);
  return FromUnicode(s);
}

std::u16string ComparisonKey(std::u16string_view text) {
  if (IsAscii(text)) {
    std::u16string key(text);
    for (char16_t& c : key) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    }
    return key;
  }
  std::u16string kata = HiraganaToKatakana(text);
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkc_cf = icu::Normalizer2::getNFKCCasefoldInstance(status);
  if (U_FAILURE(status)) return kata;
  icu::UnicodeString key = nfkc_cf->normalize(ToUnicode(kata), status);
  if (U_FAILURE(status)) return kata;
  return FromUnicode(key);
}

bool TextEquals(std::u16string_view a, std::u16string_view b) {
  if (a == b) return true;
  return ComparisonKey(a) == ComparisonKey(b);
}

std::u16string DecimalText(int64_t n) {
  std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string ToNfc(std::u16string_view text) {
  // Only stretches that hold a mark which composes with the character before
  // it (a combining mark, a voiced sound mark U+3099, a Hangul vowel or final)
  // are composed. Applying NFC to the whole text would also replace the CJK
  // compatibility ideographs (神 U+FA19) and singletons such as Ω U+2126,
  // which code page 932 and the names on disk hold as they are.
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) return std::u16string(text);
  std::u16string out;
  size_t copied = 0;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const size_t start = i;
    UChar32 c;
    U16_NEXT(text.data(), i, n, c);
    if (!Composes(*nfc, c)) continue;
    // The stretch runs from the character the mark belongs to up to the next
    // character that does not compose with the one before it.
    const size_t begin = StretchBegin(*nfc, text, copied, start);
    const size_t end = StretchEnd(*nfc, text, i);
    icu::UnicodeString composed =
        nfc->normalize(ToUnicode(text.substr(begin, end - begin)), status);
    if (U_FAILURE(status)) return std::u16string(text);
    out.append(text.substr(copied, begin - copied));
    out += FromUnicode(composed);
    copied = end;
    i = end;
  }
  if (copied == 0) return std::u16string(text);
  out.append(text.substr(copied));
  return out;
}

}  // namespace tarvel
