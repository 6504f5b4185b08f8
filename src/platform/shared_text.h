// An immutable UTF-16 text that copies share: copying or assigning one
// SharedText to another hands over the same buffer, so a folder path held by
// every row of a large folder is stored once. Assigning a text makes a new
// buffer, so no holder ever sees another's text change. An empty text holds
// no buffer at all, and a buffer is one heap block (a count, the length and
// the characters): a table of a million rows holds several texts per row,
// and a text costs 8 bytes in its row and no second block.
#ifndef TARVEL_PLATFORM_SHARED_TEXT_H_
#define TARVEL_PLATFORM_SHARED_TEXT_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>

namespace tarvel {

class SharedText {
 public:
  SharedText() noexcept = default;
  explicit SharedText(std::u16string_view text);
  explicit SharedText(const char16_t* text) : SharedText(std::u16string_view(text)) {}
  SharedText(const SharedText& other) noexcept;
  SharedText(SharedText&& other) noexcept : buffer_(other.buffer_) { other.buffer_ = nullptr; }
  ~SharedText() { Release(); }

  SharedText& operator=(const SharedText& other) noexcept;
  SharedText& operator=(SharedText&& other) noexcept;
  SharedText& operator=(std::u16string_view text) { return *this = SharedText(text); }
  SharedText& operator=(const std::u16string& text) { return *this = SharedText(text); }
  SharedText& operator=(const char16_t* text) { return *this = SharedText(text); }

  std::u16string_view view() const noexcept {
    return buffer_ == nullptr ? std::u16string_view() : std::u16string_view(Chars(), buffer_->size);
  }
  // A copy of the text.
  std::u16string str() const { return std::u16string(view()); }
  operator std::u16string_view() const noexcept { return view(); }  // NOLINT: a text reads as one

  bool empty() const noexcept { return buffer_ == nullptr; }
  size_t size() const noexcept { return buffer_ == nullptr ? 0 : buffer_->size; }
  size_t length() const noexcept { return size(); }
  // The characters, with no closing 0 (a view of them is what readers take).
  const char16_t* data() const noexcept { return view().data(); }
  char16_t operator[](size_t i) const { return view()[i]; }
  char16_t front() const { return view().front(); }
  char16_t back() const { return view().back(); }
  std::u16string_view::const_iterator begin() const noexcept { return view().begin(); }
  std::u16string_view::const_iterator end() const noexcept { return view().end(); }
  bool starts_with(std::u16string_view prefix) const noexcept { return view().starts_with(prefix); }
  bool ends_with(std::u16string_view suffix) const noexcept { return view().ends_with(suffix); }
  size_t find(char16_t c, size_t pos = 0) const noexcept { return view().find(c, pos); }
  size_t find(std::u16string_view s, size_t pos = 0) const noexcept { return view().find(s, pos); }
  size_t rfind(char16_t c, size_t pos = std::u16string_view::npos) const noexcept {
    return view().rfind(c, pos);
  }
  std::u16string substr(size_t pos = 0, size_t n = std::u16string::npos) const {
    return std::u16string(view().substr(pos, n));
  }

  // True when both hold the same buffer (two empty texts count as sharing).
  bool SharesWith(const SharedText& other) const noexcept { return buffer_ == other.buffer_; }

  friend bool operator==(const SharedText& a, const SharedText& b) noexcept {
    return a.buffer_ == b.buffer_ || a.view() == b.view();
  }
  friend bool operator==(const SharedText& a, std::u16string_view b) noexcept {
    return a.view() == b;
  }
  friend bool operator==(const SharedText& a, const std::u16string& b) noexcept {
    return a.view() == std::u16string_view(b);
  }
  friend bool operator==(const SharedText& a, const char16_t* b) noexcept {
    return a.view() == std::u16string_view(b);
  }

  friend std::u16string operator+(const SharedText& a, std::u16string_view b) {
    return Join(a.view(), b);
  }
  friend std::u16string operator+(std::u16string_view a, const SharedText& b) {
    return Join(a, b.view());
  }
  friend std::u16string operator+(const SharedText& a, const SharedText& b) {
    return Join(a.view(), b.view());
  }
  friend std::u16string operator+(const SharedText& a, const std::u16string& b) {
    return Join(a.view(), b);
  }
  friend std::u16string operator+(const std::u16string& a, const SharedText& b) {
    return Join(a, b.view());
  }
  friend std::u16string operator+(std::u16string&& a, const SharedText& b) {
    return std::move(a.append(b.view()));
  }
  friend std::u16string operator+(const SharedText& a, const char16_t* b) {
    return Join(a.view(), b);
  }
  friend std::u16string operator+(const char16_t* a, const SharedText& b) {
    return Join(a, b.view());
  }
  friend std::u16string operator+(const SharedText& a, char16_t b) {
    return Join(a.view(), std::u16string_view(&b, 1));
  }

 private:
  // The head of a buffer; the characters follow it in the same block.
  struct Buffer {
    std::atomic<uint32_t> holders;
    uint32_t size;
  };

  const char16_t* Chars() const noexcept { return reinterpret_cast<const char16_t*>(buffer_ + 1); }
  static std::u16string Join(std::u16string_view a, std::u16string_view b);
  void Release() noexcept;

  Buffer* buffer_ = nullptr;  // null for the empty text
};

// Prints the text in UTF-8 between double quotes (used by test failures).
void PrintTo(const SharedText& text, std::ostream* os);

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_SHARED_TEXT_H_
