#include "platform/mecab_reading.h"

#include <mecab.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <vector>

#include "platform/counter_reading.h"
#include "platform/text.h"

namespace tarvel {
namespace {

constexpr char kDebianIpadicDir[] = "/var/lib/mecab/dic/ipadic-utf8";

bool IsKanji(UChar32 c) {
  if (c < 0x2E80) return false;  // below the CJK radicals nothing counts
  if (u_hasBinaryProperty(c, UCHAR_IDEOGRAPHIC)) return true;  // kanji, 〆, 〇
  UErrorCode status = U_ZERO_ERROR;
  return uscript_getScript(c, &status) == USCRIPT_HAN && U_SUCCESS(status);  // 々, 〻
}

bool ContainsKanji(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    UChar32 c;
    U16_NEXT(text.data(), i, text.size(), c);
    if (IsKanji(c)) return true;
  }
  return false;
}

// The eighth field of an IPA feature string (the reading), or empty when the
// token has none (unknown words carry fewer fields, some entries "*").
std::string_view ReadingField(const char* feature) {
  if (feature == nullptr) return {};
  std::string_view f(feature);
  size_t start = 0;
  for (int field = 0; field < 7; ++field) {
    size_t comma = f.find(',', start);
    if (comma == std::string_view::npos) return {};
    start = comma + 1;
  }
  size_t end = f.find(',', start);
  std::string_view reading = f.substr(start, end == std::string_view::npos ? f.npos : end - start);
  if (reading == "*") return {};
  return reading;
}

// UTF-8 for MeCab plus, for every byte offset, the index of the UTF-16 code
// unit that starts the character the byte belongs to (and the text's length
// at the end), so that token positions map back onto the original text. A
// lone surrogate goes to MeCab as U+FFFD; NUL as a space (MeCab would stop
// there). The original code units are what is copied back.
void EncodeWithOffsets(std::u16string_view text, std::string& utf8, std::vector<uint32_t>& map) {
  utf8.clear();
  map.clear();
  utf8.reserve(text.size() * 3);
  map.reserve(text.size() * 3 + 1);
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    UChar32 c = text[i++];
    if (U16_IS_LEAD(c) && i < text.size() && U16_IS_TRAIL(text[i])) {
      c = U16_GET_SUPPLEMENTARY(c, text[i++]);
    } else if (U16_IS_SURROGATE(c)) {
      c = 0xFFFD;
    } else if (c == 0) {
      c = u' ';
    }
    char buf[4];
    int32_t n = 0;
    U8_APPEND_UNSAFE(buf, n, c);
    utf8.append(buf, static_cast<size_t>(n));
    map.insert(map.end(), static_cast<size_t>(n), static_cast<uint32_t>(start));
  }
  map.push_back(static_cast<uint32_t>(text.size()));
}

bool IsDigit(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'０' && c <= u'９'); }

// The start of the IPA features of a counter suffix.
constexpr std::string_view kCounterFeature = "名詞,接尾,助数詞";
// The start of the IPA features of a numeral.
constexpr std::string_view kNumeralFeature = "名詞,数";

// Latin letters, spaces, punctuation and symbols, full-width ones included:
// what ends a stretch of text read on its own. A symbol never forms a word
// with Japanese text, but beside a word it changes how MeCab reads it (今～
// as the prefix こん). Digits are not among them: they decide how a counter
// reads (2人, 第1章). Surrogates stay in the stretch.
bool SeparatesStretches(char16_t c) {
  if (c < 0x80) return !(c >= u'0' && c <= u'9');
  if (U16_IS_SURROGATE(c)) return false;
  switch (u_charType(c)) {
    case U_MATH_SYMBOL:
    case U_CURRENCY_SYMBOL:
    case U_MODIFIER_SYMBOL:
    case U_OTHER_SYMBOL:
    case U_SPACE_SEPARATOR:
      return true;
    default:
      return u_ispunct(c);
  }
}

bool ContainsDigit(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), IsDigit);
}

bool AllDigits(std::u16string_view text) {
  for (char16_t c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

}  // namespace

struct MecabReadingService::Tagger {
  // Shared by the services of other threads; MeCab's model may make taggers
  // for several threads.
  std::shared_ptr<MeCab::Model> model;
  std::unique_ptr<MeCab::Tagger> tagger;
  std::unique_ptr<MeCab::Lattice> lattice;
  std::string utf8;  // kept to reuse their memory
  std::vector<uint32_t> map;
};

std::string DefaultMecabDictionaryDir() {
  const char* env = std::getenv("TARVEL_MECAB_DICDIR");
  if (env != nullptr && *env != '\0') return env;
  return kDebianIpadicDir;
}

MecabReadingService::MecabReadingService(std::string dictionary_dir, std::string user_dictionary)
    : dictionary_dir_(std::move(dictionary_dir)), user_dictionary_(std::move(user_dictionary)) {}

MecabReadingService::~MecabReadingService() = default;

bool MecabReadingService::IsAvailable() {
  if (tried_) return tagger_ != nullptr;
  tried_ = true;
  // A user dictionary that is missing or that MeCab refuses is left out: the
  // system dictionary alone still reads every text.
  if (!user_dictionary_.empty() && OpenTagger(true)) return true;
  return OpenTagger(false);
}

bool MecabReadingService::OpenTagger(bool with_user_dictionary) {
  try {
    // The system's mecabrc is left out (-r /dev/null): it may name another
    // dictionary, and only the IPA dictionary's feature layout is understood
    // here. Passing argv keeps a folder with spaces in its name whole.
    std::string program = "tarvel", rc_flag = "-r", rc = "/dev/null", dic_flag = "-d";
    std::string dir = dictionary_dir_, user_flag = "-u", user = user_dictionary_;
    char* argv[] = {program.data(), rc_flag.data(),   rc.data(),  dic_flag.data(),
                    dir.data(),     user_flag.data(), user.data()};
    auto t = std::make_unique<Tagger>();
    t->model.reset(MeCab::createModel(with_user_dictionary ? 7 : 5, argv));
    if (t->model) t->tagger.reset(t->model->createTagger());
    if (t->tagger) t->lattice.reset(t->model->createLattice());
    if (!t->lattice) {
      const char* why = MeCab::getLastError();
      error_ = why != nullptr && *why != '\0' ? why : "MeCab could not be opened";
      return false;
    }
    tagger_ = std::move(t);
    uses_user_dictionary_ = with_user_dictionary;
    error_.clear();
    return true;
  } catch (const std::exception& e) {
    error_ = e.what();
    return false;
  }
}

std::unique_ptr<ReadingService> MecabReadingService::NewForAnotherThread() {
  if (!IsAvailable()) return nullptr;
  auto t = std::make_unique<Tagger>();
  t->model = tagger_->model;
  t->tagger.reset(t->model->createTagger());
  if (t->tagger) t->lattice.reset(t->model->createLattice());
  if (!t->lattice) return nullptr;
  auto other = std::make_unique<MecabReadingService>(dictionary_dir_, user_dictionary_);
  other->tried_ = true;
  other->tagger_ = std::move(t);
  other->uses_user_dictionary_ = uses_user_dictionary_;
  return other;
}

void MecabReadingService::Rest() {
  tagger_.reset();
  tried_ = false;
  recent_used_ = 0;  // the dictionary may differ when it opens again
}

std::optional<std::u16string> MecabReadingService::GetPhonetic(std::u16string_view text) {
  guessed_ = false;
  if (!IsAvailable()) return std::nullopt;
  // Without a kanji or a digit every token would keep its surface.
  if (!ContainsKanji(text) && !ContainsDigit(text)) return std::u16string(text);
  // Only the stretches between Latin letters, spaces, punctuation and symbols
  // are read (" " and ".mp3" of a file name come back as they are): less
  // text to parse, a word is read without a neighbour pulling it into a
  // prefix or suffix reading (夜Blue, 今～), and the same album or artist
  // word in many names is found among the recent readings.
  std::u16string out;
  out.reserve(text.size() * 2);
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    const bool separator = SeparatesStretches(text[i]);
    while (j < text.size() && SeparatesStretches(text[j]) == separator) ++j;
    if (separator) {
      out.append(text.substr(i, j - i));
    } else if (!ReadStretch(text, i, j, out)) {
      return std::nullopt;
    }
    i = j;
  }
  return out;
}

bool MecabReadingService::ReadStretch(std::u16string_view text, size_t begin, size_t end,
                                      std::u16string& out) {
  // A number in digits with its counter is read from the counter table, the
  // digits kept (8杯 8ぱい, 2人 ふたり), never as a dictionary word that
  // happens to span them (2分 is not 二分 にぶん, half); what lies between
  // such counts goes to MeCab.
  bool after_month = false;
  size_t piece = begin;
  for (size_t k = begin; k < end;) {
    if (IsDigit(text[k]) && (k == 0 || !IsDigit(text[k - 1]))) {
      if (std::optional<DigitCount> count = ReadDigitCount(text, k, end, after_month)) {
        if (!ReadPiece(text, piece, k, out)) return false;
        out += count->reading;
        k = piece = count->end;
        after_month = count->month;
        continue;
      }
    }
    after_month = false;
    ++k;
  }
  return ReadPiece(text, piece, end, out);
}

bool MecabReadingService::ReadPiece(std::u16string_view text, size_t begin, size_t end,
                                    std::u16string& out) {
  std::u16string_view piece = text.substr(begin, end - begin);
  if (!ContainsKanji(piece)) {
    out.append(piece);
    return true;
  }
  std::optional<std::u16string> reading = ReadRun(piece);
  if (!reading) return false;
  out += *reading;
  return true;
}

std::optional<std::u16string> MecabReadingService::ReadRun(std::u16string_view text) {
  for (size_t i = 0; i < recent_used_; ++i) {
    if (recent_[i].text == text) {
      guessed_ = guessed_ || recent_[i].guessed;
      return recent_[i].reading;
    }
  }
  const bool guessed_before = guessed_;
  guessed_ = false;
  std::optional<std::u16string> reading = Parse(text);
  const bool guessed_here = guessed_;
  guessed_ = guessed_before || guessed_here;
  if (reading) {
    Recent& slot = recent_[recent_next_];
    slot.text.assign(text);
    slot.reading.assign(*reading);
    slot.guessed = guessed_here;
    recent_next_ = (recent_next_ + 1) % kRecent;
    if (recent_used_ < kRecent) ++recent_used_;
  }
  return reading;
}

struct MecabReadingService::Token {
  uint32_t gap = 0;    // where the white space MeCab skipped begins
  uint32_t begin = 0;  // the token's span of the text
  uint32_t end = 0;
  std::u16string reading;  // empty: the surface comes back
  bool number = false;     // digits
  bool counter = false;    // a counter suffix (人, 月, 日, …)
  bool unknown = false;    // a run of kanji the dictionary does not know
  bool numeral = false;    // kanji numerals (二, 十, 百)
};

bool MecabReadingService::Tokenize(std::u16string_view text, std::vector<Token>& tokens,
                                   uint32_t& tail) {
  Tagger& t = *tagger_;
  EncodeWithOffsets(text, t.utf8, t.map);
  t.lattice->set_sentence(t.utf8.data(), t.utf8.size());
  if (!t.tagger->parse(t.lattice.get())) return false;
  const char* base = t.utf8.data();
  size_t done = 0;  // byte offset up to which the text has been taken
  for (const MeCab::Node* node = t.lattice->bos_node(); node != nullptr; node = node->next) {
    if (node->stat == MECAB_BOS_NODE || node->stat == MECAB_EOS_NODE) continue;
    size_t begin = static_cast<size_t>(node->surface - base);
    size_t end = begin + node->length;
    if (begin < done || end > t.utf8.size()) return false;  // not in our sentence
    Token token;
    token.gap = t.map[done];
    token.begin = t.map[begin];
    token.end = t.map[end];
    std::u16string_view surface = text.substr(token.begin, token.end - token.begin);
    // A numeral that stands for a digit gives the digit back.
    token.number = !surface.empty() && AllDigits(surface);
    if (ContainsKanji(surface) && !token.number) {
      token.reading = Utf8ToUtf16Lossy(ReadingField(node->feature));
      token.counter = std::string_view(node->feature).starts_with(kCounterFeature);
      token.numeral = std::string_view(node->feature).starts_with(kNumeralFeature) &&
                      std::all_of(surface.begin(), surface.end(), IsKanjiNumeral);
      token.unknown = token.reading.empty() && node->stat == MECAB_UNK_NODE &&
                      u_countChar32(surface.data(), static_cast<int32_t>(surface.size())) > 1;
    }
    tokens.push_back(std::move(token));
    done = end;
  }
  tail = t.map[done];
  return true;
}

void MecabReadingService::NumberWithCounter(std::u16string_view text, const Token& number,
                                            Token& next) {
  // A counter the table does not know may read as a word of its own after
  // a number. Read after the numeral of the number's last digit it is a
  // counter, and its sound follows that digit, as it does in Japanese.
  std::optional<std::u16string> counter =
      CounterReading(text[number.end - 1], text.substr(next.begin, next.end - next.begin));
  if (counter) next.reading = std::move(*counter);
}

size_t MecabReadingService::NumeralCount(std::u16string_view text, const std::vector<Token>& tokens,
                                         size_t k, std::u16string& out) {
  // Kanji numerals, which MeCab gives one token each, and the counter after
  // them read together (二人 ふたり, 三本 さんぼん, 二十歳 はたち).
  size_t last = k;
  while (last + 1 < tokens.size() && tokens[last + 1].numeral &&
         tokens[last + 1].gap == tokens[last].end) {
    ++last;
  }
  if (last + 1 == tokens.size() || tokens[last + 1].gap != tokens[last].end) return 0;
  const Token& first = tokens[k];
  const Token& counter = tokens[last + 1];
  const bool after_month = first.begin > 0 && text[first.begin - 1] == u'月';
  std::optional<std::u16string> reading =
      ReadNumeralCount(text.substr(first.begin, counter.begin - first.begin),
                       text.substr(counter.begin, counter.end - counter.begin), after_month);
  if (!reading) return 0;
  out += *reading;
  return last + 2 - k;
}

std::optional<std::u16string> MecabReadingService::UnknownWordReading(std::u16string_view text,
                                                                      const Token& token) {
  // MeCab makes one unknown word of a run of kanji it does not know as a
  // word (湘南乃風, 聖飢魔), and such a word has no reading. Most of its
  // kanji are known on their own, so each is read alone: a reading from its
  // parts reaches the player, where the kanji would stop the run.
  std::u16string out;
  for (uint32_t i = token.begin; i < token.end;) {
    uint32_t next = i;
    U16_FWD_1(text.data(), next, token.end);
    std::optional<std::u16string> part = Parse(text.substr(i, next - i));
    if (!part) return std::nullopt;
    out += *part;
    i = next;
  }
  return out;
}

std::optional<std::u16string> MecabReadingService::Parse(std::u16string_view text) {
  try {
    // The tokens first, with their spans of the text; reading the words the
    // dictionary does not know parses again, which reuses the lattice.
    std::vector<Token> tokens;
    uint32_t tail = 0;
    if (!Tokenize(text, tokens, tail)) return std::nullopt;
    std::u16string out;
    out.reserve(text.size() * 2);
    for (size_t k = 0; k < tokens.size(); ++k) {
      const Token& token = tokens[k];
      out.append(text.substr(token.gap, token.begin - token.gap));
      if (size_t taken = token.numeral ? NumeralCount(text, tokens, k, out) : 0; taken > 0) {
        k += taken - 1;
        continue;
      }
      Token* next =
          k + 1 < tokens.size() && tokens[k + 1].gap == token.end ? &tokens[k + 1] : nullptr;
      if (token.number && next != nullptr && !next->reading.empty()) {
        NumberWithCounter(text, token, *next);
      }
      if (!token.reading.empty()) {
        out += token.reading;
      } else if (token.unknown) {
        std::optional<std::u16string> parts = UnknownWordReading(text, token);
        if (!parts) return std::nullopt;
        guessed_ = true;
        out += *parts;
      } else {
        out.append(text.substr(token.begin, token.end - token.begin));
      }
    }
    out.append(text.substr(tail));  // trailing blanks
    return out;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<std::u16string> MecabReadingService::CounterReading(char16_t digit,
                                                                  std::u16string_view word) {
  // Each digit as a numeral and that numeral's own reading; a ten stands
  // for 0 (十月 じゅうがつ gives 10月 its がつ).
  static constexpr char16_t kNumerals[] = u"十一二三四五六七八九";
  static constexpr std::u16string_view kNumeralReadings[] = {
      u"ジュウ", u"イチ", u"ニ", u"サン", u"ヨン", u"ゴ", u"ロク", u"ナナ", u"ハチ", u"キュウ"};
  const int value = digit <= u'9' ? digit - u'0' : digit - u'０';
  if (value < 0 || value > 9) return std::nullopt;
  std::u16string with_numeral(1, kNumerals[value]);
  with_numeral += word;
  std::optional<std::u16string> reading = WordReading(with_numeral);
  // Where the numeral itself sounds different in the word (一本 いっぽん),
  // the counter's part cannot be told apart: no reading.
  const std::u16string_view numeral = kNumeralReadings[value];
  if (!reading || reading->size() <= numeral.size() || !reading->starts_with(numeral)) {
    return std::nullopt;
  }
  return reading->substr(numeral.size());
}

std::optional<std::u16string> MecabReadingService::WordReading(std::u16string_view text) {
  Tagger& t = *tagger_;
  std::string utf8 = Utf16ToUtf8(text);
  MeCab::Lattice& lattice = *t.lattice;
  lattice.set_sentence(utf8.data(), utf8.size());
  if (!t.tagger->parse(&lattice)) return std::nullopt;
  // Of the dictionary's words that span the whole text, the commonest that
  // is not a name: 一人 is also a given name (カズト), which a title never
  // means.
  const MeCab::Node* best = nullptr;
  for (const MeCab::Node* node = lattice.begin_nodes(0); node != nullptr; node = node->bnext) {
    if (node->stat != MECAB_NOR_NODE || node->length != utf8.size()) continue;
    if (std::string_view(node->feature).find("固有名詞") != std::string_view::npos) continue;
    if (ReadingField(node->feature).empty()) continue;
    if (best == nullptr || node->wcost < best->wcost) best = node;
  }
  if (best == nullptr) return std::nullopt;
  return Utf8ToUtf16Lossy(ReadingField(best->feature));
}

}  // namespace tarvel
