#include "platform/shared_text.h"

#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <stdexcept>
#include <utility>

#include "platform/small_blocks.h"
#include "platform/text.h"

namespace tarvel {

SharedText::SharedText(std::u16string_view text) {
  if (text.empty()) return;
  if (text.size() > std::numeric_limits<uint32_t>::max()) throw std::length_error("text too long");
  void* block = AllocateSmallBlock(sizeof(Buffer) + text.size() * sizeof(char16_t));
  buffer_ = new (block) Buffer{{1}, static_cast<uint32_t>(text.size())};
  std::memcpy(static_cast<char*>(block) + sizeof(Buffer), text.data(),
              text.size() * sizeof(char16_t));
}

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
    const size_t bytes = sizeof(Buffer) + buffer_->size * sizeof(char16_t);
    buffer_->~Buffer();
    FreeSmallBlock(buffer_, bytes);
  }
  buffer_ = nullptr;
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
