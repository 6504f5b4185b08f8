// The reading service on MeCab with the UTF-8 IPA dictionary.
#ifndef TARVEL_PLATFORM_MECAB_READING_H_
#define TARVEL_PLATFORM_MECAB_READING_H_

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reading_service.h"

namespace tarvel {

// Where the IPA dictionary is looked for: $TARVEL_MECAB_DICDIR when set and
// not empty, else Debian's /var/lib/mecab/dic/ipadic-utf8.
std::string DefaultMecabDictionaryDir();

// Reads Japanese text with MeCab. Only tokens that contain a kanji take the
// dictionary's reading, and numbers with a counter after them (3本 3ぼん,
// 2つ ふたつ) the counter table's; every other character, white space and
// symbols included, comes back unchanged and in place. The MeCab model,
// tagger and lattice are made on first use and kept for the life of the object (making them takes
// tens of milliseconds, a conversion then about 2 µs). If they cannot be made (library or
// dictionary missing) every call fails. Not thread-safe: one caller at a time; another thread
// takes a service of its own from NewForAnotherThread, which shares the loaded dictionaries.
//
// A user dictionary (a MeCab .dic compiled for the IPA dictionary, such as
// the music dictionary) is loaded with the system dictionary when given; when
// it is missing or MeCab refuses it, the system dictionary is used alone.
class MecabReadingService : public ReadingService {
 public:
  explicit MecabReadingService(std::string dictionary_dir = DefaultMecabDictionaryDir(),
                               std::string user_dictionary = {});
  ~MecabReadingService() override;
  MecabReadingService(const MecabReadingService&) = delete;
  MecabReadingService& operator=(const MecabReadingService&) = delete;

  std::optional<std::u16string> GetPhonetic(std::u16string_view text) override;
  bool LastReadingGuessed() const override { return guessed_; }
  // A service on the same MeCab model (the dictionaries stay loaded once)
  // with a tagger and lattice of its own; null when MeCab cannot be opened.
  std::unique_ptr<ReadingService> NewForAnotherThread() override;
  // Closes MeCab (its dictionaries are unmapped once no service for another
  // thread holds them) and forgets the recent readings.
  void Rest() override;

  // Makes the tagger if not done yet; false when MeCab cannot be opened.
  bool IsAvailable();
  // MeCab's own words on why it could not be opened (UTF-8); empty otherwise.
  const std::string& LastError() const { return error_; }
  // Whether the tagger was made with the user dictionary (after IsAvailable).
  bool UsesUserDictionary() const { return uses_user_dictionary_; }

 private:
  struct Tagger;
  // Reads text[begin, end), a stretch without separators, into `out`:
  // numbers with their counters from the counter table, the rest through
  // MeCab (ReadPiece). False when MeCab fails.
  bool ReadStretch(std::u16string_view text, size_t begin, size_t end, std::u16string& out);
  bool ReadPiece(std::u16string_view text, size_t begin, size_t end, std::u16string& out);
  // The reading of one piece of a stretch, from the recent readings or MeCab.
  std::optional<std::u16string> ReadRun(std::u16string_view text);
  std::optional<std::u16string> Parse(std::u16string_view text);
  // Makes the tagger, with the user dictionary or without it.
  bool OpenTagger(bool with_user_dictionary);

  // One token of a parse with its span of the text (defined with Parse).
  struct Token;
  // Parses `text` once into `tokens`; `tail` receives where the trailing
  // blanks of the text begin. False when MeCab fails.
  bool Tokenize(std::u16string_view text, std::vector<Token>& tokens, uint32_t& tail);
  // Gives `next`, a word after a number, the reading it takes as a counter
  // after that number, where it has one.
  void NumberWithCounter(std::u16string_view text, const Token& number, Token& next);
  // Reads the kanji numerals that begin at tokens[k] with the counter after
  // them into `out`; the number of tokens taken, 0 when they are no count.
  size_t NumeralCount(std::u16string_view text, const std::vector<Token>& tokens, size_t k,
                      std::u16string& out);
  // The reading of a run of kanji the dictionary does not know as a word,
  // each kanji read alone.
  std::optional<std::u16string> UnknownWordReading(std::u16string_view text, const Token& token);
  // The reading of the text as one dictionary word, if it is one.
  std::optional<std::u16string> WordReading(std::u16string_view text);
  // The reading of a word as a counter after a number ending in the digit.
  std::optional<std::u16string> CounterReading(char16_t digit, std::u16string_view word);

  // Readings of the last few texts: a library repeats its artist and album
  // texts on every file of an album, and a reading depends on the text
  // alone. A small ring, searched linearly, costs next to nothing when it
  // misses; its strings keep their storage from one use to the next.
  static constexpr size_t kRecent = 16;
  struct Recent {
    std::u16string text, reading;
    bool guessed = false;
  };
  std::array<Recent, kRecent> recent_;
  size_t recent_used_ = 0;
  size_t recent_next_ = 0;

  std::string dictionary_dir_;
  std::string user_dictionary_;
  bool uses_user_dictionary_ = false;
  std::unique_ptr<Tagger> tagger_;
  bool tried_ = false;
  std::string error_;
  // The reading being made (or the last one) holds a guess.
  bool guessed_ = false;
};

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_MECAB_READING_H_
