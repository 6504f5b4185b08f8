// The reading service: gives the reading (kana) of Japanese text. The kana
// conversion of names and tags is built on it; the program uses MeCab, tests
// use fixed readings.
#ifndef TARVEL_PLATFORM_READING_SERVICE_H_
#define TARVEL_PLATFORM_READING_SERVICE_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

class ReadingService {
 public:
  virtual ~ReadingService() = default;
  // The reading of the whole text, in katakana or hiragana; characters that
  // have no reading (Latin letters, digits, punctuation, spaces) come back
  // unchanged and in place. Empty when the service is unavailable or failed.
  virtual std::optional<std::u16string> GetPhonetic(std::u16string_view text) = 0;
  // Whether the last reading GetPhonetic gave holds a guess: a word the
  // dictionary does not know, read from its parts.
  virtual bool LastReadingGuessed() const { return false; }
  // A service that gives the same readings as this one and may be used on
  // another thread while this one is in use; null when there is none, and
  // the caller then keeps to one thread.
  virtual std::unique_ptr<ReadingService> NewForAnotherThread() { return nullptr; }
  // Lets go of what the service keeps open between readings (a dictionary
  // mapped into memory) until it is asked for a reading again, which opens
  // it anew.
  virtual void Rest() {}
};

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_READING_SERVICE_H_
