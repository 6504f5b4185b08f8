#include "platform/counter_reading.h"

#include <algorithm>
#include <cstdint>

namespace tarvel {
namespace {

// The last spoken part of a number, in the order of CounterRow::changes.
enum class NumberEnd { kOne, kThree, kFour, kSix, kEight, kTen, kHundred, kThousand, kOther };

// Changes after 1, 3, 4, 6, 8, 10, 100, 1000. Most counters keep their
// sound (the number takes the change instead: いっかい, はっさつ).
constexpr std::string_view kH = "pb.ppppb";   // 本 杯 匹: いっぽん さんぼん よんほん
constexpr std::string_view kP = "pppppppp";   // 分 泊 発: いっぷん さんぷん よんぷん
constexpr std::string_view kP3 = "pp.ppppp";  // 歩 編 敗: いっぽ さんぽ よんほ
constexpr std::string_view kG = ".b.....b";   // 階 軒 足: さんがい せんがい

// A row with an empty reading has only special forms (つ).
constexpr CounterRow kCounters[] = {
    {u"本", u"ホン", kH},
    {u"杯", u"ハイ", kH},
    {u"匹", u"ヒキ", kH},
    {u"票", u"ヒョウ", kH},
    {u"分", u"フン", kP},
    {u"分間", u"フンカン", kP},
    {u"泊", u"ハク", kP},
    {u"発", u"ハツ", kP},
    {u"歩", u"ホ", kP3},
    {u"編", u"ヘン", kP3},
    {u"敗", u"ハイ", kP3},
    {u"版", u"ハン", kP3},
    {u"拍", u"ハク", kP3},
    {u"箱", u"ハコ", "p..pppp."},
    {u"羽", u"ワ", ".b.ppppb"},
    {u"階", u"カイ", kG},
    {u"軒", u"ケン", kG},
    {u"足", u"ソク", kG},
    {u"回", u"カイ"},
    {u"個", u"コ"},
    {u"歳", u"サイ"},
    {u"才", u"サイ"},
    {u"冊", u"サツ"},
    {u"枚", u"マイ"},
    {u"台", u"ダイ"},
    {u"着", u"チャク"},
    {u"点", u"テン"},
    {u"曲", u"キョク"},
    {u"人", u"ニン"},
    {u"名", u"メイ"},
    {u"日", u"ニチ"},
    {u"月", u"ガツ"},
    {u"年", u"ネン"},
    {u"年間", u"ネンカン"},
    {u"年生", u"ネンセイ"},
    {u"時", u"ジ"},
    {u"時間", u"ジカン"},
    {u"秒", u"ビョウ"},
    {u"週", u"シュウ"},
    {u"週間", u"シュウカン"},
    {u"度", u"ド"},
    {u"番", u"バン"},
    {u"倍", u"バイ"},
    {u"件", u"ケン"},
    {u"頭", u"トウ"},
    {u"錠", u"ジョウ"},
    {u"缶", u"カン"},
    {u"周", u"シュウ"},
    {u"話", u"ワ"},
    {u"巻", u"カン"},
    {u"章", u"ショウ"},
    {u"部", u"ブ"},
    {u"行", u"ギョウ"},
    {u"列", u"レツ"},
    {u"位", u"イ"},
    {u"円", u"エン"},
    {u"号", u"ゴウ"},
    {u"代", u"ダイ"},
    {u"期", u"キ"},
    {u"色", u"ショク"},
    {u"社", u"シャ"},
    {u"校", u"コウ"},
    {u"戦", u"セン"},
    {u"勝", u"ショウ"},
    {u"球", u"キュウ"},
    {u"席", u"セキ"},
    {u"隻", u"セキ"},
    {u"基", u"キ"},
    {u"両", u"リョウ"},
    {u"棟", u"トウ"},
    {u"室", u"シツ"},
    {u"畳", u"ジョウ"},
    {u"通", u"ツウ"},
    {u"組", u"クミ"},
    {u"段", u"ダン"},
    {u"問", u"モン"},
    {u"首", u"シュ"},
    {u"夜", u"ヤ"},
    {u"作", u"サク"},
    {u"弾", u"ダン"},
    {u"次", u"ジ"},
    {u"丁目", u"チョウメ"},
    {u"番地", u"バンチ"},
    {u"試合", u"シアイ"},
    {u"ヶ月", u"カゲツ"},
    {u"ヵ月", u"カゲツ"},
    {u"か月", u"カゲツ"},
    {u"カ月", u"カゲツ"},
    {u"ケ月", u"カゲツ"},
    {u"箇月", u"カゲツ"},
    {u"ヶ所", u"カショ"},
    {u"ヵ所", u"カショ"},
    {u"カ所", u"カショ"},
    {u"ケ所", u"カショ"},
    {u"か所", u"カショ"},
    {u"箇所", u"カショ"},
    {u"世紀", u"セイキ"},
    {u"輪", u"リン"},
    {u"次元", u"ジゲン"},
    {u"周年", u"シュウネン"},
    {u"年度", u"ネンド"},
    {u"学期", u"ガッキ"},
    {u"回戦", u"カイセン"},
    {u"人前", u"ニンマエ"},
    {u"合", u"ゴウ"},
    {u"つ", u""},
};

// Forms that replace the number as well as the counter.
struct SpecialForm {
  std::u16string_view counter;
  int value;
  std::u16string_view reading;
  bool after_month_only = false;  // 1日 is ついたち only as a date
};

constexpr SpecialForm kSpecialForms[] = {
    {u"人", 1, u"ヒトリ"},        {u"人", 2, u"フタリ"},   {u"日", 1, u"ツイタチ", true},
    {u"日", 2, u"フツカ"},        {u"日", 3, u"ミッカ"},   {u"日", 4, u"ヨッカ"},
    {u"日", 5, u"イツカ"},        {u"日", 6, u"ムイカ"},   {u"日", 7, u"ナノカ"},
    {u"日", 8, u"ヨウカ"},        {u"日", 9, u"ココノカ"}, {u"日", 10, u"トオカ"},
    {u"日", 14, u"ジュウヨッカ"}, {u"日", 20, u"ハツカ"},  {u"日", 24, u"ニジュウヨッカ"},
    {u"歳", 20, u"ハタチ"},       {u"才", 20, u"ハタチ"},  {u"つ", 1, u"ヒトツ"},
    {u"つ", 2, u"フタツ"},        {u"つ", 3, u"ミッツ"},   {u"つ", 4, u"ヨッツ"},
    {u"つ", 5, u"イツツ"},        {u"つ", 6, u"ムッツ"},   {u"つ", 7, u"ナナツ"},
    {u"つ", 8, u"ヤッツ"},        {u"つ", 9, u"ココノツ"},
};

struct TextReading {
  std::u16string_view text, reading;
};

// What may follow a counter and reads as part of it (3年目, 5分間, 1日中);
// alone it would read as a word of its own (目 め, 間 ま).
constexpr TextReading kSuffixes[] = {
    {u"目", u"メ"},   {u"間", u"カン"}, {u"後", u"ゴ"},     {u"前", u"マエ"},
    {u"半", u"ハン"}, {u"毎", u"ゴト"}, {u"中", u"ジュウ"}, {u"組", u"グミ"},
};

// How a kanji numeral reads before some counters (四時 よじ, 九月 くがつ).
struct NumeralBefore {
  std::u16string_view counter;
  int digit;
  std::u16string_view reading;
};
constexpr NumeralBefore kNumeralsBefore[] = {
    {u"時", 4, u"ヨ"},   {u"時", 7, u"シチ"}, {u"時", 9, u"ク"}, {u"時間", 4, u"ヨ"},
    {u"人", 4, u"ヨ"},   {u"年", 4, u"ヨ"},   {u"円", 4, u"ヨ"}, {u"月", 4, u"シ"},
    {u"月", 7, u"シチ"}, {u"月", 9, u"ク"},
};

// Numerals and a counter that together are a word of their own.
constexpr TextReading kNotCounts[] = {{u"十分", u"ジュウブン"}};

bool IsDigit(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'０' && c <= u'９'); }
int DigitValue(char16_t c) { return c <= u'9' ? c - u'0' : c - u'０'; }
bool IsSeparator(char16_t c) { return c == u'.' || c == u',' || c == u'．' || c == u'，'; }

const CounterRow* FindCounter(std::u16string_view text) {
  const CounterRow* best = nullptr;
  for (const CounterRow& row : kCounters) {
    if (text.starts_with(row.text) && (best == nullptr || row.text.size() > best->text.size())) {
      best = &row;
    }
  }
  return best;
}

const SpecialForm* FindSpecial(std::u16string_view counter, int64_t value, bool after_month) {
  for (const SpecialForm& s : kSpecialForms) {
    if (s.counter == counter && s.value == value && (after_month || !s.after_month_only)) {
      return &s;
    }
  }
  return nullptr;
}

// The end of a number given by its decimal digits, most significant first.
NumberEnd EndOf(std::u16string_view digits) {
  static constexpr NumberEnd kByDigit[] = {
      NumberEnd::kOther, NumberEnd::kOne, NumberEnd::kOther, NumberEnd::kThree, NumberEnd::kFour,
      NumberEnd::kOther, NumberEnd::kSix, NumberEnd::kOther, NumberEnd::kEight, NumberEnd::kOther};
  static constexpr NumberEnd kByPlace[] = {NumberEnd::kTen, NumberEnd::kHundred};
  size_t place = 0;  // zeros at the end
  while (place < digits.size() && DigitValue(digits[digits.size() - 1 - place]) == 0) ++place;
  if (place == digits.size()) return NumberEnd::kOther;  // zero reads ぜろ
  if (place == 0) return kByDigit[DigitValue(digits.back())];
  // Tens and hundreds; thousands and ten thousands (せん, まん) end in ん.
  return place <= 2 ? kByPlace[place - 1] : NumberEnd::kThousand;
}

std::u16string Changed(std::u16string_view reading, SoundChange change) {
  std::u16string out(reading);
  if (out.empty() || change == SoundChange::kNone) return out;
  char16_t& first = out[0];
  if (first == u'ワ') {
    first = change == SoundChange::kVoiced ? u'バ' : u'パ';
  } else if (first >= u'ハ' && first <= u'ホ' && (first - u'ハ') % 3 == 0) {
    first += change == SoundChange::kVoiced ? 1 : 2;
  } else if (change == SoundChange::kVoiced && first >= u'カ' && first <= u'ト') {
    // カ to ト: each unvoiced kana is followed by its voiced one (ッ aside).
    static constexpr std::u16string_view kUnvoiced = u"カキクケコサシスセソタチツテト";
    if (kUnvoiced.find(first) != std::u16string_view::npos) ++first;
  }
  return out;
}

std::u16string CounterReadingAfter(const CounterRow& row, NumberEnd end) {
  if (end == NumberEnd::kOther) return std::u16string(row.reading);
  const char change = row.changes[static_cast<size_t>(end)];
  return Changed(row.reading, static_cast<SoundChange>(change));
}

// The suffix at the start of `text`, if any.
const TextReading* FindSuffix(std::u16string_view text) {
  for (const TextReading& s : kSuffixes) {
    if (text.starts_with(s.text)) return &s;
  }
  return nullptr;
}

// Up to 18 digits as a value; more count as too large for a special form.
int64_t ValueOf(std::u16string_view digits) {
  if (digits.size() > 18) return -1;
  int64_t value = 0;
  for (char16_t c : digits) value = value * 10 + DigitValue(c);
  return value;
}

constexpr std::u16string_view kKanjiDigits = u"〇一二三四五六七八九";

// The value of kanji numerals: 二十三 23, 三百 300, 一万二千 12000; a run of
// digits alone is read place by place (二〇二〇 2020). Nothing for numerals
// that make no number (十十).
std::optional<int64_t> KanjiValue(std::u16string_view numerals) {
  if (numerals.empty() || numerals.size() > 12) return std::nullopt;
  if (numerals.find_first_not_of(kKanjiDigits) == std::u16string_view::npos) {
    int64_t value = 0;
    for (char16_t c : numerals) value = value * 10 + static_cast<int64_t>(kKanjiDigits.find(c));
    return value;
  }
  static constexpr std::u16string_view kUnits = u"十百千";
  int64_t total = 0, section = 0, digit = -1;
  size_t last_unit = kUnits.size();  // units within a section only go down
  for (char16_t c : numerals) {
    if (size_t d = kKanjiDigits.find(c); d != std::u16string_view::npos) {
      if (digit >= 0) return std::nullopt;
      digit = static_cast<int64_t>(d);
    } else if (size_t u = kUnits.find(c); u != std::u16string_view::npos) {
      static constexpr int64_t kUnitValues[] = {10, 100, 1000};
      if (u >= last_unit) return std::nullopt;
      last_unit = u;
      section += (digit >= 0 ? digit : 1) * kUnitValues[u];
      digit = -1;
    } else {  // 万
      if (total > 0) return std::nullopt;
      total += (section + std::max<int64_t>(digit, 0)) * 10000;
      section = 0;
      digit = -1;
      last_unit = kUnits.size();
    }
  }
  return total + section + std::max<int64_t>(digit, 0);
}

// How a number below ten thousand is spoken, the sound changes of its
// hundreds and thousands included (さんびゃく, はっせん).
std::u16string SpellBelow10000(int64_t n) {
  static constexpr std::u16string_view kDigits[] = {u"",   u"イチ", u"ニ",   u"サン", u"ヨン",
                                                    u"ゴ", u"ロク", u"ナナ", u"ハチ", u"キュウ"};
  struct Place {
    int64_t unit;
    std::u16string_view one, three, six, eight, name;
  };
  static constexpr Place kPlaces[] = {
      {1000, u"セン", u"サンゼン", u"ロクセン", u"ハッセン", u"セン"},
      {100, u"ヒャク", u"サンビャク", u"ロッピャク", u"ハッピャク", u"ヒャク"},
      {10, u"ジュウ", u"サンジュウ", u"ロクジュウ", u"ハチジュウ", u"ジュウ"},
  };
  std::u16string out;
  for (const Place& p : kPlaces) {
    const int64_t d = n / p.unit % 10;
    if (d == 0) continue;
    const std::u16string_view special[] = {u"", p.one, u"", p.three, u"", u"", p.six, u"", p.eight};
    if (d < 9 && !special[d].empty()) {
      out += special[d];
    } else {
      out += kDigits[d];
      out += p.name;
    }
  }
  out += kDigits[n % 10];
  return out;
}

std::u16string Spell(int64_t n) {
  if (n == 0) return u"ゼロ";
  std::u16string out;
  if (n >= 10000) {
    out = n / 10000 == 1 ? u"イチ" : SpellBelow10000(n / 10000 % 10000);
    out += u"マン";
  }
  return out + SpellBelow10000(n % 10000);
}

// Whether the number's last sound doubles before the counter's first one
// (いっぽん, はっさい, ろっかい, ひゃっぽん; but ろくさい, ひゃくてん).
bool Doubles(NumberEnd end, char16_t counter_first) {
  static constexpr std::u16string_view kKP = u"カキクケコパピプペポ";
  static constexpr std::u16string_view kST = u"サシスセソタチツテト";
  const bool kp = kKP.find(counter_first) != std::u16string_view::npos;
  const bool st = kST.find(counter_first) != std::u16string_view::npos;
  switch (end) {
    case NumberEnd::kOne:
    case NumberEnd::kEight:
    case NumberEnd::kTen:
      return kp || st;
    case NumberEnd::kSix:
    case NumberEnd::kHundred:
      return kp;
    default:
      return false;
  }
}

// The number spoken before the counter: 四時 よじ, 六本 ろっ(ぽん).
std::u16string SpellBefore(int64_t value, std::u16string_view counter, NumberEnd end,
                           char16_t counter_first) {
  for (const NumeralBefore& n : kNumeralsBefore) {
    if (n.counter == counter && value % 10 == n.digit) {
      return (value >= 10 ? Spell(value - n.digit) : u"") + std::u16string(n.reading);
    }
  }
  std::u16string out = Spell(value);
  if (Doubles(end, counter_first)) out.back() = u'ッ';
  return out;
}

NumberEnd EndOfValue(int64_t value) {
  std::u16string digits;
  for (; value > 0; value /= 10)
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
  return EndOf(digits);
}

}  // namespace

bool IsKanjiNumeral(char16_t c) {
  return kKanjiDigits.find(c) != std::u16string_view::npos || c == u'十' || c == u'百' ||
         c == u'千' || c == u'万' || c == u'何';
}

std::optional<std::u16string> ReadNumeralCount(std::u16string_view numerals,
                                               std::u16string_view counter, bool after_month) {
  for (const TextReading& word : kNotCounts) {
    if (word.text.size() == numerals.size() + counter.size() && word.text.starts_with(numerals) &&
        word.text.ends_with(counter)) {
      return std::u16string(word.reading);
    }
  }
  const CounterRow* row = FindCounter(counter);
  if (numerals == u"何" && row != nullptr && row->text == counter && !row->reading.empty()) {
    return u"ナン" + CounterReadingAfter(*row, NumberEnd::kThree);  // なんぼん, like さんぼん
  }
  const std::optional<int64_t> value = KanjiValue(numerals);
  if (row == nullptr || row->text != counter || !value) return std::nullopt;
  if (const SpecialForm* special = FindSpecial(row->text, *value, after_month)) {
    return std::u16string(special->reading);
  }
  if (row->reading.empty()) return std::nullopt;
  const NumberEnd end = EndOfValue(*value);
  std::u16string reading = CounterReadingAfter(*row, end);
  return SpellBefore(*value, row->text, end, reading[0]) + reading;
}

std::span<const CounterRow> Counters() { return kCounters; }

std::optional<DigitCount> ReadDigitCount(std::u16string_view text, size_t begin, size_t end,
                                         bool after_month) {
  size_t pos = begin;
  while (pos < end && IsDigit(text[pos])) ++pos;
  const std::u16string_view digits = text.substr(begin, pos - begin);
  // 2.5人 and 1,200人 are not 5人 and 200人 as far as special forms go.
  const bool whole = begin < 2 || !IsSeparator(text[begin - 1]) || !IsDigit(text[begin - 2]);
  // 100万回: the digits count ten thousands, which end in ん.
  const bool ten_thousands = pos < end && text[pos] == u'万';
  if (ten_thousands) ++pos;
  const NumberEnd number_end = ten_thousands ? NumberEnd::kThousand : EndOf(digits);
  DigitCount count;
  count.reading.assign(digits);
  if (ten_thousands) count.reading += u"マン";
  const CounterRow* row = FindCounter(text.substr(pos, end - pos));
  const SpecialForm* special = row != nullptr && whole && !ten_thousands
                                   ? FindSpecial(row->text, ValueOf(digits), after_month)
                                   : nullptr;
  if (row != nullptr && (special != nullptr || !row->reading.empty())) {
    count.reading = special != nullptr ? std::u16string(special->reading)
                                       : count.reading + CounterReadingAfter(*row, number_end);
    pos += row->text.size();
    count.month = row->text == u"月";
    if (const TextReading* suffix = FindSuffix(text.substr(pos, end - pos))) {
      count.reading += suffix->reading;
      pos += suffix->text.size();
    }
  } else if (!ten_thousands) {
    return std::nullopt;  // no counter (10つ is none either)
  }
  count.end = pos;
  return count;
}

}  // namespace tarvel
