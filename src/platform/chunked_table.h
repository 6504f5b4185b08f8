// A growing array of rows kept in fixed chunks: adding a row never moves or
// copies the rows before it (a reference to a row stays valid while rows are
// added), and growth costs one chunk at a time instead of a doubled copy of
// the whole array. Emptying it gives every chunk back.
#ifndef TARVEL_PLATFORM_CHUNKED_TABLE_H_
#define TARVEL_PLATFORM_CHUNKED_TABLE_H_

#include <cstddef>
#include <iterator>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace tarvel {

template <typename T, size_t kChunkRows = 1024>
class ChunkedTable {
  static_assert((kChunkRows & (kChunkRows - 1)) == 0, "chunks hold a power of two rows");

  template <typename Table, typename Row>
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = Row*;
    using reference = Row&;

    Iterator() = default;
    Iterator(Table* table, size_t index) : table_(table), index_(index) {}
    Row& operator*() const { return (*table_)[index_]; }
    Row* operator->() const { return &(*table_)[index_]; }
    Iterator& operator++() {
      ++index_;
      return *this;
    }
    Iterator operator++(int) { return Iterator(table_, index_++); }
    bool operator==(const Iterator& other) const { return index_ == other.index_; }

   private:
    Table* table_ = nullptr;
    size_t index_ = 0;
  };

 public:
  using value_type = T;
  using size_type = size_t;
  using iterator = Iterator<ChunkedTable, T>;
  using const_iterator = Iterator<const ChunkedTable, const T>;

  ChunkedTable() = default;
  explicit ChunkedTable(size_t count) { resize(count); }
  ChunkedTable(const ChunkedTable& other) {
    try {
      for (const T& row : other) emplace_back(row);
    } catch (...) {
      clear();
      throw;
    }
  }
  ChunkedTable(ChunkedTable&& other) noexcept
      : chunks_(std::move(other.chunks_)), size_(std::exchange(other.size_, 0)) {}
  ~ChunkedTable() { clear(); }

  ChunkedTable& operator=(const ChunkedTable& other) {
    if (this != &other) {
      ChunkedTable copy(other);
      swap(copy);
    }
    return *this;
  }
  ChunkedTable& operator=(ChunkedTable&& other) noexcept {
    if (this != &other) {
      clear();
      chunks_ = std::move(other.chunks_);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }

  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

  T& operator[](size_t i) noexcept { return chunks_[i / kChunkRows][i % kChunkRows]; }
  const T& operator[](size_t i) const noexcept { return chunks_[i / kChunkRows][i % kChunkRows]; }
  T& front() noexcept { return (*this)[0]; }
  const T& front() const noexcept { return (*this)[0]; }
  T& back() noexcept { return (*this)[size_ - 1]; }
  const T& back() const noexcept { return (*this)[size_ - 1]; }

  iterator begin() noexcept { return iterator(this, 0); }
  iterator end() noexcept { return iterator(this, size_); }
  const_iterator begin() const noexcept { return const_iterator(this, 0); }
  const_iterator end() const noexcept { return const_iterator(this, size_); }

  template <typename... Args>
  T& emplace_back(Args&&... args) {
    if (size_ == chunks_.size() * kChunkRows) {
      chunks_.reserve(chunks_.size() + 1);  // so that push_back below cannot throw
      chunks_.push_back(
          static_cast<T*>(::operator new(sizeof(T) * kChunkRows, std::align_val_t(alignof(T)))));
    }
    T* slot = &chunks_[size_ / kChunkRows][size_ % kChunkRows];
    ::new (static_cast<void*>(slot)) T(std::forward<Args>(args)...);
    ++size_;
    return *slot;
  }
  void push_back(const T& row) { emplace_back(row); }
  void push_back(T&& row) { emplace_back(std::move(row)); }

  // Rows past `count` are destroyed and whole chunks past it given back;
  // new rows are default-made.
  void resize(size_t count) {
    while (size_ < count) emplace_back();
    while (size_ > count) {
      --size_;
      std::destroy_at(&(*this)[size_]);
    }
    const size_t chunks_needed = (size_ + kChunkRows - 1) / kChunkRows;
    while (chunks_.size() > chunks_needed) {
      ::operator delete(chunks_.back(), std::align_val_t(alignof(T)));
      chunks_.pop_back();
    }
  }
  void clear() noexcept {
    resize(0);
    chunks_.clear();
    chunks_.shrink_to_fit();
  }
  void swap(ChunkedTable& other) noexcept {
    chunks_.swap(other.chunks_);
    std::swap(size_, other.size_);
  }

 private:
  std::vector<T*> chunks_;  // each holds kChunkRows slots; rows 0..size_-1 are made
  size_t size_ = 0;
};

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_CHUNKED_TABLE_H_
