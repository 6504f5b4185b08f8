#include "app/disk_entry.h"

#include <algorithm>
#include <cstring>
#include <ostream>
#include <stdexcept>

namespace tarvel {

void TagBytes::assign(const char* bytes, size_t n) {
  if (n != 0 && n != kSize) throw std::length_error("a tag block is 0 or 128 bytes");
  if (n == kSize) std::memcpy(bytes_, bytes, kSize);
  full_ = n == kSize;
}

std::ostream& operator<<(std::ostream& out, const TagBytes& tag) {
  static constexpr char kHex[] = "0123456789abcdef";
  out << '"';
  for (unsigned char c : tag) out << kHex[c >> 4] << kHex[c & 15];
  return out << '"';
}

DiskEntryRows::DiskEntryRows(std::initializer_list<value_type> rows) {
  for (const value_type& row : rows) emplace(row.first, row.second);
}

DiskEntry& DiskEntryRows::at(size_t row) {
  const size_t i = Find(row);
  if (i == size_) throw std::out_of_range("no entry for the row");
  return Slot(i).second;
}

const DiskEntry& DiskEntryRows::at(size_t row) const {
  const size_t i = Find(row);
  if (i == size_) throw std::out_of_range("no entry for the row");
  return Slot(i).second;
}

size_t DiskEntryRows::LowerBound(size_t row) const noexcept {
  size_t low = 0, high = size_;
  while (low < high) {
    const size_t mid = low + (high - low) / 2;
    if (Slot(mid).first < row) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

size_t DiskEntryRows::Find(size_t row) const noexcept {
  const size_t i = LowerBound(row);
  return i < size_ && Slot(i).first == row ? i : size_;
}

size_t DiskEntryRows::ChunkOf(size_t i) const noexcept {
  // Chunks are full but where tables were joined, so the guess is nearly
  // always right.
  size_t c = std::min(i / kChunkRows, chunks_.size() - 1);
  if (starts_[c] <= i && i - starts_[c] < chunks_[c].size()) return c;
  return static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), i) -
                             starts_.begin()) -
         1;
}

DiskEntryRows::value_type& DiskEntryRows::PushBack(value_type&& item) {
  if (chunks_.empty() || chunks_.back().size() == kChunkRows) {
    chunks_.emplace_back().reserve(kChunkRows);
    starts_.push_back(size_);
  } else if (chunks_.back().capacity() < kChunkRows) {
    chunks_.back().reserve(kChunkRows);  // a copied chunk holds only what it had
  }
  value_type& slot = chunks_.back().emplace_back(std::move(item));
  ++size_;
  return slot;
}

std::pair<DiskEntryRows::iterator, bool> DiskEntryRows::emplace(size_t row, DiskEntry entry) {
  const size_t at = LowerBound(row);
  if (at < size_ && Slot(at).first == row) return {iterator(this, at), false};
  PushBack(value_type(row, std::move(entry)));
  for (size_t i = size_ - 1; i > at; --i) std::swap(Slot(i), Slot(i - 1));
  return {iterator(this, at), true};
}

void DiskEntryRows::append(size_t row, DiskEntry&& entry) {
  PushBack(value_type(row, std::move(entry)));
}

void DiskEntryRows::append(DiskEntryRows&& later) {
  chunks_.reserve(chunks_.size() + later.chunks_.size());
  starts_.reserve(starts_.size() + later.chunks_.size());
  for (size_t c = 0; c < later.chunks_.size(); ++c) {
    starts_.push_back(size_ + later.starts_[c]);
    chunks_.push_back(std::move(later.chunks_[c]));
  }
  size_ += later.size_;
  later.clear();
}

void DiskEntryRows::merge(DiskEntryRows&& other) {
  if (other.empty()) return;
  const size_t ours = size_, theirs = other.size_;
  for (size_t k = 0; k < theirs; ++k) PushBack(value_type());
  // From the top down, so that nothing of ours is overwritten before it moved.
  size_t a = ours, b = theirs, w = ours + theirs;
  while (b > 0) {
    const size_t other_row = other.Slot(b - 1).first;
    if (a > 0 && Slot(a - 1).first > other_row) {
      Slot(--w) = std::move(Slot(--a));
    } else if (a > 0 && Slot(a - 1).first == other_row) {
      --b;  // the row is ours already
    } else {
      Slot(--w) = std::move(other.Slot(--b));
    }
  }
  // Rows both held leave a gap below what was written.
  if (w > a) {
    for (size_t i = w; i < size_; ++i) Slot(a + i - w) = std::move(Slot(i));
    truncate(size_ - (w - a));
  }
  other.clear();
}

void DiskEntryRows::truncate(size_t count) {
  if (count >= size_) return;
  if (count == 0) {
    clear();
    return;
  }
  // The chunk holding the last entry kept keeps only its entries up to it.
  const size_t c = ChunkOf(count - 1);
  chunks_.resize(c + 1);
  starts_.resize(c + 1);
  chunks_[c].resize(count - starts_[c]);
  size_ = count;
}

}  // namespace tarvel
