#include "platform/shared_text.h"

#include <ostream>
#include <utility>

#include "platform/text.h"

namespace tarvel {

SharedText::SharedText(std::u16string_view text)
    : buffer_(text.empty() ? nullptr : new Buffer{{1}, std::u16string(text)}) {}

SharedText::SharedText(std::u16string&& text)
    : buffer_(text.empty() ? nullptr : new Buffer{{1}, std::move(text)}) {}

SharedText::SharedText(const SharedText& other) noexcept : buffer_(other.buffer_) {
  if (buffer_ != nullptr) buffer_->holders.fetch_add(1, std::memory_order_relaxed);
}

SharedText& SharedText::operator=(const SharedText& other) noexcept {
  if (this == &other) return *this;
  Buffer* taken = other.buffer_;
  if (taken != nullptr) taken->holders.fetch_add(1, std::memory_order_relaxed);
  Release();
  buffer_ = taken;
  return *this;
}

SharedText& SharedText::operator=(SharedText&& other) noexcept {
  if (this != &other) {
    Release();
    buffer_ = std::exchange(other.buffer_, nullptr);
  }
  return *this;
}

void SharedText::Release() noexcept {
  // The last holder frees the buffer; the acquire-release count keeps every
  // earlier holder's reads before the free when holders live on other threads.
  if (buffer_ != nullptr && buffer_->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete buffer_;
  }
  buffer_ = nullptr;
}

const std::u16string& SharedText::Empty() noexcept {
  static const std::u16string empty;
  return empty;
}

std::u16string SharedText::Join(std::u16string_view a, std::u16string_view b) {
  std::u16string joined;
  joined.reserve(a.size() + b.size());
  joined.append(a).append(b);
  return joined;
}

void PrintTo(const SharedText& text, std::ostream* os) {
  *os << '"' << Utf16ToUtf8(text.view()) << '"';
}

}  // namespace tarvel
