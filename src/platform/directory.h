// Listing one folder: every entry but "." and "..", hidden ones included,
// sorted by name so that every run over the same tree sees the same order on
// every file system.
#ifndef TARVEL_PLATFORM_DIRECTORY_H_
#define TARVEL_PLATFORM_DIRECTORY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace tarvel {

// What an entry is, without following symbolic links.
enum class EntryKind : uint8_t { kFile, kFolder, kSymlink, kOther };

// The entries of one folder. One object can be reused for many folders: it
// keeps its buffers, so listing a folder costs no allocation once they have
// grown to size.
class DirectoryListing {
 public:
  DirectoryListing() = default;
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // Reads the folder at `path` (UTF-8 bytes, as the system takes them) and
  // sorts its entries by name in UTF-16 code-unit order (names that are not
  // UTF-8 sort by their bytes). With `follow_link` false a symbolic link at
  // `path` itself is refused. With `keep_open` the folder stays open for
  // fd() until Close() or the next Read. Returns 0 on success, else the
  // errno that stopped the listing; the listing is then empty.
  int Read(const std::string& path, bool follow_link = true, bool keep_open = false);

  // The open folder, for openat() on its entries; -1 when not kept open.
  int fd() const { return dir_.fd(); }
  // Closes the folder kept open by Read (the entries stay).
  void Close();

  size_t size() const { return entries_.size(); }
  // The raw name bytes of entry `i`, as the file system holds them.
  std::string_view name(size_t i) const {
    return std::string_view(names_).substr(entries_[i].offset, entries_[i].length);
  }
  EntryKind kind(size_t i) const { return entries_[i].kind; }

 private:
  struct Entry {
    uint32_t offset;
    uint32_t length;
    EntryKind kind;
  };
  // Adds the entries of the open stream `dir` to the listing; 0 or errno.
  int ReadEntries(DIR* dir);
  EntryKind KindOf(const dirent& d, int dir_fd) const;

  std::string names_;
  std::vector<Entry> entries_;
  UniqueDir dir_;  // the folder kept open
};

// Order of two names as their UTF-16 forms compare code unit by code unit,
// worked out on the UTF-8 bytes. True when `a` sorts before `b`.
bool NameLess(std::string_view a, std::string_view b);

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_DIRECTORY_H_
