#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvel {
namespace {

EntryKind KindFromMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  if (S_ISLNK(mode)) return EntryKind::kSymlink;
  return EntryKind::kOther;
}

}  // namespace

bool NameLess(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  if (i == n) return a.size() < b.size();
  auto x = static_cast<unsigned char>(a[i]);
  auto y = static_cast<unsigned char>(b[i]);
  // UTF-8 byte order is code-point order. UTF-16 differs from it in one
  // place only: a character above U+FFFF (lead byte F0..F4, a surrogate pair
  // D800..DFFF in UTF-16) sorts before U+E000..U+FFFF (lead byte EE or EF).
  // Both bytes start a character here, since the names agree up to them.
  bool x_supp = x >= 0xF0 && x <= 0xF4;
  bool y_supp = y >= 0xF0 && y <= 0xF4;
  bool x_high = x == 0xEE || x == 0xEF;
  bool y_high = y == 0xEE || y == 0xEF;
  if (x_supp && y_high) return true;
  if (y_supp && x_high) return false;
  return x < y;
}

void DirectoryListing::Close() { dir_.reset(); }

EntryKind DirectoryListing::KindOf(const dirent& d, int dir_fd) const {
  switch (d.d_type) {
    case DT_REG:
      return EntryKind::kFile;
    case DT_DIR:
      return EntryKind::kFolder;
    case DT_LNK:
      return EntryKind::kSymlink;
    case DT_UNKNOWN: {
      // Some file systems do not fill d_type; ask for the entry itself.
      struct stat st;
      if (::fstatat(dir_fd, d.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
        return KindFromMode(st.st_mode);
      return EntryKind::kOther;  // vanished meanwhile
    }
    default:
      return EntryKind::kOther;
  }
}

int DirectoryListing::ReadEntries(DIR* dir) {
  const int dir_fd = ::dirfd(dir);
  for (;;) {
    errno = 0;
    const dirent* d = ::readdir(dir);
    if (d == nullptr) return errno;
    const char* name = d->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    const size_t length = std::strlen(name);
    entries_.push_back(
        {static_cast<uint32_t>(names_.size()), static_cast<uint32_t>(length), KindOf(*d, dir_fd)});
    names_.append(name, length);
  }
}

int DirectoryListing::Read(const std::string& path, bool follow_link, bool keep_open) {
  Close();
  names_.clear();
  entries_.clear();
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  UniqueFd fd;
  if (follow_link) {
    fd.reset(::open(path.c_str(), flags));
  } else {
    // A trailing "/" would make the system follow a link at the end after
    // all, so it goes before the open.
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    fd.reset(::open(path.substr(0, end).c_str(), flags | O_NOFOLLOW));
  }
  if (!fd) return errno;
  UniqueDir dir(::fdopendir(fd.get()));
  if (!dir) return errno;
  fd.release();  // the stream owns it now
  const int error = ReadEntries(dir.get());
  if (error != 0) {
    names_.clear();
    entries_.clear();
    return error;
  }
  if (keep_open) dir_ = std::move(dir);
  std::sort(entries_.begin(), entries_.end(), [this](const Entry& a, const Entry& b) {
    return NameLess(std::string_view(names_).substr(a.offset, a.length),
                    std::string_view(names_).substr(b.offset, b.length));
  });
  return 0;
}

}  // namespace tarvel
