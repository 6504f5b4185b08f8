// What a run keeps of each file or folder as it found it on disk, and the
// table of those entries by row. A large run keeps one for every MP3 file,
// so an entry holds its tag bytes inline and the table keeps its entries in
// fixed chunks, sorted by row, with no node or heap block per entry.
#ifndef TARVEL_APP_DISK_ENTRY_H_
#define TARVEL_APP_DISK_ENTRY_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvel {

// The last 128 bytes of a file when they are an ID3v1 tag, or nothing.
class TagBytes {
 public:
  static constexpr size_t kSize = 128;

  TagBytes() = default;
  // From "" or exactly 128 bytes; any other length throws std::length_error.
  TagBytes(const std::string& bytes) { assign(bytes.data(), bytes.size()); }  // NOLINT

  const char* data() const noexcept { return bytes_; }
  size_t size() const noexcept { return full_ ? kSize : 0; }
  bool empty() const noexcept { return !full_; }
  const char* begin() const noexcept { return bytes_; }
  const char* end() const noexcept { return bytes_ + size(); }
  std::string_view view() const noexcept { return {bytes_, size()}; }
  operator std::string_view() const noexcept { return view(); }  // NOLINT

  // Takes `n` bytes from `bytes`: 0 empties it, 128 fills it; any other
  // count throws std::length_error and leaves it as it was.
  void assign(const char* bytes, size_t n);
  void clear() noexcept { full_ = false; }

  friend bool operator==(const TagBytes& a, const TagBytes& b) noexcept {
    return a.view() == b.view();
  }
  friend bool operator==(const TagBytes& a, const std::string& b) noexcept { return a.view() == b; }

 private:
  bool full_ = false;
  char bytes_[kSize] = {};
};

// Shows the bytes as hex (a test's failure message).
std::ostream& operator<<(std::ostream& out, const TagBytes& tag);

// A 64-bit hash (FNV-1a) of the last bytes of a file, enough to tell
// whether they are still the bytes a run found or left.
inline uint64_t LastBytesHash(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

// A modification time to the nanosecond.
struct FileTime {
  int64_t sec = 0;
  uint32_t nsec = 0;  // 0..999999999
  friend bool operator==(const FileTime&, const FileTime&) = default;
};

// A file or folder as it was found on disk: which entry it is (device and
// inode, which a rename keeps, and whether its file system keeps inode
// numbers at all), its permission bits (07777), its modification time, and
// for a file its size and, once its last 128 bytes have been read, whether
// they were a tag, those bytes and a hash of them. An exact undo needs all
// of it; the undo record holds one of these for each row a run changes,
// with a hash of the tag block the run writes.
struct DiskEntry {
  bool is_file = true;
  uint64_t dev = 0;
  uint64_t ino = 0;
  uint32_t mode = 0;
  uint64_t size = 0;
  bool has_block = false;  // the last 128 bytes were read (and, in a record: are to be written)
  bool had_tag = false;    // with has_block: `block` is the old tag; else the file had none
  TagBytes block;          // the last 128 bytes when had_tag
  // False where the file system hands out inode numbers afresh (FAT, exFAT,
  // network shares): `ino` then names nothing for long, and only the name,
  // the size and the last bytes tell the file.
  bool inode_kept = true;
  bool has_last = false;   // `last_hash` is the hash of the last 128 bytes
  bool has_after = false;  // `after_hash` is the hash of the tag block the run writes
  bool has_mtime = false;
  uint64_t last_hash = 0;
  uint64_t after_hash = 0;
  FileTime mtime;
};

// Entries by row, sorted by row, each row at most once, in chunks of at most
// a fixed number of entries: growing never copies the entries before, the
// entries cost no more than their own bytes, and appending a whole table
// takes over its chunks rather than copying them. Reads go by binary search;
// appending in row order is cheap, an insertion before the last row moves
// the rows after it (meant for small tables only).
class DiskEntryRows {
 public:
  using value_type = std::pair<size_t, DiskEntry>;
  static constexpr size_t kChunkRows = 256;

 private:
  template <typename Table, typename Row>
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = DiskEntryRows::value_type;
    using difference_type = std::ptrdiff_t;
    using pointer = Row*;
    using reference = Row&;

    Iterator() = default;
    Iterator(Table* table, size_t index) : table_(table), index_(index) {}
    template <typename OtherTable, typename OtherRow>
    Iterator(const Iterator<OtherTable, OtherRow>& other)  // NOLINT: iterator to const_iterator
        : table_(other.table_), index_(other.index_) {}
    Row& operator*() const { return table_->Slot(index_); }
    Row* operator->() const { return &table_->Slot(index_); }
    Iterator& operator++() {
      ++index_;
      return *this;
    }
    Iterator operator++(int) { return Iterator(table_, index_++); }
    bool operator==(const Iterator& other) const { return index_ == other.index_; }

   private:
    template <typename, typename>
    friend class Iterator;
    friend class DiskEntryRows;
    Table* table_ = nullptr;
    size_t index_ = 0;
  };

 public:
  using iterator = Iterator<DiskEntryRows, value_type>;
  using const_iterator = Iterator<const DiskEntryRows, const value_type>;

  DiskEntryRows() = default;
  // As a map would take them: a row given twice keeps its first entry.
  DiskEntryRows(std::initializer_list<value_type> rows);
  DiskEntryRows(const DiskEntryRows&) = default;
  DiskEntryRows(DiskEntryRows&& other) noexcept
      : chunks_(std::move(other.chunks_)),
        starts_(std::move(other.starts_)),
        size_(std::exchange(other.size_, 0)) {}
  DiskEntryRows& operator=(const DiskEntryRows&) = default;
  DiskEntryRows& operator=(DiskEntryRows&& other) noexcept {
    chunks_ = std::move(other.chunks_);
    starts_ = std::move(other.starts_);
    size_ = std::exchange(other.size_, 0);
    return *this;
  }

  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  iterator begin() noexcept { return iterator(this, 0); }
  iterator end() noexcept { return iterator(this, size_); }
  const_iterator begin() const noexcept { return const_iterator(this, 0); }
  const_iterator end() const noexcept { return const_iterator(this, size_); }

  // The first entry whose row is `row` or later.
  iterator lower_bound(size_t row) noexcept { return iterator(this, LowerBound(row)); }
  const_iterator lower_bound(size_t row) const noexcept {
    return const_iterator(this, LowerBound(row));
  }
  iterator find(size_t row) noexcept { return iterator(this, Find(row)); }
  const_iterator find(size_t row) const noexcept { return const_iterator(this, Find(row)); }
  size_t count(size_t row) const noexcept { return Find(row) == size_ ? 0 : 1; }
  // The entry of `row`; throws std::out_of_range when there is none.
  DiskEntry& at(size_t row);
  const DiskEntry& at(size_t row) const;
  // The entry of `row`, made empty in its place when there was none.
  DiskEntry& operator[](size_t row) { return emplace(row, DiskEntry{}).first->second; }

  // Puts `entry` at `row` unless the row has one; says where, and whether
  // it was put there.
  std::pair<iterator, bool> emplace(size_t row, DiskEntry entry);
  // Adds `entry` after the last row; `row` must be beyond it.
  void append(size_t row, DiskEntry&& entry);
  // Takes over the chunks of `later`, whose rows all come after this
  // table's rows, and empties it; no entry is copied or moved.
  void append(DiskEntryRows&& later);
  // Moves the entries of `other` in among this table's in row order and
  // empties `other`; a row both hold keeps this table's entry. Meant for a
  // few entries into many: this table grows only by `other`'s count.
  void merge(DiskEntryRows&& other);
  // Keeps the first `count` entries and gives back the chunks past them.
  void truncate(size_t count);
  void clear() noexcept {
    chunks_.clear();
    chunks_.shrink_to_fit();
    starts_.clear();
    starts_.shrink_to_fit();
    size_ = 0;
  }

  // By index in row order, for walks that rearrange the table in place.
  value_type& Slot(size_t i) noexcept {
    const size_t c = ChunkOf(i);
    return chunks_[c][i - starts_[c]];
  }
  const value_type& Slot(size_t i) const noexcept {
    const size_t c = ChunkOf(i);
    return chunks_[c][i - starts_[c]];
  }

 private:
  // The chunk holding index `i` (< size()).
  size_t ChunkOf(size_t i) const noexcept;
  size_t LowerBound(size_t row) const noexcept;
  size_t Find(size_t row) const noexcept;
  value_type& PushBack(value_type&& item);

  // Each chunk is reserved for kChunkRows entries once and never grows past.
  // Only the last one grows; a chunk taken over from another table may hold
  // fewer, so each chunk's first index is kept beside it.
  std::vector<std::vector<value_type>> chunks_;
  std::vector<size_t> starts_;
  size_t size_ = 0;
};

}  // namespace tarvel

#endif  // TARVEL_APP_DISK_ENTRY_H_
