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
// dictionary's reading; every other character, white space included, comes
// back unchanged and in place. The MeCab model, tagger and lattice are made
// on first use and kept for the life of the object (making them takes tens of
// milliseconds, a conversion then about 2 µs). If they cannot be made (library
// or dictionary missing) every call fails. Not thread-safe: one caller at a
// time.
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

  // Makes the tagger if not done yet; false when MeCab cannot be opened.
  bool IsAvailable();
  // MeCab's own words on why it could not be opened (UTF-8); empty otherwise.
  const std::string& LastError() const { return error_; }
  // Whether the tagger was made with the user dictionary (after IsAvailable).
  bool UsesUserDictionary() const { return uses_user_dictionary_; }

 private:
  struct Tagger;
  // The reading of one stretch of the text, given the form MeCab parses
  // (the same length, lone digits as kanji numerals).
  std::optional<std::u16string> ReadRun(std::u16string_view text, std::u16string_view form);
  std::optional<std::u16string> Parse(std::u16string_view text, std::u16string_view form);
  // Makes the tagger, with the user dictionary or without it.
  bool OpenTagger(bool with_user_dictionary);

  // One token of a parse with its span of the text (defined with Parse).
  struct Token;
  // Parses `form` once into `tokens`; `tail` receives where the trailing
  // blanks of the text begin. False when MeCab fails.
  bool Tokenize(std::u16string_view text, std::u16string_view form, std::vector<Token>& tokens,
                uint32_t& tail);
  // The reading of a digit and the counter after it when the dictionary
  // knows them as one word. Otherwise nothing, and `next` may be given the
  // reading it takes as a counter after the number.
  std::optional<std::u16string> NumberWithCounter(std::u16string_view text,
                                                  std::u16string_view form, const Token& number,
                                                  Token& next);
  // The reading of a run of kanji the dictionary does not know as a word,
  // each kanji read alone.
  std::optional<std::u16string> UnknownWordReading(std::u16string_view text,
                                                   std::u16string_view form, const Token& token);
  // The reading of the text as one dictionary word, if it is one.
  std::optional<std::u16string> WordReading(std::u16string_view form);
  // The reading of a word as a counter after a number ending in the digit.
  std::optional<std::u16string> CounterReading(char16_t digit, std::u16string_view word);

  // Readings of the last few texts: a library repeats its artist and album
  // texts on every file of an album, and a reading depends on the text
  // alone. A small ring, searched linearly, costs next to nothing when it
  // misses; its strings keep their storage from one use to the next.
  static constexpr size_t kRecent = 16;
  struct Recent {
    std::u16string text, form, reading;
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
